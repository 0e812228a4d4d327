#pragma once

// What the fuzz targets share: the password their inputs are encrypted under, a check that
// stops the run, and the input as a file for the readers that take a path.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Not assert(): the replay programs are built with NDEBUG, and a failed check must still stop.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

namespace Fuzz {

// The seeds are encrypted under it, so that the fuzzer starts from records that decrypt.
inline const QByteArray kPassword = QByteArrayLiteral("Pomelo");

inline QByteArrayView bytesOf(const std::uint8_t* data, std::size_t size)
{
    return QByteArrayView(data, qsizetype(size));
}

// The input written to a file of that name, in a directory of this process's own: libFuzzer's
// -fork and -jobs run several processes side by side.
inline QString inputFile(const QString& name, QByteArrayView bytes)
{
    // Named, so that one a crash leaves behind is recognised.
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/quillor-fuzz-XXXXXX"));
    FUZZ_CHECK(dir.isValid());
    const QString path = dir.filePath(name);
    // A new file each time: on ext4, closing a file that was truncated starts its writeback,
    // which would slow every run to the disk's pace.
    QFile::remove(path);
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::NewOnly));
    FUZZ_CHECK(file.write(bytes.data(), bytes.size()) == bytes.size());
    return path;
}

// Whether part is a view into whole, so that a reader never hands out bytes it did not read.
inline bool isWithin(QByteArrayView part, QByteArrayView whole)
{
    if (part.isEmpty())
        return true;
    const auto begin = reinterpret_cast<std::uintptr_t>(whole.data());
    const auto at = reinterpret_cast<std::uintptr_t>(part.data());
    return at >= begin && at + std::uintptr_t(part.size()) <= begin + std::uintptr_t(whole.size());
}

} // namespace Fuzz
