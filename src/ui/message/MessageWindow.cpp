#include "MessageWindow.h"

#include "MessageKinds.h"
#include "startup/Settings.h"
#include "ui/DesignFont.h"
#include "ui/Twips.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

struct KindLayout {
    std::array<const char16_t*, 3> captions; // nullptr: the button is hidden
    std::array<qint16, 3> answers;
};

// Indexed by (kind - 1) / 2: the odd and even kind of a pair show the same buttons.
constexpr std::array<KindLayout, 4> kLayouts = {{
    {{nullptr, u"Okay", nullptr}, {0, MessageAnswer::Ok, 0}},
    {{u"Yes", nullptr, u"No"}, {MessageAnswer::Yes, 0, MessageAnswer::No}},
    {{u"Yes", u"Cancel", u"No"}, {MessageAnswer::Yes, MessageAnswer::Cancel, MessageAnswer::No}},
    {{u"Okay", nullptr, u"Cancel"}, {MessageAnswer::Ok, 0, MessageAnswer::Cancel}},
}};

const KindLayout* layoutOf(qint16 kind)
{
    return MessageKind::isValid(kind) ? &kLayouts[std::size_t((kind - 1) / 2)] : nullptr;
}

constexpr int kButtonWidth = 1245; // twips
constexpr int kButtonHeight = 330;
constexpr std::array<int, 3> kButtonLefts = {0, 1410, 2820};

} // namespace

MessageWindow::MessageWindow(qint16 kind, const QString& text, qint16 number, Settings& settings,
                             QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint)
    , m_kind(kind)
    , m_number(number)
    , m_settings(settings)
    , m_pendingText(text)
{
    setObjectName(QStringLiteral("frmMsgWind"));
    setWindowTitle(kCaption);
    setModal(true);

    auto* frame = new QGroupBox(this);
    frame->setObjectName(QStringLiteral("Frame1"));
    m_text = new QPlainTextEdit(frame);
    m_text->setObjectName(QStringLiteral("Text1"));
    m_text->setReadOnly(true);
    m_text->setFont(designFont(QStringLiteral("Lucida Sans Unicode")));
    m_text->setMinimumSize(340, 110);
    m_text->setFocusPolicy(Qt::ClickFocus);
    auto* frameLayout = new QVBoxLayout(frame);
    frameLayout->addWidget(m_text);

    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("Picture1"));
    picture->setPixmap(windowIcon().pixmap(32, 32));
    picture->setFixedSize(32, 32);

    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("Picture2"));
    panel->setFixedSize(twipsToPixels(kButtonLefts[2] + kButtonWidth),
                        twipsToPixels(kButtonHeight));
    const std::array<QString, 3> names = {QStringLiteral("Command1"), QStringLiteral("Command2"),
                                          QStringLiteral("Command3")};
    const std::array<QString, 3> designCaptions = {
        QStringLiteral("Command1"), QStringLiteral("Okay"), QStringLiteral("Command3")};
    const KindLayout* layout = layoutOf(kind);
    for (int i = 0; i < 3; ++i) {
        auto* b = new QPushButton(designCaptions[std::size_t(i)], panel);
        b->setObjectName(names[std::size_t(i)]);
        b->setAutoDefault(true);
        b->setGeometry(twipsToPixels(kButtonLefts[std::size_t(i)]), 0, twipsToPixels(kButtonWidth),
                       twipsToPixels(kButtonHeight));
        if (layout) {
            const char16_t* caption = layout->captions[std::size_t(i)];
            b->setVisible(caption != nullptr);
            if (caption)
                b->setText(QString::fromUtf16(caption));
        }
        connect(b, &QPushButton::clicked, this, [this, i] { clickButton(i); });
        m_buttons[std::size_t(i)] = b;
    }

    fitCaptions({{m_buttons[0]}, {m_buttons[1]}, {m_buttons[2]}});

    m_stopShowing = new QCheckBox(QStringLiteral("Stop Showing Just This Message"), this);
    m_stopShowing->setObjectName(QStringLiteral("Check1"));
    m_stopShowing->setToolTip(
        QStringLiteral("May Be Reconfigured To Show In App. Options Settings."));
    m_stopShowing->setVisible(layout == nullptr || MessageKind::isSwitchable(kind));

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(picture);
    buttonRow->addStretch();
    buttonRow->addWidget(panel);
    buttonRow->addStretch();
    auto* main = new QVBoxLayout(this);
    main->addWidget(frame, 1);
    main->addLayout(buttonRow);
    main->addWidget(m_stopShowing, 0, Qt::AlignHCenter);
    // A fixed-size box: neither resized nor maximised.
    main->setSizeConstraint(QLayout::SetFixedSize);
}

void MessageWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_activated)
        return;
    m_activated = true;
    QString shown = m_pendingText;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_text->setPlainText(shown);
    if (QPushButton* safe = safeButton()) {
        safe->setDefault(true);
        safe->setFocus(Qt::OtherFocusReason);
    }
}

QPushButton* MessageWindow::safeButton() const
{
    switch (m_kind) {
    case MessageKind::Ok:
    case MessageKind::OkSwitchable:
    case MessageKind::YesCancelNo:
    case MessageKind::YesCancelNoSwitchable:
        return m_buttons[1];
    case MessageKind::YesNo:
    case MessageKind::YesNoSwitchable:
    case MessageKind::OkCancel:
    case MessageKind::OkCancelSwitchable:
        return m_buttons[2];
    }
    return nullptr;
}

qint16 MessageWindow::answerOf(int index) const
{
    const KindLayout* layout = layoutOf(m_kind);
    return layout ? layout->answers[std::size_t(index)] : qint16(0);
}

void MessageWindow::clickButton(int index)
{
    // One answer only: a second click must find nothing to press.
    for (QPushButton* b : m_buttons)
        b->setEnabled(false);
    const qint16 answer = answerOf(index);
    if (answer == MessageAnswer::None)
        return;
    m_answer = answer;
    done(Accepted);
}

void MessageWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        m_answer = MessageAnswer::Cancel;
        done(Rejected);
        return;
    }
    QDialog::keyPressEvent(event);
}

void MessageWindow::closeEvent(QCloseEvent* event)
{
    // A yes/no question is answered with one of its buttons or with Escape, not the close box.
    const bool yesNo = m_kind == MessageKind::YesNo || m_kind == MessageKind::YesNoSwitchable;
    if (yesNo && m_answer == MessageAnswer::None) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void MessageWindow::done(int result)
{
    if (m_kind == MessageKind::Ok || m_kind == MessageKind::OkSwitchable)
        m_answer = MessageAnswer::Ok;
    else if (m_kind >= MessageKind::YesCancelNo && m_kind <= MessageKind::OkCancelSwitchable &&
             m_answer == MessageAnswer::None)
        m_answer = MessageAnswer::Cancel;
    if (m_stopShowing->isChecked() && m_number >= 1 &&
        m_number <= m_settings.messageSuppression.size())
        m_settings.messageSuppression[m_number - 1] = u'1';
    QDialog::done(result);
}
