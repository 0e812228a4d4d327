// One run of a rewrite of the link file, or of a floor, in a process of its own; it prints the
// milliseconds the operation took. bench/run.sh pairs the runs (quillor_pairs) and divides.
//   quillor_rewrite_bench make DIR RECORDS   a pair of typical entries
//   quillor_rewrite_bench write-floor DIR    the link file's bytes written to a new file, synced,
//                                            renamed over it, from memory filled first
//   quillor_rewrite_bench copy-floor DIR     the link file copied as cp does, and synced
//   quillor_rewrite_bench passwd DIR         the pair re-encrypted under the other password
//   quillor_rewrite_bench passwd-floor DIR   the list loaded, and the file's bytes written as above

#include "LinkFileBuilder.h"
#include "cipher/CipherService.h"
#include "store/LinkFile.h"
#include "store/LinkFileRewrite.h"
#include "store/LinkRecord.h"
#include "store/MasterPasswordFile.h"
#include "store/PairFiles.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

const QByteArray kOtherPassword = QByteArrayLiteral("Quince bush 7");

int fail(const QString& what)
{
    std::fprintf(stderr, "quillor_rewrite_bench: %s\n", qPrintable(what));
    return 1;
}

// The password the pair is under now: runs of passwd take turns with the two.
QByteArray currentPassword(const QString& dir, CipherService& cipher)
{
    const auto check = MasterPasswordFile::check(dir + QStringLiteral("/QuiFil.ini"),
                                                 BenchData::kPassword, cipher);
    return check.outcome == MasterPasswordFile::Outcome::Right ? BenchData::kPassword
                                                               : kOtherPassword;
}

constexpr qint64 kChunk = 64 * qint64(kLinkRecordSize);

// The floor of any safe rewrite: bytes to a new file beside the target, synced, renamed over
// it, the directory synced. chunk() supplies the bytes, empty at the end; the time it takes is
// left out of *spentMs when given, so that only the writing counts.
template <typename Chunks>
bool writeFloor(const QString& target, Chunks chunk, double* spentMs = nullptr)
{
    QElapsedTimer clock;
    clock.start();
    qint64 untimedNs = 0;
    const auto next = [&]() -> QByteArrayView {
        if (!spentMs)
            return chunk();
        const qint64 before = clock.nsecsElapsed();
        const QByteArrayView bytes = chunk();
        untimedNs += clock.nsecsElapsed() - before;
        return bytes;
    };
    const QByteArray temp = QFile::encodeName(target + QStringLiteral(".floor"));
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = true;
    for (QByteArrayView bytes = next(); ok && !bytes.isEmpty(); bytes = next())
        ok = ::write(fd, bytes.data(), std::size_t(bytes.size())) == ssize_t(bytes.size());
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.constData(), QFile::encodeName(target).constData()) == 0;
    ok = ok && syncDirectory(QFileInfo(target).absolutePath());
    if (spentMs)
        *spentMs = double(clock.nsecsElapsed() - untimedNs) / 1e6;
    return ok;
}

// What `cp` and a sync of the copy do: copy_file_range, the kernel copying page to page.
bool copyFloor(const QString& source, const QString& target)
{
    const int in = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(QFile::encodeName(target).constData(),
                           O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool ok = in >= 0 && out >= 0;
    for (ssize_t copied = 1; ok && copied > 0;) {
        copied = ::copy_file_range(in, nullptr, out, nullptr, std::size_t(1) << 30, 0);
        ok = copied >= 0;
    }
    ok = ok && ::fsync(out) == 0;
    if (out >= 0)
        ok = ::close(out) == 0 && ok;
    if (in >= 0)
        ::close(in);
    return ok;
}

// The link file's bytes, a chunk at a time through one buffer.
struct ChunkReader {
    QFile& source;
    QByteArray buffer = QByteArray(kChunk, Qt::Uninitialized);
    QByteArrayView operator()()
    {
        const qint64 got = source.read(buffer.data(), buffer.size());
        return got > 0 ? QByteArrayView(buffer.constData(), got) : QByteArrayView();
    }
};

// The link file's bytes mapped and in memory before the clock starts, handed out a chunk at a
// time: reading them while the clock is stopped would give the kernel time to write back what
// the floor wrote, which a program writing from memory does not get.
struct MappedChunks {
    explicit MappedChunks(QFile& source)
        : size(source.size())
    {
        void* map = size > 0 ? ::mmap(nullptr, std::size_t(size), PROT_READ,
                                      MAP_PRIVATE | MAP_POPULATE, source.handle(), 0)
                             : MAP_FAILED;
        bytes = map == MAP_FAILED ? nullptr : static_cast<const char*>(map);
    }
    ~MappedChunks()
    {
        if (bytes)
            ::munmap(const_cast<char*>(bytes), std::size_t(size));
    }
    QByteArrayView operator()()
    {
        const qint64 chunk = std::min<qint64>(kChunk, size - at);
        const QByteArrayView view =
            bytes && chunk > 0 ? QByteArrayView(bytes + at, chunk) : QByteArrayView();
        at += chunk;
        return view;
    }
    qint64 size;
    const char* bytes = nullptr;
    qint64 at = 0;
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 3)
        return fail(QStringLiteral("usage: make|write-floor|copy-floor|passwd|passwd-floor DIR"));
    const QString& mode = args[1];
    const QString dir = args[2];
    const QString link = dir + QStringLiteral("/QuiURL.dab");
    CipherService cipher;

    if (mode == u"make") {
        const int records = args.value(3).toInt();
        return BenchData::makeTypicalLinkFile(link, records, BenchData::kPassword) &&
                       MasterPasswordFile::create(dir + QStringLiteral("/QuiFil.ini"),
                                                  BenchData::kPassword, cipher)
                   ? 0
                   : 1;
    }

    QElapsedTimer timer;
    bool ok = false;
    double writeMs = -1;
    if (mode == u"write-floor") {
        QFile source(link);
        if (!source.open(QIODevice::ReadOnly))
            return fail(source.errorString());
        MappedChunks chunks(source);
        if (!chunks.bytes)
            return fail(QStringLiteral("cannot map %1").arg(link));
        ok = writeFloor(link, std::ref(chunks), &writeMs);
    } else if (mode == u"copy-floor") {
        timer.start();
        const QString copy = link + QStringLiteral(".copy");
        ok = copyFloor(link, copy);
        writeMs = double(timer.nsecsElapsed()) / 1e6;
        QFile::remove(copy);
    } else if (mode == u"passwd") {
        timer.start();
        const QByteArray password = currentPassword(dir, cipher);
        const QByteArray next =
            password == BenchData::kPassword ? kOtherPassword : BenchData::kPassword;
        const SaveResult changed =
            reencryptPair(dir, password, next, MasterPasswordFile::kCheckValue, cipher);
        if (!changed)
            return fail(changed.error());
        ok = true;
    } else if (mode == u"passwd-floor") {
        timer.start();
        const QByteArray password = currentPassword(dir, cipher);
        LinkFileRead read = readLinkFile(link, password, cipher);
        if (!read.ok())
            return fail(read.failure);
        QFile source(link);
        if (!source.open(QIODevice::ReadOnly))
            return fail(source.errorString());
        ok = writeFloor(link, ChunkReader{source});
    } else {
        return fail(QStringLiteral("unknown mode %1").arg(mode));
    }
    if (!ok)
        return fail(QStringLiteral("%1 failed").arg(mode));
    std::printf("%.3f\n", writeMs >= 0 ? writeMs : double(timer.nsecsElapsed()) / 1e6);
    return 0;
}
