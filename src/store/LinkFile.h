#pragma once

#include "Entry.h"

#include <QString>

#include <vector>

class CipherService;
class EntryModel;

// Shown when a load stops at a record it cannot read.
inline const QString kLoadListsFailedMessage =
    QStringLiteral("\r\n\r\n\r\nAn Error Occurred Opening File \r\nAnd Loading Lists");

// Records in a link file of this size: the size over the record size, rounded to the nearest
// whole number, halves to even.
qint64 linkRecordCount(qint64 fileSize);

// The records a load reads from the link file: the whole ones, and a short last one that the
// rounding counts when it still holds its four fields. A torn tail, left by a write that a
// crash cut short, is none; the next added record takes its place. 0 for an absent file.
qint64 storedRecordCount(const QString& path);

enum class EmptyLinkFile { Delete, Keep };

struct LinkFileRead {
    std::vector<Entry> entries; // those read before any failure, key numbers 1, 2, 3 ...
    QString failure;            // empty when every record was read
    bool ok() const { return failure.isEmpty(); }
};

// Reads and decrypts every record of the link file. An absent file is an empty list; a file
// that holds no record is an empty list too, and is deleted unless told to keep it.
LinkFileRead readLinkFile(const QString& path, QByteArrayView password, CipherService& cipher,
                          EmptyLinkFile emptyFile = EmptyLinkFile::Delete);

// The list loading: the model holds what could be read, in record order.
bool loadList(EntryModel& model, const QString& path, QByteArrayView password,
              CipherService& cipher);
