#include "Startup.h"

#include "AppState.h"
#include "ModuleRoutines.h"
#include "SettingsFile.h"
#include "store/PairFiles.h"
#include "store/SafeFileWriter.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QStandardPaths>

#include <cstring>
#include <sys/stat.h>

namespace {

const QString kAppDataDirectory = QStringLiteral("Application Data");
const QString kLockFileName = QStringLiteral("quillor.lock");

struct StepFailure {
    QString description;
    QString reason;
};

// Creates a directory only where none exists; never removes or replaces anything.
std::optional<StepFailure> ensureDirectory(const QString& path)
{
    if (TestDirectory(path) == 0)
        return std::nullopt;
    const QString step = path + QStringLiteral(" Dir, or Error Creating It");
    if (::mkdir(QFile::encodeName(path).constData(), S_IRWXU) != 0)
        return StepFailure{step, QString::fromLocal8Bit(std::strerror(errno))};
    return std::nullopt;
}

std::optional<StepFailure> copyDefaultFile(const QString& from, const QString& to,
                                           const QString& step)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        return StepFailure{step, QStringLiteral("%1: %2").arg(from, source.errorString())};
    const QByteArray bytes = source.readAll();
    if (source.error() != QFileDevice::NoError)
        return StepFailure{step, source.errorString()};
    if (const SaveResult saved = saveFileSafely(to, bytes); !saved)
        return StepFailure{step, saved.error()};
    return std::nullopt;
}

QString programDirectory(const StartupEnvironment& env)
{
    if (QFile::exists(env.executableDirectory + u'/' + DataPaths::kSettingsFile))
        return env.executableDirectory;
    return env.installedShareDirectory;
}

} // namespace

StartupOutcome::StartupOutcome() = default;
StartupOutcome::StartupOutcome(StartupOutcome&&) noexcept = default;
StartupOutcome& StartupOutcome::operator=(StartupOutcome&&) noexcept = default;
StartupOutcome::~StartupOutcome() = default;

QString openErrorMessage(const QString& stepDescription, const QString& reason)
{
    QString text = QStringLiteral("\r\nOpen Error:\r\n If Error Persists, You May Need To "
                                  "Uninstall And Re-Install Quillor...\r\n...") +
                   stepDescription;
    if (!reason.isEmpty())
        text += QStringLiteral("\r\n(") + reason + u')';
    return text;
}

QString dataDirectoryFor(const QString& profileDirectory)
{
    return profileDirectory + u'/' + kAppDataDirectory + u'/' + kProgramTitle;
}

QString defaultProfileDirectory()
{
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    if (QDir::isAbsolutePath(xdg))
        return QDir::cleanPath(xdg);
    return QDir::homePath() + QStringLiteral("/.local/share");
}

StartupEnvironment StartupEnvironment::current(const QString& executableDirectory)
{
    StartupEnvironment env;
    env.executableDirectory = executableDirectory;
    env.profileDirectory = defaultProfileDirectory();
    env.now = QDateTime::currentDateTime();
    return env;
}

StartupOutcome runStartup(const StartupEnvironment& env, AppState& state)
{
    StartupOutcome outcome;
    const auto failed = [&outcome](const StepFailure& failure) -> StartupOutcome {
        outcome.status = StartupOutcome::Status::Failed;
        outcome.message = openErrorMessage(failure.description, failure.reason);
        return std::move(outcome);
    };

    // The profile may be a fresh ~/.local/share that nothing has made yet.
    const QString dataStep = QStringLiteral(
        "App Start-Up, Error Accessing Or Creating App Data Sub-Dirs In XP-NT User Dir");
    if (TestDirectory(env.profileDirectory) != 0 && !QDir().mkpath(env.profileDirectory))
        return failed({dataStep, env.profileDirectory});
    const QString appData = env.profileDirectory + u'/' + kAppDataDirectory;
    for (const QString& dir : {appData, dataDirectoryFor(env.profileDirectory)}) {
        if (const auto failure = ensureDirectory(dir))
            return failed(*failure);
    }
    DataPaths paths = DataPaths::forDataDirectory(dataDirectoryFor(env.profileDirectory));
    paths.programDirectory = programDirectory(env);
    QFile::setPermissions(paths.dataDirectory,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    // One program per data directory; a directory where no lock can be made is used unlocked.
    outcome.lock = std::make_unique<QLockFile>(paths.dataDirectory + u'/' + kLockFileName);
    outcome.lock->setStaleLockTime(0);
    if (!outcome.lock->tryLock(0) && outcome.lock->error() == QLockFile::LockFailedError) {
        outcome.lock.reset();
        outcome.status = StartupOutcome::Status::AlreadyRunning;
        outcome.message = QStringLiteral("\r\n\r\n\r\nRunning Multiple Instances Of\r\n") +
                          kProgramTitle + QStringLiteral("\r\nIs Not Supported.");
        return outcome;
    }

    // A password change that a crash interrupted is finished, or what it staged removed,
    // before anything reads the pair.
    if (const SaveResult settled = PairFiles::settlePairDirectory(paths.dataDirectory); !settled)
        return failed(
            {paths.dataDirectory + QStringLiteral(" ..Interrupted Change Of Password Files, Error "
                                                  "Finishing It"),
             settled.error()});

    const QString defaultSettings = paths.programDirectory + u'/' + DataPaths::kSettingsFile;
    const QString copyStep = QStringLiteral("No App Data\\App\\Ini File, Error Copying It");
    if (TestFileReadable(defaultSettings) != 0 ||
        QFile(defaultSettings).size() < SettingsRecord::kMinimumDefaultSize)
        return failed({copyStep, defaultSettings});
    if (TestFileReadable(paths.settingsPath) != 0) {
        if (const auto failure = copyDefaultFile(defaultSettings, paths.settingsPath, copyStep))
            return failed(*failure);
    }
    const QString readStep = QStringLiteral("No.. ") + paths.settingsPath +
                             QStringLiteral(" ..Or Error Opening Or Reading It");
    const auto settings = readSettingsFile(paths.settingsPath);
    if (!settings.settings)
        return failed({readStep, settings.failure});
    state.settings = *settings.settings;

    const QString afterStep = QStringLiteral("After.. ") + paths.settingsPath +
                              QStringLiteral(" ..Read, Sub_Main App. Boot Error");
    if (TestFileReadable(paths.masterPasswordPath) != 0) {
        const QString defaultMaster =
            paths.programDirectory + u'/' + DataPaths::kMasterPasswordFile;
        if (const auto failure =
                copyDefaultFile(defaultMaster, paths.masterPasswordPath, afterStep))
            return failed(*failure);
    }

    applyFirstRun(state.settings, env.now);
    resolveListFont(state.settings, env.fontFamilies, env.generalFontFamily);

    state.checkValue = QByteArrayLiteral("123456789");
    state.paths = paths;
    outcome.status = StartupOutcome::Status::Started;
    return outcome;
}
