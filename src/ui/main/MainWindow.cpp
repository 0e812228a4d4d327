#include "MainWindow.h"

#include "AppCommands.h"
#include "BackUpCommands.h"
#include "ClipboardGuard.h"
#include "EnterItemsLink.h"
#include "EntryFilter.h"
#include "EntryListView.h"
#include "ListCommands.h"
#include "ListEditCommands.h"
#include "MainMenus.h"
#include "MergeCommands.h"
#include "PairWatch.h"
#include "PasswordCommands.h"
#include "RowPictureDelegate.h"
#include "cipher/SecureWipe.h"
#include "startup/AppState.h"
#include "startup/OleDate.h"
#include "startup/SettingsFile.h"
#include "store/FileIdentity.h"
#include "store/LinkFile.h"
#include "store/MasterPasswordFile.h"
#include "store/PairFiles.h"
#include "store/StoredField.h"
#include "store/UndoCopies.h"
#include "store/Unlock.h"
#include "store/Windows1252.h"
#include "ui/Artwork.h"
#include "ui/DesignFont.h"
#include "ui/FocusMarker.h"
#include "ui/PasswordStyle.h"
#include "ui/PictureLabel.h"
#include "ui/Platform.h"
#include "ui/SingleLineValidator.h"
#include "ui/Twips.h"
#include "ui/entry/EnterItemsWindow.h"
#include "ui/message/ShowMessage.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QWindow>

#include <cmath>

namespace {

constexpr int kPasswordMaxLength = 96;
constexpr qint16 kPasswordTriesAllowed = 5;
constexpr std::array<float, 4> kDefaultColumnWidths = {2000, 2000, 2000, 6600};

const QString kBadPassword = QStringLiteral("\r\n\r\n\r\nBad Password; Unable To Open Files.\r\n"
                                            "Bad Pass Count = %1\r\n");
const QString kOrphanedLinkFile =
    QStringLiteral("\r\n\r\n\r\n   Unable To Open Files\r\n(no.in/w/rc)\r\n");
const QString kPasswordFileUnreadable = QStringLiteral(
    "\r\n\r\n\r\n   Unable To Open Files\r\nThe Password File Cannot Be Read:\r\n%1");
const QString kPasswordNotSaved =
    QStringLiteral("\r\n\r\n\r\n   Unable To Save Your New Password\r\n%1");
const QString kUnstorableCharacter =
    QStringLiteral("\r\n\r\n\r\nThe Password Holds A Character\r\nQuillor Cannot Store: \"%1\"");
const QString kListDoesNotMatchFile = QStringLiteral(
    "\r\n\r\n\r\n   Unable To Save Change\r\nA Record Of The Links File Is Damaged; The List "
    "\r\nHolds Only The Entries Before It, And Saving It \r\nWould Delete Every Entry After It."
    "\r\nRestore Your Back-Up Files, Or Copy The Entries \r\nThe List Shows Before You Change "
    "It.\r\n(%1)");
const QString kSettingsNotSaved = QStringLiteral("\r\n\r\n\r\nUnable To Save Your Settings\r\n%1");
const QString kChangedOnDisk =
    QStringLiteral("\r\n\r\n\r\n   Nothing Was Saved\r\nThe List Was Changed On Disk By Another "
                   "\r\nProgram, And Has Been Loaded Again.\r\nRepeat Your Change On The List "
                   "\r\nAs It Is Now.\r\n");
const QString kLockedPasswordChanged = QStringLiteral(
    "\r\n\r\n\r\nThe Password File Was Changed On Disk By \r\nAnother Program, And Your Password "
    "\r\nNo Longer Opens It, So The Window Is Locked.\r\nEnter The Password Now In Effect.\r\n");
const QString kDiskNote =
    QStringLiteral("The list was changed on disk by another program and has been loaded again.");
// Long enough to be read, short enough not to be taken for news of a later change.
constexpr int kDiskNoteMilliseconds = 20000;
const QString kMadeUnsure =
    QStringLiteral("\r\n\r\n\r\nThe Change Was Made, But It May Not\r\nSurvive A Power Cut Or "
                   "A System Crash:\r\n%1");

QLabel* pictureLabel(QWidget* parent, const char* name, PictureLabel::Painter painter)
{
    auto* label = new PictureLabel(parent, painter);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

} // namespace

MainWindow::MainWindow(AppState& state, QWidget* parent)
    : QWidget(parent)
    , m_state(state)
    , m_opener(state.paths)
{
    setObjectName(QStringLiteral("Form11"));
    setWindowTitle(QStringLiteral("Quillor CSP"));
    // The design sizes are for captions at 8 points.
    QFont captions = font();
    captions.setPointSize(8);
    setFont(captions);
    m_state.mainWindowOpen = true;

    m_clipboard = new ClipboardGuard(this);
    m_clipboard->setWarning([this](const QString& text) { message(MessageKind::Ok, text); });
    m_menus = std::make_unique<MainMenus>(this);
    createControls();
    m_enterItems = std::make_unique<EnterItemsLink>(m_state, *this);
    m_listCommands = new ListCommands(*this, m_opener, *m_enterItems, *m_revealBox);
    m_listCommands->connectTo(*m_menus, *m_list->header());
    connect(m_list->selectionModel(), &QItemSelectionModel::currentRowChanged, m_listCommands,
            [this](const QModelIndex& current) {
                m_listCommands->showTitle(m_filter->mapToSource(current).row());
            });
    m_listEditCommands = new ListEditCommands(*this);
    m_listEditCommands->connectTo(*m_menus);
    m_passwordCommands = new PasswordCommands(*this, *m_passwordBox);
    connect(m_changePasswordButton, &QPushButton::clicked, m_passwordCommands,
            &PasswordCommands::changePassword);
    connect(m_deletePasswordButton, &QPushButton::clicked, m_passwordCommands,
            &PasswordCommands::deletePasswordAndFiles);
    m_appCommands = new AppCommands(*this, m_opener);
    m_appCommands->connectTo(*m_menus);
    m_backUpCommands = new BackUpCommands(*this);
    m_backUpCommands->connectTo(*m_menus);
    m_mergeCommands = new MergeCommands(*this);
    m_mergeCommands->connectTo(*m_menus);
    QAction* undoRestore = m_menus->action("mnu1BUundo");
    connect(m_undoRestoreButton, &QPushButton::clicked, undoRestore, &QAction::trigger);
    connect(undoRestore, &QAction::visibleChanged, this, &MainWindow::showUndoRestoreButton);
    showUndoRestoreButton();
    addShortcuts();
    m_pairWatch = new PairWatch(m_state.paths.dataDirectory, this);
    connect(m_pairWatch, &PairWatch::changedOutside, this, &MainWindow::followOutsideChange);
    connect(m_pairWatch, &PairWatch::directoryChanged, this, &MainWindow::dataDirectoryChanged);
    // A conflict copy that a sync program puts beside the list while it is open is offered then.
    connect(this, &MainWindow::dataDirectoryChanged, this, &MainWindow::offerConflictCopies);
    m_pairWatch->rememberNow();
    m_pairWatch->start();

    m_model.setUserNamesHidden(m_state.settings.hiddenUserNames == 1);
    applyColumnWidths();
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    applyPlacement();
    F11ToolT();
    m_versionLabel->setText(QStringLiteral("Vs.") + QCoreApplication::applicationVersion());
    // The top row's buttons are narrowest at the minimum size.
    const MainLayout::Geometry narrowest =
        MainLayout::compute(MainLayout::kMinimumWidth, MainLayout::kMinimumHeight, false);
    fitCaptions({{m_menuButton, MainLayout::toPixels(narrowest.menuButton).width()},
                 {m_enterItemsButton, MainLayout::toPixels(narrowest.enterItemsButton).width()},
                 {m_enterButton},
                 {m_changePasswordButton},
                 {m_deletePasswordButton},
                 {m_undoRestoreButton},
                 {m_versionLabel},
                 {m_onTopBox, MainLayout::toPixels(narrowest.onTopBox).width()},
                 {m_oneClickBox, MainLayout::toPixels(narrowest.oneClickBox).width()}});
    m_oneClickBox->setChecked(m_state.settings.oneClick != 0);
    m_onTopBox->setChecked(m_state.settings.onTop != 0);
    m_onTopBox->setEnabled(!onWayland());
    // Floating from the start: set once shown, the flag would take a new native window in the
    // middle of the first activation.
    applyOnTop();
    m_menus->action("mnu1ViewHidUsername")->setVisible(m_state.settings.hiddenUserNames == 1);

    qApp->installEventFilter(this);
}

MainWindow::~MainWindow()
{
    qApp->removeEventFilter(this);
    m_state.mainWindowOpen = false;
}

void MainWindow::createControls()
{
    using namespace MainLayout;
    setMinimumSize(twipsToPixels(kMinimumWidth), twipsToPixels(kMinimumHeight));

    m_menuButton = button(this, "Command6", QStringLiteral("== Menu =="));
    m_smallLogo = pictureLabel(this, "Image3", Artwork::smallLogo);
    m_enterItemsButton = button(this, "Command7", QStringLiteral("== Enter Items Window =="));

    m_list = new EntryListView(this);
    m_list->setObjectName(QStringLiteral("ListView1"));
    m_filter = new EntryFilter(m_model, this);
    m_list->setModel(m_filter);
    m_list->setItemDelegate(new RowPictureDelegate(Artwork::rowPicture(), m_list));
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setIconSize(QSize(13, 13));
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionsMovable(false);

    m_findBar = new QLineEdit(this);
    m_findBar->setObjectName(QStringLiteral("FindBar"));
    m_findBar->setPlaceholderText(QStringLiteral("Find in titles, addresses and user names"));
    m_findBar->setValidator(new SingleLineValidator(m_findBar));
    m_findBar->hide();
    connect(m_findBar, &QLineEdit::textChanged, this, &MainWindow::findTextChanged);

    m_diskNote = new QLabel(kDiskNote, this);
    m_diskNote->setObjectName(QStringLiteral("DiskChangeNote"));
    m_diskNote->setAccessibleName(kDiskNote);
    m_diskNote->setAccessibleDescription(kDiskNote);
    m_diskNote->setTextInteractionFlags(Qt::NoTextInteraction);
    m_diskNote->hide();
    m_diskNoteTimer = new QTimer(this);
    m_diskNoteTimer->setSingleShot(true);
    m_diskNoteTimer->setInterval(kDiskNoteMilliseconds);
    connect(m_diskNoteTimer, &QTimer::timeout, this, &MainWindow::hideDiskNote);

    m_onTopBox = new QCheckBox(QStringLiteral("On Top"), this);
    m_onTopBox->setObjectName(QStringLiteral("Check2"));
    m_oneClickBox = new QCheckBox(QStringLiteral("1-Click"), this);
    m_oneClickBox->setObjectName(QStringLiteral("Check1"));

    m_revealBox = new QLabel(this);
    m_revealBox->setObjectName(QStringLiteral("Label4"));
    m_revealBox->setFrameStyle(QFrame::Box | QFrame::Plain);
    m_revealBox->setAlignment(Qt::AlignCenter);
    m_revealBox->setFont(designFont(QStringLiteral("Arial"), font().pointSizeF()));
    m_revealBox->setTextInteractionFlags(Qt::NoTextInteraction);

    m_cover = new QWidget(this);
    m_cover->setObjectName(QStringLiteral("Picture2"));
    m_cover->setAutoFillBackground(true);
    QPalette black = m_cover->palette();
    black.setColor(QPalette::Window, Qt::black);
    m_cover->setPalette(black);
    m_coverLogo = pictureLabel(m_cover, "Image4", Artwork::coverLogo);

    m_focusMarker = new FocusMarker(this, QStringLiteral("Picture9"));
    m_focusMarker->setGeometry(toPixels(kFocusMarker));
    m_focusMarker->follow({m_onTopBox, m_oneClickBox});

    m_passwordPanel = pictureLabel(this, "Picture1", Artwork::panelLogo);
    // Its picture fills it without a gap: what it covers, the cover's logo while locked, is not
    // painted at all.
    m_passwordPanel->setAttribute(Qt::WA_OpaquePaintEvent);
    m_prompt = pictureLabel(m_passwordPanel, "Image2", Artwork::passwordPrompt);
    m_prompt->setGeometry(toPixels(kPrompt));
    m_prompt->hide();
    m_enterButton = button(m_passwordPanel, "Command3", QStringLiteral("Enter"));
    m_enterButton->setGeometry(toPixels(kEnterButton));
    m_passwordBox = new QLineEdit(m_passwordPanel);
    m_passwordBox->setObjectName(QStringLiteral("Text4"));
    m_passwordBox->setGeometry(toPixels(kPasswordBox));
    m_passwordBox->setMaxLength(kPasswordMaxLength);
    m_passwordBox->setValidator(new SingleLineValidator(m_passwordBox));
    m_passwordBox->setEchoMode(QLineEdit::Password);
    auto* passwordStyle = new PasswordStyle;
    passwordStyle->setParent(m_passwordBox);
    m_passwordBox->setStyle(passwordStyle);
    m_passwordBox->setFont(designFont(QStringLiteral("Arial Black"), font().pointSizeF(), true));
    m_changePasswordButton = button(m_passwordPanel, "Command4", QStringLiteral("Change Password"));
    m_changePasswordButton->setGeometry(toPixels(kChangePasswordButton));
    m_deletePasswordButton =
        button(m_passwordPanel, "Command5", QStringLiteral("Delete Password && Files"));
    m_deletePasswordButton->setGeometry(toPixels(kDeletePasswordButton));
    m_versionLabel = new QLabel(m_passwordPanel);
    m_versionLabel->setObjectName(QStringLiteral("Label6"));
    m_versionLabel->setAlignment(Qt::AlignCenter);
    m_versionLabel->setGeometry(toPixels(kVersionLabel));

    // Undo Previous Restore, while the window is locked: the menu is behind the cover, and the
    // pair a restore put in place may be one whose password the user does not know.
    m_undoRestoreButton =
        button(this, "UndoRestoreButton", QStringLiteral("Undo Previous Restore"));
    m_undoRestoreButton->hide();

    // Front to back: the password panel, the focus marker, the cover, the rest.
    m_cover->raise();
    m_focusMarker->raise();
    m_passwordPanel->raise();
    m_undoRestoreButton->raise();

    setTabOrder(m_passwordBox, m_enterButton);
    setTabOrder(m_enterButton, m_changePasswordButton);
    // Before Delete, whose losing the focus hands it back to the password box.
    setTabOrder(m_changePasswordButton, m_undoRestoreButton);
    setTabOrder(m_undoRestoreButton, m_deletePasswordButton);
    setTabOrder(m_deletePasswordButton, m_menuButton);
    setTabOrder(m_menuButton, m_list);
    setTabOrder(m_list, m_findBar);
    setTabOrder(m_findBar, m_onTopBox);
    setTabOrder(m_onTopBox, m_oneClickBox);
    setTabOrder(m_oneClickBox, m_enterItemsButton);

    connect(m_enterButton, &QPushButton::clicked, this, &MainWindow::enterPassword);
    connect(m_menuButton, &QPushButton::clicked, this, &MainWindow::showAppMenu);
    connect(m_enterItemsButton, &QPushButton::clicked, this, &MainWindow::openEnterItemsWindow);
    connect(m_list, &QAbstractItemView::clicked, this, &MainWindow::listClicked);
    connect(m_oneClickBox, &QCheckBox::clicked, this,
            [this](bool on) { m_state.settings.oneClick = on ? 1 : 0; });
    connect(m_onTopBox, &QCheckBox::clicked, this, [this](bool on) {
        m_state.settings.onTop = on ? 1 : 0;
        applyOnTop();
    });
    // The logos, the reveal box, the check boxes and the list reach eventFilter through the
    // application-wide filter alone: a filter of their own too would handle each event twice.
}

void MainWindow::addShortcuts()
{
    const auto bind = [this](QAction* action, const QKeySequence& keys) {
        action->setShortcut(keys);
        // A menu that is not open takes no keys; the window does.
        addAction(action);
    };
    bind(m_menus->action("mnu1CopyUzzaToClip"), QKeySequence(Qt::CTRL | Qt::Key_B));
    bind(m_menus->action("mnu1CopyPassToClip"), QKeySequence(Qt::CTRL | Qt::Key_C));
    bind(m_menus->action("mnu1NavTo"), QKeySequence(Qt::CTRL | Qt::Key_U));
    bind(m_menus->action("mnu1DelURLFromList"), QKeySequence(Qt::Key_Delete));
    bind(m_menus->action("mnu1EnterItems"), QKeySequence(Qt::CTRL | Qt::Key_E));
    auto* find = new QAction(this);
    find->setObjectName(QStringLiteral("FindAction"));
    connect(find, &QAction::triggered, this, &MainWindow::openFindBar);
    bind(find, QKeySequence(Qt::CTRL | Qt::Key_F));
}

void MainWindow::applyColumnWidths()
{
    auto& widths = m_state.settings.columnWidths;
    for (float& w : widths) {
        if (!(w >= 0))
            w = 0;
    }
    // A width the header cannot take falls back to the design widths.
    const bool usable =
        std::all_of(widths.begin(), widths.end(), [](float w) { return w <= 1'000'000; });
    if (!usable)
        widths = kDefaultColumnWidths;
    for (int i = 0; i < EntryModel::ColumnCount; ++i)
        m_list->header()->resizeSection(i, twipsToPixels(widths[std::size_t(i)]));
}

namespace {

// A placement on no screen (a monitor since removed, a damaged file) or under the minimum size
// would show no usable window.
bool placementUsable(const Settings& s)
{
    const auto sane = [](float twips) {
        return std::isfinite(twips) && std::abs(twips) < 1e8f;
    };
    if (!sane(s.windowLeft) || !sane(s.windowTop) || !sane(s.windowWidth) ||
        !sane(s.windowHeight) || s.windowWidth < float(MainLayout::kMinimumWidth) ||
        s.windowHeight < float(MainLayout::kMinimumHeight))
        return false;
    const QRect placed(twipsToPixels(s.windowLeft), twipsToPixels(s.windowTop),
                       twipsToPixels(s.windowWidth), twipsToPixels(s.windowHeight));
    const QList<QScreen*> screens = QGuiApplication::screens();
    return std::any_of(screens.begin(), screens.end(), [&placed](const QScreen* screen) {
        return screen->geometry().intersects(placed);
    });
}

} // namespace

void MainWindow::applyPlacement()
{
    Settings& s = m_state.settings;
    if (s.placementStored == 0 || !placementUsable(s)) {
        s.placementStored = 1;
        s.windowWidth = float(MainLayout::kFirstWidth);
        s.windowHeight = float(MainLayout::kFirstHeight);
        const QRect screen = QGuiApplication::primaryScreen()
                                 ? QGuiApplication::primaryScreen()->geometry()
                                 : QRect(0, 0, 1024, 768);
        s.windowLeft = float((pixelsToTwips(screen.width()) - MainLayout::kFirstWidth) / 2);
        s.windowTop = float((pixelsToTwips(screen.height()) - MainLayout::kFirstHeight) / 2);
    }
    resize(twipsToPixels(s.windowWidth), twipsToPixels(s.windowHeight));
    if (!onWayland()) {
        const QRect stored(twipsToPixels(s.windowLeft), twipsToPixels(s.windowTop), width(),
                           height());
        QScreen* screen = QGuiApplication::screenAt(stored.center());
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        move(screen ? MainLayout::clampedInto(stored, screen->availableGeometry()).topLeft()
                    : stored.topLeft());
    }
    relayout();
}

int MainWindow::currentRow() const
{
    // A row the view only points at, without selecting it, is not chosen by the user.
    const QModelIndex current = m_list->currentIndex();
    if (!current.isValid() || !m_list->selectionModel()->isRowSelected(current.row()))
        return -1;
    return m_filter->mapToSource(current).row();
}

void MainWindow::selectRow(int row)
{
    QModelIndex shown = m_filter->mapFromSource(m_model.index(row, 0));
    if (!shown.isValid() && row >= 0 && row < m_model.rowCount()) {
        m_findBar->clear();
        shown = m_filter->mapFromSource(m_model.index(row, 0));
    }
    m_list->selectionModel()->setCurrentIndex(shown, QItemSelectionModel::ClearAndSelect |
                                                         QItemSelectionModel::Rows);
    if (shown.isValid())
        m_list->scrollTo(shown);
}

void MainWindow::selectRowNear(int row)
{
    // Unsorted, the rows shown keep the model's order.
    const int count = m_filter->rowCount();
    if (count == 0) {
        m_list->selectionModel()->clear();
        return;
    }
    int lo = 0;
    int hi = count;
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (m_filter->mapToSource(m_filter->index(mid, 0)).row() < row)
            lo = mid + 1;
        else
            hi = mid;
    }
    selectRow(m_filter->mapToSource(m_filter->index(std::min(lo, count - 1), 0)).row());
}

void MainWindow::openFindBar()
{
    if (!m_unlocked)
        return;
    if (m_findBar->isHidden()) {
        // Its icon is looked up in the icon theme, a fifth of the start-up: only once it shows.
        m_findBar->setClearButtonEnabled(true);
        m_findBar->show();
        relayout();
    }
    m_findBar->setFocus(Qt::ShortcutFocusReason);
    m_findBar->selectAll();
}

void MainWindow::closeFindBar()
{
    if (m_findBar->isHidden())
        return;
    const bool hadFocus = m_findBar->hasFocus();
    m_findBar->hide();
    m_findBar->clear();
    relayout();
    if (const int row = currentRow(); row >= 0)
        m_list->scrollTo(m_filter->mapFromSource(m_model.index(row, 0)));
    if (hadFocus && m_unlocked)
        m_list->setFocus(Qt::OtherFocusReason);
}

void MainWindow::findTextChanged(const QString& text)
{
    const int chosen = currentRow();
    m_filter->setFindText(text);
    // The commands act on the selected entry: it stays while shown, else the first shown.
    const QModelIndex kept =
        chosen >= 0 ? m_filter->mapFromSource(m_model.index(chosen, 0)) : QModelIndex();
    const QModelIndex next = kept.isValid() ? kept : m_filter->index(0, 0);
    if (!next.isValid()) {
        m_list->selectionModel()->clear();
        return;
    }
    m_list->selectionModel()->setCurrentIndex(next, QItemSelectionModel::ClearAndSelect |
                                                        QItemSelectionModel::Rows);
    m_list->scrollTo(next);
}

void MainWindow::F11ToolT()
{
    const bool tips = m_state.settings.noTips == 0;
    const auto tip = [tips](QWidget* w, const char* text) {
        w->setToolTip(tips ? QString::fromLatin1(text) : QString());
    };
    tip(m_changePasswordButton, "Enter Your Current Window Password Then Click This Button. Follow "
                                "Message Instructions To Change Your Password.");
    tip(m_deletePasswordButton, "Deletes Your Current Window Password, And Your Links Files (If "
                                "You Forgot Your Password Or Files Are Contaminated).");
    tip(m_menuButton, "Show Pop-Up App Menu");
    tip(m_enterItemsButton, "Opens Edit Window Where You Can Enter New Or Replace List Items");
    tip(m_oneClickBox, "Only One Click Required To Navigate To Address, Otherwise Double-Click");
    tip(m_onTopBox, onWayland() ? "Your Desktop's Own Window Menu Keeps A Window On Top Of Others"
                                : "Keep This Window On Top Of Other Windows");
    tip(m_revealBox, "Double-Click To Clear This Box");
    tip(m_smallLogo, "Click To Cover/UnCover List Window");
    tip(m_coverLogo, "Click To UnCover List Window");
    if (!tips)
        return;
    const QDateTime lastDelete = fromOleDate(m_state.settings.lastDeleteDate);
    if (lastDelete.isValid() && lastDelete > QDateTime::currentDateTime().addYears(-20))
        m_deletePasswordButton->setToolTip(
            QStringLiteral("Password & Files Were Deleted: ") +
            QLocale::system().toString(lastDelete, QLocale::ShortFormat));
}

void MainWindow::TxtFonts()
{
    const Settings& s = m_state.settings;
    QFont font(s.fontName);
    font.setBold(s.fontBold);
    font.setPointSizeF(std::clamp(double(s.fontSize), 2.0, 72.0));
    m_list->setFont(font);
    m_enterItems->applyFonts();
}

void MainWindow::openEnterItemsWindow()
{
    m_enterItems->open();
}

EnterItemsWindow* MainWindow::enterItemsWindow() const
{
    return m_enterItems->window();
}

bool MainWindow::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate) {
        applyOnTop();
        if (!m_firstActivationDone)
            firstActivation();
    } else if (event->type() == QEvent::Show && !m_firstActivationDone) {
        // A desktop that holds back the focus from a new window (focus-stealing prevention, a
        // headless session) would never activate it: the first steps must not wait for that.
        QTimer::singleShot(0, this, [this] {
            if (!m_firstActivationDone)
                firstActivation();
        });
    }
    return QWidget::event(event);
}

void MainWindow::firstActivation()
{
    m_firstActivationDone = true;
    if (m_state.settings.autoEnter == 1) {
        m_passwordBox->setText(m_state.settings.autoEnterPassword);
        enterPassword();
    }
    m_prompt->show();
    TxtFonts();
    m_passwordBox->setFocus(Qt::ActiveWindowFocusReason);
}

void MainWindow::applyOnTop()
{
    const bool onTop = m_state.settings.onTop == 1;
    // Wayland has no stay-on-top for clients; the flag would only re-create the window.
    if (onWayland() || onTop == windowFlags().testFlag(Qt::WindowStaysOnTopHint))
        return;
    const Qt::WindowFlags flags = windowFlags().setFlag(Qt::WindowStaysOnTopHint, onTop);
    // A window already made is told in place: setWindowFlags() would destroy and re-create it,
    // mapping it anew where the window manager chooses.
    if (QWindow* native = windowHandle()) {
        overrideWindowFlags(flags);
        native->setFlags(flags);
    } else {
        setWindowFlags(flags);
    }
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (isMinimized())
        return;
    relayout();
    if (!isMaximized() && !isFullScreen())
        savePlacement();
}

void MainWindow::relayout()
{
    using namespace MainLayout;
    Geometry g = compute(pixelsToTwips(width()), pixelsToTwips(height()), m_unlocked);
    m_menuButton->setGeometry(toPixels(g.menuButton));
    m_smallLogo->setGeometry(toPixels(g.smallLogo));
    m_enterItemsButton->setGeometry(toPixels(g.enterItemsButton));
    QRect list = toPixels(g.list);
    const int barHeight = m_findBar->isHidden() ? 0 : m_findBar->sizeHint().height();
    const int noteHeight = m_diskNote->isHidden() ? 0 : m_diskNote->sizeHint().height();
    list.setHeight(std::max(list.height() - barHeight - noteHeight, 0));
    if (barHeight > 0)
        m_findBar->setGeometry(list.left(), list.bottom() + 1, list.width(), barHeight);
    if (noteHeight > 0)
        m_diskNote->setGeometry(list.left(), list.bottom() + 1 + barHeight, list.width(),
                                noteHeight);
    m_list->setGeometry(list);
    m_cover->setGeometry(toPixels(g.cover));
    m_coverLogo->setGeometry(toPixels(g.coverLogo));
    m_revealBox->setGeometry(toPixels(g.revealBox));
    m_onTopBox->setGeometry(toPixels(g.onTopBox));
    m_oneClickBox->setGeometry(toPixels(g.oneClickBox));
    m_focusMarker->move(m_focusMarker->x(), twipsToPixels(g.focusMarkerTop));
    m_passwordPanel->setGeometry(toPixels(g.passwordPanel));
    m_undoRestoreButton->setGeometry(toPixels(g.undoRestoreButton));
}

void MainWindow::savePlacement()
{
    // Once the on-top flag has rebuilt the native window, the widget's own idea of its position
    // can be off by the frame; the native window's, where there is one, is not.
    Settings& s = m_state.settings;
    // Where the window system places the window, the position read at start is kept for a
    // start under one that does not.
    if (!onWayland()) {
        const QPoint frame = windowHandle() ? windowHandle()->framePosition() : pos();
        s.windowLeft = float(pixelsToTwips(frame.x()));
        s.windowTop = float(pixelsToTwips(frame.y()));
    }
    s.windowWidth = float(pixelsToTwips(width()));
    s.windowHeight = float(pixelsToTwips(height()));
}

void MainWindow::saveColumnWidths()
{
    for (int i = 0; i < EntryModel::ColumnCount; ++i)
        m_state.settings.columnWidths[std::size_t(i)] =
            float(pixelsToTwips(m_list->header()->sectionSize(i)));
}

void MainWindow::toggleCover()
{
    if (m_cover->isVisible()) {
        m_cover->hide();
        return;
    }
    MainLayout::Geometry g =
        MainLayout::compute(pixelsToTwips(width()), pixelsToTwips(height()), m_unlocked);
    MainLayout::coverTheList(g);
    m_cover->setGeometry(MainLayout::toPixels(g.cover));
    m_coverLogo->setGeometry(MainLayout::toPixels(g.coverLogo));
    m_cover->show();
}

void MainWindow::uncoverIfUnlocked()
{
    if (m_unlocked)
        m_cover->hide();
}

void MainWindow::showAppMenu()
{
    m_menus->appMenu()->popup(m_menuButton->mapToGlobal(QPoint(0, m_menuButton->height())));
}

void MainWindow::showUndoRestoreButton()
{
    const bool hadFocus = m_undoRestoreButton->hasFocus();
    m_undoRestoreButton->setVisible(!m_unlocked && m_menus->action("mnu1BUundo")->isVisible());
    // Once the undo is done, the password it wants is what comes next.
    if (hadFocus && !m_unlocked && m_undoRestoreButton->isHidden())
        m_passwordBox->setFocus(Qt::OtherFocusReason);
}

void MainWindow::showListMenu(const QPoint& globalPos)
{
    if (m_oneClickBox->isChecked())
        m_skipNextClick = true;
    if (m_model.rowCount() > 0)
        m_menus->listMenu()->popup(globalPos);
}

void MainWindow::listClicked()
{
    if (m_model.rowCount() == 0)
        return;
    m_listCommands->showTitle(currentRow());
    if (!m_oneClickBox->isChecked())
        return;
    if (m_skipNextClick) {
        m_skipNextClick = false;
        return;
    }
    m_listCommands->navigate();
}

void MainWindow::listDoubleClicked()
{
    // In one-click mode the click before it has navigated already.
    if (!m_oneClickBox->isChecked())
        m_listCommands->navigate();
}

qint16 MainWindow::message(qint16 kind, const QString& text, qint16 number)
{
    return ShowMessage(m_state.settings, kind, text, number, this);
}

std::optional<QByteArray> MainWindow::typedPassword()
{
    const QString typed = trimBlanks(QStringView(m_passwordBox->text())).toString();
    auto password = Windows1252::fromUnicode(typed);
    if (!password) {
        const QChar bad = typed.at(Windows1252::firstUnencodable(typed));
        message(MessageKind::Ok, kUnstorableCharacter.arg(bad));
    }
    return password;
}

void MainWindow::badPassword(const QString& text)
{
    ++m_badPasswordCount;
    message(MessageKind::Ok, text.arg(m_badPasswordCount));
    if (m_badPasswordCount >= kPasswordTriesAllowed)
        close();
}

void MainWindow::showPasswordFileUnreadable(const QString& failure)
{
    message(MessageKind::Ok, kPasswordFileUnreadable.arg(failure));
}

void MainWindow::enterPassword()
{
    m_passwordCommands->cancelPendingChange();
    const auto password = typedPassword();
    if (!password)
        return;

    const UnlockResult result = unlockOrCreate(
        m_state.paths.masterPasswordPath, m_state.paths.linkFilePath, *password, m_state.cipher);
    using Outcome = UnlockResult::Outcome;
    switch (result.outcome) {
    case Outcome::WrongPassword:
        badPassword(kBadPassword);
        return;
    case Outcome::LinkFileOrphaned:
        message(MessageKind::Ok, kOrphanedLinkFile);
        return;
    case Outcome::PasswordUnreadable:
        showPasswordFileUnreadable(result.failure);
        return;
    case Outcome::CreateFailed:
        message(MessageKind::Ok, kPasswordNotSaved.arg(result.failure));
        return;
    case Outcome::Unlocked:
        m_badPasswordCount = 0;
        break;
    case Outcome::Created:
        break;
    }

    m_state.masterPassword = *password;
    m_state.checkValue = result.checkValue;
    reloadList();
    showUnlocked();
    offerConflictCopies();
}

void MainWindow::offerConflictCopies()
{
    m_mergeCommands->offerConflictCopies();
}

void MainWindow::showUnlocked()
{
    m_passwordPanel->hide();
    m_cover->hide();
    m_unlocked = true;
    showUndoRestoreButton();
    relayout();
    m_list->setFocus(Qt::OtherFocusReason);
}

void MainWindow::showLocked()
{
    m_passwordCommands->cancelPendingChange();
    closeFindBar();
    hideDiskNote();
    secureWipe(m_state.masterPassword);
    m_state.masterPassword.clear();
    m_model.clear();
    m_loadFailure.clear();
    m_revealBox->clear();
    m_passwordBox->clear();
    m_unlocked = false;
    relayout();
    m_cover->show();
    m_passwordPanel->show();
    showUndoRestoreButton();
    m_passwordBox->setFocus(Qt::OtherFocusReason);
}

QString MainWindow::madeUnsureText(const QString& failure)
{
    return kMadeUnsure.arg(failure);
}

bool MainWindow::finishMadeUnsure(const QString& failure)
{
    const SaveResult settled = PairFiles::settlePairDirectory(m_state.paths.dataDirectory);
    message(MessageKind::Ok,
            madeUnsureText(settled ? failure : failure + QStringLiteral("\r\n") + settled.error()));
    if (!settled)
        showLocked();
    return settled.ok();
}

void MainWindow::reloadList()
{
    // Taken before the read: a change made while it reads is another pair than this, and is
    // loaded in turn.
    const PairIdentity read = pairIdentity(m_state.paths.dataDirectory);
    qint64 tornTail = 0;
    const bool loaded = loadList(m_model, m_state.paths.linkFilePath, m_state.masterPassword,
                                 m_state.cipher, &m_loadFailure, &tornTail);
    m_pairWatch->remember(read);
    if (!loaded)
        message(MessageKind::Ok, kLoadListsFailedMessage);
    else if (tornTail > 0)
        message(MessageKind::Ok, tornTailNote(m_state.paths.linkFilePath, tornTail));
    // The commands work on the selected row; the view would only point at the first.
    if (m_model.rowCount() > 0)
        selectRow(0);
}

std::vector<int> MainWindow::selectedRows() const
{
    std::vector<int> rows;
    for (const QModelIndex& index : m_list->selectionModel()->selectedRows())
        rows.push_back(m_filter->mapToSource(index).row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

bool MainWindow::listMatchesFile() const
{
    return m_unlocked && m_loadFailure.isEmpty() &&
           storedRecordCount(m_state.paths.linkFilePath) == m_model.rowCount();
}

bool MainWindow::refuseUnlessListMatchesFile()
{
    // A file that grew on another machine is longer than the list, not damaged.
    if (!refuseIfChangedOnDisk())
        return false;
    if (listMatchesFile())
        return true;
    showListDoesNotMatchFile(m_loadFailure.isEmpty() ? m_state.paths.linkFilePath : m_loadFailure);
    return false;
}

void MainWindow::showListDoesNotMatchFile(const QString& failure)
{
    message(MessageKind::Ok, kListDoesNotMatchFile.arg(failure));
}

bool MainWindow::refuseIfChangedOnDisk()
{
    if (!m_unlocked || !m_pairWatch->changedOnDisk())
        return true;
    showChangedOnDisk();
    return false;
}

void MainWindow::showChangedOnDisk()
{
    followChange();
    if (m_unlocked)
        message(MessageKind::Ok, kChangedOnDisk);
}

PairIdentity MainWindow::expectedPair()
{
    aboutToWrite();
    return m_pairWatch->known();
}

void MainWindow::rememberOwnWrite()
{
    m_pairWatch->rememberNow();
}

void MainWindow::followOutsideChange()
{
    // A message on screen or an open menu belongs to a command under way, whose list must not
    // change beneath it; the watch looks again in a few seconds.
    if (m_closing || QApplication::activeModalWidget() || QApplication::activePopupWidget())
        return;
    const bool wasUnlocked = m_unlocked;
    followChange();
    if (wasUnlocked && m_unlocked)
        showDiskNote();
}

// Locked, there is no list to follow: the change is only noted, and the next unlock reads it.
void MainWindow::followChange()
{
    if (!m_unlocked) {
        m_pairWatch->rememberNow();
        return;
    }
    const MasterPasswordFile::Check check = MasterPasswordFile::check(
        m_state.paths.masterPasswordPath, m_state.masterPassword, m_state.cipher);
    if (check.outcome != MasterPasswordFile::Outcome::Right) {
        // Decrypted with the password in memory, the new pair would be garbage.
        showLocked();
        m_pairWatch->rememberNow();
        message(MessageKind::Ok, kLockedPasswordChanged);
        return;
    }
    m_state.checkValue = check.checkValue;
    reloadKeepingPlace();
}

// The entry the user had chosen is found again by its items: another machine's change may have
// moved it to another row.
void MainWindow::reloadKeepingPlace()
{
    const int row = currentRow();
    std::array<QByteArray, 4> chosen;
    if (row >= 0) {
        const Entry& entry = m_model.entry(row);
        chosen = {entry.title().toByteArray(), entry.url().toByteArray(),
                  entry.userName().toByteArray(), entry.passwordCipher().toByteArray()};
    }
    const int top = m_list->verticalScrollBar()->value();
    const int left = m_list->horizontalScrollBar()->value();
    reloadList();
    int found = -1;
    if (row >= 0) {
        const auto matches = [&](const Entry& entry, bool withPassword) {
            return entry.title() == chosen[0] && entry.url() == chosen[1] &&
                   entry.userName() == chosen[2] &&
                   (!withPassword || entry.passwordCipher() == chosen[3]);
        };
        for (bool withPassword : {true, false}) {
            for (int i = 0; found < 0 && i < m_model.rowCount(); ++i) {
                if (matches(m_model.entry(i), withPassword))
                    found = i;
            }
        }
        for (QByteArray& item : chosen)
            secureWipe(item);
    }
    if (found >= 0)
        selectRow(found);
    else if (row >= 0 && m_model.rowCount() > 0)
        selectRowNear(row);
    m_list->verticalScrollBar()->setValue(top);
    m_list->horizontalScrollBar()->setValue(left);
}

void MainWindow::showDiskNote()
{
    if (m_diskNote->isHidden()) {
        m_diskNote->show();
        relayout();
    }
    m_diskNoteTimer->start();
}

void MainWindow::hideDiskNote()
{
    m_diskNoteTimer->stop();
    if (m_diskNote->isHidden())
        return;
    m_diskNote->hide();
    relayout();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    // The note is news until the user does something.
    if ((event->type() == QEvent::KeyPress || event->type() == QEvent::MouseButtonPress) &&
        !m_diskNote->isHidden() && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this)
        hideDiskNote();
    switch (event->type()) {
    case QEvent::KeyPress:
        return keyPressed(watched, static_cast<QKeyEvent*>(event));
    case QEvent::MouseButtonRelease: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (watched == m_smallLogo && mouse->button() == Qt::LeftButton)
            toggleCover();
        else if (watched == m_coverLogo && mouse->button() == Qt::LeftButton)
            uncoverIfUnlocked();
        else if (watched == m_list->viewport() && mouse->button() == Qt::RightButton) {
            showListMenu(mouse->globalPosition().toPoint());
            // A right click is a click on the list too; it takes the skip it just set, so that
            // it never navigates while the next left click does.
            listClicked();
        }
        break;
    }
    case QEvent::FocusOut:
        // Command5_LostFocus: the password box is where the user goes on typing.
        if (watched == m_deletePasswordButton)
            m_passwordBox->setFocus(Qt::OtherFocusReason);
        break;
    case QEvent::MouseButtonDblClick:
        if (watched == m_revealBox)
            m_revealBox->clear();
        else if (watched == m_list->viewport() &&
                 static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            listDoubleClicked();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

// The window sees every key before its controls.
bool MainWindow::keyPressed(QObject* watched, QKeyEvent* event)
{
    if (!watched->isWidgetType() || static_cast<QWidget*>(watched)->window() != this)
        return false;
    if (event->key() == Qt::Key_Escape) {
        if (!m_findBar->isHidden())
            closeFindBar();
        else
            close();
        return true;
    }
    if (watched == m_passwordBox &&
        (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        m_enterButton->click();
        return true;
    }
    return false;
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (m_closing) {
        event->accept();
        return;
    }
    m_closing = true;
    if (!isMinimized() && !isMaximized() && !isFullScreen())
        savePlacement();
    if (!isMinimized())
        saveColumnWidths();
    if (const SaveResult saved = writeSettingsFile(m_state.paths.settingsPath, m_state.settings);
        !saved)
        message(MessageKind::Ok, kSettingsNotSaved.arg(saved.error()));
    m_enterItems->close();
    m_appCommands->closeOptionsWindow();
    // The pair a restore replaced is kept until the pair in its place has been opened: while
    // the window is locked, that pair may be one whose password the user does not know, and the
    // kept one is the only way back. Since every close with the pair open empties UnDo, a pair
    // found there at the next start is one kept so (or left by a run that never closed), and is
    // offered again.
    if (m_unlocked) {
        if (const QString failed = deleteUndoCopies(m_state.paths.dataDirectory); !failed.isEmpty())
            message(MessageKind::Ok,
                    QStringLiteral("\r\n\r\n\r\nUnable To Delete The UnDo Copies\r\n") + failed);
    }
    m_clipboard->clearIfOurs();
    m_state.mainWindowOpen = false;
    event->accept();
}
