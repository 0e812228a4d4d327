#include "Entry.h"

#include <cstring>

namespace {

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
    std::shared_ptr<EntryBlock> block(new EntryBlock(bytes));
    return block->m_block.isNull() ? nullptr : block;
}

qsizetype EntryBlock::copyIn(const std::array<QByteArrayView, 4>& items, char* to,
                             Entry::Starts& starts)
{
    qsizetype size = 0;
    for (QByteArrayView item : items)
        size += item.size();
    if (size > qsizetype(m_block.size()) - m_used)
        return -1;
    return placeItems(items, to, starts);
}
