#include "EntryWriter.h"

#include "CipherGuard.h"
#include "FileAccess.h"
#include "LinkFile.h"
#include "LinkRecord.h"
#include "PairFiles.h"
#include "SafeFileWriter.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 kCopyChunk = 64 * 1024;

SaveResult failure(const QString& path, const QString& reason)
{
    return SaveResult::failure(QStringLiteral("%1: %2").arg(path, reason));
}

SaveResult systemFailure(const QString& path)
{
    return failure(path, qt_error_string(errno));
}

QString readFailure(const QFile& source)
{
    const QString reason = source.errorString();
    return reason.isEmpty() ? QStringLiteral("cannot read the file") : reason;
}

// Copies from the source's current position into the writer. A read failure is kept in
// readError; a write failure stays with the writer. A short source is a read failure: the record
// count promised those bytes.
bool copyBytes(QFile& source, SafeFileWriter& writer, qint64 bytes, QString& readError)
{
    QByteArray buffer(std::min(bytes, kCopyChunk), Qt::Uninitialized);
    while (bytes > 0) {
        const qint64 want = std::min<qint64>(bytes, buffer.size());
        if (source.read(buffer.data(), want) != want) {
            readError = readFailure(source);
            return false;
        }
        if (!writer.write(QByteArrayView(buffer.constData(), want)))
            return false;
        bytes -= want;
    }
    return true;
}

bool copyRest(QFile& source, SafeFileWriter& writer, QString& readError)
{
    QByteArray buffer(kCopyChunk, Qt::Uninitialized);
    for (;;) {
        const qint64 got = source.read(buffer.data(), buffer.size());
        if (got < 0) {
            readError = readFailure(source);
            return false;
        }
        if (got == 0)
            return true;
        if (!writer.write(QByteArrayView(buffer.constData(), got)))
            return false;
    }
}

} // namespace

std::optional<EncryptedEntry> encryptEntry(QByteArrayView title, QByteArrayView url,
                                           QByteArrayView userName, QByteArrayView password,
                                           QByteArrayView masterPassword, CipherService& cipher)
{
    CipherGuard provider(cipher);
    LinkRecordCiphers ciphers{
        cipher.EncryptText(title, masterPassword), cipher.EncryptText(url, masterPassword),
        cipher.EncryptText(userName, masterPassword), cipher.EncryptText(password, masterPassword)};
    std::optional<QByteArray> record = encodeLinkRecord(ciphers);
    if (!record)
        return std::nullopt;
    return EncryptedEntry{std::move(*record), std::move(ciphers.password)};
}

SaveResult appendLinkRecord(const QString& linkFilePath, QByteArrayView record,
                            const ExpectedLinkFile& expected)
{
    if (record.size() != kLinkRecordSize)
        return failure(linkFilePath, QStringLiteral("not a whole record"));
    const QByteArray name = QFile::encodeName(linkFilePath);
    // Read-write, so that the records are counted through the descriptor the new one goes to: a
    // second open that failed would count none and put the record over record 1. Non-blocking,
    // so that a pipe in the file's place is refused instead of waiting for a reader.
    constexpr int kFlags = O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    bool created = true;
    int fd = ::open(name.constData(), kFlags | O_CREAT | O_EXCL, 0600);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = ::open(name.constData(), kFlags);
    }
    if (fd < 0)
        return systemFailure(linkFilePath);
    // Before anything is written: a file made here goes again, one found stays as it is.
    const auto abandon = [&](SaveResult result) {
        if (created)
            ::unlink(name.constData());
        ::close(fd);
        return result;
    };

    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return abandon(systemFailure(linkFilePath));
    if (!S_ISREG(st.st_mode))
        return abandon(failure(linkFilePath, QStringLiteral("not a regular file")));
    // Whatever mode the file was given elsewhere, a write leaves it to its owner alone.
    if ((st.st_mode & 07777) != 0600 && ::fchmod(fd, 0600) != 0)
        return abandon(systemFailure(linkFilePath));
    const std::optional<qint64> count = storedRecordCount(fd);
    if (!count)
        return abandon(systemFailure(linkFilePath));
    const off_t oldSize = st.st_size;
    off_t offset = off_t(*count) * kLinkRecordSize;
    // After a failure the file ends where it did, or before the torn tail that was written over:
    // a half-written record must never be read as one.
    const off_t keptSize = std::min(oldSize, offset);
    const auto undo = [&](SaveResult result) {
        if (created) {
            ::unlink(name.constData());
        } else if (::ftruncate(fd, keptSize) == 0) {
            ::fsync(fd);
        }
        ::close(fd);
        return result;
    };

    // Last before the write: the descriptor's file is the one read, and the name still leads to
    // it (a rename over it from here to the write is still lost).
    if (const ExpectedFile& link = expected.linkFile) {
        QString changed;
        if (created != !link->exists)
            changed = created ? QStringLiteral("it was removed") : QStringLiteral("it was created");
        else if (!created)
            changed = unexpectedFile(link, fd);
        if (changed.isEmpty() && !created)
            changed = unexpectedFile(link, linkFilePath);
        if (!changed.isEmpty())
            return abandon(SaveResult::changedOnDisk(
                QStringLiteral("%1 changed on disk: %2").arg(linkFilePath, changed)));
    }
    if (const QString changed = unexpectedMasterPasswordFile(expected, linkFilePath);
        !changed.isEmpty())
        return abandon(SaveResult::changedOnDisk(changed));
    const char* data = record.data();
    qsizetype left = record.size();
    while (left > 0) {
        const ssize_t n = ::pwrite(fd, data, std::size_t(left), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return undo(systemFailure(linkFilePath));
        if (n == 0)
            return undo(failure(linkFilePath, QStringLiteral("No space left on device")));
        data += n;
        left -= n;
        offset += n;
    }
    if (::fsync(fd) != 0)
        return undo(systemFailure(linkFilePath));
    if (::close(fd) != 0) {
        const SaveResult result = systemFailure(linkFilePath);
        if (created)
            ::unlink(name.constData());
        else
            ::truncate(name.constData(), keptSize);
        return result;
    }
    // A new file's name is durable only once its directory is synced; an entry acknowledged
    // before that could vanish with a power cut.
    if (created && !syncDirectory(QFileInfo(linkFilePath).absolutePath())) {
        const SaveResult result = systemFailure(linkFilePath);
        ::unlink(name.constData());
        return result;
    }
    return {};
}

SaveResult replaceLinkRecord(const QString& linkFilePath, qint64 recordNumber,
                             QByteArrayView record, const ExpectedLinkFile& expected,
                             QByteArrayView oldRecord)
{
    if (record.size() != kLinkRecordSize)
        return failure(linkFilePath, QStringLiteral("not a whole record"));
    const auto changedOnDisk = [&](const QString& how) {
        return SaveResult::changedOnDisk(
            QStringLiteral("%1 changed on disk: %2").arg(linkFilePath, how));
    };
    QFile source;
    if (const QString reason = openRegularFile(source, linkFilePath); !reason.isEmpty()) {
        if (expected.linkFile && !fileIdentity(linkFilePath).exists)
            return changedOnDisk(QStringLiteral("it was removed"));
        return failure(linkFilePath, reason);
    }
    if (const QString changed = unexpectedFile(expected.linkFile, source.handle());
        !changed.isEmpty())
        return changedOnDisk(changed);
    if (const QString changed = unexpectedMasterPasswordFile(expected, linkFilePath);
        !changed.isEmpty())
        return SaveResult::changedOnDisk(changed);
    const qint64 size = source.size();
    if (recordNumber < 1 || recordNumber > linkRecordCount(size))
        return failure(linkFilePath, QStringLiteral("there is no record %1").arg(recordNumber));

    SafeFileWriter writer(linkFilePath);
    // Checked again just before the rename: a change while the copy runs is caught there.
    writer.expectTarget(expected.linkFile);
    if (expected.masterPasswordFile)
        writer.expectBeside(QFileInfo(linkFilePath).path() + u'/' + PairFiles::kMasterPasswordFile,
                            expected.masterPasswordFile);
    const qint64 start = (recordNumber - 1) * kLinkRecordSize;
    QString readError;
    const bool copied = copyBytes(source, writer, start, readError);
    if (copied && !oldRecord.isEmpty()) {
        const QByteArray found = source.read(kLinkRecordSize);
        if (found != oldRecord) {
            writer.cancel();
            return changedOnDisk(QStringLiteral("record %1 is not the one read").arg(recordNumber));
        }
    }
    if (copied && writer.write(record)) {
        if (source.seek(std::min(start + kLinkRecordSize, size)))
            copyRest(source, writer, readError);
        else
            readError = readFailure(source);
    }
    if (!readError.isEmpty()) {
        writer.cancel();
        return failure(linkFilePath, readError);
    }
    // After a failed write the commit fails too, with the writer's reason.
    return writer.commit();
}
