#include "ShowMessage.h"

#include "MessageWindow.h"
#include "startup/Startup.h"
#include "ui/Artwork.h"

#include <QApplication>
#include <QMessageBox>

namespace {

// The kind of the message the window shows; 0 while none is showing.
qint16 g_currentKind = 0;
ScriptedAnswers* g_script = nullptr;

qint16 safeAnswer(qint16 kind)
{
    if (kind <= MessageKind::OkSwitchable)
        return MessageAnswer::Ok;
    if (kind <= MessageKind::YesNoSwitchable)
        return MessageAnswer::No;
    return MessageAnswer::Cancel;
}

qint16 showPlatformBox(qint16 kind, const QString& text, QWidget* parent)
{
    QMessageBox::StandardButtons buttons;
    switch ((kind - 1) / 2) {
    case 0:
        buttons = QMessageBox::Ok;
        break;
    case 1:
        buttons = QMessageBox::Yes | QMessageBox::No;
        break;
    case 2:
        buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        break;
    default:
        buttons = QMessageBox::Ok | QMessageBox::Cancel;
    }
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(QMessageBox::NoIcon, kProgramTitle, shown, buttons, parent);
    switch (box.exec()) {
    case QMessageBox::Ok:
        return MessageAnswer::Ok;
    case QMessageBox::Yes:
        return MessageAnswer::Yes;
    case QMessageBox::No:
        return MessageAnswer::No;
    default:
        return MessageAnswer::Cancel;
    }
}

} // namespace

qint16 ShowMessage(Settings& settings, qint16 kind, const QString& text, qint16 number,
                   QWidget* parent)
{
    if (!MessageKind::isValid(kind))
        return MessageAnswer::None;
    if (g_script)
        return g_script->answer(kind, text, number);
    // It may come before the main window's first frame, which brings the icon.
    Artwork::useProgramIcon();
    if (!parent)
        parent = QApplication::activeWindow();
    if (g_currentKind >= 1)
        return showPlatformBox(kind, text, parent);

    g_currentKind = kind;
    MessageWindow window(kind, text, number, settings, parent);
    window.exec();
    g_currentKind = 0;
    return window.answer();
}

ScriptedAnswers::ScriptedAnswers()
{
    Q_ASSERT(!g_script);
    g_script = this;
}

ScriptedAnswers::~ScriptedAnswers()
{
    g_script = nullptr;
}

QStringList ScriptedAnswers::texts() const
{
    QStringList texts;
    for (const Shown& s : m_shown)
        texts << s.text;
    return texts;
}

qint16 ScriptedAnswers::answer(qint16 kind, const QString& text, qint16 number)
{
    m_shown.append({kind, text, number});
    return m_answers.isEmpty() ? safeAnswer(kind) : m_answers.takeFirst();
}
