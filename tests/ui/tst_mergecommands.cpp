// Another version of the list merged from the real main window: the conflict copy offered at
// unlock, and any link file through the application menu, on real data files read back.

#include "OffscreenWarnings.h"
#include "TestData.h"
#include "WindowFixture.h"
#include "store/LinkRecord.h"
#include "ui/main/MainMenus.h"
#include "ui/main/MergeCommands.h"

#include <memory>

using namespace Qt::StringLiterals;
using TestData::Item;
using TestData::kPassword;

namespace {

const QString kCopy = u"QuiURL.sync-conflict-20261211-055826-ZI5QJTT.dab"_s;
const QString kOffer = u"\r\n\r\n\r\nYour Sync Program Kept Another Version\r\nOf Your Links "
                       u"List:\r\n"_s +
                       kCopy + u"\r\nDo You Want To Merge Its Entries Into Your List?\r\n"_s;
const QString kWrongPassword = u"\r\n\r\n\r\nThat Password Does Not Open\r\nThe Other Version. "
                               u"Nothing Was Merged.\r\n"_s;
const QString kDeletedComeBack = u"A Merge Can Not Know Which Entries The Other\r\nMachine "
                                 u"Deleted: They Are Back In Your List.\r\n"_s;

const QList<Item> kOurs = {{"Mail", "https://mail.example", "ann", "one"},
                           {"Bank", "https://bank.example", "ann", "two"}};
const QList<Item> kTheirs = {{"Mail", "https://mail.example", "ann", "one"},
                             {"Bank", "https://bank.example", "ann", "changed"},
                             {"Shop", "https://shop.example", "bo", "three"}};

const QString kChangedOnDisk =
    u"\r\n\r\n\r\n   Nothing Was Saved\r\nThe List Was Changed On Disk By Another \r\nProgram, "
    u"And Has Been Loaded Again.\r\nRepeat Your Change On The List \r\nAs It Is Now.\r\n"_s;

QString merged(int added, int identical, int beside, const QString& aside)
{
    return u"\r\n\r\n\r\nMerge Done: %1 Added, %2 Already In Your List,\r\n%3 Added Beside An "
           u"Entry With The Same\r\nTitle And Address But Another Username Or Password.\r\n"_s
               .arg(added)
               .arg(identical)
               .arg(beside) +
           (aside.isEmpty() ? QString()
                            : u"The Other Version Was Moved To\r\n%1\r\n(Move It Back To "
                              u"Restore It.)\r\n"_s.arg(aside)) +
           kDeletedComeBack;
}

QStringList titles(const QList<Item>& items)
{
    QStringList list;
    for (const Item& item : items)
        list << QString::fromLatin1(item.title);
    return list;
}

constexpr qint16 kYes = MessageAnswer::Yes;
constexpr qint16 kNo = MessageAnswer::No;

} // namespace

class TestMergeCommands : public QObject, private WindowFixture {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void offerAtUnlock_data();
    void offerAtUnlock();
    void noCopyNoQuestion();
    void menuMerge_data();
    void menuMerge();
    void changeJustBeforeTheWriteIsKept();

private:
    QStringList titlesShown() const;
    QString copyPath() const { return m_state->paths.dataDirectory + u'/' + kCopy; }
};

void TestMergeCommands::initTestCase()
{
    keepRunningWithoutWindows();
    dropOffscreenPlatformWarnings();
}

void TestMergeCommands::init()
{
    QTest::failOnWarning(QRegularExpression(u".*"_s));
    setUpFixture();
}

void TestMergeCommands::cleanup()
{
    tearDownFixture();
}

QStringList TestMergeCommands::titlesShown() const
{
    QStringList shown;
    for (int row = 0; row < m_window->model().rowCount(); ++row)
        shown << m_window->model().index(row, 0).data().toString();
    return shown;
}

void TestMergeCommands::offerAtUnlock_data()
{
    QTest::addColumn<qint16>("answer");
    QTest::newRow("yes") << kYes;
    QTest::newRow("no") << kNo;
}

// The question comes at unlock; a yes merges and reloads the list and puts the copy aside, a no
// changes nothing and is not asked again while the window is open.
void TestMergeCommands::offerAtUnlock()
{
    QFETCH(qint16, answer);
    writeLinks(kOurs);
    QVERIFY(TestData::writeFile(copyPath(), TestData::linkFile(kTheirs, kPassword)));
    const QByteArray ours = TestData::readFile(m_state->paths.linkFilePath);
    const QByteArray theirs = TestData::readFile(copyPath());
    m_answers->queue(answer);
    QVERIFY(openMainWindow());
    QVERIFY(unlock());

    const QString aside = m_state->paths.dataDirectory + u"/Merged/"_s + kCopy;
    if (answer == kYes) {
        QCOMPARE(m_answers->texts(), (QStringList{kOffer, merged(1, 1, 1, aside)}));
        QCOMPARE(titlesShown(), (titles(kOurs) + QStringList{u"Bank"_s, u"Shop"_s}));
        QCOMPARE(TestData::readFile(aside), theirs);
        QVERIFY(!QFileInfo::exists(copyPath()));
        QCOMPARE(TestData::readFile(m_state->paths.linkFilePath).size(), 4 * kLinkRecordSize);
        return;
    }
    QCOMPARE(m_answers->texts(), QStringList{kOffer});
    QCOMPARE(titlesShown(), titles(kOurs));
    QCOMPARE(TestData::readFile(m_state->paths.linkFilePath), ours);
    QCOMPARE(TestData::readFile(copyPath()), theirs);
    m_window->offerConflictCopies();
    QCOMPARE(m_answers->texts(), QStringList{kOffer});
}

void TestMergeCommands::noCopyNoQuestion()
{
    writeLinks(kOurs);
    QVERIFY(TestData::writeFile(m_state->paths.dataDirectory + u"/temQuiURL.dab"_s, "x"));
    QVERIFY(openMainWindow());
    QVERIFY(unlock());
    m_window->offerConflictCopies();
    QCOMPARE(m_answers->texts(), QStringList());
}

void TestMergeCommands::menuMerge_data()
{
    QTest::addColumn<bool>("chosen");
    QTest::addColumn<std::optional<QString>>("typed"); // the other list's password, when asked
    QTest::addColumn<QStringList>("said");
    QTest::addColumn<QStringList>("after");

    const QStringList unchanged = titles(kOurs);
    QTest::newRow("right password")
        << true << std::optional<QString>(u"  Kiwi 2 "_s) << QStringList{merged(1, 1, 1, {})}
        << unchanged + QStringList{u"Bank"_s, u"Shop"_s};
    QTest::newRow("wrong password")
        << true << std::optional<QString>(u"Kiwi"_s) << QStringList{kWrongPassword} << unchanged;
    QTest::newRow("password cancelled")
        << true << std::optional<QString>() << QStringList() << unchanged;
    QTest::newRow("no file chosen")
        << false << std::optional<QString>() << QStringList() << unchanged;
}

// Another folder's pair under another master password: the chooser starts in the data
// directory, the password is asked for, and nothing changes unless it opens the other list.
void TestMergeCommands::menuMerge()
{
    QFETCH(bool, chosen);
    QFETCH(std::optional<QString>, typed);
    QFETCH(QStringList, said);
    QFETCH(QStringList, after);

    QTemporaryDir other;
    QVERIFY(other.isValid());
    QVERIFY(TestData::writeFile(other.filePath(u"QuiFil.ini"_s),
                                TestData::masterPasswordRecord("Kiwi 2")));
    QVERIFY(TestData::writeFile(other.filePath(u"QuiURL.dab"_s),
                                TestData::linkFile(kTheirs, "Kiwi 2")));
    writeLinks(kOurs);
    const QByteArray ours = TestData::readFile(m_state->paths.linkFilePath);
    QVERIFY(openMainWindow());
    QVERIFY(unlock());

    QString startedIn;
    int asked = 0;
    m_window->mergeCommands().setFileChooser(
        [&](QWidget*, const QString& start) -> std::optional<QString> {
            startedIn = start;
            if (!chosen)
                return std::nullopt;
            return other.filePath(u"QuiURL.dab"_s);
        });
    m_window->mergeCommands().setPasswordAsker(
        [&](QWidget*, const QString&) -> std::optional<QString> {
            ++asked;
            return typed;
        });
    m_window->menus().action("mnu1Merge")->trigger();

    QCOMPARE(startedIn, m_state->paths.dataDirectory);
    QCOMPARE(asked, chosen ? 1 : 0);
    QCOMPARE(m_answers->texts(), said);
    QCOMPARE(titlesShown(), after);
    if (after == titles(kOurs))
        QCOMPARE(TestData::readFile(m_state->paths.linkFilePath), ours);
    // The other folder is no conflict copy: it stays where it is.
    QCOMPARE(TestData::entriesOf(other.path()), (QStringList{u"QuiFil.ini"_s, u"QuiURL.dab"_s}));
    QCOMPARE(TestData::entriesOf(m_state->paths.dataDirectory),
             (QStringList{u"QuiFil.ini"_s, u"QuiURL.dab"_s}));
}

// Another program writes our list after the merge has read it and just before the pair is
// switched: the merge writes nothing over it, the list shows it, and the copy stays to be offered.
void TestMergeCommands::changeJustBeforeTheWriteIsKept()
{
    writeLinks(kOurs);
    QVERIFY(TestData::writeFile(copyPath(), TestData::linkFile(kTheirs, kPassword)));
    const QByteArray theirs = TestData::readFile(copyPath());
    const QList<Item> elsewhere = kOurs + QList<Item>{{"Club", "https://club.example", "cy", "4"}};
    const QByteArray changed = TestData::linkFile(elsewhere, kPassword);
    const QString linkFile = m_state->paths.linkFilePath;
    QVERIFY(openMainWindow());
    const auto written = std::make_shared<bool>(false);
    m_window->setBeforeWriteForTest([=] {
        if (*written)
            return;
        const QString incoming = linkFile + u".incoming"_s;
        *written = TestData::writeFile(incoming, changed) &&
                   ::rename(QFile::encodeName(incoming), QFile::encodeName(linkFile)) == 0;
    });
    m_answers->queue(kYes);
    QVERIFY(unlock());

    QVERIFY(*written);
    QCOMPARE(m_answers->texts(), (QStringList{kOffer, kChangedOnDisk}));
    QCOMPARE(TestData::readFile(linkFile), changed);
    QCOMPARE(titlesShown(), titles(elsewhere));
    QCOMPARE(TestData::readFile(copyPath()), theirs);
    QCOMPARE(TestData::entriesOf(m_state->paths.dataDirectory),
             (QStringList{u"QuiFil.ini"_s, u"QuiURL.dab"_s, kCopy}));
}

QTEST_MAIN(TestMergeCommands)
#include "tst_mergecommands.moc"
