#include "Unlock.h"

#include "MasterPasswordFile.h"

#include <QFileInfo>

UnlockResult unlockOrCreate(const QString& masterPasswordPath, const QString& linkFilePath,
                            QByteArrayView trimmedPassword, CipherService& cipher)
{
    using Outcome = UnlockResult::Outcome;
    UnlockResult result;
    const auto check = MasterPasswordFile::check(masterPasswordPath, trimmedPassword, cipher);
    switch (check.outcome) {
    case MasterPasswordFile::Outcome::Right:
        result.outcome = Outcome::Unlocked;
        result.checkValue = check.checkValue;
        return result;
    case MasterPasswordFile::Outcome::Wrong:
        result.outcome = Outcome::WrongPassword;
        return result;
    case MasterPasswordFile::Outcome::Unreadable:
        result.outcome = Outcome::PasswordUnreadable;
        result.failure = check.failure;
        return result;
    case MasterPasswordFile::Outcome::NoMasterPassword:
        break;
    }

    // Stored entries are never put under a password that did not encrypt them.
    const QFileInfo linkFile(linkFilePath);
    if (linkFile.exists() && linkFile.size() > 0) {
        result.outcome = Outcome::LinkFileOrphaned;
        return result;
    }
    if (const SaveResult saved =
            MasterPasswordFile::create(masterPasswordPath, trimmedPassword, cipher);
        !saved) {
        result.outcome = Outcome::CreateFailed;
        result.failure = saved.error();
        return result;
    }
    result.outcome = Outcome::Created;
    result.checkValue = MasterPasswordFile::kCheckValue;
    return result;
}
