#include "BackUp.h"

#include "PairFiles.h"
#include "UndoCopies.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <optional>
#include <sys/stat.h>

namespace {

QString inDirectory(const QString& directory, const QString& name)
{
    return directory.endsWith(u'/') ? directory + name : directory + u'/' + name;
}

bool isDirectory(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Anything under the name counts: what is there but cannot be copied must fail the copy, not
// be taken for a missing file and removed from the target.
bool exists(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

SaveResult makePrivateDirectory(const QString& path)
{
    if (::mkdir(QFile::encodeName(path).constData(), 0700) == 0) {
        const qsizetype slash = path.lastIndexOf(u'/');
        syncDirectory(slash > 0 ? path.left(slash) : QStringLiteral("/"));
        return {};
    }
    if (errno == EEXIST && isDirectory(path))
        return {};
    return SaveResult::failure(QStringLiteral("%1: %2").arg(path, qt_error_string(errno)));
}

// A switch left half done in either directory is finished before its pair is read or replaced.
SaveResult settleBoth(const QString& from, const QString& to)
{
    for (const QString& directory : {from, to}) {
        if (SaveResult settled = PairFiles::settlePairDirectory(directory); !settled)
            return settled;
    }
    if (!isDirectory(from))
        return SaveResult::failure(QStringLiteral("%1: not a directory").arg(from));
    return {};
}

// The new pair of a replacement: a copy of each file of from's pair, and no file where from
// has none.
void stageCopyOfPair(PairFiles::PairReplacement& replacement, const QString& from)
{
    for (const QString& name : {PairFiles::kMasterPasswordFile, PairFiles::kLinkFile}) {
        const QString source = inDirectory(from, name);
        if (exists(source))
            replacement.stageCopy(name, source);
        else
            replacement.remove(name);
    }
}

} // namespace

namespace BackUp {

Members membersIn(const QString& directory)
{
    return {exists(inDirectory(directory, PairFiles::kMasterPasswordFile)),
            exists(inDirectory(directory, PairFiles::kLinkFile))};
}

QString undoDirectory(const QString& dataDirectory)
{
    return inDirectory(dataDirectory, kUndoDirectory);
}

SaveResult copyPair(const QString& from, const QString& to)
{
    if (SaveResult settled = settleBoth(from, to); !settled)
        return settled;
    PairFiles::PairReplacement replacement(to);
    stageCopyOfPair(replacement, from);
    return replacement.commit();
}

SaveResult removePair(const QString& directory)
{
    if (SaveResult settled = PairFiles::settlePairDirectory(directory); !settled)
        return settled;
    if (!membersIn(directory).any())
        return {};
    PairFiles::PairReplacement replacement(directory);
    replacement.remove(PairFiles::kMasterPasswordFile);
    replacement.remove(PairFiles::kLinkFile);
    return replacement.commit();
}

SaveResult backUpPair(const QString& dataDirectory, const QString& backUpDirectory)
{
    return copyPair(dataDirectory, backUpDirectory);
}

RestoreOutcome restoreFromBackUp(const QString& dataDirectory, const QString& backUpDirectory)
{
    RestoreOutcome outcome;
    const QString undo = undoDirectory(dataDirectory);
    const auto failed = [&outcome](const SaveResult& result) {
        outcome.failure = result.error();
        return outcome;
    };
    if (SaveResult made = makePrivateDirectory(undo); !made)
        return failed(made);
    if (SaveResult settled = settleBoth(dataDirectory, undo); !settled)
        return failed(settled);
    if (SaveResult settled = PairFiles::settlePairDirectory(backUpDirectory); !settled)
        return failed(settled);
    const bool anyCurrent = membersIn(dataDirectory).any();
    const bool anyBackUp = membersIn(backUpDirectory).any();

    // Both copies are made before either is put in place, so that the disk writes the first
    // while the second is copied. The kept pair is in place before the current one is replaced.
    PairFiles::PairReplacement keep(undo);
    stageCopyOfPair(keep, dataDirectory);
    std::optional<PairFiles::PairReplacement> restore;
    if (anyBackUp) {
        restore.emplace(dataDirectory);
        stageCopyOfPair(*restore, backUpDirectory);
    }
    if (SaveResult kept = keep.commit(); !kept)
        return failed(kept);
    outcome.keptForUndo = anyCurrent;
    if (!restore) {
        outcome.status = RestoreOutcome::Status::NoBackUpFiles;
        return outcome;
    }
    if (SaveResult restored = restore->commit(); !restored)
        return failed(restored);
    outcome.status = RestoreOutcome::Status::Restored;
    return outcome;
}

UndoOutcome undoRestore(const QString& dataDirectory)
{
    UndoOutcome outcome;
    const QString undo = undoDirectory(dataDirectory);
    if (!isDirectory(undo)) {
        outcome.status = UndoOutcome::Status::NoUndoDirectory;
        return outcome;
    }
    if (SaveResult settled = PairFiles::settlePairDirectory(undo); !settled) {
        outcome.failure = settled.error();
        return outcome;
    }
    if (!membersIn(undo).any()) {
        outcome.status = UndoOutcome::Status::NothingKept;
        return outcome;
    }
    if (SaveResult undone = copyPair(undo, dataDirectory); !undone) {
        outcome.failure = undone.error();
        return outcome;
    }
    outcome.pairReplaced = true;
    // Removed as a unit too: half a kept pair, undone later, would tear the current one.
    if (SaveResult cleared = removePair(undo); !cleared) {
        outcome.failure = cleared.error();
        return outcome;
    }
    outcome.status = UndoOutcome::Status::Undone;
    return outcome;
}

Refusal refusal(const QString& directory, const QString& programDirectory,
                const QString& dataDirectory)
{
    // Compared as written and as the file system resolves them, so that neither a trailing
    // "/", a "." nor a link leads around the comparison.
    const auto forms = [](const QString& path) {
        QStringList list{QDir::cleanPath(path)};
        const QString canonical = QFileInfo(path).canonicalFilePath();
        if (!canonical.isEmpty())
            list << canonical;
        return list;
    };
    const QStringList chosen = forms(directory);
    for (const QString& program : forms(programDirectory)) {
        if (chosen.contains(program))
            return Refusal::ProgramDirectory;
    }
    for (const QString& data : forms(dataDirectory)) {
        const QString inside = data.endsWith(u'/') ? data : data + u'/';
        for (const QString& c : chosen) {
            if (c == data || c.startsWith(inside))
                return Refusal::DataDirectory;
        }
    }
    return Refusal::None;
}

} // namespace BackUp
