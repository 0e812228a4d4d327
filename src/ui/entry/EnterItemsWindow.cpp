#include "EnterItemsWindow.h"

#include "cipher/SecureWipe.h"
#include "startup/AppState.h"
#include "store/EntryPassword.h"
#include "store/EntryWriter.h"
#include "store/ItemLimits.h"
#include "store/LinkFile.h"
#include "store/StoredField.h"
#include "store/Windows1252.h"
#include "ui/Artwork.h"
#include "ui/DesignFont.h"
#include "ui/FocusMarker.h"
#include "ui/PasswordStyle.h"
#include "ui/SingleLineValidator.h"
#include "ui/Twips.h"
#include "ui/main/MainWindow.h"
#include "ui/message/ShowMessage.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <array>

struct EnterItemsWindow::Items {
    QString title;
    QString userName;
    QString password;
    QString url;
};

struct EnterItemsWindow::ItemBytes {
    QByteArray title;
    QByteArray userName;
    QByteArray password;
    QByteArray url;

    ItemBytes() = default;
    ItemBytes(ItemBytes&&) = default;
    ItemBytes& operator=(ItemBytes&&) = default;
    ~ItemBytes() { secureWipe(password); }
};

namespace {

constexpr int kClientWidth = 5505;  // twips
constexpr int kClientHeight = 3705; // twips
constexpr qint16 kAddQuestionNumber = 8;
constexpr qint16 kReplaceQuestionNumber = 9;

constexpr qreal kDesignPointSize = 8.25;

// Fixed in size: no maximise button, which could only do nothing.
constexpr Qt::WindowFlags kWindowFlags = Qt::Window | Qt::CustomizeWindowHint |
                                         Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                         Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;

const QString kAddFailed = QStringLiteral("\r\n\r\n\r\nError, Unable To Add Addrress \r\n(add)");
const QString kReplaceFailed =
    QStringLiteral("\r\n\r\n\r\nAn Error Occurred Adding \r\nUsername Info To List");
const QString kNoAddresses =
    QStringLiteral("\r\n\r\n\r\nEach Username-Password Item Is Associated \r\nWith The Selected "
                   "URL Address.  \r\nThere Are No Addresses On The List.");
const QString kUnstorableCharacter =
    QStringLiteral("\r\n\r\n\r\nThis Character Cannot Be Stored:\r\n\"%1\"");
const QString kAddQuestion =
    QStringLiteral("Do You Want To Add This New\r\n Item Set To The List?\r\n");
const QString kReplaceQuestion = QStringLiteral(
    "Do You Want To Replace The Selected List Item\r\nWith The Following Values: \r\n");

// A rectangle given in twips, in pixels.
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

QLineEdit* box(QWidget* parent, const char* name, int maxLength, const QRect& at)
{
    auto* b = new QLineEdit(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setMaxLength(maxLength);
    b->setGeometry(at);
    b->setValidator(new SingleLineValidator(b));
    return b;
}

QString itemLines(const QString& title, const QString& userName, const QString& password,
                  const QString& url)
{
    return QStringLiteral("Page Title:  ") + title + QStringLiteral("\r\nUsername:  ") + userName +
           QStringLiteral("\r\nPassword:  ") + password + QStringLiteral("\r\nURL Address:  ") +
           url;
}

// The character at i, with its other half when it is one of a surrogate pair.
QString characterAt(const QString& text, qsizetype i)
{
    const bool pair =
        text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
    return text.mid(i, pair ? 2 : 1);
}

} // namespace

EnterItemsWindow::EnterItemsWindow(AppState& state, MainWindow& mainWindow)
    : QWidget(&mainWindow, kWindowFlags)
    , m_state(state)
    , m_main(mainWindow)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Quillor - Enter Items"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFont(designFont(QStringLiteral("Impact"), kDesignPointSize, false, QFont::Condensed));
    setFixedSize(twipsToPixels(kClientWidth), twipsToPixels(kClientHeight));
    m_state.enterItemsOpen = true;

    createControls();
    fitCaptions({{m_addButton},
                 {m_replaceButton},
                 {m_loadButton},
                 {m_clearButton},
                 {m_keepOpenBox},
                 {m_onTopBox},
                 {m_labels[0]},
                 {m_labels[1]},
                 {m_labels[2]},
                 {m_labels[3]}});
    // Also done at the first activation; here too, so that a window shown without being
    // activated looks and helps the same.
    TxtFonts2();
    F2ToolT();
    // Floating with the main window from the start: set once shown, the flag would take a new
    // native window in the middle of the first activation.
    if (m_state.settings.onTop == 1)
        m_onTopBox->setChecked(true);
}

EnterItemsWindow::~EnterItemsWindow()
{
    m_state.enterItemsOpen = false;
}

void EnterItemsWindow::createControls()
{
    m_banner = new QLabel(this);
    m_banner->setObjectName(QStringLiteral("Image3"));
    m_banner->setGeometry(twips(0, 0, kClientWidth, 510));
    m_banner->setPixmap(Artwork::banner(m_banner->size()));

    m_frame = new QGroupBox(QStringLiteral("Enter List Items"), this);
    m_frame->setObjectName(QStringLiteral("Frame1"));
    m_frame->setGeometry(twips(60, 555, 5385, 2175));

    const std::array<const char*, 4> captions = {"Page Title", "Username", "Password",
                                                 "URL Address"};
    const std::array<QRect, 4> labelPlaces = {twips(105, 300, 945, 240), twips(105, 690, 945, 240),
                                              twips(2850, 690, 720, 240),
                                              twips(105, 1080, 945, 240)};
    for (std::size_t i = 0; i < captions.size(); ++i) {
        m_labels[i] = new QLabel(QString::fromLatin1(captions[i]), m_frame);
        m_labels[i]->setObjectName(QStringLiteral("Label1(%1)").arg(i));
        m_labels[i]->setGeometry(labelPlaces[i]);
    }
    m_titleBox = box(m_frame, "Text1", kShortItemLength, twips(1065, 255, 4200, 315));
    m_userNameBox = box(m_frame, "Text2", kShortItemLength, twips(1065, 645, 1680, 315));
    m_passwordBox = box(m_frame, "Text3", kShortItemLength, twips(3585, 645, 1680, 315));
    m_urlBox = box(m_frame, "Text5", kUrlLength, twips(1065, 1035, 4200, 315));
    m_passwordBox->setEchoMode(QLineEdit::Password);
    auto* passwordStyle = new PasswordStyle;
    passwordStyle->setParent(m_passwordBox);
    m_passwordBox->setStyle(passwordStyle);
    m_passwordBox->setFont(designFont(QStringLiteral("Arial Black"), kDesignPointSize, true));

    m_boxButtons = new QWidget(m_frame);
    m_boxButtons->setObjectName(QStringLiteral("Picture1"));
    m_boxButtons->setGeometry(twips(1065, 1470, 4200, 570));
    m_loadButton =
        button(m_boxButtons, "Command8", QStringLiteral("Load Boxes"), twips(0, 75, 2040, 420));
    m_clearButton =
        button(m_boxButtons, "Command9", QStringLiteral("Clear Boxes"), twips(2160, 75, 2040, 420));

    m_addButton =
        button(this, "Command1", QStringLiteral("== Add New Items =="), twips(60, 2805, 2640, 420));
    m_replaceButton = button(this, "Command2", QStringLiteral("== Replace Selected Items =="),
                             twips(2805, 2805, 2640, 420));

    m_keepOpenBox = new QCheckBox(QStringLiteral("keep open"), this);
    m_keepOpenBox->setObjectName(QStringLiteral("Check3"));
    m_keepOpenBox->setGeometry(twips(165, 3330, 1020, 285));
    m_onTopBox = new QCheckBox(QStringLiteral("on top"), this);
    m_onTopBox->setObjectName(QStringLiteral("Check4"));
    m_onTopBox->setGeometry(twips(1305, 3330, 870, 285));

    m_selectedTitleBox = new QLineEdit(this);
    m_selectedTitleBox->setObjectName(QStringLiteral("Text9"));
    m_selectedTitleBox->setGeometry(twips(2280, 3300, 3165, 345));
    m_selectedTitleBox->setReadOnly(true);
    m_selectedTitleBox->setFont(designFont(QStringLiteral("Arial"), kDesignPointSize));
    QPalette buttonFace = m_selectedTitleBox->palette();
    buttonFace.setColor(QPalette::Base, buttonFace.color(QPalette::Button));
    buttonFace.setColor(QPalette::Text, buttonFace.color(QPalette::ButtonText));
    m_selectedTitleBox->setPalette(buttonFace);

    m_focusMarker = new FocusMarker(this, QStringLiteral("Picture4"));
    m_focusMarker->follow({m_keepOpenBox, m_onTopBox});

    const std::array<QWidget*, 11> tabOrder = {
        m_addButton,  m_replaceButton, m_urlBox,           m_passwordBox, m_userNameBox, m_titleBox,
        m_loadButton, m_clearButton,   m_selectedTitleBox, m_onTopBox,    m_keepOpenBox};
    for (std::size_t i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    m_keepOpenBox->installEventFilter(this);
    m_onTopBox->installEventFilter(this);
    connect(m_loadButton, &QPushButton::clicked, this, &EnterItemsWindow::loadSelectedEntry);
    connect(m_clearButton, &QPushButton::clicked, this, &EnterItemsWindow::clearBoxes);
    connect(m_addButton, &QPushButton::clicked, this, &EnterItemsWindow::addItems);
    connect(m_replaceButton, &QPushButton::clicked, this, &EnterItemsWindow::replaceItems);
    // Also when set by code or by the Enter key.
    connect(m_onTopBox, &QCheckBox::toggled, this, &EnterItemsWindow::applyOnTop);
}

void EnterItemsWindow::TxtFonts2()
{
    const Settings& s = m_state.settings;
    QFont font(s.fontName);
    font.setBold(s.fontBold);
    font.setPointSizeF(std::clamp(double(s.fontSize), 2.0, 72.0));
    for (QLineEdit* b : {m_titleBox, m_userNameBox, m_urlBox})
        b->setFont(font);
}

void EnterItemsWindow::F2ToolT()
{
    const bool tips = m_state.settings.noTips == 0;
    const auto tip = [tips](QWidget* w, const char* text) {
        w->setToolTip(tips ? QString::fromLatin1(text) : QString());
    };
    tip(m_addButton, "Adds A New Set Of Items To List From The 4 Text Boxes (above).");
    tip(m_replaceButton, "Replaces The Selected, Existing Set Of List Items (highlighted) From The "
                         "4 Text Boxes (above).");
    tip(m_loadButton, "Loads The Text Boxes With The Selected List Items (highlighted)");
    tip(m_clearButton, "Clears The Text Boxes");
    for (QLineEdit* b : {m_titleBox, m_userNameBox, m_passwordBox, m_urlBox})
        tip(b, "(optional)(Edit Here To Add New or Replace Selected List Items)");
    tip(m_selectedTitleBox, "Currently Selected List Item (scrollable)");
    tip(m_keepOpenBox, "Keep This Window Open When Items Are Entered");
    tip(m_onTopBox, "Keep This Window On Top Of Other Windows");
}

void EnterItemsWindow::setSelectedTitle(const QString& title)
{
    m_selectedTitleBox->setText(title);
    m_selectedTitleBox->setCursorPosition(0);
}

void EnterItemsWindow::loadBoxes(const QString& title, const QString& userName,
                                 const QString& password, const QString& url)
{
    m_titleBox->setText(title);
    m_userNameBox->setText(userName);
    m_passwordBox->setText(password);
    m_urlBox->setText(url);
    // An item longer than its box shows its start, as the user reads it.
    for (QLineEdit* b : {m_titleBox, m_userNameBox, m_passwordBox, m_urlBox})
        b->setCursorPosition(0);
}

void EnterItemsWindow::clearBoxes()
{
    for (QLineEdit* b : {m_titleBox, m_userNameBox, m_passwordBox, m_urlBox})
        b->clear();
}

void EnterItemsWindow::loadSelectedEntry()
{
    const EntryModel& model = m_main.model();
    const int row = m_main.currentRow();
    if (model.rowCount() == 0 || row < 0)
        return;
    const Entry& entry = model.entry(row);
    QByteArray password = decryptPassword(entry, m_state.masterPassword, m_state.cipher);
    // The entry keeps the real user name whether or not the list masks it.
    loadBoxes(Windows1252::toUnicode(entry.title()), Windows1252::toUnicode(entry.userName()),
              Windows1252::toUnicode(password), Windows1252::toUnicode(entry.url()));
    secureWipe(password);
}

bool EnterItemsWindow::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate) {
        if (!m_firstActivationDone)
            firstActivation();
        applyOnTop();
    }
    return QWidget::event(event);
}

void EnterItemsWindow::firstActivation()
{
    m_firstActivationDone = true;
    TxtFonts2();
    F2ToolT();
    const int row = m_main.currentRow();
    if (m_main.model().rowCount() > 0 && row >= 0)
        setSelectedTitle(Windows1252::toUnicode(m_main.model().entry(row).title()));
}

void EnterItemsWindow::applyOnTop()
{
    const bool onTop = m_onTopBox->isChecked();
    if (onTop == windowFlags().testFlag(Qt::WindowStaysOnTopHint))
        return;
    const bool visible = isVisible();
    const bool active = isActiveWindow();
    // A new flag takes a new native window, which hides this one until it is shown again.
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (visible)
        show();
    // Asked for once the new native window exists, not from inside an activation event.
    if (active)
        QMetaObject::invokeMethod(this, &QWidget::activateWindow, Qt::QueuedConnection);
}

bool EnterItemsWindow::eventFilter(QObject* watched, QEvent* event)
{
    auto* checkBox = qobject_cast<QCheckBox*>(watched);
    if (checkBox != m_keepOpenBox && checkBox != m_onTopBox)
        return QWidget::eventFilter(watched, event);
    // Enter toggles a check box, as the space bar does.
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            checkBox->setChecked(!checkBox->isChecked());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

qint16 EnterItemsWindow::message(qint16 kind, const QString& text, qint16 number)
{
    return ShowMessage(m_state.settings, kind, text, number, this);
}

void EnterItemsWindow::closeUnlessKeptOpen()
{
    if (!m_keepOpenBox->isChecked())
        close();
}

void EnterItemsWindow::trimBoxes()
{
    for (QLineEdit* b : {m_titleBox, m_userNameBox, m_passwordBox, m_urlBox}) {
        const QString text = b->text();
        const QStringView trimmed = trimBlanks(QStringView(text));
        if (trimmed.size() != text.size())
            b->setText(trimmed.toString());
    }
}

EnterItemsWindow::Items EnterItemsWindow::trimmedItems() const
{
    const auto trimmed = [](const QLineEdit* b) {
        const QString text = b->text();
        return trimBlanks(QStringView(text)).toString();
    };
    return {trimmed(m_titleBox), trimmed(m_userNameBox), trimmed(m_passwordBox), trimmed(m_urlBox)};
}

// The items in the files' code page, or nullopt after showing the first character it cannot
// hold, which is selected in its box for the user to change.
std::optional<EnterItemsWindow::ItemBytes> EnterItemsWindow::storable(const Items& items)
{
    const std::array<std::pair<QLineEdit*, const QString*>, 4> typed = {
        {{m_titleBox, &items.title},
         {m_userNameBox, &items.userName},
         {m_passwordBox, &items.password},
         {m_urlBox, &items.url}}};
    for (const auto& [b, text] : typed) {
        if (Windows1252::firstUnencodable(*text) < 0)
            continue;
        const QString inBox = b->text();
        const qsizetype at = Windows1252::firstUnencodable(inBox);
        const QString character = characterAt(inBox, at);
        message(MessageKind::Ok, kUnstorableCharacter.arg(character));
        b->setFocus(Qt::OtherFocusReason);
        b->setSelection(int(at), int(character.size()));
        return std::nullopt;
    }
    ItemBytes bytes;
    bytes.title = *Windows1252::fromUnicode(items.title);
    bytes.userName = *Windows1252::fromUnicode(items.userName);
    bytes.password = *Windows1252::fromUnicode(items.password);
    bytes.url = *Windows1252::fromUnicode(items.url);
    return bytes;
}

// Asks the question with the four items below it, unless the user switched it off, which
// counts as Yes.
bool EnterItemsWindow::confirmed(const QString& question, qint16 number, const Items& items)
{
    return m_state.settings.isMessageSuppressed(number) ||
           message(MessageKind::YesNoSwitchable,
                   question + itemLines(items.title, items.userName, items.password, items.url),
                   number) == MessageAnswer::Yes;
}

void EnterItemsWindow::addItems()
{
    trimBoxes();
    if (!m_main.refuseIfChangedOnDisk())
        return; // open, what was typed kept, to be added to the list as it now is
    // Said before anything is asked: no answer could make the write safe.
    if (!m_main.refuseUnlessListMatchesFile()) {
        closeUnlessKeptOpen();
        return;
    }
    const Items items = trimmedItems();
    const std::optional<ItemBytes> bytes = storable(items);
    if (!bytes)
        return; // open, so that the character can be changed
    if (!confirmed(kAddQuestion, kAddQuestionNumber, items)) {
        closeUnlessKeptOpen();
        return;
    }
    // The question gave another machine time to change the file.
    if (!m_main.refuseIfChangedOnDisk())
        return; // open, what was typed kept, to be added to the list as it now is
    switch (addEntry(*bytes)) {
    case Stored::Done:
        clearBoxes();
        break;
    case Stored::Failed:
        message(MessageKind::Ok, kAddFailed);
        break;
    case Stored::ChangedOnDisk:
        return; // open, what was typed kept, to be added to the list as it now is
    }
    closeUnlessKeptOpen();
}

void EnterItemsWindow::replaceItems()
{
    if (m_main.model().rowCount() == 0) {
        message(MessageKind::Ok, kNoAddresses);
        closeUnlessKeptOpen();
        return;
    }
    if (!m_main.refuseIfChangedOnDisk())
        return;
    if (!m_main.refuseUnlessListMatchesFile()) {
        closeUnlessKeptOpen();
        return;
    }
    const Items items = trimmedItems();
    const std::optional<ItemBytes> bytes = storable(items);
    if (!bytes)
        return; // open, so that the character can be changed
    if (!confirmed(kReplaceQuestion, kReplaceQuestionNumber, items)) {
        closeUnlessKeptOpen();
        return;
    }
    if (!m_main.refuseIfChangedOnDisk())
        return; // open, to replace the entry as the list now shows it
    trimBoxes();
    const int row = m_main.currentRow();
    switch (row >= 0 ? replaceEntry(row, *bytes) : Stored::Failed) {
    case Stored::Done:
        clearBoxes();
        break;
    case Stored::Failed:
        message(MessageKind::Ok, kReplaceFailed);
        break;
    case Stored::ChangedOnDisk:
        return; // open, to replace the entry as the list now shows it
    }
    closeUnlessKeptOpen();
}

// The record is on disk before the list shows the entry, so the two never disagree.
EnterItemsWindow::Stored EnterItemsWindow::addEntry(const ItemBytes& bytes)
{
    EntryModel& model = m_main.model();
    const auto encrypted = encryptEntry(bytes.title, bytes.url, bytes.userName, bytes.password,
                                        m_state.masterPassword, m_state.cipher);
    if (!encrypted)
        return Stored::Failed;
    const SaveResult appended =
        appendLinkRecord(m_state.paths.linkFilePath, encrypted->record, m_main.expectedPair());
    if (appended.changedOnDisk()) {
        m_main.showChangedOnDisk();
        return Stored::ChangedOnDisk;
    }
    if (!appended)
        return Stored::Failed;
    m_main.rememberOwnWrite();
    model.appendEntry(Entry(bytes.title, bytes.url, bytes.userName, encrypted->passwordCipher,
                            m_main.GetLowLV2KeyNum()));
    m_main.selectRow(model.rowCount() - 1);
    return Stored::Done;
}

EnterItemsWindow::Stored EnterItemsWindow::replaceEntry(int row, const ItemBytes& bytes)
{
    EntryModel& model = m_main.model();
    const auto encrypted = encryptEntry(bytes.title, bytes.url, bytes.userName, bytes.password,
                                        m_state.masterPassword, m_state.cipher);
    if (!encrypted)
        return Stored::Failed;
    const SaveResult replaced = replaceLinkRecord(m_state.paths.linkFilePath, row + 1,
                                                  encrypted->record, m_main.expectedPair());
    if (replaced.changedOnDisk()) {
        m_main.showChangedOnDisk();
        return Stored::ChangedOnDisk;
    }
    if (!replaced.made())
        return Stored::Failed;
    m_main.rememberOwnWrite();
    // The key number is searched with the old entry gone, so that its number can come back.
    model.removeEntry(row);
    model.insertEntry(row, Entry(bytes.title, bytes.url, bytes.userName, encrypted->passwordCipher,
                                 m_main.GetLowLV2KeyNum()));
    // Removing the old entry dropped the selection; the new one is still the chosen entry. The
    // display box is told here: the view's current row may not change, so nothing else tells it.
    m_main.selectRow(row);
    setSelectedTitle(Windows1252::toUnicode(bytes.title));
    // In place, but its directory not synced: said, never "not replaced".
    if (!replaced)
        message(MessageKind::Ok, MainWindow::madeUnsureText(replaced.error()));
    return Stored::Done;
}
