#include "ClipboardGuard.h"

#include "cipher/SecureWipe.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

ClipboardGuard::ClipboardGuard(QObject* parent)
    : QObject(parent)
{
    m_timer.setObjectName(QStringLiteral("Timer1"));
    m_timer.setSingleShot(true);
    m_timer.setInterval(kClearAfterMs);
    connect(&m_timer, &QTimer::timeout, this, &ClipboardGuard::expire);
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
    if (clipboardHoldsOurs())
        QGuiApplication::clipboard()->clear();
    secureWipe(m_copied);
    m_copied.clear();
    m_holding = false;
}
