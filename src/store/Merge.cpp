#include "Merge.h"

#include "ConflictCopies.h"
#include "EntryPassword.h"
#include "EntryWriter.h"
#include "LinkFileRewrite.h"
#include "MasterPasswordFile.h"
#include "PairFiles.h"
#include "cipher/SecureWipe.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <algorithm>

namespace Merge {

namespace {

// Bytes of an item against its being typed: a C0 control character other than tab, DEL or a
// byte Windows-1252 leaves unassigned counts whole, since a typed item never holds one; any
// other byte past ASCII half, since typed items hold few. Under a wrong password the items are
// a key stream's noise.
struct Suspicion {
    qsizetype bytes = 0;
    qsizetype halves = 0;

    void add(QByteArrayView item)
    {
        bytes += item.size();
        for (const char c : item) {
            const auto u = static_cast<unsigned char>(c);
            const bool neverTyped = (u < 0x20 && u != '\t') || u == 0x7F || u == 0x81 ||
                                    u == 0x8D || u == 0x8F || u == 0x90 || u == 0x9D;
            halves += neverTyped ? 2 : u >= 0x80 ? 1 : 0;
        }
    }
};

} // namespace

bool readUnderAnotherPassword(const std::vector<Entry>& entries, QByteArrayView password,
                              CipherService& cipher)
{
    // The whole file is judged: one odd record is no proof, and a short list of short items
    // still holds a few dozen bytes.
    Suspicion suspicion;
    for (const Entry& entry : entries) {
        suspicion.add(entry.title());
        suspicion.add(entry.url());
        suspicion.add(entry.userName());
        QByteArray clear = decryptPassword(entry, password, cipher);
        suspicion.add(clear);
        secureWipe(clear);
    }
    // Noise scores three halves in four bytes; typed text next to none.
    return suspicion.halves >= 4 && suspicion.halves * 100 > suspicion.bytes * 30;
}

QString findSource(const QString& given, const QString& dataDirectory, Source& source)
{
    const QFileInfo info(given);
    const QString data = QFileInfo(dataDirectory).canonicalFilePath();
    if (!info.exists())
        return QStringLiteral("%1: no such file or folder").arg(given);
    if (info.isDir()) {
        if (info.canonicalFilePath() == data)
            return QStringLiteral("%1 is the data directory itself; name a conflict copy in it, "
                                  "or another folder")
                .arg(given);
        source.linkFile = QDir(given).filePath(PairFiles::kLinkFile);
        if (!QFileInfo(source.linkFile).isFile())
            return QStringLiteral("%1 holds no %2").arg(given, PairFiles::kLinkFile);
        const QString master = QDir(given).filePath(PairFiles::kMasterPasswordFile);
        if (QFileInfo::exists(master))
            source.masterPasswordFile = master;
        return {};
    }
    if (info.canonicalFilePath() == data + u'/' + PairFiles::kLinkFile)
        return QStringLiteral("%1 is the list itself; name the other version").arg(given);
    source.linkFile = given;
    const bool inDataDirectory = info.absoluteDir().canonicalPath() == data;
    const auto copy = ConflictCopies::recognise(info.fileName());
    if (copy && copy->of == ConflictCopies::Of::MasterPasswordFile)
        return QStringLiteral("%1 is a copy of the master password file, which holds no entries; "
                              "merge the copy of %2")
            .arg(given, PairFiles::kLinkFile);
    if (copy && inDataDirectory) {
        source.copies << copy->name;
        source.masterPasswordFile = ConflictCopies::companionMasterPasswordFile(data, *copy);
        if (!source.masterPasswordFile.isEmpty())
            source.copies << QFileInfo(source.masterPasswordFile).fileName();
    } else if (info.fileName() == PairFiles::kLinkFile) {
        const QString master = info.absoluteDir().filePath(PairFiles::kMasterPasswordFile);
        if (QFileInfo::exists(master))
            source.masterPasswordFile = master;
    }
    return {};
}

OtherRead readOther(const Source& source, QByteArrayView ourPassword, CipherService& cipher,
                    const std::function<std::optional<QByteArray>()>& ask)
{
    OtherRead other;
    bool asked = false;
    const auto askOnce = [&]() {
        asked = true;
        other.otherPassword = ask();
        if (!other.otherPassword)
            other.outcome = OtherRead::Outcome::NoPassword;
        return other.otherPassword.has_value();
    };
    if (!source.masterPasswordFile.isEmpty()) {
        const auto check =
            MasterPasswordFile::check(source.masterPasswordFile, ourPassword, cipher);
        switch (check.outcome) {
        case MasterPasswordFile::Outcome::Right:
        case MasterPasswordFile::Outcome::NoMasterPassword:
            break;
        case MasterPasswordFile::Outcome::Unreadable:
            other.outcome = OtherRead::Outcome::Unreadable;
            other.failure = QStringLiteral("%1: %2").arg(source.masterPasswordFile, check.failure);
            return other;
        case MasterPasswordFile::Outcome::Wrong:
            if (!askOnce())
                return other;
            if (MasterPasswordFile::check(source.masterPasswordFile, *other.otherPassword, cipher)
                    .outcome != MasterPasswordFile::Outcome::Right) {
                other.outcome = OtherRead::Outcome::WrongPassword;
                return other;
            }
            break;
        }
    }
    const auto read = [&]() {
        other.read =
            readLinkFile(source.linkFile, other.password(ourPassword), cipher, EmptyLinkFile::Keep);
        if (other.read.ok())
            return true;
        other.outcome = OtherRead::Outcome::Unreadable;
        other.failure = other.read.failure;
        return false;
    };
    if (!read())
        return other;
    if (!readUnderAnotherPassword(other.read.entries, other.password(ourPassword), cipher))
        return other;
    // Its own master password file took the password, yet the records are noise: they are
    // under yet another, which no answer here would tell.
    if (asked) {
        other.outcome = OtherRead::Outcome::WrongPassword;
        return other;
    }
    if (!askOnce() || !read())
        return other;
    if (readUnderAnotherPassword(other.read.entries, *other.otherPassword, cipher))
        other.outcome = OtherRead::Outcome::WrongPassword;
    return other;
}

std::optional<std::vector<Entry>> mergeLists(const std::vector<Entry>& ours,
                                             QByteArrayView ourPassword,
                                             const std::vector<Entry>& theirs,
                                             QByteArrayView theirPassword, CipherService& cipher,
                                             Counts& counts)
{
    counts = {};
    // Ours by title and address: only those few passwords are ever decrypted.
    QMultiHash<QByteArray, std::size_t> byPlace;
    const auto place = [](const Entry& entry) {
        return entry.title().toByteArray() + '\0' + entry.url().toByteArray();
    };
    for (std::size_t i = 0; i < ours.size(); ++i)
        byPlace.insert(place(ours[i]), i);

    std::vector<Entry> merged = ours;
    merged.reserve(ours.size() + theirs.size());
    for (const Entry& other : theirs) {
        QByteArray password = decryptPassword(other, theirPassword, cipher);
        bool samePlace = false;
        bool same = false;
        const auto [first, last] = byPlace.equal_range(place(other));
        for (auto it = first; it != last && !same; ++it) {
            samePlace = true;
            const Entry& mine = ours[*it];
            if (mine.userName() != other.userName())
                continue;
            QByteArray minePassword = decryptPassword(mine, ourPassword, cipher);
            same = minePassword == password;
            secureWipe(minePassword);
        }
        if (same) {
            ++counts.identical;
            secureWipe(password);
            continue;
        }
        const auto encrypted = encryptEntry(other.title(), other.url(), other.userName(), password,
                                            ourPassword, cipher);
        secureWipe(password);
        if (!encrypted)
            return std::nullopt;
        merged.emplace_back(other.title(), other.url(), other.userName(), encrypted->passwordCipher,
                            int(merged.size()) + 1);
        ++(samePlace ? counts.beside : counts.added);
    }
    return merged;
}

SaveResult writeMergedList(const QString& dataDirectory, const std::vector<Entry>& entries,
                           QByteArrayView masterPassword, CipherService& cipher,
                           const std::optional<PairIdentity>& expected)
{
    PairFiles::PairReplacement pair(dataDirectory);
    // The records are written under the password the master password file beside them held.
    if (expected) {
        pair.expect(PairFiles::kLinkFile, expected->linkFile);
        pair.expect(PairFiles::kMasterPasswordFile, expected->masterPasswordFile);
    }
    if (entries.empty()) {
        pair.remove(PairFiles::kLinkFile);
    } else if (SaveResult staged =
                   stageList(pair.stage(PairFiles::kLinkFile), entries, masterPassword, cipher);
               !staged) {
        return staged;
    }
    return pair.commit();
}

} // namespace Merge
