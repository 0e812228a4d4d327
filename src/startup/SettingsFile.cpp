#include "SettingsFile.h"

#include "store/FileAccess.h"
#include "store/SafeFileWriter.h"

#include <QFile>

SettingsRead readSettingsFile(const QString& path, QByteArrayView defaults)
{
    SettingsRead result;
    QFile file;
    if (const QString failure = openRegularFile(file, path); !failure.isEmpty()) {
        result.failure = failure;
        return result;
    }
    const QByteArray record = file.read(SettingsRecord::kSize);
    if (file.error() != QFileDevice::NoError) {
        result.failure = file.errorString();
        return result;
    }
    result.settings = SettingsRecord::decode(record, defaults);
    return result;
}

SaveResult writeSettingsFile(const QString& path, const Settings& settings)
{
    return saveFileSafely(path, SettingsRecord::encode(settings));
}
