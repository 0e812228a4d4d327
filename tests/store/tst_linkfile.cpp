#include "DescriptorLimit.h"
#include "FifoWatchdog.h"
#include "TestData.h"
#include "store/EntryModel.h"
#include "store/LinkFile.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <set>

Q_DECLARE_METATYPE(EmptyLinkFile)
enum class Unreadable { Pipe, Directory, NoDescriptorLeft };
Q_DECLARE_METATYPE(Unreadable)

using namespace Qt::StringLiterals;

namespace {

using TestData::kPassword;

// Bytes of a literal that may hold NULs, without its terminator.
template <std::size_t N> QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

// A stored field laid out by hand, so the reader is not checked against its own writer.
QByteArray handField(const QByteArray& cipher, int width)
{
    QByteArray field = QByteArray::number(cipher.size()).rightJustified(9, '0') + cipher;
    return field + QByteArray(width - field.size(), ' ');
}

QByteArray handRecord(const QByteArray& title, const QByteArray& url, const QByteArray& user,
                      const QByteArray& password)
{
    return handField(title, 512) + handField(url, 2048) + handField(user, 512) +
           handField(password, 512);
}

const QList<TestData::Item> kThreeItems = {
    {"First page", "https://one.example/", "alice", "secret 1"},
    {"Second page", "https://two.example/path?q=1", "bob", "secret 2"},
    {"Third page", "ftp://three.example", "carol", "s3"},
};

QList<TestData::Item> numberedItems(int count)
{
    QList<TestData::Item> items;
    for (int i = 1; i <= count; ++i) {
        const QByteArray n = QByteArray::number(i);
        items.append({"Title " + n, "https://" + n + ".example", "user" + n, "pw" + n});
    }
    return items;
}

// Entries whose items fill their fields, each record's own: a few hundred make megabytes of
// cipher texts.
QList<TestData::Item> fullWidthItems(int count)
{
    const auto fill = [](int record, int fieldWidth) {
        QByteArray text = QByteArray::number(record) + ':';
        for (int i = 0; text.size() < fieldWidth - 9; ++i)
            text += char('a' + (record + i) % 26);
        return text;
    };
    QList<TestData::Item> items;
    for (int i = 1; i <= count; ++i)
        items.append({fill(i, kTitleFieldWidth), fill(i, kUrlFieldWidth),
                      fill(i, kUserNameFieldWidth), fill(i, kPasswordFieldWidth)});
    return items;
}

Entry entryWithKey(int key)
{
    return Entry("T" + QByteArray::number(key), {}, {}, {}, key);
}

QVariant cell(const EntryModel& model, int row, int column)
{
    return model.data(model.index(row, column));
}

} // namespace

class TestLinkFile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();

    void absentFileIsEmptyList();
    void fileWithoutRecords_data();
    void fileWithoutRecords();
    void linkRecordCount_data();
    void linkRecordCount();
    void recordsInOrder();
    void manyRecordsAcrossReads();
    void entriesOutliveTheirLoad();
    void emptyPasswordField();
    void hiddenUserNames();
    void modelColumnsAndHeaders();
    void windowsWrittenData();
    void shortLastRecordMissingOnlyBlanks();
    void damagedFile_data();
    void damagedFile();
    void tornTailIsNoRecord_data();
    void tornTailIsNoRecord();
    void linkToNowhere();
    void unreadablePath();
    void unreadableFile_data();
    void unreadableFile();
    void loadListReplacesEntries();
    void checkedFileChangedAfterCheck_data();
    void checkedFileChangedAfterCheck();
    void getLowLV2KeyNum_data();
    void getLowLV2KeyNum();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

void TestLinkFile::init()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_path = m_dir->filePath(QStringLiteral("QuiURL.dab"));
}

void TestLinkFile::absentFileIsEmptyList()
{
    CipherService cipher;
    const LinkFileRead read = readLinkFile(m_path, kPassword, cipher);
    QVERIFY(read.ok());
    QVERIFY(read.entries.empty());

    EntryModel model;
    QVERIFY(loadList(model, m_path, kPassword, cipher));
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(!QFileInfo::exists(m_path));
}

void TestLinkFile::fileWithoutRecords_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<EmptyLinkFile>("emptyFile");

    QTest::newRow("0 bytes") << 0 << EmptyLinkFile::Delete;
    QTest::newRow("1,000 bytes") << 1000 << EmptyLinkFile::Delete;
    QTest::newRow("1,792 bytes, half a record") << 1792 << EmptyLinkFile::Delete;
    QTest::newRow("0 bytes, kept") << 0 << EmptyLinkFile::Keep;
    QTest::newRow("1,000 bytes, kept") << 1000 << EmptyLinkFile::Keep;
}

void TestLinkFile::fileWithoutRecords()
{
    QFETCH(int, size);
    QFETCH(EmptyLinkFile, emptyFile);

    const QByteArray content = TestData::linkRecord(kThreeItems[0], kPassword).left(size);
    QVERIFY(TestData::writeFile(m_path, content));

    CipherService cipher;
    const LinkFileRead read = readLinkFile(m_path, kPassword, cipher, emptyFile);
    QVERIFY2(read.ok(), qPrintable(read.failure));
    QVERIFY(read.entries.empty());
    if (emptyFile == EmptyLinkFile::Keep)
        QCOMPARE(TestData::readFile(m_path), content);
    else
        QVERIFY(!QFileInfo::exists(m_path));
}

void TestLinkFile::linkRecordCount_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("records");

    QTest::newRow("0") << qint64(0) << qint64(0);
    QTest::newRow("1791") << qint64(1791) << qint64(0);
    QTest::newRow("1792: 0.5 to even") << qint64(1792) << qint64(0);
    QTest::newRow("1793") << qint64(1793) << qint64(1);
    QTest::newRow("3584") << qint64(3584) << qint64(1);
    QTest::newRow("3584+1791") << qint64(3584 + 1791) << qint64(1);
    QTest::newRow("3584+1792: 1.5 to even") << qint64(3584 + 1792) << qint64(2);
    QTest::newRow("2*3584+1792: 2.5 to even") << qint64(2 * 3584 + 1792) << qint64(2);
    QTest::newRow("2*3584+1793") << qint64(2 * 3584 + 1793) << qint64(3);
    QTest::newRow("beyond 32 bits") << qint64(3584) * 1'300'000 << qint64(1'300'000);
}

void TestLinkFile::linkRecordCount()
{
    QFETCH(qint64, size);
    QFETCH(qint64, records);

    QCOMPARE(::linkRecordCount(size), records);
}

void TestLinkFile::recordsInOrder()
{
    QVERIFY(TestData::writeFile(m_path, TestData::linkFile(kThreeItems, kPassword)));

    CipherService cipher;
    const LinkFileRead read = readLinkFile(m_path, kPassword, cipher);
    QVERIFY2(read.ok(), qPrintable(read.failure));
    QVERIFY(!cipher.isOpen());
    QCOMPARE(read.entries.size(), std::size_t(3));
    for (int i = 0; i < 3; ++i) {
        const Entry& e = read.entries[std::size_t(i)];
        const TestData::Item& item = kThreeItems[i];
        QCOMPARE(e.title().toByteArray(), item.title);
        QCOMPARE(e.url().toByteArray(), item.url);
        QCOMPARE(e.userName().toByteArray(), item.userName);
        // The password stays encrypted in the list.
        QCOMPARE(e.passwordCipher().toByteArray(), TestData::encrypt(item.password, kPassword));
        QCOMPARE(e.keyNumber(), i + 1);
        QCOMPARE(e.key(), 'K' + QByteArray::number(i + 1) + 'P' +
                              TestData::encrypt(item.password, kPassword));
    }

    EntryModel model;
    QVERIFY(loadList(model, m_path, kPassword, cipher));
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(cell(model, 1, EntryModel::TitleColumn).toString(), QStringLiteral("Second page"));
    QCOMPARE(cell(model, 1, EntryModel::UserNameColumn).toString(), QStringLiteral("bob"));
    QCOMPARE(cell(model, 1, EntryModel::PasswordColumn).toString(), QStringLiteral("ooooooo"));
    QCOMPARE(cell(model, 1, EntryModel::UrlColumn).toString(),
             QStringLiteral("https://two.example/path?q=1"));
    // Loading does not write.
    QCOMPARE(TestData::readFile(m_path), TestData::linkFile(kThreeItems, kPassword));
}

// The reader takes the file in slices of several records; entries must not slip at the seams.
void TestLinkFile::manyRecordsAcrossReads()
{
    const QList<TestData::Item> items = numberedItems(130);
    QVERIFY(TestData::writeFile(m_path, TestData::linkFile(items, kPassword)));

    CipherService cipher;
    const LinkFileRead read = readLinkFile(m_path, kPassword, cipher);
    QVERIFY2(read.ok(), qPrintable(read.failure));
    QCOMPARE(read.entries.size(), std::size_t(130));
    for (int i = 0; i < 130; ++i) {
        const Entry& e = read.entries[std::size_t(i)];
        QCOMPARE(e.title().toByteArray(), items[i].title);
        QCOMPARE(e.url().toByteArray(), items[i].url);
        QCOMPARE(e.userName().toByteArray(), items[i].userName);
        QCOMPARE(e.passwordCipher().toByteArray(), TestData::encrypt(items[i].password, kPassword));
        QCOMPARE(e.keyNumber(), i + 1);
    }
}

// A loaded list's entries share one block of memory: an entry kept after the list and the model
// are gone, or after the next load, must still hold its own bytes.
void TestLinkFile::entriesOutliveTheirLoad()
{
    const QList<TestData::Item> items = fullWidthItems(300);
    QVERIFY(TestData::writeFile(m_path, TestData::linkFile(items, kPassword)));

    CipherService cipher;
    std::vector<Entry> kept;
    {
        EntryModel model;
        QVERIFY(loadList(model, m_path, kPassword, cipher));
        kept = {model.entry(0), model.entry(150), model.entry(299)};
        QVERIFY(loadList(model, m_path, kPassword, cipher));
        kept.push_back(model.entry(1));
    }
    const std::vector<int> rows = {0, 150, 299, 1};
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const TestData::Item& item = items[rows[i]];
        QCOMPARE(kept[i].title().toByteArray(), item.title);
        QCOMPARE(kept[i].url().toByteArray(), item.url);
        QCOMPARE(kept[i].userName().toByteArray(), item.userName);
        QCOMPARE(kept[i].passwordCipher().toByteArray(),
                 TestData::encrypt(item.password, kPassword));
    }
}

void TestLinkFile::emptyPasswordField()
{
    QList<TestData::Item> items = kThreeItems;
    items[1].password.clear();
    const QByteArray file = TestData::linkFile(items, kPassword);
    QCOMPARE(file.sliced(3584 + 3072, 512), QByteArray("000000000") + QByteArray(503, ' '));
    QVERIFY(TestData::writeFile(m_path, file));

    CipherService cipher;
    EntryModel model;
    QVERIFY(loadList(model, m_path, kPassword, cipher));
    QCOMPARE(model.entry(1).key(), QByteArray("K2P"));
    QVERIFY(!model.entry(1).hasPassword());
    QCOMPARE(cell(model, 1, EntryModel::PasswordColumn).toString(), QString());
    QCOMPARE(cell(model, 0, EntryModel::PasswordColumn).toString(), QStringLiteral("ooooooo"));
    QCOMPARE(cell(model, 2, EntryModel::PasswordColumn).toString(), QStringLiteral("ooooooo"));
}

void TestLinkFile::hiddenUserNames()
{
    QList<TestData::Item> items = kThreeItems;
    items[2].userName.clear();
    QVERIFY(TestData::writeFile(m_path, TestData::linkFile(items, kPassword)));

    CipherService cipher;
    EntryModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setUserNamesHidden(true);
    QVERIFY(loadList(model, m_path, kPassword, cipher));
    QVERIFY(model.userNamesHidden());
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(cell(model, row, EntryModel::UserNameColumn).toString(),
                 QStringLiteral("ooooooo"));
        QCOMPARE(model.entry(row).userName().toByteArray(), items[row].userName);
    }

    // Showing them again must tell the view which cells changed.
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.setUserNamesHidden(false);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed[0][0].toModelIndex(), model.index(0, EntryModel::UserNameColumn));
    QCOMPARE(changed[0][1].toModelIndex(), model.index(2, EntryModel::UserNameColumn));
    QCOMPARE(cell(model, 0, EntryModel::UserNameColumn).toString(), QStringLiteral("alice"));
    QCOMPARE(cell(model, 2, EntryModel::UserNameColumn).toString(), QString());
}

void TestLinkFile::modelColumnsAndHeaders()
{
    EntryModel model;
    QCOMPARE(model.columnCount(), 4);
    const QStringList headers = {QStringLiteral("Page Title"), QStringLiteral("Username"),
                                 QStringLiteral("Password"), QStringLiteral("URL Address")};
    for (int column = 0; column < 4; ++column)
        QCOMPARE(model.headerData(column, Qt::Horizontal).toString(), headers[column]);
    QVERIFY(!model.headerData(4, Qt::Horizontal).isValid());
    QVERIFY(!model.headerData(0, Qt::Vertical).isValid());

    model.appendEntry({"Caf\xe9 \x80", "https://x.example/\xe4", "M\xfcller", "c", 1});
    QCOMPARE(cell(model, 0, EntryModel::TitleColumn).toString(),
             QStringLiteral("Caf\u00e9 \u20ac"));
    QCOMPARE(cell(model, 0, EntryModel::UrlColumn).toString(),
             QStringLiteral("https://x.example/\u00e4"));
    QCOMPARE(cell(model, 0, EntryModel::UserNameColumn).toString(), QStringLiteral("M\u00fcller"));
    // The password's cipher text is never shown, not even through another role.
    for (int role : {int(Qt::DisplayRole), int(Qt::EditRole), int(Qt::ToolTipRole)})
        QVERIFY(!model.data(model.index(0, EntryModel::PasswordColumn), role)
                     .toString()
                     .contains(u'c'));
}

// Items written on Windows: cipher texts holding blanks, NUL, CR and LF and ending in blanks, and
// plain texts in Windows-1252.
void TestLinkFile::windowsWrittenData()
{
    const QByteArray title = bytes(" a\0b\r\nc\n\rd  ");
    const QByteArray url = bytes("\r\n\0 http  ");
    const QByteArray user = bytes("\0");
    const QByteArray password = bytes("\x80 pw\r\n\0  ");
    const QByteArray cafe = "Caf\xe9 \x80";
    QByteArray file = handRecord(title, url, user, password) +
                      handRecord(TestData::encrypt(cafe, kPassword),
                                 TestData::encrypt("https://caf\xe9.example/", kPassword),
                                 TestData::encrypt("M\xfcller", kPassword), QByteArray(3, ' '));
    QVERIFY(TestData::writeFile(m_path, file));

    CipherService cipher;
    EntryModel model;
    QVERIFY(loadList(model, m_path, kPassword, cipher));
    QCOMPARE(model.rowCount(), 2);
    const Entry& first = model.entry(0);
    QCOMPARE(first.title().toByteArray(), TestData::decrypt(title, kPassword));
    QCOMPARE(first.url().toByteArray(), TestData::decrypt(url, kPassword));
    QCOMPARE(first.userName().toByteArray(), TestData::decrypt(user, kPassword));
    QCOMPARE(first.passwordCipher().toByteArray(), password);
    QCOMPARE(first.key(), "K1P" + password);

    const Entry& second = model.entry(1);
    QCOMPARE(second.title().toByteArray(), cafe);
    QCOMPARE(second.key(), QByteArray("K2P   "));
    QVERIFY(second.hasPassword());
    QCOMPARE(cell(model, 1, EntryModel::TitleColumn).toString(),
             QStringLiteral("Caf\u00e9 \u20ac"));
    QCOMPARE(cell(model, 1, EntryModel::UrlColumn).toString(),
             QStringLiteral("https://caf\u00e9.example/"));
    QCOMPARE(cell(model, 1, EntryModel::UserNameColumn).toString(), QStringLiteral("M\u00fcller"));
}

// A file cut inside the blanks of its last record still holds every item.
void TestLinkFile::shortLastRecordMissingOnlyBlanks()
{
    const QByteArray file = TestData::linkFile(kThreeItems.first(2), kPassword);
    QVERIFY(TestData::writeFile(m_path, file.chopped(400)));

    CipherService cipher;
    const LinkFileRead read = readLinkFile(m_path, kPassword, cipher);
    QVERIFY2(read.ok(), qPrintable(read.failure));
    QCOMPARE(read.entries.size(), std::size_t(2));
    QCOMPARE(read.entries[1].title().toByteArray(), kThreeItems[1].title);
    QCOMPARE(read.entries[1].passwordCipher().toByteArray(),
             TestData::encrypt(kThreeItems[1].password, kPassword));
}

void TestLinkFile::damagedFile_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("kept");

    const QByteArray three = TestData::linkFile(kThreeItems, kPassword);
    QTest::newRow("prefix not nine digits in record 2")
        << QByteArray(three).replace(3584 + 512 + 4, 1, "x") << 1;
    QTest::newRow("prefix running past its field in record 2")
        << QByteArray(three).replace(3584 + 2560, 9, "000000504") << 1;
    QTest::newRow("huge prefix in the last field")
        << QByteArray(three).replace(2 * 3584 + 3072, 9, "999999999") << 2;
}

// What an append that a crash cut short leaves: the records before it are the list, and the
// torn tail is no record (the next Add writes over it), never a damaged file that would stop
// every later change.
void TestLinkFile::tornTailIsNoRecord_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("kept");
    QTest::addColumn<qint64>("torn"); // the bytes left out, which the user is told of
    const QByteArray three = TestData::linkFile(kThreeItems, kPassword);
    QTest::newRow("torn last record of 2,000 bytes")
        << three.first(2 * 3584 + 2000) << 2 << qint64(2000);
    // Rounding up makes a record of 1,793 bytes: too short for its last fields.
    QTest::newRow("torn last record of 1,793 bytes")
        << three.first(3584 + 1793) << 1 << qint64(1793);
    QTest::newRow("torn record after a full read")
        << TestData::linkFile(numberedItems(65), kPassword).chopped(3584 - 2000) << 64
        << qint64(2000);
    // Rounded down, a short tail is never read as a record at all.
    QTest::newRow("torn last record of 1 byte") << three + three.first(1) << 3 << qint64(1);
    QTest::newRow("torn last record of 1,791 bytes")
        << three.first(2 * 3584 + 1791) << 2 << qint64(1791);
    QTest::newRow("whole records") << three << 3 << qint64(0);
}

void TestLinkFile::tornTailIsNoRecord()
{
    QFETCH(QByteArray, file);
    QFETCH(int, kept);
    QFETCH(qint64, torn);
    QVERIFY(TestData::writeFile(m_path, file));
    CipherService cipher;
    EntryModel model;
    QString failure;
    qint64 leftOut = -1;
    QVERIFY2(loadList(model, m_path, kPassword, cipher, &failure, &leftOut), qPrintable(failure));
    QCOMPARE(model.rowCount(), kept);
    QCOMPARE(leftOut, torn);
    QCOMPARE(readLinkFile(m_path, kPassword, cipher, EmptyLinkFile::Keep).tornTailBytes, torn);
    CheckedLinkFile checked;
    QCOMPARE(checked.open(m_path), QString());
    QCOMPARE(checked.count(), kept);
    QCOMPARE(checked.tornTailBytes(), torn);
    QCOMPARE(storedRecordCount(m_path), std::optional<qint64>(kept));
    QCOMPARE(findDamagedLinkRecord(m_path), QString());
    QCOMPARE(TestData::readFile(m_path), file);
}

// A link file that is a symbolic link to a folder not mounted is missing, not an empty list:
// every reader says so, and the link stays as it is.
void TestLinkFile::linkToNowhere()
{
    const QString target = m_path + u".unmounted/QuiURL.dab"_s;
    QVERIFY(QFile::link(target, m_path));
    CipherService cipher;
    const QString said =
        m_path + u": a symbolic link to "_s + target + u", which cannot be reached"_s;

    const LinkFileRead read = readLinkFile(m_path, kPassword, cipher);
    QVERIFY2(read.failure.startsWith(said), qPrintable(read.failure));
    EntryModel model;
    QString failure;
    QVERIFY(!loadList(model, m_path, kPassword, cipher, &failure));
    QVERIFY2(failure.startsWith(said), qPrintable(failure));
    QCOMPARE(storedRecordCount(m_path), std::nullopt);
    QVERIFY(findDamagedLinkRecord(m_path).startsWith(said));
    CheckedLinkFile checked;
    QVERIFY(checked.open(m_path).startsWith(said));
    // The master password file alike: a password never set would let anyone set one.
    const MasterPasswordFile::Check check = MasterPasswordFile::check(m_path, kPassword, cipher);
    QCOMPARE(check.outcome, MasterPasswordFile::Outcome::Unreadable);
    QVERIFY(check.failure.startsWith(said));
    QVERIFY(QFileInfo(m_path).isSymLink());
}

void TestLinkFile::damagedFile()
{
    QFETCH(QByteArray, file);
    QFETCH(int, kept);

    QVERIFY(TestData::writeFile(m_path, file));

    CipherService cipher;
    const LinkFileRead read = readLinkFile(m_path, kPassword, cipher);
    QVERIFY(!read.ok());
    QVERIFY(!read.failure.isEmpty());
    QVERIFY(!cipher.isOpen());
    // What was kept is what the good records alone give.
    QVERIFY(TestData::writeFile(m_path + u'2', file.first(kept * 3584)));
    const LinkFileRead good = readLinkFile(m_path + u'2', kPassword, cipher);
    QVERIFY(good.ok());
    QCOMPARE(read.entries.size(), std::size_t(kept));
    for (std::size_t i = 0; i < std::size_t(kept); ++i) {
        QCOMPARE(read.entries[i].title().toByteArray(), good.entries[i].title().toByteArray());
        QCOMPARE(read.entries[i].url().toByteArray(), good.entries[i].url().toByteArray());
        QCOMPARE(read.entries[i].userName().toByteArray(),
                 good.entries[i].userName().toByteArray());
        QCOMPARE(read.entries[i].key(), good.entries[i].key());
    }

    EntryModel model;
    QVERIFY(!loadList(model, m_path, kPassword, cipher));
    QCOMPARE(model.rowCount(), kept);
    QCOMPARE(model.GetLowLV2KeyNum(), kept + 1);
    // A damaged file is never deleted or rewritten by loading it.
    QCOMPARE(TestData::readFile(m_path), file);
}

// Something is there that cannot be read: not an empty list, which a later save would write over
// it.
void TestLinkFile::unreadablePath()
{
    QVERIFY(QDir().mkdir(m_path));

    CipherService cipher;
    const LinkFileRead read = readLinkFile(m_path, kPassword, cipher);
    QVERIFY(!read.ok());
    QVERIFY(read.entries.empty());

    EntryModel model;
    QVERIFY(!loadList(model, m_path, kPassword, cipher));
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(QFileInfo(m_path).isDir());
}

void TestLinkFile::unreadableFile_data()
{
    QTest::addColumn<Unreadable>("kind");

    QTest::newRow("pipe") << Unreadable::Pipe;
    QTest::newRow("directory") << Unreadable::Directory;
    QTest::newRow("no descriptor left") << Unreadable::NoDescriptorLeft;
}

// A file that cannot be read has no record count: taken for 0, it would send the next record
// over record 1. And a pipe must not keep the reader waiting for a writer.
void TestLinkFile::unreadableFile()
{
    QFETCH(Unreadable, kind);

    const QByteArray three = TestData::linkFile(kThreeItems, kPassword);
    std::optional<FifoWatchdog> pipe;
    switch (kind) {
    case Unreadable::Pipe:
        pipe.emplace(m_path);
        QVERIFY(pipe->made());
        break;
    case Unreadable::Directory:
        QVERIFY(QDir().mkdir(m_path));
        break;
    case Unreadable::NoDescriptorLeft:
        QVERIFY(TestData::writeFile(m_path, three));
        break;
    }

    CipherService cipher;
    std::optional<qint64> count;
    LinkFileRead read;
    {
        std::optional<DescriptorLimit> limit;
        if (kind == Unreadable::NoDescriptorLeft) {
            limit.emplace(0);
            QVERIFY(limit->ok());
        }
        count = storedRecordCount(m_path);
        read = readLinkFile(m_path, kPassword, cipher);
    }
    QVERIFY(!pipe || !pipe->released());
    QVERIFY(!count);
    QVERIFY(!read.ok());
    QVERIFY2(read.failure.startsWith(m_path), qPrintable(read.failure));
    QVERIFY(read.entries.empty());
    if (kind == Unreadable::NoDescriptorLeft) {
        QCOMPARE(storedRecordCount(m_path).value_or(-1), 3);
        QCOMPARE(TestData::readFile(m_path), three);
    }
}

void TestLinkFile::loadListReplacesEntries()
{
    QVERIFY(TestData::writeFile(m_path, TestData::linkFile(kThreeItems.first(2), kPassword)));

    EntryModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    for (int key : {5, 1, 9, 2})
        model.appendEntry(entryWithKey(key));

    CipherService cipher;
    QVERIFY(loadList(model, m_path, kPassword, cipher));
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.entry(0).title().toByteArray(), kThreeItems[0].title);
    QCOMPARE(model.entry(0).keyNumber(), 1);
    QCOMPARE(model.entry(1).keyNumber(), 2);
    // Key numbers of the old entries are forgotten, not merely overwritten.
    QCOMPARE(model.GetLowLV2KeyNum(), 3);

    QVERIFY(loadList(model, m_dir->filePath(QStringLiteral("absent.dab")), kPassword, cipher));
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.GetLowLV2KeyNum(), 1);
}

void TestLinkFile::checkedFileChangedAfterCheck_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("records");     // what the reader still gives
    QTest::addColumn<QString>("failure"); // a part of it; empty for none

    // Writes in place are what another program, or a crashed Add's undo, could do meanwhile.
    QTest::newRow("a late record damaged in place") << u"damage"_s << 2949 << u"record 2950"_s;
    QTest::newRow("cut short") << u"truncate"_s << -1 << u"cannot read record"_s;
    // Every rewrite of ours renames a new file over the old, which the reader keeps reading.
    QTest::newRow("replaced by a rename") << u"rename"_s << 3000 << QString();
}

// The listing's reader checks the whole file, then reads again what it did not keep: a file
// changed in between gives the records up to the change and then a failure, never bytes of
// another record or a crash.
void TestLinkFile::checkedFileChangedAfterCheck()
{
    QFETCH(QString, change);
    QFETCH(int, records);
    QFETCH(QString, failure);

    // Ten megabytes of cipher texts: more than the reader keeps from its check.
    const QList<TestData::Item> items = fullWidthItems(3000);
    const QByteArray bytes = TestData::linkFile(items, kPassword);
    QVERIFY(TestData::writeFile(m_path, bytes));
    CheckedLinkFile checked;
    QCOMPARE(checked.open(m_path), QString());
    QCOMPARE(checked.count(), qint64(3000));

    QFile file(m_path);
    if (change == u"damage") {
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.seek(2949 * qint64(kLinkRecordSize) + kTitleFieldWidth));
        QCOMPARE(file.write("x"), qint64(1));
    } else if (change == u"truncate") {
        QVERIFY(file.resize(2900 * qint64(kLinkRecordSize) + 100));
    } else {
        const QString other = m_dir->filePath(QStringLiteral("other"));
        QVERIFY(TestData::writeFile(other, TestData::linkFile(numberedItems(3), kPassword)));
        QVERIFY(::rename(QFile::encodeName(other).constData(),
                         QFile::encodeName(m_path).constData()) == 0);
    }
    file.close();

    qint64 given = 0;
    while (const auto record = checked.next()) {
        const TestData::Item& item = items[given];
        QCOMPARE(record->title.toByteArray(), TestData::encrypt(item.title, kPassword));
        QCOMPARE(record->url.toByteArray(), TestData::encrypt(item.url, kPassword));
        QCOMPARE(record->userName.toByteArray(), TestData::encrypt(item.userName, kPassword));
        QCOMPARE(record->password.toByteArray(), TestData::encrypt(item.password, kPassword));
        ++given;
    }
    if (records >= 0)
        QCOMPARE(given, qint64(records));
    else
        QVERIFY(given <= 2900);
    if (failure.isEmpty())
        QCOMPARE(checked.failure(), QString());
    else
        QVERIFY2(checked.failure().contains(failure), qPrintable(checked.failure()));
}

void TestLinkFile::getLowLV2KeyNum_data()
{
    QTest::addColumn<QList<int>>("keys");
    // "+N" appends key N, "+" appends the lowest free key as an add does, "iR:N" inserts key N at
    // row R, "-R" removes row R.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("lowest");

    auto steps = [](const char* text) {
        return QString::fromLatin1(text).split(u' ', Qt::SkipEmptyParts);
    };
    QTest::newRow("empty") << QList<int>{} << steps("") << 1;
    QTest::newRow("1,3") << QList<int>{1, 3} << steps("") << 2;
    QTest::newRow("1,2") << QList<int>{1, 2} << steps("") << 3;
    QTest::newRow("2,3") << QList<int>{2, 3} << steps("") << 1;
    QTest::newRow("entry 1 of 1,2,3 removed") << QList<int>{1, 2, 3} << steps("-0") << 1;
    QTest::newRow("middle removed") << QList<int>{1, 2, 3} << steps("-1") << 2;
    QTest::newRow("last removed") << QList<int>{1, 2, 3} << steps("-2") << 3;
    QTest::newRow("gap refilled") << QList<int>{1, 2, 3} << steps("-1 +") << 4;
    QTest::newRow("adds to an empty list") << QList<int>{} << steps("+ + +") << 4;
    QTest::newRow("lower gap after a higher one")
        << QList<int>{1, 2, 3, 4, 5} << steps("-3 -1 + +") << 6;
    QTest::newRow("all removed") << QList<int>{1, 2, 3} << steps("-0 -0 -0") << 1;
    QTest::newRow("low keys inserted in front") << QList<int>{3, 4} << steps("i0:1 i1:2") << 5;
    // The same number twice: removing one entry does not free it.
    QTest::newRow("duplicate key") << QList<int>{1, 1, 2} << steps("-0") << 3;
    QTest::newRow("far key") << QList<int>{1000} << steps("+ +1001 -0") << 2;
}

void TestLinkFile::getLowLV2KeyNum()
{
    QFETCH(QList<int>, keys);
    QFETCH(QStringList, steps);
    QFETCH(int, lowest);

    EntryModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    std::vector<Entry> initial;
    for (int key : keys)
        initial.push_back(entryWithKey(key));
    model.setEntries(std::move(initial));

    // The plain search the answer must agree with after every step.
    auto lowestFree = [&model] {
        std::set<int> used;
        for (const Entry& e : model.entries())
            used.insert(e.keyNumber());
        int n = 1;
        while (used.count(n))
            ++n;
        return n;
    };
    QCOMPARE(model.GetLowLV2KeyNum(), lowestFree());
    for (const QString& step : steps) {
        if (step == u"+") {
            model.appendEntry(entryWithKey(model.GetLowLV2KeyNum()));
        } else if (step.startsWith(u'+')) {
            model.appendEntry(entryWithKey(step.mid(1).toInt()));
        } else if (step.startsWith(u'-')) {
            model.removeEntry(step.mid(1).toInt());
        } else {
            const QStringList at = step.mid(1).split(u':');
            model.insertEntry(at[0].toInt(), entryWithKey(at[1].toInt()));
        }
        QVERIFY2(model.GetLowLV2KeyNum() == lowestFree(), qPrintable(step));
    }
    QCOMPARE(model.GetLowLV2KeyNum(), lowest);
}

QTEST_GUILESS_MAIN(TestLinkFile)
#include "tst_linkfile.moc"
