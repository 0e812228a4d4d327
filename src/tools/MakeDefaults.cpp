// Writes the default settings file and the default master password file into a directory.

#include "cipher/CipherService.h"
#include "startup/AppState.h"
#include "startup/Settings.h"
#include "store/MasterPasswordFile.h"
#include "store/SafeFileWriter.h"

#include <QRandomGenerator>

#include <cstdio>

namespace {
const QByteArray kDefaultMasterPassword = QByteArrayLiteral("Pomelo");

bool save(const QString& path, const QByteArray& bytes)
{
    const SaveResult saved = saveFileSafely(path, bytes);
    if (!saved)
        std::fprintf(stderr, "quillor-make-defaults: %s\n", qPrintable(saved.error()));
    return saved.ok();
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: quillor-make-defaults DIRECTORY\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);

    Settings settings;
    settings.placementStored = Settings::kFirstRunMark;
    settings.fontName = QStringLiteral("Verdana");
    // A fixed seed keeps the filler of the digit code, and so the build, reproducible.
    QRandomGenerator filler(1);
    CipherService cipher;
    const bool ok =
        save(dir + u'/' + DataPaths::kSettingsFile, SettingsRecord::encode(settings, filler)) &&
        save(dir + u'/' + DataPaths::kMasterPasswordFile,
             MasterPasswordFile::makeRecord(kDefaultMasterPassword, cipher));
    return ok ? 0 : 1;
}
