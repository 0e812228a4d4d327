#pragma once

#include "Settings.h"
#include "store/SaveResult.h"

#include <optional>

struct SettingsRead {
    std::optional<Settings> settings;
    QString failure;
};

SettingsRead readSettingsFile(const QString& path);
SaveResult writeSettingsFile(const QString& path, const Settings& settings);
