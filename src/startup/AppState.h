#pragma once

#include "Settings.h"
#include "cipher/CipherService.h"

#include <QByteArray>
#include <QString>

// Where the program's files are, settled once at start.
struct DataPaths {
    QString programDirectory; // the default files, the help page
    QString dataDirectory;
    QString settingsPath;
    QString masterPasswordPath;
    QString linkFilePath;

    static inline const QString kSettingsFile = QStringLiteral("QuiSetts.ini");
    static inline const QString kMasterPasswordFile = QStringLiteral("QuiFil.ini");
    static inline const QString kLinkFile = QStringLiteral("QuiURL.dab");

    static DataPaths forDataDirectory(const QString& dataDirectory);
};

// What lives for the whole run; owned by main() and handed to the windows by reference.
struct AppState {
    DataPaths paths;
    Settings settings;
    CipherService cipher;
    QByteArray masterPassword; // Windows-1252; empty until the first unlock
    QByteArray checkValue;

    bool mainWindowOpen = false;
    bool enterItemsOpen = false;
    bool optionsOpen = false;
    bool aboutMode = false;

    AppState() = default;
    ~AppState();
    AppState(const AppState&) = delete;
    AppState& operator=(const AppState&) = delete;
};
