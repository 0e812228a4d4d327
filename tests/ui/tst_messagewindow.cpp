#include "CaptionFit.h"
#include "OffscreenWarnings.h"
#include "startup/Settings.h"
#include "startup/Startup.h"
#include "ui/message/MessageWindow.h"
#include "ui/message/ShowMessage.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

// A suppression string whose characters differ, so that a write to the wrong position shows.
QString mixedSuppression()
{
    QString s;
    for (int i = 0; i < Settings::kMessageCount; ++i)
        s += (i % 3 == 0) ? u'1' : u'0';
    s[7] = u'0';  // message 8
    s[0] = u'0';  // message 1
    s[99] = u'0'; // message 100
    return s;
}

void showAndSettle(QWidget& window)
{
    window.show();
    QCoreApplication::processEvents();
}

// Key presses go in through the window, as a typed key does, so they reach whatever has the
// focus rather than the dialog itself.
void typeKey(QWidget& window, Qt::Key key)
{
    QTest::keyClick(window.windowHandle(), key);
}

// Ends an unexpected modal window, so that a wrong window fails the test instead of hanging it.
void dismiss(QWidget* modal)
{
    if (auto* dialog = qobject_cast<QDialog*>(modal))
        dialog->reject();
    else if (modal)
        modal->close();
}

} // namespace

class TestMessageWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();

    void layoutFollowsKind_data();
    void layoutFollowsKind();
    void captionsFit_data();
    void captionsFit();
    void fixedSize_data();
    void fixedSize();
    void buttonGivesAnswerOnce_data();
    void buttonGivesAnswerOnce();
    void enterAnswersSafeButton_data();
    void enterAnswersSafeButton();
    void escape_data();
    void escape();
    void closeBox_data();
    void closeBox();
    void stopShowing_data();
    void stopShowing();

    void invalidKindShowsNothing_data();
    void invalidKindShowsNothing();
    void scriptedAnswersRecordAndAnswer();
    void scriptedSafeAnswer_data();
    void scriptedSafeAnswer();
    void showsWindowModally_data();
    void showsWindowModally();
    void nestedMessageUsesPlatformBox_data();
    void nestedMessageUsesPlatformBox();
    void messageShowsTheProgramPicture();

private:
    Settings m_settings;
};

void TestMessageWindow::initTestCase()
{
    dropOffscreenPlatformWarnings();
}

void TestMessageWindow::init()
{
    QTest::failOnWarning(QRegularExpression(u".*"_s));
    m_settings = Settings();
}

void TestMessageWindow::layoutFollowsKind_data()
{
    QTest::addColumn<qint16>("kind");
    QTest::addColumn<QStringList>("captions"); // Command1..3; empty: hidden
    QTest::addColumn<bool>("boxShown");

    QTest::newRow("1 ok") << qint16(1) << QStringList{u""_s, u"Okay"_s, u""_s} << false;
    QTest::newRow("2 ok switchable") << qint16(2) << QStringList{u""_s, u"Okay"_s, u""_s} << true;
    QTest::newRow("3 yes no") << qint16(3) << QStringList{u"Yes"_s, u""_s, u"No"_s} << false;
    QTest::newRow("4 yes no switchable")
        << qint16(4) << QStringList{u"Yes"_s, u""_s, u"No"_s} << true;
    QTest::newRow("5 yes cancel no")
        << qint16(5) << QStringList{u"Yes"_s, u"Cancel"_s, u"No"_s} << false;
    QTest::newRow("6 yes cancel no switchable")
        << qint16(6) << QStringList{u"Yes"_s, u"Cancel"_s, u"No"_s} << true;
    QTest::newRow("7 ok cancel") << qint16(7) << QStringList{u"Okay"_s, u""_s, u"Cancel"_s}
                                 << false;
    QTest::newRow("8 ok cancel switchable")
        << qint16(8) << QStringList{u"Okay"_s, u""_s, u"Cancel"_s} << true;
}

void TestMessageWindow::layoutFollowsKind()
{
    QFETCH(qint16, kind);
    QFETCH(QStringList, captions);
    QFETCH(bool, boxShown);

    MessageWindow window(kind, u"First line\r\nSecond line"_s, 0, m_settings);
    showAndSettle(window);

    // The window manager centres the title; no blanks in front push it aside.
    QCOMPARE(window.windowTitle(), u"Message "_s);
    for (int i = 0; i < 3; ++i) {
        const QString& caption = captions.at(i);
        QCOMPARE(window.button(i)->isVisible(), !caption.isEmpty());
        if (!caption.isEmpty())
            QCOMPARE(window.button(i)->text(), caption);
    }
    QCOMPARE(window.stopShowingBox()->isVisible(), boxShown);
    QCOMPARE(window.stopShowingBox()->text(), u"Stop Showing Just This Message"_s);
    QCOMPARE(window.stopShowingBox()->toolTip(),
             u"May Be Reconfigured To Show In App. Options Settings."_s);
    // CR LF must become a real line break, not a stray character inside one line.
    QCOMPARE(window.textBox()->toPlainText(), u"First line\nSecond line"_s);
    QCOMPARE(window.textBox()->document()->blockCount(), 2);
}

void TestMessageWindow::captionsFit_data()
{
    layoutFollowsKind_data();
}

void TestMessageWindow::captionsFit()
{
    QFETCH(qint16, kind);
    MessageWindow window(kind, u"First line\r\nSecond line"_s, 0, m_settings);
    showAndSettle(window);
    const QStringList misfits = CaptionFit::captionsThatDoNotFit(&window);
    QVERIFY2(misfits.isEmpty(), qPrintable(misfits.join(u"; "_s)));
}

void TestMessageWindow::fixedSize_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("two lines") << u"First line\r\nSecond line"_s;
    QTest::newRow("many lines") << QStringList(30, u"A line of the message"_s).join(u"\r\n"_s);
}

// A dialog of fixed size: nothing to maximise, and a resize changes nothing.
void TestMessageWindow::fixedSize()
{
    QFETCH(QString, text);
    MessageWindow window(MessageKind::YesNoSwitchable, text, 0, m_settings);
    showAndSettle(window);
    const Qt::WindowFlags flags = window.windowFlags();
    QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    const QSize shown = window.size();
    QCOMPARE(window.minimumSize(), shown);
    QCOMPARE(window.maximumSize(), shown);
    window.resize(shown * 2);
    QCOMPARE(window.size(), shown);
}

void TestMessageWindow::buttonGivesAnswerOnce_data()
{
    QTest::addColumn<qint16>("kind");
    QTest::addColumn<int>("index");
    QTest::addColumn<qint16>("answer");

    const struct {
        qint16 kind;
        std::array<qint16, 3> answers; // 0: button hidden
    } table[] = {
        {1, {0, 1, 0}}, {2, {0, 1, 0}}, {3, {6, 0, 7}}, {4, {6, 0, 7}},
        {5, {6, 2, 7}}, {6, {6, 2, 7}}, {7, {1, 0, 2}}, {8, {1, 0, 2}},
    };
    for (const auto& row : table) {
        for (int i = 0; i < 3; ++i) {
            if (row.answers[std::size_t(i)] == 0)
                continue;
            QTest::addRow("kind %d Command%d", row.kind, i + 1)
                << row.kind << i << row.answers[std::size_t(i)];
        }
    }
}

void TestMessageWindow::buttonGivesAnswerOnce()
{
    QFETCH(qint16, kind);
    QFETCH(int, index);
    QFETCH(qint16, answer);

    MessageWindow window(kind, u"Question?"_s, 0, m_settings);
    showAndSettle(window);
    QTest::mouseClick(window.button(index), Qt::LeftButton);

    QCOMPARE(window.answer(), answer);
    QVERIFY(!window.isVisible());
    for (int i = 0; i < 3; ++i)
        QVERIFY(!window.button(i)->isEnabled());
    // A second press on any button must not replace the first answer.
    for (int i = 0; i < 3; ++i)
        window.button(i)->click();
    QCOMPARE(window.answer(), answer);
}

void TestMessageWindow::enterAnswersSafeButton_data()
{
    QTest::addColumn<qint16>("kind");
    QTest::addColumn<int>("safeIndex");
    QTest::addColumn<qint16>("answer");

    QTest::newRow("1 Okay") << qint16(1) << 1 << qint16(1);
    QTest::newRow("2 Okay") << qint16(2) << 1 << qint16(1);
    QTest::newRow("3 No") << qint16(3) << 2 << qint16(7);
    QTest::newRow("4 No") << qint16(4) << 2 << qint16(7);
    QTest::newRow("5 Cancel") << qint16(5) << 1 << qint16(2);
    QTest::newRow("6 Cancel") << qint16(6) << 1 << qint16(2);
    QTest::newRow("7 Cancel") << qint16(7) << 2 << qint16(2);
    QTest::newRow("8 Cancel") << qint16(8) << 2 << qint16(2);
}

void TestMessageWindow::enterAnswersSafeButton()
{
    QFETCH(qint16, kind);
    QFETCH(int, safeIndex);
    QFETCH(qint16, answer);

    // Enter at once must never answer Yes.
    MessageWindow window(kind, u"Question?"_s, 0, m_settings);
    showAndSettle(window);
    QCOMPARE(window.focusWidget(), window.button(safeIndex));
    typeKey(window, Qt::Key_Return);

    QCOMPARE(window.answer(), answer);
    QVERIFY(!window.isVisible());
}

void TestMessageWindow::escape_data()
{
    QTest::addColumn<qint16>("kind");
    QTest::addColumn<qint16>("answer");

    // Every close of a plain message counts as OK.
    QTest::newRow("1") << qint16(1) << qint16(1);
    QTest::newRow("2") << qint16(2) << qint16(1);
    for (qint16 kind = 3; kind <= 8; ++kind)
        QTest::addRow("%d", kind) << kind << qint16(2);
}

void TestMessageWindow::escape()
{
    QFETCH(qint16, kind);
    QFETCH(qint16, answer);

    MessageWindow window(kind, u"Question?"_s, 0, m_settings);
    showAndSettle(window);
    typeKey(window, Qt::Key_Escape);

    QCOMPARE(window.answer(), answer);
    QVERIFY(!window.isVisible());
}

void TestMessageWindow::closeBox_data()
{
    QTest::addColumn<qint16>("kind");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<qint16>("answer");

    QTest::newRow("1 as OK") << qint16(1) << true << qint16(1);
    QTest::newRow("2 as OK") << qint16(2) << true << qint16(1);
    QTest::newRow("3 refused") << qint16(3) << false << qint16(0);
    QTest::newRow("4 refused") << qint16(4) << false << qint16(0);
    for (qint16 kind = 5; kind <= 8; ++kind)
        QTest::addRow("%d as Cancel", kind) << kind << true << qint16(2);
}

void TestMessageWindow::closeBox()
{
    QFETCH(qint16, kind);
    QFETCH(bool, closes);
    QFETCH(qint16, answer);

    MessageWindow window(kind, u"Question?"_s, 0, m_settings);
    showAndSettle(window);

    QCOMPARE(window.close(), closes);
    QCOMPARE(window.isVisible(), !closes);
    QCOMPARE(window.answer(), answer);
    if (!closes) {
        // The refused question still leaves by Escape, as a non-Yes answer.
        typeKey(window, Qt::Key_Escape);
        QVERIFY(!window.isVisible());
        QCOMPARE(window.answer(), qint16(2));
    }
}

void TestMessageWindow::stopShowing_data()
{
    QTest::addColumn<qint16>("kind");
    QTest::addColumn<qint16>("number");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<int>("pressIndex");  // -1: the close box
    QTest::addColumn<int>("switchedOff"); // position turned to "1"; 0: none

    QTest::newRow("checked, Okay") << qint16(2) << qint16(8) << true << 1 << 8;
    QTest::newRow("unchecked") << qint16(2) << qint16(8) << false << 1 << 0;
    QTest::newRow("checked, number 0") << qint16(2) << qint16(0) << true << 1 << 0;
    // The box counts however the window closes, and at both ends of the string.
    QTest::newRow("checked, No, first") << qint16(4) << qint16(1) << true << 2 << 1;
    QTest::newRow("checked, close box, last") << qint16(6) << qint16(100) << true << -1 << 100;
    QTest::newRow("checked, Cancel") << qint16(8) << qint16(8) << true << 2 << 8;
}

void TestMessageWindow::stopShowing()
{
    QFETCH(qint16, kind);
    QFETCH(qint16, number);
    QFETCH(bool, checked);
    QFETCH(int, pressIndex);
    QFETCH(int, switchedOff);

    const QString before = mixedSuppression();
    m_settings.messageSuppression = before;
    MessageWindow window(kind, u"Notice"_s, number, m_settings);
    showAndSettle(window);
    if (checked)
        QTest::mouseClick(window.stopShowingBox(), Qt::LeftButton);
    QCOMPARE(window.stopShowingBox()->isChecked(), checked);
    if (pressIndex < 0)
        QVERIFY(window.close());
    else
        QTest::mouseClick(window.button(pressIndex), Qt::LeftButton);
    QVERIFY(!window.isVisible());

    QString expected = before;
    if (switchedOff > 0)
        expected[switchedOff - 1] = u'1';
    QCOMPARE(m_settings.messageSuppression, expected);
}

void TestMessageWindow::invalidKindShowsNothing_data()
{
    QTest::addColumn<qint16>("kind");
    QTest::newRow("0") << qint16(0);
    QTest::newRow("9") << qint16(9);
    QTest::newRow("-1") << qint16(-1);
}

void TestMessageWindow::invalidKindShowsNothing()
{
    QFETCH(qint16, kind);

    {
        // Had a window been shown, this closes it and the test fails instead of hanging.
        QObject guard;
        bool shown = false;
        QTimer::singleShot(0, &guard, [&] {
            if (QWidget* w = QApplication::activeModalWidget()) {
                shown = true;
                dismiss(w);
            }
        });
        QCOMPARE(ShowMessage(m_settings, kind, u"x"_s, 0), qint16(0));
        QVERIFY(!shown);
    }
    {
        ScriptedAnswers script;
        script.queue(6);
        QCOMPARE(ShowMessage(m_settings, kind, u"x"_s, 0), qint16(0));
        QVERIFY(script.shown().isEmpty());
    }
}

void TestMessageWindow::scriptedAnswersRecordAndAnswer()
{
    ScriptedAnswers script;
    script.queue(6);
    script.queue(2);

    QCOMPARE(ShowMessage(m_settings, 4, u"Delete?"_s, 12), qint16(6));
    QCOMPARE(ShowMessage(m_settings, 5, u"Save?\r\nNow"_s, 0), qint16(2));
    // Queue used up: the safe answer, as Enter would give.
    QCOMPARE(ShowMessage(m_settings, 3, u"Really?"_s, 0), qint16(7));

    const QList<ScriptedAnswers::Shown> expected = {
        {4, u"Delete?"_s, 12},
        {5, u"Save?\r\nNow"_s, 0},
        {3, u"Really?"_s, 0},
    };
    QCOMPARE(script.shown(), expected);
    QCOMPARE(script.texts(), (QStringList{u"Delete?"_s, u"Save?\r\nNow"_s, u"Really?"_s}));
    QCOMPARE(m_settings.messageSuppression, QString(100, u'0'));
}

void TestMessageWindow::scriptedSafeAnswer_data()
{
    QTest::addColumn<qint16>("kind");
    QTest::addColumn<qint16>("answer");
    QTest::newRow("1") << qint16(1) << qint16(1);
    QTest::newRow("2") << qint16(2) << qint16(1);
    QTest::newRow("3") << qint16(3) << qint16(7);
    QTest::newRow("4") << qint16(4) << qint16(7);
    for (qint16 kind = 5; kind <= 8; ++kind)
        QTest::addRow("%d", kind) << kind << qint16(2);
}

void TestMessageWindow::scriptedSafeAnswer()
{
    QFETCH(qint16, kind);
    QFETCH(qint16, answer);

    ScriptedAnswers script;
    QCOMPARE(ShowMessage(m_settings, kind, u"x"_s, 0), answer);
}

void TestMessageWindow::showsWindowModally_data()
{
    QTest::addColumn<qint16>("kind");
    QTest::addColumn<int>("index");
    QTest::addColumn<qint16>("answer");
    QTest::newRow("1 Okay") << qint16(1) << 1 << qint16(1);
    QTest::newRow("4 Yes") << qint16(4) << 0 << qint16(6);
    QTest::newRow("5 No") << qint16(5) << 2 << qint16(7);
    QTest::newRow("6 Cancel") << qint16(6) << 1 << qint16(2);
    QTest::newRow("8 Okay") << qint16(8) << 0 << qint16(1);
}

void TestMessageWindow::showsWindowModally()
{
    QFETCH(qint16, kind);
    QFETCH(int, index);
    QFETCH(qint16, answer);

    // Twice in a row: the second message must find the window free again.
    for (int round = 0; round < 2; ++round) {
        QObject guard;
        bool seen = false;
        bool modal = false;
        QString title;
        QString text;
        QTimer::singleShot(0, &guard, [&] {
            QWidget* active = QApplication::activeModalWidget();
            auto* window = qobject_cast<MessageWindow*>(active);
            if (!window) {
                dismiss(active);
                return;
            }
            seen = true;
            modal = window->isModal() && window->isVisible();
            title = window->windowTitle();
            text = window->textBox()->toPlainText();
            window->button(index)->click();
        });
        QCOMPARE(ShowMessage(m_settings, kind, u"Go on?"_s, 0), answer);
        QVERIFY2(seen, "no message window was modal");
        QVERIFY(modal);
        QCOMPARE(title, MessageWindow::kCaption);
        QCOMPARE(text, u"Go on?"_s);
    }
}

void TestMessageWindow::nestedMessageUsesPlatformBox_data()
{
    QTest::addColumn<qint16>("kind");
    QTest::addColumn<int>("buttons"); // QMessageBox::StandardButtons
    QTest::addColumn<int>("press");
    QTest::addColumn<qint16>("answer");

    const int ok = QMessageBox::Ok, cancel = QMessageBox::Cancel, yes = QMessageBox::Yes,
              no = QMessageBox::No;
    QTest::newRow("1 Ok") << qint16(1) << ok << ok << qint16(1);
    QTest::newRow("2 Ok") << qint16(2) << ok << ok << qint16(1);
    QTest::newRow("3 Yes") << qint16(3) << (yes | no) << yes << qint16(6);
    QTest::newRow("4 No") << qint16(4) << (yes | no) << no << qint16(7);
    QTest::newRow("5 Cancel") << qint16(5) << (yes | no | cancel) << cancel << qint16(2);
    QTest::newRow("6 No") << qint16(6) << (yes | no | cancel) << no << qint16(7);
    QTest::newRow("7 Cancel") << qint16(7) << (ok | cancel) << cancel << qint16(2);
    QTest::newRow("8 Ok") << qint16(8) << (ok | cancel) << ok << qint16(1);
}

void TestMessageWindow::nestedMessageUsesPlatformBox()
{
    QFETCH(qint16, kind);
    QFETCH(int, buttons);
    QFETCH(int, press);
    QFETCH(qint16, answer);

    m_settings.messageSuppression = mixedSuppression();
    QObject guard;
    bool sawOuter = false;
    QString boxText;
    QString boxTitle;
    int boxButtons = -1;
    qint16 nestedAnswer = -1;
    bool outerStillShowing = false;

    QTimer::singleShot(0, &guard, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* outer = qobject_cast<MessageWindow*>(modal);
        if (!outer) {
            dismiss(modal);
            return;
        }
        sawOuter = true;
        QTimer::singleShot(0, &guard, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (!box) {
                dismiss(modal);
                return;
            }
            boxText = box->text();
            boxTitle = box->windowTitle();
            boxButtons = int(box->standardButtons());
            box->button(QMessageBox::StandardButton(press))->click();
        });
        // Raised by code that runs while the window is up.
        nestedAnswer = ShowMessage(m_settings, kind, u"Inner\r\ntext"_s, 8);
        outerStillShowing = outer->isVisible();
        outer->button(1)->click();
    });

    QCOMPARE(ShowMessage(m_settings, 1, u"Outer"_s, 0), qint16(1));
    QVERIFY2(sawOuter, "no message window was modal");
    QCOMPARE(boxText, u"Inner\ntext"_s);
    QCOMPARE(boxTitle, kProgramTitle);
    QCOMPARE(boxButtons, buttons);
    QCOMPARE(nestedAnswer, answer);
    QVERIFY(outerStillShowing);
    // The platform box has no switch-off; its number is ignored.
    QCOMPARE(m_settings.messageSuppression, mixedSuppression());
}

// A message can come before the main window, which sets the program's icon only after its
// first frame: the message sets it itself, and shows it as its picture.
void TestMessageWindow::messageShowsTheProgramPicture()
{
    QObject guard;
    QPixmap picture;
    QTimer::singleShot(0, &guard, [&] {
        QWidget* active = QApplication::activeModalWidget();
        auto* window = qobject_cast<MessageWindow*>(active);
        if (!window) {
            dismiss(active);
            return;
        }
        picture = window->findChild<QLabel*>(u"Picture1"_s)->pixmap();
        window->button(1)->click();
    });
    QCOMPARE(ShowMessage(m_settings, MessageKind::Ok, u"Hello"_s, 0), MessageAnswer::Ok);
    QVERIFY(!QApplication::windowIcon().isNull());
    QCOMPARE(QApplication::windowIcon().availableSizes().size(), 6);
    QVERIFY(!picture.isNull());
    QCOMPARE(picture.size(), QSize(32, 32));
}

QTEST_MAIN(TestMessageWindow)
#include "tst_messagewindow.moc"
