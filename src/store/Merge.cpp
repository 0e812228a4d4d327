#include "Merge.h"

#include "EntryPassword.h"
#include "EntryWriter.h"
#include "LinkFileRewrite.h"
#include "PairFiles.h"
#include "cipher/SecureWipe.h"

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
        const auto encrypted = encryptEntry(other.title(), other.url(), other.userName(),
                                            password, ourPassword, cipher);
        secureWipe(password);
        if (!encrypted)
            return std::nullopt;
        merged.emplace_back(other.title(), other.url(), other.userName(),
                            encrypted->passwordCipher, int(merged.size()) + 1);
        ++(samePlace ? counts.beside : counts.added);
    }
    return merged;
}

SaveResult writeMergedList(const QString& dataDirectory, const std::vector<Entry>& entries,
                           QByteArrayView masterPassword, CipherService& cipher)
{
    PairFiles::PairReplacement pair(dataDirectory);
    if (entries.empty()) {
        pair.remove(PairFiles::kLinkFile);
    } else if (SaveResult staged = stageList(pair.stage(PairFiles::kLinkFile), entries,
                                             masterPassword, cipher);
               !staged) {
        return staged;
    }
    return pair.commit();
}

} // namespace Merge
