#include "ClipboardGuard.h"

#include "cipher/SecureWipe.h"
#include "ui/Platform.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>

namespace {

// Long enough for wl-copy to reach the compositor; closing never waits longer.
constexpr int kWlCopyWaitMs = 2000;

} // namespace

ClipboardGuard::ClipboardGuard(QObject* parent)
    : QObject(parent)
{
    m_timer.setObjectName(QStringLiteral("Timer1"));
    m_timer.setSingleShot(true);
    m_timer.setInterval(kClearAfterMs);
    connect(&m_timer, &QTimer::timeout, this, &ClipboardGuard::expire);
    setWayland(onWayland(), QStandardPaths::findExecutable(QStringLiteral("wl-copy")));
}

void ClipboardGuard::setWayland(bool wayland, const QString& wlCopy)
{
    m_wayland = wayland;
    m_wlCopy = wlCopy;
}

ClipboardGuard::~ClipboardGuard()
{
    secureWipe(m_copied);
}

void ClipboardGuard::copy(const QString& text)
{
    auto* data = new QMimeData;
    data->setText(text);
    data->setData(kSecretHintFormat, QByteArrayLiteral("secret"));
    QGuiApplication::clipboard()->setMimeData(data);
    secureWipe(m_copied);
    m_copied = text;
    m_holding = true;
    m_timer.start();
    if (m_wayland && m_wlCopy.isEmpty() && !m_warned && m_warn) {
        m_warned = true;
        m_warn(kNoWlCopy);
    }
}

bool ClipboardGuard::clipboardHoldsOurs() const
{
    if (!m_holding)
        return false;
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data && data->hasFormat(kSecretHintFormat) && data->text() == m_copied;
}

void ClipboardGuard::expire()
{
    m_timer.stop();
    clearIfOurs();
}

void ClipboardGuard::clearIfOurs()
{
    if (clipboardHoldsOurs()) {
        QGuiApplication::clipboard()->clear();
        clearCompositorCopy();
    }
    secureWipe(m_copied);
    m_copied.clear();
    m_holding = false;
}

void ClipboardGuard::clearCompositorCopy() const
{
    if (!m_wayland || m_wlCopy.isEmpty())
        return;
    QProcess wlCopy;
    wlCopy.setProgram(m_wlCopy);
    wlCopy.setArguments({QStringLiteral("--clear")});
    wlCopy.setStandardInputFile(QProcess::nullDevice());
    wlCopy.setStandardOutputFile(QProcess::nullDevice());
    wlCopy.start();
    if (wlCopy.waitForStarted(kWlCopyWaitMs) && !wlCopy.waitForFinished(kWlCopyWaitMs))
        wlCopy.kill();
}
