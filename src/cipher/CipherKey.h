#pragma once

#include "Rc4.h"

#include <QByteArray>

// The key the Windows base provider derives for RC4 from an MD5 hash with flags 0:
// 40 bits of the hash, then eleven zero bytes of default salt, 128 bits in all.
class CipherKey {
public:
    explicit CipherKey(QByteArrayView password);

    static QByteArray keyBytes(QByteArrayView password);

    // Every item starts from a fresh keystream; the schedule is computed once per password.
    QByteArray crypt(QByteArrayView text) const;
    void cryptInPlace(char* data, qsizetype length) const;

private:
    Rc4 m_schedule;
};
