#include "BackUpCommands.h"

#include "MainMenus.h"
#include "MainWindow.h"
#include "startup/AppState.h"
#include "startup/ModuleRoutines.h"
#include "store/BackUp.h"
#include "store/MasterPasswordFile.h"
#include "ui/WaitCursor.h"
#include "ui/message/ShowMessage.h"

#include <QAction>

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
const QString kNoMasterPasswordFile = QStringLiteral(
    "\r\n\r\n\r\nCan't Restore Files: \r\nThe Back-Up Has No Password File (QuiFil.ini),\r\n"
    "So No Password Would Open Its Links File.\r\nNothing Was Replaced.\r\n");
const QString kRestoreDoneText = QStringLiteral("\r\n\r\n\r\nRestore Done.\r\n");
const QString kLockedAfterRestore = QStringLiteral(
    "\r\n\r\n\r\nThe Restored Links Files Do Not Open With\r\nThe Password You Entered, So The "
    "Window\r\nIs Locked. Enter The Password That Was In\r\nEffect When The Back-Up Was Made, Or "
    "\r\nClick -Undo Previous Restore- To Go Back.\r\n");
const QString kRestoreFailed =
    QStringLiteral("\r\n\r\n\r\nAn Error Occurred Restoring \r\nWith Your Back-Up Files\r\n");

const QString kUndoQuestionText =
    QStringLiteral("\r\n\r\n\r\nDo You Want To Undo The Restored Links Files\r\nAnd Replace With "
                   "Your Previous Set Of Files?\r\n");
const QString kNoUndoDirectory =
    QStringLiteral("\r\n\r\n\r\nCan't UnDo Restored Files. \r\n No UnDo Directory\r\n");
const QString kUndoDoneText = QStringLiteral("\r\n\r\n\r\nUndo Done.\r\n");
const QString kLockedAfterUndo = QStringLiteral(
    "\r\n\r\n\r\nThe Links Files Put Back By The Undo Do Not\r\nOpen With The Password You "
    "Entered, So The\r\nWindow Is Locked. Enter The Password That Was\r\nIn Effect Before The "
    "Restore.\r\n");
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
    offerUndoWhileKept();
}

// What UnDo holds decides, not what this run did: a pair kept there by an earlier run that
// closed while the window was locked is offered too.
void BackUpCommands::offerUndoWhileKept()
{
    const QString undo = BackUp::undoDirectory(m_window.state().paths.dataDirectory);
    m_undoEntry->setVisible(BackUp::membersIn(undo).any());
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
    if (!asked(kBackUpQuestionText, kBackUpQuestion) || !m_window.refuseIfChangedOnDisk())
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
    if (!asked(kRestoreQuestionText, kRestoreQuestion) || !m_window.refuseIfChangedOnDisk())
        return;
    const BackUp::RestoreOutcome outcome = [&] {
        WaitCursor wait;
        return BackUp::restoreFromBackUp(state.paths.dataDirectory, directory);
    }();
    offerUndoWhileKept();
    using Status = BackUp::RestoreOutcome::Status;
    switch (outcome.status) {
    case Status::Failed:
        m_window.message(MessageKind::Ok, kRestoreFailed);
        return;
    case Status::NoBackUpFiles:
        m_window.message(MessageKind::Ok, kNoBackUpFiles);
        return;
    case Status::NoMasterPasswordFile:
        m_window.message(MessageKind::Ok, kNoMasterPasswordFile);
        return;
    case Status::Restored:
        // Made, but it may not outlast a power cut: said instead of "Restore Done.".
        if (outcome.unsure && !m_window.finishMadeUnsure(outcome.failure))
            return;
        break;
    }
    const bool locked = showReplacedPair();
    if (!outcome.unsure)
        tell(kRestoreDoneText, kRestoreDone);
    if (locked)
        m_window.message(MessageKind::Ok, kLockedAfterRestore);
}

void BackUpCommands::undo()
{
    if (!asked(kUndoQuestionText, kUndoQuestion) || !m_window.refuseIfChangedOnDisk())
        return;
    const BackUp::UndoOutcome outcome = [&] {
        WaitCursor wait;
        return BackUp::undoRestore(m_window.state().paths.dataDirectory);
    }();
    using Status = BackUp::UndoOutcome::Status;
    // The kept pair stays in UnDo when its copy back may not outlast a power cut.
    const bool madeUnsure = outcome.unsure;
    if (madeUnsure && !m_window.finishMadeUnsure(outcome.failure)) {
        offerUndoWhileKept();
        return;
    }
    const bool locked = (outcome.pairReplaced || madeUnsure) && showReplacedPair();
    offerUndoWhileKept();
    switch (outcome.status) {
    case Status::NoUndoDirectory:
        m_window.message(MessageKind::Ok, kNoUndoDirectory);
        return;
    case Status::Failed:
        if (!madeUnsure)
            m_window.message(MessageKind::Ok, kUndoFailed);
        break;
    case Status::Undone:
    case Status::NothingKept:
        if (!madeUnsure)
            tell(kUndoDoneText, kUndoDone);
        break;
    }
    if (locked)
        m_window.message(MessageKind::Ok, kLockedAfterUndo);
}

// The list follows the new pair only when the password in memory opens it; a pair under
// another password would be decrypted into garbage, and the next change would write that
// garbage back or mix two passwords in one file. Such a pair locks the window until its own
// password is typed. True when it locked the window.
bool BackUpCommands::showReplacedPair()
{
    AppState& state = m_window.state();
    if (!m_window.isUnlocked())
        return false;
    const MasterPasswordFile::Check check = MasterPasswordFile::check(
        state.paths.masterPasswordPath, state.masterPassword, state.cipher);
    if (check.outcome != MasterPasswordFile::Outcome::Right) {
        m_window.showLocked();
        return true;
    }
    state.checkValue = check.checkValue;
    m_window.reloadList();
    return false;
}
