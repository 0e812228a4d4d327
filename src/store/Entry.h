#pragma once

#include "HugePageBlock.h"

#include <QByteArray>

#include <array>
#include <memory>
#include <optional>

class EntryBlock;

// One link entry as the list holds it: title, address and user name in plain Windows-1252
// bytes; the password only as the cipher text stored in the link file. The four items lie one
// after another, either in a block of their own or, for a loaded list, in one block that all its
// entries share (EntryBlock): a list of a hundred thousand entries then costs no allocation and
// no page of its own per entry. Copies share the bytes, which never change.
class Entry {
public:
    Entry() = default;
    Entry(QByteArrayView title, QByteArrayView url, QByteArrayView userName,
          QByteArrayView passwordCipher, int keyNumber = 0);

    QByteArrayView title() const { return item(0); }
    QByteArrayView url() const { return item(1); }
    QByteArrayView userName() const { return item(2); }
    QByteArrayView passwordCipher() const { return item(3); }

    int keyNumber() const { return m_keyNumber; }
    void setKeyNumber(int number) { m_keyNumber = number; }

    bool hasPassword() const { return !passwordCipher().isEmpty(); }

    // "K", the key number, "P", the password's cipher text.
    QByteArray key() const;

private:
    friend class EntryBlock;
    using Starts = std::array<qint32, 5>;
    Entry(std::shared_ptr<const char> bytes, const Starts& starts, int keyNumber)
        : m_bytes(std::move(bytes))
        , m_starts(starts)
        , m_keyNumber(keyNumber)
    {
    }

    QByteArrayView item(std::size_t i) const
    {
        const char* bytes = m_bytes ? m_bytes.get() : "";
        return QByteArrayView(bytes + m_starts[i], m_starts[i + 1] - m_starts[i]);
    }

    // The first item's first byte; the block it lies in is kept alive by this pointer.
    std::shared_ptr<const char> m_bytes;
    // Where each item starts, from m_bytes, and where the last ends.
    Starts m_starts{};
    int m_keyNumber = 0;
};

// The bytes of the entries of one load, in one block (HugePageBlock) sized for the file's
// records, of which only the pages the items fill are ever touched; the rest is handed back once
// the load is over.
class EntryBlock {
public:
    // A block for at most `bytes` bytes of items; nullptr when the memory cannot be had.
    static std::shared_ptr<EntryBlock> create(qsizetype bytes);
    EntryBlock(const EntryBlock&) = delete;
    EntryBlock& operator=(const EntryBlock&) = delete;

    // Calls f(data, length) on the title, the URL address and the user name, once each is in
    // the block, so that a loader can decrypt them where they lie, and gives the entry. Nullopt
    // when the block is full. `self` is the shared pointer that owns this block.
    template <typename F>
    std::optional<Entry> add(const std::shared_ptr<EntryBlock>& self, QByteArrayView title,
                             QByteArrayView url, QByteArrayView userName,
                             QByteArrayView passwordCipher, int keyNumber, F f)
    {
        const std::array<QByteArrayView, 4> items = {title, url, userName, passwordCipher};
        Entry::Starts starts{};
        char* const first = m_block.data() + m_used;
        const qsizetype size = copyIn(items, first, starts);
        if (size < 0)
            return std::nullopt;
        for (std::size_t i = 0; i < 3; ++i)
            f(first + starts[i], starts[i + 1] - starts[i]);
        m_used += size;
        return Entry(std::shared_ptr<const char>(self, first), starts, keyNumber);
    }
    // Hands back the pages past those in use: no more entries are added.
    void shrink() { m_block.shrink(std::size_t(m_used)); }

private:
    explicit EntryBlock(qsizetype bytes)
        : m_block(std::size_t(bytes))
    {
    }
    // The items' bytes copied to `to` when they fit; their total, or -1.
    qsizetype copyIn(const std::array<QByteArrayView, 4>& items, char* to, Entry::Starts& starts);

    HugePageBlock m_block;
    qsizetype m_used = 0;
};
