#include "OffscreenWarnings.h"
#include "TestData.h"
#include "WindowFixture.h"
#include "startup/AppState.h"
#include "ui/entry/EnterItemsWindow.h"
#include "ui/main/AddressOpener.h"
#include "ui/main/AppCommands.h"
#include "ui/main/ClipboardGuard.h"
#include "ui/main/EntryListView.h"
#include "ui/main/MainMenus.h"
#include "ui/main/MainWindow.h"
#include "ui/message/ShowMessage.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

#include <memory>

using namespace Qt::StringLiterals;

using OptionalFont = std::optional<QFont>;
Q_DECLARE_METATYPE(OptionalFont)

namespace {

using TestData::kPassword;

// Row 1 has neither an address nor a password; row 2's password holds a Windows-1252 byte.
const QList<TestData::Item> kItems = {
    {"First page", "https://one.example/", "alice", "secret 1"},
    {"No address", "", "bob", ""},
    {"Third page", "ftp://three.example", "carol", "p\x80ss"},
};
const QString kMask = u"ooooooo"_s;
const QString kHint = u"x-kde-passwordManagerHint"_s;
const QString kUserCopy = u"the user's own copy"_s;

QUrl desktop(const QString& target)
{
    return QUrl::fromUserInput(target);
}

// Text9 is a text box; whichever kind the Enter Items window chose.
QString textOf(const QWidget* box)
{
    if (const auto* line = qobject_cast<const QLineEdit*>(box))
        return line->text();
    if (const auto* plain = qobject_cast<const QPlainTextEdit*>(box))
        return plain->toPlainText();
    if (const auto* rich = qobject_cast<const QTextEdit*>(box))
        return rich->toPlainText();
    return box->property("text").toString();
}

} // namespace

class TestListCommands : public QObject, private WindowFixture {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void navigation_data();
    void navigation();
    void navigateCommand_data();
    void navigateCommand();
    void emptyListGuard();

    void copy_data();
    void copy();
    void waylandCompositorCopy_data();
    void waylandCompositorCopy();
    void copyEmptyPassword_data();
    void copyEmptyPassword();
    void hiddenUserNameNeverMasked_data();
    void hiddenUserNameNeverMasked();
    void reveal_data();
    void reveal();

    void openEnterItemsWindow_data();
    void openEnterItemsWindow();
    void loadEnterItemsBoxes();
    void selectedTitleFollowsTheList();
    void closingClosesEnterItems();

    void textFonts_data();
    void textFonts();
    void companionBrowser_data();
    void companionBrowser();
    void helpPage();
    void helpPageCoversEveryMenuEntry();
    void updatePage();

private:
    [[nodiscard]] bool openUnlocked(const QList<TestData::Item>& items = kItems);
    EntryListView* list() const { return m_window->findChild<EntryListView*>(u"ListView1"_s); }
    QPoint rowCentre(int row) const;
    void gesture(const QString& what, int row);
    void trigger(const char* action) { m_window->menus().action(action)->trigger(); }
    void clickHeader(int column);
    QWidget* enterItemsBox(const char* name) const;
    void makeExecutable(const QString& path, bool executable = true);

    // What the address opener was asked to do, in place of starting browsers.
    QList<std::pair<QString, QStringList>> m_programs;
    QList<QUrl> m_urls;
    bool m_programsStart = true;
};

void TestListCommands::initTestCase()
{
    keepRunningWithoutWindows();
    dropOffscreenPlatformWarnings();
}

void TestListCommands::init()
{
    QTest::failOnWarning(QRegularExpression(u".*"_s));
    setUpFixture();
    QVERIFY(QDir().mkpath(m_dir->filePath(u"opt/quillor"_s)));
    m_state->paths.programDirectory = m_dir->filePath(u"opt/quillor"_s);
    m_state->settings.fontName = u"DejaVu Sans"_s;
    m_state->settings.fontSize = 10;
    m_programs.clear();
    m_urls.clear();
    m_programsStart = true;
    QGuiApplication::clipboard()->setText(kUserCopy);
}

void TestListCommands::cleanup()
{
    if (m_window) {
        // The Enter Items window goes first, while the state it points at still exists.
        if (QPointer<QWidget> enterItems = m_window->enterItemsWindow()) {
            enterItems->close();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QVERIFY(enterItems.isNull());
        }
        for (QMenu* menu : m_window->findChildren<QMenu*>())
            menu->hide();
    }
    tearDownFixture();
    QGuiApplication::clipboard()->clear();
}

bool TestListCommands::openUnlocked(const QList<TestData::Item>& items)
{
    if (!items.isEmpty())
        writeLinks(items);
    if (!openMainWindow())
        return false;
    m_window->addressOpener().setLauncher(
        {[this](const QString& program, const QStringList& arguments) {
             m_programs.append({program, arguments});
             return m_programsStart;
         },
         [this](const QUrl& url) {
             m_urls.append(url);
             return true;
         }});
    return unlock() && m_window->model().rowCount() == items.size();
}

QPoint TestListCommands::rowCentre(int row) const
{
    return list()->visualRect(list()->model()->index(row, 0)).center();
}

// "click", "double" or "right" on a row, as the mouse gives them.
void TestListCommands::gesture(const QString& what, int row)
{
    QWidget* viewport = list()->viewport();
    if (what == u"click")
        QTest::mouseClick(viewport, Qt::LeftButton, {}, rowCentre(row));
    else if (what == u"double") {
        // What the widgets get from a real double click.
        QTest::mouseClick(viewport, Qt::LeftButton, {}, rowCentre(row));
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, rowCentre(row));
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, rowCentre(row));
    } else if (what == u"right") {
        QTest::mouseClick(viewport, Qt::RightButton, {}, rowCentre(row));
        QMenu* menu = m_window->menus().listMenu();
        QVERIFY(menu->isVisible());
        menu->hide();
    } else
        QFAIL(qPrintable(what));
}

void TestListCommands::clickHeader(int column)
{
    QHeaderView* header = list()->header();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                    header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

QWidget* TestListCommands::enterItemsBox(const char* name) const
{
    QWidget* window = m_window->enterItemsWindow();
    return window ? window->findChild<QWidget*>(QString::fromLatin1(name)) : nullptr;
}

void TestListCommands::makeExecutable(const QString& path, bool executable)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QVERIFY(TestData::writeFile(path, "#!/bin/sh\n"));
    QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
    if (executable)
        permissions |= QFile::ExeOwner;
    QVERIFY(QFile::setPermissions(path, permissions));
}

void TestListCommands::navigation_data()
{
    QTest::addColumn<bool>("oneClick");
    QTest::addColumn<QStringList>("gestures"); // "what row"
    QTest::addColumn<QList<QUrl>>("opened");

    const QUrl one = desktop(u"https://one.example/"_s);
    const QUrl three = desktop(u"ftp://three.example"_s);
    QTest::newRow("1-click: click") << true << QStringList{u"click 0"_s} << QList{one};
    // The click before the double-click has navigated already.
    QTest::newRow("1-click: double-click opens once")
        << true << QStringList{u"double 0"_s} << QList{one};
    QTest::newRow("1-click: right click only shows the menu")
        << true << QStringList{u"right 0"_s} << QList<QUrl>();
    // The skip set by the right button is taken by its own click, not by the next left one.
    QTest::newRow("1-click: right click, then click")
        << true << QStringList{u"right 0"_s, u"click 2"_s} << QList{three};
    QTest::newRow("1-click: two clicks open twice")
        << true << QStringList{u"click 0"_s, u"click 2"_s} << QList{one, three};
    QTest::newRow("1-click: empty address") << true << QStringList{u"click 1"_s} << QList<QUrl>();
    QTest::newRow("double: click") << false << QStringList{u"click 0"_s} << QList<QUrl>();
    QTest::newRow("double: double-click") << false << QStringList{u"double 2"_s} << QList{three};
    QTest::newRow("double: right click, then double-click")
        << false << QStringList{u"right 0"_s, u"double 0"_s} << QList{one};
    QTest::newRow("double: empty address") << false << QStringList{u"double 1"_s} << QList<QUrl>();
}

void TestListCommands::navigation()
{
    QFETCH(bool, oneClick);
    QFETCH(QStringList, gestures);
    QFETCH(QList<QUrl>, opened);

    m_state->settings.oneClick = oneClick ? 1 : 0;
    QVERIFY(openUnlocked());
    QCOMPARE(m_window->findChild<QCheckBox*>(u"Check1"_s)->isChecked(), oneClick);
    for (const QString& g : gestures) {
        const QStringList parts = g.split(u' ');
        gesture(parts[0], parts[1].toInt());
        QCOMPARE(m_window->currentRow(), parts[1].toInt());
    }
    QCOMPARE(m_urls, opened);
    QVERIFY(m_programs.isEmpty());
    QVERIFY(m_answers->shown().isEmpty());
}

void TestListCommands::navigateCommand_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QList<QUrl>>("opened");
    QTest::newRow("with an address") << 2 << QList{desktop(u"ftp://three.example"_s)};
    QTest::newRow("empty address") << 1 << QList<QUrl>();
}

void TestListCommands::navigateCommand()
{
    QFETCH(int, row);
    QFETCH(QList<QUrl>, opened);
    QVERIFY(openUnlocked());
    m_window->selectRow(row);
    trigger("mnu1NavTo");
    QCOMPARE(m_urls, opened);
}

// With nothing in the list no list command touches anything; the application menu still works.
void TestListCommands::emptyListGuard()
{
    QVERIFY(openUnlocked({}));
    QWidget* viewport = list()->viewport();
    QTest::mouseClick(viewport, Qt::RightButton, {}, QPoint(20, 10));
    QVERIFY(!m_window->menus().listMenu()->isVisible());

    for (const char* action :
         {"mnu1NavTo", "mnu1CopyUzzaToClip", "mnu1CopyPassToClip", "mnu1CopyTitleToClip",
          "mnu1CopyURLToClip", "mnu1LoadTextBoxes", "mnu1ViewHidUsername", "mnu1ViewPass"})
        trigger(action);
    for (int column = 0; column < 4; ++column)
        clickHeader(column);
    QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(20, 10));
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, QPoint(20, 10));

    QCOMPARE(QGuiApplication::clipboard()->text(), kUserCopy);
    QVERIFY(!m_window->clipboard().timer().isActive());
    QVERIFY(m_window->findChild<QLabel*>(u"Label4"_s)->text().isEmpty());
    QVERIFY(!m_window->enterItemsWindow());
    QVERIFY(m_urls.isEmpty());

    m_window->findChild<QPushButton*>(u"Command6"_s)->click();
    QVERIFY(m_window->menus().appMenu()->isVisible());
}

void TestListCommands::copy_data()
{
    QTest::addColumn<QString>("source"); // a menu entry, or "header N"
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("copied");

    QTest::newRow("menu: page title") << u"mnu1CopyTitleToClip"_s << 0 << u"First page"_s;
    QTest::newRow("menu: URL address") << u"mnu1CopyURLToClip"_s << 2 << u"ftp://three.example"_s;
    QTest::newRow("menu: username") << u"mnu1CopyUzzaToClip"_s << 1 << u"bob"_s;
    QTest::newRow("menu: password") << u"mnu1CopyPassToClip"_s << 2 << u"p€ss"_s;
    QTest::newRow("header: Page Title") << u"header 0"_s << 2 << u"Third page"_s;
    QTest::newRow("header: Username") << u"header 1"_s << 0 << u"alice"_s;
    QTest::newRow("header: Password") << u"header 2"_s << 0 << u"secret 1"_s;
    QTest::newRow("header: URL Address") << u"header 3"_s << 0 << u"https://one.example/"_s;
}

void TestListCommands::copy()
{
    QFETCH(QString, source);
    QFETCH(int, row);
    QFETCH(QString, copied);

    QVERIFY(openUnlocked());
    m_window->selectRow(row);
    if (source.startsWith(u"header "))
        clickHeader(source.mid(7).toInt());
    else
        trigger(source.toLatin1().constData());

    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    QVERIFY(data);
    QCOMPARE(data->text(), copied);
    QCOMPARE(data->data(kHint), QByteArrayLiteral("secret"));
    QVERIFY(m_window->clipboard().timer().isActive());
    // A header click copies; it neither sorts nor moves the selection.
    QCOMPARE(list()->model()->index(0, 0).data().toString(), u"First page"_s);
    QCOMPARE(list()->model()->index(2, 0).data().toString(), u"Third page"_s);
    QVERIFY(!list()->header()->isSortIndicatorShown());
    QCOMPARE(m_window->currentRow(), row);
    QVERIFY(m_urls.isEmpty());
}

void TestListCommands::copyEmptyPassword_data()
{
    QTest::addColumn<bool>("header");
    QTest::newRow("menu") << false;
    QTest::newRow("header") << true;
}

// The user's clipboard is cleared and left empty, and the timer still runs.
void TestListCommands::copyEmptyPassword()
{
    QFETCH(bool, header);
    QVERIFY(openUnlocked());
    m_window->selectRow(1);
    if (header)
        clickHeader(2);
    else
        trigger("mnu1CopyPassToClip");
    QCOMPARE(QGuiApplication::clipboard()->text(), QString());
    QVERIFY(m_window->clipboard().timer().isActive());
    m_window->clipboard().expire();
    QCOMPARE(QGuiApplication::clipboard()->text(), QString());
}

// Each row: a Wayland session or not, wl-copy present or not, whether the user copied something
// else after us, how our copy ends; then how often wl-copy --clear ran, and the messages shown.
void TestListCommands::waylandCompositorCopy_data()
{
    QTest::addColumn<bool>("wayland");
    QTest::addColumn<bool>("wlCopyPresent");
    QTest::addColumn<bool>("userCopiedSince");
    QTest::addColumn<bool>("closing");
    QTest::addColumn<int>("clears");
    QTest::addColumn<QStringList>("messages");
    const QStringList none;
    QTest::newRow("after 30 s") << true << true << false << false << 1 << none;
    QTest::newRow("at closing") << true << true << false << true << 1 << none;
    QTest::newRow("the user's copy is kept") << true << true << true << false << 0 << none;
    QTest::newRow("the user's copy is kept at closing")
        << true << true << true << true << 0 << none;
    QTest::newRow("X11 needs none") << false << true << false << false << 0 << none;
    QTest::newRow("no wl-copy: said once")
        << true << false << false << false << 0 << QStringList{ClipboardGuard::kNoWlCopy};
}

void TestListCommands::waylandCompositorCopy()
{
    QFETCH(bool, wayland);
    QFETCH(bool, wlCopyPresent);
    QFETCH(bool, userCopiedSince);
    QFETCH(bool, closing);
    QFETCH(int, clears);
    QFETCH(QStringList, messages);

    // A stand-in for wl-copy that notes its arguments.
    const QString calls = m_dir->filePath(u"wl-copy.calls"_s);
    const QString wlCopy = m_dir->filePath(u"wl-copy"_s);
    makeExecutable(wlCopy);
    QVERIFY(TestData::writeFile(wlCopy, "#!/bin/sh\necho \"$@\" >>'" + calls.toUtf8() + "'\n"));
    QVERIFY(openUnlocked());
    m_window->clipboard().setWayland(wayland, wlCopyPresent ? wlCopy : QString());
    m_window->selectRow(0);
    trigger("mnu1CopyPassToClip");
    trigger("mnu1CopyUzzaToClip");
    if (userCopiedSince)
        QGuiApplication::clipboard()->setText(kUserCopy);
    if (closing)
        m_window->close();
    else
        m_window->clipboard().expire();

    QCOMPARE(QGuiApplication::clipboard()->text(), userCopiedSince ? kUserCopy : QString());
    QCOMPARE(TestData::readFile(calls), QByteArray("--clear\n").repeated(clears));
    QCOMPARE(m_answers->texts(), messages);
}

void TestListCommands::hiddenUserNameNeverMasked_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("Copy Username") << u"mnu1CopyUzzaToClip"_s;
    QTest::newRow("Username header") << u"header"_s;
    QTest::newRow("Load Enter Items boxes") << u"mnu1LoadTextBoxes"_s;
    QTest::newRow("View Hidden Username") << u"mnu1ViewHidUsername"_s;
}

void TestListCommands::hiddenUserNameNeverMasked()
{
    QFETCH(QString, command);
    m_state->settings.hiddenUserNames = 1;
    QVERIFY(openUnlocked());
    QCOMPARE(list()->model()->index(2, 1).data().toString(), kMask);
    m_window->selectRow(2);
    if (command == u"header")
        clickHeader(1);
    else
        trigger(command.toLatin1().constData());

    QString shown;
    if (command == u"mnu1LoadTextBoxes") {
        QVERIFY(enterItemsBox("Text2"));
        shown = textOf(enterItemsBox("Text2"));
    } else if (command == u"mnu1ViewHidUsername") {
        shown = m_window->findChild<QLabel*>(u"Label4"_s)->text();
    } else {
        shown = QGuiApplication::clipboard()->text();
    }
    QCOMPARE(shown, u"carol"_s);
}

void TestListCommands::reveal_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("revealed");
    QTest::newRow("password") << u"mnu1ViewPass"_s << 2 << u"p€ss"_s;
    QTest::newRow("no password") << u"mnu1ViewPass"_s << 1 << QString();
    QTest::newRow("hidden username") << u"mnu1ViewHidUsername"_s << 0 << u"alice"_s;
}

// The revealed item goes to the box, replacing what it showed; the clipboard is emptied and
// the timer has nothing to do.
void TestListCommands::reveal()
{
    QFETCH(QString, command);
    QFETCH(int, row);
    QFETCH(QString, revealed);

    m_state->settings.hiddenUserNames = 1;
    QVERIFY(openUnlocked());
    auto* box = m_window->findChild<QLabel*>(u"Label4"_s);
    box->setText(u"shown before"_s);
    m_window->selectRow(row);
    trigger(command.toLatin1().constData());
    QCOMPARE(box->text(), revealed);
    QCOMPARE(QGuiApplication::clipboard()->text(), QString());
    QVERIFY(!m_window->clipboard().timer().isActive());
}

void TestListCommands::openEnterItemsWindow_data()
{
    QTest::addColumn<bool>("fromMenu");
    QTest::newRow("button") << false;
    QTest::newRow("menu") << true;
}

// Opening creates the window beside the main one with the focus in its URL box; opening it
// again neither makes a second nor moves the first.
void TestListCommands::openEnterItemsWindow()
{
    QFETCH(bool, fromMenu);
    QVERIFY(openUnlocked());
    const auto open = [&] {
        if (fromMenu)
            trigger("mnu1EnterItems");
        else
            m_window->findChild<QPushButton*>(u"Command7"_s)->click();
    };
    QVERIFY(m_window->findChild<QPushButton*>(u"Command7"_s)->isEnabled());

    open();
    QPointer<QWidget> window = m_window->enterItemsWindow();
    QVERIFY(window);
    QVERIFY(m_state->enterItemsOpen);
    QVERIFY(window->isVisible());
    QVERIFY(!window->isModal());
    QCOMPARE(window->pos(), m_window->pos() + QPoint(24, 2)); // 360 and 30 twips
    QVERIFY(window->focusWidget());
    QCOMPARE(window->focusWidget()->objectName(), u"Text5"_s);

    window->move(window->pos() + QPoint(40, 30));
    const QPoint moved = window->pos();
    open();
    QCOMPARE(static_cast<QWidget*>(m_window->enterItemsWindow()), window.data());
    QCOMPARE(window->pos(), moved);

    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(window.isNull());
    QVERIFY(!m_state->enterItemsOpen);
    QVERIFY(!m_window->enterItemsWindow());
    // After closing, a new one starts from scratch.
    open();
    QVERIFY(m_window->enterItemsWindow());
}

void TestListCommands::loadEnterItemsBoxes()
{
    QVERIFY(openUnlocked());
    m_window->selectRow(2);
    trigger("mnu1LoadTextBoxes");
    QWidget* window = m_window->enterItemsWindow();
    QVERIFY(window);
    QVERIFY(window->isVisible());
    QCOMPARE(window->pos(), m_window->pos() + QPoint(24, 2));
    const auto boxes = [this] {
        return QStringList{textOf(enterItemsBox("Text1")), textOf(enterItemsBox("Text2")),
                           textOf(enterItemsBox("Text3")), textOf(enterItemsBox("Text5"))};
    };
    QCOMPARE(boxes(),
             QStringList({u"Third page"_s, u"carol"_s, u"p€ss"_s, u"ftp://three.example"_s}));

    // The open window is filled again; an entry without a password empties the password box.
    m_window->selectRow(1);
    trigger("mnu1LoadTextBoxes");
    QCOMPARE(static_cast<QWidget*>(m_window->enterItemsWindow()), window);
    QCOMPARE(boxes(), QStringList({u"No address"_s, u"bob"_s, QString(), QString()}));
    QVERIFY(m_answers->shown().isEmpty());
}

// Clicks and keyboard moves alike put the selected title into the Enter Items window.
void TestListCommands::selectedTitleFollowsTheList()
{
    QVERIFY(openUnlocked());
    m_window->openEnterItemsWindow();
    QWidget* title = enterItemsBox("Text9");
    QVERIFY(title);

    gesture(u"click"_s, 2);
    QCOMPARE(textOf(title), u"Third page"_s);
    list()->setFocus();
    QTest::keyClick(list(), Qt::Key_Up);
    QCOMPARE(m_window->currentRow(), 1);
    QCOMPARE(textOf(title), u"No address"_s);
    QVERIFY(m_urls.isEmpty());
}

void TestListCommands::closingClosesEnterItems()
{
    QVERIFY(openUnlocked());
    m_window->openEnterItemsWindow();
    QPointer<QWidget> window = m_window->enterItemsWindow();
    QVERIFY(window);
    QVERIFY(m_window->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(window.isNull());
    QVERIFY(!m_state->enterItemsOpen);
}

void TestListCommands::textFonts_data()
{
    QTest::addColumn<QString>("savedName");
    QTest::addColumn<float>("savedSize");
    QTest::addColumn<OptionalFont>("chosen");
    QTest::addColumn<QFont>("offered");
    QTest::addColumn<QString>("name");
    QTest::addColumn<float>("size");
    QTest::addColumn<bool>("bold");

    const auto font = [](const QString& family, double size, bool bold) {
        QFont f(family);
        f.setPointSizeF(size);
        f.setBold(bold);
        return f;
    };
    const QFont saved = font(u"DejaVu Sans"_s, 10, false);
    QTest::newRow("14 becomes 12")
        << u"DejaVu Sans"_s << 10.0f << OptionalFont(font(u"DejaVu Serif"_s, 14, true)) << saved
        << u"DejaVu Serif"_s << 12.0f << true;
    QTest::newRow("12 stays") << u"DejaVu Sans"_s << 10.0f
                              << OptionalFont(font(u"DejaVu Sans Mono"_s, 12, false)) << saved
                              << u"DejaVu Sans Mono"_s << 12.0f << false;
    QTest::newRow("12.25 stays") << u"DejaVu Sans"_s << 10.0f
                                 << OptionalFont(font(u"DejaVu Sans"_s, 12.25, false)) << saved
                                 << u"DejaVu Sans"_s << 12.25f << false;
    // The dialog names a family found at several foundries with the foundry; the file, carried
    // to another system, must name a font it knows.
    QTest::newRow("foundry dropped")
        << u"DejaVu Sans"_s << 10.0f << OptionalFont(font(u"Nimbus Sans [UKWN]"_s, 10, false))
        << saved << u"Nimbus Sans"_s << 10.0f << false;
    QTest::newRow("foundry of a family with blanks dropped")
        << u"DejaVu Sans"_s << 10.0f << OptionalFont(font(u"Nimbus Sans Narrow [URW]"_s, 11, true))
        << saved << u"Nimbus Sans Narrow"_s << 11.0f << true;
    QTest::newRow("cancelled") << u"DejaVu Sans"_s << 10.0f << OptionalFont() << saved
                               << u"DejaVu Sans"_s << 10.0f << false;
    // A cancelled dialog gives back what it was offered: Arial 9 where nothing was saved.
    QTest::newRow("cancelled, nothing saved")
        << QString() << 0.0f << OptionalFont() << font(u"Arial"_s, 9, false) << u"Arial"_s << 9.0f
        << false;
}

void TestListCommands::textFonts()
{
    QFETCH(QString, savedName);
    QFETCH(float, savedSize);
    QFETCH(OptionalFont, chosen);
    QFETCH(QFont, offered);
    QFETCH(QString, name);
    QFETCH(float, size);
    QFETCH(bool, bold);

    m_state->settings.fontName = savedName;
    m_state->settings.fontSize = savedSize;
    QVERIFY(openUnlocked());
    m_window->openEnterItemsWindow();
    QList<QFont> asked;
    m_window->appCommands().setFontChooser([&](const QFont& current) {
        asked << current;
        return chosen;
    });
    trigger("mnu1Font");

    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked[0].family(), offered.family());
    QCOMPARE(asked[0].pointSizeF(), offered.pointSizeF());
    QCOMPARE(asked[0].bold(), offered.bold());
    const Settings& s = m_state->settings;
    QCOMPARE(s.fontName, name);
    QCOMPARE(s.fontSize, size);
    QCOMPARE(s.fontBold, bold);
    // Applied to the list and to the open Enter Items window.
    for (const QWidget* shown : {static_cast<QWidget*>(list()), enterItemsBox("Text1")}) {
        QVERIFY(shown);
        QCOMPARE(shown->font().family(), name);
        QCOMPARE(shown->font().pointSizeF(), double(size));
        QCOMPARE(shown->font().bold(), bold);
    }
}

void TestListCommands::companionBrowser_data()
{
    QTest::addColumn<QStringList>("installed"); // under the program directory's parent
    QTest::addColumn<QStringList>("notExecutable");
    QTest::addColumn<bool>("starts");
    QTest::addColumn<QStringList>("tried");
    QTest::addColumn<bool>("desktop");

    QTest::newRow("none") << QStringList() << QStringList() << true << QStringList() << true;
    QTest::newRow("Vantoro") << QStringList{u"Vantoro/Vantoro"_s} << QStringList() << true
                             << QStringList{u"Vantoro/Vantoro"_s} << false;
    QTest::newRow("Olvimar2, Windows name")
        << QStringList{u"Olvimar2/Olvimar2.exe"_s} << QStringList() << true
        << QStringList{u"Olvimar2/Olvimar2.exe"_s} << false;
    QTest::newRow("both: Vantoro first")
        << QStringList{u"Vantoro/Vantoro"_s, u"Olvimar2/Olvimar2"_s} << QStringList() << true
        << QStringList{u"Vantoro/Vantoro"_s} << false;
    QTest::newRow("not executable")
        << QStringList() << QStringList{u"Vantoro/Vantoro"_s} << true << QStringList() << true;
    // A companion that cannot start hands on to the next, then to the desktop.
    QTest::newRow("both fail to start")
        << QStringList{u"Vantoro/Vantoro"_s, u"Olvimar2/Olvimar2"_s} << QStringList() << false
        << QStringList{u"Vantoro/Vantoro"_s, u"Olvimar2/Olvimar2"_s} << true;
}

// The address goes to the companion as one argument; the help page as its path, unchanged.
void TestListCommands::companionBrowser()
{
    QFETCH(QStringList, installed);
    QFETCH(QStringList, notExecutable);
    QFETCH(bool, starts);
    QFETCH(QStringList, tried);
    QFETCH(bool, desktop);

    const QString parent = m_dir->filePath(u"opt"_s);
    for (const QString& name : installed)
        makeExecutable(parent + u'/' + name);
    for (const QString& name : notExecutable)
        makeExecutable(parent + u'/' + name, false);
    m_programsStart = starts;
    QVERIFY(openUnlocked());

    const QString address = u"https://one.example/"_s;
    const QString help = m_state->paths.programDirectory + u"/QuillorHelp.htm"_s;
    const struct {
        std::function<void()> act;
        QString argument;
        QUrl url;
    } targets[] = {{[&] { gesture(u"double"_s, 0); }, address, ::desktop(address)},
                   {[&] { trigger("mnu1Help"); }, help, QUrl::fromLocalFile(help)}};
    for (const auto& target : targets) {
        m_programs.clear();
        m_urls.clear();
        target.act();
        QList<std::pair<QString, QStringList>> expected;
        for (const QString& name : tried)
            expected.append({parent + u'/' + name, QStringList{target.argument}});
        QCOMPARE(m_programs, expected);
        QCOMPARE(m_urls, desktop ? QList{target.url} : QList<QUrl>());
    }
}

// The help page lies beside the program, and the desktop gets it as a local file.
void TestListCommands::helpPage()
{
    m_state->paths.programDirectory = QStringLiteral(QUILLOR_BUILD_DIR);
    QVERIFY(openUnlocked({}));
    trigger("mnu1Help");
    QCOMPARE(m_urls,
             QList{QUrl::fromLocalFile(QStringLiteral(QUILLOR_BUILD_DIR) + u"/QuillorHelp.htm"_s)});
    QVERIFY(m_urls[0].isLocalFile());
    QVERIFY(QFileInfo(m_urls[0].toLocalFile()).isFile());
}

// A new user finds every command of both menus explained on the help page.
void TestListCommands::helpPageCoversEveryMenuEntry()
{
    QFile file(QStringLiteral(QUILLOR_BUILD_DIR "/QuillorHelp.htm"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QString page = QString::fromUtf8(bytes);
    QCOMPARE(page.toUtf8(), bytes); // valid UTF-8
    page.replace(u"&amp;"_s, u"&"_s);

    QVERIFY(openUnlocked({}));
    QStringList missing;
    for (const QMenu* menu : {m_window->menus().listMenu(), m_window->menus().appMenu()}) {
        for (const QAction* action : menu->actions()) {
            if (action->isSeparator())
                continue;
            QString caption = action->text();
            caption.replace(u"&&"_s, u"\x01"_s).remove(u'&').replace(u'\x01', u'&');
            if (!page.contains(caption))
                missing << caption;
        }
    }
    QCOMPARE(missing, QStringList());
}

void TestListCommands::updatePage()
{
    QVERIFY(openUnlocked({}));
    trigger("mnu1QuilUpdates");
    // Our own page, installed beside the help page; it names the version it came with.
    const QString page = m_state->paths.programDirectory + u"/Quillor-Updates.htm"_s;
    QCOMPARE(m_urls, QList{QUrl::fromLocalFile(page)});
    const QByteArray built =
        TestData::readFile(QStringLiteral(QUILLOR_BUILD_DIR "/Quillor-Updates.htm"));
    QVERIFY(built.contains("version <strong>" QUILLOR_VERSION "</strong>"));
}

QTEST_MAIN(TestListCommands)
#include "tst_listcommands.moc"
