#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

// Puts items on the clipboard marked as secret for clipboard managers, and takes them off again
// 30 seconds later, or when the program ends, but only while the clipboard still holds them:
// whatever the user copied since is theirs. On Wayland the compositor may keep a copy of its own
// after ours is gone (and without the secret mark); wl-copy --clear empties that one too.
class ClipboardGuard : public QObject {
    Q_OBJECT
public:
    static constexpr int kClearAfterMs = 30000;
    static inline const QString kSecretHintFormat = QStringLiteral("x-kde-passwordManagerHint");

    static inline const QString kNoWlCopy =
        QStringLiteral("\r\n\r\n\r\nYour Copies May Stay On The Clipboard\r\nUntil The "
                       "wl-clipboard Package Is Installed.");

    explicit ClipboardGuard(QObject* parent = nullptr);
    ~ClipboardGuard() override;

    // Says kNoWlCopy, once a run, at the first copy on Wayland without wl-copy.
    void setWarning(std::function<void(const QString&)> warn) { m_warn = std::move(warn); }
    // Where the session is Wayland's and which wl-copy clears it (empty: none); found at start,
    // set by tests.
    void setWayland(bool wayland, const QString& wlCopy);

    void copy(const QString& text);

    // What the timer does when it fires; public so that tests need not wait for it.
    void expire();
    void clearIfOurs();

    const QTimer& timer() const { return m_timer; }

private:
    bool clipboardHoldsOurs() const;
    void clearCompositorCopy() const;

    QTimer m_timer;
    std::function<void(const QString&)> m_warn;
    bool m_wayland = false;
    QString m_wlCopy;
    bool m_warned = false;
    QString m_copied;
    bool m_holding = false;
};
