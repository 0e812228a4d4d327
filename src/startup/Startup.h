#pragma once

#include "InstanceLock.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <memory>

struct AppState;

inline const QString kProgramTitle = QStringLiteral("Quillor");
// The lock file that earlier versions kept in the data directory; the lock is now elsewhere
// (InstanceLock::pathFor), and a file of this name left there is removed.
inline const QString kLockFileName = QStringLiteral("quillor.lock");

// What the start-up sequence needs to know of the world; tests give their own.
struct StartupEnvironment {
    QString executableDirectory;
    QString installedShareDirectory;
    QString profileDirectory; // $XDG_DATA_HOME, else ~/.local/share
    QStringList fontFamilies;
    QString generalFontFamily;
    QDateTime now;

    // The environment of this process.
    static StartupEnvironment current(const QString& executableDirectory);
};

struct StartupOutcome {
    enum class Status { Started, AlreadyRunning, Failed };
    Status status = Status::Failed;
    QString message;                 // shown before ending, unless Started
    std::unique_ptr<InstanceLock> lock; // held while the program runs
    StartupOutcome();
    StartupOutcome(StartupOutcome&&) noexcept;
    StartupOutcome& operator=(StartupOutcome&&) noexcept;
    ~StartupOutcome();
};

// The data directory of a profile: "Application Data/Quillor" beneath it.
QString dataDirectoryFor(const QString& profileDirectory);
QString defaultProfileDirectory();

// Settles the data directory, puts the default files in place on first run, reads the
// settings and makes sure only one program runs on this data directory.
StartupOutcome runStartup(const StartupEnvironment& env, AppState& state);

// Composes the "Open Error:" message for a failed step.
QString openErrorMessage(const QString& stepDescription, const QString& reason = {});
