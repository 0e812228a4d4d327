#include "OptionsWindow.h"

#include "startup/AppState.h"
#include "startup/ModuleRoutines.h"
#include "startup/Startup.h"
#include "store/BackUp.h"
#include "store/Windows1252.h"
#include "ui/Artwork.h"
#include "ui/DesignFont.h"
#include "ui/FocusMarker.h"
#include "ui/Twips.h"
#include "ui/entry/EnterItemsWindow.h"
#include "ui/main/MainMenus.h"
#include "ui/main/MainWindow.h"
#include "ui/message/ShowMessage.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kClientWidth = 7440;  // twips
constexpr int kClientHeight = 3780; // twips
constexpr qreal kDesignPointSize = 8.25;
constexpr qreal kCipherPointSize = 9.75;
constexpr qint16 kBackUpDirectoryQuestion = 10;

const QString kSettingsCaption = QStringLiteral("Quillor - Option Settings");
const QString kAboutCaption = QStringLiteral("About: Quillor");
// Names what this program really encrypts with.
const QString kCipherInUse = QStringLiteral("RC4 With A 40-Bit Key From MD5, Built Into Quillor");

const QString kExitWithoutSaving = QStringLiteral(
    "\r\n\r\nIn Order To Save The Settings You've Changed,\r\nYou Need To Click The -Exit & Save- "
    "Button.\r\n\r\nDo You Want To Exit WITHOUT Saving Your Changes?");
const QString kReminderStart = QStringLiteral("IMPORTANT: \r\nDon't Forget, Your Password Is:\r\n");
const QString kReminderEnd = QStringLiteral(
    "\r\nYou Will Need It The Next \r\nTime You Run Quillor.\r\n\r\nYou Also May Change It Then, "
    "If You Like.");

const QString kSelectQuestion = QStringLiteral(
    "\r\n\r\nConfirm: \r\nDo You Want To Select A Back-Up\r\nDirectory For Your Quillor Files?");
const QString kChangeQuestion = QStringLiteral(
    "\r\n\r\nConfirm:\r\nDo You Want To Change Your Back-Up\r\nDirectory For Your Quillor Files?");
const QString kNotProgramDirectory =
    QStringLiteral("\r\n\r\nYou Should Not Choose Quillor' Install Directory Which Contains "
                   "Quillor' Default Start-Up Files.");
const QString kNotDataDirectory =
    QStringLiteral("\r\n\r\nYou Should Not Choose Quillor' Data Dir\r\nWhich Contains Your "
                   "Current \r\nQuillor Data Files.");
const QString kNotSharedDirectory =
    QStringLiteral("\r\n\r\nYou Should Not Choose A Directory\r\nOther Users Can Write To.\r\n"
                   "They Could Replace Your Back-Up Files.");
const QString kKeepFiles =
    QStringLiteral("\r\n\r\nYour New Selected Back-Up\r\nDirectory Already Has Files In "
                   "It.\r\n\r\nDo You Want To Keep The Files?");
const QString kMoveFiles =
    QStringLiteral("\r\n\r\nDo You Want To Move Your Current \r\nBack-Up Files To Your New "
                   "\r\nSelected Back-Up Directory?\r\n");
const QString kDeleteOldFiles =
    QStringLiteral("\r\n\r\n\r\nDo You Want To Delete Your \r\nOld Back-Up Files?");
const QString kNotMoved =
    QStringLiteral("\r\n\r\n\r\nAn Error Occurred Moving Your \r\nBack-Up Files; Your Back-Up "
                   "\r\nDirectory Stays As It Was.\r\n");
const QString kOldNotDeleted =
    QStringLiteral("\r\n\r\n\r\nYour Old Back-Up Files \r\nCould Not Be Deleted.\r\n");

// What the About panel says besides the version.
const QString kAboutText = QStringLiteral(
    "<p style='margin-bottom:6px'>Quillor keeps your web links with their user names and "
    "passwords, encrypted under one master password.</p>"
    "<p style='margin-bottom:6px'>Your data files are in:<br><b>%1</b></p>"
    "<p style='margin-bottom:6px'>Cipher: RC4 with a 40-bit key from MD5 of the master password, "
    "the file format of Quillor for Windows. The files stay compatible with it, but a 40-bit key "
    "does not hold against someone who has a copy of them: keep them, and your back-ups, where "
    "only you can reach them.</p>"
    "<p>Licence: none chosen yet; all rights are reserved by Quillor's authors.</p>");

QRect twips(int left, int top, int width, int height)
{
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                 twipsToPixels(height));
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption, const QRect& at)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(at);
    return b;
}

QCheckBox* checkBox(QWidget* parent, const char* name, const QString& caption, const QRect& at)
{
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(at);
    return box;
}

QGroupBox* frame(QWidget* parent, const char* name, const QString& caption, const QRect& at)
{
    auto* f = new QGroupBox(caption, parent);
    f->setObjectName(QString::fromLatin1(name));
    f->setGeometry(at);
    return f;
}

qint16 valueOf(const QCheckBox* box)
{
    return box->isChecked() ? 1 : 0;
}

// The version as major.minor.revision.
QString versionText()
{
    return QStringLiteral("Vs. ") + QCoreApplication::applicationVersion();
}

} // namespace

OptionsWindow::OptionsWindow(AppState& state, MainWindow& mainWindow, Mode mode,
                             DirectoryChooser chooser)
    : QWidget(&mainWindow, Qt::Window)
    , m_state(state)
    , m_main(mainWindow)
    , m_mode(mode)
    , m_chooseDirectory(std::move(chooser))
{
    setObjectName(QStringLiteral("Form4"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFont(designFont(QStringLiteral("Impact"), kDesignPointSize, false, QFont::Condensed));
    setFixedSize(twipsToPixels(kClientWidth), twipsToPixels(kClientHeight));
    m_state.optionsOpen = true;

    createControls();
    createAboutPanel();
    // The window sees every key before its controls, so that Escape works anywhere in it.
    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);

    if (m_mode == Mode::About) {
        setWindowTitle(kAboutCaption);
        // Under the panel, and out of the keyboard's reach.
        for (QWidget* w : std::initializer_list<QWidget*>{
                 m_cancelButton, m_saveButton, m_settingsFrame, m_cipherFrame, m_picture})
            w->hide();
        m_aboutPanel->show();
        m_aboutPanel->raise();
        m_aboutPanel->findChild<QPushButton*>()->setFocus();
        return;
    }
    setWindowTitle(kSettingsCaption);
    // The keyboard starts where the tab order does.
    m_cancelButton->setFocus();
    load();
    // Also done at the first activation; here too, so that a window shown without being
    // activated helps the same.
    F4ToolT();
}

OptionsWindow::~OptionsWindow()
{
    m_state.optionsOpen = false;
}

void OptionsWindow::createControls()
{
    m_cancelButton = button(this, "Command2", QStringLiteral("Cancel"), twips(120, 90, 1815, 420));
    m_saveButton =
        button(this, "Command3", QStringLiteral("Exit && Save"), twips(5505, 90, 1815, 420));

    m_settingsFrame =
        frame(this, "Frame3", QStringLiteral("Settings"), twips(120, 600, 4800, 3060));
    m_noTipsBox =
        checkBox(m_settingsFrame, "Check2", QStringLiteral("Don't Show Tips Over Buttons && Boxes"),
                 twips(300, 300, 4320, 285));
    m_deleteConfirmBox =
        checkBox(m_settingsFrame, "Check3", QStringLiteral("Don't Show Delete && Confirm Messages"),
                 twips(300, 600, 4320, 285));
    m_deleteConfirmBox->hide();
    m_hideUserNamesBox =
        checkBox(m_settingsFrame, "Check4", QStringLiteral("Hide Usernames ( Like Passwords)"),
                 twips(300, 660, 4320, 285));
    m_autoEnterBox =
        checkBox(m_settingsFrame, "Check5", QStringLiteral("Use Auto-Enter -Quillor- Password"),
                 twips(300, 1020, 4320, 285));
    m_reEnableBox =
        checkBox(m_settingsFrame, "Check6", QStringLiteral("Re-Enable All Message Windows"),
                 twips(300, 1380, 4320, 285));
    m_reEnableBox->setEnabled(false);

    m_backUpBox = checkBox(m_settingsFrame, "Check1", QString(), twips(300, 1935, 255, 285));
    m_backUpPanel = new QWidget(m_settingsFrame);
    m_backUpPanel->setObjectName(QStringLiteral("Picture2"));
    m_backUpPanel->setGeometry(twips(660, 1860, 1635, 450));
    m_backUpButton =
        button(m_backUpPanel, "Command4", QStringLiteral("Back-Up Dir"), twips(0, 0, 1635, 450));
    m_backUpDirectoryBox = new QLineEdit(m_settingsFrame);
    m_backUpDirectoryBox->setObjectName(QStringLiteral("Text1"));
    m_backUpDirectoryBox->setGeometry(twips(300, 2445, 4320, 345));
    m_backUpDirectoryBox->setFont(designFont(QStringLiteral("Arial"), kDesignPointSize));
    // Only "Back-Up Dir" chooses the directory; what is typed here would never be read.
    m_backUpDirectoryBox->setReadOnly(true);

    m_focusMarker = new FocusMarker(m_settingsFrame, QStringLiteral("Picture9"));
    m_focusMarker->follow({m_noTipsBox, m_hideUserNamesBox, m_autoEnterBox, m_backUpBox});

    m_cipherFrame =
        frame(this, "Frame1", QStringLiteral(" Encryption Mode "), twips(5040, 600, 2280, 1320));
    m_cipherLabel = new QLabel(kCipherInUse, m_cipherFrame);
    m_cipherLabel->setObjectName(QStringLiteral("Label1"));
    m_cipherLabel->setGeometry(twips(120, 300, 2040, 900));
    m_cipherLabel->setWordWrap(true);
    m_cipherLabel->setAlignment(Qt::AlignCenter);
    m_cipherLabel->setFont(
        designFont(QStringLiteral("Impact"), kCipherPointSize, false, QFont::Condensed));

    m_picture = new QLabel(this);
    m_picture->setObjectName(QStringLiteral("Image2"));
    m_picture->setPixmap(Artwork::coverLogo());
    m_picture->setAlignment(Qt::AlignCenter);
    m_picture->setGeometry(twips(5040, 2040, 2280, 1620));

    const std::array<QWidget*, 10> tabOrder = {
        m_cancelButton, m_saveButton, m_noTipsBox,    m_deleteConfirmBox,   m_hideUserNamesBox,
        m_autoEnterBox, m_backUpBox,  m_backUpButton, m_backUpDirectoryBox, m_reEnableBox};
    for (std::size_t i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    connect(m_cancelButton, &QPushButton::clicked, this, &QWidget::close);
    connect(m_saveButton, &QPushButton::clicked, this, &OptionsWindow::exitAndSave);
    connect(m_backUpButton, &QPushButton::clicked, this, &OptionsWindow::chooseBackUpDirectory);
    // Clicks and values set by code alike, as the boxes' click handlers run for both.
    connect(m_noTipsBox, &QCheckBox::toggled, this, [this] { m_noTips = valueOf(m_noTipsBox); });
    connect(m_hideUserNamesBox, &QCheckBox::toggled, this,
            [this] { m_hideUserNames = valueOf(m_hideUserNamesBox); });
    connect(m_autoEnterBox, &QCheckBox::toggled, this,
            [this] { m_autoEnter = valueOf(m_autoEnterBox); });
    connect(m_backUpBox, &QCheckBox::toggled, this, [this](bool set) {
        if (!set) {
            m_backUpDirectory.clear();
            m_backUpDirectoryBox->clear();
        }
    });
}

void OptionsWindow::createAboutPanel()
{
    m_aboutPanel = new QFrame(this);
    m_aboutPanel->setObjectName(QStringLiteral("Frame2"));
    m_aboutPanel->setGeometry(rect());
    m_aboutPanel->setAutoFillBackground(true);
    m_aboutPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);

    auto* logo = new QLabel(m_aboutPanel);
    logo->setObjectName(QStringLiteral("aboutLogo"));
    logo->setPixmap(Artwork::smallLogo());
    logo->setAlignment(Qt::AlignCenter);
    m_versionLabel = new QLabel(versionText(), m_aboutPanel);
    m_versionLabel->setObjectName(QStringLiteral("Label6"));
    m_versionLabel->setAlignment(Qt::AlignCenter);
    auto* text =
        new QLabel(kAboutText.arg(m_state.paths.dataDirectory.toHtmlEscaped()), m_aboutPanel);
    text->setObjectName(QStringLiteral("aboutText"));
    text->setWordWrap(true);
    text->setTextFormat(Qt::RichText);
    // The data directory can be copied from here.
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text->setFont(designFont(QStringLiteral("Arial"), kDesignPointSize));
    auto* close = new QPushButton(QStringLiteral("Close"), m_aboutPanel);
    close->setObjectName(QStringLiteral("aboutClose"));
    connect(close, &QPushButton::clicked, this, &QWidget::close);

    auto* top = new QHBoxLayout;
    top->addStretch();
    top->addWidget(logo);
    top->addSpacing(12);
    top->addWidget(m_versionLabel);
    top->addStretch();
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(close);
    auto* layout = new QVBoxLayout(m_aboutPanel);
    layout->setContentsMargins(12, 8, 12, 8);
    layout->setSpacing(6);
    layout->addLayout(top);
    layout->addWidget(text, 1);
    layout->addLayout(bottom);
    m_aboutPanel->hide();
}

void OptionsWindow::load()
{
    const Settings& s = m_state.settings;
    // Each box's handler stores its value; the setting's own value is the pending one, so that a
    // value the boxes cannot show counts as unchanged.
    m_noTipsBox->setChecked(s.noTips != 0);
    m_noTips = s.noTips;
    m_hideUserNamesBox->setChecked(s.hiddenUserNames == 1);
    m_hideUserNames = s.hiddenUserNames;
    m_autoEnterBox->setChecked(s.autoEnter == 1);
    m_autoEnter = s.autoEnter;
    for (int number = 1; number <= Settings::kMessageCount; ++number) {
        if (s.isMessageSuppressed(number))
            m_reEnableBox->setEnabled(true);
    }
    m_backUpDirectory = s.backupDirectory;
    if (!m_backUpDirectory.isEmpty()) {
        m_backUpDirectoryBox->setText(m_backUpDirectory);
        m_backUpBox->setChecked(true);
    }
}

void OptionsWindow::F4ToolT()
{
    const bool tips = m_state.settings.noTips == 0;
    const auto tip = [tips](QWidget* w, const char* text) {
        w->setToolTip(tips ? QString::fromLatin1(text) : QString());
    };
    tip(m_cancelButton, "Disregard Any Settings Changes And Exit");
    tip(m_saveButton, "Save Any Settings Changes And Exit");
    tip(m_backUpButton,
        "Select or Change The Directory Where =Quillor= Backs-Up Your Links And Settings Files");
    tip(m_backUpDirectoryBox, "Your Selected Back-Up Directory For =Quillor= Files");
    tip(m_backUpBox, "Remove The Check To Clear And Have No Back-Up Directory");
}

bool OptionsWindow::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate && !m_firstActivationDone) {
        m_firstActivationDone = true;
        if (m_mode == Mode::Settings)
            F4ToolT();
    }
    return QWidget::event(event);
}

bool OptionsWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Escape) {
        close();
        return true;
    }
    // Enter toggles the boxes that show the focus marker, as the space bar does.
    auto* box = qobject_cast<QCheckBox*>(watched);
    const bool toggles = box == m_noTipsBox || box == m_hideUserNamesBox || box == m_autoEnterBox ||
                         box == m_backUpBox;
    if (toggles && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
        box->setChecked(!box->isChecked());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

bool OptionsWindow::changePending() const
{
    const Settings& s = m_state.settings;
    return m_mode == Mode::Settings &&
           (m_noTips != s.noTips || m_hideUserNames != s.hiddenUserNames ||
            m_backUpDirectory != s.backupDirectory);
}

void OptionsWindow::closeEvent(QCloseEvent* event)
{
    if (!m_closeWithoutQuestion && changePending() &&
        message(MessageKind::YesNo, kExitWithoutSaving) == MessageAnswer::No) {
        event->ignore();
        return;
    }
    m_state.optionsOpen = false;
    event->accept();
}

void OptionsWindow::closeWithoutAsking()
{
    m_closeWithoutQuestion = true;
    close();
}

qint16 OptionsWindow::message(qint16 kind, const QString& text, qint16 number)
{
    return ShowMessage(m_state.settings, kind, text, number, this);
}

void OptionsWindow::exitAndSave()
{
    Settings& s = m_state.settings;
    if (m_autoEnter != s.autoEnter) {
        if (m_autoEnter == 0) {
            s.autoEnterPassword = Settings::kNoAutoEnterPassword;
            message(MessageKind::Ok,
                    kReminderStart + Windows1252::toUnicode(m_state.masterPassword) + kReminderEnd);
        } else {
            s.autoEnterPassword = Windows1252::toUnicode(m_state.masterPassword);
        }
        s.autoEnter = m_autoEnter;
    }
    if (m_noTips != s.noTips) {
        s.noTips = m_noTips;
        m_main.F11ToolT();
        if (EnterItemsWindow* enterItems = m_main.enterItemsWindow())
            enterItems->F2ToolT();
    }
    s.deleteConfirmation = 0;
    if (m_hideUserNames != s.hiddenUserNames) {
        s.hiddenUserNames = m_hideUserNames;
        // The list and the menu follow at once, also while the list is empty, so that entries
        // added later show the same.
        const bool hidden = m_hideUserNames == 1;
        m_main.model().setUserNamesHidden(hidden);
        m_main.menus().action("mnu1ViewHidUsername")->setVisible(hidden);
    }
    applyBackUpDirectory();
    if (m_reEnableBox->isChecked())
        s.messageSuppression = QString(Settings::kMessageCount, u'0');
    m_closeWithoutQuestion = true;
    close();
}

void OptionsWindow::chooseBackUpDirectory()
{
    const Settings& s = m_state.settings;
    if (!s.isMessageSuppressed(kBackUpDirectoryQuestion)) {
        const QString& question = s.backupDirectory.isEmpty() ? kSelectQuestion : kChangeQuestion;
        if (message(MessageKind::YesNoSwitchable, question, kBackUpDirectoryQuestion) !=
            MessageAnswer::Yes)
            return;
    }
    const std::optional<QString> chosen = m_chooseDirectory(this, s.backupDirectory);
    if (!chosen || chosen->isEmpty())
        return;
    // The root stays "/"; any other directory loses a trailing "/".
    const QString directory = QDir::cleanPath(*chosen);
    m_backUpDirectory = directory;
    switch (
        BackUp::refusal(directory, m_state.paths.programDirectory, m_state.paths.dataDirectory)) {
    case BackUp::Refusal::ProgramDirectory:
        m_backUpDirectory = s.backupDirectory;
        message(MessageKind::Ok, kNotProgramDirectory);
        return;
    case BackUp::Refusal::DataDirectory:
        m_backUpDirectory = s.backupDirectory;
        message(MessageKind::Ok, kNotDataDirectory);
        return;
    case BackUp::Refusal::SharedDirectory:
        m_backUpDirectory = s.backupDirectory;
        message(MessageKind::Ok, kNotSharedDirectory);
        return;
    case BackUp::Refusal::None:
        break;
    }
    showBackUpDirectory(TestDirectory(directory) == 0 ? directory : QString());
}

void OptionsWindow::showBackUpDirectory(const QString& directory)
{
    m_backUpDirectoryBox->setText(directory);
    m_backUpBox->setChecked(!directory.isEmpty());
    if (directory.isEmpty())
        m_backUpDirectory.clear();
}

void OptionsWindow::removeOldPair(const QString& directory)
{
    const SaveResult removed = BackUp::removeBackUpPair(directory);
    if (!removed.made())
        message(MessageKind::Ok, kOldNotDeleted);
    else if (!removed)
        message(MessageKind::Ok, MainWindow::madeUnsureText(removed.error()));
}

// Files already in the new directory are kept or deleted; the old back-up files are moved
// along or deleted; then the setting takes the new directory.
void OptionsWindow::applyBackUpDirectory()
{
    Settings& s = m_state.settings;
    const QString newDirectory = m_backUpDirectory;
    const QString oldDirectory = s.backupDirectory;
    if (newDirectory == oldDirectory)
        return;
    const bool newExists = TestDirectory(newDirectory) == 0;
    if (newExists && BackUp::membersIn(newDirectory).any() &&
        message(MessageKind::YesNo, kKeepFiles) == MessageAnswer::No)
        (void)BackUp::removeBackUpPair(newDirectory); // a failure leaves them, as if kept

    if (TestDirectory(oldDirectory) == 0 && BackUp::membersIn(oldDirectory).any()) {
        if (newExists) {
            if (message(MessageKind::YesNo, kMoveFiles) == MessageAnswer::Yes) {
                // The old pair leaves its directory only once the new one holds it whole, and
                // for sure: a copy that may not outlast a power cut keeps the old one.
                const SaveResult copied = BackUp::copyBackUpPair(oldDirectory, newDirectory);
                if (!copied.made()) {
                    message(MessageKind::Ok, kNotMoved);
                    return;
                }
                if (!copied)
                    message(MessageKind::Ok, MainWindow::madeUnsureText(copied.error()));
                else
                    removeOldPair(oldDirectory);
            }
        } else if (message(MessageKind::YesNo, kDeleteOldFiles) == MessageAnswer::Yes) {
            removeOldPair(oldDirectory);
        }
    }
    s.backupDirectory = newDirectory;
}
