#include "FifoWatchdog.h"
#include "TestData.h"
#include "startup/AppState.h"
#include "startup/InstanceLock.h"
#include "startup/ModuleRoutines.h"
#include "startup/OleDate.h"
#include "startup/Startup.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <dlfcn.h>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// A path whose chmod() fails, as on a file system that keeps its own modes; root could chmod
// anything else.
QByteArray chmodRefusedFor;

} // namespace

extern "C" int chmod(const char* path, mode_t mode) noexcept
{
    if (!chmodRefusedFor.isEmpty() && chmodRefusedFor == path) {
        errno = EPERM;
        return -1;
    }
    using Chmod = int (*)(const char*, mode_t);
    static const auto real = reinterpret_cast<Chmod>(::dlsym(RTLD_NEXT, "chmod"));
    return real(path, mode);
}

namespace {

// A user other than the one running the tests.
constexpr uid_t kOtherUser = 65534;

const QString kOpenErrorHead = u"\r\nOpen Error:\r\n If Error Persists, You May Need To Uninstall "
                               u"And Re-Install Quillor...\r\n..."_s;
const QString kMultipleInstances =
    u"\r\n\r\n\r\nRunning Multiple Instances Of\r\nQuillor\r\nIs Not Supported."_s;
const QString kCopyStep = u"No App Data\\App\\Ini File, Error Copying It"_s;

// The first-run settings file the program is delivered with, and settings a user has since
// changed; both with values the first-run rules would change.
QByteArray defaultSettingsRecord()
{
    Settings s;
    s.placementStored = Settings::kFirstRunMark;
    s.fontName = u"Verdana"_s;
    s.hiddenUserNames = 1;
    s.autoEnter = 1;
    s.autoEnterPassword = u"secret"_s;
    QRandomGenerator random(1);
    return SettingsRecord::encode(s, random);
}

QByteArray editedSettingsRecord()
{
    Settings s;
    s.placementStored = 1;
    s.windowLeft = 300;
    s.fontName = u"Arial"_s;
    s.fontSize = 12;
    s.hiddenUserNames = 1;
    s.autoEnter = 1;
    s.autoEnterPassword = u"secret"_s;
    QRandomGenerator random(2);
    return SettingsRecord::encode(s, random);
}

// A program directory holding the default files and a profile that does not exist yet, all
// inside one temporary directory.
struct Fixture {
    QTemporaryDir tmp;
    StartupEnvironment env;
    QByteArray defaultSettings = defaultSettingsRecord();
    QByteArray defaultMaster = TestData::masterPasswordRecord("Pomelo");

    Fixture()
    {
        env.executableDirectory = tmp.filePath(u"program"_s);
        env.installedShareDirectory = tmp.filePath(u"share/quillor"_s);
        env.profileDirectory = tmp.filePath(u"home/.local/share"_s);
        env.fontFamilies = {u"DejaVu Sans"_s, u"Verdana"_s, u"Arial"_s};
        env.generalFontFamily = u"DejaVu Sans"_s;
        env.now = QDateTime(QDate(2024, 5, 17), QTime(10, 20, 30));
        QVERIFY(tmp.isValid());
        QVERIFY(QDir().mkpath(env.executableDirectory));
        QVERIFY(TestData::writeFile(programFile(DataPaths::kSettingsFile), defaultSettings));
        QVERIFY(TestData::writeFile(programFile(DataPaths::kMasterPasswordFile), defaultMaster));
    }

    QString programFile(const QString& name) const { return env.executableDirectory + u'/' + name; }
    QString appData() const { return env.profileDirectory + u"/Application Data"_s; }
    QString dataDir() const { return appData() + u"/Quillor"_s; }
    QString dataFile(const QString& name) const { return dataDir() + u'/' + name; }

    // The data files, and whatever else the data directory holds.
    QStringList dataDirEntries() const
    {
        return QDir(dataDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }
};

void verifyOpenError(const QString& message, const QString& step)
{
    QVERIFY2(message.startsWith(kOpenErrorHead + step), qPrintable(message));
    // Whatever follows the step is the reason, on a line of its own in parentheses.
    const QString rest = message.mid(kOpenErrorHead.size() + step.size());
    QVERIFY2(rest.isEmpty() || (rest.startsWith(u"\r\n("_s) && rest.endsWith(u')')),
             qPrintable(rest));
}

// Restores an environment variable when the test ends, however it ends.
class EnvironmentGuard {
public:
    explicit EnvironmentGuard(const char* name)
        : m_name(name)
        , m_wasSet(qEnvironmentVariableIsSet(name))
        , m_value(qgetenv(name))
    {
    }
    ~EnvironmentGuard()
    {
        if (m_wasSet)
            qputenv(m_name, m_value);
        else
            qunsetenv(m_name);
    }
    EnvironmentGuard(const EnvironmentGuard&) = delete;
    EnvironmentGuard& operator=(const EnvironmentGuard&) = delete;

private:
    const char* m_name;
    bool m_wasSet;
    QByteArray m_value;
};

} // namespace

class TestStartup : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();

    void firstStart();
    void secondStartCopiesNothing();
    void deletedSettingsFileIsCopiedAgain();
    void defaultFilesFromTheInstalledDirectory();
    void defaultOfTheMinimumSize();
    void failures_data();
    void failures();
    void secondInstanceIsRefused();
    void leftLockFile_data();
    void leftLockFile();
    void staleTemporariesAreRemoved();
    void lockOutsideTheDataDirectory();
    void oldLockFileRemoved_data();
    void oldLockFileRemoved();
    void lockDirectory_data();
    void lockDirectory();
    void shortSettingsFileTakesDefaults();
    void keptUndoPairAndOrphanedLinks_data();
    void keptUndoPairAndOrphanedLinks();

    void testDirectory_data();
    void testDirectory();
    void testFileReadable_data();
    void testFileReadable();
    void cutAtNul_data();
    void cutAtNul();
    void noWindowsDirectory();
    void profileDirectory_data();
    void profileDirectory();

private:
    QTemporaryDir m_runtime; // the locks go here, not among other runs' locks
};

void TestStartup::initTestCase()
{
    QVERIFY(m_runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
}

void TestStartup::init()
{
    QTest::failOnWarning(QRegularExpression(u".*"_s));
}

void TestStartup::firstStart()
{
    Fixture f;
    AppState state;
    const StartupOutcome outcome = runStartup(f.env, state);
    QCOMPARE(outcome.status, StartupOutcome::Status::Started);
    QVERIFY2(outcome.message.isEmpty(), qPrintable(outcome.message));
    QVERIFY(outcome.lock && outcome.lock->isLocked());

    QCOMPARE(TestData::permissionsOf(f.appData()), 0700);
    QCOMPARE(TestData::permissionsOf(f.dataDir()), 0700);
    QCOMPARE(f.dataDirEntries(), (QStringList{u"QuiFil.ini"_s, u"QuiSetts.ini"_s}));
    // Copied byte for byte; the first-run changes stay in memory until the main window closes.
    QCOMPARE(TestData::readFile(f.dataFile(u"QuiSetts.ini"_s)), f.defaultSettings);
    QCOMPARE(TestData::readFile(f.dataFile(u"QuiFil.ini"_s)), f.defaultMaster);
    QCOMPARE(TestData::permissionsOf(f.dataFile(u"QuiSetts.ini"_s)), 0600);
    QCOMPARE(TestData::permissionsOf(f.dataFile(u"QuiFil.ini"_s)), 0600);

    QCOMPARE(state.paths.programDirectory, f.env.executableDirectory);
    QCOMPARE(state.paths.dataDirectory, f.dataDir());
    QCOMPARE(state.paths.settingsPath, f.dataFile(u"QuiSetts.ini"_s));
    QCOMPARE(state.paths.masterPasswordPath, f.dataFile(u"QuiFil.ini"_s));
    QCOMPARE(state.paths.linkFilePath, f.dataFile(u"QuiURL.dab"_s));
    QCOMPARE(state.checkValue, QByteArray("123456789"));

    QCOMPARE(state.settings.placementStored, 0);
    QCOMPARE(state.settings.hiddenUserNames, qint16(0));
    QCOMPARE(state.settings.autoEnter, qint16(0));
    QCOMPARE(state.settings.autoEnterPassword, u"Quilsjs"_s);
    QCOMPARE(fromOleDate(state.settings.lastDeleteDate),
             QDateTime(QDate(1994, 5, 17), QTime(10, 20, 30)));
    QCOMPARE(state.settings.fontName, u"Verdana"_s);
}

void TestStartup::secondStartCopiesNothing()
{
    Fixture f;
    {
        AppState first;
        QCOMPARE(runStartup(f.env, first).status, StartupOutcome::Status::Started);
    }
    const QByteArray edited = editedSettingsRecord();
    const QByteArray otherMaster = TestData::masterPasswordRecord("Kumquat");
    QVERIFY(TestData::writeFile(f.dataFile(u"QuiSetts.ini"_s), edited));
    QVERIFY(TestData::writeFile(f.dataFile(u"QuiFil.ini"_s), otherMaster));
    // A data directory that was loosened since is tightened again.
    QVERIFY(QFile::setPermissions(f.dataDir(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                   QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                   QFileDevice::ExeOther));

    AppState state;
    const StartupOutcome outcome = runStartup(f.env, state);
    QCOMPARE(outcome.status, StartupOutcome::Status::Started);
    QCOMPARE(TestData::readFile(f.dataFile(u"QuiSetts.ini"_s)), edited);
    QCOMPARE(TestData::readFile(f.dataFile(u"QuiFil.ini"_s)), otherMaster);
    QCOMPARE(f.dataDirEntries(), (QStringList{u"QuiFil.ini"_s, u"QuiSetts.ini"_s}));
    QCOMPARE(TestData::permissionsOf(f.dataDir()), 0700);

    QCOMPARE(state.settings.placementStored, 1);
    QCOMPARE(state.settings.windowLeft, 300.f);
    QCOMPARE(state.settings.fontName, u"Arial"_s);
    QCOMPARE(state.settings.fontSize, 12.f);
    QCOMPARE(state.settings.hiddenUserNames, qint16(1));
    QCOMPARE(state.settings.autoEnter, qint16(1));
    QCOMPARE(state.settings.autoEnterPassword, u"secret"_s);
}

void TestStartup::deletedSettingsFileIsCopiedAgain()
{
    Fixture f;
    {
        AppState first;
        QCOMPARE(runStartup(f.env, first).status, StartupOutcome::Status::Started);
    }
    const QByteArray otherMaster = TestData::masterPasswordRecord("Kumquat");
    QVERIFY(TestData::writeFile(f.dataFile(u"QuiSetts.ini"_s), editedSettingsRecord()));
    QVERIFY(TestData::writeFile(f.dataFile(u"QuiFil.ini"_s), otherMaster));
    QVERIFY(QFile::remove(f.dataFile(u"QuiSetts.ini"_s)));

    AppState state;
    QCOMPARE(runStartup(f.env, state).status, StartupOutcome::Status::Started);
    QCOMPARE(TestData::readFile(f.dataFile(u"QuiSetts.ini"_s)), f.defaultSettings);
    QCOMPARE(TestData::readFile(f.dataFile(u"QuiFil.ini"_s)), otherMaster);
    QCOMPARE(state.settings.placementStored, 0);
    QCOMPARE(state.settings.hiddenUserNames, qint16(0));
    QCOMPARE(state.settings.autoEnterPassword, u"Quilsjs"_s);
}

// Installed, the program lies in bin/ and its default files in share/.
void TestStartup::defaultFilesFromTheInstalledDirectory()
{
    Fixture f;
    QVERIFY(QDir().mkpath(f.env.installedShareDirectory));
    for (const QString& name : {DataPaths::kSettingsFile, DataPaths::kMasterPasswordFile})
        QVERIFY(QFile::rename(f.programFile(name), f.env.installedShareDirectory + u'/' + name));

    AppState state;
    QCOMPARE(runStartup(f.env, state).status, StartupOutcome::Status::Started);
    QCOMPARE(state.paths.programDirectory, f.env.installedShareDirectory);
    QCOMPARE(TestData::readFile(f.dataFile(u"QuiSetts.ini"_s)), f.defaultSettings);
    QCOMPARE(TestData::readFile(f.dataFile(u"QuiFil.ini"_s)), f.defaultMaster);
}

// 196 bytes still hold the first-run mark at 184; the rest reads as zeros.
void TestStartup::defaultOfTheMinimumSize()
{
    Fixture f;
    QVERIFY(
        TestData::writeFile(f.programFile(DataPaths::kSettingsFile), f.defaultSettings.left(196)));
    AppState state;
    QCOMPARE(runStartup(f.env, state).status, StartupOutcome::Status::Started);
    QCOMPARE(TestData::readFile(f.dataFile(u"QuiSetts.ini"_s)), f.defaultSettings.left(196));
    QCOMPARE(state.settings.placementStored, 0);
    QCOMPARE(state.settings.autoEnterPassword, u"Quilsjs"_s);
    QCOMPARE(state.settings.messageSuppression, QString(100, u'0'));
}

enum class Breakage {
    NoDefaultSettings,
    ShortDefaultSettings,
    NoDefaultMasterFile,
    AppDataIsAFile,
    DataDirIsAFile,
    ProfileBelowAFile,
    SettingsIsADirectory,
    SettingsIsAPipe,
    MasterFileIsAPipe,
    MasterFileLinksNowhere,
    AppDataOfAnotherUser,
    DataDirOfAnotherUser,
    DataDirCannotBeMadePrivate,
};
Q_DECLARE_METATYPE(Breakage)
Q_DECLARE_METATYPE(std::optional<QByteArray>)

void TestStartup::failures_data()
{
    QTest::addColumn<Breakage>("breakage");
    QTest::addColumn<QString>("step");   // {profile} and {settings} stand for this run's paths
    QTest::addColumn<QString>("reason"); // a part of it; empty: any

    QTest::newRow("no default settings") << Breakage::NoDefaultSettings << kCopyStep << QString();
    QTest::newRow("default settings of 195 bytes")
        << Breakage::ShortDefaultSettings << kCopyStep << QString();
    QTest::newRow("no default QuiFil.ini")
        << Breakage::NoDefaultMasterFile << u"After.. {settings} ..Read, Sub_Main App. Boot Error"_s
        << QString();
    QTest::newRow("Application Data is a file")
        << Breakage::AppDataIsAFile << u"{profile}/Application Data Dir, or Error Creating It"_s
        << QString();
    QTest::newRow("Quillor is a file")
        << Breakage::DataDirIsAFile
        << u"{profile}/Application Data/Quillor Dir, or Error Creating It"_s << QString();
    QTest::newRow("profile below a file")
        << Breakage::ProfileBelowAFile
        << u"App Start-Up, Error Accessing Or Creating App Data Sub-Dirs In XP-NT User Dir"_s
        << QString();
    QTest::newRow("settings file is a directory")
        << Breakage::SettingsIsADirectory << u"No.. {settings} ..Or Error Opening Or Reading It"_s
        << QString();
    // A pipe in a data file's place: the start must end, with the step that met it.
    QTest::newRow("settings file is a pipe")
        << Breakage::SettingsIsAPipe << u"No.. {settings} ..Or Error Opening Or Reading It"_s
        << u"not a regular file"_s;
    QTest::newRow("QuiFil.ini is a pipe")
        << Breakage::MasterFileIsAPipe << u"After.. {settings} ..Read, Sub_Main App. Boot Error"_s
        << u"not a regular file"_s;
    // A synchronised folder not mounted: a default file there would open the real link file
    // under the default password.
    QTest::newRow("QuiFil.ini links to a folder not mounted")
        << Breakage::MasterFileLinksNowhere
        << u"After.. {settings} ..Read, Sub_Main App. Boot Error"_s << u"a symbolic link to"_s;
    // Another user could read what is written there, or swap the files for links.
    QTest::newRow("Application Data of another user")
        << Breakage::AppDataOfAnotherUser
        << u"{profile}/Application Data Dir, or Error Creating It"_s << u"another user"_s;
    QTest::newRow("Quillor of another user")
        << Breakage::DataDirOfAnotherUser
        << u"{profile}/Application Data/Quillor Dir, or Error Creating It"_s << u"another user"_s;
    QTest::newRow("Quillor cannot be made private")
        << Breakage::DataDirCannotBeMadePrivate
        << u"{profile}/Application Data/Quillor Dir, or Error Creating It"_s
        << u"Operation not permitted"_s;
}

void TestStartup::failures()
{
    QFETCH(Breakage, breakage);
    QFETCH(QString, step);
    QFETCH(QString, reason);

    Fixture f;
    QString inTheWay; // a file that must be left as it was
    QString foreign;  // a directory of another user, open to all, that must stay empty
    std::optional<FifoWatchdog> pipe;
    const auto makeForeign = [&](const QString& dir) {
        foreign = dir;
        return QDir().mkpath(dir) &&
               ::chown(QFile::encodeName(dir).constData(), kOtherUser, kOtherUser) == 0 &&
               ::chmod(QFile::encodeName(dir).constData(), 0777) == 0;
    };
    switch (breakage) {
    case Breakage::NoDefaultSettings:
        QVERIFY(QFile::remove(f.programFile(DataPaths::kSettingsFile)));
        break;
    case Breakage::ShortDefaultSettings:
        QVERIFY(TestData::writeFile(f.programFile(DataPaths::kSettingsFile),
                                    f.defaultSettings.left(195)));
        break;
    case Breakage::NoDefaultMasterFile:
        QVERIFY(QFile::remove(f.programFile(DataPaths::kMasterPasswordFile)));
        break;
    case Breakage::AppDataIsAFile:
        inTheWay = f.appData();
        break;
    case Breakage::DataDirIsAFile:
        inTheWay = f.dataDir();
        break;
    case Breakage::ProfileBelowAFile:
        inTheWay = f.tmp.filePath(u"home"_s);
        break;
    case Breakage::SettingsIsADirectory:
        QVERIFY(QDir().mkpath(f.dataFile(DataPaths::kSettingsFile)));
        break;
    case Breakage::SettingsIsAPipe:
    case Breakage::MasterFileIsAPipe:
        QVERIFY(QDir().mkpath(f.dataDir()));
        pipe.emplace(f.dataFile(breakage == Breakage::SettingsIsAPipe
                                    ? DataPaths::kSettingsFile
                                    : DataPaths::kMasterPasswordFile));
        QVERIFY(pipe->made());
        break;
    case Breakage::MasterFileLinksNowhere:
        QVERIFY(QDir().mkpath(f.dataDir()));
        QVERIFY(QDir().mkpath(f.tmp.filePath(u"unmounted"_s)));
        QVERIFY(QFile::link(f.tmp.filePath(u"unmounted/QuiFil.ini"_s),
                            f.dataFile(DataPaths::kMasterPasswordFile)));
        break;
    case Breakage::AppDataOfAnotherUser:
        QVERIFY(makeForeign(f.appData()));
        break;
    case Breakage::DataDirOfAnotherUser:
        QVERIFY(makeForeign(f.dataDir()));
        break;
    case Breakage::DataDirCannotBeMadePrivate:
        QVERIFY(QDir().mkpath(f.dataDir()));
        QVERIFY(::chmod(QFile::encodeName(f.dataDir()).constData(), 0755) == 0);
        chmodRefusedFor = QFile::encodeName(f.dataDir());
        break;
    }
    if (!inTheWay.isEmpty()) {
        QVERIFY(QDir().mkpath(QFileInfo(inTheWay).path()));
        QVERIFY(TestData::writeFile(inTheWay, "keep me"));
    }

    AppState state;
    const StartupOutcome outcome = runStartup(f.env, state);
    chmodRefusedFor.clear();
    QVERIFY(!pipe || !pipe->released());
    QCOMPARE(outcome.status, StartupOutcome::Status::Failed);
    step.replace(u"{profile}"_s, f.env.profileDirectory);
    step.replace(u"{settings}"_s, f.dataFile(DataPaths::kSettingsFile));
    verifyOpenError(outcome.message, step);
    QVERIFY2(outcome.message.contains(reason), qPrintable(outcome.message));
    if (!inTheWay.isEmpty())
        QCOMPARE(TestData::readFile(inTheWay), QByteArray("keep me"));
    if (breakage == Breakage::MasterFileLinksNowhere) {
        QVERIFY(QFileInfo(f.dataFile(DataPaths::kMasterPasswordFile)).isSymLink());
        QCOMPARE(TestData::entriesOf(f.tmp.filePath(u"unmounted"_s)), QStringList());
    }
    if (!foreign.isEmpty()) {
        QCOMPARE(TestData::permissionsOf(foreign), 0777);
        QCOMPARE(QDir(foreign).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
    }
    QVERIFY(state.paths.dataDirectory.isEmpty());
    QVERIFY(state.checkValue.isEmpty());
}

void TestStartup::secondInstanceIsRefused()
{
    Fixture f;
    AppState first;
    const StartupOutcome running = runStartup(f.env, first);
    QCOMPARE(running.status, StartupOutcome::Status::Started);
    // With the data files gone, any copying by the second start would show.
    QVERIFY(QFile::remove(f.dataFile(DataPaths::kSettingsFile)));
    QVERIFY(QFile::remove(f.dataFile(DataPaths::kMasterPasswordFile)));

    AppState second;
    const StartupOutcome refused = runStartup(f.env, second);
    QCOMPARE(refused.status, StartupOutcome::Status::AlreadyRunning);
    QCOMPARE(refused.message, kMultipleInstances);
    QVERIFY(!refused.lock);
    QVERIFY(f.dataDirEntries().isEmpty());
    QVERIFY(second.paths.dataDirectory.isEmpty());
    QVERIFY(second.checkValue.isEmpty());
    QVERIFY(running.lock->isLocked());
}

void TestStartup::leftLockFile_data()
{
    QTest::addColumn<QByteArray>("left"); // at the lock's name: bytes, or what is made there
    QTest::addColumn<int>("status");      // StartupOutcome::Status

    const int started = int(StartupOutcome::Status::Started);
    QTest::newRow("empty file") << QByteArray() << started;
    QTest::newRow("garbage") << QByteArray("\xff\x00 nothing\n", 11) << started;
    QTest::newRow("a holder that is gone") << QByteArray("quillor 2147483646\n") << started;
    QTest::newRow("a holder killed") << QByteArray("(killed)") << started;
    QTest::newRow("a command that holds it")
        << QByteArray("(held)") << int(StartupOutcome::Status::AlreadyRunning);
    QTest::newRow("a directory") << QByteArray("(directory)")
                                 << int(StartupOutcome::Status::Failed);
}

// Only a live holder keeps the program out; a lock file without one is taken, whatever it holds.
// A directory at its name is the user's: left, and said.
void TestStartup::leftLockFile()
{
    QFETCH(QByteArray, left);
    QFETCH(int, status);

    Fixture f;
    QVERIFY(QDir().mkpath(f.dataDir()));
    const QString lock = InstanceLock::pathFor(f.dataDir());
    QVERIFY(QDir().mkpath(QFileInfo(lock).path()));
    std::optional<InstanceLock> holder;
    if (left == "(killed)") {
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            InstanceLock held(u"quillor-cli"_s);
            if (held.acquire(f.dataDir()) == InstanceLock::Outcome::Locked)
                ::raise(SIGKILL);
            ::_exit(1);
        }
        int wait = 0;
        QCOMPARE(::waitpid(child, &wait, 0), child);
        QVERIFY(WIFSIGNALED(wait) && WTERMSIG(wait) == SIGKILL);
        QVERIFY(TestData::readFile(lock).startsWith("quillor-cli "));
    } else if (left == "(held)") {
        holder.emplace(u"quillor-cli"_s);
        QCOMPARE(holder->acquire(f.dataDir()), InstanceLock::Outcome::Locked);
    } else if (left == "(directory)") {
        QVERIFY(QDir().mkdir(lock));
    } else {
        QVERIFY(TestData::writeFile(lock, left));
    }

    AppState state;
    const StartupOutcome outcome = runStartup(f.env, state);
    QCOMPARE(int(outcome.status), status);
    switch (outcome.status) {
    case StartupOutcome::Status::Started:
        QVERIFY(outcome.lock && outcome.lock->isLocked());
        QCOMPARE(TestData::readFile(lock), "quillor " + QByteArray::number(::getpid()) + '\n');
        break;
    case StartupOutcome::Status::AlreadyRunning:
        QCOMPARE(outcome.message, kMultipleInstances);
        break;
    case StartupOutcome::Status::Failed:
        QVERIFY2(outcome.message.contains(lock + u": a directory stands at the lock's name"_s),
                 qPrintable(outcome.message));
        QVERIFY(QFileInfo(lock).isDir());
        break;
    }
}

// A write killed part-way leaves its temporary file; the next start removes ours, and only
// ours, once it holds the lock.
void TestStartup::staleTemporariesAreRemoved()
{
    Fixture f;
    {
        AppState first;
        QCOMPARE(runStartup(f.env, first).status, StartupOutcome::Status::Started);
    }
    const QStringList stale{u"QuiURL.dab.AbC123"_s, u"QuiSetts.ini.xyzXYZ"_s,
                            u"QuiFil.ini.q1W2e3"_s};
    const QStringList others{u"QuiURL.dab"_s,
                             u"QuiURL.dab.bak"_s,
                             u"QuiURL.dab.AbC12"_s,
                             u"QuiURL.dab.AbC1234"_s,
                             u"QuiURL.dab~"_s,
                             u"notes.AbC123"_s,
                             u"QuiURL.dabAbC123"_s,
                             u"QuiURL.dab.AbC123.x"_s,
                             u"quiurl.dab.XyZ789"_s,
                             u"QuiURL.dab.AbC_12"_s,
                             u"QuiFil.ini.AbC12\u00e9"_s,
                             u"QuiSetts.ini.\u0661\u0662\u0663456"_s};
    for (const QString& name : stale + others)
        QVERIFY(TestData::writeFile(f.dataFile(name), "x"));
    // What is not a plain file is not one of our temporaries.
    QVERIFY(QDir().mkdir(f.dataFile(u"QuiFil.ini.Dir123"_s)));
    QVERIFY(QFile::link(f.dataFile(u"QuiURL.dab"_s), f.dataFile(u"QuiSetts.ini.Lnk123"_s)));
    QStringList all = f.dataDirEntries();

    {
        // Another instance's temporaries are its own.
        InstanceLock running(u"quillor"_s);
        QCOMPARE(running.acquire(f.dataDir()), InstanceLock::Outcome::Locked);
        AppState second;
        QCOMPARE(runStartup(f.env, second).status, StartupOutcome::Status::AlreadyRunning);
        QCOMPARE(f.dataDirEntries(), all);
    }

    AppState state;
    QCOMPARE(runStartup(f.env, state).status, StartupOutcome::Status::Started);
    for (const QString& name : stale)
        all.removeAll(name);
    QCOMPARE(f.dataDirEntries(), all);
}

// A settings file cut short: the fields past the cut come from the default file, under the
// first-run rules when its mark is among them, instead of zero column widths.
// The lock is kept where no sync program carries it to another machine: in the user's runtime
// directory, one for each data directory, whatever path leads there.
void TestStartup::lockOutsideTheDataDirectory()
{
    Fixture f;
    AppState state;
    const StartupOutcome outcome = runStartup(f.env, state);
    QCOMPARE(outcome.status, StartupOutcome::Status::Started);
    QVERIFY(outcome.lock && outcome.lock->isLocked());
    QCOMPARE(f.dataDirEntries(), (QStringList{u"QuiFil.ini"_s, u"QuiSetts.ini"_s}));

    const QString lock = InstanceLock::pathFor(f.dataDir());
    QCOMPARE(QFileInfo(lock).path(), m_runtime.path() + u"/quillor"_s);
    QCOMPARE(TestData::permissionsOf(QFileInfo(lock).path()), 0700);
    QCOMPARE(TestData::readFile(lock), "quillor " + QByteArray::number(::getpid()) + '\n');

    // The same directory through a link: the same lock, held.
    const QString link = f.appData() + u"/Through a link"_s;
    QVERIFY(QFile::link(f.dataDir(), link));
    QCOMPARE(InstanceLock::pathFor(link), lock);
    InstanceLock second(u"quillor-cli"_s);
    QCOMPARE(second.acquire(link), InstanceLock::Outcome::Held);
    QCOMPARE(second.holder(), u"quillor (pid %1)"_s.arg(::getpid()));

    // Another directory: a lock of its own, free.
    const QString other = f.appData() + u"/Other"_s;
    QVERIFY(QDir().mkpath(other));
    QVERIFY(InstanceLock::pathFor(other) != lock);
    QCOMPARE(second.acquire(other), InstanceLock::Outcome::Locked);
    QVERIFY(QDir(other).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    second.release();
    QVERIFY(!QFileInfo::exists(InstanceLock::pathFor(other)));
}

void TestStartup::oldLockFileRemoved_data()
{
    QTest::addColumn<QString>("left"); // what stands at quillor.lock in the data directory
    QTest::addColumn<bool>("removed");

    QTest::newRow("a file an earlier version left") << u"file"_s << true;
    QTest::newRow("a file an earlier version still holds") << u"held"_s << false;
    QTest::newRow("a directory") << u"directory"_s << false;
    QTest::newRow("a symbolic link") << u"link"_s << false;
}

// The lock file of earlier versions goes, once the lock is ours; what is not such a file, or is
// still held by the program that made it, stays.
void TestStartup::oldLockFileRemoved()
{
    QFETCH(QString, left);
    QFETCH(bool, removed);

    Fixture f;
    QVERIFY(QDir().mkpath(f.dataDir()));
    const QString old = f.dataFile(kLockFileName);
    const QString elsewhere = f.appData() + u"/elsewhere"_s;
    int held = -1;
    if (left == u"directory"_s) {
        QVERIFY(QDir().mkdir(old));
    } else if (left == u"link"_s) {
        QVERIFY(TestData::writeFile(elsewhere, "quillor 1\n"));
        QVERIFY(QFile::link(elsewhere, old));
    } else {
        QVERIFY(TestData::writeFile(old, "quillor 2147483646\n"));
    }
    if (left == u"held"_s) {
        held = ::open(QFile::encodeName(old).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(held >= 0);
        QCOMPARE(::flock(held, LOCK_EX | LOCK_NB), 0);
    }

    AppState state;
    const StartupOutcome outcome = runStartup(f.env, state);
    if (held >= 0)
        ::close(held);
    QCOMPARE(outcome.status, StartupOutcome::Status::Started);
    QVERIFY(outcome.lock && outcome.lock->isLocked());
    QCOMPARE(QFileInfo(old).exists() || QFileInfo(old).isSymLink(), !removed);
    if (left == u"link"_s)
        QCOMPARE(TestData::readFile(elsewhere), QByteArray("quillor 1\n"));
}

void TestStartup::lockDirectory_data()
{
    QTest::addColumn<QString>("runtime"); // XDG_RUNTIME_DIR: ours, unset, or not fit
    QTest::addColumn<QString>("temporary"); // what stands at quillor-UID in TMPDIR beforehand
    QTest::addColumn<QString>("where");     // where the lock goes: runtime, temporary, or none
    QTest::addColumn<QString>("failure");

    QTest::newRow("the runtime directory") << u"ours"_s << u"nothing"_s << u"runtime"_s << QString();
    QTest::newRow("no runtime directory") << u"unset"_s << u"nothing"_s << u"temporary"_s
                                          << QString();
    QTest::newRow("a relative runtime directory")
        << u"relative"_s << u"nothing"_s << u"temporary"_s << QString();
    QTest::newRow("a runtime directory of another user")
        << u"other user"_s << u"nothing"_s << u"temporary"_s << QString();
    QTest::newRow("a runtime directory open to others")
        << u"open"_s << u"ours"_s << u"temporary"_s << QString();
    QTest::newRow("a temporary lock directory of another user")
        << u"unset"_s << u"other user"_s << u"none"_s << u"belongs to another user"_s;
    QTest::newRow("a temporary lock directory open to others")
        << u"unset"_s << u"open"_s << u"none"_s << u"others can use the directory"_s;
    QTest::newRow("a link in the temporary lock directory's place")
        << u"unset"_s << u"link"_s << u"none"_s << u"not a directory"_s;
    QTest::newRow("a file in the temporary lock directory's place")
        << u"unset"_s << u"file"_s << u"none"_s << u"not a directory"_s;
}

// Where the runtime directory is missing or not the user's alone, the locks go to a directory of
// the user's own in the temporary directory; one that others could reach is refused.
void TestStartup::lockDirectory()
{
    QFETCH(QString, runtime);
    QFETCH(QString, temporary);
    QFETCH(QString, where);
    QFETCH(QString, failure);

    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString runtimeDir = scratch.filePath(u"run"_s);
    const QString tmp = scratch.filePath(u"tmp"_s);
    QVERIFY(QDir().mkpath(runtimeDir) && QDir().mkpath(tmp));
    QCOMPARE(::chmod(QFile::encodeName(runtimeDir).constData(), 0700), 0);
    if (runtime == u"other user"_s)
        QCOMPARE(::chown(QFile::encodeName(runtimeDir).constData(), kOtherUser, kOtherUser), 0);
    if (runtime == u"open"_s)
        QCOMPARE(::chmod(QFile::encodeName(runtimeDir).constData(), 0755), 0);
    const QString fallback = tmp + u"/quillor-"_s + QString::number(::geteuid());
    if (temporary != u"nothing"_s) {
        if (temporary == u"link"_s) {
            QVERIFY(QDir().mkpath(tmp + u"/real"_s));
            QCOMPARE(::chmod(QFile::encodeName(tmp + u"/real"_s).constData(), 0700), 0);
            QVERIFY(QFile::link(tmp + u"/real"_s, fallback));
        } else if (temporary == u"file"_s) {
            QVERIFY(TestData::writeFile(fallback, "x"));
        } else {
            QVERIFY(QDir().mkpath(fallback));
            QCOMPARE(::chmod(QFile::encodeName(fallback).constData(),
                             temporary == u"open"_s ? 0777 : 0700),
                     0);
            if (temporary == u"other user"_s)
                QCOMPARE(::chown(QFile::encodeName(fallback).constData(), kOtherUser, kOtherUser),
                         0);
        }
    }

    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray savedTmp = qgetenv("TMPDIR");
    const auto restore = qScopeGuard([&] {
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
        if (savedTmp.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", savedTmp);
    });
    if (runtime == u"unset"_s)
        qunsetenv("XDG_RUNTIME_DIR");
    else if (runtime == u"relative"_s)
        qputenv("XDG_RUNTIME_DIR", "run");
    else
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir));
    qputenv("TMPDIR", QFile::encodeName(tmp));

    const QString data = scratch.filePath(u"data"_s);
    QVERIFY(QDir().mkpath(data));
    InstanceLock lock(u"quillor"_s);
    const InstanceLock::Outcome outcome = lock.acquire(data);
    const QString path = InstanceLock::pathFor(data);
    if (where == u"none"_s) {
        QCOMPARE(outcome, InstanceLock::Outcome::Failed);
        QVERIFY2(lock.failure().startsWith(fallback + u": "_s) && lock.failure().contains(failure),
                 qPrintable(lock.failure()));
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY(!QFileInfo::exists(tmp + u"/real/"_s + QFileInfo(path).fileName()));
        return;
    }
    QCOMPARE(outcome, InstanceLock::Outcome::Locked);
    const QString directory = where == u"runtime"_s ? runtimeDir + u"/quillor"_s : fallback;
    QCOMPARE(QFileInfo(path).path(), directory);
    QVERIFY(QFileInfo(path).isFile());
    QCOMPARE(TestData::permissionsOf(directory), 0700);
    QVERIFY(QDir(data).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

void TestStartup::shortSettingsFileTakesDefaults()
{
    Fixture f;
    {
        AppState first;
        QCOMPARE(runStartup(f.env, first).status, StartupOutcome::Status::Started);
    }
    const QByteArray cut = editedSettingsRecord().left(100);
    QVERIFY(TestData::writeFile(f.dataFile(DataPaths::kSettingsFile), cut));

    AppState state;
    QCOMPARE(runStartup(f.env, state).status, StartupOutcome::Status::Started);
    QCOMPARE(state.settings.windowLeft, 300.f);
    const std::array<float, 4> designWidths{2000, 2000, 2000, 6600};
    QCOMPARE(state.settings.columnWidths, designWidths);
    QCOMPARE(state.settings.placementStored, 0);
    QCOMPARE(state.settings.hiddenUserNames, qint16(0));
    QCOMPARE(state.settings.autoEnterPassword, u"Quilsjs"_s);
    // Read, not repaired: only the main window's closing writes the settings.
    QCOMPARE(TestData::readFile(f.dataFile(DataPaths::kSettingsFile)), cut);
}

void TestStartup::testDirectory_data()
{
    QTest::addColumn<QString>("name"); // inside the test's directory; empty: the empty path
    QTest::addColumn<int>("expected"); // -1: any failure code

    QTest::newRow("directory") << u"dir"_s << 0;
    QTest::newRow("file") << u"file"_s << kNotADirectory;
    QTest::newRow("missing") << u"missing"_s << -1;
    QTest::newRow("below a file") << u"file/below"_s << -1;
    QTest::newRow("empty path") << QString() << -1;
}

void TestStartup::testDirectory()
{
    QFETCH(QString, name);
    QFETCH(int, expected);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QVERIFY(QDir(tmp.path()).mkdir(u"dir"_s));
    QVERIFY(TestData::writeFile(tmp.filePath(u"file"_s), "x"));
    const int result = TestDirectory(name.isEmpty() ? QString() : tmp.filePath(name));
    if (expected < 0) {
        QVERIFY(result != 0);
        QVERIFY(result != kNotADirectory);
    } else {
        QCOMPARE(result, expected);
    }
}

void TestStartup::testFileReadable_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("expected"); // -1: any failure code; -2: any result

    QTest::newRow("file") << u"file"_s << 0;
    QTest::newRow("missing") << u"missing"_s << -1;
    QTest::newRow("below a file") << u"file/below"_s << -1;
    QTest::newRow("empty path") << QString() << -1;
    QTest::newRow("directory") << u"dir"_s << -2;
}

void TestStartup::testFileReadable()
{
    QFETCH(QString, name);
    QFETCH(int, expected);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QVERIFY(QDir(tmp.path()).mkdir(u"dir"_s));
    QVERIFY(TestData::writeFile(tmp.filePath(u"file"_s), "x"));
    const auto listing = [&] {
        return QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    };
    const QStringList before = listing();

    const int result = TestFileReadable(name.isEmpty() ? QString() : tmp.filePath(name));
    if (expected == -1)
        QVERIFY(result != 0);
    else if (expected >= 0)
        QCOMPARE(result, expected);
    QCOMPARE(listing(), before);
    QCOMPARE(TestData::readFile(tmp.filePath(u"file"_s)), QByteArray("x"));
}

void TestStartup::cutAtNul_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("cut");

    QTest::newRow("NUL inside") << QByteArray("abc\0def", 7) << QByteArray("abc");
    QTest::newRow("NUL first") << QByteArray("\0abc", 4) << QByteArray();
    QTest::newRow("no NUL") << QByteArray("abc") << QByteArray("abc");
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void TestStartup::cutAtNul()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, cut);
    QCOMPARE(CutAtNul(text), cut);
    QCOMPARE(CutAtNul(QString::fromLatin1(text)), QString::fromLatin1(cut));
}

void TestStartup::noWindowsDirectory()
{
    QVERIFY(WindowsDirectory().isEmpty());
}

void TestStartup::profileDirectory_data()
{
    QTest::addColumn<std::optional<QByteArray>>("xdgDataHome"); // nullopt: unset
    QTest::addColumn<QString>("profile");

    const QString fallback = u"/home/tester/.local/share"_s;
    QTest::newRow("absolute") << std::optional<QByteArray>("/data/xdg") << u"/data/xdg"_s;
    QTest::newRow("absolute, trailing slash")
        << std::optional<QByteArray>("/data/xdg/") << u"/data/xdg"_s;
    // XDG has a relative value ignored, as if unset.
    QTest::newRow("relative") << std::optional<QByteArray>("data/xdg") << fallback;
    QTest::newRow("empty") << std::optional<QByteArray>("") << fallback;
    QTest::newRow("unset") << std::optional<QByteArray>() << fallback;
}

void TestStartup::profileDirectory()
{
    QFETCH(std::optional<QByteArray>, xdgDataHome);
    QFETCH(QString, profile);

    EnvironmentGuard home("HOME");
    EnvironmentGuard xdg("XDG_DATA_HOME");
    qputenv("HOME", "/home/tester");
    if (xdgDataHome)
        qputenv("XDG_DATA_HOME", *xdgDataHome);
    else
        qunsetenv("XDG_DATA_HOME");

    QCOMPARE(defaultProfileDirectory(), profile);
    QCOMPARE(dataDirectoryFor(defaultProfileDirectory()), profile + u"/Application Data/Quillor"_s);
    QCOMPARE(StartupEnvironment::current(u"/opt/bin"_s).profileDirectory, profile);
}

// Each row: the links file the data directory holds without a password file. A pair kept in
// UnDo, by a window that closed locked after a restore, is left for the window to offer.
void TestStartup::keptUndoPairAndOrphanedLinks_data()
{
    QTest::addColumn<QByteArray>("links");
    QTest::addColumn<bool>("defaultSet");
    QTest::newRow("no links file") << QByteArray() << true;
    QTest::newRow("empty links file") << QByteArray("") << true;
    QTest::newRow("links under another password")
        << TestData::linkRecord({"Title", "https://a.example", "user", "pass"}, "Kumquat") << false;
}

void TestStartup::keptUndoPairAndOrphanedLinks()
{
    QFETCH(QByteArray, links);
    QFETCH(bool, defaultSet);
    Fixture f;
    {
        AppState first;
        QCOMPARE(runStartup(f.env, first).status, StartupOutcome::Status::Started);
    }
    QVERIFY(QFile::remove(f.dataFile(u"QuiFil.ini"_s)));
    if (!links.isNull())
        QVERIFY(TestData::writeFile(f.dataFile(u"QuiURL.dab"_s), links));
    const QString undo = f.dataFile(u"UnDo"_s);
    QVERIFY(QDir().mkdir(undo));
    const QByteArray keptMaster = TestData::masterPasswordRecord("Kumquat");
    const QByteArray keptLinks =
        TestData::linkRecord({"Kept", "https://k.example", "me", "secret"}, "Kumquat");
    QVERIFY(TestData::writeFile(undo + u"/QuiFil.ini"_s, keptMaster));
    QVERIFY(TestData::writeFile(undo + u"/QuiURL.dab"_s, keptLinks));

    AppState state;
    const StartupOutcome outcome = runStartup(f.env, state);
    QCOMPARE(outcome.status, StartupOutcome::Status::Started);
    QVERIFY2(outcome.message.isEmpty(), qPrintable(outcome.message));
    QCOMPARE(QFile::exists(f.dataFile(u"QuiFil.ini"_s)), defaultSet);
    if (defaultSet)
        QCOMPARE(TestData::readFile(f.dataFile(u"QuiFil.ini"_s)), f.defaultMaster);
    if (!links.isNull())
        QCOMPARE(TestData::readFile(f.dataFile(u"QuiURL.dab"_s)), links);
    QCOMPARE(TestData::entriesOf(undo), QStringList({u"QuiFil.ini"_s, u"QuiURL.dab"_s}));
    QCOMPARE(TestData::readFile(undo + u"/QuiFil.ini"_s), keptMaster);
    QCOMPARE(TestData::readFile(undo + u"/QuiURL.dab"_s), keptLinks);
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
