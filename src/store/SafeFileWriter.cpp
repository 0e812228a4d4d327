#include "SafeFileWriter.h"

#include <QFileInfo>

namespace {
constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
}

SafeFileWriter::SafeFileWriter(const QString& path)
    : m_file(path)
{
    // Never fall back to writing the target in place: that is what loses the old file.
    m_file.setDirectWriteFallback(false);
    m_opened = m_file.open(QIODevice::WriteOnly);
    if (!m_opened)
        fail(m_file.errorString());
}

SafeFileWriter::~SafeFileWriter()
{
    cancel();
}

void SafeFileWriter::fail(const QString& reason)
{
    if (m_error.isEmpty())
        m_error = reason.isEmpty() ? QStringLiteral("write failed") : reason;
    if (m_opened)
        m_file.cancelWriting();
}

bool SafeFileWriter::write(QByteArrayView bytes)
{
    if (!m_error.isEmpty())
        return false;
    qint64 allowed = bytes.size();
    if (m_failAfter >= 0)
        allowed = qBound<qint64>(0, m_failAfter - m_written, bytes.size());
    const qint64 n = allowed > 0 ? m_file.write(bytes.data(), allowed) : 0;
    if (n > 0)
        m_written += n;
    if (n != bytes.size()) {
        fail(allowed < bytes.size() ? QStringLiteral("No space left on device")
                                    : m_file.errorString());
        return false;
    }
    return true;
}

SaveResult SafeFileWriter::commit()
{
    if (m_error.isEmpty() && !m_file.setPermissions(kOwnerOnly))
        fail(m_file.errorString());
    if (!m_error.isEmpty())
        return SaveResult::failure(QStringLiteral("%1: %2").arg(m_file.fileName(), m_error));
    // commit() flushes, syncs to disk and renames over the target.
    const bool committed = m_file.commit();
    m_opened = false;
    if (!committed)
        return SaveResult::failure(
            QStringLiteral("%1: %2").arg(m_file.fileName(), m_file.errorString()));
    return {};
}

void SafeFileWriter::cancel()
{
    if (m_opened) {
        m_file.cancelWriting();
        m_file.commit(); // with writing cancelled, this only removes the temporary file
        m_opened = false;
    }
}

SaveResult saveFileSafely(const QString& path, QByteArrayView bytes)
{
    SafeFileWriter writer(path);
    writer.write(bytes);
    return writer.commit();
}
