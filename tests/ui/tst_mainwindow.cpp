#include "CaptionFit.h"
#include "TestData.h"
#include "WindowFixture.h"
#include "startup/AppState.h"
#include "startup/OleDate.h"
#include "startup/SettingsFile.h"
#include "store/LinkFile.h"
#include "store/MasterPasswordFile.h"
#include "ui/Artwork.h"
#include "ui/main/ClipboardGuard.h"
#include "ui/main/EntryListView.h"
#include "ui/main/MainLayout.h"
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
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

using ColumnWidths = std::array<float, 4>;
Q_DECLARE_METATYPE(ColumnWidths)

namespace {

using TestData::kPassword;

const QList<TestData::Item> kItems = {
    {"First page", "https://one.example/", "alice", "secret 1"},
    {"Second page", "https://two.example/path?q=1", "bob", ""},
    {"Third page", "ftp://three.example", "carol", "s3"},
};

QString badPassword(int count)
{
    return u"\r\n\r\n\r\nBad Password; Unable To Open Files.\r\nBad Pass Count = %1\r\n"_s.arg(
        count);
}
const QString kOrphanedLinkFile = u"\r\n\r\n\r\n   Unable To Open Files\r\n(no.in/w/rc)\r\n"_s;
const QString kLoadFailed = u"\r\n\r\n\r\nAn Error Occurred Opening File \r\nAnd Loading Lists"_s;

// The nine controls that carry a tool tip, and their tips.
const QList<std::pair<const char*, QString>> kToolTips = {
    {"Command4", u"Enter Your Current Window Password Then Click This Button. Follow Message "
                 "Instructions To Change Your Password."_s},
    {"Command5", u"Deletes Your Current Window Password, And Your Links Files (If You Forgot Your "
                 "Password Or Files Are Contaminated)."_s},
    {"Command6", u"Show Pop-Up App Menu"_s},
    {"Command7", u"Opens Edit Window Where You Can Enter New Or Replace List Items"_s},
    {"Check1", u"Only One Click Required To Navigate To Address, Otherwise Double-Click"_s},
    {"Check2", u"Keep This Window On Top Of Other Windows"_s},
    {"Label4", u"Double-Click To Clear This Box"_s},
    {"Image3", u"Click To Cover/UnCover List Window"_s},
    {"Image4", u"Click To UnCover List Window"_s},
};
const QString kDeletedTip = u"Password & Files Were Deleted: "_s;

// Centred up to the pixel that rounding a half takes.
bool centredIn(const QRect& inner, const QSize& outer)
{
    return qAbs(2 * inner.x() + inner.width() - outer.width()) <= 2 &&
           qAbs(2 * inner.y() + inner.height() - outer.height()) <= 2;
}

} // namespace

class TestMainWindow : public QObject, private WindowFixture {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void lockedAfterLoad();
    void coveredPicturesWaitUntilSeen();
    void pictureTextWhateverWasPaintedBefore();
    void firstStepsRunWithoutFocus_data();
    void firstStepsRunWithoutFocus();
    void firstPlacementIsStoredAndReused();
    void storedPlacementClampedIntoTheScreen_data();
    void storedPlacementClampedIntoTheScreen();
    void unusablePlacementGivesTheFirst_data();
    void unusablePlacementGivesTheFirst();
    void minimumSize();
    void layoutRules_data();
    void layoutRules();
    void widgetsFollowResize();
    void captionsFit_data();
    void captionsFit();

    void rightPassword_data();
    void rightPassword();
    void wrongPassword_data();
    void wrongPassword();
    void fifthWrongPasswordCloses();
    void rightPasswordResetsCount();
    void newMasterPassword_data();
    void newMasterPassword();
    void orphanedLinkFile_data();
    void orphanedLinkFile();
    void damagedLinkFile();
    void tornTailIsSaid();
    void linkFileLinksNowhere();
    void firstRowSelectedAfterLoad_data();
    void firstRowSelectedAfterLoad();
    void enterKey_data();
    void enterKey();
    void pastedPassword_data();
    void pastedPassword();
    void autoEnter_data();
    void autoEnter();

    void coverFollowsTheList();
    void coverLogoWhileLocked();

    void escapeCloses_data();
    void escapeCloses();
    void closingSavesSettings();
    void columnWidthsRoundTrip_data();
    void columnWidthsRoundTrip();
    void closingDeletesUndoCopies_data();
    void closingDeletesUndoCopies();

    void toolTips_data();
    void toolTips();
    void noTipsFollowsSetting();

    void checkBoxesStoreSettings();
    void focusMarker_data();
    void focusMarker();
    void revealBoxClearedByDoubleClick();

    void menus_data();
    void menus();
    void hiddenUserNameEntry_data();
    void hiddenUserNameEntry();

    void clipboardCopyIsMarkedSecret();
    void clipboardClear_data();
    void clipboardClear();
    void clipboardClearedAtClose();

private:
    template <class T = QWidget> T* child(const char* name) const
    {
        return m_window->findChild<T*>(QString::fromLatin1(name));
    }
};

void TestMainWindow::initTestCase()
{
    keepRunningWithoutWindows();
}

void TestMainWindow::init()
{
    QTest::failOnWarning(QRegularExpression(u".*"_s));
    setUpFixture();
}

void TestMainWindow::cleanup()
{
    tearDownFixture();
    QGuiApplication::clipboard()->clear();
}

void TestMainWindow::lockedAfterLoad()
{
    QVERIFY(openMainWindow());
    MainWindow& w = *m_window;
    QCOMPARE(w.windowTitle(), u"Quillor CSP"_s);
    QVERIFY(!w.isUnlocked());
    QCOMPARE(w.model().rowCount(), 0);

    auto* panel = child("Picture1");
    auto* cover = child("Picture2");
    QVERIFY(panel->isVisible());
    QVERIFY(cover->isVisible());
    QCOMPARE(cover->geometry(), w.rect());
    QCOMPARE(panel->size(), QSize(369, 160));
    QVERIFY2(centredIn(panel->geometry(), w.size()),
             qPrintable(u"%1,%2"_s.arg(panel->x()).arg(panel->y())));
    QVERIFY(child("Image2")->isVisible());
    QVERIFY(!child("Picture9")->isVisible());

    auto* box = child<QLineEdit>("Text4");
    QCOMPARE(box->maxLength(), 96);
    QCOMPARE(box->echoMode(), QLineEdit::Password);
    QCOMPARE(QApplication::focusWidget(), box);

    // The whole cycle of controls the keyboard can reach, from the password box.
    QStringList tabOrder;
    QWidget* next = box;
    do {
        if ((next->focusPolicy() & Qt::TabFocus) && next->window() == &w && next->isVisibleTo(&w))
            tabOrder << next->objectName();
        next = next->nextInFocusChain();
    } while (next != box && tabOrder.size() < 30);
    QCOMPARE(tabOrder,
             QStringList({u"Text4"_s, u"Command3"_s, u"Command4"_s, u"Command5"_s, u"Command6"_s,
                          u"ListView1"_s, u"Check2"_s, u"Check1"_s, u"Command7"_s}));

    // Front to back: password panel, focus marker, cover, then everything else.
    const QObjectList stack = w.children();
    const auto depth = [&](const char* name) {
        return stack.indexOf(child(name));
    };
    QVERIFY(depth("Picture1") > depth("Picture9"));
    QVERIFY(depth("Picture9") > depth("Picture2"));
    for (const char* behind :
         {"ListView1", "Command6", "Image3", "Command7", "Check1", "Check2", "Label4"}) {
        QVERIFY2(depth(behind) >= 0, behind);
        QVERIFY2(depth("Picture2") > depth(behind), behind);
    }
    QVERIFY(m_answers->shown().isEmpty());
}

namespace {

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* watched) { watched->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

// Stands for a desktop that never gives a new window the focus.
class NoActivation : public QObject {
public:
    explicit NoActivation(QWidget* window) { window->installEventFilter(this); }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        return event->type() == QEvent::WindowActivate;
    }
};

} // namespace

// The start-up pays only for what the locked window shows: the logos the cover and the
// password panel hide are painted once they come into view.
void TestMainWindow::coveredPicturesWaitUntilSeen()
{
    m_window = std::make_unique<MainWindow>(*m_state);
    PaintCounter smallLogo(child("Image3"));
    PaintCounter coverLogo(child("Image4"));
    PaintCounter panel(child("Picture1"));
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QTRY_VERIFY(panel.paints > 0);
    QCOMPARE(smallLogo.paints, 0);
    QCOMPARE(coverLogo.paints, 0);
    // The panel is drawn without its background: its picture must fill every pixel of it.
    QImage shown(child("Picture1")->size(), QImage::Format_ARGB32);
    shown.fill(Qt::transparent);
    child("Picture1")->render(&shown, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x)
            QVERIFY2(qAlpha(shown.pixel(x, y)) == 255, qPrintable(u"%1,%2"_s.arg(x).arg(y)));
    }

    QVERIFY(unlock());
    QTRY_VERIFY(smallLogo.paints > 0);
    QCOMPARE(coverLogo.paints, 0);
    QTest::mouseClick(child("Image3"), Qt::LeftButton);
    QVERIFY(child("Picture2")->isVisible());
    QTRY_VERIFY(coverLogo.paints > 0);
}

// A picture's text size is searched from the size chosen last at its weight, above or below
// its own: the prompt comes out the same whatever was painted before it.
void TestMainWindow::pictureTextWhateverWasPaintedBefore()
{
    const QImage prompt = Artwork::passwordPrompt().toImage();
    for (const QSize& banner : {QSize(600, 90), QSize(300, 20), QSize(144, 34), QSize(40, 12)}) {
        Artwork::banner(banner);
        QCOMPARE(Artwork::passwordPrompt().toImage(), prompt);
    }
    Artwork::panelLogo();
    QCOMPARE(Artwork::passwordPrompt().toImage(), prompt);
}

void TestMainWindow::firstStepsRunWithoutFocus_data()
{
    QTest::addColumn<bool>("autoEnter");
    QTest::newRow("the prompt") << false;
    QTest::newRow("auto-enter unlocks") << true;
}

// A window the desktop never activates still asks for the password, or unlocks by itself.
void TestMainWindow::firstStepsRunWithoutFocus()
{
    QFETCH(bool, autoEnter);
    if (autoEnter) {
        m_state->settings.autoEnter = 1;
        m_state->settings.autoEnterPassword = QString::fromLatin1(TestData::kPassword);
    }
    m_window = std::make_unique<MainWindow>(*m_state);
    NoActivation desktop(m_window.get());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QTRY_VERIFY(autoEnter ? m_window->isUnlocked() : child("Image2")->isVisible());
    QCOMPARE(m_window->isUnlocked(), autoEnter);
    QCOMPARE(m_answers->shown().size(), 0);
}

void TestMainWindow::firstPlacementIsStoredAndReused()
{
    QVERIFY(openMainWindow());
    MainWindow& w = *m_window;
    QCOMPARE(m_state->settings.placementStored, 1);
    QCOMPARE(w.size(), QSize(606, 326));
    QCOMPARE(m_state->settings.windowWidth, 9090.0f);
    QCOMPARE(m_state->settings.windowHeight, 4890.0f);
    const QRect screen = w.screen()->geometry();
    QVERIFY(qAbs(2 * w.x() + 606 - screen.width()) <= 2);
    QVERIFY(qAbs(2 * w.y() + 326 - screen.height()) <= 2);
    const QPoint firstPos = w.pos();

    QVERIFY(w.close());
    const SettingsRead read = readSettingsFile(m_state->paths.settingsPath);
    QVERIFY(read.settings);
    QCOMPARE(read.settings->placementStored, 1);

    // The next start opens where this one closed.
    m_window.reset();
    m_state->settings = *read.settings;
    QVERIFY(openMainWindow());
    QCOMPARE(m_window->pos(), firstPos);
    QCOMPARE(m_window->size(), QSize(606, 326));
}

void TestMainWindow::storedPlacementClampedIntoTheScreen_data()
{
    QTest::addColumn<QRectF>("placement"); // twips, as stored
    QTest::addColumn<QRect>("window");     // pixels, on the 800 x 800 offscreen screen
    QTest::newRow("on the screen") << QRectF(1500, 1500, 7500, 4500) << QRect(100, 100, 500, 300);
    QTest::newRow("partly off right and bottom")
        << QRectF(9000, 10500, 7500, 4500) << QRect(300, 500, 500, 300);
    QTest::newRow("title bar above the screen")
        << QRectF(-1500, -450, 7500, 4500) << QRect(0, 0, 500, 300);
    QTest::newRow("larger than the screen")
        << QRectF(1500, 1500, 15000, 13500) << QRect(0, 0, 1000, 900);
}

// Placed as stored, moved just enough for the whole window to be on the screen where it fits.
void TestMainWindow::storedPlacementClampedIntoTheScreen()
{
    QFETCH(QRectF, placement);
    QFETCH(QRect, window);
    QCOMPARE(QGuiApplication::primaryScreen()->availableGeometry(), QRect(0, 0, 800, 800));
    Settings& s = m_state->settings;
    s.placementStored = 1;
    s.windowLeft = float(placement.x());
    s.windowTop = float(placement.y());
    s.windowWidth = float(placement.width());
    s.windowHeight = float(placement.height());
    QVERIFY(openMainWindow());
    QCOMPARE(QRect(m_window->pos(), m_window->size()), window);
    QCOMPARE(s.placementStored, 1);
}

void TestMainWindow::unusablePlacementGivesTheFirst_data()
{
    QTest::addColumn<QRectF>("placement"); // twips, as stored

    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const double right = (screen.right() + 100) * 15.0;
    QTest::newRow("beyond the right of every screen") << QRectF(right, 1500, 7500, 4500);
    QTest::newRow("above every screen") << QRectF(1500, -90000, 7500, 4500);
    QTest::newRow("narrower than the minimum") << QRectF(1500, 1500, 3000, 4500);
    QTest::newRow("lower than the minimum") << QRectF(1500, 1500, 7500, 0);
    QTest::newRow("not a number") << QRectF(1500, 1500, qQNaN(), 4500);
    QTest::newRow("beyond any screen's size") << QRectF(1e30, 1500, 7500, 4500);
}

// A settings file from another set of monitors, or a damaged one, must not hide the window for
// good: it opens where a first start puts it.
void TestMainWindow::unusablePlacementGivesTheFirst()
{
    QFETCH(QRectF, placement);

    Settings& s = m_state->settings;
    s.placementStored = 1;
    s.windowLeft = float(placement.x());
    s.windowTop = float(placement.y());
    s.windowWidth = float(placement.width());
    s.windowHeight = float(placement.height());
    QVERIFY(openMainWindow());
    QCOMPARE(m_window->size(), QSize(606, 326));
    QVERIFY(
        centredIn(QRect(m_window->pos(), m_window->size()), m_window->screen()->geometry().size()));
    QCOMPARE(s.placementStored, 1);
    QCOMPARE(s.windowWidth, 9090.0f);
    QCOMPARE(s.windowHeight, 4890.0f);
}

void TestMainWindow::minimumSize()
{
    QVERIFY(openMainWindow());
    m_window->resize(5000 / 15, 3000 / 15);
    QCOMPARE(m_window->size(), QSize(420, 260));
    QCOMPARE(m_state->settings.windowWidth, 6300.0f);
    QCOMPARE(m_state->settings.windowHeight, 3900.0f);
}

void TestMainWindow::layoutRules_data()
{
    QTest::addColumn<double>("w");
    QTest::addColumn<double>("h");
    QTest::addColumn<QRectF>("menuButton");
    QTest::addColumn<QRectF>("smallLogo");
    QTest::addColumn<QRectF>("enterItemsButton");
    QTest::addColumn<QRectF>("list");
    QTest::addColumn<QRectF>("revealBox");
    QTest::addColumn<double>("checkTop");
    QTest::addColumn<QPointF>("panel");
    QTest::addColumn<QPointF>("lockedCoverLogo");
    QTest::addColumn<QPointF>("unlockedCoverLogo");

    // Worked out by hand from the resize rules.
    QTest::newRow("design area 6735 x 5340")
        << 6735.0 << 5340.0 << QRectF(105, 90, 1288.71, 390) << QRectF(1633.71, 30, 2160, 510)
        << QRectF(4018.71, 90, 2577.42, 390) << QRectF(60, 585, 6615, 4440)
        << QRectF(2175, 5055, 4470, 255) << 5070.0 << QPointF(600, 1470) << QPointF(2617.5, 1920)
        << QPointF(2557.5, 1470);
    QTest::newRow("first size 9090 x 4890")
        << 9090.0 << 4890.0 << QRectF(105, 90, 2072.925, 390) << QRectF(2417.925, 30, 2160, 510)
        << QRectF(4802.925, 90, 4145.85, 390) << QRectF(60, 585, 8970, 3990)
        << QRectF(2175, 4605, 6825, 255) << 4620.0 << QPointF(1777.5, 1245) << QPointF(3795, 1695)
        << QPointF(3735, 1245);
    QTest::newRow("minimum 6300 x 3900")
        << 6300.0 << 3900.0 << QRectF(105, 90, 1143.855, 390) << QRectF(1488.855, 30, 2160, 510)
        << QRectF(3873.855, 90, 2287.71, 390) << QRectF(60, 585, 6180, 3000)
        << QRectF(2175, 3615, 4035, 255) << 3630.0 << QPointF(382.5, 750) << QPointF(2400, 1200)
        << QPointF(2340, 750);
}

void TestMainWindow::layoutRules()
{
    QFETCH(double, w);
    QFETCH(double, h);
    QFETCH(QRectF, menuButton);
    QFETCH(QRectF, smallLogo);
    QFETCH(QRectF, enterItemsButton);
    QFETCH(QRectF, list);
    QFETCH(QRectF, revealBox);
    QFETCH(double, checkTop);
    QFETCH(QPointF, panel);
    QFETCH(QPointF, lockedCoverLogo);
    QFETCH(QPointF, unlockedCoverLogo);

    const MainLayout::Geometry locked = MainLayout::compute(w, h, false);
    QCOMPARE(locked.menuButton, menuButton);
    QCOMPARE(locked.smallLogo, smallLogo);
    QCOMPARE(locked.enterItemsButton, enterItemsButton);
    QCOMPARE(locked.list, list);
    QCOMPARE(locked.revealBox, revealBox);
    QCOMPARE(locked.onTopBox, QRectF(105, checkTop, 975, 210));
    QCOMPARE(locked.oneClickBox, QRectF(1125, checkTop, 870, 210));
    QCOMPARE(locked.focusMarkerTop, checkTop + 15);
    QCOMPARE(locked.passwordPanel, QRectF(panel, QSizeF(5535, 2400)));
    QCOMPARE(locked.cover, QRectF(0, 0, w, h));
    QCOMPARE(locked.coverLogo, QRectF(lockedCoverLogo, QSizeF(1500, 1500)));

    const MainLayout::Geometry unlocked = MainLayout::compute(w, h, true);
    QCOMPARE(unlocked.cover, list);
    QCOMPARE(unlocked.coverLogo, QRectF(unlockedCoverLogo, QSizeF(1500, 1500)));
    QCOMPARE(unlocked.passwordPanel, locked.passwordPanel);

    // The Image3 click moves the cover of a locked layout exactly over the list.
    MainLayout::Geometry covered = locked;
    MainLayout::coverTheList(covered);
    QCOMPARE(covered.cover, list);
    QCOMPARE(covered.coverLogo, unlocked.coverLogo);
}

void TestMainWindow::widgetsFollowResize()
{
    writeLinks(kItems);
    QVERIFY(openMainWindow());
    MainWindow& w = *m_window;
    w.resize(700, 400); // 10500 x 6000 twips
    QCOMPARE(m_state->settings.windowWidth, 10500.0f);
    QCOMPARE(m_state->settings.windowHeight, 6000.0f);

    QCOMPARE(child("Command6")->geometry(), QRect(7, 6, 169, 26));
    QCOMPARE(child("Image3")->geometry(), QRect(192, 2, 144, 34));
    QCOMPARE(child("Command7")->geometry(), QRect(351, 6, 339, 26));
    QCOMPARE(child("ListView1")->geometry(), QRect(4, 39, 692, 340));
    QCOMPARE(child("Label4")->geometry(), QRect(145, 381, 549, 17));
    QCOMPARE(child("Check2")->geometry(), QRect(7, 382, 65, 14));
    QCOMPARE(child("Check1")->geometry(), QRect(75, 382, 58, 14));
    QCOMPARE(child("Picture9")->y(), 383);
    // Locked: the cover fills the window, the panel stays centred in front of it.
    QCOMPARE(child("Picture2")->geometry(), QRect(0, 0, 700, 400));
    QCOMPARE(child("Image4")->geometry(), QRect(300, 150, 100, 100));
    QCOMPARE(child("Picture1")->geometry(), QRect(166, 120, 369, 160));

    QVERIFY(unlock());
    QTest::mouseClick(child("Image3"), Qt::LeftButton);
    QCOMPARE(child("Picture2")->geometry(), QRect(4, 39, 692, 340));
    QCOMPARE(child("Image4")->geometry(), QRect(296, 120, 100, 100));
}

void TestMainWindow::captionsFit_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("first size") << QSize(606, 326);
    // The top row's buttons are at their narrowest.
    QTest::newRow("minimum size") << QSize(420, 260);
}

void TestMainWindow::captionsFit()
{
    QFETCH(QSize, size);
    QVERIFY(openMainWindow());
    m_window->resize(size);
    QCOMPARE(m_window->size(), size);
    const QStringList misfits = CaptionFit::captionsThatDoNotFit(m_window.get());
    QVERIFY2(misfits.isEmpty(), qPrintable(misfits.join(u"; "_s)));
    // The version label is a caption too once set.
    QVERIFY(!child<QLabel>("Label6")->text().isEmpty());
}

void TestMainWindow::rightPassword_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<qint16>("hiddenUserNames");
    QTest::addColumn<QStringList>("userNames");

    const QStringList names = {u"alice"_s, u"bob"_s, u"carol"_s};
    QTest::newRow("exact") << u"Pomelo"_s << qint16(0) << names;
    QTest::newRow("blanks around") << u"   Pomelo  "_s << qint16(0) << names;
    QTest::newRow("user names hidden") << u"Pomelo"_s << qint16(1) << QStringList(3, u"ooooooo"_s);
}

void TestMainWindow::rightPassword()
{
    QFETCH(QString, typed);
    QFETCH(qint16, hiddenUserNames);
    QFETCH(QStringList, userNames);

    writeLinks(kItems);
    m_state->settings.hiddenUserNames = hiddenUserNames;
    QVERIFY(openMainWindow());
    typeAndEnter(typed);

    QCOMPARE(m_answers->texts(), QStringList());
    QVERIFY(m_window->isUnlocked());
    QVERIFY(child("Picture1")->isHidden());
    QVERIFY(child("Picture2")->isHidden());
    QCOMPARE(m_state->masterPassword, kPassword);
    QCOMPARE(m_state->checkValue, QByteArrayLiteral("123456789"));

    const QAbstractItemModel* shown = child<EntryListView>("ListView1")->model();
    QCOMPARE(shown->columnCount(), 4);
    QStringList headers;
    for (int c = 0; c < 4; ++c)
        headers << shown->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(headers,
             QStringList({u"Page Title"_s, u"Username"_s, u"Password"_s, u"URL Address"_s}));
    QCOMPARE(shown->rowCount(), kItems.size());
    for (int r = 0; r < kItems.size(); ++r) {
        const auto cell = [&](int c) {
            return shown->index(r, c).data().toString();
        };
        QCOMPARE(cell(0), QString::fromLatin1(kItems[r].title));
        QCOMPARE(cell(1), userNames[r]);
        QCOMPARE(cell(2), kItems[r].password.isEmpty() ? QString() : u"ooooooo"_s);
        QCOMPARE(cell(3), QString::fromLatin1(kItems[r].url));
    }
}

void TestMainWindow::wrongPassword_data()
{
    QTest::addColumn<QString>("typed");
    // Compared exactly: case counts, and only blanks are trimmed.
    QTest::newRow("lower case") << u"pomelo"_s;
    QTest::newRow("upper case") << u"POMELO"_s;
    QTest::newRow("a prefix") << u"Pomel"_s;
    QTest::newRow("trailing dot") << u"Pomelo."_s;
    QTest::newRow("empty") << QString();
}

void TestMainWindow::wrongPassword()
{
    QFETCH(QString, typed);
    const QByteArray links = TestData::linkFile(kItems, kPassword);
    writeLinks(links);
    const QByteArray master = TestData::readFile(m_state->paths.masterPasswordPath);
    QVERIFY(openMainWindow());
    typeAndEnter(typed);

    QCOMPARE(m_answers->shown(),
             QList<ScriptedAnswers::Shown>({{MessageKind::Ok, badPassword(1), 0}}));
    QCOMPARE(m_window->badPasswordCount(), 1);
    QVERIFY(!m_window->isUnlocked());
    QVERIFY(m_window->isVisible());
    QVERIFY(child("Picture1")->isVisible());
    QVERIFY(child("Picture2")->isVisible());
    QCOMPARE(m_window->model().rowCount(), 0);
    QVERIFY(m_state->masterPassword.isEmpty());
    QCOMPARE(TestData::readFile(m_state->paths.masterPasswordPath), master);
    QCOMPARE(TestData::readFile(m_state->paths.linkFilePath), links);
}

void TestMainWindow::fifthWrongPasswordCloses()
{
    QVERIFY(openMainWindow());
    QStringList expected;
    for (int n = 1; n <= 4; ++n) {
        typeAndEnter(u"Lime"_s);
        expected << badPassword(n);
        QCOMPARE(m_answers->texts(), expected);
        QVERIFY(m_window->isVisible());
    }
    QVERIFY(!QFile::exists(m_state->paths.settingsPath));
    typeAndEnter(u"Lime"_s);
    expected << badPassword(5);
    QCOMPARE(m_answers->texts(), expected);
    QVERIFY(!m_window->isVisible());
    QVERIFY(!m_window->isUnlocked());
    QVERIFY(!m_state->mainWindowOpen);
    // Closing this way still saves the settings.
    const SettingsRead read = readSettingsFile(m_state->paths.settingsPath);
    QVERIFY2(read.settings, qPrintable(read.failure));
    QCOMPARE(read.settings->placementStored, 1);
}

void TestMainWindow::rightPasswordResetsCount()
{
    QVERIFY(openMainWindow());
    for (int n = 1; n <= 4; ++n)
        typeAndEnter(u"Lime"_s);
    QCOMPARE(m_window->badPasswordCount(), 4);
    QVERIFY(unlock());
    QCOMPARE(m_window->badPasswordCount(), 0);
    QCOMPARE(m_answers->texts().size(), 4);

    // Counting starts again from the last right password.
    typeAndEnter(u"Lime"_s);
    QCOMPARE(m_answers->texts().size(), 5);
    QCOMPARE(m_answers->texts().last(), badPassword(1));
    QVERIFY(m_window->isVisible());
    QVERIFY(m_window->isUnlocked());
}

void TestMainWindow::newMasterPassword_data()
{
    QTest::addColumn<bool>("masterPresent");
    QTest::addColumn<QByteArray>("masterBytes");
    QTest::addColumn<bool>("emptyLinkFile");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("no file") << false << QByteArray() << false << u"  Kumquat 7  "_s
                             << QByteArrayLiteral("Kumquat 7");
    QTest::newRow("empty file") << true << QByteArray() << false << u"Kumquat"_s
                                << QByteArrayLiteral("Kumquat");
    // One byte short of a record holds no password, whatever it looks like.
    QTest::newRow("1,023 bytes") << true << TestData::masterPasswordRecord(kPassword).chopped(1)
                                 << false << u"Kumquat"_s << QByteArrayLiteral("Kumquat");
    QTest::newRow("empty password") << false << QByteArray() << false << QString() << QByteArray();
    QTest::newRow("only blanks") << true << QByteArray() << false << u"    "_s << QByteArray();
    // An empty link file orphans nothing.
    QTest::newRow("empty link file beside")
        << false << QByteArray() << true << u"Kumquat"_s << QByteArrayLiteral("Kumquat");
}

void TestMainWindow::newMasterPassword()
{
    QFETCH(bool, masterPresent);
    QFETCH(QByteArray, masterBytes);
    QFETCH(bool, emptyLinkFile);
    QFETCH(QString, typed);
    QFETCH(QByteArray, expected);

    const QString path = m_state->paths.masterPasswordPath;
    QVERIFY(QFile::remove(path));
    if (masterPresent)
        QVERIFY(TestData::writeFile(path, masterBytes));
    if (emptyLinkFile)
        writeLinks(QByteArray());
    QVERIFY(openMainWindow());
    typeAndEnter(typed);

    QCOMPARE(m_answers->texts(), QStringList());
    QVERIFY(m_window->isUnlocked());
    QVERIFY(child("Picture1")->isHidden());
    QCOMPARE(m_state->masterPassword, expected);
    QCOMPARE(m_state->checkValue, QByteArrayLiteral("123456789"));
    QCOMPARE(m_window->model().rowCount(), 0);

    QCOMPARE(QFileInfo(path).size(), 1024);
    CipherService cipher;
    const MasterPasswordFile::Check check = MasterPasswordFile::check(path, expected, cipher);
    QCOMPARE(check.outcome, MasterPasswordFile::Outcome::Right);
    QCOMPARE(check.checkValue, QByteArrayLiteral("123456789"));
}

void TestMainWindow::orphanedLinkFile_data()
{
    QTest::addColumn<bool>("masterPresent");
    QTest::newRow("no master password file") << false;
    QTest::newRow("empty master password file") << true;
}

// Stored entries are never put under a password that did not encrypt them.
void TestMainWindow::orphanedLinkFile()
{
    QFETCH(bool, masterPresent);
    const QString path = m_state->paths.masterPasswordPath;
    QVERIFY(QFile::remove(path));
    if (masterPresent)
        QVERIFY(TestData::writeFile(path, QByteArray()));
    const QByteArray links = TestData::linkFile(kItems, kPassword);
    writeLinks(links);
    QVERIFY(openMainWindow());

    typeAndEnter(u"Kumquat"_s);
    typeAndEnter(QString::fromLatin1(kPassword));
    QCOMPARE(m_answers->shown(),
             QList<ScriptedAnswers::Shown>(2, {MessageKind::Ok, kOrphanedLinkFile, 0}));
    QVERIFY(!m_window->isUnlocked());
    QVERIFY(child("Picture1")->isVisible());
    QCOMPARE(m_window->badPasswordCount(), 0);
    QVERIFY(m_state->masterPassword.isEmpty());
    QCOMPARE(QFile::exists(path), masterPresent);
    QCOMPARE(QFileInfo(path).size(), 0);
    QCOMPARE(TestData::readFile(m_state->paths.linkFilePath), links);
}

void TestMainWindow::damagedLinkFile()
{
    // The second record's address field has a length prefix that is not a number.
    const QByteArray links = TestData::linkFile(kItems, kPassword).replace(3584 + 512 + 4, 1, "x");
    writeLinks(links);
    QVERIFY(openMainWindow());
    QVERIFY(unlock());

    QCOMPARE(m_answers->shown(),
             QList<ScriptedAnswers::Shown>({{MessageKind::Ok, kLoadFailed, 0}}));
    QCOMPARE(m_window->model().rowCount(), 1);
    QCOMPARE(m_window->model().entry(0).title().toByteArray(), kItems[0].title);
    QCOMPARE(m_window->model().entry(0).url().toByteArray(), kItems[0].url);
    // Loading never rewrites what it could not read.
    QCOMPARE(TestData::readFile(m_state->paths.linkFilePath), links);
}

// What a write cut short left at the end is left out of the list, and the user is told.
void TestMainWindow::tornTailIsSaid()
{
    const QByteArray whole = TestData::linkFile(kItems, kPassword);
    const QByteArray links = whole + whole.first(1000);
    writeLinks(links);
    QVERIFY(openMainWindow());
    QVERIFY(unlock());

    QCOMPARE(m_answers->shown(),
             QList<ScriptedAnswers::Shown>(
                 {{MessageKind::Ok, tornTailNote(m_state->paths.linkFilePath, 1000), 0}}));
    QCOMPARE(m_window->model().rowCount(), kItems.size());
    QCOMPARE(TestData::readFile(m_state->paths.linkFilePath), links);
}

// A link file in a synchronised folder that is not mounted is no empty list.
void TestMainWindow::linkFileLinksNowhere()
{
    const QString path = m_state->paths.linkFilePath;
    const QString target = path + u".unmounted/QuiURL.dab"_s;
    QVERIFY(QFile::link(target, path));
    QVERIFY(openMainWindow());
    QVERIFY(unlock());

    QCOMPARE(m_answers->shown(),
             QList<ScriptedAnswers::Shown>({{MessageKind::Ok, kLoadFailed, 0}}));
    QCOMPARE(m_window->model().rowCount(), 0);
    QVERIFY(QFileInfo(path).isSymLink());
    QVERIFY(!QFileInfo::exists(target));
}

void TestMainWindow::firstRowSelectedAfterLoad_data()
{
    QTest::addColumn<QByteArray>("links");
    QTest::addColumn<bool>("changePassword");
    QTest::addColumn<int>("rows");

    const QByteArray links = TestData::linkFile(kItems, kPassword);
    QTest::newRow("unlock") << links << false << 3;
    QTest::newRow("unlock, a damaged record stops the load")
        << QByteArray(links).replace(2 * 3584 + 4, 1, "x") << false << 2;
    QTest::newRow("new password") << links << true << 3;
    QTest::newRow("empty list") << QByteArray() << false << 0;
}

// The commands work on the selected row: right after a load the first one is, so that a
// column header copies from it and the first Down arrow goes to the second.
void TestMainWindow::firstRowSelectedAfterLoad()
{
    QFETCH(QByteArray, links);
    QFETCH(bool, changePassword);
    QFETCH(int, rows);

    writeLinks(links);
    QVERIFY(openMainWindow());
    if (changePassword) {
        auto* box = child<QLineEdit>("Text4");
        auto* change = child<QPushButton>("Command4");
        box->setText(QString::fromLatin1(kPassword));
        change->click();
        box->setText(u"Kumquat"_s);
        change->click();
    } else {
        QVERIFY(unlock());
    }
    QVERIFY(m_window->isUnlocked());
    QCOMPARE(m_window->model().rowCount(), rows);
    auto* list = child<EntryListView>("ListView1");
    QGuiApplication::clipboard()->setText(u"the user's own"_s);
    if (rows == 0) {
        QCOMPARE(m_window->currentRow(), -1);
        QCOMPARE(m_window->selectedRows(), std::vector<int>());
        return;
    }
    QCOMPARE(m_window->currentRow(), 0);
    QCOMPARE(m_window->selectedRows(), std::vector<int>{0});
    QCOMPARE(QApplication::focusWidget(), list);

    QHeaderView* header = list->header();
    QTest::mouseClick(
        header->viewport(), Qt::LeftButton, {},
        QPoint(header->sectionViewportPosition(EntryModel::TitleColumn) + 5, header->height() / 2));
    QCOMPARE(QGuiApplication::clipboard()->text(), u"First page"_s);
    QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(m_window->currentRow(), 1);
    QCOMPARE(m_window->selectedRows(), std::vector<int>{1});
}

void TestMainWindow::enterKey_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("unlocked");
    QTest::addColumn<QStringList>("messages");

    QTest::newRow("return, right") << u"Pomelo"_s << int(Qt::Key_Return) << true << QStringList();
    QTest::newRow("keypad enter, right")
        << u"Pomelo"_s << int(Qt::Key_Enter) << true << QStringList();
    QTest::newRow("return, wrong")
        << u"Pomelo!"_s << int(Qt::Key_Return) << false << QStringList(badPassword(1));
}

void TestMainWindow::enterKey()
{
    QFETCH(QString, typed);
    QFETCH(int, key);
    QFETCH(bool, unlocked);
    QFETCH(QStringList, messages);

    writeLinks(kItems);
    QVERIFY(openMainWindow());
    auto* box = child<QLineEdit>("Text4");
    QTest::keyClicks(box, typed);
    QCOMPARE(box->text(), typed);
    QSignalSpy reachedBox(box, &QLineEdit::returnPressed);
    QTest::keyClick(box, Qt::Key(key));

    QCOMPARE(reachedBox.count(), 0);
    QCOMPARE(m_answers->texts(), messages);
    QCOMPARE(m_window->isUnlocked(), unlocked);
    QCOMPARE(m_window->model().rowCount(), unlocked ? kItems.size() : 0);
}

void TestMainWindow::pastedPassword_data()
{
    QTest::addColumn<QString>("pasted");
    QTest::newRow("from a terminal") << u"Pomelo\n"_s;
    QTest::newRow("Windows line end") << u"Pomelo\r\n"_s;
    QTest::newRow("broken over two lines") << u"Pom\nelo"_s;
}

// The password box is one line: a pasted line break is dropped, not taken as part of the
// password.
void TestMainWindow::pastedPassword()
{
    QFETCH(QString, pasted);
    writeLinks(kItems);
    QVERIFY(openMainWindow());
    auto* box = child<QLineEdit>("Text4");
    QGuiApplication::clipboard()->setText(pasted);
    QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(box->text(), u"Pomelo"_s);
    QTest::keyClick(box, Qt::Key_Return);
    QCOMPARE(m_answers->texts(), QStringList());
    QVERIFY(m_window->isUnlocked());
}

void TestMainWindow::autoEnter_data()
{
    QTest::addColumn<qint16>("autoEnter");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("unlocked");
    QTest::addColumn<QStringList>("messages");

    QTest::newRow("right password") << qint16(1) << u"Pomelo"_s << true << QStringList();
    QTest::newRow("wrong password counts")
        << qint16(1) << u"Lime"_s << false << QStringList(badPassword(1));
    QTest::newRow("setting off") << qint16(0) << u"Pomelo"_s << false << QStringList();
}

void TestMainWindow::autoEnter()
{
    QFETCH(qint16, autoEnter);
    QFETCH(QString, stored);
    QFETCH(bool, unlocked);
    QFETCH(QStringList, messages);

    writeLinks(kItems);
    m_state->settings.autoEnter = autoEnter;
    m_state->settings.autoEnterPassword = stored;
    QVERIFY(openMainWindow());
    QCOMPARE(m_window->isUnlocked(), unlocked);
    QCOMPARE(m_answers->texts(), messages);
    QCOMPARE(m_window->badPasswordCount(), messages.size());
    QCOMPARE(m_window->model().rowCount(), unlocked ? kItems.size() : 0);

    // Only the first activation enters it.
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(m_window.get(), &activate);
    QCOMPARE(m_answers->texts(), messages);
}

void TestMainWindow::coverFollowsTheList()
{
    writeLinks(kItems);
    QVERIFY(openMainWindow());
    QVERIFY(unlock());
    auto* cover = child("Picture2");
    auto* smallLogo = child("Image3");
    auto* coverLogo = child("Image4");
    auto* list = child("ListView1");

    QTest::mouseClick(smallLogo, Qt::LeftButton);
    QVERIFY(cover->isVisible());
    QCOMPARE(cover->geometry(), list->geometry());
    QCOMPARE(coverLogo->size(), QSize(100, 100));
    QVERIFY(centredIn(coverLogo->geometry(), cover->size()));

    QTest::mouseClick(smallLogo, Qt::LeftButton);
    QVERIFY(cover->isHidden());

    // Covered, the cover follows the list through a resize.
    QTest::mouseClick(smallLogo, Qt::LeftButton);
    m_window->resize(m_window->width() + 90, m_window->height() + 60);
    QCOMPARE(cover->geometry(), list->geometry());
    QVERIFY(centredIn(coverLogo->geometry(), cover->size()));

    QTest::mouseClick(coverLogo, Qt::LeftButton);
    QVERIFY(cover->isHidden());
    QVERIFY(m_answers->shown().isEmpty());
}

void TestMainWindow::coverLogoWhileLocked()
{
    QVERIFY(openMainWindow());
    QTest::mouseClick(child("Image4"), Qt::LeftButton);
    QVERIFY(child("Picture2")->isVisible());
    QCOMPARE(child("Picture2")->geometry(), m_window->rect());
    QVERIFY(child("Picture1")->isVisible());
    QVERIFY(!m_window->isUnlocked());
}

void TestMainWindow::escapeCloses_data()
{
    QTest::addColumn<bool>("unlocked");
    QTest::addColumn<QString>("focus");
    QTest::newRow("list, unlocked") << true << u"ListView1"_s;
    QTest::newRow("password box, locked") << false << u"Text4"_s;
}

void TestMainWindow::escapeCloses()
{
    QFETCH(bool, unlocked);
    QFETCH(QString, focus);

    writeLinks(kItems);
    QVERIFY(openMainWindow());
    if (unlocked)
        QVERIFY(unlock());
    QWidget* focused = QApplication::focusWidget();
    QVERIFY(focused);
    QCOMPARE(focused->objectName(), focus);

    QTest::keyClick(focused, Qt::Key_Escape);
    QVERIFY(!m_window->isVisible());
    QVERIFY(!m_state->mainWindowOpen);
    QVERIFY(readSettingsFile(m_state->paths.settingsPath).settings);
    QVERIFY(m_answers->shown().isEmpty());
}

void TestMainWindow::closingSavesSettings()
{
    Settings& s = m_state->settings;
    s.placementStored = 1;
    s.windowLeft = 1500;
    s.windowTop = 900;
    s.windowWidth = 7500;
    s.windowHeight = 4500;
    QVERIFY(openMainWindow());
    QHeaderView* header = child<EntryListView>("ListView1")->header();
    const int widths[] = {100, 120, 0, 300};
    for (int i = 0; i < 4; ++i)
        header->resizeSection(i, widths[i]);
    m_window->move(120, 80);
    m_window->resize(520, 310);

    QVERIFY(m_window->close());
    const SettingsRead read = readSettingsFile(m_state->paths.settingsPath);
    QVERIFY2(read.settings, qPrintable(read.failure));
    QCOMPARE(read.settings->placementStored, 1);
    QCOMPARE(read.settings->windowLeft, 1800.0f);
    QCOMPARE(read.settings->windowTop, 1200.0f);
    QCOMPARE(read.settings->windowWidth, 7800.0f);
    QCOMPARE(read.settings->windowHeight, 4650.0f);
    QCOMPARE(read.settings->columnWidths, (std::array<float, 4>{1500, 1800, 0, 4500}));
    QVERIFY(m_answers->shown().isEmpty());
}

void TestMainWindow::columnWidthsRoundTrip_data()
{
    using Widths = ColumnWidths;
    QTest::addColumn<Widths>("saved");
    QTest::addColumn<QList<int>>("pixels");
    QTest::addColumn<Widths>("written");

    QTest::newRow("design widths")
        << Widths{2000, 2000, 2000, 6600} << QList<int>({133, 133, 133, 440})
        << Widths{1995, 1995, 1995, 6600};
    QTest::newRow("negative applied as 0")
        << Widths{-5, 3000, 1500, 6600} << QList<int>({0, 200, 100, 440})
        << Widths{0, 3000, 1500, 6600};
}

// Widths go to the header in pixels and come back from it multiplied by 15.
void TestMainWindow::columnWidthsRoundTrip()
{
    using Widths = ColumnWidths;
    QFETCH(Widths, saved);
    QFETCH(QList<int>, pixels);
    QFETCH(Widths, written);

    m_state->settings.columnWidths = saved;
    QVERIFY(openMainWindow());
    const QHeaderView* header = child<EntryListView>("ListView1")->header();
    QList<int> shown;
    for (int i = 0; i < 4; ++i)
        shown << header->sectionSize(i);
    QCOMPARE(shown, pixels);

    QVERIFY(m_window->close());
    const SettingsRead read = readSettingsFile(m_state->paths.settingsPath);
    QVERIFY(read.settings);
    QCOMPARE(read.settings->columnWidths, written);
}

// Each row: whether UnDo exists, the kept files in it, whether the pair in place was opened
// before the window closed. Closed locked, the kept files are the way back from a pair whose
// password the user may not know: they stay, and the next start offers them.
void TestMainWindow::closingDeletesUndoCopies_data()
{
    QTest::addColumn<bool>("undoDirectory");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<bool>("opened");
    const QStringList both{u"QuiFil.ini"_s, u"QuiURL.dab"_s};
    QTest::newRow("both copies") << true << both << true;
    QTest::newRow("link file copy only") << true << QStringList(u"QuiURL.dab"_s) << true;
    QTest::newRow("empty directory") << true << QStringList() << true;
    QTest::newRow("no directory") << false << QStringList() << true;
    QTest::newRow("both copies, closed locked") << true << both << false;
    QTest::newRow("link file copy only, closed locked")
        << true << QStringList(u"QuiURL.dab"_s) << false;
    QTest::newRow("empty directory, closed locked") << true << QStringList() << false;
}

void TestMainWindow::closingDeletesUndoCopies()
{
    QFETCH(bool, undoDirectory);
    QFETCH(QStringList, present);
    QFETCH(bool, opened);

    const QString undo = m_dir->filePath(u"UnDo"_s);
    if (undoDirectory) {
        QVERIFY(QDir().mkdir(undo));
        QVERIFY(TestData::writeFile(undo + u"/notes.txt"_s, "not ours"));
    }
    for (const QString& name : present)
        QVERIFY(TestData::writeFile(undo + u'/' + name, "copy"));
    QVERIFY(openMainWindow());
    const bool offered = !present.isEmpty();
    QCOMPARE(m_window->menus().action("mnu1BUundo")->isVisible(), offered);
    QWidget* undoButton = child("UndoRestoreButton");
    QCOMPARE(undoButton && undoButton->isVisible(), offered);
    if (opened)
        QVERIFY(unlock());
    QVERIFY(m_window->close());

    for (const QString& name : {u"QuiFil.ini"_s, u"QuiURL.dab"_s}) {
        const QString path = undo + u'/' + name;
        QCOMPARE(QFile::exists(path), !opened && present.contains(name));
        if (!opened && present.contains(name))
            QCOMPARE(TestData::readFile(path), QByteArray("copy"));
    }
    QCOMPARE(QFileInfo(undo).isDir(), undoDirectory);
    QCOMPARE(QFile::exists(undo + u"/notes.txt"_s), undoDirectory);
    // The live files are not touched.
    QCOMPARE(TestData::readFile(m_state->paths.masterPasswordPath),
             TestData::masterPasswordRecord(kPassword));
    QVERIFY(m_answers->shown().isEmpty());
}

void TestMainWindow::toolTips_data()
{
    QTest::addColumn<QDateTime>("lastDelete");
    QTest::addColumn<bool>("deletedTip");

    const QDateTime now = QDateTime::currentDateTime();
    QTest::newRow("never deleted") << QDateTime() << false;
    QTest::newRow("deleted yesterday") << now.addDays(-1) << true;
    QTest::newRow("deleted 19 years ago") << now.addYears(-19) << true;
    QTest::newRow("deleted 21 years ago") << now.addYears(-21) << false;
}

void TestMainWindow::toolTips()
{
    QFETCH(QDateTime, lastDelete);
    QFETCH(bool, deletedTip);

    if (lastDelete.isValid())
        m_state->settings.lastDeleteDate = toOleDate(lastDelete);
    QVERIFY(openMainWindow());
    for (const auto& [name, tip] : kToolTips) {
        if (deletedTip && qstrcmp(name, "Command5") == 0) {
            const QString shown = child(name)->toolTip();
            QVERIFY2(shown.startsWith(kDeletedTip), qPrintable(shown));
            QVERIFY(shown.size() > kDeletedTip.size());
        } else {
            QCOMPARE(child(name)->toolTip(), tip);
        }
    }
    // No other control has a tip.
    for (QWidget* w : m_window->findChildren<QWidget*>()) {
        const bool listed = std::any_of(kToolTips.begin(), kToolTips.end(), [&](const auto& t) {
            return w->objectName() == QLatin1String(t.first);
        });
        if (!listed)
            QVERIFY2(w->toolTip().isEmpty(), qPrintable(w->objectName()));
    }
}

// Not even the deletion tip shows with tips off; the Option Settings window re-applies them.
void TestMainWindow::noTipsFollowsSetting()
{
    m_state->settings.noTips = 1;
    m_state->settings.lastDeleteDate = toOleDate(QDateTime::currentDateTime().addDays(-3));
    QVERIFY(openMainWindow());
    const auto allTips = [this] {
        QStringList tips;
        for (QWidget* w : m_window->findChildren<QWidget*>())
            if (!w->toolTip().isEmpty())
                tips << w->objectName();
        return tips;
    };
    QCOMPARE(allTips(), QStringList());

    m_state->settings.noTips = 0;
    m_window->F11ToolT();
    QCOMPARE(allTips().size(), 9);
    QVERIFY(child("Command5")->toolTip().startsWith(kDeletedTip));

    m_state->settings.noTips = 1;
    m_window->F11ToolT();
    QCOMPARE(allTips(), QStringList());
}

void TestMainWindow::checkBoxesStoreSettings()
{
    m_state->settings.oneClick = 1;
    QVERIFY(openMainWindow());
    auto* oneClick = child<QCheckBox>("Check1");
    auto* onTop = child<QCheckBox>("Check2");
    QVERIFY(oneClick->isChecked());
    QVERIFY(!onTop->isChecked());
    const auto click = [](QCheckBox* box) {
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    };

    click(oneClick);
    QCOMPARE(m_state->settings.oneClick, 0);
    click(oneClick);
    QCOMPARE(m_state->settings.oneClick, 1);

    // The window system is told in place: a window made anew is moved and mapped again.
    const QWindow* native = m_window->windowHandle();
    QVERIFY(native);
    const WId id = m_window->winId();
    click(onTop);
    QCOMPARE(m_state->settings.onTop, 1);
    QVERIFY(m_window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QCOMPARE(m_window->windowHandle(), native);
    QCOMPARE(m_window->winId(), id);
    QVERIFY(native->flags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(m_window->isVisible());
    click(onTop);
    QCOMPARE(m_state->settings.onTop, 0);
    QVERIFY(!m_window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(!native->flags().testFlag(Qt::WindowStaysOnTopHint));
    QCOMPARE(m_window->windowHandle(), native);
    QCOMPARE(m_window->winId(), id);
    click(onTop);

    QVERIFY(m_window->close());
    const SettingsRead read = readSettingsFile(m_state->paths.settingsPath);
    QVERIFY(read.settings);
    QCOMPARE(read.settings->oneClick, 1);
    QCOMPARE(read.settings->onTop, 1);
}

void TestMainWindow::focusMarker_data()
{
    QTest::addColumn<QString>("box");
    QTest::newRow("On Top") << u"Check2"_s;
    QTest::newRow("1-Click") << u"Check1"_s;
}

void TestMainWindow::focusMarker()
{
    QFETCH(QString, box);
    QVERIFY(openMainWindow());
    auto* marker = child("Picture9");
    auto* focused = m_window->findChild<QCheckBox*>(box);
    QVERIFY(!marker->isVisible());

    focused->setFocus(Qt::TabFocusReason);
    QVERIFY(focused->hasFocus());
    QVERIFY(marker->isVisible());
    // 60 twips left of the box, 15 below its top.
    QCOMPARE(marker->geometry(), QRect(focused->pos() + QPoint(-4, 1), QSize(3, 13)));

    // The bottom row moves with the window's height; the marker with it.
    m_window->resize(m_window->width(), m_window->height() + 45);
    QCOMPARE(marker->pos(), focused->pos() + QPoint(-4, 1));

    child("Text4")->setFocus(Qt::TabFocusReason);
    QVERIFY(marker->isHidden());
}

void TestMainWindow::revealBoxClearedByDoubleClick()
{
    QVERIFY(openMainWindow());
    auto* reveal = child<QLabel>("Label4");
    QVERIFY(reveal->text().isEmpty());
    reveal->setText(u"revealed secret"_s);
    QTest::mouseClick(reveal, Qt::LeftButton);
    QCOMPARE(reveal->text(), u"revealed secret"_s);
    QTest::mouseDClick(reveal, Qt::LeftButton);
    QVERIFY(reveal->text().isEmpty());
}

void TestMainWindow::menus_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("entries");

    QTest::newRow("list menu") << u"mnu11Pop1"_s << u"Pop11-1"_s
                               << QStringList({
                                      u"mnu1NavTo|&Navigate To Selected URL Address"_s,
                                      u"mnuSep000|-"_s,
                                      u"mnu1CopyUzzaToClip|Copy &Username"_s,
                                      u"mnu1CopyPassToClip|Copy &Password"_s,
                                      u"mnuSep00|-"_s,
                                      u"mnu1CopyTitleToClip|Copy &Page Title"_s,
                                      u"mnu1CopyURLToClip|Copy &URL Address"_s,
                                      u"mnuSep0|-"_s,
                                      u"mnu1MoveUp|Move &Up"_s,
                                      u"mnu1Movedown|Move &Down"_s,
                                      u"mnu1ToTop|Move To &Top"_s,
                                      u"mnu1ToBot|Move To &Bottom"_s,
                                      u"mnuSep1|-"_s,
                                      u"mnu1LoadTextBoxes|&Load Enter Items Text Boxes With "
                                      "Selected Items"_s,
                                      u"mnuSep2|-"_s,
                                      u"mnu1ViewHidUsername|&View Selected Hidden Username "
                                      "(below)"_s,
                                      u"mnu1ViewPass|&View Selected Password (below)"_s,
                                      u"mnuSep3|-"_s,
                                      u"mnu1DelURLFromList|&Delete Selected Item Set(s)"_s,
                                  });
    QTest::newRow("app menu") << u"mnu11Pop2"_s << u"Pop11-2"_s
                              << QStringList({
                                     u"mnu1Font|&Text Fonts"_s,
                                     u"mnu1ApSettings|&Option Settings"_s,
                                     u"mnu1EnterItems|&Enter Items Window"_s,
                                     u"mnuSep4|-"_s,
                                     u"mnu1BUfiles|&Back-Up Your Links Files"_s,
                                     u"mnu1BURestore|&Restore w/ Back-Up Files"_s,
                                     u"mnu1BUundo|&Undo Previous Restore"_s,
                                     u"mnu1Merge|&Merge Another Version Of The List"_s,
                                     u"mnuSep5|-"_s,
                                     u"mnu1QuilUpdates|&Upgrades && Security Alerts"_s,
                                     u"mnu1About|&About"_s,
                                     u"mnu1Help|&Help"_s,
                                 });
}

void TestMainWindow::menus()
{
    QFETCH(QString, menu);
    QFETCH(QString, title);
    QFETCH(QStringList, entries);

    QVERIFY(openMainWindow());
    auto* found = m_window->findChild<QMenu*>(menu);
    QVERIFY(found);
    QCOMPARE(found->title(), title);
    QStringList actual;
    for (const QAction* a : found->actions())
        actual << a->objectName() + u'|' + (a->isSeparator() ? u"-"_s : a->text());
    QCOMPARE(actual, entries);
}

void TestMainWindow::hiddenUserNameEntry_data()
{
    QTest::addColumn<qint16>("hiddenUserNames");
    QTest::newRow("user names shown") << qint16(0);
    QTest::newRow("user names hidden") << qint16(1);
}

void TestMainWindow::hiddenUserNameEntry()
{
    QFETCH(qint16, hiddenUserNames);
    m_state->settings.hiddenUserNames = hiddenUserNames;
    QVERIFY(openMainWindow());
    QCOMPARE(m_window->menus().action("mnu1ViewHidUsername")->isVisible(), hiddenUserNames == 1);
    // Shown only after a restore.
    QVERIFY(!m_window->menus().action("mnu1BUundo")->isVisible());
}

void TestMainWindow::clipboardCopyIsMarkedSecret()
{
    ClipboardGuard guard;
    guard.copy(u"s3cr€t"_s);
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    QVERIFY(data);
    QCOMPARE(data->text(), u"s3cr€t"_s);
    QCOMPARE(data->data(u"x-kde-passwordManagerHint"_s), QByteArrayLiteral("secret"));
    QCOMPARE(guard.timer().objectName(), u"Timer1"_s);
    QVERIFY(guard.timer().isActive());
    QVERIFY(guard.timer().isSingleShot());
    QCOMPARE(guard.timer().interval(), 30000);
}

void TestMainWindow::clipboardClear_data()
{
    QTest::addColumn<bool>("atExit");
    QTest::addColumn<QString>("userCopy");
    QTest::addColumn<QString>("left");

    QTest::newRow("timer, still ours") << false << QString() << QString();
    QTest::newRow("timer, user copied since") << false << u"mine"_s << u"mine"_s;
    // The same text copied by the user carries no hint: it is theirs.
    QTest::newRow("timer, user copied the same text") << false << u"pw"_s << u"pw"_s;
    QTest::newRow("exit, still ours") << true << QString() << QString();
    QTest::newRow("exit, user copied since") << true << u"mine"_s << u"mine"_s;
}

void TestMainWindow::clipboardClear()
{
    QFETCH(bool, atExit);
    QFETCH(QString, userCopy);
    QFETCH(QString, left);

    QClipboard* clipboard = QGuiApplication::clipboard();
    ClipboardGuard guard;
    guard.copy(u"pw"_s);
    if (!userCopy.isNull())
        clipboard->setText(userCopy);
    if (atExit)
        guard.clearIfOurs();
    else
        guard.expire();

    QCOMPARE(clipboard->text(), left);
    const QMimeData* data = clipboard->mimeData();
    QVERIFY(!data || !data->hasFormat(u"x-kde-passwordManagerHint"_s));
    if (!atExit)
        QVERIFY(!guard.timer().isActive());
    // Once given up, a later clear leaves the user's copy alone too.
    guard.clearIfOurs();
    QCOMPARE(clipboard->text(), left);
}

void TestMainWindow::clipboardClearedAtClose()
{
    QVERIFY(openMainWindow());
    m_window->clipboard().copy(u"pw"_s);
    QCOMPARE(QGuiApplication::clipboard()->text(), u"pw"_s);
    QVERIFY(m_window->close());
    QCOMPARE(QGuiApplication::clipboard()->text(), QString());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
