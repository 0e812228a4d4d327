#pragma once

#include "Entry.h"
#include "LinkRecord.h"

#include <QFile>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class CipherService;
class EntryModel;
class QIODevice;

// Shown when a load stops at a record it cannot read.
inline const QString kLoadListsFailedMessage =
    QStringLiteral("\r\n\r\n\r\nAn Error Occurred Opening File \r\nAnd Loading Lists");

// Records in a link file of this size: the size over the record size, rounded to the nearest
// whole number, halves to even.
qint64 linkRecordCount(qint64 fileSize);

// The records a load reads from the link file: the whole ones, and a short last one that the
// rounding counts when it still holds its four fields. A torn tail, left by a write that a
// crash cut short, is none; the next added record takes its place. 0 for an absent file;
// nullopt when the file cannot be read, which is never to be taken for "no records".
std::optional<qint64> storedRecordCount(const QString& path);
// The same, counted through an open descriptor of a regular file; nullopt (errno says why) when
// it cannot be read.
std::optional<qint64> storedRecordCount(int fd);

// Reads the records of an open link file in order, a few dozen at a time, so that a big file is
// never held in memory whole.
class LinkRecordReader {
public:
    LinkRecordReader(QIODevice& file, QString path, qint64 fileSize);

    qint64 count() const { return m_count; }
    // The next record, valid until the next call; nullopt at the end, or at a record that cannot
    // be read or decoded, which failure() then names.
    std::optional<LinkRecordView> next();
    const QString& failure() const { return m_failure; }
    // The bytes of a torn tail that the end of the records left out, once next() reached it.
    qint64 tornTailBytes() const { return m_tornTail; }
    // Goes to record `record` (from 0), which the next call gives; false, with failure() saying
    // why, when the file cannot be positioned there.
    bool seek(qint64 record);

private:
    QIODevice& m_file;
    QString m_path;
    qint64 m_size;
    qint64 m_count;
    qint64 m_tornTail;
    qint64 m_next = 0;        // number of the next record, from 0
    qint64 m_bufferFirst = 0; // number of the buffer's first record
    qint64 m_buffered = 0;
    QByteArray m_buffer;
    QString m_failure;
};

// A link file for a reader that must not begin what it cannot finish, such as a listing whose
// first lines would already be out when a later record turns out damaged: open() reads every
// record once and checks that it can be read, decrypting nothing; next() then gives them in turn.
// The cipher texts of the first records are kept from the check, up to a few megabytes, so that
// only the rest is read twice; of the others only one read's worth is in memory at a time.
class CheckedLinkFile {
public:
    CheckedLinkFile();
    ~CheckedLinkFile();
    CheckedLinkFile(const CheckedLinkFile&) = delete;
    CheckedLinkFile& operator=(const CheckedLinkFile&) = delete;

    enum class Passwords { Give, Leave };
    // Empty when every record reads, else what stops a reader. An absent file holds no records.
    // A reader that leaves the passwords gets them empty, and more records are kept for it.
    QString open(const QString& path, Passwords passwords = Passwords::Give);
    // The same, read from the start of a regular file opened already; it stays the caller's and
    // must outlive the reading. path is for the messages.
    QString open(QFile& file, const QString& path, Passwords passwords = Passwords::Give);
    // The records a load would give.
    qint64 count() const { return m_reader ? m_reader->count() : 0; }

    // Goes to record `first` (from 0), which next() gives then; false, with failure() saying
    // why, when the file cannot be positioned there.
    bool seek(qint64 first);
    // The next record, valid until the next call; nullopt at the end, or when the file changed
    // since open() so that a record no longer reads, which failure() then names.
    std::optional<LinkRecordView> next();
    QString failure() const { return m_reader ? m_reader->failure() : QString(); }
    // The bytes of a torn last record that open() found and left out.
    qint64 tornTailBytes() const { return m_reader ? m_reader->tornTailBytes() : 0; }

private:
    class KeptCiphers;

    QString readAll(QFile& file, const QString& path, Passwords passwords);

    QFile m_file;
    std::optional<LinkRecordReader> m_reader;
    std::unique_ptr<KeptCiphers> m_kept; // the first records' cipher texts
    qint64 m_keptRecords = 0;
    qsizetype m_keptAt = 0; // where the next kept record starts
    qint64 m_next = 0;
    bool m_readerAtNext = false; // whether the reader's next record is m_next
    Passwords m_passwords = Passwords::Give;
};

enum class EmptyLinkFile { Delete, Keep };

struct LinkFileRead {
    std::vector<Entry> entries; // those read before any failure, key numbers 1, 2, 3 ...
    QString failure;            // empty when every record was read
    qint64 tornTailBytes = 0;   // a torn last record's bytes, left out of the list
    bool ok() const { return failure.isEmpty(); }
};

// Reads and decrypts every record of the link file. An absent file is an empty list; a file
// that holds no record is an empty list too, and is deleted unless told to keep it. A symbolic
// link that leads nowhere (a synchronised folder not mounted, say) is a failure, never a list.
LinkFileRead readLinkFile(const QString& path, QByteArrayView password, CipherService& cipher,
                          EmptyLinkFile emptyFile = EmptyLinkFile::Delete);
// The same, read from the start of a regular file opened already; path is for the messages.
LinkFileRead readLinkFile(QFile& file, const QString& path, QByteArrayView password,
                          CipherService& cipher);

// The list loading: the model holds what could be read, in record order. On a failure, what
// went wrong goes to failure when given.
// A torn last record that the load left out goes to tornTailBytes when given.
bool loadList(EntryModel& model, const QString& path, QByteArrayView password,
              CipherService& cipher, QString* failure = nullptr, qint64* tornTailBytes = nullptr);

// What the user is told of a torn last record left out of the list.
QString tornTailNote(const QString& path, qint64 bytes);

// What stops a reader of the link file (a record that cannot be read or decoded), or empty when
// every record reads. Nothing is decrypted.
QString findDamagedLinkRecord(const QString& path);
