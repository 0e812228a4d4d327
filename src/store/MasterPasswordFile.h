#pragma once

#include "SaveResult.h"

#include <QByteArray>
#include <QString>

class CipherService;
class QFile;

// QuiFil.ini: the master password encrypted under itself, then the check value under it.
namespace MasterPasswordFile {

constexpr int kFieldWidth = 512;
constexpr int kRecordSize = 1024; // two stored fields
inline const QByteArray kCheckValue = QByteArrayLiteral("123456789");

enum class Outcome {
    NoMasterPassword, // absent or shorter than one record: a new password may be set
    Right,
    Wrong,
    Unreadable, // there is a record, but it cannot be read or a field is damaged
};

struct Check {
    Outcome outcome = Outcome::NoMasterPassword;
    QByteArray checkValue; // field 2 in clear, when Right
    QString failure;       // what went wrong, when Unreadable
};

// Compares typed (already trimmed) with the password the file holds, exactly.
Check check(const QString& path, QByteArrayView typed, CipherService& cipher);
// The same, read from the start of a regular file opened already; path is for the messages.
Check check(QFile& file, const QString& path, QByteArrayView typed, CipherService& cipher);

// The record for a new master password; the check value is the one the old record carried.
QByteArray makeRecord(QByteArrayView password, CipherService& cipher,
                      QByteArrayView checkValue = kCheckValue);

// Writes a new master password file in place of whatever is there.
SaveResult create(const QString& path, QByteArrayView password, CipherService& cipher);

} // namespace MasterPasswordFile
