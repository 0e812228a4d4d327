// The master password file check, given the input as QuiFil.ini and "Pomelo" as the typed
// password.

#include "FuzzSupport.h"
#include "cipher/CipherService.h"
#include "store/CipherGuard.h"
#include "store/MasterPasswordFile.h"
#include "store/StoredField.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace MasterPasswordFile;
    const QByteArrayView bytes = Fuzz::bytesOf(data, size);
    const QString path = Fuzz::inputFile(QStringLiteral("QuiFil.ini"), bytes);

    CipherService cipher;
    const Check check = MasterPasswordFile::check(path, Fuzz::kPassword, cipher);
    FUZZ_CHECK(!cipher.isOpen());
    if (bytes.size() < kRecordSize) {
        FUZZ_CHECK(check.outcome == Outcome::NoMasterPassword);
        return 0;
    }
    FUZZ_CHECK(check.outcome != Outcome::NoMasterPassword);
    FUZZ_CHECK((check.outcome == Outcome::Unreadable) == !check.failure.isEmpty());
    FUZZ_CHECK(check.outcome == Outcome::Right || check.checkValue.isEmpty());
    if (check.outcome == Outcome::Unreadable)
        return 0;

    // Right only when the first field decrypts to exactly the typed password, not a prefix of
    // it or a longer text that starts with it.
    const auto passwordCipher = readStoredField(bytes.first(kFieldWidth));
    const auto checkCipher = readStoredField(bytes.sliced(kFieldWidth, kFieldWidth));
    FUZZ_CHECK(passwordCipher && checkCipher);
    CipherGuard provider(cipher);
    const bool right = cipher.DecryptText(*passwordCipher, Fuzz::kPassword) == Fuzz::kPassword;
    FUZZ_CHECK((check.outcome == Outcome::Right) == right);
    if (right)
        FUZZ_CHECK(check.checkValue == cipher.DecryptText(*checkCipher, Fuzz::kPassword));
    return 0;
}
