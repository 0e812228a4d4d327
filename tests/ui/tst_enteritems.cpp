#include "CaptionFit.h"
#include "FileSizeLimit.h"
#include "TestData.h"
#include "WindowFixture.h"
#include "startup/AppState.h"
#include "store/LinkFile.h"
#include "store/Windows1252.h"
#include "ui/entry/EnterItemsWindow.h"
#include "ui/main/EntryListView.h"
#include "ui/main/MainMenus.h"
#include "ui/main/MainWindow.h"
#include "ui/message/ShowMessage.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using Shown = ScriptedAnswers::Shown;

namespace {

using TestData::kPassword;

const QList<TestData::Item> kItems = {
    {"First page", "https://one.example/", "alice", "secret 1"},
    {"Second page", "https://two.example/", "bob", ""},
    {"Third page", "ftp://three.example", "carol", "s3"},
    {"Fourth page", "https://four.example/", "dave", "pw 4"},
    {"Fifth page", "https://five.example/", "erin", "pw5"},
};

// Typed with blanks around them; stored without.
const QStringList kTyped = {u"  New page "_s, u" newbie"_s, u" pass word "_s,
                            u"https://new.example/  "_s};
const TestData::Item kNewItem = {"New page", "https://new.example/", "newbie", "pass word"};

const QString kItemLines = u"Page Title:  New page\r\nUsername:  newbie\r\nPassword:  pass word\r\n"
                           "URL Address:  https://new.example/"_s;
const QString kAddQuestion =
    u"Do You Want To Add This New\r\n Item Set To The List?\r\n"_s + kItemLines;
const QString kReplaceQuestion =
    u"Do You Want To Replace The Selected List Item\r\nWith The Following Values: \r\n"_s +
    kItemLines;
const QString kAddFailed = u"\r\n\r\n\r\nError, Unable To Add Addrress \r\n(add)"_s;
const QString kReplaceFailed = u"\r\n\r\n\r\nAn Error Occurred Adding \r\nUsername Info To List"_s;
const QString kNoAddresses = u"\r\n\r\n\r\nEach Username-Password Item Is Associated \r\nWith The "
                             "Selected URL Address.  \r\nThere Are No Addresses On The List."_s;
const QString kLoadFailed = u"\r\n\r\n\r\nAn Error Occurred Opening File \r\nAnd Loading Lists"_s;

const QStringList kBoxes = {u"Text1"_s, u"Text2"_s, u"Text3"_s, u"Text5"_s};

const QList<std::pair<const char*, QString>> kToolTips = {
    {"Command1", u"Adds A New Set Of Items To List From The 4 Text Boxes (above)."_s},
    {"Command2", u"Replaces The Selected, Existing Set Of List Items (highlighted) From The 4 Text "
                 "Boxes (above)."_s},
    {"Command8", u"Loads The Text Boxes With The Selected List Items (highlighted)"_s},
    {"Command9", u"Clears The Text Boxes"_s},
    {"Text1", u"(optional)(Edit Here To Add New or Replace Selected List Items)"_s},
    {"Text2", u"(optional)(Edit Here To Add New or Replace Selected List Items)"_s},
    {"Text3", u"(optional)(Edit Here To Add New or Replace Selected List Items)"_s},
    {"Text5", u"(optional)(Edit Here To Add New or Replace Selected List Items)"_s},
    {"Text9", u"Currently Selected List Item (scrollable)"_s},
    {"Check3", u"Keep This Window Open When Items Are Entered"_s},
    {"Check4", u"Keep This Window On Top Of Other Windows"_s},
};

QString describe(const TestData::Item& item)
{
    return QStringList{Windows1252::toUnicode(item.title), Windows1252::toUnicode(item.userName),
                       Windows1252::toUnicode(item.password), Windows1252::toUnicode(item.url)}
        .join(u" | ");
}

QString describe(const Entry& entry)
{
    return describe(TestData::Item{entry.title().toByteArray(), entry.url().toByteArray(),
                                   entry.userName().toByteArray(),
                                   TestData::decrypt(entry.passwordCipher(), kPassword)});
}

QStringList describe(const QList<TestData::Item>& items)
{
    QStringList lines;
    for (const TestData::Item& item : items)
        lines << describe(item);
    return lines;
}

} // namespace

// Found by QCOMPARE for lists of shown messages.
char* toString(const ScriptedAnswers::Shown& shown)
{
    QString text = shown.text;
    text.replace(u"\r\n"_s, u"|"_s);
    return QTest::toString(
        u"(kind %1, number %2, \"%3\")"_s.arg(shown.kind).arg(shown.number).arg(text));
}

class TestEnterItems : public QObject, private WindowFixture {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void controls_data();
    void controls();
    void fonts();
    void captionsFit();
    void tabOrder();
    void toolTips();
    void typingLimits_data();
    void typingLimits();
    void pastedLineBreaksRemoved_data();
    void pastedLineBreaksRemoved();
    void pastedPasswordStoredWithoutLineBreak();
    void pastedControlCharactersNeverStored_data();
    void pastedControlCharactersNeverStored();
    void focusMarkerAndEnterKey_data();
    void focusMarkerAndEnterKey();
    void onTop();
    void selectedTitle_data();
    void selectedTitle();
    void closingClearsFlag();

    void loadBoxes_data();
    void loadBoxes();
    void clearBoxesKeepsTheRest();
    void loadedItemsShowTheirStart_data();
    void loadedItemsShowTheirStart();

    void add_data();
    void add();
    void addTwiceKeptOpen();
    void addEmptyItems();
    void addLongestItems();
    void hiddenUserNames();
    void replace_data();
    void replace();
    void replaceKeyNumber_data();
    void replaceKeyNumber();
    void replaceOnEmptyList_data();
    void replaceOnEmptyList();
    void replaceWithoutSelection();
    void unstorableCharacter_data();
    void unstorableCharacter();
    void writeFailureChangesNothing_data();
    void writeFailureChangesNothing();
    void listBehindFileChangesNothing_data();
    void listBehindFileChangesNothing();

private:
    [[nodiscard]] bool openMain(int entries);
    [[nodiscard]] bool openWindow();
    void type(const QStringList& texts);
    // The view still points at a row, but none is chosen.
    void selectNothing();
    QStringList boxes() const;
    QStringList listed() const;
    QStringList stored() const;
    QList<int> keys() const;

    template <class T = QWidget> T* child(const QString& name) const
    {
        return m_enterItems->findChild<T*>(name);
    }
    QLineEdit* box(const QString& name) const { return child<QLineEdit>(name); }
    QPushButton* button(const char* name) const
    {
        return child<QPushButton>(QString::fromLatin1(name));
    }

    QPointer<EnterItemsWindow> m_enterItems;
};

void TestEnterItems::initTestCase()
{
    keepRunningWithoutWindows();
}

void TestEnterItems::init()
{
    QTest::failOnWarning(QRegularExpression(u".*"_s));
    setUpFixture();
    m_state->settings.fontName = u"Courier New"_s;
    m_state->settings.fontSize = 11;
    m_state->settings.fontBold = true;
}

void TestEnterItems::cleanup()
{
    // The Enter Items window belongs to the main window and goes with it.
    m_window.reset();
    QVERIFY(m_enterItems.isNull());
    tearDownFixture();
}

bool TestEnterItems::openMain(int entries)
{
    if (entries > 0)
        writeLinks(kItems.first(entries));
    return openMainWindow() && unlock();
}

bool TestEnterItems::openWindow()
{
    m_enterItems = new EnterItemsWindow(*m_state, *m_window);
    m_enterItems->show();
    m_enterItems->activateWindow();
    // Not qWaitForWindowActive: it counts a window as active while its owner, the main window,
    // is.
    return QTest::qWaitFor([this] { return m_enterItems->isActiveWindow(); });
}

void TestEnterItems::type(const QStringList& texts)
{
    for (qsizetype i = 0; i < kBoxes.size(); ++i)
        box(kBoxes[i])->setText(texts[i]);
}

void TestEnterItems::selectNothing()
{
    m_window->findChild<EntryListView*>(u"ListView1"_s)->selectionModel()->clearSelection();
    QCOMPARE(m_window->currentRow(), -1);
}

QStringList TestEnterItems::boxes() const
{
    QStringList texts;
    for (const QString& name : kBoxes)
        texts << box(name)->text();
    return texts;
}

QStringList TestEnterItems::listed() const
{
    QStringList lines;
    for (const Entry& entry : m_window->model().entries())
        lines << describe(entry);
    return lines;
}

QStringList TestEnterItems::stored() const
{
    CipherService cipher;
    const LinkFileRead read =
        readLinkFile(m_state->paths.linkFilePath, kPassword, cipher, EmptyLinkFile::Keep);
    if (!read.ok())
        return {read.failure};
    QStringList lines;
    for (const Entry& entry : read.entries)
        lines << describe(entry);
    return lines;
}

QList<int> TestEnterItems::keys() const
{
    QList<int> numbers;
    for (const Entry& entry : m_window->model().entries())
        numbers << entry.keyNumber();
    return numbers;
}

void TestEnterItems::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("maxLength");

    const auto row = [](const QString& name, const QString& parent, const char* cls,
                        const QString& caption = {}, int maxLength = -1) {
        QTest::newRow(qPrintable(name))
            << name << parent << QString::fromLatin1(cls) << caption << maxLength;
    };
    row(u"Image3"_s, u"Form2"_s, "QLabel");
    row(u"Frame1"_s, u"Form2"_s, "QGroupBox", u"Enter List Items"_s);
    row(u"Label1(0)"_s, u"Frame1"_s, "QLabel", u"Page Title"_s);
    row(u"Label1(1)"_s, u"Frame1"_s, "QLabel", u"Username"_s);
    row(u"Label1(2)"_s, u"Frame1"_s, "QLabel", u"Password"_s);
    row(u"Label1(3)"_s, u"Frame1"_s, "QLabel", u"URL Address"_s);
    row(u"Text1"_s, u"Frame1"_s, "QLineEdit", {}, 96);
    row(u"Text2"_s, u"Frame1"_s, "QLineEdit", {}, 96);
    row(u"Text3"_s, u"Frame1"_s, "QLineEdit", {}, 96);
    row(u"Text5"_s, u"Frame1"_s, "QLineEdit", {}, 400);
    row(u"Picture1"_s, u"Frame1"_s, "QWidget");
    row(u"Command8"_s, u"Picture1"_s, "QPushButton", u"Load Boxes"_s);
    row(u"Command9"_s, u"Picture1"_s, "QPushButton", u"Clear Boxes"_s);
    row(u"Command1"_s, u"Form2"_s, "QPushButton", u"== Add New Items =="_s);
    row(u"Command2"_s, u"Form2"_s, "QPushButton", u"== Replace Selected Items =="_s);
    row(u"Check3"_s, u"Form2"_s, "QCheckBox", u"keep open"_s);
    row(u"Check4"_s, u"Form2"_s, "QCheckBox", u"on top"_s);
    row(u"Text9"_s, u"Form2"_s, "QLineEdit", {}, 32767);
    row(u"Picture4"_s, u"Form2"_s, "FocusMarker");
}

void TestEnterItems::controls()
{
    QFETCH(QString, name);
    QFETCH(QString, parentName);
    QFETCH(QString, className);
    QFETCH(QString, caption);
    QFETCH(int, maxLength);

    QVERIFY(openMain(0));
    QVERIFY(openWindow());
    QCOMPARE(m_enterItems->objectName(), u"Form2"_s);
    QCOMPARE(m_enterItems->windowTitle(), u"Quillor - Enter Items"_s);
    QCOMPARE(m_enterItems->size(), QSize(367, 247)); // 5505 x 3705 twips
    // Fixed in size, so nothing to maximise.
    QCOMPARE(m_enterItems->minimumSize(), m_enterItems->maximumSize());
    QVERIFY(m_enterItems->windowFlags().testFlag(Qt::CustomizeWindowHint));
    QVERIFY(!m_enterItems->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(m_enterItems->windowFlags().testFlag(Qt::WindowCloseButtonHint));

    QWidget* w = child(name);
    QVERIFY2(w, qPrintable(name));
    QCOMPARE(QString::fromLatin1(w->metaObject()->className()), className);
    QCOMPARE(w->parentWidget()->objectName(), parentName);
    QVERIFY(w->isVisibleTo(m_enterItems) || name == u"Picture4");
    if (auto* label = qobject_cast<QLabel*>(w))
        QCOMPARE(label->text(), caption);
    if (auto* frame = qobject_cast<QGroupBox*>(w))
        QCOMPARE(frame->title(), caption);
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        QCOMPARE(b->text(), caption);
        QVERIFY(!b->isCheckable() || !b->isChecked());
    }
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        QCOMPARE(edit->maxLength(), maxLength);
        QCOMPARE(edit->text(), QString());
        QCOMPARE(edit->isReadOnly(), name == u"Text9");
    }
}

// The design's family where the system has it, else the general font standing in for it.
static QString designFamily(const QString& family)
{
    return QFontDatabase::hasFamily(family)
               ? family
               : QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

void TestEnterItems::fonts()
{
    QVERIFY(openMain(0));
    QVERIFY(openWindow());
    for (const char* name : {"Frame1", "Label1(0)", "Label1(3)", "Command1", "Command2", "Command8",
                             "Command9", "Check3", "Check4"}) {
        const QFont font = child(QString::fromLatin1(name))->font();
        QCOMPARE(font.family(), designFamily(u"Impact"_s));
        QCOMPARE(font.pointSizeF(), 8.25);
        QVERIFY(!font.bold());
    }
    // The list font goes to the three plain boxes; the password box keeps its own.
    for (const QString& name : {u"Text1"_s, u"Text2"_s, u"Text5"_s}) {
        const QFont font = box(name)->font();
        QCOMPARE(font.family(), u"Courier New"_s);
        QCOMPARE(font.pointSizeF(), 11.0);
        QVERIFY(font.bold());
    }
    QFont font = box(u"Text3"_s)->font();
    QCOMPARE(font.family(), designFamily(u"Arial Black"_s));
    QVERIFY(font.bold());
    QCOMPARE(font.pointSizeF(), 8.25);
    font = box(u"Text9"_s)->font();
    QCOMPARE(font.family(), designFamily(u"Arial"_s));
    QCOMPARE(font.pointSizeF(), 8.25);

    // A new list font chosen in the main window arrives through TxtFonts2.
    m_state->settings.fontName = u"Verdana"_s;
    m_state->settings.fontBold = false;
    m_state->settings.fontSize = 8;
    m_enterItems->TxtFonts2();
    QCOMPARE(box(u"Text2"_s)->font().family(), u"Verdana"_s);
    QVERIFY(!box(u"Text5"_s)->font().bold());
    QCOMPARE(box(u"Text3"_s)->font().family(), designFamily(u"Arial Black"_s));

    // Every character of the password shows as "o", whatever it is.
    box(u"Text3"_s)->setText(u"pa ss"_s);
    QCOMPARE(box(u"Text3"_s)->displayText(), u"ooooo"_s);
}

void TestEnterItems::captionsFit()
{
    QVERIFY(openMain(0));
    QVERIFY(openWindow());
    const QStringList misfits = CaptionFit::captionsThatDoNotFit(m_enterItems);
    QVERIFY2(misfits.isEmpty(), qPrintable(misfits.join(u"; "_s)));
}

void TestEnterItems::tabOrder()
{
    QVERIFY(openMain(0));
    QVERIFY(openWindow());
    QWidget* first = button("Command1");
    QStringList order;
    QWidget* next = first;
    do {
        if ((next->focusPolicy() & Qt::TabFocus) && next->window() == m_enterItems)
            order << next->objectName();
        next = next->nextInFocusChain();
    } while (next != first && order.size() < 30);
    QCOMPARE(order, QStringList({u"Command1"_s, u"Command2"_s, u"Text5"_s, u"Text3"_s, u"Text2"_s,
                                 u"Text1"_s, u"Command8"_s, u"Command9"_s, u"Text9"_s, u"Check4"_s,
                                 u"Check3"_s}));
}

void TestEnterItems::toolTips()
{
    QVERIFY(openMain(0));
    QVERIFY(openWindow());
    for (const auto& [name, tip] : kToolTips)
        QCOMPARE(child(QString::fromLatin1(name))->toolTip(), tip);
    const auto withTips = [this] {
        QStringList names;
        for (QWidget* w : m_enterItems->findChildren<QWidget*>())
            if (!w->toolTip().isEmpty())
                names << w->objectName();
        return names;
    };
    QCOMPARE(withTips().size(), kToolTips.size());

    // The Option Settings window switches them off and on again while this window is open.
    m_state->settings.noTips = 1;
    m_enterItems->F2ToolT();
    QCOMPARE(withTips(), QStringList());
    m_state->settings.noTips = 0;
    m_enterItems->F2ToolT();
    QCOMPARE(withTips().size(), kToolTips.size());
}

void TestEnterItems::typingLimits_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("limit");
    QTest::newRow("page title") << u"Text1"_s << 96;
    QTest::newRow("user name") << u"Text2"_s << 96;
    QTest::newRow("password") << u"Text3"_s << 96;
    QTest::newRow("URL address") << u"Text5"_s << 400;
}

void TestEnterItems::typingLimits()
{
    QFETCH(QString, name);
    QFETCH(int, limit);
    QVERIFY(openMain(0));
    QVERIFY(openWindow());
    QLineEdit* edit = box(name);
    edit->setFocus();
    QTest::keyClicks(edit, QString(limit, u'a'));
    QCOMPARE(edit->text().size(), limit);
    QTest::keyClicks(edit, u"b"_s);
    QCOMPARE(edit->text(), QString(limit, u'a'));
}

void TestEnterItems::pastedLineBreaksRemoved_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("pasted");
    QTest::addColumn<QString>("kept");

    for (const QString& name : kBoxes) {
        const QByteArray row = name.toLatin1();
        QTest::newRow(row + ", two lines") << name << u"line1\nline2"_s << u"line1line2"_s;
        QTest::newRow(row + ", Windows line ends")
            << name << u"\r\nline1\r\nline2\r\n"_s << u"line1line2"_s;
        QTest::newRow(row + ", from a terminal") << name << u"s3cret\n"_s << u"s3cret"_s;
        QTest::newRow(row + ", nothing but a line end") << name << u"\r"_s << QString();
    }
}

// The boxes hold one line: what a paste brings in keeps its text, without the line breaks, and
// what was typed around it stays as typed.
void TestEnterItems::pastedLineBreaksRemoved()
{
    QFETCH(QString, name);
    QFETCH(QString, pasted);
    QFETCH(QString, kept);

    QVERIFY(openMain(0));
    QVERIFY(openWindow());
    QLineEdit* edit = box(name);
    edit->setFocus();
    QTest::keyClicks(edit, u"a b"_s);
    QGuiApplication::clipboard()->setText(pasted);
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClicks(edit, u"c"_s);
    QCOMPARE(edit->text(), u"a b"_s + kept + u"c"_s);
    QCOMPARE(edit->cursorPosition(), edit->text().size());

    // Undo never brings a line break back.
    QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(!edit->text().contains(u'\n') && !edit->text().contains(u'\r'));
    QGuiApplication::clipboard()->clear();
}

// A password copied from a terminal carries its newline; stored with it, it would never match
// the site's.
void TestEnterItems::pastedPasswordStoredWithoutLineBreak()
{
    m_state->settings.messageSuppression[7] = u'1';
    QVERIFY(openMain(0));
    QVERIFY(openWindow());
    type({u"Bank"_s, u"me"_s, QString(), u"https://bank.example/"_s});
    QLineEdit* password = box(u"Text3"_s);
    password->setFocus();
    QGuiApplication::clipboard()->setText(u"s3cret\n"_s);
    QTest::keyClick(password, Qt::Key_V, Qt::ControlModifier);
    QGuiApplication::clipboard()->clear();
    button("Command1")->click();
    QCOMPARE(stored(), QStringList{u"Bank | me | s3cret | https://bank.example/"_s});
}

void TestEnterItems::pastedControlCharactersNeverStored_data()
{
    QTest::addColumn<QString>("pasted");
    QTest::addColumn<QString>("kept");

    QTest::newRow("NUL") << u"a"_s + QChar(u'\0') + u"b"_s << u"ab"_s;
    QTest::newRow("start of heading") << u"a"_s + QChar(0x01) + u"b"_s << u"ab"_s;
    QTest::newRow("backspace") << u"a\bb"_s << u"ab"_s;
    QTest::newRow("a terminal's colour") << u"\x1b[31mred\x1b[0m"_s << u"[31mred[0m"_s;
    QTest::newRow("unit separator") << u"a"_s + QChar(0x1F) + u"b"_s << u"ab"_s;
    QTest::newRow("delete") << u"a\x7f"_s << u"a"_s;
    QTest::newRow("tab is kept") << u"a\tb"_s << u"a\tb"_s;
    QTest::newRow("Latin-1 is kept") << u"\u00e9\u00a0"_s << u"\u00e9\u00a0"_s;
}

// What a paste brings into any box reaches the list without a control character but tab: the
// same rule as every other writer of the files.
void TestEnterItems::pastedControlCharactersNeverStored()
{
    QFETCH(QString, pasted);
    QFETCH(QString, kept);
    m_state->settings.messageSuppression[7] = u'1';

    QVERIFY(openMain(0));
    QVERIFY(openWindow());
    for (const QString& name : kBoxes) {
        QLineEdit* edit = box(name);
        edit->setFocus();
        QGuiApplication::clipboard()->setText(pasted);
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(edit->text(), kept);
    }
    QGuiApplication::clipboard()->clear();
    button("Command1")->click();
    const QString entry = QStringList(4, kept).join(u" | "_s);
    QCOMPARE(stored(), QStringList{entry});
}

void TestEnterItems::focusMarkerAndEnterKey_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("keep open") << u"Check3"_s;
    QTest::newRow("on top") << u"Check4"_s;
}

void TestEnterItems::focusMarkerAndEnterKey()
{
    QFETCH(QString, name);
    QVERIFY(openMain(0));
    QVERIFY(openWindow());
    QWidget* marker = child(u"Picture4"_s);
    auto* check = child<QCheckBox>(name);
    QVERIFY(marker->isHidden());
    QCOMPARE(marker->palette().color(QPalette::Window), QColor(255, 192, 128));

    check->setFocus(Qt::TabFocusReason);
    QVERIFY(marker->isVisible());
    // 60 twips left of the box, 15 below its top; 45 x 195 twips.
    QCOMPARE(marker->geometry(), QRect(check->pos() + QPoint(-4, 1), QSize(3, 13)));

    QTest::keyClick(check, Qt::Key_Return);
    QVERIFY(check->isChecked());
    QTest::keyClick(check, Qt::Key_Enter);
    QVERIFY(!check->isChecked());
    QTest::keyClick(check, Qt::Key_Space);
    QVERIFY(check->isChecked());

    box(u"Text1"_s)->setFocus(Qt::TabFocusReason);
    QVERIFY(marker->isHidden());
}

void TestEnterItems::onTop()
{
    m_state->settings.onTop = 1;
    QVERIFY(openMain(0));
    QVERIFY(m_window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(openWindow());
    auto* onTopBox = child<QCheckBox>(u"Check4"_s);
    QVERIFY(onTopBox->isChecked());
    QVERIFY(m_enterItems->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(m_enterItems->isVisible());

    // Only this window stops floating.
    onTopBox->click();
    QVERIFY(!m_enterItems->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(m_enterItems->isVisible());
    QCOMPARE(m_state->settings.onTop, qint16(1));
    QVERIFY(m_window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));

    // The Enter key is a click too.
    onTopBox->setFocus();
    QTest::keyClick(onTopBox, Qt::Key_Return);
    QVERIFY(m_enterItems->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(m_enterItems->isVisible());
}

void TestEnterItems::selectedTitle_data()
{
    QTest::addColumn<int>("entries");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QString>("title");
    QTest::newRow("second selected") << 3 << 1 << u"Second page"_s;
    QTest::newRow("none selected") << 3 << -1 << QString();
    QTest::newRow("empty list") << 0 << -1 << QString();
}

void TestEnterItems::selectedTitle()
{
    QFETCH(int, entries);
    QFETCH(int, selected);
    QFETCH(QString, title);
    QVERIFY(openMain(entries));
    if (selected >= 0)
        m_window->selectRow(selected);
    else
        selectNothing();
    QVERIFY(openWindow());
    QCOMPARE(box(u"Text9"_s)->text(), title);

    m_enterItems->setSelectedTitle(u"Shown by the main window"_s);
    QCOMPARE(box(u"Text9"_s)->text(), u"Shown by the main window"_s);
}

void TestEnterItems::closingClearsFlag()
{
    QVERIFY(openMain(0));
    QVERIFY(!m_state->enterItemsOpen);
    QVERIFY(openWindow());
    QVERIFY(m_state->enterItemsOpen);
    QVERIFY(m_enterItems->close());
    QTRY_VERIFY(m_enterItems.isNull());
    QVERIFY(!m_state->enterItemsOpen);

    // The next one starts afresh.
    QVERIFY(openWindow());
    QVERIFY(m_state->enterItemsOpen);
    QCOMPARE(boxes(), QStringList(4, QString()));
}

void TestEnterItems::loadBoxes_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("hidden");
    QTest::addColumn<QStringList>("expected");

    const auto items = [](const TestData::Item& i) {
        return QStringList{QString::fromLatin1(i.title), QString::fromLatin1(i.userName),
                           QString::fromLatin1(i.password), QString::fromLatin1(i.url)};
    };
    QTest::newRow("with a password") << 0 << false << items(kItems[0]);
    QTest::newRow("without a password") << 1 << false << items(kItems[1]);
    // The list shows the mask; the box gets the real name.
    QTest::newRow("user names hidden") << 2 << true << items(kItems[2]);
    QTest::newRow("nothing selected") << -1 << false << QStringList{u"a"_s, u"b"_s, u"c"_s, u"d"_s};
}

void TestEnterItems::loadBoxes()
{
    QFETCH(int, row);
    QFETCH(bool, hidden);
    QFETCH(QStringList, expected);

    m_state->settings.hiddenUserNames = hidden ? 1 : 0;
    QVERIFY(openMain(3));
    if (row >= 0) {
        m_window->selectRow(row);
        QCOMPARE(m_window->model().index(row, EntryModel::UserNameColumn).data().toString(),
                 hidden ? u"ooooooo"_s : expected[1]);
    } else {
        selectNothing();
    }
    QVERIFY(openWindow());
    type({u"a"_s, u"b"_s, u"c"_s, u"d"_s});
    button("Command8")->click();
    QCOMPARE(boxes(), expected);
    QVERIFY(m_answers->shown().isEmpty());
}

void TestEnterItems::loadedItemsShowTheirStart_data()
{
    QTest::addColumn<bool>("fromListMenu");
    QTest::newRow("Load Boxes") << false;
    QTest::newRow("the list menu's Load") << true;
}

// Items longer than their boxes show where they begin, not where they end.
void TestEnterItems::loadedItemsShowTheirStart()
{
    QFETCH(bool, fromListMenu);
    const TestData::Item longest = {"Title " + QByteArray(90, 't'),
                                    "https://" + QByteArray(392, 'u'),
                                    "User " + QByteArray(91, 'u'), "Pass " + QByteArray(91, 'p')};
    writeLinks({longest});
    QVERIFY(openMain(0));
    if (fromListMenu) {
        // Opens the window, too.
        m_window->menus().action("mnu1LoadTextBoxes")->trigger();
        m_enterItems = m_window->enterItemsWindow();
        QVERIFY(m_enterItems);
    } else {
        QVERIFY(openWindow());
        button("Command8")->click();
    }
    QCOMPARE(boxes(), describe(longest).split(u" | "_s));
    for (const QString& name : kBoxes) {
        QLineEdit* edit = box(name);
        QVERIFY2(edit->fontMetrics().horizontalAdvance(edit->displayText()) > edit->width(),
                 qPrintable(name));
        QCOMPARE(edit->cursorPosition(), 0);
    }
}

void TestEnterItems::clearBoxesKeepsTheRest()
{
    QVERIFY(openMain(3));
    QVERIFY(openWindow());
    type(kTyped);
    m_enterItems->setSelectedTitle(u"Third page"_s);
    child<QCheckBox>(u"Check3"_s)->setChecked(true);
    child<QCheckBox>(u"Check4"_s)->setChecked(true);
    button("Command9")->click();
    QCOMPARE(boxes(), QStringList(4, QString()));
    QCOMPARE(box(u"Text9"_s)->text(), u"Third page"_s);
    QVERIFY(child<QCheckBox>(u"Check3"_s)->isChecked());
    QVERIFY(child<QCheckBox>(u"Check4"_s)->isChecked());
}

void TestEnterItems::add_data()
{
    QTest::addColumn<int>("entries");
    QTest::addColumn<QChar>("suppression");
    QTest::addColumn<int>("answer"); // 0: no question expected
    QTest::addColumn<bool>("keepOpen");
    QTest::addColumn<bool>("written");

    const int yes = MessageAnswer::Yes;
    const int no = MessageAnswer::No;
    QTest::newRow("yes") << 3 << QChar(u'0') << yes << false << true;
    QTest::newRow("yes, kept open") << 3 << QChar(u'0') << yes << true << true;
    QTest::newRow("no") << 3 << QChar(u'0') << no << false << false;
    QTest::newRow("no, kept open") << 3 << QChar(u'0') << no << true << false;
    QTest::newRow("question switched off") << 3 << QChar(u'1') << 0 << false << true;
    QTest::newRow("any character but 0 switches it off") << 3 << QChar(u'x') << 0 << true << true;
    // No link file yet: the add creates it.
    QTest::newRow("empty list") << 0 << QChar(u'0') << yes << true << true;
}

void TestEnterItems::add()
{
    QFETCH(int, entries);
    QFETCH(QChar, suppression);
    QFETCH(int, answer);
    QFETCH(bool, keepOpen);
    QFETCH(bool, written);

    m_state->settings.messageSuppression[7] = suppression;
    QVERIFY(openMain(entries));
    if (entries > 0)
        m_window->selectRow(0);
    QVERIFY(openWindow());
    const QByteArray before = TestData::readFile(m_state->paths.linkFilePath);
    const QStringList listedBefore = listed();
    child<QCheckBox>(u"Check3"_s)->setChecked(keepOpen);
    type(kTyped);
    if (answer != 0)
        m_answers->queue(qint16(answer));

    button("Command1")->click();

    QList<Shown> expectedShown;
    if (answer != 0)
        expectedShown << Shown{MessageKind::YesNoSwitchable, kAddQuestion, 8};
    QCOMPARE(m_answers->shown(), expectedShown);
    if (written) {
        QCOMPARE(TestData::readFile(m_state->paths.linkFilePath),
                 before + TestData::linkRecord(kNewItem, kPassword));
        QCOMPARE(listed(), listedBefore + QStringList{describe(kNewItem)});
        QCOMPARE(keys().last(), entries + 1);
        QCOMPARE(m_window->currentRow(), entries);
        QCOMPARE(stored(), listed());
    } else {
        QCOMPARE(TestData::readFile(m_state->paths.linkFilePath), before);
        QCOMPARE(listed(), listedBefore);
        QCOMPARE(m_window->currentRow(), entries > 0 ? 0 : -1);
    }
    if (keepOpen) {
        QVERIFY(m_enterItems->isVisible());
        // Emptied after an add; trimmed after a "No".
        const QStringList trimmed = {u"New page"_s, u"newbie"_s, u"pass word"_s,
                                     u"https://new.example/"_s};
        QCOMPARE(boxes(), written ? QStringList(4, QString()) : trimmed);
    } else {
        QTRY_VERIFY(m_enterItems.isNull());
        QVERIFY(!m_state->enterItemsOpen);
    }
}

void TestEnterItems::addTwiceKeptOpen()
{
    QVERIFY(openMain(0));
    QVERIFY(openWindow());
    child<QCheckBox>(u"Check3"_s)->setChecked(true);
    m_state->settings.messageSuppression[7] = u'1';
    type(kTyped);
    button("Command1")->click();
    QCOMPARE(boxes(), QStringList(4, QString()));
    type({u"Other"_s, u"o"_s, u"p"_s, u"u"_s});
    button("Command1")->click();
    QCOMPARE(boxes(), QStringList(4, QString()));
    QCOMPARE(keys(), QList<int>({1, 2}));
    QCOMPARE(m_window->currentRow(), 1);
    QCOMPARE(stored(), QStringList({describe(kNewItem), u"Other | o | p | u"_s}));
    QVERIFY(m_answers->shown().isEmpty());
}

// Nothing is required: every field then holds only its zero length.
void TestEnterItems::addEmptyItems()
{
    m_state->settings.messageSuppression[7] = u'1';
    QVERIFY(openMain(0));
    QVERIFY(openWindow());
    type({u"   "_s, QString(), u" "_s, QString()});
    button("Command1")->click();

    const QByteArray empty = "000000000";
    QCOMPARE(TestData::readFile(m_state->paths.linkFilePath),
             empty + QByteArray(503, ' ') + empty + QByteArray(2039, ' ') + empty +
                 QByteArray(503, ' ') + empty + QByteArray(503, ' '));
    const Entry& entry = m_window->model().entry(0);
    QCOMPARE(entry.key(), QByteArray("K1P"));
    QCOMPARE(m_window->model().index(0, EntryModel::PasswordColumn).data().toString(), QString());
}

// The longest items the boxes take, and Windows-1252 characters beyond ASCII, are stored whole.
void TestEnterItems::addLongestItems()
{
    m_state->settings.messageSuppression[7] = u'1';
    QVERIFY(openMain(1));
    QVERIFY(openWindow());
    const QString title = QString(95, u'T') + u"€"_s;
    const QString url = u"https://"_s + QString(391, u'u') + u"é"_s;
    const QString password = QString(96, u'ÿ');
    type({title, u"Zoë"_s, password, url});
    child<QCheckBox>(u"Check3"_s)->setChecked(true);
    button("Command1")->click();
    QCOMPARE(boxes(), QStringList(4, QString()));
    const QString expected = QStringList{title, u"Zoë"_s, password, url}.join(u" | ");
    QCOMPARE(stored().last(), expected);
    QCOMPARE(listed().last(), expected);
    // Stored as the code page's bytes, never as "?".
    CipherService cipher;
    const LinkFileRead read = readLinkFile(m_state->paths.linkFilePath, kPassword, cipher);
    QCOMPARE(read.entries.back().title().toByteArray().right(1), QByteArray("\x80"));
}

// The list masks user names; the boxes, the entry and the file always hold the real one.
void TestEnterItems::hiddenUserNames()
{
    m_state->settings.hiddenUserNames = 1;
    m_state->settings.messageSuppression[7] = u'1';
    m_state->settings.messageSuppression[8] = u'1';
    QVERIFY(openMain(3));
    QVERIFY(openWindow());
    child<QCheckBox>(u"Check3"_s)->setChecked(true);

    type(kTyped);
    button("Command1")->click();
    const EntryModel& model = m_window->model();
    QCOMPARE(model.index(3, EntryModel::UserNameColumn).data().toString(), u"ooooooo"_s);
    QCOMPARE(model.entry(3).userName(), QByteArrayView("newbie"));

    // Load, change the title only, replace: the user name goes back unmasked.
    m_window->selectRow(0);
    button("Command8")->click();
    QCOMPARE(box(u"Text2"_s)->text(), u"alice"_s);
    box(u"Text1"_s)->setText(u"Renamed"_s);
    button("Command2")->click();
    QCOMPARE(stored(), QStringList({u"Renamed | alice | secret 1 | https://one.example/"_s,
                                    describe(kItems[1]), describe(kItems[2]), describe(kNewItem)}));
    QVERIFY(!TestData::readFile(m_state->paths.linkFilePath).contains("ooooooo"));
    QCOMPARE(stored(), listed());
}

void TestEnterItems::replace_data()
{
    QTest::addColumn<QChar>("suppression");
    QTest::addColumn<int>("answer"); // 0: no question expected
    QTest::addColumn<bool>("keepOpen");
    QTest::addColumn<bool>("written");

    QTest::newRow("yes") << QChar(u'0') << int(MessageAnswer::Yes) << false << true;
    QTest::newRow("yes, kept open") << QChar(u'0') << int(MessageAnswer::Yes) << true << true;
    QTest::newRow("no") << QChar(u'0') << int(MessageAnswer::No) << false << false;
    QTest::newRow("no, kept open") << QChar(u'0') << int(MessageAnswer::No) << true << false;
    QTest::newRow("question switched off") << QChar(u'1') << 0 << true << true;
}

// The third of five: in third place still, record 3 overwritten, the others byte for byte.
void TestEnterItems::replace()
{
    QFETCH(QChar, suppression);
    QFETCH(int, answer);
    QFETCH(bool, keepOpen);
    QFETCH(bool, written);

    m_state->settings.messageSuppression[8] = suppression;
    QVERIFY(openMain(5));
    m_window->selectRow(2);
    QVERIFY(openWindow());
    const QByteArray before = TestData::readFile(m_state->paths.linkFilePath);
    child<QCheckBox>(u"Check3"_s)->setChecked(keepOpen);
    type(kTyped);
    if (answer != 0)
        m_answers->queue(qint16(answer));

    button("Command2")->click();

    QList<Shown> expectedShown;
    if (answer != 0)
        expectedShown << Shown{MessageKind::YesNoSwitchable, kReplaceQuestion, 9};
    QCOMPARE(m_answers->shown(), expectedShown);
    QList<TestData::Item> expected = kItems;
    if (written) {
        expected[2] = kNewItem;
        QByteArray after = before;
        after.replace(2 * kLinkRecordSize, kLinkRecordSize,
                      TestData::linkRecord(kNewItem, kPassword));
        QCOMPARE(TestData::readFile(m_state->paths.linkFilePath), after);
    } else {
        QCOMPARE(TestData::readFile(m_state->paths.linkFilePath), before);
    }
    // The entry replaced, or not, is still the one chosen, and the display box says which.
    QCOMPARE(m_window->currentRow(), 2);
    QCOMPARE(m_window->selectedRows(), std::vector<int>{2});
    if (keepOpen)
        QCOMPARE(box(u"Text9"_s)->text(), QString::fromLatin1(expected[2].title));
    QCOMPARE(listed(), describe(expected));
    QCOMPARE(stored(), listed());
    QCOMPARE(keys(), QList<int>({1, 2, 3, 4, 5}));
    if (keepOpen) {
        // Emptied after a replace; after a "No" untouched, since the trim follows the question.
        QCOMPARE(boxes(), written ? QStringList(4, QString()) : kTyped);
    } else {
        QTRY_VERIFY(m_enterItems.isNull());
    }
}

void TestEnterItems::replaceKeyNumber_data()
{
    QTest::addColumn<QList<int>>("keysBefore");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("newKey");

    QTest::newRow("all lower numbers in use: its own number back") << QList<int>{3, 1, 2} << 0 << 3;
    QTest::newRow("a lower number free: that one") << QList<int>{1, 5, 2} << 1 << 3;
    QTest::newRow("the lowest free number wins") << QList<int>{2, 4, 3} << 2 << 1;
    QTest::newRow("its own number is the lowest") << QList<int>{1, 2, 3} << 0 << 1;
}

void TestEnterItems::replaceKeyNumber()
{
    QFETCH(QList<int>, keysBefore);
    QFETCH(int, row);
    QFETCH(int, newKey);

    m_state->settings.messageSuppression[8] = u'1';
    QVERIFY(openMain(3));
    // Moves and deletions leave key numbers in any order.
    std::vector<Entry> entries = m_window->model().entries();
    for (std::size_t i = 0; i < entries.size(); ++i)
        entries[i].setKeyNumber(keysBefore[qsizetype(i)]);
    m_window->model().setEntries(entries);
    m_window->selectRow(row);
    QVERIFY(openWindow());
    type(kTyped);
    button("Command2")->click();

    QList<int> expected = keysBefore;
    expected[row] = newKey;
    QCOMPARE(keys(), expected);
    QCOMPARE(listed()[row], describe(kNewItem));
}

void TestEnterItems::replaceOnEmptyList_data()
{
    QTest::addColumn<bool>("keepOpen");
    QTest::newRow("closes") << false;
    QTest::newRow("kept open") << true;
}

void TestEnterItems::replaceOnEmptyList()
{
    QFETCH(bool, keepOpen);
    QVERIFY(openMain(0));
    QVERIFY(openWindow());
    child<QCheckBox>(u"Check3"_s)->setChecked(keepOpen);
    type(kTyped);
    button("Command2")->click();
    // Never the question.
    QCOMPARE(m_answers->shown(), QList<Shown>({{MessageKind::Ok, kNoAddresses, 0}}));
    QVERIFY(!QFile::exists(m_state->paths.linkFilePath));
    QCOMPARE(m_window->model().rowCount(), 0);
    if (keepOpen)
        QCOMPARE(boxes(), kTyped);
    else
        QTRY_VERIFY(m_enterItems.isNull());
}

void TestEnterItems::replaceWithoutSelection()
{
    QVERIFY(openMain(3));
    selectNothing();
    QVERIFY(openWindow());
    QCOMPARE(m_window->currentRow(), -1);
    const QByteArray before = TestData::readFile(m_state->paths.linkFilePath);
    child<QCheckBox>(u"Check3"_s)->setChecked(true);
    type(kTyped);
    m_answers->queue(MessageAnswer::Yes);
    button("Command2")->click();
    QCOMPARE(m_answers->shown(), QList<Shown>({{MessageKind::YesNoSwitchable, kReplaceQuestion, 9},
                                               {MessageKind::Ok, kReplaceFailed, 0}}));
    QCOMPARE(TestData::readFile(m_state->paths.linkFilePath), before);
    QCOMPARE(listed(), describe(kItems.first(3)));
}

void TestEnterItems::unstorableCharacter_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("boxIndex");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("character");

    QTest::newRow("add, page title") << u"Command1"_s << 0 << u" Caf\u0101 "_s << u"\u0101"_s;
    QTest::newRow("add, password") << u"Command1"_s << 2 << u"p\u0142"_s << u"\u0142"_s;
    // A character outside the basic plane is shown whole, both halves of its pair.
    QTest::newRow("replace, user name")
        << u"Command2"_s << 1 << u"me\U0001F600x"_s << u"\U0001F600"_s;
    QTest::newRow("replace, URL address")
        << u"Command2"_s << 3 << u"https://\u03A9.example/"_s << u"\u03A9"_s;
}

// Refused before the question, nothing written, and the window stays open so that the
// character can be changed.
void TestEnterItems::unstorableCharacter()
{
    QFETCH(QString, command);
    QFETCH(int, boxIndex);
    QFETCH(QString, text);
    QFETCH(QString, character);

    QVERIFY(openMain(3));
    m_window->selectRow(1);
    QVERIFY(openWindow());
    const QByteArray before = TestData::readFile(m_state->paths.linkFilePath);
    QStringList typed = {u"t"_s, u"u"_s, u"p"_s, u"https://x/"_s};
    typed[boxIndex] = text;
    type(typed);

    child<QPushButton>(command)->click();

    QCOMPARE(
        m_answers->shown(),
        QList<Shown>(
            {{MessageKind::Ok,
              u"\r\n\r\n\r\nThis Character Cannot Be Stored:\r\n\""_s + character + u"\""_s, 0}}));
    QCOMPARE(TestData::readFile(m_state->paths.linkFilePath), before);
    QCOMPARE(listed(), describe(kItems.first(3)));
    QVERIFY(!m_enterItems.isNull());
    QVERIFY(m_enterItems->isVisible());
    QLineEdit* edit = box(kBoxes[boxIndex]);
    QCOMPARE(edit->selectedText(), character);
    QCOMPARE(QApplication::focusWidget(), edit);
}

void TestEnterItems::writeFailureChangesNothing_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("failure");
    QTest::newRow("add") << u"Command1"_s << kAddFailed;
    QTest::newRow("replace") << u"Command2"_s << kReplaceFailed;
}

// A full disk: the failure message, the file as it was, and the list agreeing with it.
void TestEnterItems::writeFailureChangesNothing()
{
    QFETCH(QString, command);
    QFETCH(QString, failure);

    m_state->settings.messageSuppression[7] = u'1';
    m_state->settings.messageSuppression[8] = u'1';
    QVERIFY(openMain(3));
    m_window->selectRow(1);
    QVERIFY(openWindow());
    child<QCheckBox>(u"Check3"_s)->setChecked(true);
    const QByteArray before = TestData::readFile(m_state->paths.linkFilePath);
    type(kTyped);
    bool limited = false;
    {
        FileSizeLimit limit(rlim_t(before.size() - 100));
        limited = limit.ok();
        child<QPushButton>(command)->click();
    }
    QVERIFY(limited);
    QCOMPARE(m_answers->shown(), QList<Shown>({{MessageKind::Ok, failure, 0}}));
    QCOMPARE(TestData::readFile(m_state->paths.linkFilePath), before);
    QCOMPARE(listed(), describe(kItems.first(3)));
    QCOMPARE(m_window->currentRow(), 1);
    QStringList dir = QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden);
    dir.removeOne(DataPaths::kMasterPasswordFile);
    QCOMPARE(dir, QStringList{DataPaths::kLinkFile});
}

void TestEnterItems::listBehindFileChangesNothing_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("keepOpen");
    QTest::addColumn<QStringList>("boxesAfter"); // kept open: Add trims first, Replace does not
    const QStringList trimmed = {u"New page"_s, u"newbie"_s, u"pass word"_s,
                                 u"https://new.example/"_s};
    QTest::newRow("add") << u"Command1"_s << false << QStringList();
    QTest::newRow("add, kept open") << u"Command1"_s << true << trimmed;
    QTest::newRow("replace") << u"Command2"_s << false << QStringList();
    QTest::newRow("replace, kept open") << u"Command2"_s << true << kTyped;
}

// A load that stopped at a damaged record leaves the list shorter than the file; a record
// written by list position would then land on the wrong one.
void TestEnterItems::listBehindFileChangesNothing()
{
    QFETCH(QString, command);
    QFETCH(bool, keepOpen);
    QFETCH(QStringList, boxesAfter);

    const QByteArray damaged = TestData::linkFile(kItems.first(2), kPassword) +
                               QByteArray(kLinkRecordSize, 'x') +
                               TestData::linkRecord(kItems[3], kPassword);
    QVERIFY(TestData::writeFile(m_state->paths.linkFilePath, damaged));
    QVERIFY(openMain(0));
    QCOMPARE(m_answers->texts(), QStringList{kLoadFailed});
    QCOMPARE(m_window->model().rowCount(), 2);
    m_window->selectRow(1);
    QVERIFY(openWindow());
    child<QCheckBox>(u"Check3"_s)->setChecked(keepOpen);
    type(kTyped);
    child<QPushButton>(command)->click();
    QCOMPARE(TestData::readFile(m_state->paths.linkFilePath), damaged);
    QCOMPARE(listed(), describe(kItems.first(2)));
    if (keepOpen)
        QCOMPARE(boxes(), boxesAfter);
    else
        QTRY_VERIFY(m_enterItems.isNull());

    // Asked nothing first, it gives the reason and what to do, in the words of a move.
    m_window->menus().action("mnu1ToTop")->trigger();
    const QList<Shown> shown = m_answers->shown();
    QCOMPARE(shown.size(), 3);
    QCOMPARE(shown[1], shown[2]);
    QCOMPARE(shown[1].kind, MessageKind::Ok);
    QVERIFY2(shown[1].text.contains(u"Would Delete Every Entry After It."_s),
             qPrintable(shown[1].text));
    QCOMPARE(TestData::readFile(m_state->paths.linkFilePath), damaged);
}

QTEST_MAIN(TestEnterItems)
#include "tst_enteritems.moc"
