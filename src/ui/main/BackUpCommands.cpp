#include "BackUpCommands.h"

#include "MainMenus.h"
#include "MainWindow.h"
#include "startup/AppState.h"
#include "startup/ModuleRoutines.h"
#include "store/BackUp.h"
#include "store/MasterPasswordFile.h"
#include "ui/WaitCursor.h"
#include "ui/message/ShowMessage.h"

namespace {

constexpr qint16 kBackUpQuestion = 1;
constexpr qint16 kBackUpDone = 2;
constexpr qint16 kRestoreDone = 3;
constexpr qint16 kUndoDone = 4;
constexpr qint16 kRestoreQuestion = 5;
constexpr qint16 kUndoQuestion = 6;

const QString kNoBackUpDirectoryToSave =
    QStringLiteral("\r\n\r\n\r\nYou Can Not Back-Up Files Until You Select \r\n A Back-Up "
                   "Directory In The Options Window.\r\n");
const QString kBackUpQuestionText =
    QStringLiteral("\r\n\r\n\r\nDo You Want To Back-Up \r\nYour Current Links Files?\r\n");
const QString kBackUpDoneText = QStringLiteral("\r\n\r\n\r\nBack-Up Done.\r\n");
const QString kBackUpFailed =
    QStringLiteral("\r\n\r\n\r\nAn Error Occurred Saving \r\nYour Back-Up Files\r\n");

const QString kNoBackUpDirectoryToRestore =
    QStringLiteral("\r\n\r\n\r\nCan't Restore Files: \r\nNo Back-Up Directory Exists.\r\n");
const QString kRestoreQuestionText = QStringLiteral(
    "\r\n\r\n\r\nDo You Want To Replace Your Current Links\r\nFiles With Your Back-Up Set Of "
    "Links Files? \r\n (You Can Undo The Restore \r\nUntil You Close Quillor)\r\n");
const QString kNoBackUpFiles =
    QStringLiteral("\r\n\r\n\r\nCan't Restore Files: \r\nNo Back-Up Files Exists.\r\n");
const QString kRestoreDoneText = QStringLiteral("\r\n\r\n\r\nRestore Done.\r\n");
const QString kRestoreFailed =
    QStringLiteral("\r\n\r\n\r\nAn Error Occurred Restoring \r\nWith Your Back-Up Files\r\n");

const QString kUndoQuestionText =
    QStringLiteral("\r\n\r\n\r\nDo You Want To Undo The Restored Links Files\r\nAnd Replace With "
                   "Your Previous Set Of Files?\r\n");
const QString kNoUndoDirectory =
    QStringLiteral("\r\n\r\n\r\nCan't UnDo Restored Files. \r\n No UnDo Directory\r\n");
const QString kUndoDoneText = QStringLiteral("\r\n\r\n\r\nUndo Done.\r\n");
const QString kUndoFailed =
    QStringLiteral("\r\n\r\n\r\nAn Error Occurred UnDoing \r\nThe Restored Files\r\n");

} // namespace

BackUpCommands::BackUpCommands(MainWindow& window)
    : QObject(&window)
    , m_window(window)
{
}

void BackUpCommands::connectTo(const MainMenus& menus)
{
    const auto wire = [&](const char* name, auto command) {
        QAction* action = menus.action(name);
        action->setEnabled(true);
        connect(action, &QAction::triggered, this, command);
        return action;
    };
    wire("mnu1BUfiles", [this] { backUp(); });
    wire("mnu1BURestore", [this] { restore(); });
    m_undoEntry = wire("mnu1BUundo", [this] { undo(); });
    m_undoEntry->setVisible(false);
}

// A question the user switched off counts as Yes.
bool BackUpCommands::asked(const QString& question, qint16 number)
{
    return m_window.state().settings.isMessageSuppressed(number) ||
           m_window.message(MessageKind::YesNoSwitchable, question, number) == MessageAnswer::Yes;
}

void BackUpCommands::tell(const QString& text, qint16 number)
{
    if (!m_window.state().settings.isMessageSuppressed(number))
        m_window.message(MessageKind::OkSwitchable, text, number);
}

void BackUpCommands::backUp()
{
    const AppState& state = m_window.state();
    const QString directory = state.settings.backupDirectory;
    if (TestDirectory(directory) != 0) {
        m_window.message(MessageKind::Ok, kNoBackUpDirectoryToSave);
        return;
    }
    if (!asked(kBackUpQuestionText, kBackUpQuestion))
        return;
    const SaveResult saved = [&] {
        WaitCursor wait;
        return BackUp::backUpPair(state.paths.dataDirectory, directory);
    }();
    if (!saved) {
        m_window.message(MessageKind::Ok, kBackUpFailed);
        return;
    }
    tell(kBackUpDoneText, kBackUpDone);
}

void BackUpCommands::restore()
{
    const AppState& state = m_window.state();
    const QString directory = state.settings.backupDirectory;
    if (TestDirectory(directory) != 0) {
        m_window.message(MessageKind::Ok, kNoBackUpDirectoryToRestore);
        return;
    }
    if (!asked(kRestoreQuestionText, kRestoreQuestion))
        return;
    const BackUp::RestoreOutcome outcome = [&] {
        WaitCursor wait;
        return BackUp::restoreFromBackUp(state.paths.dataDirectory, directory);
    }();
    if (outcome.keptForUndo)
        m_undoEntry->setVisible(true);
    using Status = BackUp::RestoreOutcome::Status;
    switch (outcome.status) {
    case Status::Failed:
    case Status::NoMasterPasswordFile:
        m_window.message(MessageKind::Ok, kRestoreFailed);
        return;
    case Status::NoBackUpFiles:
        m_window.message(MessageKind::Ok, kNoBackUpFiles);
        return;
    case Status::Restored:
        break;
    }
    showReplacedPair();
    tell(kRestoreDoneText, kRestoreDone);
}

void BackUpCommands::undo()
{
    if (!asked(kUndoQuestionText, kUndoQuestion))
        return;
    const BackUp::UndoOutcome outcome = [&] {
        WaitCursor wait;
        return BackUp::undoRestore(m_window.state().paths.dataDirectory);
    }();
    if (outcome.pairReplaced)
        showReplacedPair();
    using Status = BackUp::UndoOutcome::Status;
    switch (outcome.status) {
    case Status::NoUndoDirectory:
        m_window.message(MessageKind::Ok, kNoUndoDirectory);
        return;
    case Status::Failed:
        m_window.message(MessageKind::Ok, kUndoFailed);
        return;
    case Status::Undone:
    case Status::NothingKept:
        break;
    }
    m_undoEntry->setVisible(false);
    tell(kUndoDoneText, kUndoDone);
}

// The list follows the new pair only when the password in memory opens it; a pair under
// another password would be decrypted into garbage, and the next change would write that
// garbage back or mix two passwords in one file. Such a pair locks the window until its own
// password is typed.
void BackUpCommands::showReplacedPair()
{
    AppState& state = m_window.state();
    if (!m_window.isUnlocked())
        return;
    const MasterPasswordFile::Check check = MasterPasswordFile::check(
        state.paths.masterPasswordPath, state.masterPassword, state.cipher);
    if (check.outcome != MasterPasswordFile::Outcome::Right) {
        m_window.showLocked();
        return;
    }
    state.checkValue = check.checkValue;
    m_window.reloadList();
}
