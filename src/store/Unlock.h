#pragma once

#include <QByteArray>
#include <QString>

class CipherService;

// The file side of "Enter": checks a typed password against the master password file, or makes
// it the master password when there is none yet and no stored entry would be orphaned.
struct UnlockResult {
    enum class Outcome {
        Unlocked, // the password is right
        Created,  // a new master password file was written
        WrongPassword,
        LinkFileOrphaned, // no master password, but a link file that another one encrypted
        PasswordUnreadable,
        CreateFailed,
    };
    Outcome outcome = Outcome::WrongPassword;
    QByteArray checkValue; // field 2 in clear, once unlocked or created
    QString failure;       // what went wrong, for the last two outcomes

    bool unlocked() const { return outcome == Outcome::Unlocked || outcome == Outcome::Created; }
};

UnlockResult unlockOrCreate(const QString& masterPasswordPath, const QString& linkFilePath,
                            QByteArrayView trimmedPassword, CipherService& cipher);
