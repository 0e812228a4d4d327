#include "LinkFileRewrite.h"

#include "CipherGuard.h"
#include "FileAccess.h"
#include "LinkFile.h"
#include "LinkRecord.h"
#include "MasterPasswordFile.h"
#include "PairFiles.h"
#include "SafeFileWriter.h"
#include "StoredField.h"
#include "cipher/SecureWipe.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <unistd.h>
#include <vector>

namespace {

// Records laid out before each write: few writes, and memory that stays small.
constexpr qsizetype kRecordsPerWrite = 64;

using Items = std::array<QByteArrayView, 4>;
// How much of each field's room a record laid out before left holding its text.
using Written = std::array<qsizetype, 4>;

// Lays out one record at out from its four items in file order, over the record that `written`
// describes; crypt(data, length) is applied where each of the first three lies, the password's
// cipher text is copied as it is.
template <typename Crypt>
bool putRecord(char* out, Written& written, const Items& items, Crypt crypt)
{
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (!overwriteStoredField(out, kLinkFieldWidths[i], items[i], written[i]))
            return false;
        if (i < 3)
            crypt(out + kLengthPrefixDigits, items[i].size());
        out += kLinkFieldWidths[i];
    }
    return true;
}

// Fills a buffer with records and hands it to the writer a batch at a time. The buffer is
// blanked once: each record then overwrites the one before it in its place, which leaves most of
// the blanks standing.
template <typename Writer> class RecordBatches {
public:
    explicit RecordBatches(Writer& writer)
        : m_writer(writer)
        , m_buffer(kRecordsPerWrite * kLinkRecordSize, ' ')
        , m_written(std::size_t(kRecordsPerWrite), Written{})
    {
    }
    ~RecordBatches() { secureWipe(m_buffer); }

    struct Room {
        char* out;
        Written& written;
    };
    // Room for the next record.
    Room next()
    {
        if (m_used == kRecordsPerWrite)
            flush();
        const qsizetype slot = m_used++;
        return {m_buffer.data() + slot * kLinkRecordSize, m_written[std::size_t(slot)]};
    }
    bool flush()
    {
        const bool written =
            m_writer.write(QByteArrayView(m_buffer.constData(), m_used * kLinkRecordSize));
        m_used = 0;
        return written;
    }

private:
    Writer& m_writer;
    QByteArray m_buffer;
    std::vector<Written> m_written;
    qsizetype m_used = 0;
};

SaveResult failure(const QString& path, const QString& reason)
{
    return SaveResult::failure(QStringLiteral("%1: %2").arg(path, reason));
}

// The records of the link file at sourcePath, decrypted under one key and encrypted under the
// other where they lie, into the staged file. The plain items live only in the output buffer,
// which is wiped.
SaveResult reencryptRecords(const QString& sourcePath, PairFiles::StagedFile& staged,
                            const CipherKey& oldKey, const CipherKey& newKey)
{
    QFile source;
    if (const QString refused = openRegularFile(source, sourcePath); !refused.isEmpty())
        return failure(sourcePath, refused);
    LinkRecordReader reader(source, sourcePath, source.size());
    RecordBatches batches(staged);
    const auto recrypt = [&](char* data, qsizetype length) {
        oldKey.cryptInPlace(data, length);
        newKey.cryptInPlace(data, length);
    };
    while (const auto record = reader.next()) {
        const Items items = {record->title, record->url, record->userName, record->password};
        const auto room = batches.next();
        // Every field is re-encrypted; the password too, unlike in a rewrite of the list.
        if (!putRecord(room.out, room.written, items, recrypt))
            return failure(sourcePath, QStringLiteral("a record does not fit its fields"));
        recrypt(room.out + kLinkRecordSize - kPasswordFieldWidth + kLengthPrefixDigits,
                record->password.size());
    }
    if (!reader.failure().isEmpty())
        return SaveResult::failure(reader.failure());
    batches.flush();
    return {};
}

} // namespace

namespace {

// The records of the list, at(i) giving the entry of record i, handed to the writer; false when
// an item does not fit its field.
template <typename Writer, typename EntryAt, typename Crypt>
bool putList(Writer& writer, std::size_t count, EntryAt at, Crypt encrypt)
{
    RecordBatches batches(writer);
    for (std::size_t i = 0; i < count; ++i) {
        const Entry& entry = at(i);
        const Items items = {entry.title(), entry.url(), entry.userName(), entry.passwordCipher()};
        const auto room = batches.next();
        if (!putRecord(room.out, room.written, items, encrypt))
            return false;
    }
    batches.flush();
    return true;
}

// at(i) gives the entry of record i.
template <typename EntryAt>
SaveResult writeList(const QString& linkFilePath, std::size_t count, EntryAt at,
                     QByteArrayView masterPassword, CipherService& cipher,
                     const ExpectedLinkFile& expected)
{
    if (count == 0) {
        if (const QString changed = unexpectedFile(expected.linkFile, linkFilePath);
            !changed.isEmpty())
            return SaveResult::changedOnDisk(
                QStringLiteral("%1 changed on disk: %2").arg(linkFilePath, changed));
        if (const QString changed = unexpectedMasterPasswordFile(expected, linkFilePath);
            !changed.isEmpty())
            return SaveResult::changedOnDisk(changed);
        if (::unlink(QFile::encodeName(linkFilePath).constData()) != 0 && errno != ENOENT)
            return failure(linkFilePath, qt_error_string(errno));
        syncDirectory(QFileInfo(linkFilePath).absolutePath());
        return {};
    }

    CipherGuard provider(cipher);
    const CipherKey* key = cipher.keyForBatch(masterPassword);
    if (!key)
        return failure(linkFilePath, CipherService::kNotConnected);
    const auto encrypt = [key](char* data, qsizetype length) {
        key->cryptInPlace(data, length);
    };

    SafeFileWriter writer(linkFilePath);
    writer.expectTarget(expected.linkFile);
    if (expected.masterPasswordFile)
        writer.expectBeside(QFileInfo(linkFilePath).path() + u'/' + PairFiles::kMasterPasswordFile,
                            expected.masterPasswordFile);
    if (!putList(writer, count, at, encrypt)) {
        writer.cancel();
        return failure(linkFilePath, QStringLiteral("an item does not fit its field"));
    }
    return writer.commit();
}

} // namespace

SaveResult SaveListToLinkFile(const QString& linkFilePath, const std::vector<Entry>& entries,
                              QByteArrayView masterPassword, CipherService& cipher,
                              const ExpectedLinkFile& expected)
{
    return writeList(
        linkFilePath, entries.size(), [&](std::size_t i) -> const Entry& { return entries[i]; },
        masterPassword, cipher, expected);
}

SaveResult SaveListToLinkFile(const QString& linkFilePath, std::span<const Entry* const> entries,
                              QByteArrayView masterPassword, CipherService& cipher,
                              const ExpectedLinkFile& expected)
{
    return writeList(
        linkFilePath, entries.size(), [&](std::size_t i) -> const Entry& { return *entries[i]; },
        masterPassword, cipher, expected);
}

SaveResult stageList(PairFiles::StagedFile& staged, const std::vector<Entry>& entries,
                     QByteArrayView masterPassword, CipherService& cipher)
{
    CipherGuard provider(cipher);
    const CipherKey* key = cipher.keyForBatch(masterPassword);
    if (!key)
        return failure(staged.path(), CipherService::kNotConnected);
    const auto encrypt = [key](char* data, qsizetype length) {
        key->cryptInPlace(data, length);
    };
    if (!putList(
            staged, entries.size(), [&](std::size_t i) -> const Entry& { return entries[i]; },
            encrypt))
        return failure(staged.path(), QStringLiteral("an item does not fit its field"));
    return {};
}

SaveResult reencryptPair(const QString& directory, QByteArrayView oldPassword,
                         QByteArrayView newPassword, QByteArrayView checkValue,
                         CipherService& cipher, const std::optional<PairIdentity>& expected)
{
    using namespace PairFiles;
    if (newPassword.size() > MasterPasswordFile::kFieldWidth - kLengthPrefixDigits)
        return SaveResult::failure(QStringLiteral("the password is too long"));
    if (SaveResult settled = settlePairDirectory(directory); !settled)
        return settled;

    // Checked before the files are read, so that a changed file is said to be changed rather
    // than damaged, and again at the switch.
    const auto changedPair = [&]() -> std::optional<SaveResult> {
        if (!expected)
            return std::nullopt;
        for (const auto& [name, identity] : {std::pair(kMasterPasswordFile, expected->masterPasswordFile),
                                             std::pair(kLinkFile, expected->linkFile)}) {
            const QString path = directory + u'/' + name;
            if (const QString changed = unexpectedFile(identity, path); !changed.isEmpty())
                return SaveResult::changedOnDisk(
                    QStringLiteral("%1 changed on disk: %2").arg(path, changed));
        }
        return std::nullopt;
    };
    if (auto changed = changedPair())
        return *changed;
    PairReplacement pair(directory);
    if (expected) {
        pair.expect(kMasterPasswordFile, expected->masterPasswordFile);
        pair.expect(kLinkFile, expected->linkFile);
    }
    QByteArray record = MasterPasswordFile::makeRecord(newPassword, cipher, checkValue);
    pair.stage(kMasterPasswordFile).write(record);
    secureWipe(record);

    const QString linkPath = directory + u'/' + kLinkFile;
    if (QFileInfo(linkPath).size() >= 1) {
        CipherGuard provider(cipher);
        // Two keys at once: the service keeps one, so the other is made here.
        const CipherKey oldKey(oldPassword);
        const CipherKey* newKey = cipher.keyForBatch(newPassword);
        if (!newKey)
            return failure(linkPath, CipherService::kNotConnected);
        if (SaveResult copied = reencryptRecords(linkPath, pair.stage(kLinkFile), oldKey, *newKey);
            !copied) {
            if (auto changed = changedPair())
                return *changed;
            return copied;
        }
    }
    return pair.commit();
}
