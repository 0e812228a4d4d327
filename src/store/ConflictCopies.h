#pragma once

#include "SaveResult.h"

#include <QString>

#include <optional>
#include <vector>

// The copies a sync program keeps of a data file that two machines changed while apart: the
// other version, beside ours under a name of the program's making.
namespace ConflictCopies {

// Where a merged copy is put aside, in the data directory, to be restored by hand.
inline const QString kMergedDirectory = QStringLiteral("Merged");

enum class Of { LinkFile, MasterPasswordFile };

struct Copy {
    QString name; // the file name, in the data directory
    Of of = Of::LinkFile;
    QString mark; // what the sync program put between the name and the extension
};

// The copy a file name is, or nullopt for any other name (our own files among them).
std::optional<Copy> recognise(const QString& fileName);

// The conflict copies in the data directory that are regular files (a link followed), sorted
// by name.
std::vector<Copy> find(const QString& dataDirectory);

// The copy of the master password file that the sync program made with a link file's copy
// (the same mark), as a path; empty when there is none.
QString companionMasterPasswordFile(const QString& dataDirectory, const Copy& linkFileCopy);

// Moves a file of the data directory into kMergedDirectory (made 0700 when absent, never
// through a link), under its own name, or its name with a number added when that is taken.
// The new path goes to movedTo.
SaveResult putAside(const QString& dataDirectory, const QString& name, QString& movedTo);

} // namespace ConflictCopies
