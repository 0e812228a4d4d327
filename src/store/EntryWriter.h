#pragma once

#include "FileIdentity.h"
#include "SaveResult.h"

#include <QByteArray>

#include <optional>

class CipherService;

// One entry encrypted for the link file: its record, and the password's cipher text that the
// list keeps in the entry's key.
struct EncryptedEntry {
    QByteArray record;
    QByteArray passwordCipher;
};

// The four items (Windows-1252 bytes) encrypted under the master password; nullopt when an item
// is too long for its field.
std::optional<EncryptedEntry> encryptEntry(QByteArrayView title, QByteArrayView url,
                                           QByteArrayView userName, QByteArrayView password,
                                           QByteArrayView masterPassword, CipherService& cipher);

// Writes record as number n + 1, n being the records a load reads (storedRecordCount), so that
// the torn tail of an earlier crashed append is overwritten. Creates the file when absent and
// leaves it 0600. The record is on disk when this succeeds; a file that cannot be read, or a
// failed write, leaves the file as it was. With expected set, a file that is not the one expected
// (absent when expected says so), or a master password file beside it that is not, leaves the
// file as it is, changedOnDisk.
SaveResult appendLinkRecord(const QString& linkFilePath, QByteArrayView record,
                            const ExpectedLinkFile& expected = {});

// Puts record number recordNumber (from 1) in place through the safe writer, the rest of the
// file copied unchanged; a crash or a failure leaves the old file whole. With expected set, the
// files must still be those, and the record still oldRecord when that is given; else nothing is
// replaced, changedOnDisk.
SaveResult replaceLinkRecord(const QString& linkFilePath, qint64 recordNumber,
                             QByteArrayView record, const ExpectedLinkFile& expected = {},
                             QByteArrayView oldRecord = {});
