#include "AppState.h"

#include "cipher/SecureWipe.h"

DataPaths DataPaths::forDataDirectory(const QString& dataDirectory)
{
    DataPaths paths;
    paths.dataDirectory = dataDirectory;
    paths.settingsPath = dataDirectory + u'/' + kSettingsFile;
    paths.masterPasswordPath = dataDirectory + u'/' + kMasterPasswordFile;
    paths.linkFilePath = dataDirectory + u'/' + kLinkFile;
    return paths;
}

AppState::~AppState()
{
    secureWipe(masterPassword);
}
