#include "LinkFileBuilder.h"

#include "cipher/CipherService.h"
#include "store/CipherGuard.h"
#include "store/LinkRecord.h"

#include <QFile>

namespace BenchData {
namespace {

constexpr int kRecordsPerWrite = 256;

// prefix, the number, then filler up to exactly width characters.
QByteArray item(const char* prefix, int number, int width, char filler)
{
    return (QByteArray(prefix) + QByteArray::number(number)).leftJustified(width, filler, true);
}

} // namespace

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
        const auto record = encodeLinkRecord({
            cipher.EncryptText(item("Bookmark page ", i, kTitleChars, '.'), password),
            cipher.EncryptText(item("https://www.example.org/articles/", i, kUrlChars, 'q'),
                               password),
            cipher.EncryptText(item("user.", i, kUserNameChars, '_'), password),
            cipher.EncryptText(item("S3cret!", i, kPasswordChars, '#'), password),
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

} // namespace BenchData
