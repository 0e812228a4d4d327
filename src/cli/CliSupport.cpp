#include "CliSupport.h"

#include "startup/InstanceLock.h"
#include "startup/Startup.h"
#include "store/FileAccess.h"
#include "store/ItemLimits.h"
#include "store/LinkFile.h"
#include "store/MasterPasswordFile.h"
#include "store/PairFiles.h"
#include "store/StoredField.h"
#include "store/Windows1252.h"

#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

void printError(const QString& message)
{
    std::fprintf(stderr, "quillor-cli: %s\n", message.toUtf8().constData());
}

int fail(const QString& message)
{
    printError(message);
    return kExitFailure;
}

int usageError(const QString& problem, const char* help)
{
    std::fprintf(stderr, "quillor-cli: %s\n%s", problem.toUtf8().constData(), help);
    return kExitUsage;
}

bool writeOut(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return std::fflush(stdout) == 0;
    return std::fwrite(bytes.data(), 1, std::size_t(bytes.size()), stdout) ==
               std::size_t(bytes.size()) &&
           std::fflush(stdout) == 0;
}

CommandOptions::CommandOptions(const QList<QCommandLineOption>& options)
{
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    m_parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    m_parser.addOptions(options);
    m_parser.addOption(QCommandLineOption(QStringLiteral("data-dir"), {}, QStringLiteral("DIR")));
    m_parser.addOption(
        QCommandLineOption(QStringList{QStringLiteral("help"), QStringLiteral("h")}));
}

std::optional<QString> CommandOptions::parse(const CommandContext& context)
{
    // The parser takes the first argument for the program's name.
    if (!m_parser.parse(QStringList{QStringLiteral("quillor-cli")} + context.arguments))
        return m_parser.errorText();
    m_positional = m_parser.positionalArguments();
    m_dataDirectory = context.dataDirectory;
    if (m_parser.isSet(QStringLiteral("data-dir"))) {
        m_dataDirectory = m_parser.value(QStringLiteral("data-dir"));
        if (m_dataDirectory.isEmpty())
            return QStringLiteral("--data-dir needs a directory");
    }
    return std::nullopt;
}

std::optional<int> parseOrExit(CommandOptions& options, CommandContext& context, const char* help)
{
    const std::optional<QString> problem = options.parse(context);
    // Help asked for wins over a mistake beside it: it is what the user needs then.
    if (options.helpWanted()) {
        std::fputs(help, stdout);
        return kExitSuccess;
    }
    if (problem)
        return usageError(*problem, help);
    context.dataDirectory = options.dataDirectory();
    return std::nullopt;
}

std::optional<int> entryNumber(const QString& text)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    // Digits only: no sign, no blanks.
    if (!ok || n < 1 || text.isEmpty() || !text.front().isDigit())
        return std::nullopt;
    return n;
}

std::optional<Secret> readMasterPassword()
{
    std::optional<Secret> line = readSecretLine("Master password: ");
    if (!line) {
        printError(QStringLiteral("no master password on standard input"));
        return std::nullopt;
    }
    // The files hold Windows-1252; a password typed in any other character could never match.
    // Each form of the password lives in one buffer of its own, wiped when done with.
    QString typed = decodeTyped(*line);
    std::optional<QByteArray> password = Windows1252::fromUnicode(typed);
    secureWipe(typed);
    if (!password) {
        printError(QStringLiteral("wrong master password"));
        return std::nullopt;
    }
    Secret whole(std::move(*password));
    return Secret(trimBlanks(whole.view()).toByteArray());
}

std::optional<QByteArray> storableItem(const QString& text, int maxLength, bool trim,
                                       QString& problem)
{
    // Invisible in the window and live in a terminal; a NUL would end the item for a C reader.
    if (const qsizetype at = firstControlCharacter(text); at >= 0) {
        const qsizetype place = QStringView(text).first(at).toUcs4().size() + 1;
        problem = QStringLiteral("the control character %1 (character %2) cannot be stored: "
                                 "an item holds none but tab")
                      .arg(visible(text.mid(at, 1)))
                      .arg(place);
        return std::nullopt;
    }
    if (const qsizetype at = Windows1252::firstUnencodable(text); at >= 0) {
        const bool pair = text.at(at).isHighSurrogate() && at + 1 < text.size() &&
                          text.at(at + 1).isLowSurrogate();
        const qsizetype place = QStringView(text).first(at).toUcs4().size() + 1;
        problem = QStringLiteral("\"%1\" (character %2) cannot be stored: the files hold "
                                 "Windows-1252 text only")
                      .arg(text.mid(at, pair ? 2 : 1))
                      .arg(place);
        return std::nullopt;
    }
    const QStringView kept = trim ? trimBlanks(QStringView(text)) : QStringView(text);
    if (kept.size() > maxLength) {
        problem = QStringLiteral("%1 characters, at most %2 fit").arg(kept.size()).arg(maxLength);
        return std::nullopt;
    }
    return Windows1252::fromUnicode(kept);
}

namespace {

QString checkProblem(const MasterPasswordFile::Check& check, const QString& path,
                     QByteArray* checkValue)
{
    switch (check.outcome) {
    case MasterPasswordFile::Outcome::NoMasterPassword:
        return QStringLiteral("%1 is missing or holds no master password").arg(path);
    case MasterPasswordFile::Outcome::Unreadable:
        return QStringLiteral("cannot read the master password file: %1").arg(check.failure);
    case MasterPasswordFile::Outcome::Wrong:
        return QStringLiteral("wrong master password");
    case MasterPasswordFile::Outcome::Right:
        break;
    }
    if (checkValue)
        *checkValue = check.checkValue;
    return {};
}

QString masterPasswordProblem(QFile& file, const QString& path, QByteArrayView password,
                              CipherService& cipher, QByteArray* checkValue)
{
    return checkProblem(MasterPasswordFile::check(file, path, password, cipher), path, checkValue);
}

} // namespace

QString masterPasswordProblem(const QString& path, QByteArrayView password, CipherService& cipher,
                              QByteArray* checkValue)
{
    return checkProblem(MasterPasswordFile::check(path, password, cipher), path, checkValue);
}

int changedWhileRunning(const SaveResult& result)
{
    return fail(QStringLiteral("the list changed on disk while the command ran (%1); nothing was "
                               "changed: repeat the command")
                    .arg(result.error()));
}

int failedWrite(const SaveResult& result, const QString& what)
{
    if (result.changedOnDisk())
        return changedWhileRunning(result);
    if (result.made()) {
        printError(QStringLiteral("%1 was made, but it may not survive a power cut: %2")
                       .arg(what, result.error()));
        return kExitMadeUnsure;
    }
    return fail(QStringLiteral("cannot save %1: %2").arg(what, result.error()));
}

void noteTornTail(const QString& path, qint64 bytes)
{
    if (bytes > 0)
        printError(QStringLiteral("note: ") + tornTailNote(path, bytes));
}

namespace {

// Reads a pair that a password change replaces this many times at most before giving up.
constexpr int kPairAttempts = 8;

// One file of the pair, opened; absent is no failure.
struct PairFile {
    std::shared_ptr<QFile> file; // null when absent
    QString problem;             // why it cannot be read
};

PairFile openPairFile(const QString& path)
{
    PairFile opened;
    auto file = std::make_shared<QFile>();
    const QString failure = openRegularFile(*file, path);
    if (failure.isEmpty())
        opened.file = std::move(file);
    else if (const QString broken = brokenLinkProblem(path); !broken.isEmpty())
        opened.problem = QStringLiteral("%1: %2").arg(path, broken);
    else if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
        opened.problem = QStringLiteral("%1: %2").arg(path, failure);
    return opened;
}

// Whether the name still leads to the file opened, or still to nothing. What cannot be opened
// at all is reported as it is.
bool stillAt(const PairFile& opened, const QString& path)
{
    if (!opened.problem.isEmpty())
        return true;
    struct stat named {};
    if (::stat(QFile::encodeName(path).constData(), &named) != 0)
        return errno == ENOENT && !opened.file;
    if (!opened.file)
        return false;
    struct stat held {};
    return ::fstat(opened.file->handle(), &held) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
}

void waitBeforeAttempt(int attempt)
{
    // 5 ms, doubling: a switch that is running ends in a few syncs.
    const long ms = 5L << attempt;
    const timespec pause{ms / 1000, (ms % 1000) * 1'000'000L};
    ::nanosleep(&pause, nullptr);
}

// Lets a test change the pair between the two opens of a reader's first attempt: the process
// stops itself there until it is continued.
void pauseBetweenOpensForTest()
{
    if (qEnvironmentVariableIsSet("QUILLOR_CLI_STOP_BETWEEN_OPENS_FOR_TEST"))
        ::raise(SIGSTOP);
}

} // namespace

QString unlockData(const QString& dataDirectory, QByteArrayView password, CipherService& cipher,
                   Access access, OpenedData& out)
{
    out.paths = DataPaths::forDataDirectory(dataDirectory);
    const DataPaths& paths = out.paths;
    // Every change of password replaces both files by renaming new ones over them, between the
    // commit mark's coming and going. So: both files opened, then no mark seen, then both names
    // seen still leading to the files opened. A switch that began before the mark was looked
    // for shows as the mark, and one that ends after it as a name leading elsewhere; the open
    // files are then one pair whatever comes later.
    bool pending = false;
    for (int attempt = 0; attempt < kPairAttempts; ++attempt) {
        if (attempt > 0)
            waitBeforeAttempt(attempt);
        const PairFile master = openPairFile(paths.masterPasswordPath);
        if (attempt == 0)
            pauseBetweenOpensForTest();
        PairFile link = openPairFile(paths.linkFilePath);
        pending = PairFiles::switchPending(paths.dataDirectory);
        if (pending || !stillAt(master, paths.masterPasswordPath) ||
            !stillAt(link, paths.linkFilePath))
            continue;
        // From the descriptors, before anything is read from them: a change while they are read
        // shows as one later.
        out.identity = {master.file ? fileIdentity(master.file->handle()) : FileIdentity{},
                        link.file ? fileIdentity(link.file->handle()) : FileIdentity{}};

        if (!master.problem.isEmpty())
            return QStringLiteral("cannot read the master password file: %1").arg(master.problem);
        if (!master.file)
            return QStringLiteral("%1 is missing or holds no master password")
                .arg(paths.masterPasswordPath);
        if (const QString problem = masterPasswordProblem(*master.file, paths.masterPasswordPath,
                                                          password, cipher, &out.checkValue);
            !problem.isEmpty())
            return problem;
        if (!link.problem.isEmpty())
            return QStringLiteral("cannot read the link file: %1").arg(link.problem);
        out.linkFile = std::move(link.file);
        return {};
    }
    // A writing command finishes an interrupted switch itself, under the lock, before it gets
    // here; a reader leaves it to a writer.
    if (!pending || access == Access::Write)
        return QStringLiteral("%1 kept changing while it was read; try again")
            .arg(paths.dataDirectory);
    if (InstanceLock::isHeld(paths.dataDirectory))
        return QStringLiteral("a password change in %1 is in progress; try again when it is done")
            .arg(paths.dataDirectory);
    return QStringLiteral("a password change in %1 was interrupted; start quillor once to "
                          "finish it, or run a command of quillor-cli that writes")
        .arg(paths.dataDirectory);
}

QString openData(const QString& dataDirectory, QByteArrayView password, CipherService& cipher,
                 Access access, OpenedData& out)
{
    if (const QString problem = unlockData(dataDirectory, password, cipher, access, out);
        !problem.isEmpty())
        return problem;
    const DataPaths& paths = out.paths;
    LinkFileRead read;
    if (out.linkFile)
        read = readLinkFile(*out.linkFile, paths.linkFilePath, password, cipher);
    noteTornTail(paths.linkFilePath, read.tornTailBytes);
    if (!read.ok()) {
        if (access == Access::Read)
            return QStringLiteral("cannot read the link file: %1").arg(read.failure);
        // Written from a list that stops at the damage, the file would lose every entry after it.
        return QStringLiteral("cannot read the link file: %1; nothing is changed while a record "
                              "cannot be read (\"quillor-cli salvage\" copies the readable ones)")
            .arg(read.failure);
    }
    if (access == Access::Write &&
        storedRecordCount(paths.linkFilePath) != qint64(read.entries.size()))
        return QStringLiteral("%1 changed while it was read; nothing is changed")
            .arg(paths.linkFilePath);
    out.entries = std::move(read.entries);
    return {};
}

QByteArray recordAsRead(const OpenedData& data, qint64 number)
{
    if (!data.linkFile || number < 1)
        return {};
    QByteArray record(kLinkRecordSize, Qt::Uninitialized);
    const ssize_t got = ::pread(data.linkFile->handle(), record.data(), std::size_t(record.size()),
                                off_t(number - 1) * kLinkRecordSize);
    // A last record cut short is compared as it stands.
    return got > 0 ? record.first(got) : QByteArray();
}

void pauseBeforeWriteForTest()
{
    if (qEnvironmentVariableIsSet("QUILLOR_CLI_STOP_BEFORE_WRITE_FOR_TEST"))
        ::raise(SIGSTOP);
}

DataDirectoryLock::DataDirectoryLock() = default;
DataDirectoryLock::~DataDirectoryLock() = default;

QString DataDirectoryLock::acquire(const QString& dataDirectory)
{
    const DataPaths paths = DataPaths::forDataDirectory(dataDirectory);
    // No lock file is made where there is no data to change.
    if (!QFileInfo(paths.dataDirectory).isDir())
        return QStringLiteral("%1 is missing or holds no master password")
            .arg(paths.masterPasswordPath);
    m_lock = std::make_unique<InstanceLock>(QStringLiteral("quillor-cli"));
    switch (m_lock->acquire(paths.dataDirectory)) {
    case InstanceLock::Outcome::Locked:
        break;
    case InstanceLock::Outcome::Held: {
        const QString holder = m_lock->holder();
        const bool cli = m_lock->heldByCli();
        m_lock.reset();
        if (cli)
            return QStringLiteral("%1 is changing %2; try again when it is done (nothing was "
                                  "changed)")
                .arg(holder, paths.dataDirectory);
        if (holder.isEmpty())
            return QStringLiteral("another quillor or quillor-cli is using %1; try again when it "
                                  "is done (nothing was changed)")
                .arg(paths.dataDirectory);
        return QStringLiteral("quillor has %1 open; close it first (nothing was changed)")
            .arg(paths.dataDirectory);
    }
    case InstanceLock::Outcome::Failed: {
        const QString failure = m_lock->failure();
        m_lock.reset();
        return QStringLiteral("cannot lock %1: %2 (nothing was changed)")
            .arg(paths.dataDirectory, failure);
    }
    }
    // Only now that no other program can be writing there.
    removeStaleTemporaries(paths.dataDirectory);
    if (const SaveResult settled = PairFiles::settlePairDirectory(paths.dataDirectory); !settled)
        return QStringLiteral("cannot finish the interrupted password change in %1: %2")
            .arg(paths.dataDirectory, settled.error());
    return {};
}

QString openDataToChange(const CommandContext& context, QByteArrayView password, bool dryRun,
                         DataDirectoryLock& lock, OpenedData& out)
{
    if (!dryRun) {
        if (const QString failure = lock.acquire(context.dataDirectory); !failure.isEmpty())
            return failure;
    }
    return openData(context.dataDirectory, password, context.cipher,
                    dryRun ? Access::Read : Access::Write, out);
}

QString visible(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0))
            out += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}
