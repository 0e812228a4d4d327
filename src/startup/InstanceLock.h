#pragma once

#include <QString>

// The lock on a data directory, held by the program for its whole run and by quillor-cli while
// it writes there. The kernel holds it (flock) and drops it when the holder ends however it
// ends, so no content of the file, nor a holder killed at any instant, can make it stale for
// ever. The file names its holder, for the message of whoever is refused.
//
// The file lives outside the data directory, which a sync program may carry to another machine:
// in quillor/ under the user's runtime directory, named after the data directory's real path, so
// that one directory reached through a link has one lock.
class InstanceLock {
public:
    enum class Outcome { Locked, Held, Failed };

    // holderName goes into the lock file: "quillor" or "quillor-cli".
    explicit InstanceLock(QString holderName);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Held: another process has it, holder() names it. Failed: no lock could be had, failure()
    // says why; a directory or anything but a regular file at the lock's name is left alone.
    Outcome acquire(const QString& dataDirectory);
    bool isLocked() const { return m_fd >= 0; }
    // Lets the lock go and removes its file.
    void release();

    // The process that held the lock when acquire() was refused, as "quillor-cli (pid 42)";
    // empty when it could not be told.
    const QString& holder() const { return m_holder; }
    // Whether the holder is the command-line companion rather than the program.
    bool heldByCli() const { return m_heldByCli; }
    const QString& failure() const { return m_failure; }

    // Where the lock of the data directory is; nothing is created.
    static QString pathFor(const QString& dataDirectory);
    // The directory of the locks: $XDG_RUNTIME_DIR/quillor, or where there is no usable runtime
    // directory, quillor-UID in the temporary directory.
    static QString lockDirectory();
    // Whether a live process holds the lock on the directory; nothing is created or changed.
    static bool isHeld(const QString& dataDirectory);

private:
    // Takes the lock file an earlier version left in the data directory away, unless one holds it.
    static void removeOldLock(const QString& dataDirectory);

    QString m_holderName;
    QString m_path;
    int m_fd = -1;
    QString m_holder;
    bool m_heldByCli = false;
    QString m_failure;
};
