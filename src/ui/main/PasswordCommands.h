#pragma once

#include "store/FileIdentity.h"
#include "store/SaveResult.h"

#include <QByteArray>
#include <QObject>

class MainWindow;
class QLineEdit;

// "Change Password" and "Delete Password && Files" on the password panel.
class PasswordCommands : public QObject {
    Q_OBJECT
public:
    PasswordCommands(MainWindow& window, QLineEdit& passwordBox);

    // Command4: the first click proves the current password, the second sets the new one.
    void changePassword();
    // "Enter" between the two clicks cancels the change.
    void cancelPendingChange() { m_changePending = false; }
    bool changePending() const { return m_changePending; }

    // Command5: after the warning, the pair everywhere deleted and the window closed.
    void deletePasswordAndFiles();

private:
    void proveCurrentPassword();
    void setNewPassword();
    void offerBackUpPair(const QByteArray& oldPassword, const QByteArray& newPassword);
    SaveResult ReencryptBackUpFiles(const QString& directory, const QByteArray& oldPassword,
                                    const QByteArray& newPassword);

    MainWindow& m_window;
    QLineEdit& m_passwordBox;
    bool m_changePending = false;
    PairIdentity m_provedPair; // the pair the current password was proved on
};
