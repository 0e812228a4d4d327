#include "Entry.h"

#include <algorithm>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace {
constexpr qsizetype kHugePage = 2 * 1024 * 1024;

// Copies the items one after another to `to`, noting where each starts; their total.
qint32 placeItems(const std::array<QByteArrayView, 4>& items, char* to,
                  std::array<qint32, 5>& starts)
{
    qint32 at = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        starts[i] = at;
        if (!items[i].isEmpty())
            std::memcpy(to + at, items[i].data(), std::size_t(items[i].size()));
        at += qint32(items[i].size());
    }
    starts[4] = at;
    return at;
}
} // namespace

Entry::Entry(QByteArrayView title, QByteArrayView url, QByteArrayView userName,
             QByteArrayView passwordCipher, int keyNumber)
    : m_keyNumber(keyNumber)
{
    const std::array<QByteArrayView, 4> items = {title, url, userName, passwordCipher};
    qsizetype size = 0;
    for (QByteArrayView item : items)
        size += item.size();
    if (size == 0)
        return; // nothing to hold: every item reads empty
    std::shared_ptr<char[]> bytes = std::make_shared_for_overwrite<char[]>(std::size_t(size));
    char* const first = bytes.get();
    placeItems(items, first, m_starts);
    m_bytes = std::shared_ptr<const char>(std::move(bytes), first);
}

QByteArray Entry::key() const
{
    return 'K' + QByteArray::number(m_keyNumber) + 'P' + passwordCipher().toByteArray();
}

std::shared_ptr<EntryBlock> EntryBlock::create(qsizetype bytes)
{
    bytes = std::max<qsizetype>(bytes, 1);
    // Only the pages written are ever backed: reserving nothing for the rest is what keeps a
    // mapping sized for the worst case cheap.
    void* map = ::mmap(nullptr, std::size_t(bytes), PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (map == MAP_FAILED)
        return nullptr;
    // Only advice: without huge pages the block works the same, with a page fault every 4 KiB.
    if (bytes >= kHugePage)
        ::madvise(map, std::size_t(bytes), MADV_HUGEPAGE);
    return std::shared_ptr<EntryBlock>(new EntryBlock(static_cast<char*>(map), bytes));
}

EntryBlock::~EntryBlock()
{
    ::munmap(m_data, std::size_t(m_size));
}

qsizetype EntryBlock::copyIn(const std::array<QByteArrayView, 4>& items, char* to,
                             Entry::Starts& starts)
{
    qsizetype size = 0;
    for (QByteArrayView item : items)
        size += item.size();
    if (size > m_size - m_used)
        return -1;
    return placeItems(items, to, starts);
}

void EntryBlock::shrink()
{
    const long page = ::sysconf(_SC_PAGESIZE);
    // Whole huge pages stay whole.
    const qsizetype unit = m_size >= kHugePage ? kHugePage : qsizetype(page > 0 ? page : 4096);
    const qsizetype kept = std::max(unit, (m_used + unit - 1) / unit * unit);
    if (kept >= m_size)
        return;
    if (::munmap(m_data + kept, std::size_t(m_size - kept)) == 0)
        m_size = kept;
}
