// The names sync programs give the other version of a data file, and where a merged one goes.

#include "TestData.h"
#include "store/ConflictCopies.h"
#include "store/Merge.h"

#include "cipher/CipherService.h"
#include "store/LinkFile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using ConflictCopies::Of;

class TestConflictCopies : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void names_data();
    void names();
    void findsOnlyFiles();
    void putAsideKeepsEveryCopy();
    void putAsideRefusesALinkInTheWay();
    void passwordJudgedOnTheWholeFile_data();
    void passwordJudgedOnTheWholeFile();
};

void TestConflictCopies::names_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("copy");
    QTest::addColumn<int>("of");
    QTest::addColumn<QString>("mark");

    const int link = int(Of::LinkFile);
    const int master = int(Of::MasterPasswordFile);
    const auto row = [](const char* tag, const QString& name, bool copy, int of = 0,
                        const QString& mark = {}) {
        QTest::newRow(tag) << name << copy << of << mark;
    };
    row("syncthing", u"QuiURL.sync-conflict-20261211-055826-ZI5QJTT.dab"_s, true, link,
        u".sync-conflict-20261211-055826-ZI5QJTT"_s);
    row("syncthing ini", u"QuiFil.sync-conflict-20261211-055827-ZI5QJTT.ini"_s, true, master,
        u".sync-conflict-20261211-055827-ZI5QJTT"_s);
    row("nextcloud", u"QuiURL (conflicted copy 2026-12-11 055826).dab"_s, true, link,
        u" (conflicted copy 2026-12-11 055826)"_s);
    row("nextcloud with user", u"QuiFil (conflicted copy alice 2026-12-11 055826).ini"_s, true,
        master, u" (conflicted copy alice 2026-12-11 055826)"_s);
    row("owncloud before 2.5", u"QuiURL_conflict-20261211-055826.dab"_s, true, link,
        u"_conflict-20261211-055826"_s);
    row("dropbox", u"QuiURL (LAPTOP's conflicted copy 2026-12-11).dab"_s, true, link,
        u" (LAPTOP's conflicted copy 2026-12-11)"_s);
    row("dropbox second that day", u"QuiURL (Ann Lee's conflicted copy 2026-12-11 (1)).dab"_s, true,
        link, u" (Ann Lee's conflicted copy 2026-12-11 (1))"_s);
    row("dropbox typographic apostrophe", u"QuiFil (PC\u2019s conflicted copy 2026-12-11).ini"_s,
        true, master, u" (PC\u2019s conflicted copy 2026-12-11)"_s);
    row("onedrive", u"QuiURL-DESKTOP-4F2K9.dab"_s, true, link, u"-DESKTOP-4F2K9"_s);
    row("onedrive numbered", u"QuiFil-LAPTOP-2.ini"_s, true, master, u"-LAPTOP-2"_s);

    // Our own files, the Windows program's and the writers' temporaries, and near misses.
    for (const char* own : {"QuiURL.dab", "QuiFil.ini", "QuiSetts.ini", "temQuiURL.dab",
                            "temQuiFil.ini", "QuiPair.commit", "temQuiPair.commit",
                            "QuiURL.dab.Ab3xYz", "QuiFil.ini.q1W2e3", "quillor.lock"})
        row(own, QString::fromLatin1(own), false);
    row("link file with the ini extension", u"QuiURL.sync-conflict-20261211-055826-ZI5QJTT.ini"_s,
        false);
    row("settings file copy", u"QuiSetts.sync-conflict-20261211-055826-ZI5QJTT.ini"_s, false);
    row("syncthing short device", u"QuiURL.sync-conflict-20261211-055826-ZI5Q.dab"_s, false);
    row("syncthing temporary", u".syncthing.QuiURL.dab.tmp"_s, false);
    row("other case", u"quiurl.sync-conflict-20261211-055826-ZI5QJTT.dab"_s, false);
    row("something before", u"oldQuiURL-HOST.dab"_s, false);
    row("copy of a copy", u"QuiURL.dab-HOST.dab"_s, false);
    row("host with a dot", u"QuiURL-host.example.dab"_s, false);
    row("dropbox without a date", u"QuiURL (LAPTOP's conflicted copy).dab"_s, false);
    row("path", u"sub/QuiURL-HOST.dab"_s, false);
}

void TestConflictCopies::names()
{
    QFETCH(QString, name);
    QFETCH(bool, copy);
    QFETCH(int, of);
    QFETCH(QString, mark);

    const auto found = ConflictCopies::recognise(name);
    QCOMPARE(found.has_value(), copy);
    if (!copy)
        return;
    QCOMPARE(found->name, name);
    QCOMPARE(int(found->of), of);
    QCOMPARE(found->mark, mark);
}

// Only regular files are offered: a folder of that name is none of the list's.
void TestConflictCopies::findsOnlyFiles()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString copy = u"QuiURL.sync-conflict-20261211-055826-ZI5QJTT.dab"_s;
    QVERIFY(TestData::writeFile(dir.filePath(copy), "x"));
    QVERIFY(TestData::writeFile(dir.filePath(u"QuiURL.dab"_s), "x"));
    QVERIFY(TestData::writeFile(dir.filePath(u"QuiFil-HOST.ini"_s), "x"));
    QVERIFY(QDir(dir.path()).mkdir(u"QuiURL-FOLDER.dab"_s));
    QVERIFY(QFile::link(dir.filePath(copy), dir.filePath(u"QuiURL-LINK.dab"_s)));
    QVERIFY(QFile::link(dir.filePath(u"gone"_s), dir.filePath(u"QuiURL-NOWHERE.dab"_s)));

    QStringList names;
    for (const auto& found : ConflictCopies::find(dir.path()))
        names << found.name;
    QCOMPARE(names, (QStringList{u"QuiFil-HOST.ini"_s, u"QuiURL-LINK.dab"_s, copy}));

    QVERIFY(TestData::writeFile(dir.filePath(u"QuiFil.sync-conflict-20261211-055826-ZI5QJTT.ini"_s),
                                "x"));
    QCOMPARE(
        ConflictCopies::companionMasterPasswordFile(dir.path(), *ConflictCopies::recognise(copy)),
        dir.filePath(u"QuiFil.sync-conflict-20261211-055826-ZI5QJTT.ini"_s));
    QCOMPARE(ConflictCopies::companionMasterPasswordFile(
                 dir.path(), *ConflictCopies::recognise(u"QuiURL-LINK.dab"_s)),
             QString());
}

// A copy merged before is never replaced by the next one of the same name.
void TestConflictCopies::putAsideKeepsEveryCopy()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString name = u"QuiURL-HOST.dab"_s;
    QStringList moved;
    for (const char* content : {"first", "second", "third"}) {
        QVERIFY(TestData::writeFile(dir.filePath(name), content));
        QString to;
        const SaveResult result = ConflictCopies::putAside(dir.path(), name, to);
        QVERIFY2(result.ok(), qPrintable(result.error()));
        QVERIFY(!QFileInfo::exists(dir.filePath(name)));
        moved << to;
    }
    const QString merged = dir.filePath(u"Merged"_s);
    QCOMPARE(moved, (QStringList{merged + u"/QuiURL-HOST.dab"_s, merged + u"/QuiURL-HOST (2).dab"_s,
                                 merged + u"/QuiURL-HOST (3).dab"_s}));
    QCOMPARE(TestData::readFile(moved[0]), "first");
    QCOMPARE(TestData::readFile(moved[2]), "third");
    QCOMPARE(TestData::permissionsOf(merged), 0700);
}

void TestConflictCopies::putAsideRefusesALinkInTheWay()
{
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    QVERIFY(dir.isValid() && elsewhere.isValid());
    QVERIFY(QFile::link(elsewhere.path(), dir.filePath(u"Merged"_s)));
    QVERIFY(TestData::writeFile(dir.filePath(u"QuiURL-HOST.dab"_s), "x"));
    QString to;
    const SaveResult result = ConflictCopies::putAside(dir.path(), u"QuiURL-HOST.dab"_s, to);
    QVERIFY(!result.made());
    QVERIFY2(result.error().contains(u"not a folder"_s), qPrintable(result.error()));
    QVERIFY(QFileInfo::exists(dir.filePath(u"QuiURL-HOST.dab"_s)));
    QCOMPARE(TestData::entriesOf(elsewhere.path()), QStringList());
}

void TestConflictCopies::passwordJudgedOnTheWholeFile_data()
{
    QTest::addColumn<QList<TestData::Item>>("items");
    QTest::addColumn<QByteArray>("writtenUnder");
    QTest::addColumn<bool>("another");

    const QList<TestData::Item> shortItems = {
        {"T1", "U1", "u1", "x"}, {"T2", "U2", "u2", "y"}, {"T3", "U3", "", "z"}};
    const QList<TestData::Item> usual = {
        {"Example", "https://example.com/login", "alice", "s3cret"},
        {"Caf\xe9 cr\xe8me", "https://caf\xe9.example", "ren\xe9", "\xe9t\xe9"},
        {"Bank", "https://bank.example", "bob smith", "p\\w\td"}};
    // One record of the Windows program holding control characters does not turn a list.
    const QList<TestData::Item> oneOdd =
        usual + QList<TestData::Item>{{QByteArray("\x01\x02\x03", 3), "\x81\x8d", "", ""}};

    QTest::newRow("short items, ours") << shortItems << TestData::kPassword << false;
    QTest::newRow("short items, another") << shortItems << QByteArray("Kiwi") << true;
    QTest::newRow("usual, ours") << usual << TestData::kPassword << false;
    QTest::newRow("usual, another") << usual << QByteArray("Kiwi") << true;
    QTest::newRow("one odd record, ours") << oneOdd << TestData::kPassword << false;
    QTest::newRow("empty") << QList<TestData::Item>{} << QByteArray("Kiwi") << false;
}

void TestConflictCopies::passwordJudgedOnTheWholeFile()
{
    QFETCH(QList<TestData::Item>, items);
    QFETCH(QByteArray, writtenUnder);
    QFETCH(bool, another);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(u"QuiURL-HOST.dab"_s);
    QVERIFY(TestData::writeFile(path, TestData::linkFile(items, writtenUnder)));
    CipherService cipher;
    const LinkFileRead read = readLinkFile(path, TestData::kPassword, cipher, EmptyLinkFile::Keep);
    QVERIFY2(read.ok(), qPrintable(read.failure));
    QCOMPARE(Merge::readUnderAnotherPassword(read.entries, TestData::kPassword, cipher), another);
}

QTEST_GUILESS_MAIN(TestConflictCopies)
#include "tst_conflictcopies.moc"
