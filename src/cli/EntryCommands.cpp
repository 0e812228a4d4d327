#include "EntryCommands.h"

#include "startup/SettingsFile.h"
#include "store/EntryPassword.h"
#include "store/EntryWriter.h"
#include "store/ItemLimits.h"
#include "store/LinkFile.h"
#include "store/LinkFileRewrite.h"
#include "store/MasterPasswordFile.h"
#include "store/PairFiles.h"
#include "store/UndoCopies.h"
#include "store/Windows1252.h"

#include <QFileInfo>

#include <algorithm>
#include <array>
#include <set>

namespace {

const char kAddHelp[] =
    "usage: quillor-cli [--data-dir DIR] add [--title T] [--url U] [--username N]\n"
    "\n"
    "Adds an entry at the end of the list. Standard input holds the master password on\n"
    "its first line and the entry's password on the next (an empty line for none); at a\n"
    "terminal both are asked for without echo. Items are trimmed of blanks, as the Enter\n"
    "Items window trims them; title, user name and password take up to 96 characters,\n"
    "the URL address up to 400, all in Windows-1252.\n"
    "\n"
    "  --title T      the page title\n"
    "  --url U        the URL address\n"
    "  --username N   the user name\n";

const char kEditHelp[] =
    "usage: quillor-cli [--data-dir DIR] edit N [--title T] [--url U] [--username N]\n"
    "                   [--password]\n"
    "\n"
    "Changes entry N (numbered from 1 in list order) in its place; only the items given\n"
    "change. The master password is the first line of standard input.\n"
    "\n"
    "  --title T      a new page title\n"
    "  --url U        a new URL address\n"
    "  --username N   a new user name\n"
    "  --password     a new password, read from the next line of standard input\n";

const char kRemoveHelp[] =
    "usage: quillor-cli [--data-dir DIR] rm N...\n"
    "\n"
    "Deletes the entries with these numbers (from 1, in list order); the ones after them\n"
    "move up. The master password is the first line of standard input.\n";

const char kMoveHelp[] =
    "usage: quillor-cli [--data-dir DIR] mv FROM TO\n"
    "\n"
    "Moves entry FROM to position TO; the entries between shift by one, as the list's\n"
    "moves do. The master password is the first line of standard input.\n";

const char kPasswdHelp[] =
    "usage: quillor-cli [--data-dir DIR] passwd\n"
    "\n"
    "Changes the master password: standard input holds the current one, then the new one,\n"
    "then the new one again. Every entry is encrypted anew; the two data files are\n"
    "replaced together, so that they are never under different passwords. When Quillor\n"
    "enters the password by itself at start, it gets the new one.\n";

const QString kTitle = QStringLiteral("title");
const QString kUrl = QStringLiteral("url");
const QString kUserName = QStringLiteral("username");
const QString kPassword = QStringLiteral("password");

QList<QCommandLineOption> itemOptions()
{
    return {QCommandLineOption(kTitle, {}, QStringLiteral("T")),
            QCommandLineOption(kUrl, {}, QStringLiteral("U")),
            QCommandLineOption(kUserName, {}, QStringLiteral("N"))};
}

// The items given as options, checked before any password is asked for.
struct GivenItems {
    std::optional<QByteArray> title;
    std::optional<QByteArray> url;
    std::optional<QByteArray> userName;
};

// The option items, or nullopt after naming the first that cannot be stored.
std::optional<GivenItems> givenItems(const CommandOptions& options)
{
    GivenItems items;
    const std::array<std::tuple<const QString*, int, std::optional<QByteArray>*>, 3> fields = {{
        {&kTitle, kShortItemLength, &items.title},
        {&kUrl, kUrlLength, &items.url},
        {&kUserName, kShortItemLength, &items.userName},
    }};
    for (const auto& [name, limit, out] : fields) {
        if (!options.isSet(*name))
            continue;
        QString problem;
        *out = storableItem(options.value(*name), limit, true, problem);
        if (!*out) {
            printError(QStringLiteral("--%1: %2").arg(*name, problem));
            return std::nullopt;
        }
    }
    return items;
}

// An entry's password from the next line of standard input, stored as the window stores it.
std::optional<Secret> readEntryPassword()
{
    std::optional<Secret> line = readSecretLine("Password for the entry: ");
    if (!line) {
        printError(QStringLiteral("no password for the entry on standard input (an empty line "
                                  "is an empty password)"));
        return std::nullopt;
    }
    QString typed = decodeTyped(*line);
    QString problem;
    std::optional<QByteArray> bytes = storableItem(typed, kShortItemLength, true, problem);
    secureWipe(typed);
    if (!bytes) {
        printError(QStringLiteral("the entry's password: %1").arg(problem));
        return std::nullopt;
    }
    return Secret(std::move(*bytes));
}

// The master password, the lock, and the list; nullopt after the message.
struct Writing {
    Secret master;
    DataDirectoryLock lock;
    OpenedData data;
};

std::unique_ptr<Writing> openForWriting(CommandContext& context, Secret master)
{
    auto writing = std::make_unique<Writing>();
    writing->master = std::move(master);
    if (const QString failure = writing->lock.acquire(context.dataDirectory); !failure.isEmpty()) {
        printError(failure);
        return nullptr;
    }
    if (const QString failure = openData(context.dataDirectory, writing->master.view(),
                                         context.cipher, Access::Write, writing->data);
        !failure.isEmpty()) {
        printError(failure);
        return nullptr;
    }
    return writing;
}

// The entry numbers given, or nullopt after the usage message.
std::optional<std::vector<int>> entryNumbers(const QStringList& texts, const char* help,
                                             int& exitCode)
{
    std::vector<int> numbers;
    for (const QString& text : texts) {
        const std::optional<int> n = entryNumber(text);
        if (!n) {
            exitCode = usageError(QStringLiteral("not an entry number: %1").arg(text), help);
            return std::nullopt;
        }
        numbers.push_back(*n);
    }
    return numbers;
}

bool inList(int number, const OpenedData& data)
{
    if (number <= int(data.entries.size()))
        return true;
    printError(QStringLiteral("there is no entry %1: the list holds %2 (nothing was changed)")
                   .arg(number)
                   .arg(data.entries.size()));
    return false;
}

int saved(const SaveResult& result)
{
    if (!result)
        return failedWrite(result, QStringLiteral("the change"));
    return kExitSuccess;
}

int runAdd(CommandContext& context)
{
    CommandOptions options(itemOptions());
    if (const auto exit = parseOrExit(options, context, kAddHelp))
        return *exit;
    if (!options.positional().isEmpty())
        return usageError(
            QStringLiteral("unexpected argument: %1").arg(options.positional().front()), kAddHelp);
    const std::optional<GivenItems> items = givenItems(options);
    if (!items)
        return kExitFailure;

    std::optional<Secret> master = readMasterPassword();
    if (!master)
        return kExitFailure;
    const std::optional<Secret> password = readEntryPassword();
    if (!password)
        return kExitFailure;
    const auto writing = openForWriting(context, std::move(*master));
    if (!writing)
        return kExitFailure;

    const auto encrypted =
        encryptEntry(items->title.value_or(QByteArray()), items->url.value_or(QByteArray()),
                     items->userName.value_or(QByteArray()), password->view(),
                     writing->master.view(), context.cipher);
    if (!encrypted)
        return fail(QStringLiteral("an item does not fit its field (nothing was changed)"));
    pauseBeforeWriteForTest();
    return saved(appendLinkRecord(writing->data.paths.linkFilePath, encrypted->record,
                                  writing->data.identity));
}

int runEdit(CommandContext& context)
{
    QList<QCommandLineOption> optionList = itemOptions();
    optionList << QCommandLineOption(kPassword);
    CommandOptions options(optionList);
    if (const auto exit = parseOrExit(options, context, kEditHelp))
        return *exit;
    if (options.positional().size() != 1)
        return usageError(QStringLiteral("edit takes one entry number"), kEditHelp);
    int exitCode = kExitSuccess;
    const auto numbers = entryNumbers(options.positional(), kEditHelp, exitCode);
    if (!numbers)
        return exitCode;
    if (!options.isSet(kTitle) && !options.isSet(kUrl) && !options.isSet(kUserName) &&
        !options.isSet(kPassword))
        return usageError(
            QStringLiteral("nothing to change: give --title, --url, --username or --password"),
            kEditHelp);
    const std::optional<GivenItems> items = givenItems(options);
    if (!items)
        return kExitFailure;

    std::optional<Secret> master = readMasterPassword();
    if (!master)
        return kExitFailure;
    std::optional<Secret> newPassword;
    if (options.isSet(kPassword)) {
        newPassword = readEntryPassword();
        if (!newPassword)
            return kExitFailure;
    }
    const auto writing = openForWriting(context, std::move(*master));
    if (!writing)
        return kExitFailure;
    const int number = numbers->front();
    if (!inList(number, writing->data))
        return kExitFailure;

    const Entry& entry = writing->data.entries[std::size_t(number - 1)];
    // An item left as it is encrypts to the bytes it had: the same key stream every time.
    const Secret password =
        newPassword ? std::move(*newPassword)
                    : Secret(decryptPassword(entry, writing->master.view(), context.cipher));
    const auto encrypted =
        encryptEntry(items->title ? QByteArrayView(*items->title) : entry.title(),
                     items->url ? QByteArrayView(*items->url) : entry.url(),
                     items->userName ? QByteArrayView(*items->userName) : entry.userName(),
                     password.view(), writing->master.view(), context.cipher);
    if (!encrypted)
        return fail(QStringLiteral("an item does not fit its field (nothing was changed)"));
    const QByteArray oldRecord = recordAsRead(writing->data, number);
    if (oldRecord.isEmpty())
        return fail(QStringLiteral("cannot read record %1 of %2 again (nothing was changed)")
                        .arg(number)
                        .arg(writing->data.paths.linkFilePath));
    pauseBeforeWriteForTest();
    return saved(replaceLinkRecord(writing->data.paths.linkFilePath, number, encrypted->record,
                                   writing->data.identity, oldRecord));
}

int runRemove(CommandContext& context)
{
    CommandOptions options({});
    if (const auto exit = parseOrExit(options, context, kRemoveHelp))
        return *exit;
    if (options.positional().isEmpty())
        return usageError(QStringLiteral("rm takes the numbers of the entries to delete"),
                          kRemoveHelp);
    int exitCode = kExitSuccess;
    const auto numbers = entryNumbers(options.positional(), kRemoveHelp, exitCode);
    if (!numbers)
        return exitCode;

    std::optional<Secret> master = readMasterPassword();
    if (!master)
        return kExitFailure;
    const auto writing = openForWriting(context, std::move(*master));
    if (!writing)
        return kExitFailure;
    const std::set<int> doomed(numbers->begin(), numbers->end());
    if (!inList(*doomed.rbegin(), writing->data))
        return kExitFailure;

    const std::vector<Entry>& entries = writing->data.entries;
    std::vector<Entry> kept;
    kept.reserve(entries.size() - doomed.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!doomed.contains(int(i) + 1))
            kept.push_back(entries[i]);
    }
    pauseBeforeWriteForTest();
    return saved(SaveListToLinkFile(writing->data.paths.linkFilePath, kept, writing->master.view(),
                                    context.cipher, writing->data.identity));
}

int runMove(CommandContext& context)
{
    CommandOptions options({});
    if (const auto exit = parseOrExit(options, context, kMoveHelp))
        return *exit;
    if (options.positional().size() != 2)
        return usageError(QStringLiteral("mv takes two entry numbers: FROM and TO"), kMoveHelp);
    int exitCode = kExitSuccess;
    const auto numbers = entryNumbers(options.positional(), kMoveHelp, exitCode);
    if (!numbers)
        return exitCode;

    std::optional<Secret> master = readMasterPassword();
    if (!master)
        return kExitFailure;
    const auto writing = openForWriting(context, std::move(*master));
    if (!writing)
        return kExitFailure;
    const int from = (*numbers)[0] - 1;
    const int to = (*numbers)[1] - 1;
    if (!inList(from + 1, writing->data) || !inList(to + 1, writing->data))
        return kExitFailure;
    if (from == to)
        return kExitSuccess;

    std::vector<Entry> entries = writing->data.entries;
    const auto first = entries.begin();
    if (from < to)
        std::rotate(first + from, first + from + 1, first + to + 1);
    else
        std::rotate(first + to, first + from, first + from + 1);
    pauseBeforeWriteForTest();
    return saved(SaveListToLinkFile(writing->data.paths.linkFilePath, entries,
                                    writing->master.view(), context.cipher,
                                    writing->data.identity));
}

// A new master password from the next line of standard input; nullopt after the message.
std::optional<Secret> readNewPassword(const char* prompt)
{
    std::optional<Secret> line = readSecretLine(prompt);
    if (!line) {
        printError(QStringLiteral("the new password must be given twice on standard input, on "
                                  "the lines after the current one"));
        return std::nullopt;
    }
    QString typed = decodeTyped(*line);
    QString problem;
    std::optional<QByteArray> bytes = storableItem(typed, kMasterPasswordLength, true, problem);
    secureWipe(typed);
    if (!bytes) {
        printError(QStringLiteral("the new password: %1").arg(problem));
        return std::nullopt;
    }
    return Secret(std::move(*bytes));
}

// What the settings hold that the new password touches: auto-enter would type the old password
// at the next start and count it as a wrong one; a back-up pair stays under the old password.
void afterPasswordChange(const DataPaths& paths, QByteArrayView newPassword)
{
    if (!QFileInfo::exists(paths.settingsPath))
        return;
    SettingsRead read = readSettingsFile(paths.settingsPath);
    if (!read.settings || QFileInfo(paths.settingsPath).size() < SettingsRecord::kSize) {
        printError(QStringLiteral("cannot read %1; if Quillor enters the password by itself at "
                                  "start, switch that off and on again")
                       .arg(paths.settingsPath));
        return;
    }
    Settings& settings = *read.settings;
    const QString backUp = settings.backupDirectory;
    if (!backUp.isEmpty() && QFileInfo::exists(backUp + u'/' + PairFiles::kMasterPasswordFile))
        printError(
            QStringLiteral("the back-up files in %1 are still under the old password").arg(backUp));
    if (settings.autoEnter != 1)
        return;
    settings.autoEnterPassword = Windows1252::toUnicode(newPassword);
    const SaveResult written = writeSettingsFile(paths.settingsPath, settings);
    secureWipe(settings.autoEnterPassword);
    if (!written)
        printError(QStringLiteral("cannot give the new password to the automatic entry at "
                                  "start: %1")
                       .arg(written.error()));
}

int runPasswd(CommandContext& context)
{
    CommandOptions options({});
    if (const auto exit = parseOrExit(options, context, kPasswdHelp))
        return *exit;
    if (!options.positional().isEmpty())
        return usageError(
            QStringLiteral("unexpected argument: %1").arg(options.positional().front()),
            kPasswdHelp);

    std::optional<Secret> master = readMasterPassword();
    if (!master)
        return kExitFailure;
    const std::optional<Secret> newPassword = readNewPassword("New master password: ");
    if (!newPassword)
        return kExitFailure;
    const std::optional<Secret> again = readNewPassword("New master password again: ");
    if (!again)
        return kExitFailure;
    if (newPassword->bytes() != again->bytes())
        return fail(QStringLiteral("the two new passwords differ (nothing was changed)"));

    DataDirectoryLock lock;
    if (const QString failure = lock.acquire(context.dataDirectory); !failure.isEmpty())
        return fail(failure);
    const DataPaths paths = DataPaths::forDataDirectory(context.dataDirectory);
    // Before either file is read: a change while they are shows as one at the switch.
    const PairIdentity read = pairIdentity(paths.dataDirectory);
    QByteArray checkValue;
    if (const QString problem = masterPasswordProblem(paths.masterPasswordPath, master->view(),
                                                      context.cipher, &checkValue);
        !problem.isEmpty())
        return fail(problem);
    // The re-encryption would stop at a damaged record; better to say so before it starts.
    if (const QString damaged = findDamagedLinkRecord(paths.linkFilePath); !damaged.isEmpty())
        return fail(QStringLiteral("cannot read the link file: %1; nothing is changed while a "
                                   "record cannot be read (\"quillor-cli salvage\" copies the "
                                   "readable ones)")
                        .arg(damaged));

    pauseBeforeWriteForTest();
    const SaveResult changed = reencryptPair(paths.dataDirectory, master->view(),
                                             newPassword->view(), checkValue, context.cipher, read);
    if (changed.changedOnDisk())
        return changedWhileRunning(changed);
    if (!changed.made())
        return fail(QStringLiteral("cannot change the password (nothing was changed): %1")
                        .arg(changed.error()));
    afterPasswordChange(paths, newPassword->view());
    // The copies kept for an undo are under the old password.
    (void)deleteUndoCopies(paths.dataDirectory);
    if (!changed.ok()) {
        // Decided: the new password is the one that opens the files, now or at the next start.
        printError(QStringLiteral("the password was changed, but the change may not survive a "
                                  "power cut: %1")
                       .arg(changed.error()));
        return kExitMadeUnsure;
    }
    return kExitSuccess;
}

} // namespace

const Command kAddCommand{"add", kAddHelp, runAdd};
const Command kEditCommand{"edit", kEditHelp, runEdit};
const Command kRemoveCommand{"rm", kRemoveHelp, runRemove};
const Command kMoveCommand{"mv", kMoveHelp, runMove};
const Command kPasswdCommand{"passwd", kPasswdHelp, runPasswd};
