#include "CipherKey.h"

#include "SecureWipe.h"

#include <QCryptographicHash>

namespace {
constexpr int kKeyBytes = 16;
constexpr int kHashBytesUsed = 5;
} // namespace

QByteArray CipherKey::keyBytes(QByteArrayView password)
{
    QByteArray key =
        QCryptographicHash::hash(password, QCryptographicHash::Md5).left(kHashBytesUsed);
    secureWipeStack();
    key.append(kKeyBytes - kHashBytesUsed, '\0');
    return key;
}

CipherKey::CipherKey(QByteArrayView password)
    : m_schedule(keyBytes(password))
{
}

QByteArray CipherKey::crypt(QByteArrayView text) const
{
    QByteArray out(text.data(), text.size());
    cryptInPlace(out.data(), out.size());
    return out;
}

void CipherKey::cryptInPlace(char* data, qsizetype length) const
{
    Rc4 stream = m_schedule;
    stream.apply(data, length);
}
