#include "Entry.h"

#include <cstring>

Entry::Entry(QByteArrayView title, QByteArrayView url, QByteArrayView userName,
             QByteArrayView passwordCipher, int keyNumber)
    : m_keyNumber(keyNumber)
{
    const std::array<QByteArrayView, 4> items = {title, url, userName, passwordCipher};
    qsizetype size = 0;
    for (QByteArrayView item : items)
        size += item.size();
    m_bytes = QByteArray(size, Qt::Uninitialized);
    qint32 at = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        m_starts[i] = at;
        if (!items[i].isEmpty())
            std::memcpy(m_bytes.data() + at, items[i].data(), std::size_t(items[i].size()));
        at += qint32(items[i].size());
    }
    m_starts[4] = at;
}

QByteArray Entry::key() const
{
    return 'K' + QByteArray::number(m_keyNumber) + 'P' + passwordCipher().toByteArray();
}
