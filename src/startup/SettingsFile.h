#pragma once

#include "Settings.h"
#include "store/SaveResult.h"

#include <optional>

struct SettingsRead {
    std::optional<Settings> settings;
    QString failure;
};

// defaults: the default settings file's record, for the fields past the end of a short file.
SettingsRead readSettingsFile(const QString& path, QByteArrayView defaults = {});
SaveResult writeSettingsFile(const QString& path, const Settings& settings);
