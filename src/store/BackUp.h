#pragma once

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
// Both files of the directory's pair removed, as a unit.
SaveResult removePair(const QString& directory);

// "Back-Up Your Links Files": the back-up directory holds the current pair.
SaveResult backUpPair(const QString& dataDirectory, const QString& backUpDirectory);

struct RestoreOutcome {
    enum class Status { Restored, NoBackUpFiles, NoMasterPasswordFile, Failed };
    Status status = Status::Failed;
    // UnDo now holds the pair that was current before (at least one file of it).
    bool keptForUndo = false;
    QString failure;
};
// "Restore w/ Back-Up Files": the current pair kept in UnDo (created 0700), then, when the
// back-up directory holds at least one file of the pair, the back-up pair in the current one's
// place. A failure in the second step leaves the current pair as it was and UnDo holding its
// copy.
RestoreOutcome restoreFromBackUp(const QString& dataDirectory, const QString& backUpDirectory);

struct UndoOutcome {
    enum class Status { Undone, NothingKept, NoUndoDirectory, Failed };
    Status status = Status::Failed;
    // The data directory holds the kept pair now (also when clearing UnDo failed afterwards).
    bool pairReplaced = false;
    QString failure;
};
// "Undo Previous Restore": the pair kept in UnDo put in the current one's place, then removed
// from UnDo.
UndoOutcome undoRestore(const QString& dataDirectory);

// Why a directory cannot be the back-up directory: the program's own holds its default files,
// and the data directory, or any directory inside it such as UnDo, holds (or soon holds) a pair
// of its own under the same names.
enum class Refusal { None, ProgramDirectory, DataDirectory };
Refusal refusal(const QString& directory, const QString& programDirectory,
                const QString& dataDirectory);

} // namespace BackUp
