#include "MasterPasswordFile.h"

#include "CipherGuard.h"
#include "FileAccess.h"
#include "SafeFileWriter.h"
#include "StoredField.h"
#include "cipher/SecureWipe.h"

#include <QFile>
#include <QFileInfo>

namespace MasterPasswordFile {

Check check(const QString& path, QByteArrayView typed, CipherService& cipher)
{
    Check result;
    if (!QFileInfo::exists(path)) {
        // A link that leads nowhere is a file out of reach, not a password never set.
        if (const QString broken = brokenLinkProblem(path); !broken.isEmpty()) {
            result.outcome = Outcome::Unreadable;
            result.failure = QStringLiteral("%1: %2").arg(path, broken);
        }
        return result;
    }
    QFile file;
    if (const QString failure = openRegularFile(file, path); !failure.isEmpty()) {
        result.outcome = Outcome::Unreadable;
        result.failure = QStringLiteral("%1: %2").arg(path, failure);
        return result;
    }
    return check(file, path, typed, cipher);
}

Check check(QFile& file, const QString& path, QByteArrayView typed, CipherService& cipher)
{
    Check result;
    if (file.size() < kRecordSize)
        return result;
    if (!file.seek(0)) {
        result.outcome = Outcome::Unreadable;
        result.failure = QStringLiteral("%1: %2").arg(path, file.errorString());
        return result;
    }
    QByteArray record = file.read(kRecordSize);
    if (record.size() != kRecordSize) {
        result.outcome = Outcome::Unreadable;
        result.failure = QStringLiteral("%1: %2").arg(path, file.errorString());
        return result;
    }
    const auto passwordCipher = readStoredField(QByteArrayView(record).first(kFieldWidth));
    const auto checkCipher = readStoredField(QByteArrayView(record).sliced(kFieldWidth));
    if (!passwordCipher || !checkCipher) {
        result.outcome = Outcome::Unreadable;
        result.failure = QStringLiteral("%1: the record is damaged").arg(path);
        return result;
    }

    CipherGuard provider(cipher);
    QByteArray stored = cipher.DecryptText(*passwordCipher, typed);
    if (stored != typed) {
        result.outcome = Outcome::Wrong;
    } else {
        result.outcome = Outcome::Right;
        result.checkValue = cipher.DecryptText(*checkCipher, typed);
    }
    secureWipe(stored);
    secureWipe(record);
    return result;
}

QByteArray makeRecord(QByteArrayView password, CipherService& cipher, QByteArrayView checkValue)
{
    CipherGuard provider(cipher);
    QByteArray passwordCipher = cipher.EncryptText(password, password);
    // A typed password is at most 96 characters, far inside the field; the check value came
    // from a field of the same width.
    QByteArray record = makeStoredField(passwordCipher, kFieldWidth).value();
    record.append(makeStoredField(cipher.EncryptText(checkValue, password), kFieldWidth).value());
    secureWipe(passwordCipher);
    return record;
}

SaveResult create(const QString& path, QByteArrayView password, CipherService& cipher)
{
    if (password.size() > kFieldWidth - kLengthPrefixDigits)
        return SaveResult::failure(QStringLiteral("the password is too long"));
    QByteArray record = makeRecord(password, cipher);
    SaveResult saved = saveFileSafely(path, record);
    secureWipe(record);
    return saved;
}

} // namespace MasterPasswordFile
