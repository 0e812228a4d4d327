// quillor-cli: the entries of a Quillor data directory, from the command line.

#include "CliSupport.h"
#include "EntryCommands.h"
#include "ExportImport.h"
#include "ListCommand.h"
#include "MergeCommand.h"
#include "Salvage.h"

#include "cipher/CipherService.h"
#include "startup/Startup.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

namespace {

const char kUsage[] =
    "usage: quillor-cli [--data-dir DIR] COMMAND [OPTIONS]\n"
    "\n"
    "The entries of a Quillor data directory, from the command line. The master password\n"
    "is the first line of standard input (asked for without echo at a terminal). Entries\n"
    "are numbered from 1, in the order of the list.\n"
    "\n"
    "Commands:\n"
    "  list                 print every entry\n"
    "  show N               print entry N\n"
    "  add                  add an entry at the end of the list\n"
    "  edit N               change items of entry N\n"
    "  rm N...              delete entries\n"
    "  mv FROM TO           move entry FROM to position TO\n"
    "  passwd               change the master password\n"
    "  export               write every entry for another password manager\n"
    "  import FILE          add the entries of another manager's CSV export\n"
    "  salvage -o FILE      copy the readable records of a damaged link file\n"
    "  merge FILE|DIR       add the entries of another version of the list, such as a\n"
    "                       sync program's conflict copy\n"
    "\n"
    "Options:\n"
    "  --data-dir DIR       the folder holding QuiFil.ini and QuiURL.dab\n"
    "                       (default: the program's own data directory)\n"
    "  --help               this text; 'quillor-cli COMMAND --help' for a command\n"
    "  --version            the version\n"
    "\n"
    "Exit status: 0 done, 1 failed (the reason on standard error), 2 usage error,\n"
    "3 done, but it may not survive a power cut: do not run it again.\n"
    "The commands that write refuse while Quillor has the data directory open.\n";

const Command* const kCommands[] = {&kListCommand,    &kShowCommand,   &kAddCommand,
                                    &kEditCommand,    &kRemoveCommand, &kMoveCommand,
                                    &kPasswdCommand,  &kExportCommand, &kImportCommand,
                                    &kSalvageCommand, &kMergeCommand};

const Command* commandNamed(const QString& name)
{
    for (const Command* command : kCommands) {
        if (name == QLatin1String(command->name))
            return command;
    }
    return nullptr;
}

} // namespace

int main(int argc, char* argv[])
{
    // A file-size limit makes a write fail with EFBIG, reported like any other write failure,
    // instead of ending the program part-way through it.
    std::signal(SIGXFSZ, SIG_IGN);
    // A reader that stops early, as `head` does, makes the next write fail with EPIPE, which
    // the command reports and ends on, instead of the signal killing it mid-write.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();

    // The options before the command; the command parses the rest, --data-dir included.
    QString dataDirectory;
    bool help = false;
    qsizetype i = 1;
    for (; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == u"--help" || arg == u"-h") {
            help = true;
        } else if (arg == u"--version") {
            std::printf("quillor-cli %s\n", QUILLOR_VERSION);
            return kExitSuccess;
        } else if (arg == u"--data-dir" || arg.startsWith(u"--data-dir=")) {
            if (arg == u"--data-dir")
                dataDirectory = ++i < args.size() ? args[i] : QString();
            else
                dataDirectory = arg.sliced(qsizetype(sizeof "--data-dir=") - 1);
            if (dataDirectory.isEmpty())
                return usageError(QStringLiteral("--data-dir needs a directory"), kUsage);
        } else if (arg.startsWith(u'-')) {
            return usageError(QStringLiteral("unexpected argument: %1").arg(arg), kUsage);
        } else {
            break;
        }
    }
    if (i >= args.size()) {
        if (help) {
            std::fputs(kUsage, stdout);
            return kExitSuccess;
        }
        return usageError(QStringLiteral("no command given"), kUsage);
    }
    const Command* command = commandNamed(args[i]);
    if (!command)
        return usageError(QStringLiteral("unknown command: %1").arg(args[i]), kUsage);

    CipherService cipher([](const QString& message) { printError(message); });
    CommandContext context{dataDirectory.isEmpty() ? dataDirectoryFor(defaultProfileDirectory())
                                                   : dataDirectory,
                           args.mid(i + 1), cipher};
    if (help)
        context.arguments.prepend(QStringLiteral("--help"));
    const int status = command->run(context);
    // Said after the command, so that a merge just made is not named; never on a usage error,
    // whose directory may be none the user meant.
    if (status != kExitUsage && !context.arguments.contains(QStringLiteral("--help")) &&
        !context.arguments.contains(QStringLiteral("-h")))
        noteConflictCopies(context.dataDirectory);
    return status;
}
