#include "EntryPassword.h"

#include "CipherGuard.h"
#include "Entry.h"

QByteArray decryptPassword(const Entry& entry, QByteArrayView masterPassword, CipherService& cipher)
{
    if (!entry.hasPassword())
        return {};
    CipherGuard provider(cipher);
    return cipher.DecryptText(entry.passwordCipher(), masterPassword);
}
