// The window follows its data files when another program changes them: a sync program bringing
// another machine's list by rename, the Windows program writing records in place.

#include "OffscreenWarnings.h"
#include "TestData.h"
#include "WindowFixture.h"
#include "store/FileIdentity.h"
#include "store/LinkFile.h"
#include "ui/entry/EnterItemsWindow.h"
#include "ui/main/EntryListView.h"
#include "ui/main/MainMenus.h"
#include "ui/main/PairWatch.h"

#include <QItemSelectionModel>
#include <QLabel>
#include <QScrollBar>
#include <QSignalSpy>

#include <memory>

using namespace Qt::StringLiterals;
using TestData::kPassword;

namespace {

const QString kChangedOnDisk =
    u"\r\n\r\n\r\n   Nothing Was Saved\r\nThe List Was Changed On Disk By Another \r\nProgram, "
    u"And Has Been Loaded Again.\r\nRepeat Your Change On The List \r\nAs It Is Now.\r\n"_s;
const QString kLockedPasswordChanged =
    u"\r\n\r\n\r\nThe Password File Was Changed On Disk By \r\nAnother Program, And Your "
    u"Password \r\nNo Longer Opens It, So The Window Is Locked.\r\nEnter The Password Now In "
    u"Effect.\r\n"_s;

QList<TestData::Item> items(int count)
{
    QList<TestData::Item> list;
    for (int i = 1; i <= count; ++i) {
        const QByteArray n = QByteArray::number(i);
        list.append({"T" + n, "https://" + n + ".example", "user" + n, "secret " + n});
    }
    return list;
}

// The other machine's list: entry 3 changed, a new entry in front of the rest, so that every
// old entry is one row further down.
QList<TestData::Item> changedElsewhere(QList<TestData::Item> list)
{
    list[2].title = "X3";
    list.prepend({"New", "https://new.example", "other", "elsewhere"});
    return list;
}

enum class Way { Rename, InPlace, Append };

// As the other program writes it. A write in place is given a later modification time: the
// other machine's write comes seconds after ours, where the clock's tick would tell them apart.
[[nodiscard]] bool writeOutside(const QString& path, const QByteArray& bytes, Way way)
{
    if (way == Way::Rename) {
        const QString incoming = path + u".incoming"_s;
        return TestData::writeFile(incoming, bytes) &&
               ::rename(QFile::encodeName(incoming), QFile::encodeName(path)) == 0;
    }
    const QDateTime later = QFileInfo(path).lastModified().addSecs(2);
    QFile file(path);
    if (!file.open(way == Way::Append ? QIODevice::Append : QIODevice::ReadWrite))
        return false;
    if (file.write(bytes) != bytes.size())
        return false;
    file.close();
    return file.open(QIODevice::ReadWrite) &&
           file.setFileTime(later, QFileDevice::FileModificationTime);
}

} // namespace

class TestFollowFile : public QObject, private WindowFixture {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void reloadsOutsideChange_data();
    void reloadsOutsideChange();
    void ownWriteIsNoOutsideChange_data();
    void ownWriteIsNoOutsideChange();
    void enterItemsKeepsWhatWasTyped();
    void passwordChangedOutsideLocks();
    void lockedWindowOnlyNotes();
    void staleWriteRefused_data();
    void staleWriteRefused();
    void passwordChangeAfterOutsideChangeRefused_data();
    void passwordChangeAfterOutsideChangeRefused();
    void conflictCopyIsAnnounced();
    void garbageFromOutsideIsSaid();

private:
    [[nodiscard]] bool openUnlocked(const QList<TestData::Item>& list);
    EntryListView* list() const { return m_window->findChild<EntryListView*>(u"ListView1"_s); }
    QLabel* note() const { return m_window->findChild<QLabel*>(u"DiskChangeNote"_s); }
    QStringList titlesShown() const;
    // Runs the event loop until the watch has settled on a pair; whether it was another's.
    [[nodiscard]] std::optional<bool> waitForSettled();
    QLineEdit* enterBox(const char* name) const
    {
        return m_window->enterItemsWindow()->findChild<QLineEdit*>(QString::fromLatin1(name));
    }
};

void TestFollowFile::initTestCase()
{
    keepRunningWithoutWindows();
    dropOffscreenPlatformWarnings();
}

void TestFollowFile::init()
{
    QTest::failOnWarning(QRegularExpression(u".*"_s));
    setUpFixture();
}

void TestFollowFile::cleanup()
{
    tearDownFixture();
}

bool TestFollowFile::openUnlocked(const QList<TestData::Item>& list)
{
    writeLinks(list);
    if (!openMainWindow() || !unlock())
        return false;
    m_window->pairWatch().setSettleInterval(0);
    return true;
}

QStringList TestFollowFile::titlesShown() const
{
    QStringList titles;
    for (int row = 0; row < m_window->model().rowCount(); ++row)
        titles << m_window->model().index(row, 0).data().toString();
    return titles;
}

std::optional<bool> TestFollowFile::waitForSettled()
{
    QSignalSpy settled(&m_window->pairWatch(), &PairWatch::settled);
    if (!settled.wait(20000))
        return std::nullopt;
    return settled.first().first().toBool();
}

void TestFollowFile::reloadsOutsideChange_data()
{
    QTest::addColumn<int>("way");
    QTest::addColumn<bool>("linked");
    QTest::newRow("replaced by rename") << int(Way::Rename) << false;
    QTest::newRow("written in place") << int(Way::InPlace) << false;
    // The link file kept in a synchronised folder elsewhere, a link to it in the data directory.
    QTest::newRow("link's target replaced by rename") << int(Way::Rename) << true;
    QTest::newRow("link's target written in place") << int(Way::InPlace) << true;
}

void TestFollowFile::reloadsOutsideChange()
{
    QFETCH(int, way);
    QFETCH(bool, linked);
    QTemporaryDir synced;
    QVERIFY(synced.isValid());
    const QString target = synced.filePath(u"QuiURL.dab"_s);
    if (linked)
        QVERIFY(QFile::link(target, m_state->paths.linkFilePath));
    const QList<TestData::Item> before = items(60);
    QVERIFY(openUnlocked(before));
    m_window->selectRow(30);
    QScrollBar* scroll = list()->verticalScrollBar();
    QVERIFY(scroll->maximum() > 0);
    scroll->setValue(scroll->maximum() / 2);
    const int top = scroll->value();
    QVERIFY(top > 0);
    QVERIFY(note()->isHidden());

    const QList<TestData::Item> after = changedElsewhere(before);
    QVERIFY(writeOutside(linked ? target : m_state->paths.linkFilePath,
                         TestData::linkFile(after, kPassword), Way(way)));
    QCOMPARE(waitForSettled(), std::optional<bool>(true));

    QCOMPARE(m_window->model().rowCount(), 61);
    QCOMPARE(titlesShown().mid(0, 4), QStringList({u"New"_s, u"T1"_s, u"T2"_s, u"X3"_s}));
    // The entry chosen is T31, now a row further down.
    QCOMPARE(m_window->currentRow(), 31);
    QCOMPARE(m_window->model().index(31, 0).data().toString(), u"T31"_s);
    QCOMPARE(scroll->value(), top);
    QVERIFY(note()->isVisible());
    QVERIFY(!note()->accessibleName().isEmpty());
    // Under the list, not over it.
    QVERIFY(note()->geometry().top() > list()->geometry().bottom());
    QVERIFY(m_window->rect().contains(note()->geometry()));
    QVERIFY(m_answers->shown().isEmpty());

    // The next thing the user does takes the note away.
    QTest::keyClick(list(), Qt::Key_Down);
    QVERIFY(note()->isHidden());
}

void TestFollowFile::ownWriteIsNoOutsideChange_data()
{
    QTest::addColumn<QString>("action");
    QTest::newRow("move to top") << u"mnu1ToTop"_s;
    QTest::newRow("delete") << u"mnu1DelURLFromList"_s;
}

void TestFollowFile::ownWriteIsNoOutsideChange()
{
    QFETCH(QString, action);
    QVERIFY(openUnlocked(items(5)));
    m_state->settings.messageSuppression[6] = u'1'; // no question before the delete
    m_window->selectRow(2);
    const QStringList titlesBefore = titlesShown();
    m_window->menus().action(action.toLatin1().constData())->trigger();
    const QStringList titlesAfter = titlesShown();
    QVERIFY(titlesAfter != titlesBefore);
    const int rowAfter = m_window->currentRow();

    QCOMPARE(waitForSettled(), std::optional<bool>(false));
    QVERIFY(note()->isHidden());
    QCOMPARE(titlesShown(), titlesAfter);
    QCOMPARE(m_window->currentRow(), rowAfter);
    QVERIFY(m_answers->shown().isEmpty());
}

void TestFollowFile::enterItemsKeepsWhatWasTyped()
{
    QVERIFY(openUnlocked(items(5)));
    m_window->openEnterItemsWindow();
    QVERIFY(m_window->enterItemsWindow());
    const QStringList typed = {u"Half typed"_s, u"me"_s, u"not yet"_s, u"https://half"_s};
    const char* boxes[] = {"Text1", "Text2", "Text3", "Text5"};
    for (int i = 0; i < 4; ++i)
        enterBox(boxes[i])->setText(typed[i]);

    QVERIFY(writeOutside(m_state->paths.linkFilePath,
                         TestData::linkFile(changedElsewhere(items(5)), kPassword), Way::Rename));
    QCOMPARE(waitForSettled(), std::optional<bool>(true));

    QCOMPARE(titlesShown(), QStringList({u"New"_s, u"T1"_s, u"T2"_s, u"X3"_s, u"T4"_s, u"T5"_s}));
    QVERIFY(m_window->enterItemsWindow());
    for (int i = 0; i < 4; ++i)
        QCOMPARE(enterBox(boxes[i])->text(), typed[i]);
}

void TestFollowFile::passwordChangedOutsideLocks()
{
    QVERIFY(openUnlocked(items(5)));
    const QByteArray other = QByteArrayLiteral("Tangerine");
    QVERIFY(writeOutside(m_state->paths.linkFilePath, TestData::linkFile(items(3), other),
                         Way::Rename));
    QVERIFY(writeOutside(m_state->paths.masterPasswordPath, TestData::masterPasswordRecord(other),
                         Way::Rename));
    QCOMPARE(waitForSettled(), std::optional<bool>(true));

    QVERIFY(!m_window->isUnlocked());
    QCOMPARE(m_window->model().rowCount(), 0);
    QVERIFY(m_state->masterPassword.isEmpty());
    QCOMPARE(m_answers->texts(), QStringList{kLockedPasswordChanged});
    QVERIFY(note()->isHidden());

    // The password now in effect opens the other machine's list.
    typeAndEnter(QString::fromLatin1(other));
    QVERIFY(m_window->isUnlocked());
    QCOMPARE(titlesShown(), QStringList({u"T1"_s, u"T2"_s, u"T3"_s}));
}

void TestFollowFile::lockedWindowOnlyNotes()
{
    writeLinks(items(2));
    QVERIFY(openMainWindow());
    m_window->pairWatch().setSettleInterval(0);
    QVERIFY(writeOutside(m_state->paths.linkFilePath, TestData::linkFile(items(4), kPassword),
                         Way::Rename));
    QCOMPARE(waitForSettled(), std::optional<bool>(true));
    QVERIFY(!m_window->isUnlocked());
    QVERIFY(m_answers->shown().isEmpty());
    QVERIFY(unlock());
    QCOMPARE(m_window->model().rowCount(), 4);
}

// Each row: how the other program wrote, what it wrote, the command tried before the watch has
// brought the change in, and whether the change came only after the window's own look, just
// before the store's write.
void TestFollowFile::staleWriteRefused_data()
{
    QTest::addColumn<int>("way");
    QTest::addColumn<QList<TestData::Item>>("outside");
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("late");

    const QList<TestData::Item> inPlace = [] {
        QList<TestData::Item> list = items(5);
        list[2].title = "X3";
        return list;
    }();
    const QList<TestData::Item> grown = items(7);
    for (const bool late : {false, true}) {
        const char* when = late ? ", after the window's look" : "";
        QTest::addRow("in place, move up%s", when)
            << int(Way::InPlace) << inPlace << u"mnu1MoveUp"_s << late;
        QTest::addRow("in place, delete%s", when)
            << int(Way::InPlace) << inPlace << u"mnu1DelURLFromList"_s << late;
        QTest::addRow("in place, replace%s", when)
            << int(Way::InPlace) << inPlace << u"replace"_s << late;
        QTest::addRow("renamed, add%s", when)
            << int(Way::Rename) << changedElsewhere(items(5)) << u"add"_s << late;
        QTest::addRow("renamed, delete%s", when)
            << int(Way::Rename) << changedElsewhere(items(5)) << u"mnu1DelURLFromList"_s << late;
        // Records appended on the other machine: longer than the list, and nothing is damaged.
        QTest::addRow("appended, move to bottom%s", when)
            << int(Way::Append) << grown << u"mnu1ToBot"_s << late;
        QTest::addRow("appended, add%s", when) << int(Way::Append) << grown << u"add"_s << late;
    }
    QTest::newRow("renamed, back-up")
        << int(Way::Rename) << changedElsewhere(items(5)) << u"mnu1BUfiles"_s << false;
}

void TestFollowFile::staleWriteRefused()
{
    QFETCH(int, way);
    QFETCH(QList<TestData::Item>, outside);
    QFETCH(QString, command);
    QFETCH(bool, late);
    QTemporaryDir backUp;
    QVERIFY(backUp.isValid());
    m_state->settings.backupDirectory = backUp.path();
    // The questions before a back-up, a delete, an add and a replace switched off: the refusal
    // is the only message.
    for (const int number : {1, 7, 8, 9})
        m_state->settings.messageSuppression[number - 1] = u'1';
    QVERIFY(openUnlocked(items(5)));
    m_window->selectRow(1);
    if (command == u"add"_s || command == u"replace"_s) {
        m_window->openEnterItemsWindow();
        enterBox("Text1")->setText(u"Mine"_s);
        enterBox("Text5")->setText(u"https://mine.example"_s);
    }

    const QByteArray bytes = TestData::linkFile(outside, kPassword);
    const QString linkFile = m_state->paths.linkFilePath;
    const QByteArray written = way == int(Way::Append) ? bytes.mid(5 * kLinkRecordSize) : bytes;
    const auto changedLate = std::make_shared<bool>(false);
    if (late) {
        // The window has looked and found its pair; the change comes before the store writes.
        m_window->setBeforeWriteForTest([=] {
            if (!*changedLate)
                *changedLate = writeOutside(linkFile, written, Way(way));
        });
    } else {
        QVERIFY(writeOutside(linkFile, written, Way(way)));
    }
    const QByteArray passwordFile = TestData::readFile(m_state->paths.masterPasswordPath);

    // No event loop has run: the watch has not seen the change, the command must.
    if (command == u"add"_s)
        m_window->enterItemsWindow()->findChild<QPushButton*>(u"Command1"_s)->click();
    else if (command == u"replace"_s)
        m_window->enterItemsWindow()->findChild<QPushButton*>(u"Command2"_s)->click();
    else
        m_window->menus().action(command.toLatin1().constData())->trigger();

    QCOMPARE(*changedLate, late);
    const QByteArray onDisk = TestData::readFile(m_state->paths.linkFilePath);
    QCOMPARE(m_answers->texts(), QStringList{kChangedOnDisk});
    QCOMPARE(onDisk, bytes);
    QCOMPARE(TestData::readFile(m_state->paths.masterPasswordPath), passwordFile);
    QCOMPARE(TestData::entriesOf(backUp.path()), QStringList());
    QStringList titles;
    for (const TestData::Item& item : outside)
        titles << QString::fromLatin1(item.title);
    QCOMPARE(titlesShown(), titles);
    // The entry chosen, T2, is still chosen in the list as it now is.
    QCOMPARE(m_window->model().index(m_window->currentRow(), 0).data().toString(), u"T2"_s);
    // The Enter Items window stays open with what was typed, for the command to be repeated.
    if (command == u"add"_s || command == u"replace"_s) {
        QVERIFY(m_window->enterItemsWindow() && m_window->enterItemsWindow()->isVisible());
        QCOMPARE(enterBox("Text1")->text(), u"Mine"_s);
    }

    // Repeated on the list as it now is, the command goes through.
    m_window->menus().action("mnu1ToBot")->trigger();
    QCOMPARE(TestData::readFile(m_state->paths.linkFilePath).size(), onDisk.size());
    QCOMPARE(titlesShown().last(), u"T2"_s);
}

void TestFollowFile::passwordChangeAfterOutsideChangeRefused_data()
{
    QTest::addColumn<bool>("late");
    QTest::newRow("before the new password is typed") << false;
    QTest::newRow("after the window's look") << true;
}

void TestFollowFile::passwordChangeAfterOutsideChangeRefused()
{
    QFETCH(bool, late);
    writeLinks(items(3));
    QVERIFY(openMainWindow());
    auto* changeButton = m_window->findChild<QPushButton*>(u"Command4"_s);
    m_window->findChild<QLineEdit*>(u"Text4"_s)->setText(QString::fromLatin1(kPassword));
    changeButton->click(); // the current password proved

    const QString linkFile = m_state->paths.linkFilePath;
    const QByteArray other = TestData::linkFile(items(4), kPassword);
    const auto changedLate = std::make_shared<bool>(false);
    if (late) {
        m_window->setBeforeWriteForTest([=] {
            if (!*changedLate)
                *changedLate = writeOutside(linkFile, other, Way::Rename);
        });
    } else {
        QVERIFY(writeOutside(linkFile, other, Way::Rename));
    }
    const QByteArray passwordFile = TestData::readFile(m_state->paths.masterPasswordPath);
    m_window->findChild<QLineEdit*>(u"Text4"_s)->setText(u"Brand new"_s);
    changeButton->click();

    QCOMPARE(*changedLate, late);
    const QByteArray links = TestData::readFile(m_state->paths.linkFilePath);
    QCOMPARE(links, other);

    QCOMPARE(m_answers->texts().size(), 2);
    QVERIFY(m_answers->texts().last().contains(u"Changed On Disk"_s));
    QCOMPARE(TestData::readFile(m_state->paths.linkFilePath), links);
    QCOMPARE(TestData::readFile(m_state->paths.masterPasswordPath), passwordFile);
    QVERIFY(!m_window->isUnlocked());
    // The old password still opens the list, with the other machine's entry in it.
    QVERIFY(unlock());
    QCOMPARE(m_window->model().rowCount(), 4);
}

void TestFollowFile::conflictCopyIsAnnounced()
{
    QVERIFY(openUnlocked(items(2)));
    QSignalSpy announced(m_window.get(), &MainWindow::dataDirectoryChanged);
    QVERIFY(writeOutside(m_dir->filePath(u"QuiURL.sync-conflict-20261211-055826-ZI5QJTT.dab"_s),
                         TestData::linkFile(items(3), kPassword), Way::Rename));
    QCOMPARE(waitForSettled(), std::optional<bool>(false));
    QCOMPARE(announced.size(), 1);
    // Offered at once (declined: the safe answer), and not again at the next change.
    QCOMPARE(m_answers->texts().size(), 1);
    QVERIFY(m_answers->texts().front().contains(
        u"QuiURL.sync-conflict-20261211-055826-ZI5QJTT.dab"_s));
    QVERIFY(writeOutside(m_dir->filePath(u"unrelated.txt"_s), "x", Way::Rename));
    QCOMPARE(waitForSettled(), std::optional<bool>(false));
    QCOMPARE(announced.size(), 2);
    QCOMPARE(m_answers->texts().size(), 1);
    // The list itself did not change.
    QVERIFY(note()->isHidden());
    QCOMPARE(m_window->model().rowCount(), 2);
}

void TestFollowFile::garbageFromOutsideIsSaid()
{
    QVERIFY(openUnlocked(items(3)));
    QByteArray bytes = TestData::linkFile(items(4), kPassword);
    bytes[1 * kLinkRecordSize + 1] = 'x'; // record 2 cannot be read
    QVERIFY(writeOutside(m_state->paths.linkFilePath, bytes, Way::Rename));
    QCOMPARE(waitForSettled(), std::optional<bool>(true));
    QCOMPARE(m_answers->texts(), QStringList{kLoadListsFailedMessage});
    QCOMPARE(titlesShown(), QStringList{u"T1"_s});

    // The list holds less than the file: a write from it would lose the records after the
    // damaged one, and is refused as before.
    m_state->settings.messageSuppression[6] = u'1';
    m_window->selectRow(0);
    m_window->menus().action("mnu1DelURLFromList")->trigger();
    QCOMPARE(m_answers->texts().size(), 2);
    QVERIFY(m_answers->texts().last().contains(u"A Record Of The Links File Is Damaged"_s));
    QCOMPARE(TestData::readFile(m_state->paths.linkFilePath), bytes);
}

QTEST_MAIN(TestFollowFile)
#include "tst_followfile.moc"
