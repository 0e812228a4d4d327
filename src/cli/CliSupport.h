#pragma once

#include "SecretInput.h"
#include "startup/AppState.h"
#include "store/Entry.h"
#include "store/FileIdentity.h"
#include "store/SaveResult.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

class CipherService;
class InstanceLock;
class QFile;

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitMadeUnsure = 3;

// What every command gets: the data directory settled by the global options, its own
// arguments, and the cipher service whose reports go to standard error.
struct CommandContext {
    QString dataDirectory;
    QStringList arguments; // after the command's name
    CipherService& cipher;
};

struct Command {
    const char* name;
    const char* help; // begins with the usage line
    int (*run)(CommandContext& context);
};

// "quillor-cli: " and the message, on a line of standard error.
void printError(const QString& message);
int fail(const QString& message);
int usageError(const QString& problem, const char* help);
// The whole of bytes to standard output, flushed; false when it cannot be written.
bool writeOut(QByteArrayView bytes);

// A command's options, parsed. --data-dir and --help are known to every command.
class CommandOptions {
public:
    explicit CommandOptions(const QList<QCommandLineOption>& options);
    // nullopt when the arguments parse; otherwise what is wrong with them.
    std::optional<QString> parse(const CommandContext& context);

    bool isSet(const QString& name) const { return m_parser.isSet(name); }
    QString value(const QString& name) const { return m_parser.value(name); }
    const QStringList& positional() const { return m_positional; }
    bool helpWanted() const { return m_parser.isSet(QStringLiteral("help")); }
    const QString& dataDirectory() const { return m_dataDirectory; }

private:
    QCommandLineParser m_parser;
    QStringList m_positional;
    QString m_dataDirectory;
};

// Runs the parse and answers --help; nullopt when the command goes on, else its exit code.
std::optional<int> parseOrExit(CommandOptions& options, CommandContext& context, const char* help);

// An entry number as the list shows it, from 1; nullopt when text is none.
std::optional<int> entryNumber(const QString& text);

// The master password from the first line of standard input, as the program would take it:
// trimmed, in Windows-1252. nullopt after the message.
std::optional<Secret> readMasterPassword();

// An item as it is stored: trimmed of blanks when asked, in Windows-1252, within maxLength
// characters. nullopt with what is wrong in problem, which names the character that cannot be
// stored and its place (from 1) in the text as given.
std::optional<QByteArray> storableItem(const QString& text, int maxLength, bool trim,
                                       QString& problem);

// The data directory, unlocked with the master password.
struct OpenedData {
    DataPaths paths;
    QByteArray checkValue;
    std::vector<Entry> entries;
    // The link file as it stood beside the master password file that was checked: both from the
    // same side of any password change. Null where there is none. Read it through this, never
    // by its name again.
    std::shared_ptr<QFile> linkFile;
    // The two files as they were before anything was read from them: a writer passes it down,
    // so that nothing is written over a file that changed since.
    PairIdentity identity;
};

// Record number (from 1) of the link file as the command read it, for a writer that replaces it
// in place to check that it is still there; empty when it cannot be read.
QByteArray recordAsRead(const OpenedData& data, qint64 number);

// Lets a test change the files between a writer's read and its write: the process stops itself
// there until it is continued.
void pauseBeforeWriteForTest();

// Checks the password against the master password file; empty when it is right, else the
// message. The check value goes to checkValue when given.
QString masterPasswordProblem(const QString& path, QByteArrayView password, CipherService& cipher,
                              QByteArray* checkValue = nullptr);

// The exit status for a change that failed: kExitMadeUnsure when it was made all the same (a
// retry would make it twice), after a message saying so; else kExitFailure after "cannot ...".
// what names the change ("the change", "the password change"). A write refused because the
// files changed since the command read them says so, and that the command may be repeated.
int failedWrite(const SaveResult& result, const QString& what);
// The message for such a refusal.
int changedWhileRunning(const SaveResult& result);

// Tells of a torn last record that a read of the link file left out; nothing when bytes is 0.
void noteTornTail(const QString& path, qint64 bytes);

enum class Access { Read, Write };

// The first half of openData: the paths, the pair opened, and the master password checked. The
// two files are opened so that they are sure to be one pair, however a password change runs
// beside the read; a reading command takes no lock for it. Empty on success, else the message.
QString unlockData(const QString& dataDirectory, QByteArrayView password, CipherService& cipher,
                   Access access, OpenedData& out);

// Checks the master password and reads every entry. For writing, the list must be the whole
// file: nothing is written while a record cannot be read. Empty on success, else the message.
QString openData(const QString& dataDirectory, QByteArrayView password, CipherService& cipher,
                 Access access, OpenedData& out);

// The program's lock on the data directory, held while a command writes there, so that the
// command and the windows never write the same files at once.
class DataDirectoryLock {
public:
    DataDirectoryLock();
    ~DataDirectoryLock();
    DataDirectoryLock(const DataDirectoryLock&) = delete;
    DataDirectoryLock& operator=(const DataDirectoryLock&) = delete;

    // Takes the lock and finishes what an interrupted write left, as the program's start does.
    // Empty on success, else the message.
    QString acquire(const QString& dataDirectory);

private:
    std::unique_ptr<InstanceLock> m_lock;
};

// For a command that changes the list unless it only shows what it would do (a dry run): the
// lock, taken when it writes, then the list read as openData reads it. Empty on success, else
// the message.
QString openDataToChange(const CommandContext& context, QByteArrayView password, bool dryRun,
                         DataDirectoryLock& lock, OpenedData& out);

// Text for a terminal: control characters are shown, never sent.
QString visible(QStringView text);
