// Each write operation of the core, run in a child process that is killed, torn or failed at
// every system call it makes on the data directory in turn; afterwards the files are read with
// the program's own loaders. Nothing acknowledged may be lost, no file may be a mixture of old
// and new, a reported success must be on disk, and no temporary file may outlive a start-up.

#include "CrashOperations.h"
#include "FaultRun.h"

#include "startup/SettingsFile.h"
#include "startup/Startup.h"
#include "store/CipherGuard.h"
#include "store/EntryWriter.h"
#include "store/LinkFile.h"
#include "store/LinkRecord.h"
#include "store/MasterPasswordFile.h"
#include "store/PairFiles.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using namespace CrashOperations;
using namespace FaultRun;
using namespace Qt::StringLiterals;

namespace {

const QString kLinkFile = DataPaths::kLinkFile;
const QString kSettingsFile = DataPaths::kSettingsFile;
const QString kMasterFile = DataPaths::kMasterPasswordFile;

// ---- What the data directory holds -------------------------------------------------------------

enum class Content { Old, New };

QList<Item> oldItems(int count)
{
    QList<Item> items;
    for (int i = 0; i < count; ++i)
        items.append(oldItem(i));
    return items;
}

QByteArray record(const Item& item, const QByteArray& password)
{
    CipherService cipher;
    return encryptEntry(item.title, item.url, item.userName, item.password, password, cipher)
        .value()
        .record;
}

QByteArray newRecord()
{
    return record(kNewItem, kMasterPassword);
}

// Empty when the real loader reads exactly these entries from the link file.
QString linkFileProblem(const QString& dir, const QList<Item>& items,
                        const QByteArray& password = kMasterPassword)
{
    return loadedEntriesProblem(dir + u'/' + kLinkFile, items, password);
}

// The new bytes of a target, from its old ones (empty when there was none).

std::optional<QByteArray> linkFileAfterAdd(const QString&, const QByteArray& old)
{
    return old + newRecord();
}

std::optional<QByteArray> linkFileAfterReplace(const QString&, const QByteArray& old)
{
    return QByteArray(old).replace((kReplacedEntry - 1) * kLinkRecordSize, kLinkRecordSize,
                                   newRecord());
}

std::optional<QByteArray> linkFileAfterDelete(const QString&, const QByteArray& old)
{
    return QByteArray(old).remove((kReplacedEntry - 1) * kLinkRecordSize, kLinkRecordSize);
}

std::optional<QByteArray> linkFileAfterMove(const QString&, const QByteArray& old)
{
    return old.last(kLinkRecordSize) + old.first(old.size() - kLinkRecordSize);
}

// The digit code's padding is random: only the loader can tell new settings.
std::optional<QByteArray> unforeseeable(const QString&, const QByteArray&)
{
    return std::nullopt;
}

std::optional<QByteArray> newMasterPasswordFile(const QString&, const QByteArray&)
{
    CipherService cipher;
    return MasterPasswordFile::makeRecord(kNewMasterPassword, cipher);
}

std::optional<QByteArray> pairAfterPasswordChange(const QString& target, const QByteArray& old)
{
    if (target == kMasterFile)
        return newMasterPasswordFile(target, old);
    QByteArray bytes;
    for (const Item& item : oldItems(int(old.size() / kLinkRecordSize)))
        bytes += record(item, kNewMasterPassword);
    return bytes;
}

// What the loaders read: empty when they read the old (or the new) content of a directory whose
// link file held that many entries before.

QString addLoaderProblem(const QString& dir, Content content, int entries)
{
    QList<Item> items = oldItems(entries);
    if (content == Content::New)
        items.append(kNewItem);
    return linkFileProblem(dir, items);
}

QString replaceLoaderProblem(const QString& dir, Content content, int entries)
{
    QList<Item> items = oldItems(entries);
    if (content == Content::New)
        items[kReplacedEntry - 1] = kNewItem;
    return linkFileProblem(dir, items);
}

QString deleteLoaderProblem(const QString& dir, Content content, int entries)
{
    QList<Item> items = oldItems(entries);
    if (content == Content::New)
        items.removeAt(kReplacedEntry - 1);
    return linkFileProblem(dir, items);
}

QString moveLoaderProblem(const QString& dir, Content content, int entries)
{
    QList<Item> items = oldItems(entries);
    if (content == Content::New)
        items.prepend(items.takeLast());
    return linkFileProblem(dir, items);
}

// Fields compared through one encoding with a fixed generator for the padding.
QByteArray comparable(const Settings& settings)
{
    QRandomGenerator random(7);
    return SettingsRecord::encode(settings, random);
}

QString settingsLoaderProblem(const QString& dir, Content content, int)
{
    const QString path = dir + u'/' + kSettingsFile;
    const SettingsRead read = readSettingsFile(path);
    if (!read.settings)
        return u"the settings do not load: "_s + read.failure;
    if (QFile(path).size() != SettingsRecord::kSize)
        return u"the settings file holds %1 bytes"_s.arg(QFile(path).size());
    if (comparable(*read.settings) !=
        comparable(content == Content::Old ? oldSettings() : newSettings()))
        return u"the settings read are not the %1 ones"_s.arg(content == Content::Old ? u"old"_s
                                                                                      : u"new"_s);
    return {};
}

QString masterPasswordLoaderProblem(const QString& dir, Content content, int)
{
    const QString path = dir + u'/' + kMasterFile;
    const QByteArray password = content == Content::Old ? kMasterPassword : kNewMasterPassword;
    CipherService cipher;
    const MasterPasswordFile::Check check = MasterPasswordFile::check(path, password, cipher);
    if (check.outcome == MasterPasswordFile::Outcome::NoMasterPassword && content == Content::Old)
        return {};
    if (check.outcome != MasterPasswordFile::Outcome::Right ||
        check.checkValue != MasterPasswordFile::kCheckValue)
        return u"the master password file does not open with \"%1\" %2"_s.arg(
            QString::fromLatin1(password), check.failure);
    return {};
}

QString passwordChangeLoaderProblem(const QString& dir, Content content, int entries)
{
    if (const QString problem = masterPasswordLoaderProblem(dir, content, entries);
        !problem.isEmpty())
        return problem;
    return linkFileProblem(dir, oldItems(entries),
                           content == Content::Old ? kMasterPassword : kNewMasterPassword);
}

// ---- Laying out the old files, with the program's own writers ---------------------------------

void writeOldFiles(const QString& dir, int entries, bool masterPassword)
{
    const SaveResult settings = writeSettingsFile(dir + u'/' + kSettingsFile, oldSettings());
    QVERIFY2(settings.ok(), qPrintable(settings.error()));
    CipherService cipher;
    if (masterPassword) {
        const SaveResult saved =
            MasterPasswordFile::create(dir + u'/' + kMasterFile, kMasterPassword, cipher);
        QVERIFY2(saved.ok(), qPrintable(saved.error()));
    }
    for (const Item& item : oldItems(entries)) {
        const auto encrypted = encryptEntry(item.title, item.url, item.userName, item.password,
                                            kMasterPassword, cipher);
        QVERIFY(encrypted);
        const SaveResult saved = appendLinkRecord(dir + u'/' + kLinkFile, encrypted->record);
        QVERIFY2(saved.ok(), qPrintable(saved.error()));
    }
}

// The old files of a data directory, made once per layout by the writers and copied for each
// run, which keeps the disk's syncs out of the hundreds of runs.
QMap<QString, QByteArray> oldFiles(int entries, bool masterPassword)
{
    static QMap<std::pair<int, bool>, QMap<QString, QByteArray>> made;
    const auto key = std::pair(entries, masterPassword);
    if (!made.contains(key)) {
        QTemporaryDir dir;
        if (!dir.isValid())
            return {};
        writeOldFiles(dir.path(), entries, masterPassword);
        QMap<QString, QByteArray> files;
        for (const QString& name : QDir(dir.path()).entryList(QDir::Files))
            files.insert(name, readBytes(dir.filePath(name)));
        made.insert(key, files);
    }
    return made.value(key);
}

// ---- The table ---------------------------------------------------------------------------------

// An odd number of entries, so that half a record more rounds up to one more for the loader.
constexpr int kEntries = 3;
// More than the 64 KiB a rewrite copies at a time.
constexpr int kManyEntries = 40;
// More than the 64 records a re-encryption writes at a time.
constexpr int kMoreThanABatch = 70;

// One write operation on a data directory with the settings, a master password file and a link
// file. A new operation is a function in CrashDriver.cpp and a row in the table below.
struct Operation {
    const char* row;
    const char* driverOperation;
    QStringList targets; // the files it writes, all old or all new
    // A target's new bytes from its old ones; nullopt when only the loaders can tell.
    std::optional<QByteArray> (*newBytes)(const QString& target, const QByteArray& old);
    // Empty when the loaders read the old, or the new, content.
    QString (*loaderProblem)(const QString& dir, Content content, int entries);
    int entries = kEntries;     // in the link file before; 0: no link file
    bool masterPassword = true; // a master password file before
    // Writes in place after the old bytes: a kill may leave part of the new ones, which the
    // loader must then pass over.
    bool appendsInPlace = false;
};

const Operation kOperations[] = {
    {.row = "add",
     .driverOperation = "add",
     .targets = {kLinkFile},
     .newBytes = linkFileAfterAdd,
     .loaderProblem = addLoaderProblem,
     .appendsInPlace = true},
    {.row = "add, first entry",
     .driverOperation = "add",
     .targets = {kLinkFile},
     .newBytes = linkFileAfterAdd,
     .loaderProblem = addLoaderProblem,
     .entries = 0,
     .appendsInPlace = true},
    {.row = "replace",
     .driverOperation = "replace",
     .targets = {kLinkFile},
     .newBytes = linkFileAfterReplace,
     .loaderProblem = replaceLoaderProblem},
    {.row = "replace, many entries",
     .driverOperation = "replace",
     .targets = {kLinkFile},
     .newBytes = linkFileAfterReplace,
     .loaderProblem = replaceLoaderProblem,
     .entries = kManyEntries},
    {.row = "delete",
     .driverOperation = "delete",
     .targets = {kLinkFile},
     .newBytes = linkFileAfterDelete,
     .loaderProblem = deleteLoaderProblem},
    {.row = "settings",
     .driverOperation = "settings",
     .targets = {kSettingsFile},
     .newBytes = unforeseeable,
     .loaderProblem = settingsLoaderProblem},
    {.row = "master password",
     .driverOperation = "master-password",
     .targets = {kMasterFile},
     .newBytes = newMasterPasswordFile,
     .loaderProblem = masterPasswordLoaderProblem},
    {.row = "master password, none before",
     .driverOperation = "master-password",
     .targets = {kMasterFile},
     .newBytes = newMasterPasswordFile,
     .loaderProblem = masterPasswordLoaderProblem,
     .entries = 0,
     .masterPassword = false},
    {.row = "change password",
     .driverOperation = "change-password",
     .targets = {kMasterFile, kLinkFile},
     .newBytes = pairAfterPasswordChange,
     .loaderProblem = passwordChangeLoaderProblem},
    {.row = "change password, many entries",
     .driverOperation = "change-password",
     .targets = {kMasterFile, kLinkFile},
     .newBytes = pairAfterPasswordChange,
     .loaderProblem = passwordChangeLoaderProblem,
     .entries = kMoreThanABatch},
    {.row = "change password, no link file",
     .driverOperation = "change-password",
     .targets = {kMasterFile, kLinkFile},
     .newBytes = pairAfterPasswordChange,
     .loaderProblem = passwordChangeLoaderProblem,
     .entries = 0},
    {.row = "move",
     .driverOperation = "move",
     .targets = {kLinkFile},
     .newBytes = linkFileAfterMove,
     .loaderProblem = moveLoaderProblem},
};

const Operation& operationNamed(const QString& row)
{
    for (const Operation& operation : kOperations) {
        if (row == QLatin1String(operation.row))
            return operation;
    }
    qFatal("no operation %s", qPrintable(row));
}

// ---- Running the driver under the fault injector -----------------------------------------------

bool saved(const Run& run)
{
    return run.exitedWith(kExitSaved);
}

bool failed(const Run& run)
{
    return run.exitedWith(kExitFailed);
}

Run runDriver(const Operation& operation, const QString& dataDir, const QString& scratch,
              const Fault& fault)
{
    Launch launch;
    launch.watchedDir = dataDir;
    launch.scratch = scratch;
    return runUnderInjector(QByteArrayLiteral(QUILLOR_CRASH_DRIVER),
                            {operation.driverOperation, QFile::encodeName(dataDir)}, launch, fault);
}

QStringList pathsIn(const QString& dir, const QStringList& names)
{
    QStringList paths;
    for (const QString& name : names)
        paths.append(dir + u'/' + name);
    return paths;
}

// ---- One data directory per run ----------------------------------------------------------------

// How a run ended, for the check of what it left.
enum class Ending {
    Killed,          // nothing was reported
    ReportedFailure, // the old content, exactly
    ReportedSuccess, // the new content, exactly
};

// A profile whose data directory the operation works in, so that the real start-up can run on
// it afterwards.
class Trial {
public:
    explicit Trial(const Operation& operation)
        : m_operation(operation)
    {
        QVERIFY(m_tmp.isValid());
        m_profile = m_tmp.filePath(u"profile"_s);
        m_dataDir = dataDirectoryFor(m_profile);
        m_scratch = m_tmp.filePath(u"scratch"_s);
        QVERIFY(QDir().mkpath(m_dataDir));
        QVERIFY(QDir().mkpath(m_scratch));
        QVERIFY(QFile::setPermissions(m_dataDir, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                     QFileDevice::ExeOwner));
        m_before = oldFiles(operation.entries, operation.masterPassword);
        QVERIFY(!m_before.isEmpty());
        for (auto it = m_before.cbegin(); it != m_before.cend(); ++it) {
            QFile file(m_dataDir + u'/' + it.key());
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(it.value()), it.value().size());
            QVERIFY(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        }
    }

    const QString& dataDir() const { return m_dataDir; }

    Run run(const Fault& fault) { return runDriver(m_operation, m_dataDir, m_scratch, fault); }

    QStringList names() const
    {
        return QDir(m_dataDir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                         QDir::NoDotAndDotDot);
    }
    bool namesChanged() const
    {
        const QStringList now = names();
        return QSet<QString>(now.begin(), now.end()) !=
               QSet<QString>(m_before.keyBegin(), m_before.keyEnd());
    }

    // Empty when the directory holds what the ending allows: old or new content, as the loaders
    // read it and byte for byte, every file but the targets untouched. Otherwise what is there.
    QString problem(Ending ending) const
    {
        const QStringList now = names();
        for (auto it = m_before.cbegin(); it != m_before.cend(); ++it) {
            if (m_operation.targets.contains(it.key()))
                continue;
            if (!now.contains(it.key()))
                return it.key() + u" is gone"_s;
            if (readBytes(m_dataDir + u'/' + it.key()) != it.value())
                return it.key() + u" changed"_s;
        }
        const QString asOld = targetProblem(Content::Old, ending);
        if (ending != Ending::ReportedSuccess && asOld.isEmpty())
            return {};
        const QString asNew = targetProblem(Content::New, ending);
        if (ending != Ending::ReportedFailure && asNew.isEmpty())
            return {};
        if (ending == Ending::ReportedFailure)
            return u"not the old content: "_s + asOld + describeFiles();
        if (ending == Ending::ReportedSuccess)
            return u"not the new content: "_s + asNew + describeFiles();
        return u"neither old (%1) nor new (%2)"_s.arg(asOld, asNew) + describeFiles();
    }

    // Files beyond the data files: temporaries that a write left behind.
    QStringList leftovers() const
    {
        QStringList extra = names();
        extra.removeAll(kLinkFile);
        extra.removeAll(kSettingsFile);
        extra.removeAll(kMasterFile);
        return extra;
    }

    // What a run left, met by the program's next start: a switch that the run committed is
    // finished by the start-up and must end all new; anything else must already be what the
    // ending allows. After the start-up, nothing but the data files remains.
    QString problemAcrossStartUp(Ending ending) const
    {
        const bool pending = PairFiles::switchPending(m_dataDir);
        if (!pending) {
            if (const QString problem = this->problem(ending); !problem.isEmpty())
                return problem;
        }
        if (const QString failed = startUp(); !failed.isEmpty())
            return failed;
        if (pending) {
            if (const QString problem = this->problem(Ending::ReportedSuccess); !problem.isEmpty())
                return u"a committed switch, after the start-up: "_s + problem;
        }
        if (!leftovers().isEmpty())
            return u"left after a start-up: "_s + leftovers().join(u", "_s);
        return {};
    }

    // The program's start-up on this data directory, which clears what a killed write left.
    QString startUp() const
    {
        StartupEnvironment env;
        env.executableDirectory = QStringLiteral(QUILLOR_BUILD_DIR);
        env.installedShareDirectory = m_tmp.filePath(u"share"_s);
        env.profileDirectory = m_profile;
        env.fontFamilies = {u"DejaVu Sans"_s};
        env.generalFontFamily = u"DejaVu Sans"_s;
        env.now = QDateTime(QDate(2024, 5, 17), QTime(10, 20, 30));
        AppState state;
        const StartupOutcome outcome = runStartup(env, state);
        if (outcome.status != StartupOutcome::Status::Started)
            return u"the start-up fails: "_s + outcome.message;
        return {};
    }

private:
    QString targetProblem(Content content, Ending ending) const
    {
        for (const QString& target : m_operation.targets) {
            if (const QString problem = bytesProblem(target, content, ending); !problem.isEmpty())
                return problem;
        }
        return m_operation.loaderProblem(m_dataDir, content, m_operation.entries);
    }

    QString bytesProblem(const QString& target, Content content, Ending ending) const
    {
        const QString path = m_dataDir + u'/' + target;
        const bool existed = m_before.contains(target);
        const QByteArray old = m_before.value(target);
        const QByteArray bytes = readBytes(path);
        const std::optional<QByteArray> expected =
            content == Content::Old ? std::optional(old) : m_operation.newBytes(target, old);
        const bool killed = ending == Ending::Killed;
        if (content == Content::Old && !existed && QFile::exists(path) &&
            !(killed && m_operation.appendsInPlace))
            return target + u" appeared"_s;
        if (killed && m_operation.appendsInPlace) {
            // Old bytes, then a part of the new ones at most: never a change in the middle.
            const QByteArray full = m_operation.newBytes(target, old).value();
            if (bytes.size() < old.size() || !full.startsWith(bytes))
                return u"%1 is not the old bytes followed by part of the new (%2)"_s.arg(
                    target, difference(bytes, full));
        } else if (expected && bytes != *expected) {
            return u"%1 differs (%2)"_s.arg(target, difference(bytes, *expected));
        }
        return {};
    }

    static QString difference(const QByteArray& bytes, const QByteArray& expected)
    {
        qsizetype same = 0;
        while (same < std::min(bytes.size(), expected.size()) && bytes[same] == expected[same])
            ++same;
        return u"%1 bytes where %2 were expected, the same up to byte %3"_s.arg(
            QString::number(bytes.size()), QString::number(expected.size()), QString::number(same));
    }

    QString describeFiles() const
    {
        QStringList files;
        for (const QString& name : names())
            files.append(u"%1 %2 bytes"_s.arg(name).arg(QFile(m_dataDir + u'/' + name).size()));
        return u"; the directory holds "_s + files.join(u", "_s);
    }

    const Operation& m_operation;
    QTemporaryDir m_tmp;
    QString m_profile;
    QString m_dataDir;
    QString m_scratch;
    QMap<QString, QByteArray> m_before;
};

// The run without faults: every point the operation reaches, in order.
Run census(const Operation& operation, QStringList& problems)
{
    Trial trial(operation);
    const Run run = trial.run({});
    if (!saved(run))
        problems.append(u"without faults the operation ends with %1"_s.arg(run.outcome()));
    return run;
}

struct Totals {
    long kills = 0;
    long tears = 0;
    long failures = 0;
};
Totals g_totals;

void verifyNoProblems(const QStringList& problems)
{
    QVERIFY2(problems.isEmpty(), qPrintable(u"\n"_s + problems.join(u'\n')));
}

} // namespace

class TestCrashPoints : public QObject {
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
    void killRun(const Operation& operation, const Run& census, long k, const QByteArray& mode,
                 QStringList& problems);
};

void TestCrashPoints::initTestCase()
{
    QTest::failOnWarning(QRegularExpression(u".*"_s));
}

void TestCrashPoints::cleanupTestCase()
{
    qInfo("crash points tried: %ld kills, %ld torn writes, %ld failed calls; %ld runs in all",
          g_totals.kills, g_totals.tears, g_totals.failures,
          g_totals.kills + g_totals.tears + g_totals.failures);
}

void TestCrashPoints::operations_data()
{
    QTest::addColumn<QString>("row");
    for (const Operation& operation : kOperations)
        QTest::newRow(operation.row) << QString::fromLatin1(operation.row);
}

// Without faults: the new content, nothing left over, and all of it durable.
void TestCrashPoints::completeRun()
{
    QFETCH(QString, row);
    const Operation& operation = operationNamed(row);
    Trial trial(operation);
    const QString before = trial.problem(Ending::ReportedFailure);
    QVERIFY2(before.isEmpty(), qPrintable(before));
    const Run run = trial.run({});
    QVERIFY2(saved(run), qPrintable(run.outcome()));
    QVERIFY2(!run.points.isEmpty(), "the injector saw no call on the data directory");
    const QString after = trial.problem(Ending::ReportedSuccess);
    QVERIFY2(after.isEmpty(), qPrintable(after));
    QCOMPARE(trial.leftovers(), QStringList());
    const QString durability = durabilityProblem(
        run.points, pathsIn(trial.dataDir(), operation.targets), trial.namesChanged());
    QVERIFY2(durability.isEmpty(), qPrintable(durability));
}

void TestCrashPoints::killRun(const Operation& operation, const Run& census, long k,
                              const QByteArray& mode, QStringList& problems)
{
    Trial trial(operation);
    const Run run = trial.run({mode, k, {}});
    const QString where = u"%1 at %2: "_s.arg(QString::fromLatin1(mode), describePoint(census, k));
    QString problem = repeatabilityProblem(run, census, k, mode == "tear" ? "tear" : "kill");
    if (problem.isEmpty() && !run.killed())
        problem = u"the driver was not killed but ended with "_s + run.outcome();
    if (problem.isEmpty())
        problem = trial.problemAcrossStartUp(Ending::Killed);
    if (!problem.isEmpty())
        problems.append(where + problem);
}

// SIGKILL before each call: the files are the old ones or the new ones.
void TestCrashPoints::killAtEveryPoint()
{
    QFETCH(QString, row);
    const Operation& operation = operationNamed(row);
    QStringList problems;
    const Run all = census(operation, problems);
    for (long k = 1; k <= all.points.size(); ++k)
        killRun(operation, all, k, "kill", problems);
    g_totals.kills += all.points.size();
    qInfo("%s: killed at each of %lld points", qPrintable(row), qlonglong(all.points.size()));
    verifyNoProblems(problems);
}

// A write that a kill cuts short leaves half its bytes; still old or new, never a torn record.
void TestCrashPoints::tearEveryWrite()
{
    QFETCH(QString, row);
    const Operation& operation = operationNamed(row);
    QStringList problems;
    const Run all = census(operation, problems);
    long tried = 0;
    for (long k = 1; k <= all.points.size(); ++k) {
        if (!isWrite(all.points[k - 1].call))
            continue;
        killRun(operation, all, k, "tear", problems);
        ++tried;
    }
    g_totals.tears += tried;
    qInfo("%s: torn at each of %ld writes", qPrintable(row), tried);
    verifyNoProblems(problems);
}

// Each call fails in turn, as on a full or failing disk. A reported failure leaves the old
// files; a reported success has the new ones, durable; a change reported made in spite of a
// failure has the new ones. Either way no temporary file is left.
void TestCrashPoints::failEveryPoint()
{
    QFETCH(QString, row);
    const Operation& operation = operationNamed(row);
    QStringList problems;
    const Run all = census(operation, problems);
    const QList<QByteArray> errors = {"ENOSPC", "EIO"};
    for (const QByteArray& error : errors) {
        for (long k = 1; k <= all.points.size(); ++k) {
            Trial trial(operation);
            const Run run = trial.run({"fail", k, error});
            const QString where =
                u"%1 at %2: "_s.arg(QString::fromLatin1(error), describePoint(all, k));
            QString problem = repeatabilityProblem(run, all, k, "fail");
            const bool madeUnsure = run.exitedWith(kExitMadeUnsure);
            if (problem.isEmpty() && !saved(run) && !failed(run) && !madeUnsure)
                problem = u"the driver ended with "_s + run.outcome();
            if (problem.isEmpty() && madeUnsure) {
                // Made, or decided for the next start to finish: new after the start-up.
                problem = trial.problemAcrossStartUp(Ending::ReportedSuccess);
                if (!problem.isEmpty())
                    problem = u"reported the change made, but "_s + problem;
            } else if (problem.isEmpty() && failed(run)) {
                // A failure means nothing changed: a retry must not make the change twice.
                problem = PairFiles::switchPending(trial.dataDir())
                              ? u"a committed switch is waiting"_s
                              : trial.problem(Ending::ReportedFailure);
                if (!problem.isEmpty())
                    problem = u"reported the failure, but "_s + problem;
            }
            if (problem.isEmpty() && saved(run)) {
                problem = trial.problem(Ending::ReportedSuccess);
                if (problem.isEmpty())
                    problem =
                        durabilityProblem(run.points, pathsIn(trial.dataDir(), operation.targets),
                                          trial.namesChanged());
                if (!problem.isEmpty())
                    problem = u"reported success, but "_s + problem;
            }
            if (problem.isEmpty() && !trial.leftovers().isEmpty())
                problem = u"left behind: "_s + trial.leftovers().join(u", "_s);
            if (!problem.isEmpty())
                problems.append(where + problem);
        }
    }
    g_totals.failures += all.points.size() * errors.size();
    qInfo("%s: each of %lld points failed with %s", qPrintable(row), qlonglong(all.points.size()),
          errors.join(" and ").constData());
    verifyNoProblems(problems);
}

QTEST_GUILESS_MAIN(TestCrashPoints)
#include "tst_crashpoints.moc"
