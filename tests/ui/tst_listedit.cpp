// Moves, deletes, Change Password and Delete Password && Files in the real main window.

#include "FileSizeLimit.h"
#include "OffscreenWarnings.h"
#include "TestData.h"
#include "WindowFixture.h"
#include "startup/OleDate.h"
#include "store/LinkFile.h"
#include "store/PairFiles.h"
#include "ui/main/EntryListView.h"
#include "ui/main/MainMenus.h"
#include "ui/main/PasswordCommands.h"

#include <QItemSelectionModel>
#include <QProcess>

using namespace Qt::StringLiterals;
using TestData::kPassword;

namespace {

const QByteArray kNewPassword = QByteArrayLiteral("Gr\xe9pefruit 2");
const QString kCli = QStringLiteral(QUILLOR_BUILD_DIR "/quillor-cli");

const QString kSaveFailed = u"\r\n\r\n\r\n   Error, Unable To Save Change\r\n(move item).\r\n"_s;
const QString kDeleteQuestion =
    u"\r\n\r\n\r\nDo You Want To Delete The Selected \r\nAddress Items From The List?\r\n"_s;
const QString kTypeNew =
    u"\r\n\r\n\r\nType-In Your New Password.  Then Click The -Change Password- Button, Again"_s;
const QString kInEffect = u"\r\n\r\n\r\nYour New Password Is Now In Effect"_s;
const QString kApplyToBackUp = u"\r\n\r\n\r\nYou Have Back-Up Files Encrypted With \r\nThe Old "
                               u"Password.  Do You Want To Apply \r\nThe New Passwod To Them?"_s;
const QString kApplied =
    u"\r\n\r\n\r\nYour New Password Has Been Applied \r\nTo Your Back-Up Files."_s;
const QString kNotApplied =
    u"\r\n\r\n\r\nYour New Password Could Not Be Applied \r\nTo Your Back-Up Files."_s;

QList<TestData::Item> items(int count)
{
    QList<TestData::Item> list;
    for (int i = 1; i <= count; ++i) {
        const QByteArray n = QByteArray::number(i);
        list.append({"Page " + n, "https://" + n + ".example", "user" + n, "secret " + n});
    }
    return list;
}

QList<TestData::Item> inOrder(const QList<TestData::Item>& all, const QList<int>& numbers)
{
    QList<TestData::Item> list;
    for (int n : numbers)
        list << all[n - 1];
    return list;
}

// What quillor-cli prints for a data directory and a password; empty when it refuses.
QByteArray listedByCli(const QString& dataDirectory, const QByteArray& password)
{
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"LC_ALL"_s, u"C.UTF-8"_s);
    cli.setProcessEnvironment(env);
    cli.start(kCli, {u"--data-dir"_s, dataDirectory, u"list"_s, u"--format"_s, u"tsv"_s,
                     u"--show-passwords"_s});
    // The terminal would take UTF-8, as the locale says.
    cli.write(QString::fromLatin1(password).toUtf8() + '\n');
    cli.closeWriteChannel();
    if (!cli.waitForFinished(30000) || cli.exitCode() != 0)
        return {};
    return cli.readAllStandardOutput();
}

} // namespace

class TestListEdit : public QObject, private WindowFixture {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void moves_data();
    void moves();
    void deletes_data();
    void deletes();
    void hiddenUserNamesStayReal();
    void failedRewriteKeepsListAndFile();
    void damagedFileRefusesChanges();

    void changePassword_data();
    void changePassword();
    void changeCountsBadPasswordsWithUnlock();
    void enterCancelsPendingChange();
    void changeAppliesToBackUpPair_data();
    void changeAppliesToBackUpPair();
    void failedChangeKeepsTheOldPair();

    void deletePasswordAndFiles_data();
    void deletePasswordAndFiles();

private:
    [[nodiscard]] bool openUnlocked(const QList<TestData::Item>& list);
    EntryListView* list() const { return m_window->findChild<EntryListView*>(u"ListView1"_s); }
    void select(const QList<int>& rows);
    void trigger(const char* action) { m_window->menus().action(action)->trigger(); }
    void clickChangePassword(const QByteArray& typed);
    QStringList titlesShown() const;
    QString undoDirectory() const { return m_dir->filePath(u"UnDo"_s); }
};

void TestListEdit::initTestCase()
{
    keepRunningWithoutWindows();
    dropOffscreenPlatformWarnings();
}

void TestListEdit::init()
{
    QTest::failOnWarning(QRegularExpression(u".*"_s));
    setUpFixture();
}

void TestListEdit::cleanup()
{
    tearDownFixture();
}

bool TestListEdit::openUnlocked(const QList<TestData::Item>& list)
{
    if (!list.isEmpty())
        writeLinks(list);
    return openMainWindow() && unlock();
}

void TestListEdit::select(const QList<int>& rows)
{
    list()->selectionModel()->clearSelection();
    for (int row : rows) {
        list()->selectionModel()->setCurrentIndex(list()->model()->index(row, 0),
                                                  QItemSelectionModel::Select |
                                                      QItemSelectionModel::Rows);
    }
}

void TestListEdit::clickChangePassword(const QByteArray& typed)
{
    m_window->findChild<QLineEdit*>(u"Text4"_s)->setText(QString::fromLatin1(typed));
    m_window->findChild<QPushButton*>(u"Command4"_s)->click();
}

QStringList TestListEdit::titlesShown() const
{
    QStringList titles;
    for (int row = 0; row < m_window->model().rowCount(); ++row)
        titles << m_window->model().index(row, 0).data().toString();
    return titles;
}

// Each row: list size, the selected row (from 0), the command, the file order afterwards (from
// 1), the row selected afterwards.
void TestListEdit::moves_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("row");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QList<int>>("order");
    QTest::addColumn<int>("selectedAfter");
    QTest::newRow("5th of 8 to the top")
        << 8 << 4 << "mnu1ToTop"_ba << QList<int>{5, 1, 2, 3, 4, 6, 7, 8} << 0;
    QTest::newRow("2 of 5 to the bottom")
        << 5 << 1 << "mnu1ToBot"_ba << QList<int>{1, 3, 4, 5, 2} << 4;
    QTest::newRow("3 of 5 down") << 5 << 2 << "mnu1Movedown"_ba << QList<int>{1, 2, 4, 3, 5} << 3;
    QTest::newRow("2 of 3 up") << 3 << 1 << "mnu1MoveUp"_ba << QList<int>{2, 1, 3} << 0;
    QTest::newRow("first up") << 3 << 0 << "mnu1MoveUp"_ba << QList<int>{1, 2, 3} << 0;
    QTest::newRow("first to top") << 3 << 0 << "mnu1ToTop"_ba << QList<int>{1, 2, 3} << 0;
    QTest::newRow("last down") << 3 << 2 << "mnu1Movedown"_ba << QList<int>{1, 2, 3} << 2;
    QTest::newRow("last to bottom") << 3 << 2 << "mnu1ToBot"_ba << QList<int>{1, 2, 3} << 2;
    QTest::newRow("only entry") << 1 << 0 << "mnu1ToBot"_ba << QList<int>{1} << 0;
}

void TestListEdit::moves()
{
    QFETCH(int, count);
    QFETCH(int, row);
    QFETCH(QByteArray, command);
    QFETCH(QList<int>, order);
    QFETCH(int, selectedAfter);
    const QList<TestData::Item> all = items(count);
    QVERIFY(openUnlocked(all));
    const QFileInfo before(m_state->paths.linkFilePath);
    m_window->selectRow(row);
    trigger(command.constData());

    const QList<TestData::Item> expected = inOrder(all, order);
    QCOMPARE(TestData::readFile(m_state->paths.linkFilePath),
             TestData::linkFile(expected, kPassword));
    QStringList titles;
    for (const TestData::Item& i : expected)
        titles << QString::fromLatin1(i.title);
    QCOMPARE(titlesShown(), titles);
    QCOMPARE(m_window->currentRow(), selectedAfter);
    QVERIFY(m_answers->shown().isEmpty());
    // A move that changes nothing leaves the file alone.
    if (std::is_sorted(order.begin(), order.end()))
        QCOMPARE(QFileInfo(m_state->paths.linkFilePath).lastModified(), before.lastModified());
}

// Each row: list size, the rows selected, the answer to the question (0: switched off), the
// entries left.
void TestListEdit::deletes_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QList<int>>("left");
    QTest::newRow("2 and 4 of 5") << 5 << QList<int>{1, 3} << int(MessageAnswer::Yes)
                                  << QList<int>{1, 3, 5};
    QTest::newRow("answered No") << 5 << QList<int>{1, 3} << int(MessageAnswer::No)
                                 << QList<int>{1, 2, 3, 4, 5};
    QTest::newRow("question switched off") << 3 << QList<int>{0} << 0 << QList<int>{2, 3};
    QTest::newRow("every entry") << 3 << QList<int>{0, 1, 2} << int(MessageAnswer::Yes)
                                 << QList<int>{};
}

void TestListEdit::deletes()
{
    QFETCH(int, count);
    QFETCH(QList<int>, selected);
    QFETCH(int, answer);
    QFETCH(QList<int>, left);
    const QList<TestData::Item> all = items(count);
    QVERIFY(openUnlocked(all));
    if (answer == 0)
        m_state->settings.messageSuppression[6] = u'1';
    else
        m_answers->queue(qint16(answer));
    select(selected);
    trigger("mnu1DelURLFromList");

    if (answer == 0) {
        QVERIFY(m_answers->shown().isEmpty());
    } else {
        QCOMPARE(m_answers->shown().size(), 1);
        QCOMPARE(m_answers->shown().first(),
                 (ScriptedAnswers::Shown{MessageKind::YesNoSwitchable, kDeleteQuestion, 7}));
    }
    if (left.isEmpty()) {
        QVERIFY(!QFileInfo::exists(m_state->paths.linkFilePath));
    } else {
        QCOMPARE(TestData::readFile(m_state->paths.linkFilePath),
                 TestData::linkFile(inOrder(all, left), kPassword));
    }
    QCOMPARE(m_window->model().rowCount(), left.size());
    // The commands keep a selected entry to work on.
    QCOMPARE(m_window->currentRow() >= 0, !left.isEmpty());
}

void TestListEdit::hiddenUserNamesStayReal()
{
    m_state->settings.hiddenUserNames = 1;
    const QList<TestData::Item> all = items(3);
    QVERIFY(openUnlocked(all));
    m_window->selectRow(0);
    trigger("mnu1ToBot");
    QCOMPARE(m_window->model().index(2, 1).data().toString(), u"ooooooo"_s);
    QCOMPARE(TestData::readFile(m_state->paths.linkFilePath),
             TestData::linkFile(inOrder(all, {2, 3, 1}), kPassword));
}

void TestListEdit::failedRewriteKeepsListAndFile()
{
    const QList<TestData::Item> all = items(4);
    QVERIFY(openUnlocked(all));
    const QByteArray before = TestData::readFile(m_state->paths.linkFilePath);
    m_window->selectRow(3);
    m_state->settings.messageSuppression[6] = u'1';
    {
        FileSizeLimit full(kLinkRecordSize);
        QVERIFY(full.ok());
        trigger("mnu1ToTop");
        select({0, 1});
        trigger("mnu1DelURLFromList");
    }
    QCOMPARE(m_answers->texts(), QStringList({kSaveFailed, kSaveFailed}));
    QCOMPARE(TestData::readFile(m_state->paths.linkFilePath), before);
    QCOMPARE(titlesShown(), QStringList({u"Page 1"_s, u"Page 2"_s, u"Page 3"_s, u"Page 4"_s}));
}

void TestListEdit::damagedFileRefusesChanges()
{
    QByteArray bytes = TestData::linkFile(items(3), kPassword);
    bytes[2 * kLinkRecordSize + 1] = 'x'; // record 3 cannot be read
    writeLinks(bytes);
    m_answers->queue(MessageAnswer::Ok); // the load's own message
    QVERIFY(openUnlocked({}));
    QCOMPARE(m_window->model().rowCount(), 2);
    m_answers.reset();
    m_answers = std::make_unique<ScriptedAnswers>();

    m_window->selectRow(1);
    trigger("mnu1ToTop");
    select({0});
    trigger("mnu1DelURLFromList");
    QCOMPARE(m_answers->shown().size(), 2);
    for (const auto& shown : m_answers->shown())
        QVERIFY2(shown.text.contains(u"Would Delete Every Entry After It"_s),
                 qPrintable(shown.text));
    QCOMPARE(TestData::readFile(m_state->paths.linkFilePath), bytes);
    QCOMPARE(m_window->model().rowCount(), 2);

    // Change Password reads every record too, and says so before anything is written.
    m_answers.reset();
    m_answers = std::make_unique<ScriptedAnswers>();
    m_window.reset();
    QVERIFY(openMainWindow());
    clickChangePassword(kPassword);
    QCOMPARE(m_answers->shown().size(), 1);
    QVERIFY(m_answers->texts().first().contains(u"record 3"_s));
    QCOMPARE(m_window->findChild<QLineEdit*>(u"Text4"_s)->text(), QString::fromLatin1(kPassword));
}

// Each row: the new password, whether auto-enter is on, whether UnDo holds a pair.
void TestListEdit::changePassword_data()
{
    QTest::addColumn<QByteArray>("newPassword");
    QTest::addColumn<bool>("autoEnter");
    QTest::newRow("new password") << kNewPassword << false;
    QTest::newRow("empty password") << QByteArray() << false;
    QTest::newRow("auto-enter follows") << kNewPassword << true;
}

void TestListEdit::changePassword()
{
    QFETCH(QByteArray, newPassword);
    QFETCH(bool, autoEnter);
    const QList<TestData::Item> all = items(3);
    writeLinks(all);
    QVERIFY(QDir().mkpath(undoDirectory()));
    QVERIFY(TestData::writeFile(undoDirectory() + u"/QuiFil.ini"_s, "old"));
    QVERIFY(TestData::writeFile(undoDirectory() + u"/QuiURL.dab"_s, "old"));
    if (autoEnter) {
        m_state->settings.autoEnter = 1;
        m_state->settings.autoEnterPassword = u"typed by hand"_s; // not typed: the box is cleared
    }
    QVERIFY(openMainWindow());
    if (autoEnter)
        m_answers->queue(MessageAnswer::Ok); // the auto-entered password is wrong

    clickChangePassword(kPassword);
    clickChangePassword(newPassword);

    QCOMPARE(m_answers->texts().mid(autoEnter ? 1 : 0), QStringList({kTypeNew, kInEffect}));
    QVERIFY(m_window->isUnlocked());
    QCOMPARE(titlesShown(), QStringList({u"Page 1"_s, u"Page 2"_s, u"Page 3"_s}));
    QCOMPARE(TestData::readFile(m_state->paths.linkFilePath), TestData::linkFile(all, newPassword));
    QCOMPARE(TestData::readFile(m_state->paths.masterPasswordPath),
             TestData::masterPasswordRecord(newPassword));
    QVERIFY(TestData::entriesOf(undoDirectory()).isEmpty());
    QCOMPARE(m_state->settings.autoEnterPassword,
             autoEnter ? QString::fromLatin1(newPassword) : QString());

    // The command line sees the same: every entry under the new password, none under the old.
    const QByteArray listed = listedByCli(m_dir->path(), newPassword);
    QCOMPARE(listed.count('\n'), 1 + 3); // the header, then the entries
    QVERIFY(listed.contains("secret 3"));
    QVERIFY(listedByCli(m_dir->path(), kPassword).isEmpty());

    // And a restart opens with the new password only.
    m_window.reset();
    m_state->settings.autoEnter = 0;
    QVERIFY(openMainWindow());
    typeAndEnter(QString::fromLatin1(newPassword));
    QVERIFY(m_window->isUnlocked());
    QCOMPARE(m_window->model().rowCount(), 3);
}

void TestListEdit::changeCountsBadPasswordsWithUnlock()
{
    QVERIFY(openMainWindow());
    typeAndEnter(u"wrong 1"_s);
    typeAndEnter(u"wrong 2"_s);
    clickChangePassword("wrong 3");
    QCOMPARE(m_answers->texts().last(),
             u"\r\n\r\nYour Current Password Must Be Correctly \r\nEntered Before You Can Change "
             u"Passwords.\r\nBad Pass Count = 3"_s);
    // A right password given to Change Password does not set the count back.
    clickChangePassword(kPassword);
    typeAndEnter(u"ignored: cancels the change"_s);
    QCOMPARE(m_window->badPasswordCount(), 4);
    QVERIFY(m_window->isVisible());
    clickChangePassword("wrong 5");
    QVERIFY(!m_window->isVisible());
}

void TestListEdit::enterCancelsPendingChange()
{
    writeLinks(items(2));
    QVERIFY(openMainWindow());
    clickChangePassword(kPassword);
    QVERIFY(m_window->findChild<PasswordCommands*>()->changePending());
    typeAndEnter(QString::fromLatin1(kPassword));
    QVERIFY(m_window->isUnlocked());
    QVERIFY(!m_window->findChild<PasswordCommands*>()->changePending());
    QCOMPARE(TestData::readFile(m_state->paths.masterPasswordPath),
             TestData::masterPasswordRecord(kPassword));
}

// Each row: which back-up files exist (and under which password), the answer, the message.
void TestListEdit::changeAppliesToBackUpPair_data()
{
    QTest::addColumn<bool>("backUpMaster");
    QTest::addColumn<bool>("backUpLink");
    QTest::addColumn<QByteArray>("backUpPassword");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("outcome");
    QTest::newRow("both, Yes") << true << true << kPassword << int(MessageAnswer::Yes) << kApplied;
    QTest::newRow("both, No") << true << true << kPassword << int(MessageAnswer::No) << QString();
    QTest::newRow("only QuiURL.dab")
        << false << true << kPassword << int(MessageAnswer::Yes) << kNotApplied;
    QTest::newRow("only QuiFil.ini")
        << true << false << kPassword << int(MessageAnswer::Yes) << kApplied;
    QTest::newRow("another password's pair")
        << true << true << "another"_ba << int(MessageAnswer::Yes) << kNotApplied;
    QTest::newRow("no back-up files") << false << false << kPassword << 0 << QString();
}

void TestListEdit::changeAppliesToBackUpPair()
{
    QFETCH(bool, backUpMaster);
    QFETCH(bool, backUpLink);
    QFETCH(QByteArray, backUpPassword);
    QFETCH(int, answer);
    QFETCH(QString, outcome);
    const QList<TestData::Item> backedUp = items(2);
    const QString backUp = m_dir->filePath(u"back-up"_s);
    QVERIFY(QDir().mkpath(backUp));
    m_state->settings.backupDirectory = backUp;
    const QString backUpMasterPath = backUp + u"/QuiFil.ini"_s;
    const QString backUpLinkPath = backUp + u"/QuiURL.dab"_s;
    if (backUpMaster)
        QVERIFY(
            TestData::writeFile(backUpMasterPath, TestData::masterPasswordRecord(backUpPassword)));
    if (backUpLink)
        QVERIFY(TestData::writeFile(backUpLinkPath, TestData::linkFile(backedUp, backUpPassword)));
    const QStringList before = TestData::entriesOf(backUp);
    const QByteArray linkBefore = TestData::readFile(backUpLinkPath);

    QVERIFY(openMainWindow());
    m_answers->queue(MessageAnswer::Ok);
    m_answers->queue(MessageAnswer::Ok);
    if (answer != 0)
        m_answers->queue(qint16(answer));
    clickChangePassword(kPassword);
    clickChangePassword(kNewPassword);

    QStringList expected = {kTypeNew, kInEffect};
    if (answer != 0)
        expected << kApplyToBackUp;
    if (!outcome.isEmpty())
        expected << outcome;
    QCOMPARE(m_answers->texts(), expected);
    QCOMPARE(TestData::entriesOf(backUp), before);
    if (outcome == kApplied) {
        QCOMPARE(TestData::readFile(backUpMasterPath),
                 TestData::masterPasswordRecord(kNewPassword));
        if (backUpLink)
            QCOMPARE(TestData::readFile(backUpLinkPath),
                     TestData::linkFile(backedUp, kNewPassword));
    } else {
        QCOMPARE(TestData::readFile(backUpLinkPath), linkBefore);
    }
}

void TestListEdit::failedChangeKeepsTheOldPair()
{
    const QList<TestData::Item> all = items(5);
    writeLinks(all);
    const QByteArray link = TestData::readFile(m_state->paths.linkFilePath);
    const QByteArray master = TestData::readFile(m_state->paths.masterPasswordPath);
    QVERIFY(openMainWindow());
    clickChangePassword(kPassword);
    {
        FileSizeLimit full(3 * kLinkRecordSize);
        QVERIFY(full.ok());
        clickChangePassword(kNewPassword);
    }
    QCOMPARE(m_answers->texts().last(),
             u"\r\n\r\n\r\nUnable To Create New Password \r\n(ChWinPss-Cmd4)"_s);
    QVERIFY(!m_window->isVisible());
    QCOMPARE(TestData::readFile(m_state->paths.linkFilePath), link);
    QCOMPARE(TestData::readFile(m_state->paths.masterPasswordPath), master);
    // Closing wrote the settings; nothing else is left.
    QCOMPARE(TestData::entriesOf(m_dir->path()),
             QStringList({u"QuiFil.ini"_s, u"QuiSetts.ini"_s, u"QuiURL.dab"_s}));
}

void TestListEdit::deletePasswordAndFiles_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("Yes") << int(MessageAnswer::Yes);
    QTest::newRow("No") << int(MessageAnswer::No);
}

void TestListEdit::deletePasswordAndFiles()
{
    QFETCH(int, answer);
    writeLinks(items(2));
    const QString backUp = m_dir->filePath(u"back-up"_s);
    QVERIFY(QDir().mkpath(backUp));
    QVERIFY(QDir().mkpath(undoDirectory()));
    for (const QString& dir : {backUp, undoDirectory()}) {
        QVERIFY(TestData::writeFile(dir + u"/QuiFil.ini"_s, "pair"));
        QVERIFY(TestData::writeFile(dir + u"/QuiURL.dab"_s, "pair"));
    }
    m_state->settings.backupDirectory = backUp;
    m_state->settings.autoEnter = 1;
    m_state->settings.autoEnterPassword = QString::fromLatin1(kPassword);
    QVERIFY(openMainWindow());
    m_answers->queue(qint16(answer));
    const QDateTime clicked = QDateTime::currentDateTime().addSecs(-1);
    m_window->findChild<QPushButton*>(u"Command5"_s)->click();

    QCOMPARE(m_answers->shown().size(), 1);
    QCOMPARE(m_answers->shown().first().kind, MessageKind::YesNo);
    QVERIFY(m_answers->texts().first().startsWith(u"\r\nDELETE WARNING: \r\n If You Proceed, "_s));
    QVERIFY(m_answers->texts().first().endsWith(u"\r\nDo You Want To Delete These Items, Now?"_s));
    const bool yes = answer == MessageAnswer::Yes;
    QCOMPARE(m_window->isVisible(), !yes);
    for (const QString& dir : {m_dir->path(), backUp, undoDirectory()}) {
        QCOMPARE(QFileInfo::exists(dir + u"/QuiFil.ini"_s), !yes);
        QCOMPARE(QFileInfo::exists(dir + u"/QuiURL.dab"_s), !yes);
    }
    if (yes) {
        QVERIFY(fromOleDate(m_state->settings.lastDeleteDate) >= clicked);
        // The password auto-enter would type is gone with its files.
        QCOMPARE(m_state->settings.autoEnter, qint16(0));
        QCOMPARE(m_state->settings.autoEnterPassword, u"Quilsjs"_s);
    } else {
        QCOMPARE(m_state->settings.autoEnter, qint16(1));
    }
}

QTEST_MAIN(TestListEdit)
#include "tst_listedit.moc"
