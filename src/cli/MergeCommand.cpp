#include "MergeCommand.h"

#include "store/ConflictCopies.h"
#include "store/LinkFile.h"
#include "store/MasterPasswordFile.h"
#include "store/Merge.h"
#include "store/PairFiles.h"
#include "store/StoredField.h"
#include "store/Windows1252.h"

#include <QDir>
#include <QFileInfo>

namespace {

const char kMergeHelp[] =
    "usage: quillor-cli [--data-dir DIR] merge FILE|DIR [--dry-run]\n"
    "\n"
    "Takes another version of the list into ours: a conflict copy that a sync program\n"
    "kept beside QuiURL.dab (such as QuiURL.sync-conflict-...dab), another link file, or\n"
    "a folder holding a pair. Its entries are added after ours; one identical in all four\n"
    "items to one of ours is left out; one with the title and address of one of ours but\n"
    "another user name or password is added beside it, never in its place. All or\n"
    "nothing. A merged conflict copy is then put aside in the folder Merged of the data\n"
    "directory, from where it can be moved back by hand.\n"
    "\n"
    "A merge cannot know which entries the other machine deleted (the files keep no\n"
    "history): they come back, and are to be deleted again.\n"
    "\n"
    "The master password is the first line of standard input. When the other list is\n"
    "under another master password (its QuiFil.ini says so, or its records do not read\n"
    "under ours), its password is the next line. Exit status 3: merged, but the change\n"
    "may not outlast a power cut, or the copy could not be put aside.\n"
    "\n"
    "  --dry-run   show what would be merged; change nothing\n";

QString counted(qsizetype n)
{
    return n == 1 ? QStringLiteral("1 entry") : QStringLiteral("%1 entries").arg(n);
}

// A password line after the master password, as readMasterPassword takes it.
std::optional<Secret> readOtherPassword(const QString& otherPath)
{
    std::optional<Secret> line = readSecretLine("Master password of the other list: ");
    if (!line) {
        printError(QStringLiteral("%1 is under another master password: give it on the line "
                                  "after ours (nothing was changed)")
                       .arg(otherPath));
        return std::nullopt;
    }
    QString typed = decodeTyped(*line);
    std::optional<QByteArray> password = Windows1252::fromUnicode(typed);
    secureWipe(typed);
    if (!password) {
        printError(
            QStringLiteral("wrong master password for %1 (nothing was changed)").arg(otherPath));
        return std::nullopt;
    }
    Secret whole(std::move(*password));
    return Secret(trimBlanks(whole.view()).toByteArray());
}

int runMerge(CommandContext& context)
{
    CommandOptions options({QCommandLineOption(QStringLiteral("dry-run"))});
    if (const auto exit = parseOrExit(options, context, kMergeHelp))
        return *exit;
    if (options.positional().size() != 1)
        return usageError(QStringLiteral("merge takes one file or folder"), kMergeHelp);
    const bool dryRun = options.isSet(QStringLiteral("dry-run"));
    const DataPaths paths = DataPaths::forDataDirectory(context.dataDirectory);
    Merge::Source source;
    if (const QString failure =
            Merge::findSource(options.positional().front(), context.dataDirectory, source);
        !failure.isEmpty())
        return fail(failure + QStringLiteral(" (nothing was changed)"));

    std::optional<Secret> master = readMasterPassword();
    if (!master)
        return kExitFailure;
    DataDirectoryLock lock;
    OpenedData data;
    if (const QString failure = openDataToChange(context, master->view(), dryRun, lock, data);
        !failure.isEmpty())
        return fail(failure);

    // The other list's password: ours, unless its master password file or its records say not.
    const Merge::OtherRead other = Merge::readOther(
        source, master->view(), context.cipher, [&]() -> std::optional<QByteArray> {
            std::optional<Secret> line = readOtherPassword(source.linkFile);
            if (!line)
                return std::nullopt;
            return line->bytes();
        });
    switch (other.outcome) {
    case Merge::OtherRead::Outcome::Read:
        break;
    case Merge::OtherRead::Outcome::NoPassword:
        return kExitFailure;
    case Merge::OtherRead::Outcome::WrongPassword:
        return fail(QStringLiteral("wrong master password for %1 (nothing was changed)")
                        .arg(source.linkFile));
    case Merge::OtherRead::Outcome::Unreadable:
        return fail(QStringLiteral("cannot read the other list: %1 (nothing was changed)")
                        .arg(other.failure));
    }
    const LinkFileRead& theirs = other.read;
    noteTornTail(source.linkFile, theirs.tornTailBytes);

    Merge::Counts counts;
    const auto merged = Merge::mergeLists(data.entries, master->view(), theirs.entries,
                                          other.password(master->view()), context.cipher, counts);
    if (!merged)
        return fail(QStringLiteral("an entry of %1 does not fit its fields (nothing was changed)")
                        .arg(source.linkFile));

    const QString whatIs =
        QStringLiteral("%1 added, %2 left out as identical to one of ours, %3 added beside one "
                       "of ours with the same title and address but another user name or "
                       "password")
            .arg(counted(counts.added), counted(counts.identical), counted(counts.beside));
    if (dryRun) {
        if (!writeOut(QStringLiteral("would merge %1 into %2: %3; nothing was changed\n")
                          .arg(source.linkFile, paths.dataDirectory, whatIs)
                          .toUtf8()))
            return fail(QStringLiteral("cannot write to standard output"));
        return kExitSuccess;
    }

    SaveResult saved;
    if (counts.added + counts.beside > 0) {
        pauseBeforeWriteForTest();
        saved = Merge::writeMergedList(paths.dataDirectory, *merged, master->view(),
                                       context.cipher, data.identity);
        if (saved.changedOnDisk())
            return changedWhileRunning(saved);
        if (!saved.made())
            return fail(QStringLiteral("nothing was merged: %1").arg(saved.error()));
    }
    QString summary =
        QStringLiteral("merged %1 into %2: %3; the list now holds %4\n")
            .arg(source.linkFile, paths.dataDirectory, whatIs, counted(qsizetype(merged->size())));
    QStringList notMoved;
    bool movedUnsure = false;
    for (const QString& name : std::as_const(source.copies)) {
        QString movedTo;
        const SaveResult moved = ConflictCopies::putAside(paths.dataDirectory, name, movedTo);
        if (moved.made())
            summary += QStringLiteral("put %1 aside as %2; move it back to restore it\n")
                           .arg(name, movedTo);
        if (!moved.made())
            notMoved << QStringLiteral("cannot put %1 aside: %2").arg(name, moved.error());
        else if (!moved)
            notMoved << QStringLiteral("%1 is put aside, but it may not stay so after a power "
                                       "cut: %2")
                            .arg(name, moved.error());
        movedUnsure = movedUnsure || !moved;
    }
    if (counts.beside + counts.added > 0)
        summary += QStringLiteral("a merge cannot know which entries the other machine deleted: "
                                  "they are back in the list\n");
    const bool written = writeOut(summary.toUtf8());
    if (!saved)
        return failedWrite(saved, QStringLiteral("the merge"));
    if (movedUnsure) {
        for (const QString& line : std::as_const(notMoved))
            printError(line);
        printError(QStringLiteral("the merge is made; a copy left is offered again, and a "
                                  "second merge of it adds nothing twice"));
        return kExitMadeUnsure;
    }
    if (!written) {
        printError(summary.trimmed());
        printError(QStringLiteral("the merge is made, but its summary cannot be written to "
                                  "standard output"));
        return kExitMadeUnsure;
    }
    return kExitSuccess;
}

} // namespace

void noteConflictCopies(const QString& dataDirectory)
{
    const auto copies = ConflictCopies::find(dataDirectory);
    if (copies.empty())
        return;
    QStringList names;
    for (const ConflictCopies::Copy& copy : copies)
        names << copy.name;
    printError(QStringLiteral("note: a sync program kept another version of the list in %1: %2; "
                              "\"quillor-cli merge\" takes it into the list")
                   .arg(dataDirectory, names.join(QStringLiteral(", "))));
}

const Command kMergeCommand{"merge", kMergeHelp, runMerge};
