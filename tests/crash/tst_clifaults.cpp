// quillor-cli itself, run as a process that is killed, torn or failed at every system call it
// makes in the folder holding its data directory and the files it reads and writes; its exit
// status and its message are then judged against what is on disk once the next writer has
// settled what the run left:
//   exit 0  the change is wholly on disk, synced with its directory before the exit;
//   exit 3  the change is on disk (made, though it may not survive a power cut);
//   exit 1  every file is as it was, byte for byte, and the message claims no success;
//   killed  every file as it was, or the change whole; beside the output of export or salvage,
//           at most its temporary (0600, ours), which the next run of the command removes.

#include "CrashOperations.h"
#include "FaultRun.h"

#include "startup/SettingsFile.h"
#include "startup/Startup.h"
#include "store/CipherGuard.h"
#include "store/EntryWriter.h"
#include "store/LinkFile.h"
#include "store/LinkRecord.h"
#include "store/MasterPasswordFile.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace CrashOperations;
using namespace FaultRun;
using namespace Qt::StringLiterals;

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitMadeUnsure = 3;

const QString kDataDir = u"data"_s;
const QString kLinkFile = kDataDir + u'/' + DataPaths::kLinkFile;
const QString kMasterFile = kDataDir + u'/' + DataPaths::kMasterPasswordFile;
const QString kSettingsFile = kDataDir + u'/' + DataPaths::kSettingsFile;
const QString kLockFile = kDataDir + u'/' + kLockFileName;
const QString kExport = u"out/passwords.csv"_s;
const QString kSalvaged = u"out/salvaged.dab"_s;
const QString kImport = u"in/passwords.csv"_s;
const QString kConflictCopyName = u"QuiURL.sync-conflict-20261211-055826-ZI5QJTT.dab"_s;
const QString kConflictCopy = kDataDir + u'/' + kConflictCopyName;
const QString kMergedCopy = kDataDir + u"/Merged/"_s + kConflictCopyName;

// A whole folder: each file and directory by its path inside, a directory ending in '/'.
struct Node {
    QFileDevice::Permissions permissions;
    QByteArray bytes;
    bool operator==(const Node&) const = default;
};
using Tree = QMap<QString, Node>;

Tree treeOf(const QString& root)
{
    Tree tree;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info = it.nextFileInfo();
        const QString name = info.filePath().mid(root.size() + 1);
        if (info.isSymLink())
            tree.insert(name + u" -> "_s + info.symLinkTarget(), {});
        else if (info.isDir())
            tree.insert(name + u'/', {info.permissions(), {}});
        else
            tree.insert(name, {info.permissions(), readBytes(info.filePath())});
    }
    return tree;
}

// Where two trees part, for a failure's message; empty when they do not.
QString difference(const Tree& found, const Tree& expected)
{
    QStringList parts;
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (!found.contains(it.key()))
            parts << it.key() + u" missing"_s;
        else if (found[it.key()].permissions != it->permissions)
            parts << u"%1 has mode %2, not %3"_s.arg(it.key())
                         .arg(int(found[it.key()].permissions), 0, 16)
                         .arg(int(it->permissions), 0, 16);
        else if (found[it.key()].bytes != it->bytes)
            parts << u"%1 holds %2 bytes that differ from the %3 expected"_s.arg(it.key())
                         .arg(found[it.key()].bytes.size())
                         .arg(it->bytes.size());
    }
    for (auto it = found.cbegin(); it != found.cend(); ++it) {
        if (!expected.contains(it.key()))
            parts << u"%1 (%2 bytes) is new"_s.arg(it.key()).arg(it->bytes.size());
    }
    return parts.join(u"; "_s);
}

// ---- The files before ------------------------------------------------------------------------

constexpr int kEntries = 3;
// More than the 64 KiB a rewrite copies at a time.
constexpr int kManyEntries = 40;
// More than the 64 records a re-encryption writes at a time.
constexpr int kMoreThanABatch = 70;

QByteArray record(const Item& item, const QByteArray& password)
{
    CipherService cipher;
    return encryptEntry(item.title, item.url, item.userName, item.password, password, cipher)
        .value()
        .record;
}

// Two logins in KeePassXC's CSV, as the program would import them.
const QByteArray kImportCsv =
    "\"Group\",\"Title\",\"Username\",\"Password\",\"URL\",\"Notes\"\n"
    "\"Root\",\"Mail\",\"bob\",\"s3cret pw\",\"https://mail.example/\",\"\"\n"
    "\"Root\",\"Bank \xc3\xa9\",\"bob.b\",\"9 digits!\",\"https://bank.example/login\",\"\"\n";
const QList<Item> kImported = {{"Mail", "https://mail.example/", "bob", "s3cret pw"},
                               {"Bank \xe9", "https://bank.example/login", "bob.b", "9 digits!"}};

// The other machine's version: one entry as ours, one new, one with another password.
QList<Item> otherVersion()
{
    Item changed = oldItem(2);
    changed.password = "changed there";
    return {oldItem(0), {"Shop", "https://shop.example/", "carol", "c4rol!"}, changed};
}

// What a layout holds before the run, besides the data files with their entries.
enum Extra {
    kNothing = 0,
    kOldExport = 1,     // an earlier export where the export goes
    kDamagedRecord = 2, // record 2 of the link file cannot be read
    kSyncConflict = 4,  // a sync program's conflict copy of the link file
};

// The files, made with the program's own writers once per layout and copied for every run.
Tree oldFiles(int entries, int extras)
{
    static QMap<std::pair<int, int>, Tree> made;
    const auto key = std::pair(entries, extras);
    if (made.contains(key))
        return made.value(key);
    QTemporaryDir dir;
    if (!dir.isValid())
        return {};
    const QString root = dir.path();
    QDir(root).mkpath(kDataDir);
    QDir(root).mkpath(u"out"_s);
    QDir(root).mkpath(u"in"_s);
    CipherService cipher;
    if (!writeSettingsFile(root + u'/' + kSettingsFile, oldSettings()) ||
        !MasterPasswordFile::create(root + u'/' + kMasterFile, kMasterPassword, cipher))
        return {};
    for (int i = 0; i < entries; ++i) {
        if (!appendLinkRecord(root + u'/' + kLinkFile, record(oldItem(i), kMasterPassword)))
            return {};
    }
    QFile csv(root + u'/' + kImport);
    if (!csv.open(QIODevice::WriteOnly) || csv.write(kImportCsv) != kImportCsv.size())
        return {};
    csv.close();
    if (extras & kOldExport) {
        QFile earlier(root + u'/' + kExport);
        if (!earlier.open(QIODevice::WriteOnly) ||
            earlier.write("an earlier export, kept until a new one is whole\n") < 0 ||
            !earlier.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            return {};
    }
    if (extras & kSyncConflict) {
        for (const Item& item : otherVersion()) {
            if (!appendLinkRecord(root + u'/' + kConflictCopy, record(item, kMasterPassword)))
                return {};
        }
    }
    if (extras & kDamagedRecord) {
        QFile link(root + u'/' + kLinkFile);
        if (!link.open(QIODevice::ReadWrite) || !link.seek(kLinkRecordSize) ||
            link.write("00000000x") != 9)
            return {};
    }
    const Tree tree = treeOf(root);
    made.insert(key, tree);
    return tree;
}

// ---- The table -------------------------------------------------------------------------------

struct Operation {
    const char* row;
    QStringList arguments; // after --data-dir; {export}, {salvaged}, {import} stand for the paths
    QByteArray input;      // standard input
    int entries = kEntries;
    int extras = kNothing;
    // What the change is, told by the program's own readers: empty when the files after a run
    // without faults are right.
    QString (*changeProblem)(const QString& root, const Run& run) = nullptr;
    // A reader: its output is what it reports, and a run that ends well prints what one without
    // faults does.
    bool reader = false;
    // Writes the link file in place after its old bytes: a kill may leave part of the new ones,
    // which the loader passes over and the next append writes over.
    bool appendsInPlace = false;
    // Copies what it can read and names each record it cannot: a read that fails is one such.
    bool skipsUnreadable = false;
    // Puts the conflict copy aside once the merge is in place: a kill or a failure between the
    // two leaves the merged list with the copy where it was, offered again and adding nothing.
    bool putsAside = false;
};

// Empty when the loader reads exactly these entries under this password.
QString entriesProblem(const QString& root, const QList<Item>& items,
                       const QByteArray& password = kMasterPassword,
                       const QString& linkFile = kLinkFile)
{
    return loadedEntriesProblem(root + u'/' + linkFile, items, password);
}

QList<Item> oldItems(int count)
{
    QList<Item> items;
    for (int i = 0; i < count; ++i)
        items.append(oldItem(i));
    return items;
}

const Item kAdded = {"Forum \xe9t\xe9", "https://forum.example/?a=1&b=2", "alice_f", "pw of alice"};

QString addProblem(const QString& root, const Run&)
{
    return entriesProblem(root, oldItems(kEntries) << kAdded);
}

QString firstEntryProblem(const QString& root, const Run&)
{
    return entriesProblem(root, {kAdded});
}

QString editProblem(const QString& root, const Run&)
{
    QList<Item> items = oldItems(kEntries);
    items[1].title = "Renamed";
    items[1].password = "a new one";
    return entriesProblem(root, items);
}

QString removeProblem(const QString& root, const Run&)
{
    QList<Item> items = oldItems(kManyEntries);
    items.removeAt(1);
    return entriesProblem(root, items);
}

QString moveProblem(const QString& root, const Run&)
{
    QList<Item> items = oldItems(kEntries);
    items.prepend(items.takeLast());
    return entriesProblem(root, items);
}

QString passwordChangeProblem(const QString& root, int entries)
{
    CipherService cipher;
    const auto check =
        MasterPasswordFile::check(root + u'/' + kMasterFile, kNewMasterPassword, cipher);
    if (check.outcome != MasterPasswordFile::Outcome::Right)
        return u"the new master password does not open the pair"_s;
    return entriesProblem(root, oldItems(entries), kNewMasterPassword);
}

QString passwordChangeProblem(const QString& root, const Run&)
{
    return passwordChangeProblem(root, kEntries);
}

QString manyPasswordChangeProblem(const QString& root, const Run&)
{
    return passwordChangeProblem(root, kMoreThanABatch);
}

QString importProblem(const QString& root, const Run&)
{
    return entriesProblem(root, oldItems(kEntries) + kImported);
}

QString exportProblem(const QString& root, const Run&)
{
    const QByteArray csv = readBytes(root + u'/' + kExport);
    if (!csv.startsWith("\"Group\",\"Title\",\"Username\",\"Password\""))
        return u"the export has no KeePassXC header"_s;
    if (csv.count('\n') != kEntries + 1)
        return u"the export holds %1 lines"_s.arg(csv.count('\n'));
    for (const Item& item : oldItems(kEntries)) {
        const QString password = QString::fromLatin1(item.password);
        if (!QString::fromUtf8(csv).contains(u"\""_s + password + u"\""_s))
            return u"the export lacks the password of \"%1\""_s.arg(
                QString::fromLatin1(item.title));
    }
    return {};
}

QString salvageProblem(const QString& root, const Run&)
{
    QList<Item> items = oldItems(kEntries);
    items.removeAt(1);
    return entriesProblem(root, items, kMasterPassword, kSalvaged);
}

QString mergeProblem(const QString& root, const Run&)
{
    if (!QFileInfo::exists(root + u'/' + kMergedCopy) ||
        QFileInfo::exists(root + u'/' + kConflictCopy))
        return u"the conflict copy is not put aside"_s;
    QList<Item> other = otherVersion();
    return entriesProblem(root, oldItems(kEntries) << other[1] << other[2]);
}

QString listProblem(const QString&, const Run& run)
{
    for (const Item& item : oldItems(kEntries)) {
        if (!QString::fromUtf8(run.output).contains(QString::fromLatin1(item.title)))
            return u"the list lacks \"%1\""_s.arg(QString::fromLatin1(item.title));
    }
    return {};
}

const QByteArray kPasswordLine = kMasterPassword + '\n';

const Operation kOperations[] = {
    {.row = "add",
     .arguments = {u"add"_s, u"--title"_s, u"Forum \u00e9t\u00e9"_s, u"--url"_s,
                   u"https://forum.example/?a=1&b=2"_s, u"--username"_s, u"alice_f"_s},
     .input = kPasswordLine + "pw of alice\n",
     .changeProblem = addProblem,
     .appendsInPlace = true},
    {.row = "add, first entry",
     .arguments = {u"add"_s, u"--title"_s, u"Forum \u00e9t\u00e9"_s, u"--url"_s,
                   u"https://forum.example/?a=1&b=2"_s, u"--username"_s, u"alice_f"_s},
     .input = kPasswordLine + "pw of alice\n",
     .entries = 0,
     .changeProblem = firstEntryProblem,
     .appendsInPlace = true},
    {.row = "edit",
     .arguments = {u"edit"_s, u"2"_s, u"--title"_s, u"Renamed"_s, u"--password"_s},
     .input = kPasswordLine + "a new one\n",
     .changeProblem = editProblem},
    {.row = "rm, many entries",
     .arguments = {u"rm"_s, u"2"_s},
     .input = kPasswordLine,
     .entries = kManyEntries,
     .changeProblem = removeProblem},
    {.row = "mv",
     .arguments = {u"mv"_s, u"3"_s, u"1"_s},
     .input = kPasswordLine,
     .changeProblem = moveProblem},
    {.row = "passwd",
     .arguments = {u"passwd"_s},
     .input = kPasswordLine + kNewMasterPassword + '\n' + kNewMasterPassword + '\n',
     .changeProblem = passwordChangeProblem},
    {.row = "passwd, many entries",
     .arguments = {u"passwd"_s},
     .input = kPasswordLine + kNewMasterPassword + '\n' + kNewMasterPassword + '\n',
     .entries = kMoreThanABatch,
     .changeProblem = manyPasswordChangeProblem},
    {.row = "import",
     .arguments = {u"import"_s, u"{import}"_s, u"--format"_s, u"keepassxc"_s},
     .input = kPasswordLine,
     .changeProblem = importProblem},
    {.row = "export over an earlier one",
     .arguments = {u"export"_s, u"--format"_s, u"keepassxc"_s, u"-o"_s, u"{export}"_s},
     .input = kPasswordLine,
     .extras = kOldExport,
     .changeProblem = exportProblem},
    {.row = "salvage",
     .arguments = {u"salvage"_s, u"-o"_s, u"{salvaged}"_s},
     .input = kPasswordLine,
     .extras = kDamagedRecord,
     .changeProblem = salvageProblem,
     .skipsUnreadable = true},
    {.row = "merge",
     .arguments = {u"merge"_s, u"{copy}"_s},
     .input = kPasswordLine,
     .extras = kSyncConflict,
     .changeProblem = mergeProblem,
     .putsAside = true},
    {.row = "list",
     .arguments = {u"list"_s},
     .input = kPasswordLine,
     .changeProblem = listProblem,
     .reader = true},
};

const Operation& operationNamed(const QString& row)
{
    for (const Operation& operation : kOperations) {
        if (row == QLatin1String(operation.row))
            return operation;
    }
    qFatal("no operation %s", qPrintable(row));
}

// What a run may print when it fails, and never does: its words for a success.
const QStringList kSuccessWords = {u"imported 2 entries"_s, u"entries written to"_s,
                                   u"records copied into"_s};
// What a run may not say when its change is made.
const QStringList kNothingWords = {u"nothing was"_s, u"nothing is"_s, u"not changed"_s};

// ---- One folder per run ----------------------------------------------------------------------

const QByteArray kProgram = QByteArrayLiteral(QUILLOR_BUILD_DIR "/quillor-cli");

// A folder holding the data directory, the export's and the import's, watched by the injector;
// the log and the standard streams lie beside it.
class Trial {
public:
    explicit Trial(const Operation& operation)
        : m_operation(operation)
    {
        QVERIFY(m_tmp.isValid());
        // The injector logs the paths the kernel gives.
        m_root = QFileInfo(m_tmp.filePath(u"home"_s)).absoluteFilePath();
        m_scratch = m_tmp.filePath(u"scratch"_s);
        QVERIFY(QDir().mkpath(m_root));
        QVERIFY(QDir().mkpath(m_scratch));
        m_root = QFileInfo(m_root).canonicalFilePath();
        m_before = oldFiles(operation.entries, operation.extras);
        QVERIFY(!m_before.isEmpty());
        for (auto it = m_before.cbegin(); it != m_before.cend(); ++it) {
            const QString path = m_root + u'/' + it.key();
            if (it.key().endsWith(u'/')) {
                QVERIFY(QDir().mkpath(path));
            } else {
                QFile file(path);
                QVERIFY(file.open(QIODevice::WriteOnly));
                QCOMPARE(file.write(it->bytes), it->bytes.size());
            }
            QVERIFY(QFile::setPermissions(path, it->permissions));
        }
        QCOMPARE(treeOf(m_root), m_before);
    }

    const QString& root() const { return m_root; }
    const Tree& before() const { return m_before; }
    Tree now() const { return treeOf(m_root); }

    Run run(const Fault& fault) const
    {
        QList<QByteArray> arguments{"--data-dir", QFile::encodeName(m_root + u'/' + kDataDir)};
        for (QString argument : m_operation.arguments) {
            argument.replace(u"{export}"_s, m_root + u'/' + kExport);
            argument.replace(u"{salvaged}"_s, m_root + u'/' + kSalvaged);
            argument.replace(u"{import}"_s, m_root + u'/' + kImport);
            argument.replace(u"{copy}"_s, m_root + u'/' + kConflictCopy);
            arguments.append(argument.toUtf8());
        }
        Launch launch;
        launch.watchedDir = m_root;
        launch.scratch = m_scratch;
        launch.input = m_operation.input;
        launch.keepOutput = true;
        // The folder differs from run to run; the messages are compared without it.
        Run run = runUnderInjector(kProgram, arguments, launch, fault);
        run.output.replace(QFile::encodeName(m_root), "{root}");
        run.errorOutput.replace(m_root, u"{root}"_s);
        return run;
    }

    // The next writer, with no fault: it takes the lock, clears what a killed write left and
    // finishes a password change whose switch was decided. A wrong password ends it there, so
    // nothing else is written. Empty when it went so; else what it said.
    QString settle() const
    {
        Launch launch;
        launch.scratch = m_scratch;
        launch.input = "not the password\nx\nx\n";
        launch.inject = false;
        const Run run = runUnderInjector(
            kProgram, {"--data-dir", QFile::encodeName(m_root + u'/' + kDataDir), "passwd"}, launch,
            {});
        if (run.exitedWith(kExitFailed) && run.errorOutput.contains(u"wrong master password"_s))
            return {};
        return u"the next writer ends with "_s + run.outcome();
    }

private:
    const Operation& m_operation;
    QTemporaryDir m_tmp;
    QString m_root;
    QString m_scratch;
    Tree m_before;
};

// The run without faults, and what it leaves once settled.
struct Census {
    Run run;
    Tree after;
};

std::optional<Census> takeCensus(const Operation& operation, QString& problem)
{
    Trial trial(operation);
    Census census{trial.run({}), {}};
    if (!census.run.exitedWith(kExitDone)) {
        problem = u"without faults the command ends with "_s + census.run.outcome();
        return std::nullopt;
    }
    if (const QString settled = trial.settle(); !settled.isEmpty()) {
        problem = u"without faults: "_s + settled;
        return std::nullopt;
    }
    census.after = trial.now();
    if (operation.changeProblem) {
        problem = operation.changeProblem(trial.root(), census.run);
        if (!problem.isEmpty())
            return std::nullopt;
    }
    if (!operation.reader && census.after == trial.before()) {
        problem = u"without faults the command changes nothing"_s;
        return std::nullopt;
    }
    return census;
}

// The names the change makes or removes, from the root.
QStringList changedPaths(const Tree& before, const Tree& after, const QString& root)
{
    QSet<QString> names(before.keyBegin(), before.keyEnd());
    names.unite(QSet<QString>(after.keyBegin(), after.keyEnd()));
    QStringList paths;
    for (const QString& name : names) {
        if (!before.contains(name) || !after.contains(name) || before[name] != after[name])
            paths.append(root + u'/' + name);
    }
    return paths;
}

bool sameNames(const Tree& a, const Tree& b)
{
    return QSet<QString>(a.keyBegin(), a.keyEnd()) == QSet<QString>(b.keyBegin(), b.keyEnd());
}

// How runs went, for the line the log keeps.
struct Totals {
    long kills = 0;
    long tears = 0;
    long failures = 0;
    long lost = 0;        // neither the old files nor the new ones
    long misreported = 0; // the status or the message says other than what is on disk
    long refused = 0;     // the next writer cannot work on what the run left
    long leftBehind = 0;  // files a run made for itself, outliving it and the next writer
    long removedNext = 0; // kills that left the output's temporary, which the next run removed
};
Totals g_totals;

enum class Fate { Fine, Lost, Misreported, Refused, LeftBehind };

struct Verdict {
    Fate fate = Fate::Fine;
    QString problem;
};

Verdict lost(const QString& problem)
{
    return {Fate::Lost, problem};
}

Verdict misreported(const QString& problem)
{
    return {Fate::Misreported, problem};
}

// The lines the program wrote itself, not the ones the libraries beneath it did.
QStringList ownLines(const QString& errorOutput)
{
    QStringList own;
    for (const QString& line : errorOutput.split(u'\n')) {
        if (line.startsWith(u"quillor-cli: "_s))
            own << line;
    }
    return own;
}

// The lock file's own writes and syncs, which hold no data.
QList<Point> withoutLock(QList<Point> points, const QString& root)
{
    const QString lock = root + u'/' + kLockFile;
    points.removeIf([&](const Point& point) { return point.path == lock; });
    return points;
}

// The link file's old bytes, then a part of the new ones; every other file as it was.
bool partlyAppended(const Tree& found, const Tree& before, const Tree& after)
{
    Tree rest = found;
    rest.remove(kLinkFile);
    Tree old = before;
    old.remove(kLinkFile);
    const QByteArray bytes = found.value(kLinkFile).bytes;
    const QByteArray full = after.value(kLinkFile).bytes;
    return rest == old && found.contains(kLinkFile) &&
           bytes.size() >= before.value(kLinkFile).bytes.size() && full.startsWith(bytes);
}

// The change made, but the conflict copy still where it was: Merged made or not, empty.
bool madeButNotPutAside(const Tree& found, const Tree& after)
{
    Tree expected = after;
    if (!expected.contains(kMergedCopy))
        return false;
    expected.insert(kConflictCopy, expected.take(kMergedCopy));
    Tree rest = found;
    rest.remove(kDataDir + u"/Merged/"_s);
    expected.remove(kDataDir + u"/Merged/"_s);
    return rest == expected;
}

// A salvage that could not read a record names it and copies the others: what it says it
// copied must be a whole link file, durable, and nothing else may change.
Verdict salvagedProblem(const Trial& trial, const Run& run)
{
    static const QRegularExpression copied(u"(\\d+) of \\d+ records copied"_s);
    const QRegularExpressionMatch match = copied.match(run.errorOutput);
    if (!match.hasMatch())
        return misreported(u"skipped an unreadable record, and said nothing of the copy"_s);
    Tree found = trial.now();
    found.remove(kLockFile);
    const QString path = trial.root() + u'/' + kSalvaged;
    CipherService cipher;
    const LinkFileRead read = readLinkFile(path, kMasterPassword, cipher, EmptyLinkFile::Keep);
    if (!read.ok() || read.entries.size() != match.captured(1).toULongLong())
        return lost(u"said %1 records were copied, but the loader %2"_s.arg(
            match.captured(1), read.ok() ? u"reads %1"_s.arg(read.entries.size()) : read.failure));
    found.remove(kSalvaged);
    if (found != trial.before())
        return lost(u"changed beside the copy: "_s + difference(found, trial.before()));
    if (const QString durability =
            durabilityProblem(withoutLock(run.points, trial.root()), {path}, true);
        !durability.isEmpty())
        return misreported(u"reported success, but "_s + durability);
    return {};
}

// The target the command writes where the user names it; empty for the others.
QString outputOf(const Operation& operation)
{
    for (const QString& argument : operation.arguments) {
        if (argument == u"{export}"_s)
            return kExport;
        if (argument == u"{salvaged}"_s)
            return kSalvaged;
    }
    return {};
}

// Empty when each of names is a temporary a kill left beside the command's output, as the next
// run of the command removes: the output's name and six letters or digits, a plain file of ours
// alone, at no other name. Else the first that is not.
QString notOurTemporary(const Operation& operation, const QString& root, const QStringList& names)
{
    static const QRegularExpression suffix(u"^\\.[A-Za-z0-9]{6}$"_s);
    const QString output = outputOf(operation);
    for (const QString& name : names) {
        struct stat st {};
        if (output.isEmpty() || !name.startsWith(output) ||
            !suffix.match(QStringView(name).mid(output.size())).hasMatch() ||
            ::lstat(QFile::encodeName(root + u'/' + name).constData(), &st) != 0 ||
            !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 07777) != 0600 ||
            st.st_nlink != 1)
            return name;
    }
    return {};
}

// Empty when the same command run again without faults ends well, leaving the files a run
// without faults does and nothing beside them; else what it did.
QString removedByNextRun(const Trial& trial, const Tree& after)
{
    const Run again = trial.run({});
    if (!again.exitedWith(kExitDone))
        return u"the next run, ending with %1, did not remove"_s.arg(again.outcome());
    if (const QString settled = trial.settle(); !settled.isEmpty())
        return u"the next run did not remove: "_s + settled;
    if (const Tree found = trial.now(); found != after)
        return u"the next run did not remove: "_s + difference(found, after);
    return {};
}

// Judges a run with a fault against the disk: see the top of the file.
Verdict judge(const Operation& operation, const Census& census, const Trial& trial, const Run& run,
              const Fault& fault)
{
    const Tree& before = trial.before();
    const Tree& after = census.after;
    const QString messages = QString::fromUtf8(run.output) + run.errorOutput;
    const bool killed = run.killed() && fault.mode != "fail";
    const bool done = run.exitedWith(kExitDone);

    if (done && operation.skipsUnreadable && fault.mode == "fail" &&
        run.points[fault.at - 1].call.contains("read") &&
        run.errorOutput.contains(u"skipped: it cannot be read"_s))
        return salvagedProblem(trial, run);
    if (done) {
        // The lock goes when the program ends; whatever it left, the next writer takes it.
        Tree found = trial.now();
        found.remove(kLockFile);
        if (found != after) {
            const QString problem = u"reported success, but "_s + difference(found, after);
            return trial.settle().isEmpty() && trial.now() == after ? misreported(problem)
                                                                    : lost(problem);
        }
        if (operation.reader && run.output != census.run.output)
            return misreported(
                u"reported success, but printed %1 bytes where %2 were expected: %3"_s.arg(
                    QString::number(run.output.size()), QString::number(census.run.output.size()),
                    QString::fromUtf8(run.output.left(200))));
        // What it says when all goes well, and no word that nothing was done; a warning about
        // a step beside the change (the settings a new password touches) may come with it.
        QStringList said = ownLines(run.errorOutput);
        for (const QString& line : ownLines(census.run.errorOutput)) {
            if (!said.removeOne(line))
                return misreported(u"reported success, but did not say \"%1\""_s.arg(line));
        }
        for (const QString& word : kNothingWords) {
            if (said.join(u'\n').contains(word))
                return misreported(u"reported success, but said: "_s + said.join(u" | "_s));
        }
        if (const QString durability = durabilityProblem(withoutLock(run.points, trial.root()),
                                                         changedPaths(before, after, trial.root()),
                                                         !sameNames(before, after));
            !durability.isEmpty())
            return misreported(u"reported success, but "_s + durability);
    } else if (run.exitedWith(kExitFailed)) {
        if (run.errorOutput.trimmed().isEmpty())
            return misreported(u"failed without a word"_s);
        for (const QString& word : kSuccessWords) {
            if (messages.contains(word))
                return misreported(u"failed, but said \"%1\""_s.arg(word));
        }
    } else if (run.exitedWith(kExitMadeUnsure)) {
        if (run.errorOutput.trimmed().isEmpty())
            return misreported(u"made the change unsure of it, without a word"_s);
        for (const QString& word : kNothingWords) {
            if (messages.contains(word))
                return misreported(u"made the change, but said \"%1\""_s.arg(word));
        }
    } else if (!killed) {
        return misreported(u"ended so"_s);
    }

    if (const QString settled = trial.settle(); !settled.isEmpty())
        return {Fate::Refused, settled};
    const Tree found = trial.now();
    const bool old = found == before;
    const bool made = found == after;
    if (!old && !made) {
        // Whole but for files that neither the old nor the new holds: temporaries.
        Tree whole = found;
        QStringList extra;
        for (auto it = found.cbegin(); it != found.cend(); ++it) {
            if (!before.contains(it.key()) && !after.contains(it.key())) {
                whole.remove(it.key());
                extra << it.key();
            }
        }
        if (killed && operation.appendsInPlace && partlyAppended(found, before, after)) {
            return {};
        }
        if (killed && (whole == before || whole == after) && !extra.isEmpty() &&
            notOurTemporary(operation, trial.root(), extra).isEmpty()) {
            const QString notRemoved = removedByNextRun(trial, after);
            if (notRemoved.isEmpty()) {
                ++g_totals.removedNext;
                return {};
            }
            return {Fate::LeftBehind,
                    u"left behind %1, which %2"_s.arg(extra.join(u", "_s), notRemoved)};
        }
        if ((killed || run.exitedWith(kExitMadeUnsure)) && operation.putsAside &&
            madeButNotPutAside(found, after))
            return {};
        if (whole == before || whole == after)
            return {Fate::LeftBehind,
                    u"after the settle, left behind beside the %1 files: %2"_s.arg(
                        whole == before ? u"old"_s : u"new"_s, extra.join(u", "_s))};
        return lost(u"after the settle neither the old files nor the new: against the old, "_s +
                    difference(found, before) + u"; against the new, "_s +
                    difference(found, after));
    }
    if (run.exitedWith(kExitFailed) && !old)
        return misreported(u"reported a failure, but the change is in place"_s);
    if ((done || run.exitedWith(kExitMadeUnsure)) && !made)
        return misreported(u"reported the change made, but the disk holds the old files"_s);
    return {};
}

// Every point of every command is tried: the largest makes some 70 calls, which the quick run
// takes in well under a minute. The full sweep (QUILLOR_FAULTS_FULL=1, `./dev.sh crash-full`)
// fails each call with every error the injector knows, not only a full and a failing disk.
QList<QByteArray> errorsToTry()
{
    if (qEnvironmentVariableIntValue("QUILLOR_FAULTS_FULL") == 1)
        return {"ENOSPC", "EIO", "EACCES", "EMFILE"};
    return {"ENOSPC", "EIO"};
}

QList<long> pointsToTry(const Run& census, bool writesOnly)
{
    QList<long> chosen;
    for (long k = 1; k <= census.points.size(); ++k) {
        if (!writesOnly || isWrite(census.points[k - 1].call))
            chosen.append(k);
    }
    return chosen;
}

QString describeFault(const Fault& fault, const Run& census)
{
    return u"%1 at %2"_s.arg(
        QString::fromLatin1(fault.mode == "fail" ? "fail " + fault.error : fault.mode),
        describePoint(census, fault.at));
}

} // namespace

class TestCliFaults : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void operations_data();
    void completeRun_data() { operations_data(); }
    void completeRun();
    void killAtEveryPoint_data() { operations_data(); }
    void killAtEveryPoint();
    void tearEveryWrite_data() { operations_data(); }
    void tearEveryWrite();
    void failEveryPoint_data() { operations_data(); }
    void failEveryPoint();

private:
    void runAll(const QByteArray& mode, const QList<QByteArray>& errors, bool writesOnly);
};

void TestCliFaults::initTestCase()
{
    QTest::failOnWarning(QRegularExpression(u".*"_s));
    QVERIFY2(QFileInfo(QFile::decodeName(kProgram)).isExecutable(), kProgram.constData());
}

void TestCliFaults::cleanupTestCase()
{
    qInfo("quillor-cli fault trials: %ld (%ld kills, %ld torn writes, %ld failed calls); "
          "%ld lost, %ld misreported, %ld refused the next writer, %ld left files behind "
          "(%ld more left a temporary the next run removed)",
          g_totals.kills + g_totals.tears + g_totals.failures, g_totals.kills, g_totals.tears,
          g_totals.failures, g_totals.lost, g_totals.misreported, g_totals.refused,
          g_totals.leftBehind, g_totals.removedNext);
}

void TestCliFaults::operations_data()
{
    QTest::addColumn<QString>("row");
    for (const Operation& operation : kOperations)
        QTest::newRow(operation.row) << QString::fromLatin1(operation.row);
}

// Without faults: the change the program's readers expect, synced, nothing left over.
void TestCliFaults::completeRun()
{
    QFETCH(QString, row);
    const Operation& operation = operationNamed(row);
    QString problem;
    const std::optional<Census> census = takeCensus(operation, problem);
    QVERIFY2(census, qPrintable(problem));
    QVERIFY2(!census->run.points.isEmpty(), "the injector saw no call");
    Trial trial(operation);
    const Verdict verdict = judge(operation, *census, trial, trial.run({}), {});
    QVERIFY2(verdict.problem.isEmpty(), qPrintable(verdict.problem));
}

void TestCliFaults::runAll(const QByteArray& mode, const QList<QByteArray>& errors, bool writesOnly)
{
    QFETCH(QString, row);
    const Operation& operation = operationNamed(row);
    QString problem;
    const std::optional<Census> census = takeCensus(operation, problem);
    QVERIFY2(census, qPrintable(problem));
    const QList<long> points = pointsToTry(census->run, writesOnly);
    QStringList problems;
    for (const QByteArray& error : errors) {
        for (const long k : points) {
            const Fault fault{mode, k, error};
            Trial trial(operation);
            const Run run = trial.run(fault);
            Verdict verdict;
            verdict.problem = repeatabilityProblem(run, census->run, k,
                                                   mode == "fail"   ? "fail"
                                                   : mode == "tear" ? "tear"
                                                                    : "kill");
            if (verdict.problem.isEmpty() && mode != "fail" && !run.killed())
                verdict.problem = u"not killed"_s;
            if (verdict.problem.isEmpty())
                verdict = judge(operation, *census, trial, run, fault);
            switch (verdict.fate) {
            case Fate::Fine:
                break;
            case Fate::Lost:
                ++g_totals.lost;
                break;
            case Fate::Misreported:
                ++g_totals.misreported;
                break;
            case Fate::Refused:
                ++g_totals.refused;
                break;
            case Fate::LeftBehind:
                ++g_totals.leftBehind;
                break;
            }
            if (!verdict.problem.isEmpty())
                problems.append(
                    u"%1, %2: %3; %4"_s
                        .arg(row, describeFault(fault, census->run), run.outcome(), verdict.problem)
                        .replace(u'\n', u" | "_s));
        }
    }
    const long tried = long(points.size() * errors.size());
    if (mode == "kill")
        g_totals.kills += tried;
    else if (mode == "tear")
        g_totals.tears += tried;
    else
        g_totals.failures += tried;
    qInfo("%s: %s at %lld of %lld points%s", qPrintable(row), mode.constData(),
          qlonglong(points.size()), qlonglong(census->run.points.size()),
          mode == "fail" ? qPrintable(u" with "_s + QString::fromLatin1(errors.join(" and ")))
                         : "");
    // One line each: the test's own message is cut short after a kilobyte.
    for (const QString& line : problems)
        qInfo("%s", qPrintable(line));
    QVERIFY2(
        problems.isEmpty(),
        qPrintable(
            u"%1 of %2 runs went wrong, each on a line above"_s.arg(problems.size()).arg(tried)));
}

// SIGKILL before each call: the old files or the new ones, whole.
void TestCliFaults::killAtEveryPoint()
{
    runAll("kill", {QByteArray()}, false);
}

// Half of a write down, then SIGKILL.
void TestCliFaults::tearEveryWrite()
{
    runAll("tear", {QByteArray()}, true);
}

// Each call fails in turn, as on a full or failing disk: the status says what is on disk.
void TestCliFaults::failEveryPoint()
{
    runAll("fail", errorsToTry(), false);
}

QTEST_GUILESS_MAIN(TestCliFaults)
#include "tst_clifaults.moc"
