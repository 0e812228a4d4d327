#include "ListEditCommands.h"

#include "MainMenus.h"
#include "MainWindow.h"
#include "startup/AppState.h"
#include "store/LinkFileRewrite.h"
#include "ui/WaitCursor.h"
#include "ui/message/ShowMessage.h"

#include <algorithm>

namespace {

constexpr qint16 kDeleteQuestionNumber = 7;
const QString kDeleteQuestion = QStringLiteral(
    "\r\n\r\n\r\nDo You Want To Delete The Selected \r\nAddress Items From The List?\r\n");
const QString kSaveFailed =
    QStringLiteral("\r\n\r\n\r\n   Error, Unable To Save Change\r\n(move item).\r\n");

} // namespace

ListEditCommands::ListEditCommands(MainWindow& window)
    : QObject(&window)
    , m_window(window)
{
}

void ListEditCommands::connectTo(const MainMenus& menus)
{
    const auto wire = [&](const char* name, auto command) {
        QAction* action = menus.action(name);
        action->setEnabled(true);
        connect(action, &QAction::triggered, this, command);
    };
    wire("mnu1MoveUp", [this] { move(Move::Up); });
    wire("mnu1Movedown", [this] { move(Move::Down); });
    wire("mnu1ToTop", [this] { move(Move::ToTop); });
    wire("mnu1ToBot", [this] { move(Move::ToBottom); });
    wire("mnu1DelURLFromList", [this] { deleteSelected(); });
}

bool ListEditCommands::save(const std::vector<const Entry*>& entries)
{
    AppState& state = m_window.state();
    SaveResult saved = [&] {
        WaitCursor wait;
        return SaveListToLinkFile(state.paths.linkFilePath, entries, state.masterPassword,
                                  state.cipher, m_window.expectedPair());
    }();
    if (saved.changedOnDisk()) {
        m_window.showChangedOnDisk();
        return false;
    }
    if (!saved.made()) {
        m_window.message(MessageKind::Ok, kSaveFailed);
        return false;
    }
    m_window.rememberOwnWrite();
    // In place, if not yet for sure: the list follows the file.
    if (!saved)
        m_window.message(MessageKind::Ok, MainWindow::madeUnsureText(saved.error()));
    return true;
}

void ListEditCommands::move(Move move)
{
    EntryModel& model = m_window.model();
    const int count = model.rowCount();
    const int from = m_window.currentRow();
    if (count < 2 || from < 0)
        return;
    int to = from;
    switch (move) {
    case Move::Up:
        to = std::max(from - 1, 0);
        break;
    case Move::Down:
        to = std::min(from + 1, count - 1);
        break;
    case Move::ToTop:
        to = 0;
        break;
    case Move::ToBottom:
        to = count - 1;
        break;
    }
    if (to == from || !m_window.refuseUnlessListMatchesFile())
        return;

    // The list in its new order, the entries themselves left where they are.
    std::vector<const Entry*> entries(model.entries().size());
    std::transform(model.entries().begin(), model.entries().end(), entries.begin(),
                   [](const Entry& entry) { return &entry; });
    const auto first = entries.begin();
    if (from < to)
        std::rotate(first + from, first + from + 1, first + to + 1);
    else
        std::rotate(first + to, first + from, first + from + 1);
    if (!save(entries))
        return;
    model.moveEntry(from, to);
    m_window.selectRow(to);
}

void ListEditCommands::deleteSelected()
{
    EntryModel& model = m_window.model();
    if (model.rowCount() == 0 || !m_window.refuseUnlessListMatchesFile())
        return;
    if (!m_window.state().settings.isMessageSuppressed(kDeleteQuestionNumber) &&
        m_window.message(MessageKind::YesNoSwitchable, kDeleteQuestion, kDeleteQuestionNumber) !=
            MessageAnswer::Yes)
        return;
    // The question gave another machine time to change the file.
    if (!m_window.refuseIfChangedOnDisk())
        return;
    const std::vector<int> rows = m_window.selectedRows();
    if (rows.empty())
        return;

    std::vector<const Entry*> kept;
    kept.reserve(model.entries().size() - rows.size());
    auto removed = rows.begin();
    for (int row = 0; row < model.rowCount(); ++row) {
        if (removed != rows.end() && *removed == row)
            ++removed;
        else
            kept.push_back(&model.entry(row));
    }
    if (!save(kept))
        return;
    model.removeEntries(rows);
    // The commands expect a selected entry: the one that took the first removed one's place.
    m_window.selectRowNear(rows.front());
}
