#include "SafeFileWriter.h"

#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// A link the user placed (a data file kept in a synchronised folder, say) stays a link: the new
// content replaces its target, written beside the target.
QString resolvedTarget(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isSymLink())
        return path;
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.symLinkTarget() : canonical;
}

} // namespace

SafeFileWriter::SafeFileWriter(const QString& path)
    : m_file(resolvedTarget(path))
{
    // Never fall back to writing the target in place: that is what loses the old file.
    m_file.setDirectWriteFallback(false);
    // The rename would put a plain file in place of a device or a pipe (as root even /dev/full).
    const QFileInfo target(m_file.fileName());
    if (target.exists() && !target.isFile()) {
        fail(QStringLiteral("not a regular file"));
        return;
    }
    // Opened before anything is written: once the rename is done, only the sync may still fail.
    m_directory = ::open(QFile::encodeName(target.absolutePath()).constData(),
                         O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_directory < 0) {
        fail(qt_error_string(errno));
        return;
    }
    m_opened = m_file.open(QIODevice::WriteOnly);
    if (!m_opened)
        fail(m_file.errorString());
}

SafeFileWriter::~SafeFileWriter()
{
    cancel();
    if (m_directory >= 0)
        ::close(m_directory);
}

void SafeFileWriter::fail(const QString& reason)
{
    if (m_error.isEmpty())
        m_error = reason.isEmpty() ? QStringLiteral("write failed") : reason;
    if (m_opened)
        m_file.cancelWriting();
}

QString SafeFileWriter::systemReason() const
{
    // After a short write Qt's own text is "Unknown error"; the system's says what happened.
    return errno != 0 ? qt_error_string(errno) : m_file.errorString();
}

bool SafeFileWriter::write(QByteArrayView bytes)
{
    if (!m_error.isEmpty())
        return false;
    qint64 allowed = bytes.size();
    if (m_failAfter >= 0)
        allowed = qBound<qint64>(0, m_failAfter - m_written, bytes.size());
    errno = 0;
    const qint64 n = allowed > 0 ? m_file.write(bytes.data(), allowed) : 0;
    if (n > 0)
        m_written += n;
    if (n != bytes.size()) {
        fail(allowed < bytes.size() ? QStringLiteral("No space left on device") : systemReason());
        return false;
    }
    return true;
}

SaveResult SafeFileWriter::commit()
{
    // QSaveFile::commit() overlooks a failed flush of its buffer and would rename a truncated
    // file into place, so the buffer is flushed and checked here first.
    errno = 0;
    if (m_error.isEmpty() && !m_file.flush())
        fail(systemReason());
    if (m_error.isEmpty() && !m_file.setPermissions(kOwnerOnly))
        fail(m_file.errorString());
    // QSaveFile::commit() syncs too, but ignores a failure and renames all the same.
    if (m_error.isEmpty() && ::fsync(m_file.handle()) != 0)
        fail(qt_error_string(errno));
    if (!m_error.isEmpty())
        return SaveResult::failure(QStringLiteral("%1: %2").arg(m_file.fileName(), m_error));
    // As late as it can be: what changes the target from here to the rename is still lost.
    if (const QString changed = unexpectedFile(m_expected, m_file.fileName()); !changed.isEmpty()) {
        cancel();
        return SaveResult::changedOnDisk(
            QStringLiteral("%1 changed on disk: %2").arg(m_file.fileName(), changed));
    }
    for (const auto& [path, expected] : m_beside) {
        if (const QString changed = unexpectedFile(expected, path); !changed.isEmpty()) {
            cancel();
            return SaveResult::changedOnDisk(
                QStringLiteral("%1 changed on disk: %2").arg(path, changed));
        }
    }
    // commit() renames over the target.
    const bool committed = m_file.commit();
    m_opened = false;
    if (!committed)
        return SaveResult::failure(
            QStringLiteral("%1: %2").arg(m_file.fileName(), m_file.errorString()));
    // The new file is in place; only its name may not outlast a power cut.
    if (::fsync(m_directory) != 0)
        return SaveResult::madeUnsure(
            QStringLiteral("%1: %2").arg(m_file.fileName(), qt_error_string(errno)));
    return {};
}

void SafeFileWriter::cancel()
{
    if (m_opened) {
        // Later writes and a commit must fail quietly, not reach the closed file.
        if (m_error.isEmpty())
            m_error = QStringLiteral("writing cancelled");
        m_file.cancelWriting();
        m_file.commit(); // with writing cancelled, this only removes the temporary file
        m_opened = false;
    }
}

SaveResult saveFileSafely(const QString& path, QByteArrayView bytes, ExpectedFile expected)
{
    SafeFileWriter writer(path);
    writer.expectTarget(std::move(expected));
    writer.write(bytes);
    return writer.commit();
}
