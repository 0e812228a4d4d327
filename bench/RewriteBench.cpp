// One run of a rewrite of the link file, or of its floor, in a process of its own; it prints
// the milliseconds the operation took. bench/rewrite.sh pairs the runs and divides.
//   quillor_rewrite_bench make DIR RECORDS   a pair of typical entries
//   quillor_rewrite_bench move DIR           the last entry moved to the top, the list loaded first
//   quillor_rewrite_bench write-floor DIR    the same bytes written to a new file, synced, renamed
//   quillor_rewrite_bench passwd DIR         the pair re-encrypted under the other password
//   quillor_rewrite_bench passwd-floor DIR   the list loaded, and the file's bytes written as above

#include "LinkFileBuilder.h"
#include "cipher/CipherService.h"
#include "store/LinkFile.h"
#include "store/LinkFileRewrite.h"
#include "store/MasterPasswordFile.h"
#include "store/PairFiles.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <fcntl.h>
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

// The floor of any safe rewrite: bytes to a new file beside the target, synced, renamed over
// it, the directory synced. chunk(buffer) supplies the bytes, empty at the end.
template <typename Chunks> bool writeFloor(const QString& target, Chunks chunk)
{
    const QByteArray temp = QFile::encodeName(target + QStringLiteral(".floor"));
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = true;
    for (QByteArrayView bytes = chunk(); ok && !bytes.isEmpty(); bytes = chunk())
        ok = ::write(fd, bytes.data(), std::size_t(bytes.size())) == ssize_t(bytes.size());
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.constData(), QFile::encodeName(target).constData()) == 0;
    return ok && syncDirectory(QFileInfo(target).absolutePath());
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 3)
        return fail(QStringLiteral("usage: make|move|write-floor|passwd|passwd-floor DIR"));
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
    if (mode == u"move") {
        const QByteArray password = currentPassword(dir, cipher);
        LinkFileRead read = readLinkFile(link, password, cipher);
        if (!read.ok())
            return fail(read.failure);
        timer.start();
        std::rotate(read.entries.begin(), read.entries.end() - 1, read.entries.end());
        const SaveResult saved = SaveListToLinkFile(link, read.entries, password, cipher);
        if (!saved)
            return fail(saved.error());
        ok = true;
    } else if (mode == u"write-floor") {
        QFile source(link);
        if (!source.open(QIODevice::ReadOnly))
            return fail(source.errorString());
        const QByteArray bytes = source.readAll();
        timer.start();
        bool given = false;
        ok = writeFloor(link, [&]() -> QByteArrayView {
            if (given)
                return {};
            given = true;
            return bytes;
        });
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
        QByteArray buffer(64 * 3584, Qt::Uninitialized);
        ok = writeFloor(link, [&]() -> QByteArrayView {
            const qint64 got = source.read(buffer.data(), buffer.size());
            return got > 0 ? QByteArrayView(buffer.constData(), got) : QByteArrayView();
        });
    } else {
        return fail(QStringLiteral("unknown mode %1").arg(mode));
    }
    if (!ok)
        return fail(QStringLiteral("%1 failed").arg(mode));
    std::printf("%.3f\n", double(timer.nsecsElapsed()) / 1e6);
    return 0;
}
