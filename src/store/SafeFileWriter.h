#pragma once

#include "FileIdentity.h"
#include "SaveResult.h"

#include <QByteArrayView>
#include <QSaveFile>

#include <vector>

// Writes a data file so that a crash, a full disk or an unwritable directory leaves the previous
// file whole: the bytes go to a temporary file beside the target, which is flushed to disk and
// renamed over it only when every write succeeded; the directory is synced after the rename, so
// that a success survives a power cut. The result is mode 0600.
class SafeFileWriter {
public:
    explicit SafeFileWriter(const QString& path);
    ~SafeFileWriter();

    SafeFileWriter(const SafeFileWriter&) = delete;
    SafeFileWriter& operator=(const SafeFileWriter&) = delete;

    // Failures are remembered; after the first one, later writes do nothing and commit() fails.
    bool write(QByteArrayView bytes);
    // A failure to sync the directory after the rename is reported as madeUnsure: the new file
    // is in place, but it may not outlast a power cut.
    SaveResult commit();
    void cancel();
    // The target must still be this file when commit() renames over it; else the commit fails
    // with changedOnDisk and the target stays as it is.
    void expectTarget(ExpectedFile expected) { m_expected = std::move(expected); }
    // The same for a file the new content relies on, which is not replaced.
    void expectBeside(QString path, ExpectedFile expected)
    {
        m_beside.emplace_back(std::move(path), std::move(expected));
    }

    // Test seam: every byte past this many fails to write, as on a device that has filled up.
    void failAfterBytesForTest(qint64 bytes) { m_failAfter = bytes; }

private:
    void fail(const QString& reason);
    // Why the last write or flush failed; errno is cleared before it.
    QString systemReason() const;

    QSaveFile m_file;
    int m_directory = -1; // the target's directory, opened before anything is written
    QString m_error;
    qint64 m_written = 0;
    qint64 m_failAfter = -1;
    bool m_opened = false;
    ExpectedFile m_expected;
    std::vector<std::pair<QString, ExpectedFile>> m_beside;
};

// Writes bytes as the whole new content of path, the safe way above.
SaveResult saveFileSafely(const QString& path, QByteArrayView bytes, ExpectedFile expected = {});
