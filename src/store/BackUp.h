#pragma once

#include "PairFiles.h"
#include "SaveResult.h"

#include <QString>

// Back-up, restore and undo copy the pair of data files (QuiFil.ini, QuiURL.dab) whole between
// the data directory, the back-up directory and the data directory's UnDo. Files are copied byte
// for byte, never opened as data files. Every replacement of a pair goes through PairFiles: after
// a failure or a crash at any point, the target holds its whole old pair or the whole new one.
namespace BackUp {

// Which files of the pair a directory holds.
struct Members {
    bool masterPasswordFile = false;
    bool linkFile = false;
    bool any() const { return masterPasswordFile || linkFile; }
};
Members membersIn(const QString& directory);

// Where the pair kept for undoing a restore lives.
QString undoDirectory(const QString& dataDirectory);

// `to` ends up holding exactly the files of `from`'s pair, each a copy (mode 0600, flushed);
// a file that `from` lacks is removed from `to`. A file of `from` that is there but cannot be
// read fails the copy: it never counts as absent.
SaveResult copyPair(const QString& from, const QString& to);
// Both files of the directory's pair removed, as a unit. links: as the directory's writers
// treat a link in a file's place (Replace for UnDo).
SaveResult removePair(const QString& directory, PairFiles::Links links = PairFiles::Links::Follow);

// Why other users could put files, or links in place of ours, in the directory: it belongs to
// someone else, or others may write to it. Empty when only we (and root) can, or when its file
// system is mounted read-only.
QString othersCanWrite(const QString& directory);

// Programs sharing one back-up directory (two profiles, say) take turns at it: a pair operation
// holds the directory locked (flock on the directory itself, no file of ours in it), shared for
// reading the pair, exclusive for replacing it. The lock waits a few seconds for another
// program, then gives up. A directory others can write to is refused here, at every operation,
// since it may have changed since it was chosen.
class DirectoryLock {
public:
    enum class Mode { Shared, Exclusive };
    DirectoryLock(const QString& directory, Mode mode);
    ~DirectoryLock();
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;

    // Empty while the lock is held; otherwise why it is not.
    const QString& failure() const { return m_failure; }

private:
    int m_fd = -1;
    QString m_failure;
};

// "Back-Up Your Links Files": the back-up directory holds the current pair. A link in the
// back-up directory is replaced, never written through.
SaveResult backUpPair(const QString& dataDirectory, const QString& backUpDirectory);

// The back-up pair moved to a new back-up directory: copied (copyBackUpPair), then removed
// from the old one (removeBackUpPair), each with the directories locked.
SaveResult copyBackUpPair(const QString& from, const QString& to);
SaveResult removeBackUpPair(const QString& directory);

struct RestoreOutcome {
    enum class Status { Restored, NoBackUpFiles, NoMasterPasswordFile, Failed };
    Status status = Status::Failed;
    // UnDo now holds the pair that was current before (at least one file of it).
    bool keptForUndo = false;
    // Restored, but failure says what went wrong after the switch: it may not outlast a power
    // cut.
    bool unsure = false;
    QString failure;
};
// "Restore w/ Back-Up Files": the current pair kept in UnDo (created 0700), then, when the
// back-up directory holds at least one file of the pair, the back-up pair in the current one's
// place. A failure in the second step leaves the current pair as it was and UnDo holding its
// copy. A back-up link file without its master password file, which no password would open,
// is refused before anything is kept or replaced. The back-up directory is only read: it may
// be on a read-only medium.
RestoreOutcome restoreFromBackUp(const QString& dataDirectory, const QString& backUpDirectory);

struct UndoOutcome {
    enum class Status { Undone, NothingKept, NoUndoDirectory, Failed };
    Status status = Status::Failed;
    // The data directory holds the kept pair now (also when clearing UnDo failed afterwards).
    bool pairReplaced = false;
    // Undone, but failure says what went wrong after the switch: it may not outlast a power cut.
    // UnDo then still holds the kept pair.
    bool unsure = false;
    QString failure;
};
// "Undo Previous Restore": the pair kept in UnDo put in the current one's place, then removed
// from UnDo.
UndoOutcome undoRestore(const QString& dataDirectory);

// Why a directory cannot be the back-up directory: the program's own holds its default files,
// and the data directory, or any directory inside it such as UnDo, holds (or soon holds) a pair
// of its own under the same names; other users can write to a shared one (othersCanWrite).
enum class Refusal { None, ProgramDirectory, DataDirectory, SharedDirectory };
Refusal refusal(const QString& directory, const QString& programDirectory,
                const QString& dataDirectory);

} // namespace BackUp
