#include "DescriptorLimit.h"
#include "FileSizeLimit.h"
#include "TestData.h"
#include "store/EntryWriter.h"
#include "store/FileIdentity.h"
#include "store/LinkFile.h"
#include "store/LinkRecord.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <dlfcn.h>
#include <sys/stat.h>

namespace {

// The error the next fstat() of this process fails with; 0 lets it through.
std::atomic<int> nextFstatError = 0;

} // namespace

// A failing fstat() cannot be brought about from outside; this one fails when told to.
extern "C" int fstat(int fd, struct stat* st) noexcept
{
    if (const int error = nextFstatError.exchange(0)) {
        errno = error;
        return -1;
    }
    using Fstat = int (*)(int, struct stat*);
    static const auto real = reinterpret_cast<Fstat>(::dlsym(RTLD_NEXT, "fstat"));
    return real(fd, st);
}

using namespace Qt::StringLiterals;

namespace {

constexpr int kRecord = kLinkRecordSize;
using TestData::entriesOf;
using TestData::kPassword;
using TestData::pattern;

// Record-sized blocks that differ from each other, so that a shifted or mixed-up record shows.
QByteArray records(const QList<char>& seeds)
{
    QByteArray bytes;
    for (char seed : seeds)
        bytes += pattern(kRecord, seed);
    return bytes;
}

} // namespace

class TestEntryWriter : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();

    void encryptKnownAnswer();
    void encryptFieldLimits_data();
    void encryptFieldLimits();

    void append_data();
    void append();
    void appendFailureKeepsFile_data();
    void appendFailureKeepsFile();
    void badTargetsAreRefused();
    void appendWithOneDescriptorLeft_data();
    void appendWithOneDescriptorLeft();
    void newFileGoesWhenItCannotBeChecked();

    void replace_data();
    void replace();
    void replaceOutOfRange_data();
    void replaceOutOfRange();
    void replaceFailureKeepsFile();
    void changedFileIsLeft_data();
    void changedFileIsLeft();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

void TestEntryWriter::init()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_path = m_dir->filePath(QStringLiteral("QuiURL.dab"));
}

// "123456789" under "Pomelo" is dd116f515bfba9dd94; the record is laid out by hand around it.
void TestEntryWriter::encryptKnownAnswer()
{
    CipherService cipher;
    const auto encrypted = encryptEntry("", "123456789", "", "123456789", kPassword, cipher);
    QVERIFY(encrypted);
    const QByteArray cipherText = QByteArray::fromHex("dd116f515bfba9dd94");
    QCOMPARE(encrypted->passwordCipher, cipherText);

    const QByteArray empty = "000000000";
    const QByteArray nine = "000000009" + cipherText;
    const QByteArray expected = empty + QByteArray(512 - 9, ' ') + nine +
                                QByteArray(2048 - 18, ' ') + empty + QByteArray(512 - 9, ' ') +
                                nine + QByteArray(512 - 18, ' ');
    QCOMPARE(encrypted->record, expected);
    QVERIFY(!cipher.isOpen());
}

void TestEntryWriter::encryptFieldLimits_data()
{
    QTest::addColumn<int>("titleSize");
    QTest::addColumn<int>("urlSize");
    QTest::addColumn<int>("userNameSize");
    QTest::addColumn<int>("passwordSize");
    QTest::addColumn<bool>("fits");

    // A field holds its width less the nine length digits.
    QTest::newRow("all at their limits") << 503 << 2039 << 503 << 503 << true;
    QTest::newRow("title one over") << 504 << 0 << 0 << 0 << false;
    QTest::newRow("url one over") << 0 << 2040 << 0 << 0 << false;
    QTest::newRow("user name one over") << 0 << 0 << 504 << 0 << false;
    QTest::newRow("password one over") << 0 << 0 << 0 << 504 << false;
}

void TestEntryWriter::encryptFieldLimits()
{
    QFETCH(int, titleSize);
    QFETCH(int, urlSize);
    QFETCH(int, userNameSize);
    QFETCH(int, passwordSize);
    QFETCH(bool, fits);

    const QByteArray title(titleSize, 't'), url(urlSize, 'u'), user(userNameSize, 'n'),
        password(passwordSize, 'p');
    CipherService cipher;
    const auto encrypted = encryptEntry(title, url, user, password, kPassword, cipher);
    QCOMPARE(bool(encrypted), fits);
    if (!fits)
        return;
    QCOMPARE(encrypted->record.size(), kRecord);
    const auto view = decodeLinkRecord(encrypted->record);
    QVERIFY(view);
    QCOMPARE(view->password.toByteArray(), encrypted->passwordCipher);
    QCOMPARE(TestData::decrypt(view->title, kPassword), title);
    QCOMPARE(TestData::decrypt(view->url, kPassword), url);
    QCOMPARE(TestData::decrypt(view->userName, kPassword), user);
    QCOMPARE(TestData::decrypt(view->password, kPassword), password);
}

void TestEntryWriter::append_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("old");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray added = pattern(kRecord, 'N');
    const QByteArray emptyRecord = encodeLinkRecord({}).value();
    QTest::newRow("no file yet") << false << QByteArray() << added;
    QTest::newRow("empty file") << true << QByteArray() << added;
    QTest::newRow("after two records")
        << true << records({'a', 'b'}) << records({'a', 'b'}) + added;
    // The tail of an append that crashed part-way is not a record; the next one takes its place.
    QTest::newRow("torn tail under half a record")
        << true << records({'a', 'b'}) + pattern(1791, 'x') << records({'a', 'b'}) + added;
    QTest::newRow("torn tail of exactly half, rounds to even")
        << true << records({'a', 'b'}) + pattern(1792, 'x') << records({'a', 'b'}) + added;
    // A short last record that still holds its four fields loads, so the new one comes after
    // it, keeping list row and record number the same.
    const QByteArray shortRecord = emptyRecord.first(3081); // cut in the password's blanks
    QTest::newRow("short last record kept")
        << true << records({'a'}) + shortRecord
        << records({'a'}) + shortRecord + QByteArray(kRecord - 3081, '\0') + added;
    // More than half a record that does not load is the tail of a crashed write, not a record.
    QTest::newRow("torn tail over half a record")
        << true << records({'a'}) + pattern(2000, 'x') << records({'a'}) + added;
}

void TestEntryWriter::append()
{
    QFETCH(bool, exists);
    QFETCH(QByteArray, old);
    QFETCH(QByteArray, expected);

    if (exists) {
        QVERIFY(TestData::writeFile(m_path, old));
        // As another program may have left it; every write makes it the owner's alone.
        QVERIFY(QFile::setPermissions(m_path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ReadGroup | QFileDevice::ReadOther));
    }
    const qint64 before = storedRecordCount(m_path).value_or(-1);
    QVERIFY(before >= 0);
    const SaveResult saved = appendLinkRecord(m_path, pattern(kRecord, 'N'));
    QVERIFY2(saved.ok(), qPrintable(saved.error()));
    QCOMPARE(TestData::readFile(m_path), expected);
    // One more record for the list to load, whatever the tail was.
    QCOMPARE(storedRecordCount(m_path).value_or(-1), before + 1);
    QCOMPARE(TestData::permissionsOf(m_path), 0600);
    QCOMPARE(entriesOf(m_dir->path()), QStringList{QStringLiteral("QuiURL.dab")});
}

void TestEntryWriter::appendFailureKeepsFile_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("old");
    QTest::addColumn<qint64>("room");

    // The file after the failure is the old one up to its last whole record.
    QTest::newRow("new file, nothing fits") << false << QByteArray() << qint64(0);
    QTest::newRow("new file, part fits") << false << QByteArray() << qint64(1000);
    QTest::newRow("two records, part fits") << true << records({'a', 'b'}) << qint64(2000);
    // The torn tail is written over before the disk fills; what is left of the new record
    // there would look like one, so the file ends at its last whole record.
    QTest::newRow("torn tail, part fits")
        << true << records({'a'}) + pattern(700, 'x') << qint64(1500);
}

// A full disk part-way through the record: the file is as before, never a half record that
// the next load would read as one.
void TestEntryWriter::appendFailureKeepsFile()
{
    QFETCH(bool, exists);
    QFETCH(QByteArray, old);
    QFETCH(qint64, room);

    if (exists)
        QVERIFY(TestData::writeFile(m_path, old));
    const qint64 wholeRecords = linkRecordCount(old.size()) * kRecord;
    SaveResult saved;
    bool limited = false;
    {
        FileSizeLimit limit(rlim_t(wholeRecords + room));
        limited = limit.ok();
        saved = appendLinkRecord(m_path, pattern(kRecord, 'N'));
    }
    QVERIFY(limited);
    QVERIFY(!saved.ok());
    QVERIFY2(saved.error().contains(m_path), qPrintable(saved.error()));
    if (exists)
        QCOMPARE(TestData::readFile(m_path), old.first(std::min(old.size(), wholeRecords)));
    else
        QVERIFY(!QFile::exists(m_path));

    // With room again the same append succeeds.
    QVERIFY(appendLinkRecord(m_path, pattern(kRecord, 'N')).ok());
    QCOMPARE(TestData::readFile(m_path), old.first(wholeRecords) + pattern(kRecord, 'N'));
}

void TestEntryWriter::badTargetsAreRefused()
{
    // Not a whole record: nothing is written, so no record boundary can shift.
    QVERIFY(TestData::writeFile(m_path, records({'a'})));
    QVERIFY(!appendLinkRecord(m_path, pattern(kRecord - 1, 'N')).ok());
    QCOMPARE(TestData::readFile(m_path), records({'a'}));

    const QString directory = m_dir->filePath(QStringLiteral("dir"));
    QVERIFY(QDir().mkdir(directory));
    const SaveResult saved = appendLinkRecord(directory, pattern(kRecord, 'N'));
    QVERIFY(!saved.ok());
    QVERIFY(QFileInfo(directory).isDir());

    // Without a reader, a pipe would block the writer for ever.
    const QString fifo = m_dir->filePath(QStringLiteral("pipe"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QVERIFY(!appendLinkRecord(fifo, pattern(kRecord, 'N')).ok());
    QVERIFY(!replaceLinkRecord(fifo, 1, pattern(kRecord, 'N')).ok());

    QVERIFY(!appendLinkRecord(m_dir->filePath(QStringLiteral("missing/QuiURL.dab")),
                              pattern(kRecord, 'N'))
                 .ok());
}

void TestEntryWriter::appendWithOneDescriptorLeft_data()
{
    QTest::addColumn<qint64>("room"); // bytes the disk takes past the old file; -1: no limit

    QTest::newRow("record fits") << qint64(-1);
    QTest::newRow("disk full part-way") << qint64(1000);
}

// The file opens for the write, but no second descriptor is left for reading it. The records
// are counted through the one the record goes to: nothing is written over record 1, and a
// failed write is undone back to the old end, not to an empty file.
void TestEntryWriter::appendWithOneDescriptorLeft()
{
    QFETCH(qint64, room);

    const QByteArray old = records({'a', 'b', 'c'});
    QVERIFY(TestData::writeFile(m_path, old));
    SaveResult saved;
    {
        std::optional<FileSizeLimit> full;
        if (room >= 0) {
            full.emplace(rlim_t(old.size() + room));
            QVERIFY(full->ok());
        }
        DescriptorLimit oneLeft(1);
        QVERIFY(oneLeft.ok());
        saved = appendLinkRecord(m_path, pattern(kRecord, 'N'));
    }
    if (room < 0) {
        QVERIFY2(saved.ok(), qPrintable(saved.error()));
        QCOMPARE(TestData::readFile(m_path), old + pattern(kRecord, 'N'));
    } else {
        QVERIFY(!saved.ok());
        QCOMPARE(TestData::readFile(m_path), old);
    }
}

void TestEntryWriter::newFileGoesWhenItCannotBeChecked()
{
    nextFstatError = EIO;
    const SaveResult saved = appendLinkRecord(m_path, pattern(kRecord, 'N'));
    nextFstatError = 0;
    QVERIFY(!saved.ok());
    QVERIFY2(saved.error().contains(m_path), qPrintable(saved.error()));
    QCOMPARE(entriesOf(m_dir->path()), QStringList());
}

void TestEntryWriter::replace_data()
{
    QTest::addColumn<QByteArray>("old");
    QTest::addColumn<int>("recordNumber");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray five = records({'a', 'b', 'c', 'd', 'e'});
    QTest::newRow("first of five") << five << 1 << records({'N', 'b', 'c', 'd', 'e'});
    QTest::newRow("third of five") << five << 3 << records({'a', 'b', 'N', 'd', 'e'});
    QTest::newRow("last of five") << five << 5 << records({'a', 'b', 'c', 'd', 'N'});
    QTest::newRow("only record") << records({'a'}) << 1 << records({'N'});
    QTest::newRow("torn tail kept for the next append")
        << records({'a', 'b'}) + pattern(100, 'x') << 2 << records({'a', 'N'}) + pattern(100, 'x');
    QTest::newRow("short last record made whole")
        << records({'a'}) + pattern(2000, 'x') << 2 << records({'a', 'N'});
    // Larger than one copy chunk on both sides of the record.
    QByteArray many;
    for (int i = 0; i < 40; ++i)
        many += pattern(kRecord, char('a' + i));
    QByteArray manyExpected = many;
    manyExpected.replace(24 * kRecord, kRecord, pattern(kRecord, 'N'));
    QTest::newRow("25th of 40") << many << 25 << manyExpected;
}

void TestEntryWriter::replace()
{
    QFETCH(QByteArray, old);
    QFETCH(int, recordNumber);
    QFETCH(QByteArray, expected);

    QVERIFY(TestData::writeFile(m_path, old));
    const SaveResult saved = replaceLinkRecord(m_path, recordNumber, pattern(kRecord, 'N'));
    QVERIFY2(saved.ok(), qPrintable(saved.error()));
    QCOMPARE(TestData::readFile(m_path), expected);
    QCOMPARE(TestData::permissionsOf(m_path), 0600);
    QCOMPARE(entriesOf(m_dir->path()), QStringList{QStringLiteral("QuiURL.dab")});
}

void TestEntryWriter::replaceOutOfRange_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<int>("recordNumber");

    // The file holds two records and a torn tail under half a record, which is none.
    QTest::newRow("record 0") << true << 0;
    QTest::newRow("the torn tail") << true << 3;
    QTest::newRow("far past the end") << true << 100;
    QTest::newRow("no file") << false << 1;
}

void TestEntryWriter::replaceOutOfRange()
{
    QFETCH(bool, exists);
    QFETCH(int, recordNumber);

    const QByteArray old = records({'a', 'b'}) + pattern(1000, 'x');
    if (exists)
        QVERIFY(TestData::writeFile(m_path, old));
    const SaveResult saved = replaceLinkRecord(m_path, recordNumber, pattern(kRecord, 'N'));
    QVERIFY(!saved.ok());
    QVERIFY2(saved.error().contains(m_path), qPrintable(saved.error()));
    if (exists)
        QCOMPARE(TestData::readFile(m_path), old);
    QCOMPARE(entriesOf(m_dir->path()),
             exists ? QStringList{QStringLiteral("QuiURL.dab")} : QStringList());
}

void TestEntryWriter::replaceFailureKeepsFile()
{
    const QByteArray old = records({'a', 'b', 'c', 'd', 'e'});
    QVERIFY(TestData::writeFile(m_path, old));
    SaveResult saved;
    bool limited = false;
    {
        FileSizeLimit limit(2 * kRecord + 100);
        limited = limit.ok();
        saved = replaceLinkRecord(m_path, 3, pattern(kRecord, 'N'));
    }
    QVERIFY(limited);
    QVERIFY(!saved.ok());
    QVERIFY(!saved.error().isEmpty());
    QCOMPARE(TestData::readFile(m_path), old);
    QCOMPARE(entriesOf(m_dir->path()), QStringList{QStringLiteral("QuiURL.dab")});
}

void TestEntryWriter::changedFileIsLeft_data()
{
    QTest::addColumn<bool>("append");  // else record 2 is replaced
    QTest::addColumn<QString>("change"); // what happens to the file after it was read
    QTest::addColumn<bool>("refused");

    for (const bool append : {true, false}) {
        const char* writer = append ? "append" : "replace";
        QTest::addRow("%s, unchanged", writer) << append << u"none"_s << false;
        QTest::addRow("%s, another file renamed over it", writer)
            << append << u"renamed over"_s << true;
        QTest::addRow("%s, a record written in place", writer)
            << append << u"written in place"_s << true;
        QTest::addRow("%s, a record added", writer) << append << u"grown"_s << true;
        QTest::addRow("%s, removed", writer) << append << u"removed"_s << true;
    }
    QTest::newRow("append, made where there was none")
        << true << u"created"_s << true;
    QTest::newRow("replace, another record than the one read")
        << false << u"other record"_s << true;
    for (const bool append : {true, false})
        QTest::addRow("%s, the master password file beside it replaced",
                      append ? "append" : "replace")
            << append << u"password file"_s << true;
}

// A writer told what file it read writes nothing over another: whatever changed the file since
// stays, and the refusal says the file changed on disk.
void TestEntryWriter::changedFileIsLeft()
{
    QFETCH(bool, append);
    QFETCH(QString, change);
    QFETCH(bool, refused);

    const QByteArray old = records({'a', 'b', 'c'});
    if (change != u"created"_s)
        QVERIFY(TestData::writeFile(m_path, old));
    const QString master = m_dir->filePath(u"QuiFil.ini"_s);
    QVERIFY(TestData::writeFile(master, TestData::masterPasswordRecord(kPassword)));
    const PairIdentity read = pairIdentity(m_dir->path());
    const QByteArray oldRecord =
        change == u"other record"_s ? pattern(kRecord, 'z') : old.mid(kRecord, kRecord);

    if (change == u"renamed over"_s) {
        const QString other = m_dir->filePath(u"synced"_s);
        QVERIFY(TestData::writeFile(other, old));
        QCOMPARE(::rename(QFile::encodeName(other).constData(), QFile::encodeName(m_path).constData()),
                 0);
    } else if (change == u"written in place"_s || change == u"grown"_s) {
        QFile file(m_path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.seek(change == u"grown"_s ? 3 * kRecord : kRecord));
        QCOMPARE(file.write(pattern(kRecord, 'X')), qint64(kRecord));
    } else if (change == u"removed"_s) {
        QVERIFY(QFile::remove(m_path));
    } else if (change == u"created"_s) {
        QVERIFY(TestData::writeFile(m_path, records({'x'})));
    } else if (change == u"password file"_s) {
        const QString other = m_dir->filePath(u"synced"_s);
        QVERIFY(TestData::writeFile(other, TestData::masterPasswordRecord("Other")));
        QCOMPARE(
            ::rename(QFile::encodeName(other).constData(), QFile::encodeName(master).constData()),
            0);
    }
    const bool present = QFileInfo::exists(m_path);
    const QByteArray before = present ? TestData::readFile(m_path) : QByteArray();

    const SaveResult saved =
        append ? appendLinkRecord(m_path, pattern(kRecord, 'N'), read)
               : replaceLinkRecord(m_path, 2, pattern(kRecord, 'N'), read, oldRecord);
    if (!refused) {
        QVERIFY2(saved.ok(), qPrintable(saved.error()));
        QCOMPARE(TestData::readFile(m_path),
                 append ? old + pattern(kRecord, 'N') : records({'a', 'N', 'c'}));
        return;
    }
    QVERIFY(!saved.ok());
    QVERIFY(!saved.made());
    QVERIFY2(saved.changedOnDisk(), qPrintable(saved.error()));
    QVERIFY2(saved.error().startsWith((change == u"password file"_s ? master : m_path) +
                                      u" changed on disk: "_s),
             qPrintable(saved.error()));
    QCOMPARE(QFileInfo::exists(m_path), present);
    if (present)
        QCOMPARE(TestData::readFile(m_path), before);
    const QStringList left = present ? QStringList{u"QuiFil.ini"_s, u"QuiURL.dab"_s}
                                     : QStringList{u"QuiFil.ini"_s};
    QCOMPARE(entriesOf(m_dir->path()), left);
}

QTEST_GUILESS_MAIN(TestEntryWriter)
#include "tst_entrywriter.moc"
