#pragma once

#include "store/SaveResult.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <csignal>

// A file a command writes where the user names it (an export, a salvaged link file), replaced
// whole or not at all, mode 0600 from its first byte: the bytes go to a temporary beside the
// target, which is synced and renamed over it only when every write succeeded (an unnamed one
// takes the target's name itself when there is none yet). What a kill left at a temporary name,
// the next write of the same target removes.
//
// The target may lie in a directory that others write to (/tmp). A link there is followed only
// when it is the user's own and nobody else can put another in its place: a link planted by
// someone else would have the command replace whatever it points at. A link on the way to it is
// followed as the kernel's link protection would, even where the system leaves that off.
class OutputFile {
public:
    explicit OutputFile(const QString& path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Empty while all is well; else why the file cannot be written, with its name.
    QString error() const;

    // Failures are remembered; after the first one, later writes do nothing and commit() fails.
    bool write(QByteArrayView bytes);
    // The temporary renamed over the target; madeUnsure when only the directory's sync failed.
    SaveResult commit();
    // Removes the temporary; the target stays as it was.
    void cancel();

    static constexpr std::size_t kEndingSignalCount = 4;

private:
    bool resolve(const QString& path);
    // What a kill between naming a temporary and its rename left beside the target.
    void removeStaleTemporaries();
    bool createTemporary();
    void fail(const QString& reason);
    // While a named temporary exists, an ending signal removes it first.
    void guard();
    void unguard();

    QString m_shown; // the name as the user gave it
    QString m_error;
    int m_directory = -1;
    int m_fd = -1;
    QByteArray m_name;      // the target, in m_directory
    bool m_targetExists = false;
    QByteArray m_temporary; // its named temporary; empty while an unnamed one is open
    struct sigaction m_previous[kEndingSignalCount] {};
    bool m_guarded = false;
};
