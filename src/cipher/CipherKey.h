#pragma once

#include "Rc4.h"

#include <QByteArray>

#include <array>
#include <cstdint>

// The key the Windows base provider derives for RC4 from an MD5 hash with flags 0:
// 40 bits of the hash, then eleven zero bytes of default salt, 128 bits in all.
class CipherKey {
public:
    explicit CipherKey(QByteArrayView password);
    ~CipherKey();
    CipherKey(const CipherKey&) = default;
    CipherKey& operator=(const CipherKey&) = default;

    static QByteArray keyBytes(QByteArrayView password);

    // Every item starts from a fresh keystream; the schedule is computed once per password.
    QByteArray crypt(QByteArrayView text) const;
    void cryptInPlace(char* data, qsizetype length) const;

private:
    // Every item is XORed with the same keystream from its start, so the stream is made once:
    // an item is then a XOR, not a walk of the cipher's state byte by byte. Longer than any
    // stored item; a longer one is still crypted, from the schedule.
    static constexpr qsizetype kKeystreamBytes = 2048;

    Rc4 m_schedule;
    std::array<std::uint8_t, kKeystreamBytes> m_keystream;
};
