#include "MergeCommands.h"

#include "MainMenus.h"
#include "MainWindow.h"
#include "startup/AppState.h"
#include "store/ConflictCopies.h"
#include "store/Merge.h"
#include "store/StoredField.h"
#include "store/Windows1252.h"
#include "ui/message/MessageKinds.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QScopedValueRollback>

namespace {

const QString kOfferText = QStringLiteral(
    "\r\n\r\n\r\nYour Sync Program Kept Another Version\r\nOf Your Links List:\r\n%1\r\n"
    "Do You Want To Merge Its Entries Into Your List?\r\n");
const QString kMergedText = QStringLiteral(
    "\r\n\r\n\r\nMerge Done: %1 Added, %2 Already In Your List,\r\n%3 Added Beside An Entry With "
    "The Same\r\nTitle And Address But Another Username Or Password.\r\n%4");
const QString kPutAsideText =
    QStringLiteral("The Other Version Was Moved To\r\n%1\r\n(Move It Back To Restore It.)\r\n");
const QString kDeletedComeBackText =
    QStringLiteral("A Merge Can Not Know Which Entries The Other\r\nMachine Deleted: They Are "
                   "Back In Your List.\r\n");
const QString kNothingMergedText = QStringLiteral("\r\n\r\n\r\nNothing Was Merged:\r\n%1\r\n");
const QString kWrongPasswordText = QStringLiteral(
    "\r\n\r\n\r\nThat Password Does Not Open\r\nThe Other Version. Nothing Was Merged.\r\n");
const QString kNotPutAsideText =
    QStringLiteral("The Other Version Could Not Be Moved Aside\r\n(%1);\r\nIt Is Offered Again, "
                   "And A Second Merge\r\nAdds Nothing Twice.\r\n");
const QString kPasswordPrompt =
    QStringLiteral("The other version of the list is under another master password.\n"
                   "Its password:");

} // namespace

MergeCommands::MergeCommands(MainWindow& window)
    : QObject(&window)
    , m_window(window)
    , m_chooseFile([](QWidget* parent, const QString& start) -> std::optional<QString> {
        const QString chosen = QFileDialog::getOpenFileName(
            parent, QString(), start, QStringLiteral("Links Files (*.dab);;All Files (*)"));
        if (chosen.isEmpty())
            return std::nullopt;
        return chosen;
    })
    , m_askPassword([](QWidget* parent, const QString& prompt) -> std::optional<QString> {
        bool ok = false;
        const QString typed =
            QInputDialog::getText(parent, QString(), prompt, QLineEdit::Password, QString(), &ok);
        if (!ok)
            return std::nullopt;
        return typed;
    })
{
}

void MergeCommands::connectTo(const MainMenus& menus)
{
    QAction* action = menus.action("mnu1Merge");
    action->setEnabled(true);
    connect(action, &QAction::triggered, this, [this] { chooseAndMerge(); });
}

void MergeCommands::offerConflictCopies()
{
    // Not over another window's question: the next change or unlock offers it.
    if (!m_window.isUnlocked() || m_offering || QApplication::activeModalWidget())
        return;
    const QScopedValueRollback offering(m_offering, true);
    const QString data = m_window.state().paths.dataDirectory;
    for (const ConflictCopies::Copy& copy : ConflictCopies::find(data)) {
        if (copy.of != ConflictCopies::Of::LinkFile || m_declined.contains(copy.name))
            continue;
        if (m_window.message(MessageKind::YesNo, kOfferText.arg(copy.name)) != MessageAnswer::Yes) {
            m_declined.insert(copy.name);
            continue;
        }
        mergeFrom(data + u'/' + copy.name);
        if (!m_window.isUnlocked())
            return;
    }
}

void MergeCommands::chooseAndMerge()
{
    if (!m_window.isUnlocked())
        return;
    const std::optional<QString> chosen =
        m_chooseFile(&m_window, m_window.state().paths.dataDirectory);
    if (chosen)
        mergeFrom(*chosen);
}

bool MergeCommands::mergeFrom(const QString& path)
{
    AppState& state = m_window.state();
    const auto nothingMerged = [this](const QString& why) {
        m_window.message(MessageKind::Ok, kNothingMergedText.arg(why));
        return false;
    };
    Merge::Source source;
    if (const QString failure = Merge::findSource(path, state.paths.dataDirectory, source);
        !failure.isEmpty())
        return nothingMerged(failure);

    // Ours as the file holds it now, not as the list was last read; the merge is written only
    // over the pair this read.
    const PairIdentity read = pairIdentity(state.paths.dataDirectory);
    const LinkFileRead ours = readLinkFile(state.paths.linkFilePath, state.masterPassword,
                                           state.cipher, EmptyLinkFile::Keep);
    if (!ours.ok())
        return nothingMerged(ours.failure);

    const Merge::OtherRead other = Merge::readOther(
        source, state.masterPassword, state.cipher, [this]() -> std::optional<QByteArray> {
            std::optional<QString> typed = m_askPassword(&m_window, kPasswordPrompt);
            if (!typed)
                return std::nullopt;
            std::optional<QByteArray> bytes = Windows1252::fromUnicode(*typed);
            secureWipe(*typed);
            if (!bytes)
                return QByteArray();
            QByteArray trimmed = trimBlanks(QByteArrayView(*bytes)).toByteArray();
            secureWipe(*bytes);
            return trimmed;
        });
    switch (other.outcome) {
    case Merge::OtherRead::Outcome::Read:
        break;
    case Merge::OtherRead::Outcome::NoPassword:
        return false;
    case Merge::OtherRead::Outcome::WrongPassword:
        m_window.message(MessageKind::Ok, kWrongPasswordText);
        return false;
    case Merge::OtherRead::Outcome::Unreadable:
        return nothingMerged(other.failure);
    }

    Merge::Counts counts;
    const auto merged =
        Merge::mergeLists(ours.entries, state.masterPassword, other.read.entries,
                          other.password(state.masterPassword), state.cipher, counts);
    if (!merged)
        return nothingMerged(
            QStringLiteral("an entry of %1 does not fit its fields").arg(source.linkFile));
    SaveResult saved;
    if (counts.added + counts.beside > 0) {
        m_window.aboutToWrite();
        saved = Merge::writeMergedList(state.paths.dataDirectory, *merged, state.masterPassword,
                                       state.cipher, read);
        if (saved.changedOnDisk()) {
            m_window.showChangedOnDisk();
            return false;
        }
        if (!saved.made())
            return nothingMerged(saved.error());
    }
    if (!saved && !m_window.finishMadeUnsure(saved.error()))
        return true;
    m_window.reloadList();

    QString aside;
    for (const QString& name : std::as_const(source.copies)) {
        QString movedTo;
        const SaveResult moved = ConflictCopies::putAside(state.paths.dataDirectory, name, movedTo);
        if (moved.made() && aside.isEmpty() && name == source.copies.front())
            aside = kPutAsideText.arg(movedTo);
        if (!moved.made())
            aside += kNotPutAsideText.arg(moved.error());
    }
    QString text =
        kMergedText.arg(counts.added).arg(counts.identical).arg(counts.beside).arg(aside);
    if (counts.added + counts.beside > 0)
        text += kDeletedComeBackText;
    m_window.message(MessageKind::Ok, text);
    return true;
}
