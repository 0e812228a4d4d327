#pragma once

#include <QByteArray>

class CipherService;
class Entry;

// The entry's password in clear (Windows-1252), decrypted under the master password; empty
// when the entry has none, without calling the cipher service.
QByteArray decryptPassword(const Entry& entry, QByteArrayView masterPassword,
                           CipherService& cipher);
