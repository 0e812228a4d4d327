// The Option Settings window in settings mode and in About mode, with its back-up directory row:
// real widgets on the offscreen platform, scripted answers and a scripted directory chooser.

#include "OffscreenWarnings.h"
#include "TestData.h"
#include "WindowFixture.h"
#include "ui/entry/EnterItemsWindow.h"
#include "ui/main/AppCommands.h"
#include "ui/main/MainMenus.h"
#include "ui/options/OptionsWindow.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

const QString kExitWithoutSaving =
    u"\r\n\r\nIn Order To Save The Settings You've Changed,\r\nYou Need To Click The -Exit & "
    u"Save- Button.\r\n\r\nDo You Want To Exit WITHOUT Saving Your Changes?"_s;
const QString kSelectQuestion =
    u"\r\n\r\nConfirm: \r\nDo You Want To Select A Back-Up\r\nDirectory For Your Quillor Files?"_s;
const QString kChangeQuestion =
    u"\r\n\r\nConfirm:\r\nDo You Want To Change Your Back-Up\r\nDirectory For Your Quillor Files?"_s;
const QString kNotProgramDirectory =
    u"\r\n\r\nYou Should Not Choose Quillor' Install Directory Which Contains Quillor' Default "
    u"Start-Up Files."_s;
const QString kNotDataDirectory = u"\r\n\r\nYou Should Not Choose Quillor' Data Dir\r\nWhich "
                                  u"Contains Your Current \r\nQuillor Data Files."_s;
const QString kNotSharedDirectory =
    u"\r\n\r\nYou Should Not Choose A Directory\r\nOther Users Can Write To.\r\nThey Could "
    u"Replace Your Back-Up Files."_s;
const QString kKeepFiles = u"\r\n\r\nYour New Selected Back-Up\r\nDirectory Already Has Files In "
                           u"It.\r\n\r\nDo You Want To Keep The Files?"_s;
const QString kMoveFiles = u"\r\n\r\nDo You Want To Move Your Current \r\nBack-Up Files To Your "
                           u"New \r\nSelected Back-Up Directory?\r\n"_s;
const QString kDeleteOldFiles = u"\r\n\r\n\r\nDo You Want To Delete Your \r\nOld Back-Up Files?"_s;

QString reminder(const QString& password)
{
    return u"IMPORTANT: \r\nDon't Forget, Your Password Is:\r\n"_s + password +
           u"\r\nYou Will Need It The Next \r\nTime You Run Quillor.\r\n\r\nYou Also May Change "
           u"It Then, If You Like."_s;
}

const QList<TestData::Item> kItems = {
    {"First page", "https://one.example/", "alice", "secret 1"},
    {"Second page", "https://two.example/", "bob", "secret 2"},
};

constexpr qint16 kYes = MessageAnswer::Yes;
constexpr qint16 kNo = MessageAnswer::No;

} // namespace

class TestOptions : public QObject, private WindowFixture {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void menuEntriesWork();
    void oneWindowAtATime();
    void aboutMode();
    void controlsAndTabOrder();
    void toolTips_data();
    void toolTips();
    void focusMarkerAndEnter();

    void reEnableMessages_data();
    void reEnableMessages();
    void autoEnter_data();
    void autoEnter();
    void tipsApplyToOpenWindows_data();
    void tipsApplyToOpenWindows();
    void hiddenUserNames_data();
    void hiddenUserNames();
    void closingCheck_data();
    void closingCheck();
    void mainWindowClosesIt();

    void chooseDirectory_data();
    void chooseDirectory();
    void applyDirectory_data();
    void applyDirectory();
    void moveMadeButNotFinishedKeepsTheOldPair();

private:
    [[nodiscard]] bool openOptions(const char* entry = "mnu1ApSettings");
    OptionsWindow* options() const { return m_window->appCommands().optionsWindow(); }
    template <typename T = QWidget> T* control(const char* name) const
    {
        return options()->findChild<T*>(QString::fromLatin1(name));
    }
    QCheckBox* box(const char* name) const { return control<QCheckBox>(name); }
    void click(const char* name) { QTest::mouseClick(control(name), Qt::LeftButton); }
    // The chooser gives this, or cancels when it is empty; the starts it was given are kept.
    void chooserGives(const QString& directory);
    // Outside the data directory, which the fixture's own directory is.
    QString path(const QString& relative) const { return m_elsewhere->filePath(relative); }

    std::unique_ptr<QTemporaryDir> m_elsewhere;
    QStringList m_chooserStarts;
};

void TestOptions::initTestCase()
{
    keepRunningWithoutWindows();
    dropOffscreenPlatformWarnings();
    QCoreApplication::setApplicationVersion(u"4.0.1002"_s);
}

void TestOptions::init()
{
    QTest::failOnWarning(QRegularExpression(u".*"_s));
    setUpFixture();
    m_elsewhere = std::make_unique<QTemporaryDir>();
    QVERIFY(m_elsewhere->isValid());
    m_state->paths.programDirectory = path(u"program"_s);
    QVERIFY(QDir().mkpath(m_state->paths.programDirectory));
    m_chooserStarts.clear();
}

void TestOptions::cleanup()
{
    tearDownFixture();
    m_elsewhere.reset();
}

bool TestOptions::openOptions(const char* entry)
{
    if (!m_window) {
        writeLinks(kItems);
        if (!openMainWindow() || !unlock())
            return false;
    }
    m_window->menus().action(entry)->trigger();
    return options() != nullptr && options()->isVisible();
}

void TestOptions::chooserGives(const QString& directory)
{
    m_window->appCommands().setDirectoryChooser(
        [this, directory](QWidget*, const QString& start) -> std::optional<QString> {
            m_chooserStarts << start;
            if (directory.isEmpty())
                return std::nullopt;
            return directory;
        });
}

void TestOptions::menuEntriesWork()
{
    QVERIFY(openMainWindow());
    for (QMenu* menu : {m_window->menus().listMenu(), m_window->menus().appMenu()}) {
        // A hidden entry counts as disabled; each is wired where it shows.
        for (const QAction* a : menu->actions())
            QVERIFY2(a->isSeparator() || !a->isVisible() || a->isEnabled(),
                     qPrintable(a->objectName()));
    }
}

void TestOptions::oneWindowAtATime()
{
    QVERIFY(openOptions());
    OptionsWindow* first = options();
    QCOMPARE(first->mode(), OptionsWindow::Mode::Settings);
    QVERIFY(m_state->optionsOpen);
    QVERIFY(openOptions("mnu1About"));
    QCOMPARE(options(), first);
    QCOMPARE(first->mode(), OptionsWindow::Mode::Settings);
    QCOMPARE(m_window->findChildren<OptionsWindow*>().size(), 1);

    first->close();
    QTRY_VERIFY(!options());
    QVERIFY(!m_state->optionsOpen);
    QVERIFY(openOptions("mnu1About"));
    QCOMPARE(options()->mode(), OptionsWindow::Mode::About);
    QVERIFY(m_state->aboutMode);
}

void TestOptions::aboutMode()
{
    m_state->settings.noTips = 1;
    m_state->settings.messageSuppression[3] = u'1';
    const Settings before = m_state->settings;
    QVERIFY(openOptions("mnu1About"));
    QCOMPARE(options()->windowTitle(), u"About: Quillor"_s);
    QVERIFY(control(("Frame2"))->isVisible());
    QCOMPARE(control(("Frame2"))->geometry(), options()->rect());
    QCOMPARE(control<QLabel>("Label6")->text(), u"Vs. 4.0.1002"_s);
    QVERIFY(!control("Frame3")->isVisible());
    // What a user looking for their files needs, and what the cipher is worth.
    const QString text = control<QLabel>("aboutText")->text();
    QVERIFY2(text.contains(m_state->paths.dataDirectory.toHtmlEscaped()), qPrintable(text));
    QVERIFY(text.contains(u"40-bit"_s));
    QVERIFY(text.contains(u"Licence"_s));

    // Closing never asks, and nothing is saved.
    QTest::keyClick(options(), Qt::Key_Escape);
    QTRY_VERIFY(!options());
    QVERIFY(m_answers->shown().isEmpty());
    QCOMPARE(m_state->settings.noTips, before.noTips);
    QCOMPARE(m_state->settings.messageSuppression, before.messageSuppression);
}

void TestOptions::controlsAndTabOrder()
{
    QVERIFY(openOptions());
    const QList<std::pair<const char*, QString>> captions = {
        {"Command2", u"Cancel"_s},
        {"Command3", u"Exit && Save"_s},
        {"Check2", u"Don't Show Tips Over Buttons && Boxes"_s},
        {"Check4", u"Hide Usernames ( Like Passwords)"_s},
        {"Check5", u"Use Auto-Enter -Quillor- Password"_s},
        {"Check6", u"Re-Enable All Message Windows"_s},
        {"Check3", u"Don't Show Delete && Confirm Messages"_s},
        {"Command4", u"Back-Up Dir"_s},
    };
    for (const auto& [name, caption] : captions) {
        auto* b = control<QAbstractButton>(name);
        QVERIFY2(b, name);
        QCOMPARE(b->text(), caption);
    }
    QCOMPARE(control<QGroupBox>("Frame3")->title(), u"Settings"_s);
    QCOMPARE(control<QGroupBox>("Frame1")->title(), u" Encryption Mode "_s);
    QVERIFY(control<QLabel>("Label1")->text().contains(u"RC4"_s));
    QVERIFY(!control("Check3")->isVisible());
    QVERIFY(!control("Frame2")->isVisible());
    QVERIFY(!control("Picture9")->isVisible());
    QCOMPARE(options()->size(), QSize(496, 252));

    QStringList order;
    QWidget* w = control("Command2");
    for (int i = 0; i < 10; ++i, w = w->nextInFocusChain()) {
        while (!(w->focusPolicy() & Qt::TabFocus))
            w = w->nextInFocusChain();
        order << w->objectName();
    }
    QCOMPARE(order,
             QStringList({u"Command2"_s, u"Command3"_s, u"Check2"_s, u"Check3"_s, u"Check4"_s,
                          u"Check5"_s, u"Check1"_s, u"Command4"_s, u"Text1"_s, u"Check6"_s}));
}

void TestOptions::toolTips_data()
{
    QTest::addColumn<qint16>("noTips");
    QTest::newRow("tips on") << qint16(0);
    QTest::newRow("tips off") << qint16(1);
}

void TestOptions::toolTips()
{
    QFETCH(qint16, noTips);
    m_state->settings.noTips = noTips;
    QVERIFY(openOptions());
    const QList<std::pair<const char*, QString>> tips = {
        {"Command2", u"Disregard Any Settings Changes And Exit"_s},
        {"Command3", u"Save Any Settings Changes And Exit"_s},
        {"Command4", u"Select or Change The Directory Where =Quillor= Backs-Up Your Links And "
                     u"Settings Files"_s},
        {"Text1", u"Your Selected Back-Up Directory For =Quillor= Files"_s},
        {"Check1", u"Remove The Check To Clear And Have No Back-Up Directory"_s},
    };
    for (const auto& [name, tip] : tips)
        QCOMPARE(control(name)->toolTip(), noTips == 0 ? tip : QString());
}

void TestOptions::focusMarkerAndEnter()
{
    QVERIFY(openOptions());
    // Not qWaitForWindowActive: it counts a window as active while its owner is.
    QVERIFY(QTest::qWaitFor([this] { return options()->isActiveWindow(); }));
    QWidget* marker = control("Picture9");
    for (const char* name : {"Check2", "Check4", "Check5", "Check1"}) {
        QCheckBox* b = box(name);
        b->setFocus(Qt::TabFocusReason);
        QVERIFY(marker->isVisible());
        QCOMPARE(marker->pos(), b->pos() + QPoint(-4, 1));
        const bool before = b->isChecked();
        QTest::keyClick(b, Qt::Key_Return);
        QCOMPARE(b->isChecked(), !before);
        QTest::keyClick(b, Qt::Key_Enter);
        QCOMPARE(b->isChecked(), before);
    }
    // The re-enable box has neither.
    box("Check6")->setEnabled(true);
    box("Check6")->setFocus(Qt::TabFocusReason);
    QVERIFY(!marker->isVisible());
    QTest::keyClick(box("Check6"), Qt::Key_Return);
    QVERIFY(!box("Check6")->isChecked());
    control("Command3")->setFocus(Qt::TabFocusReason);
    QVERIFY(!marker->isVisible());
}

// Each row: the suppression string, whether the box is enabled, whether it is set before saving.
void TestOptions::reEnableMessages_data()
{
    QTest::addColumn<QString>("suppression");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("set");
    QTest::newRow("nothing switched off") << QString(100, u'0') << false << false;
    QTest::newRow("one switched off, kept")
        << QString(7, u'0') + u'1' + QString(92, u'0') << true << false;
    QTest::newRow("one switched off, re-enabled")
        << QString(7, u'0') + u'1' + QString(92, u'0') << true << true;
    QTest::newRow("short string, re-enabled") << u"0101"_s << true << true;
}

void TestOptions::reEnableMessages()
{
    QFETCH(QString, suppression);
    QFETCH(bool, enabled);
    QFETCH(bool, set);
    m_state->settings.messageSuppression = suppression;
    QVERIFY(openOptions());
    QCOMPARE(box("Check6")->isEnabled(), enabled);
    QVERIFY(!box("Check6")->isChecked());
    if (set)
        click("Check6");
    click("Command3");
    QTRY_VERIFY(!options());
    QVERIFY(m_answers->shown().isEmpty());
    QCOMPARE(m_state->settings.messageSuppression, set ? QString(100, u'0') : suppression);
}

// Each row: the auto-enter setting before, how often the box is clicked, the messages shown, the
// auto-enter setting and password after.
void TestOptions::autoEnter_data()
{
    QTest::addColumn<qint16>("before");
    QTest::addColumn<int>("clicks");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<qint16>("after");
    QTest::addColumn<QString>("password");
    const QString pomelo = QString::fromLatin1(TestData::kPassword);
    QTest::newRow("switched on") << qint16(0) << 1 << QStringList() << qint16(1) << pomelo;
    QTest::newRow("switched off") << qint16(1) << 1 << QStringList{reminder(pomelo)} << qint16(0)
                                  << u"Quilsjs"_s;
    QTest::newRow("toggled twice") << qint16(1) << 2 << QStringList() << qint16(1) << u"typed"_s;
}

void TestOptions::autoEnter()
{
    QFETCH(qint16, before);
    QFETCH(int, clicks);
    QFETCH(QStringList, shown);
    QFETCH(qint16, after);
    QFETCH(QString, password);
    writeLinks(kItems);
    QVERIFY(openMainWindow());
    m_state->settings.autoEnter = before;
    m_state->settings.autoEnterPassword = u"typed"_s;
    QVERIFY(unlock());
    QVERIFY(openOptions());
    for (int i = 0; i < clicks; ++i)
        click("Check5");
    click("Command3");
    QTRY_VERIFY(!options());
    QCOMPARE(m_answers->texts(), shown);
    if (!shown.isEmpty())
        QCOMPARE(m_answers->shown().first().kind, MessageKind::Ok);
    QCOMPARE(m_state->settings.autoEnter, after);
    QCOMPARE(m_state->settings.autoEnterPassword, password);
}

// Each row: how often "Don't Show Tips" is clicked before saving.
void TestOptions::tipsApplyToOpenWindows_data()
{
    QTest::addColumn<int>("clicks");
    QTest::newRow("once") << 1;
    QTest::newRow("twice") << 2;
}

void TestOptions::tipsApplyToOpenWindows()
{
    QFETCH(int, clicks);
    QVERIFY(openOptions());
    m_window->openEnterItemsWindow();
    EnterItemsWindow* enterItems = m_window->enterItemsWindow();
    QVERIFY(enterItems);
    auto* menuButton = m_window->findChild<QWidget*>(u"Command6"_s);
    auto* addButton = enterItems->findChild<QWidget*>(u"Command1"_s);
    QVERIFY(!menuButton->toolTip().isEmpty() && !addButton->toolTip().isEmpty());

    for (int i = 0; i < clicks; ++i)
        click("Check2");
    click("Command3");
    QTRY_VERIFY(!options());
    const bool off = clicks % 2 == 1;
    QCOMPARE(m_state->settings.noTips, qint16(off ? 1 : 0));
    QCOMPARE(menuButton->toolTip().isEmpty(), off);
    QCOMPARE(addButton->toolTip().isEmpty(), off);
    QVERIFY(m_answers->shown().isEmpty());
}

void TestOptions::hiddenUserNames_data()
{
    QTest::addColumn<qint16>("before");
    QTest::newRow("hiding them") << qint16(0);
    QTest::newRow("showing them") << qint16(1);
}

void TestOptions::hiddenUserNames()
{
    QFETCH(qint16, before);
    m_state->settings.hiddenUserNames = before;
    QVERIFY(openOptions());
    const auto shownUserNames = [this] {
        QStringList names;
        for (int row = 0; row < m_window->model().rowCount(); ++row)
            names << m_window->model().index(row, 1).data().toString();
        return names;
    };
    const QStringList masked = {u"ooooooo"_s, u"ooooooo"_s};
    const QStringList real = {u"alice"_s, u"bob"_s};
    QCOMPARE(shownUserNames(), before == 1 ? masked : real);
    click("Check4");
    click("Command3");
    QTRY_VERIFY(!options());
    QCOMPARE(m_state->settings.hiddenUserNames, qint16(before == 1 ? 0 : 1));
    QCOMPARE(shownUserNames(), before == 1 ? real : masked);
    QCOMPARE(m_window->menus().action("mnu1ViewHidUsername")->isVisible(), before == 0);
}

// Each row: the box changed, the way of closing, the answer to the question (0: not asked),
// whether the window stays open.
void TestOptions::closingCheck_data()
{
    QTest::addColumn<QByteArray>("changed");
    QTest::addColumn<QByteArray>("closing");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("staysOpen");
    QTest::newRow("auto-enter only, Cancel") << "Check5"_ba
                                             << "cancel"_ba << 0 << false;
    QTest::newRow("re-enable only, Escape") << "Check6"_ba
                                            << "escape"_ba << 0 << false;
    QTest::newRow("tips, Escape, No") << "Check2"_ba
                                      << "escape"_ba << int(kNo) << true;
    QTest::newRow("tips, Escape, Yes") << "Check2"_ba
                                       << "escape"_ba << int(kYes) << false;
    QTest::newRow("user names, close box, No") << "Check4"_ba
                                               << "box"_ba << int(kNo) << true;
    QTest::newRow("back-up directory cleared, Cancel, Yes") << "Check1"_ba
                                                            << "cancel"_ba << int(kYes) << false;
    QTest::newRow("tips twice, Cancel") << "Check2 Check2"_ba
                                        << "cancel"_ba << 0 << false;
}

void TestOptions::closingCheck()
{
    QFETCH(QByteArray, changed);
    QFETCH(QByteArray, closing);
    QFETCH(int, answer);
    QFETCH(bool, staysOpen);
    const QString backUp = path(u"back-up"_s);
    QVERIFY(QDir().mkpath(backUp));
    m_state->settings.backupDirectory = backUp;
    m_state->settings.messageSuppression[0] = u'1';
    const Settings before = m_state->settings;
    QVERIFY(openOptions());
    for (const QByteArray& name : changed.split(' '))
        click(name.constData());
    if (answer != 0)
        m_answers->queue(qint16(answer));
    if (closing == "cancel")
        click("Command2");
    else if (closing == "escape")
        QTest::keyClick(control("Check2"), Qt::Key_Escape);
    else
        options()->close();

    if (answer == 0) {
        QVERIFY(m_answers->shown().isEmpty());
    } else {
        QCOMPARE(m_answers->shown().size(), 1);
        QCOMPARE(m_answers->shown().first(),
                 (ScriptedAnswers::Shown{MessageKind::YesNo, kExitWithoutSaving, 0}));
    }
    if (staysOpen) {
        QVERIFY(options() && options()->isVisible());
        QVERIFY(options()->changePending());
        QVERIFY(m_state->optionsOpen);
    } else {
        QTRY_VERIFY(!options());
        QVERIFY(!m_state->optionsOpen);
    }
    // Nothing is saved either way.
    QCOMPARE(m_state->settings.noTips, before.noTips);
    QCOMPARE(m_state->settings.hiddenUserNames, before.hiddenUserNames);
    QCOMPARE(m_state->settings.autoEnter, before.autoEnter);
    QCOMPARE(m_state->settings.backupDirectory, before.backupDirectory);
    QCOMPARE(m_state->settings.messageSuppression, before.messageSuppression);
}

void TestOptions::mainWindowClosesIt()
{
    QVERIFY(openOptions());
    click("Check2"); // pending: it would ask if it were closed on its own
    m_window->close();
    QTRY_VERIFY(!options());
    QVERIFY(!m_state->optionsOpen);
    QVERIFY(m_answers->shown().isEmpty());
}

// Each row: the saved back-up directory, whether question 10 is switched off, the answer to it,
// the chooser's choice (empty: cancelled), the messages, the pending directory, Text1 and
// Check1 afterwards. Paths are under the test's directory; "DATA" stands for the data directory.
void TestOptions::chooseDirectory_data()
{
    QTest::addColumn<QString>("saved");
    QTest::addColumn<bool>("switchedOff");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QString>("pending");
    QTest::addColumn<bool>("checked");
    QTest::newRow("first choice") << u""_s << false << int(kYes) << u"new"_s
                                  << QStringList{kSelectQuestion} << u"new"_s << true;
    QTest::newRow("a change, with a trailing slash")
        << u"old"_s << false << int(kYes) << u"new/"_s << QStringList{kChangeQuestion} << u"new"_s
        << true;
    QTest::newRow("question answered No") << u"old"_s << false << int(kNo) << u"new"_s
                                          << QStringList{kChangeQuestion} << u"old"_s << true;
    QTest::newRow("dialog cancelled") << u"old"_s << false << int(kYes) << u""_s
                                      << QStringList{kChangeQuestion} << u"old"_s << true;
    QTest::newRow("the root, stored as \"/\"")
        << u""_s << true << 0 << u"/"_s << QStringList() << u"/"_s << true;
    QTest::newRow("question switched off")
        << u""_s << true << 0 << u"new"_s << QStringList() << u"new"_s << true;
    QTest::newRow("the program directory") << u"old"_s << true << 0 << u"program"_s
                                           << QStringList{kNotProgramDirectory} << u"old"_s << true;
    QTest::newRow("the data directory")
        << u""_s << true << 0 << u"DATA"_s << QStringList{kNotDataDirectory} << u""_s << false;
    QTest::newRow("UnDo in the data directory")
        << u"old"_s << true << 0 << u"DATA/UnDo"_s << QStringList{kNotDataDirectory} << u"old"_s
        << true;
    QTest::newRow("a directory others can write to")
        << u"old"_s << true << 0 << u"shared"_s << QStringList{kNotSharedDirectory} << u"old"_s
        << true;
}

void TestOptions::chooseDirectory()
{
    QFETCH(QString, saved);
    QFETCH(bool, switchedOff);
    QFETCH(int, answer);
    QFETCH(QString, choice);
    QFETCH(QStringList, shown);
    QFETCH(QString, pending);
    QFETCH(bool, checked);
    for (const char* dir : {"old", "new", "shared"})
        QVERIFY(QDir().mkpath(path(QString::fromLatin1(dir))));
    QCOMPARE(::chmod(QFile::encodeName(path(u"shared"_s)).constData(), 01777), 0);
    QVERIFY(QDir().mkpath(m_dir->filePath(u"UnDo"_s)));
    m_state->settings.backupDirectory = saved.isEmpty() ? QString() : path(saved);
    if (switchedOff)
        m_state->settings.messageSuppression[9] = u'1';
    QVERIFY(openOptions());
    const QString textBefore = control<QLineEdit>("Text1")->text();
    // Relative to the test's directory, or to the data directory, or absolute.
    QString chosen = choice;
    if (chosen.startsWith(u"DATA"_s))
        chosen = m_state->paths.dataDirectory + chosen.mid(4);
    else if (!chosen.isEmpty() && !chosen.startsWith(u'/'))
        chosen = path(chosen);
    chooserGives(chosen);
    if (answer != 0)
        m_answers->queue(qint16(answer));
    click("Command4");

    QCOMPARE(m_answers->texts(), shown);
    if (!switchedOff)
        QCOMPARE(m_answers->shown().first().number, qint16(10));
    const bool asked = switchedOff || answer == kYes;
    QCOMPARE(m_chooserStarts,
             asked ? QStringList{m_state->settings.backupDirectory} : QStringList());
    const QString pendingPath = pending.isEmpty()          ? QString()
                                : pending.startsWith(u'/') ? pending
                                                           : path(pending);
    QCOMPARE(options()->pendingBackUpDirectory(), pendingPath);
    QCOMPARE(box("Check1")->isChecked(), checked);
    // A refusal leaves the box's text as it was.
    const bool refused = shown.contains(kNotProgramDirectory) ||
                         shown.contains(kNotDataDirectory) || shown.contains(kNotSharedDirectory);
    QCOMPARE(control<QLineEdit>("Text1")->text(), refused ? textBefore : pendingPath);
    QCOMPARE(options()->changePending(), pendingPath != m_state->settings.backupDirectory);
}

// Each row: the pair files in the old and in the new directory ("" for none; "-" for no old
// directory at all, "x" for a new one cleared with Check1), the answers in turn, the questions,
// and the files in the old and the new directory afterwards (as "M" for QuiFil.ini, "L" for
// QuiURL.dab, lower-case for a file that came from the old directory).
void TestOptions::applyDirectory_data()
{
    QTest::addColumn<QString>("oldFiles");
    QTest::addColumn<QString>("newFiles");
    QTest::addColumn<QList<int>>("answers");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QString>("oldAfter");
    QTest::addColumn<QString>("newAfter");
    QTest::newRow("first directory, empty")
        << u"-"_s << u""_s << QList<int>{} << QStringList{} << u""_s << u""_s;
    QTest::newRow("first directory, files kept")
        << u"-"_s << u"ML"_s << QList<int>{kYes} << QStringList{kKeepFiles} << u""_s << u"ML"_s;
    QTest::newRow("only QuiURL.dab there, deleted")
        << u"-"_s << u"L"_s << QList<int>{kNo} << QStringList{kKeepFiles} << u""_s << u""_s;
    QTest::newRow("old files moved")
        << u"ML"_s << u""_s << QList<int>{kYes} << QStringList{kMoveFiles} << u""_s << u"ml"_s;
    QTest::newRow("kept files, then the old moved over them")
        << u"ML"_s << u"L"_s << QList<int>{kYes, kYes} << QStringList{kKeepFiles, kMoveFiles}
        << u""_s << u"ml"_s;
    QTest::newRow("old QuiFil.ini alone moved over a kept pair")
        << u"M"_s << u"ML"_s << QList<int>{kYes, kYes} << QStringList{kKeepFiles, kMoveFiles}
        << u""_s << u"m"_s;
    QTest::newRow("old files not moved")
        << u"ML"_s << u"M"_s << QList<int>{kYes, kNo} << QStringList{kKeepFiles, kMoveFiles}
        << u"ML"_s << u"M"_s;
    QTest::newRow("cleared, old files deleted")
        << u"ML"_s << u"x"_s << QList<int>{kYes} << QStringList{kDeleteOldFiles} << u""_s << u""_s;
    QTest::newRow("cleared, old files kept")
        << u"ML"_s << u"x"_s << QList<int>{kNo} << QStringList{kDeleteOldFiles} << u"ML"_s << u""_s;
    QTest::newRow("cleared, no old files")
        << u""_s << u"x"_s << QList<int>{} << QStringList{} << u""_s << u""_s;
}

void TestOptions::applyDirectory()
{
    QFETCH(QString, oldFiles);
    QFETCH(QString, newFiles);
    QFETCH(QList<int>, answers);
    QFETCH(QStringList, shown);
    QFETCH(QString, oldAfter);
    QFETCH(QString, newAfter);
    const QString oldDir = path(u"old"_s);
    const QString newDir = path(u"new"_s);
    const bool cleared = newFiles == u"x";
    const QByteArray oldMaster = "old QuiFil.ini", oldLink = "old QuiURL.dab";
    const QByteArray newMaster = "new QuiFil.ini", newLink = "new QuiURL.dab";
    const auto place = [](const QString& dir, const QString& files, const QByteArray& master,
                          const QByteArray& link) {
        QVERIFY(QDir().mkpath(dir));
        if (files.contains(u'M'))
            QVERIFY(TestData::writeFile(dir + u"/QuiFil.ini"_s, master));
        if (files.contains(u'L'))
            QVERIFY(TestData::writeFile(dir + u"/QuiURL.dab"_s, link));
    };
    if (oldFiles != u"-") {
        place(oldDir, oldFiles, oldMaster, oldLink);
        m_state->settings.backupDirectory = oldDir;
    }
    if (!cleared)
        place(newDir, newFiles, newMaster, newLink);

    QVERIFY(openOptions());
    m_state->settings.messageSuppression[9] = u'1';
    if (cleared) {
        click("Check1");
    } else {
        chooserGives(newDir);
        click("Command4");
    }
    for (int answer : answers)
        m_answers->queue(qint16(answer));
    click("Command3");
    QTRY_VERIFY(!options());

    QCOMPARE(m_answers->texts(), shown);
    for (const ScriptedAnswers::Shown& s : m_answers->shown())
        QCOMPARE(s.kind, MessageKind::YesNo);
    QCOMPARE(m_state->settings.backupDirectory, cleared ? QString() : newDir);
    const auto filesIn = [&](const QString& dir) {
        QString files;
        const QByteArray master = TestData::readFile(dir + u"/QuiFil.ini"_s);
        const QByteArray link = TestData::readFile(dir + u"/QuiURL.dab"_s);
        if (QFileInfo::exists(dir + u"/QuiFil.ini"_s))
            files += master == oldMaster ? u"m"_s : master == newMaster ? u"M"_s : u"?"_s;
        if (QFileInfo::exists(dir + u"/QuiURL.dab"_s))
            files += link == oldLink ? u"l"_s : link == newLink ? u"L"_s : u"?"_s;
        return files;
    };
    // Files that stay where they were keep their letter's case.
    QString oldNow = filesIn(oldDir);
    oldNow = oldNow.toUpper();
    QCOMPARE(oldNow, oldAfter);
    QCOMPARE(filesIn(newDir), newAfter);
    QCOMPARE(TestData::entriesOf(newDir).size(), newAfter.size());
}

// The move's switch in the new directory is decided, then cannot be finished: what stands where
// its QuiURL.dab is to go is a directory. The copy of the old QuiFil.ini is in place, so the
// move is not reported as failed; the old pair stays, as the copy that is sure.
void TestOptions::moveMadeButNotFinishedKeepsTheOldPair()
{
    const QString oldDir = path(u"old"_s);
    const QString newDir = path(u"new"_s);
    const QByteArray oldMaster = "old QuiFil.ini";
    QVERIFY(QDir().mkpath(oldDir));
    QVERIFY(TestData::writeFile(oldDir + u"/QuiFil.ini"_s, oldMaster));
    m_state->settings.backupDirectory = oldDir;
    QVERIFY(QDir().mkpath(newDir + u"/QuiURL.dab/inside"_s));

    QVERIFY(openOptions());
    m_state->settings.messageSuppression[9] = u'1';
    chooserGives(newDir);
    click("Command4");
    m_answers->queue(kYes);
    m_answers->queue(kYes);
    click("Command3");
    QTRY_VERIFY(!options());

    const QStringList texts = m_answers->texts();
    QCOMPARE(texts.size(), 3);
    QCOMPARE(texts.mid(0, 2), QStringList({kKeepFiles, kMoveFiles}));
    QVERIFY2(texts[2].startsWith(u"\r\n\r\n\r\nThe Change Was Made, But It May Not\r\nSurvive A "
                                 u"Power Cut Or A System Crash:\r\n"_s),
             qPrintable(texts[2]));
    QCOMPARE(TestData::readFile(newDir + u"/QuiFil.ini"_s), oldMaster);
    QCOMPARE(TestData::entriesOf(oldDir), QStringList(u"QuiFil.ini"_s));
    QCOMPARE(TestData::readFile(oldDir + u"/QuiFil.ini"_s), oldMaster);
    QCOMPARE(m_state->settings.backupDirectory, newDir);
}

QTEST_MAIN(TestOptions)
#include "tst_options.moc"
