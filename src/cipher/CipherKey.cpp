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
    m_keystream.fill(0);
    Rc4 stream = m_schedule;
    stream.apply(reinterpret_cast<char*>(m_keystream.data()), kKeystreamBytes);
}

CipherKey::~CipherKey()
{
    secureWipe(m_keystream.data(), m_keystream.size());
}

QByteArray CipherKey::crypt(QByteArrayView text) const
{
    QByteArray out(text.data(), text.size());
    cryptInPlace(out.data(), out.size());
    return out;
}

void CipherKey::cryptInPlace(char* data, qsizetype length) const
{
    if (length > kKeystreamBytes) {
        Rc4 stream = m_schedule;
        stream.apply(data, length);
        return;
    }
    for (qsizetype i = 0; i < length; ++i)
        data[i] = char(std::uint8_t(data[i]) ^ m_keystream[std::size_t(i)]);
}
