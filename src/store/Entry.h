#pragma once

#include <QByteArray>

#include <array>

// One link entry as the list holds it: title, address and user name in plain Windows-1252
// bytes; the password only as the cipher text stored in the link file. The four items share
// one block of memory, which keeps a list of a hundred thousand entries small and quick to load.
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

    // Calls f(data, length) on the title, the URL address and the user name in turn, so that a
    // reader can decrypt them where they lie.
    template <typename F> void transformPlainItems(F f)
    {
        char* data = m_bytes.data();
        for (std::size_t i = 0; i < 3; ++i)
            f(data + m_starts[i], m_starts[i + 1] - m_starts[i]);
    }

private:
    QByteArrayView item(std::size_t i) const
    {
        return QByteArrayView(m_bytes).sliced(m_starts[i], m_starts[i + 1] - m_starts[i]);
    }

    QByteArray m_bytes;
    // Where each item starts in m_bytes, and where the last ends.
    std::array<qint32, 5> m_starts{};
    int m_keyNumber = 0;
};
