#include "Startup.h"

#include "AppState.h"
#include "ModuleRoutines.h"
#include "SettingsFile.h"
#include "store/FileAccess.h"
#include "store/PairFiles.h"
#include "store/SafeFileWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kAppDataDirectory = QStringLiteral("Application Data");

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

// A directory another user owns is theirs to read, or to fill with links in place of our files.
// Ours is kept to ourselves.
std::optional<StepFailure> checkOwnDirectory(const QString& path, bool tighten)
{
    const QString step = path + QStringLiteral(" Dir, or Error Creating It");
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0)
        return StepFailure{step, qt_error_string(errno)};
    if (st.st_uid != ::geteuid())
        return StepFailure{
            step, QStringLiteral("the directory belongs to another user (uid %1)").arg(st.st_uid)};
    if (tighten && (st.st_mode & 07777) != S_IRWXU && ::chmod(native.constData(), S_IRWXU) != 0)
        return StepFailure{
            step,
            QStringLiteral("cannot make the directory private: %1").arg(qt_error_string(errno))};
    return std::nullopt;
}

std::optional<QByteArray> readDataFile(const QString& path, QString& failure)
{
    QFile file;
    if (const QString reason = openRegularFile(file, path); !reason.isEmpty()) {
        failure = QStringLiteral("%1: %2").arg(path, reason);
        return std::nullopt;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        failure = QStringLiteral("%1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    return bytes;
}

std::optional<StepFailure> copyDefaultFile(const QString& from, const QString& to,
                                           const QString& step)
{
    QString failure;
    const std::optional<QByteArray> bytes = readDataFile(from, failure);
    if (!bytes)
        return StepFailure{step, failure};
    if (const SaveResult saved = saveFileSafely(to, *bytes); !saved)
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
    DataPaths paths = DataPaths::forDataDirectory(dataDirectoryFor(env.profileDirectory));
    paths.programDirectory = programDirectory(env);
    // Nothing is made inside a directory before it is known to be ours.
    for (const QString& dir : {appData, paths.dataDirectory}) {
        if (const auto failure = ensureDirectory(dir))
            return failed(*failure);
        if (const auto failure = checkOwnDirectory(dir, dir == paths.dataDirectory))
            return failed(*failure);
    }

    // One program per data directory; a directory where no lock can be made is used unlocked,
    // but what stands at the lock's name and is no file is the user's to remove.
    outcome.lock = std::make_unique<InstanceLock>(QStringLiteral("quillor"));
    switch (outcome.lock->acquire(paths.dataDirectory)) {
    case InstanceLock::Outcome::Locked:
        break;
    case InstanceLock::Outcome::Held:
        outcome.lock.reset();
        outcome.status = StartupOutcome::Status::AlreadyRunning;
        outcome.message = QStringLiteral("\r\n\r\n\r\nRunning Multiple Instances Of\r\n") +
                          kProgramTitle + QStringLiteral("\r\nIs Not Supported.");
        return outcome;
    case InstanceLock::Outcome::Failed: {
        const QString failure = outcome.lock->failure();
        outcome.lock.reset();
        struct stat info {};
        if (::lstat(QFile::encodeName(InstanceLock::pathFor(paths.dataDirectory)).constData(),
                    &info) == 0 &&
            !S_ISREG(info.st_mode))
            return failed({QStringLiteral("App Start-Up, Error Locking App Data Dir"), failure});
        break;
    }
    }
    // Only now that no other instance can be writing them.
    removeStaleTemporaries(paths.dataDirectory);

    // A password change that a crash interrupted is finished, or what it staged removed,
    // before anything reads the pair.
    if (const SaveResult settled = PairFiles::settlePairDirectory(paths.dataDirectory); !settled)
        return failed(
            {paths.dataDirectory + QStringLiteral(" ..Interrupted Change Of Password Files, Error "
                                                  "Finishing It"),
             settled.error()});

    const QString defaultSettings = paths.programDirectory + u'/' + DataPaths::kSettingsFile;
    const QString copyStep = QStringLiteral("No App Data\\App\\Ini File, Error Copying It");
    QString copyFailure;
    const std::optional<QByteArray> defaultRecord = readDataFile(defaultSettings, copyFailure);
    if (!defaultRecord)
        return failed({copyStep, copyFailure});
    if (defaultRecord->size() < SettingsRecord::kMinimumDefaultSize)
        return failed({copyStep, defaultSettings});
    if (TestFileReadable(paths.settingsPath) != 0) {
        if (const SaveResult saved = saveFileSafely(paths.settingsPath, *defaultRecord); !saved)
            return failed({copyStep, saved.error()});
    }
    const QString readStep = QStringLiteral("No.. ") + paths.settingsPath +
                             QStringLiteral(" ..Or Error Opening Or Reading It");
    const auto settings = readSettingsFile(paths.settingsPath, *defaultRecord);
    if (!settings.settings)
        return failed({readStep, settings.failure});
    state.settings = *settings.settings;

    const QString afterStep = QStringLiteral("After.. ") + paths.settingsPath +
                              QStringLiteral(" ..Read, Sub_Main App. Boot Error");
    // A link to a folder that is not mounted is a file out of reach: a default one put there
    // would open the link file beside it under the default password.
    if (const QString broken = brokenLinkProblem(paths.masterPasswordPath); !broken.isEmpty())
        return failed({afterStep, QStringLiteral("%1: %2").arg(paths.masterPasswordPath, broken)});
    // Beside a links file whose own password file is gone, the default password would "open" it
    // into garbage. None is set then: the window says that no password opens the files, and an
    // undo of the restore that left them so, when one is kept, still can.
    const QFileInfo linkFile(paths.linkFilePath);
    const bool orphanedLinks =
        !QFileInfo::exists(paths.masterPasswordPath) && linkFile.exists() && linkFile.size() > 0;
    if (!orphanedLinks) {
        if (TestFileReadable(paths.masterPasswordPath) != 0) {
            const QString defaultMaster =
                paths.programDirectory + u'/' + DataPaths::kMasterPasswordFile;
            if (const auto failure =
                    copyDefaultFile(defaultMaster, paths.masterPasswordPath, afterStep))
                return failed(*failure);
        }
        // Something there that is no file (a pipe, a directory) could never be unlocked.
        QFile master;
        if (const QString reason = openRegularFile(master, paths.masterPasswordPath);
            !reason.isEmpty())
            return failed(
                {afterStep, QStringLiteral("%1: %2").arg(paths.masterPasswordPath, reason)});
    }

    applyFirstRun(state.settings, env.now);
    resolveListFont(state.settings, env.fontFamilies, env.generalFontFamily);

    state.checkValue = QByteArrayLiteral("123456789");
    state.paths = paths;
    outcome.status = StartupOutcome::Status::Started;
    return outcome;
}
