#include "CliSupport.h"

#include "startup/Startup.h"
#include "store/FileAccess.h"
#include "store/ItemLimits.h"
#include "store/LinkFile.h"
#include "store/MasterPasswordFile.h"
#include "store/PairFiles.h"
#include "store/StoredField.h"
#include "store/Windows1252.h"

#include <QFileInfo>
#include <QLockFile>

#include <cstdio>

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

QString masterPasswordProblem(const QString& path, QByteArrayView password, CipherService& cipher,
                              QByteArray* checkValue)
{
    const auto check = MasterPasswordFile::check(path, password, cipher);
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

QString unlockData(const QString& dataDirectory, QByteArrayView password, CipherService& cipher,
                   Access access, OpenedData& out)
{
    out.paths = DataPaths::forDataDirectory(dataDirectory);
    const DataPaths& paths = out.paths;
    // Half of the pair may be new and half old until the program finishes the switch. A
    // writing command finishes it itself, under the lock.
    if (access == Access::Read && PairFiles::switchPending(paths.dataDirectory))
        return QStringLiteral("a password change in %1 was interrupted; start quillor once to "
                              "finish it")
            .arg(paths.dataDirectory);

    return masterPasswordProblem(paths.masterPasswordPath, password, cipher, &out.checkValue);
}

QString openData(const QString& dataDirectory, QByteArrayView password, CipherService& cipher,
                 Access access, OpenedData& out)
{
    if (const QString problem = unlockData(dataDirectory, password, cipher, access, out);
        !problem.isEmpty())
        return problem;
    const DataPaths& paths = out.paths;
    LinkFileRead read = readLinkFile(paths.linkFilePath, password, cipher, EmptyLinkFile::Keep);
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

DataDirectoryLock::DataDirectoryLock() = default;
DataDirectoryLock::~DataDirectoryLock() = default;

QString DataDirectoryLock::acquire(const QString& dataDirectory)
{
    const DataPaths paths = DataPaths::forDataDirectory(dataDirectory);
    // No lock file is made where there is no data to change.
    if (!QFileInfo(paths.dataDirectory).isDir())
        return QStringLiteral("%1 is missing or holds no master password")
            .arg(paths.masterPasswordPath);
    m_lock = std::make_unique<QLockFile>(paths.dataDirectory + u'/' + kLockFileName);
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        const QLockFile::LockError error = m_lock->error();
        m_lock.reset();
        if (error == QLockFile::LockFailedError)
            return QStringLiteral("quillor has %1 open; close it first (nothing was changed)")
                .arg(paths.dataDirectory);
        return QStringLiteral("cannot lock %1 (nothing was changed)").arg(paths.dataDirectory);
    }
    // Only now that no other program can be writing there.
    removeStaleTemporaries(paths.dataDirectory);
    if (const SaveResult settled = PairFiles::settlePairDirectory(paths.dataDirectory); !settled)
        return QStringLiteral("cannot finish the interrupted password change in %1: %2")
            .arg(paths.dataDirectory, settled.error());
    return {};
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
