#include "PasswordCommands.h"

#include "MainWindow.h"
#include "startup/AppState.h"
#include "startup/ModuleRoutines.h"
#include "startup/OleDate.h"
#include "store/BackUp.h"
#include "store/LinkFile.h"
#include "store/LinkFileRewrite.h"
#include "store/MasterPasswordFile.h"
#include "store/PairFiles.h"
#include "store/UndoCopies.h"
#include "store/Windows1252.h"
#include "ui/WaitCursor.h"
#include "ui/message/ShowMessage.h"

#include <QFileInfo>
#include <QLineEdit>

namespace {

const QString kNoPasswordFile =
    QStringLiteral("\r\n\r\n\r\nThere Is No Current Password File \r\n(no.in/chng-pss)");
const QString kTypeNewPassword = QStringLiteral(
    "\r\n\r\n\r\nType-In Your New Password.  Then Click The -Change Password- Button, Again");
const QString kCurrentPasswordWrong =
    QStringLiteral("\r\n\r\nYour Current Password Must Be Correctly \r\nEntered Before You Can "
                   "Change Passwords.\r\nBad Pass Count = %1");
const QString kCannotCreate =
    QStringLiteral("\r\n\r\n\r\nUnable To Create New Password \r\n(ChWinPss-Cmd4)");
const QString kChangedSinceProved = QStringLiteral(
    "\r\n\r\n\r\nUnable To Create New Password:\r\nThe Links Files Were Changed On Disk By "
    "\r\nAnother Program After Your Password Was\r\nChecked. Nothing Was Changed; Enter Your "
    "\r\nPassword And Click -Change Password- Again.");
const QString kNowInEffect = QStringLiteral("\r\n\r\n\r\nYour New Password Is Now In Effect");
const QString kApplyToBackUp =
    QStringLiteral("\r\n\r\n\r\nYou Have Back-Up Files Encrypted With \r\nThe Old Password.  Do "
                   "You Want To Apply \r\nThe New Passwod To Them?");
const QString kAppliedToBackUp =
    QStringLiteral("\r\n\r\n\r\nYour New Password Has Been Applied \r\nTo Your Back-Up Files.");
const QString kNotAppliedToBackUp =
    QStringLiteral("\r\n\r\n\r\nYour New Password Could Not Be Applied \r\nTo Your Back-Up Files.");
const QString kDeleteWarning = QStringLiteral(
    "\r\nDELETE WARNING: \r\n If You Proceed, Your Password For This Window Will Be Reset To The "
    "Default Password:  Pomelo \r\nAll URL Addresses, Username Id's, And Passwords\r\nYou Have "
    "Added To The -Quillor- Window, Will Be Permanently Deleted, \r\nAnd This Window Will Close.  "
    "\r\nThe Date And Time Of The Delete Will Be \r\nRecorded, And Will Appear As The ToolTip "
    "\r\nFor This Button, When You Reopen Quillor.\r\nDo You Want To Delete These Items, Now?");

QString inDirectory(const QString& directory, const QString& name)
{
    return directory + u'/' + name;
}

// Both files go as a unit: a crash between the two would leave a link file without its master
// password file, which no password opens and which keeps a new one from being set. A failure is
// passed over; the next directory's pair goes all the same.
void deletePair(const QString& directory)
{
    (void)BackUp::removePair(directory);
}

} // namespace

PasswordCommands::PasswordCommands(MainWindow& window, QLineEdit& passwordBox)
    : QObject(&window)
    , m_window(window)
    , m_passwordBox(passwordBox)
{
}

void PasswordCommands::changePassword()
{
    if (m_changePending)
        setNewPassword();
    else
        proveCurrentPassword();
}

void PasswordCommands::proveCurrentPassword()
{
    AppState& state = m_window.state();
    if (QFileInfo(state.paths.masterPasswordPath).size() < 1) {
        m_window.message(MessageKind::Ok, kNoPasswordFile);
        return;
    }
    const auto typed = m_window.typedPassword();
    if (!typed)
        return;
    const PairIdentity proved = pairIdentity(state.paths.dataDirectory);
    const MasterPasswordFile::Check check =
        MasterPasswordFile::check(state.paths.masterPasswordPath, *typed, state.cipher);
    using Outcome = MasterPasswordFile::Outcome;
    switch (check.outcome) {
    case Outcome::NoMasterPassword:
        m_window.message(MessageKind::Ok, kNoPasswordFile);
        return;
    case Outcome::Unreadable:
        m_window.showPasswordFileUnreadable(check.failure);
        return;
    case Outcome::Wrong:
        m_window.badPassword(kCurrentPasswordWrong);
        return;
    case Outcome::Right:
        break;
    }
    // A re-encryption stops at a damaged record; better to say so now than to fail later.
    if (const QString damaged = findDamagedLinkRecord(state.paths.linkFilePath);
        !damaged.isEmpty()) {
        m_window.showListDoesNotMatchFile(damaged);
        return;
    }
    state.masterPassword = *typed;
    state.checkValue = check.checkValue;
    m_provedPair = proved;
    m_passwordBox.clear();
    m_changePending = true;
    m_window.message(MessageKind::Ok, kTypeNewPassword);
}

void PasswordCommands::setNewPassword()
{
    AppState& state = m_window.state();
    // Nothing is written for a password the files could not hold; the change stays pending.
    const auto typed = m_window.typedPassword();
    if (!typed)
        return;
    m_changePending = false;
    // The pair re-encrypted must be the one the old password was proved on.
    if (pairIdentity(state.paths.dataDirectory) != m_provedPair) {
        m_passwordBox.clear();
        m_window.message(MessageKind::Ok, kChangedSinceProved);
        return;
    }
    const QByteArray oldPassword = state.masterPassword;
    const QByteArray newPassword = *typed;

    m_window.aboutToWrite();
    const SaveResult changed = [&] {
        WaitCursor wait;
        return reencryptPair(state.paths.dataDirectory, oldPassword, newPassword, state.checkValue,
                             state.cipher, m_provedPair);
    }();
    if (changed.changedOnDisk()) {
        m_passwordBox.clear();
        m_window.message(MessageKind::Ok, kChangedSinceProved);
        return;
    }
    if (!changed.made()) {
        m_window.message(MessageKind::Ok, kCannotCreate);
        m_window.close();
        return;
    }
    // Decided, if not finished: the pair on disk is under the new password from here on.
    state.masterPassword = newPassword;
    // Auto-enter would type the old password at the next start and count it as a bad one.
    if (state.settings.autoEnter == 1)
        state.settings.autoEnterPassword = Windows1252::toUnicode(newPassword);
    if (!changed && !m_window.finishMadeUnsure(changed.error()))
        return;
    m_window.message(MessageKind::Ok, kNowInEffect);
    m_window.reloadList();
    offerBackUpPair(oldPassword, newPassword);
    (void)deleteUndoCopies(state.paths.dataDirectory);
    m_passwordBox.clear();
    m_window.showUnlocked();
}

void PasswordCommands::offerBackUpPair(const QByteArray& oldPassword, const QByteArray& newPassword)
{
    const QString directory = m_window.state().settings.backupDirectory;
    if (directory.isEmpty() || TestDirectory(directory) != 0)
        return;
    const bool any =
        TestFileReadable(inDirectory(directory, PairFiles::kMasterPasswordFile)) == 0 ||
        TestFileReadable(inDirectory(directory, PairFiles::kLinkFile)) == 0;
    if (!any || m_window.message(MessageKind::YesNo, kApplyToBackUp) != MessageAnswer::Yes)
        return;
    const SaveResult applied = ReencryptBackUpFiles(directory, oldPassword, newPassword);
    m_window.message(MessageKind::Ok, applied.made() ? kAppliedToBackUp : kNotAppliedToBackUp);
    if (applied.made() && !applied) {
        // Decided: finished now where it can be, else by the next back-up or restore.
        const SaveResult settled = PairFiles::settlePairDirectory(directory);
        m_window.message(MessageKind::Ok,
                         MainWindow::madeUnsureText(
                             settled ? applied.error()
                                     : applied.error() + QStringLiteral("\r\n") + settled.error()));
    }
}

SaveResult PasswordCommands::ReencryptBackUpFiles(const QString& directory,
                                                  const QByteArray& oldPassword,
                                                  const QByteArray& newPassword)
{
    AppState& state = m_window.state();
    // Another profile's back-up of the same directory waits; a directory others can write to,
    // or a link in a file's place, is not written through.
    const BackUp::DirectoryLock lock(directory, BackUp::DirectoryLock::Mode::Exclusive);
    if (!lock.failure().isEmpty())
        return SaveResult::failure(lock.failure());
    for (const QString& name : {PairFiles::kMasterPasswordFile, PairFiles::kLinkFile}) {
        if (const QString path = inDirectory(directory, name); QFileInfo(path).isSymLink())
            return SaveResult::failure(
                QStringLiteral("%1: a symbolic link, which is not followed here").arg(path));
    }
    const QString passwordPath = inDirectory(directory, PairFiles::kMasterPasswordFile);
    if (TestFileReadable(passwordPath) != 0)
        return SaveResult::failure(passwordPath);
    // A back-up pair under some other password would be decrypted into garbage and stored so.
    const auto check = MasterPasswordFile::check(passwordPath, oldPassword, state.cipher);
    if (check.outcome != MasterPasswordFile::Outcome::Right)
        return SaveResult::failure(passwordPath);
    return reencryptPair(directory, oldPassword, newPassword, state.checkValue, state.cipher);
}

void PasswordCommands::deletePasswordAndFiles()
{
    AppState& state = m_window.state();
    if (m_window.message(MessageKind::YesNo, kDeleteWarning) != MessageAnswer::Yes)
        return;
    state.settings.lastDeleteDate = toOleDate(QDateTime::currentDateTime());
    // The password that auto-enter would type no longer exists.
    state.settings.autoEnter = 0;
    state.settings.autoEnterPassword = Settings::kNoAutoEnterPassword;
    deletePair(state.paths.dataDirectory);
    if (!state.settings.backupDirectory.isEmpty())
        (void)BackUp::removeBackUpPair(state.settings.backupDirectory);
    deletePair(inDirectory(state.paths.dataDirectory, kUndoDirectory));
    m_window.close();
}
