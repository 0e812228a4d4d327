// "Back-Up Your Links Files", "Restore w/ Back-Up Files" and "Undo Previous Restore" in the
// real main window, on real data files read back byte for byte.

#include "FileSizeLimit.h"
#include "OffscreenWarnings.h"
#include "TestData.h"
#include "WindowFixture.h"
#include "store/LinkRecord.h"
#include "store/PairFiles.h"
#include "ui/entry/EnterItemsWindow.h"
#include "ui/main/MainMenus.h"

#include <QLabel>
#include <QProcess>

using namespace Qt::StringLiterals;
using TestData::kPassword;

namespace {

const QByteArray kOtherPassword = QByteArrayLiteral("Gr\xe9pefruit 2");

const QString kNoDirectoryToSave =
    u"\r\n\r\n\r\nYou Can Not Back-Up Files Until You Select \r\n A Back-Up Directory In The "
    u"Options Window.\r\n"_s;
const QString kBackUpQuestion =
    u"\r\n\r\n\r\nDo You Want To Back-Up \r\nYour Current Links Files?\r\n"_s;
const QString kBackUpDone = u"\r\n\r\n\r\nBack-Up Done.\r\n"_s;
const QString kBackUpFailed = u"\r\n\r\n\r\nAn Error Occurred Saving \r\nYour Back-Up Files\r\n"_s;
const QString kNoDirectoryToRestore =
    u"\r\n\r\n\r\nCan't Restore Files: \r\nNo Back-Up Directory Exists.\r\n"_s;
const QString kRestoreQuestion =
    u"\r\n\r\n\r\nDo You Want To Replace Your Current Links\r\nFiles With Your Back-Up Set Of "
    u"Links Files? \r\n (You Can Undo The Restore \r\nUntil You Close Quillor)\r\n"_s;
const QString kNoBackUpFiles =
    u"\r\n\r\n\r\nCan't Restore Files: \r\nNo Back-Up Files Exists.\r\n"_s;
const QString kRestoreDone = u"\r\n\r\n\r\nRestore Done.\r\n"_s;
const QString kRestoreFailed =
    u"\r\n\r\n\r\nAn Error Occurred Restoring \r\nWith Your Back-Up Files\r\n"_s;
const QString kUndoQuestion = u"\r\n\r\n\r\nDo You Want To Undo The Restored Links Files\r\nAnd "
                              u"Replace With Your Previous Set Of Files?\r\n"_s;
const QString kNoUndoDirectory =
    u"\r\n\r\n\r\nCan't UnDo Restored Files. \r\n No UnDo Directory\r\n"_s;
const QString kUndoDone = u"\r\n\r\n\r\nUndo Done.\r\n"_s;
const QString kNoMasterPasswordFile =
    u"\r\n\r\n\r\nCan't Restore Files: \r\nThe Back-Up Has No Password File (QuiFil.ini),\r\nSo "
    u"No Password Would Open Its Links File.\r\nNothing Was Replaced.\r\n"_s;
const QString kLockedAfterRestore =
    u"\r\n\r\n\r\nThe Restored Links Files Do Not Open With\r\nThe Password You Entered, So The "
    u"Window\r\nIs Locked. Enter The Password That Was In\r\nEffect When The Back-Up Was Made, Or "
    u"\r\nClick -Undo Previous Restore- To Go Back.\r\n"_s;
const QString kLockedAfterUndo =
    u"\r\n\r\n\r\nThe Links Files Put Back By The Undo Do Not\r\nOpen With The Password You "
    u"Entered, So The\r\nWindow Is Locked. Enter The Password That Was\r\nIn Effect Before The "
    u"Restore.\r\n"_s;
// Followed by what failed.
const QString kMadeUnsure = u"\r\n\r\n\r\nThe Change Was Made, But It May Not\r\nSurvive A "
                            u"Power Cut Or A System Crash:\r\n"_s;
const QString kTypeNewPassword =
    u"\r\n\r\n\r\nType-In Your New Password.  Then Click The -Change Password- Button, Again"_s;
const QString kNowInEffect = u"\r\n\r\n\r\nYour New Password Is Now In Effect"_s;
const QString kApplyToBackUp = u"\r\n\r\n\r\nYou Have Back-Up Files Encrypted With \r\nThe Old "
                               u"Password.  Do You Want To Apply \r\nThe New Passwod To Them?"_s;
const QString kAppliedToBackUp =
    u"\r\n\r\n\r\nYour New Password Has Been Applied \r\nTo Your Back-Up Files."_s;

QList<TestData::Item> items(const QByteArray& prefix, int count)
{
    QList<TestData::Item> list;
    for (int i = 1; i <= count; ++i) {
        const QByteArray n = QByteArray::number(i);
        list.append(
            {prefix + " page " + n, "https://" + n + ".example", "user" + n, "secret " + n});
    }
    return list;
}

QStringList titlesOf(const QList<TestData::Item>& list)
{
    QStringList titles;
    for (const TestData::Item& i : list)
        titles << QString::fromLatin1(i.title);
    return titles;
}

// A pair's two files, each read back, or empty where the file is absent.
struct PairBytes {
    QByteArray master;
    QByteArray link;
    bool hasLink = false;
    bool operator==(const PairBytes&) const = default;
};

PairBytes pairIn(const QString& dir)
{
    return {TestData::readFile(dir + u"/QuiFil.ini"_s), TestData::readFile(dir + u"/QuiURL.dab"_s),
            QFileInfo::exists(dir + u"/QuiURL.dab"_s)};
}

char* toString(const PairBytes& pair)
{
    return qstrdup(
        QByteArray(
            "QuiFil.ini " + QByteArray::number(pair.master.size()) + " bytes, QuiURL.dab " +
            (pair.hasLink ? QByteArray::number(pair.link.size()) + " bytes" : QByteArray("absent")))
            .constData());
}

constexpr qint16 kYes = MessageAnswer::Yes;

} // namespace

class TestBackUpCommands : public QObject, private WindowFixture {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void backUp_data();
    void backUp();
    void restore_data();
    void restore();
    void restoreThenUndo();
    void undoAfterChangePassword();
    void undoWithoutUndoDirectory();
    void closingEmptiesUndo();
    void restoreUnderAnotherPasswordLocks();
    void undoFromTheLockedWindow_data();
    void undoFromTheLockedWindow();
    void closingLockedKeepsUndo_data();
    void closingLockedKeepsUndo();
    void failedBackUpKeepsTheOldPair();
    void madeUnsureFollowsThePairOnDisk_data();
    void madeUnsureFollowsThePairOnDisk();

private:
    [[nodiscard]] bool openUnlocked(const QList<TestData::Item>& list);
    void trigger(const char* name) { m_window->menus().action(name)->trigger(); }
    bool undoOffered() const { return m_window->menus().action("mnu1BUundo")->isVisible(); }
    QStringList titlesShown() const;
    void writeBackUp(const QList<TestData::Item>& list, const QByteArray& password,
                     bool withMaster = true);
    QString backUpDir() const
    {
        return m_backUpDir.isEmpty() ? m_elsewhere->filePath(u"back-up"_s) : m_backUpDir;
    }
    QString undoDir() const { return m_state->paths.dataDirectory + u"/UnDo"_s; }
    QWidget* undoButton() const { return m_window->findChild<QWidget*>(u"UndoRestoreButton"_s); }
    bool undoButtonShown() const { return undoButton() && undoButton()->isVisible(); }
    [[nodiscard]] bool restoreLocked();
    [[nodiscard]] bool tabTo(const QWidget* target);
    void madeUnsureInChild(const QString& operation);

    std::unique_ptr<QTemporaryDir> m_elsewhere;
    QString m_backUpDir;
};

void TestBackUpCommands::initTestCase()
{
    keepRunningWithoutWindows();
    dropOffscreenPlatformWarnings();
}

void TestBackUpCommands::init()
{
    QTest::failOnWarning(QRegularExpression(u".*"_s));
    setUpFixture();
    m_elsewhere = std::make_unique<QTemporaryDir>();
    QVERIFY(m_elsewhere->isValid());
}

void TestBackUpCommands::cleanup()
{
    tearDownFixture();
    m_elsewhere.reset();
    m_backUpDir.clear();
}

bool TestBackUpCommands::openUnlocked(const QList<TestData::Item>& list)
{
    if (!list.isEmpty())
        writeLinks(list);
    return openMainWindow() && unlock();
}

QStringList TestBackUpCommands::titlesShown() const
{
    QStringList titles;
    for (int row = 0; row < m_window->model().rowCount(); ++row)
        titles << m_window->model().index(row, 0).data().toString();
    return titles;
}

void TestBackUpCommands::writeBackUp(const QList<TestData::Item>& list, const QByteArray& password,
                                     bool withMaster)
{
    QVERIFY(QDir().mkpath(backUpDir()));
    if (withMaster)
        QVERIFY(TestData::writeFile(backUpDir() + u"/QuiFil.ini"_s,
                                    TestData::masterPasswordRecord(password)));
    if (!list.isEmpty())
        QVERIFY(TestData::writeFile(backUpDir() + u"/QuiURL.dab"_s,
                                    TestData::linkFile(list, password)));
}

// Each row: whether a back-up directory is set, the entries listed, whether questions and
// completions are switched off, the answer, the messages.
void TestBackUpCommands::backUp_data()
{
    QTest::addColumn<bool>("directorySet");
    QTest::addColumn<int>("entries");
    QTest::addColumn<bool>("switchedOff");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("no back-up directory")
        << false << 2 << false << 0 << QStringList{kNoDirectoryToSave};
    QTest::newRow("asked and done")
        << true << 2 << false << int(kYes) << QStringList{kBackUpQuestion, kBackUpDone};
    QTest::newRow("answered No") << true << 2 << false << int(MessageAnswer::No)
                                 << QStringList{kBackUpQuestion};
    QTest::newRow("empty list: the old QuiURL.dab goes")
        << true << 0 << false << int(kYes) << QStringList{kBackUpQuestion, kBackUpDone};
    QTest::newRow("messages 1 to 6 switched off") << true << 2 << true << 0 << QStringList();
}

void TestBackUpCommands::backUp()
{
    QFETCH(bool, directorySet);
    QFETCH(int, entries);
    QFETCH(bool, switchedOff);
    QFETCH(int, answer);
    QFETCH(QStringList, shown);
    writeBackUp(items("Old", 3), kOtherPassword);
    const PairBytes oldBackUp = pairIn(backUpDir());
    if (directorySet)
        m_state->settings.backupDirectory = backUpDir();
    if (switchedOff)
        m_state->settings.messageSuppression.replace(0, 6, u"111111"_s);
    QVERIFY(openUnlocked(items("Current", entries)));
    if (answer != 0)
        m_answers->queue(qint16(answer));
    trigger("mnu1BUfiles");

    QCOMPARE(m_answers->texts(), shown);
    if (shown.size() == 2) {
        QCOMPARE(m_answers->shown()[0].kind, MessageKind::YesNoSwitchable);
        QCOMPARE(m_answers->shown()[0].number, qint16(1));
        QCOMPARE(m_answers->shown()[1].kind, MessageKind::OkSwitchable);
        QCOMPARE(m_answers->shown()[1].number, qint16(2));
    }
    const bool done = directorySet && (answer == kYes || switchedOff);
    QCOMPARE(pairIn(backUpDir()), done ? pairIn(m_dir->path()) : oldBackUp);
    QCOMPARE(QFileInfo::exists(backUpDir() + u"/QuiURL.dab"_s), !done || entries > 0);
}

// Each row: the back-up files (their entries, whether QuiFil.ini is there), whether questions
// and completions are switched off, the messages, the list afterwards, whether undo is offered.
void TestBackUpCommands::restore_data()
{
    QTest::addColumn<bool>("directorySet");
    QTest::addColumn<int>("backUpEntries");
    QTest::addColumn<bool>("backUpMaster");
    QTest::addColumn<bool>("switchedOff");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<bool>("undoAfter");
    const QStringList current = titlesOf(items("Current", 2));
    QTest::newRow("no back-up directory")
        << false << 3 << true << false << QStringList{kNoDirectoryToRestore} << current << false;
    QTest::newRow("restored") << true << 3 << true << false
                              << QStringList{kRestoreQuestion, kRestoreDone}
                              << titlesOf(items("Old", 3)) << true;
    QTest::newRow("back-up without QuiURL.dab")
        << true << 0 << true << false << QStringList{kRestoreQuestion, kRestoreDone}
        << QStringList() << true;
    QTest::newRow("neither back-up file")
        << true << 0 << false << false << QStringList{kRestoreQuestion, kNoBackUpFiles} << current
        << true;
    QTest::newRow("QuiURL.dab without QuiFil.ini")
        << true << 3 << false << false << QStringList{kRestoreQuestion, kNoMasterPasswordFile}
        << current << false;
    QTest::newRow("messages 1 to 6 switched off")
        << true << 3 << true << true << QStringList() << titlesOf(items("Old", 3)) << true;
}

void TestBackUpCommands::restore()
{
    QFETCH(bool, directorySet);
    QFETCH(int, backUpEntries);
    QFETCH(bool, backUpMaster);
    QFETCH(bool, switchedOff);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, listed);
    QFETCH(bool, undoAfter);
    writeBackUp(items("Old", backUpEntries), kPassword, backUpMaster);
    const PairBytes backUp = pairIn(backUpDir());
    if (directorySet)
        m_state->settings.backupDirectory = backUpDir();
    if (switchedOff)
        m_state->settings.messageSuppression.replace(0, 6, u"111111"_s);
    m_state->settings.messageSuppression[8] = u'1'; // the replace question
    QVERIFY(openUnlocked(items("Current", 2)));
    const PairBytes current = pairIn(m_dir->path());
    m_answers->queue(kYes);
    trigger("mnu1BURestore");

    QCOMPARE(m_answers->texts(), shown);
    if (!switchedOff && directorySet)
        QCOMPARE(m_answers->shown().first().number, qint16(5));
    QCOMPARE(titlesShown(), listed);
    QVERIFY(m_window->isUnlocked());
    QCOMPARE(undoOffered(), undoAfter);
    const bool restored = shown.contains(kRestoreDone) || (switchedOff && directorySet);
    QCOMPARE(pairIn(m_dir->path()), restored ? backUp : current);
    if (undoAfter)
        QCOMPARE(pairIn(undoDir()), current);
    else
        QVERIFY(!QFileInfo::exists(undoDir() + u"/QuiFil.ini"_s) &&
                !QFileInfo::exists(undoDir() + u"/QuiURL.dab"_s));
    QVERIFY(!undoButtonShown());
}

void TestBackUpCommands::restoreThenUndo()
{
    writeBackUp(items("Old", 3), kPassword);
    m_state->settings.backupDirectory = backUpDir();
    m_state->settings.messageSuppression.replace(0, 6, u"111111"_s);
    m_state->settings.messageSuppression[8] = u'1'; // the replace question
    QVERIFY(openUnlocked(items("Current", 2)));
    const PairBytes current = pairIn(m_dir->path());
    trigger("mnu1BURestore");
    QCOMPARE(titlesShown(), titlesOf(items("Old", 3)));
    QVERIFY(undoOffered());

    trigger("mnu1BUundo");
    QVERIFY(m_answers->shown().isEmpty());
    QCOMPARE(pairIn(m_dir->path()), current);
    QCOMPARE(titlesShown(), titlesOf(items("Current", 2)));
    QVERIFY(TestData::entriesOf(undoDir()).isEmpty());
    QVERIFY(!undoOffered());
    // The list and the file agree: the next change writes where it should.
    QVERIFY(m_window->listMatchesFile());
}

void TestBackUpCommands::undoAfterChangePassword()
{
    writeBackUp(items("Old", 3), kPassword);
    m_state->settings.backupDirectory = backUpDir();
    m_state->settings.messageSuppression.replace(0, 6, u"111111"_s);
    m_state->settings.messageSuppression[8] = u'1'; // the replace question
    QVERIFY(openUnlocked(items("Current", 2)));
    trigger("mnu1BURestore");
    // Change Password, as a person does it; it deletes the kept pair.
    auto* passwordBox = m_window->findChild<QLineEdit*>(u"Text4"_s);
    auto* changeButton = m_window->findChild<QPushButton*>(u"Command4"_s);
    passwordBox->setText(QString::fromLatin1(kPassword));
    changeButton->click();
    passwordBox->setText(QString::fromLatin1(kOtherPassword));
    changeButton->click();
    const PairBytes changed = pairIn(m_dir->path());
    QCOMPARE(changed.master, TestData::masterPasswordRecord(kOtherPassword));
    QVERIFY(undoOffered());

    m_answers.reset();
    m_answers = std::make_unique<ScriptedAnswers>();
    trigger("mnu1BUundo");
    QVERIFY(m_answers->shown().isEmpty());
    QCOMPARE(pairIn(m_dir->path()), changed);
    QCOMPARE(titlesShown(), titlesOf(items("Old", 3)));
    QVERIFY(m_window->isUnlocked());
    QVERIFY(!undoOffered());
}

void TestBackUpCommands::undoWithoutUndoDirectory()
{
    QVERIFY(openUnlocked(items("Current", 2)));
    m_answers->queue(kYes);
    trigger("mnu1BUundo");
    QCOMPARE(m_answers->texts(), QStringList({kUndoQuestion, kNoUndoDirectory}));
    QCOMPARE(m_answers->shown().first().number, qint16(6));
    QCOMPARE(titlesShown(), titlesOf(items("Current", 2)));
}

void TestBackUpCommands::closingEmptiesUndo()
{
    writeBackUp(items("Old", 3), kPassword);
    m_state->settings.backupDirectory = backUpDir();
    QVERIFY(openUnlocked(items("Current", 2)));
    m_answers->queue(kYes);
    trigger("mnu1BURestore");
    QCOMPARE(m_answers->texts(), QStringList({kRestoreQuestion, kRestoreDone}));
    QCOMPARE(TestData::entriesOf(undoDir()), QStringList({u"QuiFil.ini"_s, u"QuiURL.dab"_s}));

    m_window->close();
    QVERIFY(QFileInfo(undoDir()).isDir());
    QVERIFY(TestData::entriesOf(undoDir()).isEmpty());
    m_window.reset();
    QVERIFY(openMainWindow());
    QVERIFY(!undoOffered());
    m_answers->queue(kYes);
    trigger("mnu1BUundo");
    // Nothing was kept: the undo replaces nothing.
    QCOMPARE(m_answers->texts().mid(2), QStringList({kUndoQuestion, kUndoDone}));
    QCOMPARE(pairIn(m_dir->path()), pairIn(backUpDir()));
}

void TestBackUpCommands::restoreUnderAnotherPasswordLocks()
{
    writeBackUp(items("Old", 3), kOtherPassword);
    m_state->settings.backupDirectory = backUpDir();
    QVERIFY(openUnlocked(items("Current", 2)));
    m_answers->queue(kYes);
    trigger("mnu1BURestore");

    // The completion still shows, and why the window locked; the list does not, and nothing is
    // left to write it back.
    QCOMPARE(m_answers->texts(),
             QStringList({kRestoreQuestion, kRestoreDone, kLockedAfterRestore}));
    QVERIFY(!m_window->isUnlocked());
    QCOMPARE(m_window->model().rowCount(), 0);
    QVERIFY(m_state->masterPassword.isEmpty());
    QVERIFY(m_window->findChild<QLabel*>(u"Picture1"_s)->isVisible());
    QVERIFY(m_window->findChild<QWidget*>(u"Picture2"_s)->isVisible());
    QVERIFY(undoOffered());
    QVERIFY(undoButtonShown());

    // The old password is now a wrong one; the restored pair's own opens it.
    typeAndEnter(QString::fromLatin1(kPassword));
    QVERIFY(!m_window->isUnlocked());
    typeAndEnter(QString::fromLatin1(kOtherPassword));
    QVERIFY(m_window->isUnlocked());
    QVERIFY(!undoButtonShown());
    QCOMPARE(titlesShown(), titlesOf(items("Old", 3)));
    QCOMPARE(pairIn(m_dir->path()), pairIn(backUpDir()));

    // Undoing goes back to a pair under the first password: locked again until it is typed.
    m_answers->queue(kYes);
    trigger("mnu1BUundo");
    QVERIFY(!m_window->isUnlocked());
    QCOMPARE(m_answers->texts().mid(m_answers->texts().size() - 3),
             QStringList({kUndoQuestion, kUndoDone, kLockedAfterUndo}));
    typeAndEnter(QString::fromLatin1(kPassword));
    QVERIFY(m_window->isUnlocked());
    QCOMPARE(titlesShown(), titlesOf(items("Current", 2)));
}

// The list shows a pair under kPassword; a back-up under another password is restored over it.
bool TestBackUpCommands::restoreLocked()
{
    writeBackUp(items("Old", 3), kOtherPassword);
    m_state->settings.backupDirectory = backUpDir();
    if (!openUnlocked(items("Current", 2)))
        return false;
    m_answers->queue(kYes);
    trigger("mnu1BURestore");
    return !m_window->isUnlocked() &&
           m_answers->texts() == QStringList({kRestoreQuestion, kRestoreDone, kLockedAfterRestore});
}

// As a person does it: Tab from the focused control until the target has the focus.
bool TestBackUpCommands::tabTo(const QWidget* target)
{
    for (int i = 0; i < 12 && QApplication::focusWidget() != target; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    return QApplication::focusWidget() == target;
}

void TestBackUpCommands::undoFromTheLockedWindow_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Tab, then Space") << u"tab"_s;
    QTest::newRow("mouse") << u"mouse"_s;
}

// The menu is behind the cover while the window is locked; the undo is not.
void TestBackUpCommands::undoFromTheLockedWindow()
{
    QFETCH(QString, how);
    const PairBytes current = [&] {
        writeLinks(items("Current", 2));
        return pairIn(m_dir->path());
    }();
    QVERIFY(restoreLocked());
    QVERIFY(undoButtonShown());
    QWidget* button = undoButton();
    // On the cover, under the password panel, whole inside the window at its smallest.
    m_window->resize(m_window->minimumSize());
    const QRect panel = m_window->findChild<QWidget*>(u"Picture1"_s)->geometry();
    QVERIFY(m_window->rect().contains(button->geometry()));
    QVERIFY(!panel.intersects(button->geometry()));
    QVERIFY(m_window->findChild<QWidget*>(u"Text4"_s)->hasFocus());

    m_answers->queue(kYes);
    if (how == u"tab"_s) {
        QVERIFY(tabTo(button));
        QTest::keyClick(button, Qt::Key_Space);
    } else {
        QTest::mouseClick(button, Qt::LeftButton);
    }
    QCOMPARE(m_answers->texts().mid(3), QStringList({kUndoQuestion, kUndoDone}));
    QCOMPARE(pairIn(m_dir->path()), current);
    QVERIFY(!undoOffered());
    QVERIFY(!button->isVisible());
    QVERIFY(!m_window->isUnlocked());
    if (how == u"tab"_s)
        QVERIFY(m_window->findChild<QWidget*>(u"Text4"_s)->hasFocus());
    typeAndEnter(QString::fromLatin1(kPassword));
    QVERIFY(m_window->isUnlocked());
    QCOMPARE(titlesShown(), titlesOf(items("Current", 2)));
    QVERIFY(m_window->listMatchesFile());
}

// Each row: how the window closes after a restore locked it. Only a close with the restored
// pair opened lets the kept pair go.
void TestBackUpCommands::closingLockedKeepsUndo_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("kept");
    QTest::newRow("Escape") << u"escape"_s << true;
    QTest::newRow("close box") << u"close"_s << true;
    QTest::newRow("fifth wrong password") << u"fifth"_s << true;
    QTest::newRow("restored pair opened first") << u"opened"_s << false;
}

void TestBackUpCommands::closingLockedKeepsUndo()
{
    QFETCH(QString, how);
    QFETCH(bool, kept);
    const PairBytes current = [&] {
        writeLinks(items("Current", 2));
        return pairIn(m_dir->path());
    }();
    QVERIFY(restoreLocked());
    const PairBytes restored = pairIn(m_dir->path());
    if (how == u"escape"_s) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    } else if (how == u"close"_s) {
        QVERIFY(m_window->close());
    } else if (how == u"fifth"_s) {
        // The password of the pair before the restore is a wrong one now.
        for (int n = 0; n < 5; ++n)
            typeAndEnter(QString::fromLatin1(kPassword));
    } else {
        typeAndEnter(QString::fromLatin1(kOtherPassword));
        QVERIFY(m_window->isUnlocked());
        QVERIFY(m_window->close());
    }
    QVERIFY(!m_window->isVisible());
    QVERIFY(!m_state->mainWindowOpen);
    QCOMPARE(pairIn(m_dir->path()), restored);
    if (!kept) {
        QVERIFY(!QFileInfo::exists(undoDir() + u"/QuiFil.ini"_s));
        QVERIFY(!QFileInfo::exists(undoDir() + u"/QuiURL.dab"_s));
        m_window.reset();
        QVERIFY(openMainWindow());
        QVERIFY(!undoOffered());
        QVERIFY(!undoButtonShown());
        return;
    }
    QCOMPARE(pairIn(undoDir()), current);

    // The next start offers it, from the locked window.
    m_window.reset();
    QVERIFY(openMainWindow());
    QVERIFY(undoOffered());
    QVERIFY(undoButtonShown());
    QVERIFY(tabTo(undoButton()));
    m_answers->queue(kYes);
    QTest::keyClick(undoButton(), Qt::Key_Space);
    QCOMPARE(m_answers->texts().last(), kUndoDone);
    QCOMPARE(pairIn(m_dir->path()), current);
    QVERIFY(!undoButtonShown());
    typeAndEnter(QString::fromLatin1(kPassword));
    QVERIFY(m_window->isUnlocked());
    QCOMPARE(titlesShown(), titlesOf(items("Current", 2)));
}

void TestBackUpCommands::failedBackUpKeepsTheOldPair()
{
    writeBackUp(items("Old", 1), kPassword);
    const PairBytes oldBackUp = pairIn(backUpDir());
    m_state->settings.backupDirectory = backUpDir();
    QVERIFY(openUnlocked(items("Current", 4)));
    const PairBytes current = pairIn(m_dir->path());
    m_answers->queue(kYes);
    m_answers->queue(MessageAnswer::Ok);
    m_answers->queue(kYes);
    {
        FileSizeLimit full(2 * kLinkRecordSize);
        QVERIFY(full.ok());
        trigger("mnu1BUfiles");
        trigger("mnu1BURestore");
    }
    QCOMPARE(m_answers->texts(),
             QStringList({kBackUpQuestion, kBackUpFailed, kRestoreQuestion, kRestoreFailed}));
    QCOMPARE(pairIn(backUpDir()), oldBackUp);
    QCOMPARE(TestData::entriesOf(backUpDir()), QStringList({u"QuiFil.ini"_s, u"QuiURL.dab"_s}));
    QCOMPARE(pairIn(m_dir->path()), current);
    QCOMPARE(titlesShown(), titlesOf(items("Current", 4)));
    QVERIFY(!undoOffered());
}

// Each row: the window's write that fails once its change is in place or decided, and where:
// the first call of a kind after the last rename onto a name in the data or back-up directory.
// For a pair, the rename that starts its switch once the commit mark is in place; for the links
// file alone, the sync of the directory it was renamed into.
void TestBackUpCommands::madeUnsureFollowsThePairOnDisk_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QByteArray>("failed");
    QTest::newRow("restore") << u"restore"_s << u"data/QuiPair.commit"_s << QByteArray("rename");
    QTest::newRow("undo") << u"undo"_s << u"data/QuiPair.commit"_s << QByteArray("rename");
    QTest::newRow("change password")
        << u"change password"_s << u"data/QuiPair.commit"_s << QByteArray("rename");
    QTest::newRow("back-up re-encrypted")
        << u"back-up re-encrypted"_s << u"back-up/QuiPair.commit"_s << QByteArray("rename");
    QTest::newRow("move down") << u"move down"_s << u"data/QuiURL.dab"_s << QByteArray("fsync");
    QTest::newRow("replace") << u"replace"_s << u"data/QuiURL.dab"_s << QByteArray("fsync");
}

// The window runs in a process of its own under the fault injector, once to count the calls in
// the directory that holds its data and back-up directories, once failing the one chosen; that
// process judges the window against the disk.
void TestBackUpCommands::madeUnsureFollowsThePairOnDisk()
{
    QFETCH(QString, operation);
    QFETCH(QString, after);
    QFETCH(QByteArray, failed);
    if (qEnvironmentVariableIsSet("QUILLOR_FAULT_DIR")) {
        madeUnsureInChild(operation);
        return;
    }
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString watched = scratch.filePath(u"watched"_s);
    const QString log = scratch.filePath(u"points.log"_s);
    const auto run = [&](qint64 at) {
        QFile::remove(log);
        QDir(watched).removeRecursively();
        QDir().mkpath(watched + u"/data"_s);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"LD_PRELOAD"_s, QStringLiteral(QUILLOR_FAULT_INJECT_LIBRARY));
        env.insert(u"QUILLOR_FAULT_DIR"_s, watched);
        env.insert(u"QUILLOR_FAULT_LOG"_s, log);
        env.insert(u"QUILLOR_FAULT_MODE"_s, u"fail"_s);
        env.insert(u"QUILLOR_FAULT_AT"_s, QString::number(at));
        env.insert(u"QUILLOR_FAULT_ERRNO"_s, u"EIO"_s);
        const QString asan = env.value(u"ASAN_OPTIONS"_s);
        env.insert(u"ASAN_OPTIONS"_s,
                   (asan.isEmpty() ? QString() : asan + u':') + u"verify_asan_link_order=0"_s);
        QProcess child;
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {u"madeUnsureFollowsThePairOnDisk:"_s + operation});
        child.waitForFinished(-1);
        const QString output = QString::fromLocal8Bit(child.readAll());
        return child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0
                   ? QString()
                   : output + u"\nexit "_s + QString::number(child.exitCode());
    };
    const QString counted = run(0);
    QVERIFY2(counted.isEmpty(), qPrintable(counted));

    const QString canonical = QFileInfo(watched).canonicalFilePath();
    const QString anchor = canonical + u'/' + after;
    const QString synced = QFileInfo(anchor).absolutePath();
    qint64 at = 0;
    bool anchorSeen = false;
    for (const QByteArray& line : TestData::readFile(log).split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() != 5)
            continue;
        if (fields[1].startsWith("rename") && QFile::decodeName(fields[3]) == anchor) {
            anchorSeen = true;
            at = 0;
        } else if (anchorSeen && at == 0 && fields[1].startsWith(failed) &&
                   (failed != "fsync" || QFile::decodeName(fields[2]) == synced)) {
            at = fields[0].toLongLong();
        }
    }
    QVERIFY2(at > 0, TestData::readFile(log).constData());
    const QString faulted = run(at);
    QVERIFY2(faulted.isEmpty(), qPrintable(faulted));
    QVERIFY(TestData::readFile(log).contains("\tfail\n"));
}

void TestBackUpCommands::madeUnsureInChild(const QString& operation)
{
    const QString data = qEnvironmentVariable("QUILLOR_FAULT_DIR") + u"/data"_s;
    m_backUpDir = qEnvironmentVariable("QUILLOR_FAULT_DIR") + u"/back-up"_s;
    const bool faulted = qEnvironmentVariableIntValue("QUILLOR_FAULT_AT") > 0;
    m_state->paths = DataPaths::forDataDirectory(data);
    QVERIFY(TestData::writeFile(m_state->paths.masterPasswordPath,
                                TestData::masterPasswordRecord(kPassword)));
    const bool backUpReencrypted = operation == u"back-up re-encrypted"_s;
    const bool changePassword = operation == u"change password"_s || backUpReencrypted;
    const bool move = operation == u"move down"_s;
    const bool replace = operation == u"replace"_s;
    if ((!changePassword && !move && !replace) || backUpReencrypted) {
        writeBackUp(items("Old", 3), kPassword);
        m_state->settings.backupDirectory = backUpDir();
    }
    m_state->settings.messageSuppression.replace(0, 6, u"111111"_s);
    m_state->settings.messageSuppression[8] = u'1'; // the replace question
    QVERIFY(openUnlocked(items("Current", 2)));
    const PairBytes current = pairIn(data);

    QStringList shown;
    PairBytes expected;
    QStringList listed;
    bool undoAfter = true;
    if (operation == u"restore"_s) {
        trigger("mnu1BURestore");
        expected = pairIn(backUpDir());
        listed = titlesOf(items("Old", 3));
    } else if (operation == u"undo"_s) {
        trigger("mnu1BURestore");
        QCOMPARE(titlesShown(), titlesOf(items("Old", 3)));
        trigger("mnu1BUundo");
        expected = current;
        listed = titlesOf(items("Current", 2));
        // Its copy back may not outlast a power cut: the kept pair stays.
        undoAfter = faulted;
    } else if (replace) {
        m_window->selectRow(0);
        auto* window = new EnterItemsWindow(*m_state, *m_window);
        window->setAttribute(Qt::WA_DeleteOnClose);
        const TestData::Item typed = {"New page", "https://new.example", "newuser", "new secret"};
        window->findChild<QLineEdit*>(u"Text1"_s)->setText(QString::fromLatin1(typed.title));
        window->findChild<QLineEdit*>(u"Text2"_s)->setText(QString::fromLatin1(typed.userName));
        window->findChild<QLineEdit*>(u"Text3"_s)->setText(QString::fromLatin1(typed.password));
        window->findChild<QLineEdit*>(u"Text5"_s)->setText(QString::fromLatin1(typed.url));
        window->findChild<QPushButton*>(u"Command2"_s)->click();
        const QList<TestData::Item> after = {typed, items("Current", 2)[1]};
        expected = {pairIn(data).master, TestData::linkFile(after, kPassword), true};
        listed = titlesOf(after);
        undoAfter = false;
    } else if (move) {
        m_window->selectRow(0);
        trigger("mnu1Movedown");
        const QList<TestData::Item> current = items("Current", 2);
        expected = {pairIn(data).master, TestData::linkFile({current[1], current[0]}, kPassword),
                    true};
        listed = titlesOf({current[1], current[0]});
        undoAfter = false;
    } else {
        auto* passwordBox = m_window->findChild<QLineEdit*>(u"Text4"_s);
        auto* changeButton = m_window->findChild<QPushButton*>(u"Command4"_s);
        if (backUpReencrypted) {
            // The password in effect, then Yes to the back-up's question.
            m_answers->queue(MessageAnswer::Ok);
            m_answers->queue(MessageAnswer::Ok);
            m_answers->queue(kYes);
        }
        passwordBox->setText(QString::fromLatin1(kPassword));
        changeButton->click();
        passwordBox->setText(QString::fromLatin1(kOtherPassword));
        changeButton->click();
        expected = {TestData::masterPasswordRecord(kOtherPassword), {}, true};
        listed = titlesOf(items("Current", 2));
        shown = {kTypeNewPassword, kNowInEffect};
        if (backUpReencrypted)
            shown << kApplyToBackUp << kAppliedToBackUp;
        undoAfter = false;
        QCOMPARE(m_state->masterPassword, kOtherPassword);
    }
    if (!faulted)
        return;

    const QStringList texts = m_answers->texts();
    QCOMPARE(texts.size(), shown.size() + 1);
    // After what it follows: the new password in effect, or the back-up's question and answer.
    const qsizetype at = backUpReencrypted ? 4 : changePassword ? 1 : 0;
    QVERIFY2(texts[at].startsWith(kMadeUnsure), qPrintable(texts[at]));
    QVERIFY2(texts[at].contains(u"Input/output error"_s), qPrintable(texts[at]));
    QStringList others = texts;
    others.removeAt(at);
    QCOMPARE(others, shown);

    // The switch finished, and the list is the one on disk.
    QVERIFY(!QFileInfo::exists(data + u"/QuiPair.commit"_s));
    const PairBytes onDisk = pairIn(data);
    if (changePassword || move || replace) {
        QCOMPARE(onDisk.master, expected.master);
        if (move || replace)
            QCOMPARE(onDisk.link, expected.link);
        QCOMPARE(TestData::entriesOf(data), QStringList({u"QuiFil.ini"_s, u"QuiURL.dab"_s}));
    } else {
        QCOMPARE(onDisk, expected);
    }
    QVERIFY(m_window->isUnlocked());
    QCOMPARE(titlesShown(), listed);
    QVERIFY(m_window->listMatchesFile());
    QCOMPARE(undoOffered(), undoAfter);
    if (undoAfter && operation == u"undo"_s)
        QCOMPARE(pairIn(undoDir()), current);
    if (backUpReencrypted) {
        QCOMPARE(pairIn(backUpDir()),
                 PairBytes({TestData::masterPasswordRecord(kOtherPassword),
                            TestData::linkFile(items("Old", 3), kOtherPassword), true}));
        QVERIFY(!PairFiles::switchPending(backUpDir()));
    }
}

QTEST_MAIN(TestBackUpCommands)
#include "tst_backupcommands.moc"
