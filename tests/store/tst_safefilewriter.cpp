#include "FileSizeLimit.h"
#include "TestData.h"
#include "store/SafeFileWriter.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

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

QTEST_GUILESS_MAIN(TestSafeFileWriter)
#include "tst_safefilewriter.moc"
