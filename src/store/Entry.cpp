#include "Entry.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace {
constexpr qsizetype kHugePage = 2 * 1024 * 1024;

std::size_t pageSize()
{
    const long page = ::sysconf(_SC_PAGESIZE);
    return page > 0 ? std::size_t(page) : 4096;
}

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
    const std::size_t page = pageSize();
    const std::size_t size = (std::size_t(std::max<qsizetype>(bytes, 1)) + page - 1) / page * page;
    // A block of huge pages starts on one: the room to align it is mapped too, then handed back.
    const std::size_t slack = size >= std::size_t(kHugePage) ? std::size_t(kHugePage) : 0;
    // Only the pages written are ever backed: reserving nothing for the rest is what keeps a
    // mapping sized for the worst case cheap.
    void* map = ::mmap(nullptr, size + slack, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (map == MAP_FAILED)
        return nullptr;
    char* data = static_cast<char*>(map);
    if (slack > 0) {
        const std::size_t head = (slack - reinterpret_cast<std::uintptr_t>(data) % slack) % slack;
        if (head > 0)
            ::munmap(data, head);
        if (slack - head > 0)
            ::munmap(data + head + size, slack - head);
        data += head;
        // Only advice: without huge pages the block works the same, with a page fault every
        // 4 KiB.
        ::madvise(data, size, MADV_HUGEPAGE);
    }
    return std::shared_ptr<EntryBlock>(new EntryBlock(data, qsizetype(size)));
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

void EntryBlock::adviseHugePages(void* data, std::size_t bytes)
{
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (start + kHugePage - 1) / kHugePage * kHugePage;
    const std::uintptr_t end = (start + bytes) / kHugePage * kHugePage;
    if (first < end)
        ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
}

void EntryBlock::shrink()
{
    // Whole huge pages stay whole.
    const qsizetype unit = m_size >= kHugePage ? kHugePage : qsizetype(pageSize());
    const qsizetype kept = std::max(unit, (m_used + unit - 1) / unit * unit);
    if (kept >= m_size)
        return;
    if (::munmap(m_data + kept, std::size_t(m_size - kept)) == 0)
        m_size = kept;
}
