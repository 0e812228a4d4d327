// The link file reader, given the input as QuiURL.dab: the record count from the size, the
// reads 64 records at a time, the short last record, the decryption in place, and the count and
// the damage check that the writers rely on.

#include "FuzzSupport.h"
#include "cipher/CipherService.h"
#include "store/CipherGuard.h"
#include "store/LinkFile.h"
#include "store/LinkRecord.h"

#include <QFileInfo>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes = Fuzz::bytesOf(data, size);
    const QString path = Fuzz::inputFile(QStringLiteral("QuiURL.dab"), bytes);
    const qint64 count = linkRecordCount(bytes.size());
    // Before the read, which removes a file that holds no record.
    const std::optional<qint64> stored = storedRecordCount(path);
    FUZZ_CHECK(stored.has_value());
    const QString damage = findDamagedLinkRecord(path);

    // The listing's reader, which checks the whole file before it gives a record: the same
    // damage, and every record as the file holds it, from the first or from any other on.
    CheckedLinkFile checked;
    FUZZ_CHECK(checked.open(path) == damage);
    const auto recordAt = [&bytes](qint64 i) {
        const QByteArrayView rest = bytes.sliced(i * kLinkRecordSize);
        return decodeLinkRecord(rest.first(std::min<qsizetype>(rest.size(), kLinkRecordSize)));
    };
    const auto same = [](const LinkRecordView& a, const LinkRecordView& b) {
        return a.title == b.title && a.url == b.url && a.userName == b.userName &&
               a.password == b.password;
    };
    if (damage.isEmpty()) {
        for (qint64 i = 0; i < checked.count(); ++i) {
            const auto record = checked.next();
            FUZZ_CHECK(record && same(*record, *recordAt(i)));
        }
        FUZZ_CHECK(!checked.next() && checked.failure().isEmpty());
        const qint64 middle = checked.count() / 2;
        FUZZ_CHECK(checked.seek(middle));
        for (qint64 i = middle; i < checked.count(); ++i) {
            const auto record = checked.next();
            FUZZ_CHECK(record && same(*record, *recordAt(i)));
        }
    }

    CipherService cipher;
    const LinkFileRead read = readLinkFile(path, Fuzz::kPassword, cipher);
    const auto entries = qint64(read.entries.size());
    // The damage check that guards every rewrite sees what the load sees.
    FUZZ_CHECK(damage == read.failure);
    if (read.ok()) {
        // Every record the writers count, and no other: a short last one that lacks its fields
        // is a torn tail, which both leave out.
        FUZZ_CHECK(entries == *stored);
        FUZZ_CHECK(entries == checked.count());
        FUZZ_CHECK(entries == count ||
                   (entries == count - 1 && bytes.size() < count * kLinkRecordSize));
        FUZZ_CHECK(count > 0 || !QFileInfo::exists(path));
    } else {
        FUZZ_CHECK(entries < count);
        FUZZ_CHECK(*stored >= entries);
    }

    // Entry i is record i: its items encrypt back to the record's cipher texts.
    CipherGuard provider(cipher);
    for (qint64 i = 0; i < entries; ++i) {
        const Entry& entry = read.entries[std::size_t(i)];
        FUZZ_CHECK(entry.keyNumber() == i + 1);
        const QByteArrayView rest = bytes.sliced(i * kLinkRecordSize);
        const auto record =
            decodeLinkRecord(rest.first(std::min<qsizetype>(rest.size(), kLinkRecordSize)));
        FUZZ_CHECK(record);
        FUZZ_CHECK(cipher.EncryptText(entry.title(), Fuzz::kPassword) == record->title);
        FUZZ_CHECK(cipher.EncryptText(entry.url(), Fuzz::kPassword) == record->url);
        FUZZ_CHECK(cipher.EncryptText(entry.userName(), Fuzz::kPassword) == record->userName);
        FUZZ_CHECK(entry.passwordCipher() == record->password);
    }
    return 0;
}
