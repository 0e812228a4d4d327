#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

// Puts items on the clipboard marked as secret for clipboard managers, and takes them off again
// 30 seconds later, or when the program ends, but only while the clipboard still holds them:
// whatever the user copied since is theirs.
class ClipboardGuard : public QObject {
    Q_OBJECT
public:
    static constexpr int kClearAfterMs = 30000;
    static inline const QString kSecretHintFormat = QStringLiteral("x-kde-passwordManagerHint");

    explicit ClipboardGuard(QObject* parent = nullptr);
    ~ClipboardGuard() override;

    void copy(const QString& text);

    // What the timer does when it fires; public so that tests need not wait for it.
    void expire();
    void clearIfOurs();

    const QTimer& timer() const { return m_timer; }

private:
    bool clipboardHoldsOurs() const;

    QTimer m_timer;
    QString m_copied;
    bool m_holding = false;
};
