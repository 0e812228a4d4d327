#include "SettingsFile.h"

#include "store/SafeFileWriter.h"

#include <QFile>

SettingsRead readSettingsFile(const QString& path)
{
    SettingsRead result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.failure = file.errorString();
        return result;
    }
    const QByteArray record = file.read(SettingsRecord::kSize);
    if (file.error() != QFileDevice::NoError) {
        result.failure = file.errorString();
        return result;
    }
    result.settings = SettingsRecord::decode(record);
    return result;
}

SaveResult writeSettingsFile(const QString& path, const Settings& settings)
{
    return saveFileSafely(path, SettingsRecord::encode(settings));
}
