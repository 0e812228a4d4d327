#include "LinkFileBuilder.h"

#include "cipher/CipherService.h"
#include "store/CipherGuard.h"
#include "store/LinkRecord.h"

#include <QFile>
#include <cstdio>

namespace BenchData {
namespace {

constexpr int kRecordsPerWrite = 256;

// prefix, the number, then filler up to exactly width characters.
QByteArray item(const char* prefix, int number, int width, char filler)
{
    return (QByteArray(prefix) + QByteArray::number(number)).leftJustified(width, filler, true);
}

} // namespace

TypicalEntry typicalEntry(int number)
{
    return {item("Bookmark page ", number, kTitleChars, '.'),
            item("https://www.example.org/articles/", number, kUrlChars, 'q'),
            item("user.", number, kUserNameChars, '_'),
            item("S3cret!", number, kPasswordChars, '#')};
}

QString writeTypicalLinkFile(const QString& path, int records, const QByteArray& password)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QStringLiteral("%1: %2").arg(path, file.errorString());

    CipherService cipher;
    CipherGuard provider(cipher);
    QByteArray chunk;
    chunk.reserve(qsizetype(kRecordsPerWrite) * kLinkRecordSize);
    for (int i = 1; i <= records; ++i) {
        const TypicalEntry entry = typicalEntry(i);
        const auto record = encodeLinkRecord({
            cipher.EncryptText(entry.title, password),
            cipher.EncryptText(entry.url, password),
            cipher.EncryptText(entry.userName, password),
            cipher.EncryptText(entry.password, password),
        });
        if (!record)
            return QStringLiteral("record %1 does not fit").arg(i);
        chunk += *record;
        if (i % kRecordsPerWrite == 0 || i == records) {
            if (file.write(chunk) != chunk.size())
                return QStringLiteral("%1: %2").arg(path, file.errorString());
            chunk.resize(0); // keeps the capacity for the next chunk
        }
    }
    if (!file.flush())
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    return {};
}

bool makeTypicalLinkFile(const QString& path, int records, const QByteArray& password)
{
    const QString failure = writeTypicalLinkFile(path, records, password);
    if (!failure.isEmpty())
        std::fprintf(stderr, "cannot write the link file: %s\n", qPrintable(failure));
    return failure.isEmpty();
}

} // namespace BenchData
