#include "FileSizeLimit.h"
#include "TestData.h"
#include "store/EntryModel.h"
#include "store/LinkFile.h"
#include "store/LinkFileRewrite.h"
#include "store/PairFiles.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using TestData::kPassword;

namespace {

const QByteArray kNewPassword = QByteArrayLiteral("n3w p\x80ss");

QList<TestData::Item> numberedItems(int count)
{
    QList<TestData::Item> items;
    for (int i = 1; i <= count; ++i) {
        const QByteArray n = QByteArray::number(i);
        // Entry 3 has no password, entry 4 neither title nor address: empty fields are stored.
        items.append({i == 4 ? QByteArray() : "Page " + n, i == 4 ? QByteArray() : "https://" + n,
                      "user" + n, i == 3 ? QByteArray() : "secret " + n});
    }
    return items;
}

std::vector<Entry> entriesOf(const QString& path, const QByteArray& password)
{
    CipherService cipher;
    LinkFileRead read = readLinkFile(path, password, cipher, EmptyLinkFile::Keep);
    if (!read.ok())
        qWarning() << read.failure;
    return std::move(read.entries);
}

// Titles and passwords in clear, in file order: what a user would see and copy.
QStringList contentOf(const QString& path, const QByteArray& password)
{
    QStringList lines;
    for (const Entry& e : entriesOf(path, password)) {
        lines << QString::fromLatin1(e.title().toByteArray() + '|' + e.url().toByteArray() + '|' +
                                     e.userName().toByteArray() + '|' +
                                     TestData::decrypt(e.passwordCipher(), password));
    }
    return lines;
}

QStringList contentOf(const QList<TestData::Item>& items)
{
    QStringList lines;
    for (const TestData::Item& i : items)
        lines << QString::fromLatin1(i.title + '|' + i.url + '|' + i.userName + '|' + i.password);
    return lines;
}

// Changes the file at path as another program would: "renamed over" (a sync program), "written
// in place" (the Windows program), "removed"; "none" leaves it.
bool changeFile(const QString& path, const QString& how)
{
    if (how == QStringLiteral("renamed over")) {
        const QString other = path + QStringLiteral(".synced");
        return TestData::writeFile(other, TestData::pattern(kLinkRecordSize, 's')) &&
               ::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()) ==
                   0;
    }
    if (how == QStringLiteral("written in place")) {
        QFile file(path);
        return file.open(QIODevice::ReadWrite) && file.seek(10) && file.write("X") == 1;
    }
    if (how == QStringLiteral("removed"))
        return QFile::remove(path);
    return how == QStringLiteral("none");
}

} // namespace

class TestRewrite : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();

    void rewriteFollowsTheList_data();
    void rewriteFollowsTheList();
    void unchangedListGivesTheSameBytes();
    void emptyListRemovesTheFile();
    void failedRewriteKeepsTheOldFile();

    void modelMovesAndRemoves_data();
    void modelMovesAndRemoves();

    void reencryptsThePair_data();
    void reencryptsThePair();
    void staleTemporaryIsNotCarried();
    void failedReencryptionKeepsTheOldPair();
    void damagedRecordStopsTheReencryption();

    void linkedFilesStayLinked();
    void changedListIsLeft_data();
    void changedListIsLeft();
    void changedPairIsLeft_data();
    void changedPairIsLeft();
    void settleFinishesOrUndoes_data();
    void settleFinishesOrUndoes();

private:
    QString path(const QString& name) const { return m_dir->filePath(name); }
    void writePair(const QList<TestData::Item>& items, const QByteArray& password);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_link;
    QString m_master;
};

void TestRewrite::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_link = path(PairFiles::kLinkFile);
    m_master = path(PairFiles::kMasterPasswordFile);
}

void TestRewrite::writePair(const QList<TestData::Item>& items, const QByteArray& password)
{
    QVERIFY(TestData::writeFile(m_master, TestData::masterPasswordRecord(password)));
    if (!items.isEmpty())
        QVERIFY(TestData::writeFile(m_link, TestData::linkFile(items, password)));
}

// Each row: how many entries, the new order as 1-based numbers of the old ones.
void TestRewrite::rewriteFollowsTheList_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<int>>("order");
    QTest::newRow("5th of 8 to the top") << 8 << QList<int>{5, 1, 2, 3, 4, 6, 7, 8};
    QTest::newRow("2 of 5 to the bottom") << 5 << QList<int>{1, 3, 4, 5, 2};
    QTest::newRow("3 of 5 down twice") << 5 << QList<int>{1, 2, 4, 5, 3};
    QTest::newRow("delete 2 and 4 of 5") << 5 << QList<int>{1, 3, 5};
    QTest::newRow("only the last kept") << 3 << QList<int>{3};
    // Records are laid out over those of the write before: shorter items over longer ones.
    QList<int> reversed;
    for (int n = 130; n >= 1; --n)
        reversed << n;
    QTest::newRow("130 reversed") << 130 << reversed;
}

void TestRewrite::rewriteFollowsTheList()
{
    QFETCH(int, count);
    QFETCH(QList<int>, order);
    const QList<TestData::Item> items = numberedItems(count);
    writePair(items, kPassword);
    const std::vector<Entry> loaded = entriesOf(m_link, kPassword);
    std::vector<Entry> list;
    QList<TestData::Item> expected;
    for (int n : order) {
        list.push_back(loaded[std::size_t(n - 1)]);
        expected << items[n - 1];
    }

    CipherService cipher;
    const SaveResult saved = SaveListToLinkFile(m_link, list, kPassword, cipher);
    QVERIFY2(saved.ok(), qPrintable(saved.error()));
    QCOMPARE(QFileInfo(m_link).size(), qint64(order.size()) * kLinkRecordSize);
    QCOMPARE(contentOf(m_link, kPassword), contentOf(expected));
    // The same bytes a record written afresh for the entry has.
    QCOMPARE(TestData::readFile(m_link), TestData::linkFile(expected, kPassword));
    QCOMPARE(TestData::permissionsOf(m_link), 0600);
    QCOMPARE(TestData::entriesOf(m_dir->path()),
             QStringList({PairFiles::kMasterPasswordFile, PairFiles::kLinkFile}));
}

void TestRewrite::unchangedListGivesTheSameBytes()
{
    writePair(numberedItems(6), kPassword);
    const QByteArray before = TestData::readFile(m_link);
    CipherService cipher;
    QVERIFY(SaveListToLinkFile(m_link, entriesOf(m_link, kPassword), kPassword, cipher).ok());
    QCOMPARE(TestData::readFile(m_link), before);
}

void TestRewrite::emptyListRemovesTheFile()
{
    writePair(numberedItems(2), kPassword);
    CipherService cipher;
    QVERIFY(SaveListToLinkFile(m_link, std::vector<Entry>(), kPassword, cipher).ok());
    QVERIFY(!QFileInfo::exists(m_link));
    // And with no file to begin with, nothing to do.
    QVERIFY(SaveListToLinkFile(m_link, std::vector<Entry>(), kPassword, cipher).ok());
    QVERIFY(!QFileInfo::exists(m_link));
}

void TestRewrite::failedRewriteKeepsTheOldFile()
{
    writePair(numberedItems(40), kPassword);
    const QByteArray before = TestData::readFile(m_link);
    std::vector<Entry> list = entriesOf(m_link, kPassword);
    std::reverse(list.begin(), list.end());
    CipherService cipher;
    for (rlim_t limit : {rlim_t(0), rlim_t(1000), rlim_t(20 * kLinkRecordSize + 7)}) {
        FileSizeLimit full(limit);
        QVERIFY(full.ok());
        QVERIFY(!SaveListToLinkFile(m_link, list, kPassword, cipher).ok());
        QCOMPARE(TestData::readFile(m_link), before);
    }
    QCOMPARE(TestData::entriesOf(m_dir->path()),
             QStringList({PairFiles::kMasterPasswordFile, PairFiles::kLinkFile}));
}

void TestRewrite::modelMovesAndRemoves_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<QList<int>>("removed");
    QTest::addColumn<QList<int>>("expected");
    QTest::newRow("move down") << 5 << 2 << 3 << QList<int>{} << QList<int>{1, 2, 4, 3, 5};
    QTest::newRow("move to top") << 8 << 4 << 0 << QList<int>{}
                                 << QList<int>{5, 1, 2, 3, 4, 6, 7, 8};
    QTest::newRow("remove runs") << 6 << 0 << 0 << QList<int>{0, 1, 3, 5} << QList<int>{3, 5};
    QList<int> everyOther;
    QList<int> odd;
    for (int i = 0; i < 40; ++i)
        (i % 2 == 0 ? everyOther : odd) << (i % 2 == 0 ? i : i + 1);
    QTest::newRow("remove many runs") << 40 << 0 << 0 << everyOther << odd;
}

void TestRewrite::modelMovesAndRemoves()
{
    QFETCH(int, count);
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QList<int>, removed);
    QFETCH(QList<int>, expected);
    EntryModel model;
    std::vector<Entry> entries;
    for (int i = 1; i <= count; ++i)
        entries.emplace_back(QByteArray::number(i), "", "", "", i);
    model.setEntries(std::move(entries));
    model.moveEntry(from, to);
    model.removeEntries(std::vector<int>(removed.begin(), removed.end()));
    QList<int> titles;
    for (const Entry& e : model.entries())
        titles << e.title().toInt();
    QCOMPARE(titles, expected);
    // Removed key numbers are free again, the lowest first.
    QCOMPARE(model.GetLowLV2KeyNum(), removed.isEmpty() ? count + 1 : removed.first() + 1);
}

void TestRewrite::reencryptsThePair_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("newPassword");
    QTest::newRow("entries") << 70 << kNewPassword;
    QTest::newRow("empty new password") << 3 << QByteArray();
    QTest::newRow("no link file") << 0 << kNewPassword;
}

void TestRewrite::reencryptsThePair()
{
    QFETCH(int, count);
    QFETCH(QByteArray, newPassword);
    const QList<TestData::Item> items = numberedItems(count);
    writePair(items, kPassword);

    CipherService cipher;
    const SaveResult changed = reencryptPair(m_dir->path(), kPassword, newPassword,
                                             MasterPasswordFile::kCheckValue, cipher);
    QVERIFY2(changed.ok(), qPrintable(changed.error()));

    QCOMPARE(TestData::readFile(m_master), TestData::masterPasswordRecord(newPassword));
    QCOMPARE(MasterPasswordFile::check(m_master, kPassword, cipher).outcome,
             MasterPasswordFile::Outcome::Wrong);
    if (count == 0) {
        QVERIFY(!QFileInfo::exists(m_link));
    } else {
        QCOMPARE(TestData::readFile(m_link), TestData::linkFile(items, newPassword));
        QCOMPARE(TestData::permissionsOf(m_link), 0600);
    }
    QCOMPARE(TestData::permissionsOf(m_master), 0600);
    QVERIFY(!PairFiles::switchPending(m_dir->path()));
    QCOMPARE(TestData::entriesOf(m_dir->path()).size(), count == 0 ? 1 : 2);
}

void TestRewrite::staleTemporaryIsNotCarried()
{
    const QList<TestData::Item> items = numberedItems(2);
    writePair(items, kPassword);
    // Left by an interrupted run, longer than the new file.
    QVERIFY(TestData::writeFile(path(PairFiles::kStagedPrefix + PairFiles::kLinkFile),
                                TestData::pattern(5 * kLinkRecordSize, 'x')));
    CipherService cipher;
    QVERIFY(reencryptPair(m_dir->path(), kPassword, kNewPassword, MasterPasswordFile::kCheckValue,
                          cipher)
                .ok());
    QCOMPARE(TestData::readFile(m_link), TestData::linkFile(items, kNewPassword));
    QCOMPARE(TestData::entriesOf(m_dir->path()).size(), 2);
}

void TestRewrite::failedReencryptionKeepsTheOldPair()
{
    writePair(numberedItems(30), kPassword);
    const QByteArray oldLink = TestData::readFile(m_link);
    const QByteArray oldMaster = TestData::readFile(m_master);
    CipherService cipher;
    for (rlim_t limit : {rlim_t(0), rlim_t(500), rlim_t(1024), rlim_t(17 * kLinkRecordSize)}) {
        FileSizeLimit full(limit);
        QVERIFY(full.ok());
        QVERIFY(!reencryptPair(m_dir->path(), kPassword, kNewPassword,
                               MasterPasswordFile::kCheckValue, cipher)
                     .ok());
        QCOMPARE(TestData::readFile(m_link), oldLink);
        QCOMPARE(TestData::readFile(m_master), oldMaster);
        QCOMPARE(TestData::entriesOf(m_dir->path()).size(), 2);
    }
}

void TestRewrite::damagedRecordStopsTheReencryption()
{
    QByteArray damaged = TestData::linkFile(numberedItems(3), kPassword);
    damaged[kLinkRecordSize + 2] = 'x'; // record 2's title prefix is no number
    writePair({}, kPassword);
    QVERIFY(TestData::writeFile(m_link, damaged));
    QVERIFY(findDamagedLinkRecord(m_link).contains(QStringLiteral("record 2")));

    CipherService cipher;
    const SaveResult changed = reencryptPair(m_dir->path(), kPassword, kNewPassword,
                                             MasterPasswordFile::kCheckValue, cipher);
    QVERIFY(!changed.ok());
    QVERIFY(changed.error().contains(QStringLiteral("record 2")));
    QCOMPARE(TestData::readFile(m_link), damaged);
    QCOMPARE(TestData::readFile(m_master), TestData::masterPasswordRecord(kPassword));
    QCOMPARE(TestData::entriesOf(m_dir->path()).size(), 2);
}

// A user who keeps the link file in another folder (a synchronised one, say) links it in.
void TestRewrite::linkedFilesStayLinked()
{
    const QList<TestData::Item> items = numberedItems(4);
    writePair({}, kPassword);
    QVERIFY(QDir().mkpath(path(u"synced"_qs)));
    const QString real = path(u"synced/links.dab"_qs);
    QVERIFY(TestData::writeFile(real, TestData::linkFile(items, kPassword)));
    QVERIFY(QFile::link(real, m_link));

    CipherService cipher;
    QVERIFY(reencryptPair(m_dir->path(), kPassword, kNewPassword, MasterPasswordFile::kCheckValue,
                          cipher)
                .ok());
    QVERIFY(QFileInfo(m_link).isSymLink());
    QCOMPARE(TestData::readFile(real), TestData::linkFile(items, kNewPassword));

    std::vector<Entry> list = entriesOf(m_link, kNewPassword);
    std::reverse(list.begin(), list.end());
    QVERIFY(SaveListToLinkFile(m_link, list, kNewPassword, cipher).ok());
    QVERIFY(QFileInfo(m_link).isSymLink());
    QCOMPARE(contentOf(real, kNewPassword).first(), contentOf(items).last());
    QCOMPARE(TestData::entriesOf(path(u"synced"_qs)), QStringList({u"links.dab"_qs}));
    QCOMPARE(TestData::entriesOf(m_dir->path()),
             QStringList({PairFiles::kMasterPasswordFile, PairFiles::kLinkFile, u"synced"_qs}));
}

// A crash leaves the directory in one of these states; settling gives a whole pair.
void TestRewrite::settleFinishesOrUndoes_data()
{
    QTest::addColumn<bool>("stagedMaster");
    QTest::addColumn<bool>("stagedLink");
    QTest::addColumn<QByteArray>("mark");
    QTest::addColumn<bool>("masterRenamed");
    QTest::addColumn<bool>("expectNew");
    QTest::newRow("staging, no mark") << true << true << QByteArray() << false << false;
    QTest::newRow("half staged") << true << false << QByteArray() << false << false;
    const QByteArray both = "replace QuiFil.ini\nreplace QuiURL.dab\n";
    QTest::newRow("marked") << true << true << both << false << true;
    QTest::newRow("marked, one renamed") << false << true << both << true << true;
    QTest::newRow("marked, both renamed") << false << false << both << true << true;
}

void TestRewrite::settleFinishesOrUndoes()
{
    QFETCH(bool, stagedMaster);
    QFETCH(bool, stagedLink);
    QFETCH(QByteArray, mark);
    QFETCH(bool, masterRenamed);
    QFETCH(bool, expectNew);
    const QList<TestData::Item> items = numberedItems(3);
    const QByteArray oldLink = TestData::linkFile(items, kPassword);
    const QByteArray newLink = TestData::linkFile(items, kNewPassword);
    const QByteArray oldMaster = TestData::masterPasswordRecord(kPassword);
    const QByteArray newMaster = TestData::masterPasswordRecord(kNewPassword);
    const QString tem = PairFiles::kStagedPrefix;
    const bool linkRenamed = !mark.isEmpty() && !stagedLink;

    QVERIFY(TestData::writeFile(m_master, masterRenamed ? newMaster : oldMaster));
    QVERIFY(TestData::writeFile(m_link, linkRenamed ? newLink : oldLink));
    if (stagedMaster)
        QVERIFY(TestData::writeFile(path(tem + PairFiles::kMasterPasswordFile), newMaster));
    if (stagedLink)
        QVERIFY(TestData::writeFile(path(tem + PairFiles::kLinkFile), newLink));
    if (!mark.isEmpty())
        QVERIFY(TestData::writeFile(path(PairFiles::kCommitMark), mark));

    QVERIFY(PairFiles::settlePairDirectory(m_dir->path()).ok());
    QCOMPARE(TestData::readFile(m_master), expectNew ? newMaster : oldMaster);
    QCOMPARE(TestData::readFile(m_link), expectNew ? newLink : oldLink);
    QCOMPARE(TestData::entriesOf(m_dir->path()),
             QStringList({PairFiles::kMasterPasswordFile, PairFiles::kLinkFile}));
}

void TestRewrite::changedListIsLeft_data()
{
    QTest::addColumn<int>("kept"); // how many of the 5 entries the new list holds
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("change");

    for (const int kept : {2, 0}) {
        for (const QString& file : {PairFiles::kLinkFile, PairFiles::kMasterPasswordFile}) {
            for (const char* change : {"none", "renamed over", "written in place", "removed"})
                QTest::addRow("%s, %s %s", kept ? "a list" : "an empty list", qPrintable(file),
                              change)
                    << kept << file << QString::fromLatin1(change);
        }
    }
}

// A list written from a file that has changed since it was read would lose that change: the
// changed file stays, and the refusal says why.
void TestRewrite::changedListIsLeft()
{
    QFETCH(int, kept);
    QFETCH(QString, file);
    QFETCH(QString, change);

    writePair(numberedItems(5), kPassword);
    const PairIdentity read = pairIdentity(m_dir->path());
    std::vector<Entry> entries = entriesOf(m_link, kPassword);
    entries.resize(std::size_t(kept));
    QVERIFY(changeFile(path(file), change));
    const QStringList names = TestData::entriesOf(m_dir->path());
    const QByteArray link = QFileInfo::exists(m_link) ? TestData::readFile(m_link) : QByteArray();

    CipherService cipher;
    const SaveResult saved = SaveListToLinkFile(m_link, entries, kPassword, cipher, read);
    if (change == QStringLiteral("none")) {
        QVERIFY2(saved.ok(), qPrintable(saved.error()));
        QCOMPARE(QFileInfo::exists(m_link), kept > 0);
        return;
    }
    QVERIFY(!saved.ok() && !saved.made());
    QVERIFY2(saved.changedOnDisk(), qPrintable(saved.error()));
    QVERIFY2(saved.error().startsWith(path(file) + QStringLiteral(" changed on disk: ")),
             qPrintable(saved.error()));
    QCOMPARE(TestData::entriesOf(m_dir->path()), names);
    if (names.contains(PairFiles::kLinkFile))
        QCOMPARE(TestData::readFile(m_link), link);
}

void TestRewrite::changedPairIsLeft_data()
{
    QTest::addColumn<bool>("staged"); // changed after the new pair is staged, else before
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("change");

    for (const bool staged : {false, true}) {
        QTest::addRow("%s, unchanged", staged ? "staged" : "read")
            << staged << PairFiles::kLinkFile << QStringLiteral("none");
        for (const QString& file : {PairFiles::kMasterPasswordFile, PairFiles::kLinkFile}) {
            for (const char* change : {"renamed over", "written in place", "removed"})
                QTest::addRow("%s, %s %s", staged ? "staged" : "read", qPrintable(file), change)
                    << staged << file << QString::fromLatin1(change);
        }
    }
}

// A new password is not put on a pair that changed since it was read: neither file is replaced,
// no commit mark or staged file is left, and the refusal says the files changed.
void TestRewrite::changedPairIsLeft()
{
    QFETCH(bool, staged);
    QFETCH(QString, file);
    QFETCH(QString, change);

    writePair(numberedItems(4), kPassword);
    const PairIdentity read = pairIdentity(m_dir->path());
    CipherService cipher;
    SaveResult saved;
    QStringList after;
    if (staged) {
        PairFiles::PairReplacement pair(m_dir->path());
        pair.expect(PairFiles::kMasterPasswordFile, read.masterPasswordFile);
        pair.expect(PairFiles::kLinkFile, read.linkFile);
        pair.stage(PairFiles::kMasterPasswordFile)
            .write(TestData::masterPasswordRecord(kNewPassword));
        pair.stage(PairFiles::kLinkFile).write(TestData::linkFile(numberedItems(2), kNewPassword));
        QVERIFY(changeFile(path(file), change));
        after = TestData::entriesOf(m_dir->path()).filter(
            QRegularExpression(u"^(?!"_s + PairFiles::kStagedPrefix + u")"_s));
        saved = pair.commit();
    } else {
        QVERIFY(changeFile(path(file), change));
        after = TestData::entriesOf(m_dir->path());
        saved = reencryptPair(m_dir->path(), kPassword, kNewPassword,
                              MasterPasswordFile::kCheckValue, cipher, read);
    }
    const QByteArray master = TestData::readFile(m_master);
    if (change == QStringLiteral("none")) {
        QVERIFY2(saved.ok(), qPrintable(saved.error()));
        QCOMPARE(master, TestData::masterPasswordRecord(kNewPassword));
        return;
    }
    QVERIFY(!saved.ok() && !saved.made());
    QVERIFY2(saved.changedOnDisk(), qPrintable(saved.error()));
    QVERIFY2(saved.error().startsWith(path(file) + QStringLiteral(" changed on disk: ")),
             qPrintable(saved.error()));
    QCOMPARE(TestData::entriesOf(m_dir->path()), after);
    QVERIFY(!PairFiles::switchPending(m_dir->path()));
    if (file != PairFiles::kMasterPasswordFile)
        QCOMPARE(master, TestData::masterPasswordRecord(kPassword));
    if (file != PairFiles::kLinkFile)
        QCOMPARE(contentOf(m_link, kPassword), contentOf(numberedItems(4)));
}

QTEST_GUILESS_MAIN(TestRewrite)
#include "tst_rewrite.moc"
