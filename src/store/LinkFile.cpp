#include "LinkFile.h"

#include "CipherGuard.h"
#include "EntryModel.h"
#include "LinkRecord.h"

#include <QFile>
#include <QFileInfo>

namespace {
// Records read at a time: large enough to read fast, small enough that a big file is never
// held in memory whole.
constexpr qint64 kRecordsPerRead = 64;
} // namespace

qint64 linkRecordCount(qint64 fileSize)
{
    const qint64 whole = fileSize / kLinkRecordSize;
    const qint64 rest2 = (fileSize % kLinkRecordSize) * 2;
    if (rest2 > kLinkRecordSize || (rest2 == kLinkRecordSize && whole % 2 == 1))
        return whole + 1;
    return whole;
}

qint64 storedRecordCount(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const qint64 size = file.size();
    const qint64 whole = size / kLinkRecordSize;
    if (linkRecordCount(size) == whole)
        return whole;
    const qint64 tail = size - whole * kLinkRecordSize;
    if (!file.seek(whole * kLinkRecordSize))
        return whole;
    return decodeLinkRecord(file.read(tail)) ? whole + 1 : whole;
}

LinkFileRead readLinkFile(const QString& path, QByteArrayView password, CipherService& cipher,
                          EmptyLinkFile emptyFile)
{
    LinkFileRead result;
    if (!QFileInfo::exists(path))
        return result;

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.failure = QStringLiteral("%1: %2").arg(path, file.errorString());
        return result;
    }
    const qint64 size = file.size();
    const qint64 count = linkRecordCount(size);
    if (count == 0) {
        file.close();
        if (emptyFile == EmptyLinkFile::Delete && !QFile::remove(path))
            result.failure = QStringLiteral("%1: cannot remove the empty file").arg(path);
        return result;
    }

    CipherGuard provider(cipher);
    const CipherKey* keyForBatch = cipher.keyForBatch(password);
    if (!keyForBatch) {
        result.failure = CipherService::kNotConnected;
        return result;
    }
    const CipherKey& key = *keyForBatch;
    // A damaged file may claim any size; the list grows as records really are read.
    result.entries.reserve(std::size_t(std::min<qint64>(count, 100'000)));
    QByteArray buffer;
    for (qint64 first = 0; first < count; first += kRecordsPerRead) {
        const qint64 records = std::min(kRecordsPerRead, count - first);
        const qint64 want = std::min(records * kLinkRecordSize, size - first * kLinkRecordSize);
        buffer.resize(want);
        if (file.read(buffer.data(), want) != want) {
            result.failure = QStringLiteral("%1: cannot read record %2").arg(path).arg(first + 1);
            return result;
        }
        for (qint64 r = 0; r < records; ++r) {
            const QByteArrayView bytes = QByteArrayView(buffer).sliced(r * kLinkRecordSize);
            const auto record =
                decodeLinkRecord(bytes.first(std::min<qsizetype>(bytes.size(), kLinkRecordSize)));
            if (!record) {
                result.failure =
                    QStringLiteral("%1: record %2 is damaged").arg(path).arg(first + r + 1);
                return result;
            }
            Entry entry(record->title, record->url, record->userName, record->password,
                        int(result.entries.size()) + 1);
            entry.transformPlainItems(
                [&key](char* data, qsizetype length) { key.cryptInPlace(data, length); });
            result.entries.push_back(std::move(entry));
        }
    }
    return result;
}

bool loadList(EntryModel& model, const QString& path, QByteArrayView password,
              CipherService& cipher)
{
    model.clear();
    LinkFileRead read = readLinkFile(path, password, cipher);
    model.setEntries(std::move(read.entries));
    return read.ok();
}
