// crash-driver OPERATION DATA_DIR: one write operation of the core on a data directory, for the
// crash-point test to kill or fail at each of its system calls. Exits kExitSaved when the
// operation reported success, kExitFailed when it reported failure and kExitMadeUnsure when it
// reported a failure after its change was made, with the reason on standard error.

#include "CrashOperations.h"

#include "cipher/CipherService.h"
#include "startup/SettingsFile.h"
#include "store/EntryWriter.h"
#include "store/LinkFile.h"
#include "store/LinkFileRewrite.h"
#include "store/MasterPasswordFile.h"

#include <QDir>

#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace CrashOperations;

namespace {

QString pathIn(const QString& dir, const QString& name)
{
    return QDir(dir).filePath(name);
}

std::optional<QByteArray> encryptNewItem(CipherService& cipher)
{
    const auto encrypted = encryptEntry(kNewItem.title, kNewItem.url, kNewItem.userName,
                                        kNewItem.password, kMasterPassword, cipher);
    if (!encrypted)
        return std::nullopt;
    return encrypted->record;
}

SaveResult addEntry(const QString& dir)
{
    CipherService cipher;
    const auto record = encryptNewItem(cipher);
    if (!record)
        return SaveResult::failure(QStringLiteral("an item is too long"));
    return appendLinkRecord(pathIn(dir, DataPaths::kLinkFile), *record);
}

SaveResult replaceEntry(const QString& dir)
{
    CipherService cipher;
    const auto record = encryptNewItem(cipher);
    if (!record)
        return SaveResult::failure(QStringLiteral("an item is too long"));
    return replaceLinkRecord(pathIn(dir, DataPaths::kLinkFile), kReplacedEntry, *record);
}

SaveResult writeSettings(const QString& dir)
{
    return writeSettingsFile(pathIn(dir, DataPaths::kSettingsFile), newSettings());
}

SaveResult createMasterPassword(const QString& dir)
{
    CipherService cipher;
    return MasterPasswordFile::create(pathIn(dir, DataPaths::kMasterPasswordFile),
                                      kNewMasterPassword, cipher);
}

// A delete from the list: the link file written anew without the entry.
SaveResult deleteEntry(const QString& dir)
{
    CipherService cipher;
    const QString path = pathIn(dir, DataPaths::kLinkFile);
    LinkFileRead read = readLinkFile(path, kMasterPassword, cipher, EmptyLinkFile::Keep);
    if (!read.ok())
        return SaveResult::failure(read.failure);
    if (read.entries.size() < std::size_t(kReplacedEntry))
        return SaveResult::failure(QStringLiteral("no entry %1").arg(kReplacedEntry));
    read.entries.erase(read.entries.begin() + (kReplacedEntry - 1));
    return SaveListToLinkFile(path, read.entries, kMasterPassword, cipher);
}

// Move To Top of the last entry: the link file written anew in the new order.
SaveResult moveEntry(const QString& dir)
{
    CipherService cipher;
    const QString path = pathIn(dir, DataPaths::kLinkFile);
    LinkFileRead read = readLinkFile(path, kMasterPassword, cipher, EmptyLinkFile::Keep);
    if (!read.ok())
        return SaveResult::failure(read.failure);
    std::rotate(read.entries.begin(), read.entries.end() - 1, read.entries.end());
    return SaveListToLinkFile(path, read.entries, kMasterPassword, cipher);
}

SaveResult changePassword(const QString& dir)
{
    CipherService cipher;
    return reencryptPair(dir, kMasterPassword, kNewMasterPassword, MasterPasswordFile::kCheckValue,
                         cipher);
}

struct Operation {
    const char* name;
    SaveResult (*run)(const QString& dir);
};

// The names the test's table uses; an operation that joins the test gets a line here.
constexpr Operation kOperations[] = {
    {"add", addEntry},           {"replace", replaceEntry},
    {"settings", writeSettings}, {"master-password", createMasterPassword},
    {"delete", deleteEntry},     {"change-password", changePassword},
    {"move", moveEntry},
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: crash-driver OPERATION DATA_DIR\n");
        return kExitUsage;
    }
    for (const Operation& operation : kOperations) {
        if (std::strcmp(argv[1], operation.name) != 0)
            continue;
        const SaveResult result = operation.run(QFile::decodeName(argv[2]));
        if (!result) {
            std::fprintf(stderr, "%s\n", qPrintable(result.error()));
            return result.made() ? kExitMadeUnsure : kExitFailed;
        }
        return kExitSaved;
    }
    std::fprintf(stderr, "crash-driver: no operation %s\n", argv[1]);
    return kExitUsage;
}
