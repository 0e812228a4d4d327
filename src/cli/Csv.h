#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// Comma-separated values as RFC 4180 has them, read as the password managers write them: lines
// end in CRLF, LF or CR; a quoted field holds commas, doubled quotes and line breaks.
namespace Csv {

struct Record {
    qsizetype line = 0; // where the record starts, from 1
    QStringList fields;
    QString problem; // why the record is malformed; empty when it is not
};

// The records of text. A byte-order mark at its start is skipped; empty lines are no records.
// A malformed record is read on to its end, so that the records after it are found.
std::vector<Record> parse(QStringView text);

struct Decoded {
    QString text;                    // a byte-order mark removed
    std::vector<qsizetype> badLines; // lines that are not UTF-8
};
Decoded decodeUtf8(QByteArrayView bytes);

enum class Quoting { WhenNeeded, Always };

// One record, ended by CRLF. A field is quoted when it holds a comma, a quote or a line break,
// or begins or ends with a blank that a reader might trim.
QString formatRecord(const QStringList& fields, Quoting quoting);

} // namespace Csv
