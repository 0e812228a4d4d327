#include "FileSizeLimit.h"
#include "TestData.h"
#include "store/SafeFileWriter.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What the writers asked of the file system while recording, in order: "name DIR" for a file
// renamed or linked into DIR, "sync DIR" for DIR synced to disk.
QStringList fileSystemCalls;
bool recording = false;

QString directoryOf(const char* path)
{
    return QFileInfo(QFileInfo(QFile::decodeName(path)).absolutePath()).canonicalFilePath();
}

template <typename F> F realCall(const char* name)
{
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

} // namespace

// Watched as the program (and the Qt library under it) calls them.
extern "C" int rename(const char* from, const char* to) noexcept
{
    static const auto real = realCall<int (*)(const char*, const char*)>("rename");
    const int result = real(from, to);
    if (result == 0 && recording)
        fileSystemCalls << QStringLiteral("name ") + directoryOf(to);
    return result;
}

extern "C" int linkat(int fromDir, const char* from, int toDir, const char* to, int flags) noexcept
{
    static const auto real = realCall<int (*)(int, const char*, int, const char*, int)>("linkat");
    const int result = real(fromDir, from, toDir, to, flags);
    if (result == 0 && recording)
        fileSystemCalls << QStringLiteral("name ") + directoryOf(to);
    return result;
}

extern "C" int fsync(int fd)
{
    static const auto real = realCall<int (*)(int)>("fsync");
    struct stat st {};
    if (recording && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode))
        fileSystemCalls
            << QStringLiteral("sync ") +
                   QFileInfo(QStringLiteral("/proc/self/fd/%1").arg(fd)).symLinkTarget();
    return real(fd);
}

namespace {

// Permission bits and file type, or -1 when there is nothing at path.
int modeOf(const QString& path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode);
}

using TestData::entriesOf;
using TestData::pattern;

} // namespace

class TestSafeFileWriter : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();

    void saveReplacesWhole_data();
    void saveReplacesWhole();
    void failurePartWayKeepsOldFile_data();
    void failurePartWayKeepsOldFile();
    void failingFlushKeepsOldFile();
    void missingDirectoryFails();
    void directoryTargetFails();
    void nonRegularTargetsAreRefused();
    void cancelledWriterKeepsOldFile();
    void directoryIsSyncedAfterTheRename_data();
    void directoryIsSyncedAfterTheRename();
    void linkedTargetIsWrittenThrough_data();
    void linkedTargetIsWrittenThrough();
    void changedTargetIsLeft_data();
    void changedTargetIsLeft();
};

void TestSafeFileWriter::init()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
}

void TestSafeFileWriter::saveReplacesWhole_data()
{
    QTest::addColumn<QByteArray>("old");
    QTest::addColumn<int>("oldMode");
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("new file") << QByteArray() << 0 << pattern(3584, 'a');
    // A shorter file must not keep the old file's tail.
    QTest::newRow("shorter than the old") << pattern(3 * 3584, 'o') << 0600 << pattern(3584, 'n');
    QTest::newRow("longer than the old") << pattern(100, 'o') << 0600 << pattern(5000, 'n');
    QTest::newRow("empty content") << pattern(1024, 'o') << 0600 << QByteArray();
    // The old mode is not carried over: the file may hold the auto-enter password.
    QTest::newRow("world-readable old file") << pattern(1024, 'o') << 0644 << pattern(1024, 'n');
}

void TestSafeFileWriter::saveReplacesWhole()
{
    QFETCH(QByteArray, old);
    QFETCH(int, oldMode);
    QFETCH(QByteArray, content);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("QuiURL.dab"));
    if (oldMode != 0) {
        QVERIFY(TestData::writeFile(path, old));
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode_t(oldMode)), 0);
    }

    const SaveResult saved = saveFileSafely(path, content);
    QVERIFY2(saved.ok(), qPrintable(saved.error()));
    QCOMPARE(TestData::readFile(path), content);
    QCOMPARE(modeOf(path) & 07777, 0600);
    QVERIFY(S_ISREG(modeOf(path)));
    QCOMPARE(entriesOf(dir.path()), QStringList{QStringLiteral("QuiURL.dab")});
}

void TestSafeFileWriter::failurePartWayKeepsOldFile_data()
{
    QTest::addColumn<qint64>("failAfter");
    QTest::addColumn<int>("goodWrites");

    // Three writes of 1,000 bytes each.
    QTest::newRow("nothing fits") << qint64(0) << 0;
    QTest::newRow("inside the first write") << qint64(500) << 0;
    QTest::newRow("at the end of the first write") << qint64(1000) << 1;
    QTest::newRow("inside the last write") << qint64(2999) << 2;
}

void TestSafeFileWriter::failurePartWayKeepsOldFile()
{
    QFETCH(qint64, failAfter);
    QFETCH(int, goodWrites);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("QuiURL.dab"));
    const QByteArray old = pattern(2 * 3584, 'o');
    QVERIFY(TestData::writeFile(path, old));

    {
        SafeFileWriter writer(path);
        writer.failAfterBytesForTest(failAfter);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(writer.write(pattern(1000, char('a' + i))), i < goodWrites);
        // Once failed, a write that would fit on its own still does nothing.
        QVERIFY(!writer.write("x"));
        const SaveResult saved = writer.commit();
        QVERIFY(!saved.ok());
        QVERIFY(!saved.error().isEmpty());
        QVERIFY2(saved.error().contains(path), qPrintable(saved.error()));
        QCOMPARE(TestData::readFile(path), old);
    }
    QCOMPARE(TestData::readFile(path), old);
    QCOMPARE(entriesOf(dir.path()), QStringList{QStringLiteral("QuiURL.dab")});

    // The limit was the injected one: the same writes succeed without it.
    SafeFileWriter writer(path);
    for (int i = 0; i < 3; ++i)
        QVERIFY(writer.write(pattern(1000, char('a' + i))));
    QVERIFY(writer.commit().ok());
    QCOMPARE(TestData::readFile(path),
             pattern(1000, 'a') + pattern(1000, 'b') + pattern(1000, 'c'));
}

// A disk that fills up while the buffered bytes are flushed: every write() succeeded, only the
// commit can notice.
void TestSafeFileWriter::failingFlushKeepsOldFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("QuiFil.ini"));
    const QByteArray old = pattern(1024, 'o');
    QVERIFY(TestData::writeFile(path, old));

    bool limited = false;
    bool written = false;
    SaveResult saved;
    {
        SafeFileWriter writer(path);
        FileSizeLimit limit(512);
        limited = limit.ok();
        written = writer.write(pattern(1024, 'n'));
        saved = writer.commit();
    }
    QVERIFY(limited);
    QVERIFY(written);
    QVERIFY2(!saved.ok(), "a truncated file was committed");
    QVERIFY(!saved.error().isEmpty());
    QCOMPARE(TestData::readFile(path), old);
    QCOMPARE(entriesOf(dir.path()), QStringList{QStringLiteral("QuiFil.ini")});
}

void TestSafeFileWriter::missingDirectoryFails()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("missing/QuiURL.dab"));

    const SaveResult saved = saveFileSafely(path, pattern(3584, 'n'));
    QVERIFY(!saved.ok());
    QVERIFY2(saved.error().contains(path), qPrintable(saved.error()));
    QVERIFY(entriesOf(dir.path()).isEmpty());
}

void TestSafeFileWriter::directoryTargetFails()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("QuiURL.dab"));
    QVERIFY(QDir().mkdir(path));

    const SaveResult saved = saveFileSafely(path, pattern(3584, 'n'));
    QVERIFY(!saved.ok());
    QVERIFY(!saved.error().isEmpty());
    QVERIFY(QFileInfo(path).isDir());
    QCOMPARE(entriesOf(dir.path()), QStringList{QStringLiteral("QuiURL.dab")});
}

// Renaming over a device or a pipe would replace it by a plain file; as root that works even
// in /dev.
void TestSafeFileWriter::nonRegularTargetsAreRefused()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString fifo = dir.filePath(QStringLiteral("pipe"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

    SaveResult saved = saveFileSafely(fifo, "data");
    QVERIFY(!saved.ok());
    QVERIFY(!saved.error().isEmpty());
    QVERIFY(S_ISFIFO(modeOf(fifo)));
    QCOMPARE(entriesOf(dir.path()), QStringList{QStringLiteral("pipe")});

    // Only reached when a pipe in our own directory is safe, so a regression cannot replace
    // this machine's /dev/full.
    const QString full = QStringLiteral("/dev/full");
    if (!S_ISCHR(modeOf(full)))
        QSKIP("no /dev/full here");
    {
        SafeFileWriter writer(full);
        writer.write(pattern(100, 'n'));
        saved = writer.commit();
    }
    QVERIFY(!saved.ok());
    QVERIFY(!saved.error().isEmpty());
    QVERIFY(S_ISCHR(modeOf(full)));
}

void TestSafeFileWriter::cancelledWriterKeepsOldFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("QuiURL.dab"));
    const QByteArray old = pattern(3584, 'o');
    QVERIFY(TestData::writeFile(path, old));

    {
        SafeFileWriter writer(path);
        QVERIFY(writer.write(pattern(3584, 'n')));
        writer.cancel();
        QCOMPARE(entriesOf(dir.path()), QStringList{QStringLiteral("QuiURL.dab")});
        QVERIFY(!writer.write("more"));
        QVERIFY(!writer.commit().ok());
    }
    {
        // Dropped without a commit: the same as a cancel.
        SafeFileWriter writer(path);
        QVERIFY(writer.write(pattern(3584, 'n')));
    }
    QCOMPARE(TestData::readFile(path), old);
    QCOMPARE(entriesOf(dir.path()), QStringList{QStringLiteral("QuiURL.dab")});
}

void TestSafeFileWriter::directoryIsSyncedAfterTheRename_data()
{
    QTest::addColumn<bool>("exists");

    QTest::newRow("new file") << false;
    QTest::newRow("file replaced") << true;
}

// The rename is only in the directory's cache until the directory is synced: a power cut could
// bring the old file back after the save was reported done.
void TestSafeFileWriter::directoryIsSyncedAfterTheRename()
{
    QFETCH(bool, exists);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("QuiSetts.ini"));
    if (exists)
        QVERIFY(TestData::writeFile(path, pattern(863, 'o')));
    fileSystemCalls.clear();
    recording = true;
    const SaveResult saved = saveFileSafely(path, pattern(863, 'n'));
    recording = false;
    QVERIFY2(saved.ok(), qPrintable(saved.error()));

    const QString directory = QFileInfo(dir.path()).canonicalFilePath();
    const qsizetype named = fileSystemCalls.lastIndexOf(QStringLiteral("name ") + directory);
    QVERIFY2(named >= 0, qPrintable(fileSystemCalls.join(u'\n')));
    QVERIFY2(fileSystemCalls.indexOf(QStringLiteral("sync ") + directory, named) > named,
             qPrintable(fileSystemCalls.join(u'\n')));
}

void TestSafeFileWriter::linkedTargetIsWrittenThrough_data()
{
    QTest::addColumn<bool>("relative");
    QTest::addColumn<bool>("targetExists");

    QTest::newRow("absolute link") << false << true;
    QTest::newRow("relative link") << true << true;
    QTest::newRow("link to a file not made yet") << false << false;
}

// A link the user placed, say to a file kept in a synchronised folder, stays a link; the new
// content goes to its target.
void TestSafeFileWriter::linkedTargetIsWrittenThrough()
{
    QFETCH(bool, relative);
    QFETCH(bool, targetExists);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("data")));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("synced")));
    const QString path = dir.filePath(QStringLiteral("data/QuiFil.ini"));
    const QString target = dir.filePath(QStringLiteral("synced/QuiFil.ini"));
    if (targetExists)
        QVERIFY(TestData::writeFile(target, pattern(1024, 'o')));
    QVERIFY(QFile::link(relative ? QStringLiteral("../synced/QuiFil.ini") : target, path));

    const SaveResult saved = saveFileSafely(path, pattern(1024, 'n'));
    QVERIFY2(saved.ok(), qPrintable(saved.error()));
    QVERIFY(S_ISLNK(modeOf(path)));
    QCOMPARE(TestData::readFile(target), pattern(1024, 'n'));
    QCOMPARE(modeOf(target), S_IFREG | 0600);
    QCOMPARE(entriesOf(dir.filePath(QStringLiteral("data"))),
             QStringList{QStringLiteral("QuiFil.ini")});
    QCOMPARE(entriesOf(dir.filePath(QStringLiteral("synced"))),
             QStringList{QStringLiteral("QuiFil.ini")});
}

void TestSafeFileWriter::changedTargetIsLeft_data()
{
    QTest::addColumn<QString>("change"); // what happens to the target while the writer writes
    QTest::addColumn<bool>("linked");    // the target is reached through a link
    QTest::addColumn<bool>("refused");

    for (const bool linked : {false, true}) {
        const char* through = linked ? ", through a link" : "";
        QTest::addRow("unchanged%s", through) << QStringLiteral("none") << linked << false;
        QTest::addRow("another file renamed over it%s", through)
            << QStringLiteral("renamed over") << linked << true;
        QTest::addRow("written in place%s", through)
            << QStringLiteral("written in place") << linked << true;
        QTest::addRow("removed%s", through) << QStringLiteral("removed") << linked << true;
    }
    QTest::newRow("made where there was none") << QStringLiteral("created") << false << true;
}

// The target is checked once more after the last byte is on disk, just before the rename: a
// change that came while the new file was written stays, and nothing is renamed over it.
void TestSafeFileWriter::changedTargetIsLeft()
{
    QFETCH(QString, change);
    QFETCH(bool, linked);
    QFETCH(bool, refused);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("synced")));
    const QString target = dir.filePath(QStringLiteral("synced/QuiURL.dab"));
    const QString path = linked ? dir.filePath(QStringLiteral("QuiURL.dab")) : target;
    if (linked)
        QVERIFY(QFile::link(target, path));
    if (change != QStringLiteral("created"))
        QVERIFY(TestData::writeFile(target, pattern(3584, 'o')));
    const FileIdentity read = fileIdentity(path);

    SafeFileWriter writer(path);
    writer.expectTarget(read);
    QVERIFY(writer.write(pattern(2 * 3584, 'n')));
    if (change == QStringLiteral("renamed over")) {
        const QString other = dir.filePath(QStringLiteral("synced/.syncing"));
        QVERIFY(TestData::writeFile(other, pattern(3584, 's')));
        QCOMPARE(::rename(QFile::encodeName(other).constData(),
                          QFile::encodeName(target).constData()),
                 0);
    } else if (change == QStringLiteral("written in place")) {
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QCOMPARE(file.write("X"), qint64(1));
    } else if (change == QStringLiteral("removed")) {
        QVERIFY(QFile::remove(target));
    } else if (change == QStringLiteral("created")) {
        QVERIFY(TestData::writeFile(target, pattern(3584, 's')));
    }
    const bool present = QFileInfo::exists(target);
    const QByteArray before = present ? TestData::readFile(target) : QByteArray();

    const SaveResult saved = writer.commit();
    if (!refused) {
        QVERIFY2(saved.ok(), qPrintable(saved.error()));
        QCOMPARE(TestData::readFile(path), pattern(2 * 3584, 'n'));
        return;
    }
    QVERIFY(!saved.ok());
    QVERIFY(!saved.made());
    QVERIFY2(saved.changedOnDisk(), qPrintable(saved.error()));
    QVERIFY2(saved.error().startsWith(target + QStringLiteral(" changed on disk: ")),
             qPrintable(saved.error()));
    QCOMPARE(QFileInfo::exists(target), present);
    if (present)
        QCOMPARE(TestData::readFile(target), before);
    // No temporary is left beside it.
    QCOMPARE(entriesOf(dir.filePath(QStringLiteral("synced"))),
             present ? QStringList{QStringLiteral("QuiURL.dab")} : QStringList());
    if (linked)
        QVERIFY(QFileInfo(path).isSymLink());
}

QTEST_GUILESS_MAIN(TestSafeFileWriter)
#include "tst_safefilewriter.moc"
