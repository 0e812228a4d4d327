#include "ListCommands.h"

#include "AddressOpener.h"
#include "ClipboardGuard.h"
#include "EnterItemsLink.h"
#include "MainMenus.h"
#include "MainWindow.h"
#include "cipher/SecureWipe.h"
#include "startup/AppState.h"
#include "store/EntryPassword.h"
#include "store/Windows1252.h"
#include "ui/entry/EnterItemsWindow.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>

namespace {

QString text(QByteArrayView bytes)
{
    return Windows1252::toUnicode(bytes);
}

// The list holds the real user name whether or not the column shows the mask, so no command
// can hand out "ooooooo".
QString userName(const Entry& entry)
{
    return text(entry.userName());
}

void clearClipboard()
{
    QGuiApplication::clipboard()->clear();
}

} // namespace

ListCommands::ListCommands(MainWindow& window, const AddressOpener& opener,
                           EnterItemsLink& enterItems, QLabel& revealBox)
    : QObject(&window)
    , m_window(window)
    , m_opener(opener)
    , m_enterItems(enterItems)
    , m_revealBox(revealBox)
{
}

void ListCommands::connectTo(const MainMenus& menus, QHeaderView& header)
{
    const auto wire = [&](const char* name, auto command) {
        QAction* action = menus.action(name);
        action->setEnabled(true);
        connect(action, &QAction::triggered, this, command);
    };
    wire("mnu1NavTo", [this] { navigate(); });
    wire("mnu1CopyUzzaToClip", [this] { copy(EntryModel::UserNameColumn); });
    wire("mnu1CopyPassToClip", [this] { copy(EntryModel::PasswordColumn); });
    wire("mnu1CopyTitleToClip", [this] { copy(EntryModel::TitleColumn); });
    wire("mnu1CopyURLToClip", [this] { copy(EntryModel::UrlColumn); });
    wire("mnu1LoadTextBoxes", [this] { loadEnterItemsBoxes(); });
    wire("mnu1ViewHidUsername", [this] { revealUserName(); });
    wire("mnu1ViewPass", [this] { revealPassword(); });

    header.setSectionsClickable(true);
    header.setSortIndicatorShown(false);
    connect(&header, &QHeaderView::sectionClicked, this, [this](int column) { copy(column); });
}

const Entry* ListCommands::selected() const
{
    const int row = m_window.currentRow();
    if (m_window.model().rowCount() == 0 || row < 0)
        return nullptr;
    return &m_window.model().entry(row);
}

QString ListCommands::password(const Entry& entry) const
{
    AppState& state = m_window.state();
    QByteArray plain = decryptPassword(entry, state.masterPassword, state.cipher);
    QString decrypted = text(plain);
    secureWipe(plain);
    return decrypted;
}

void ListCommands::navigate() const
{
    const Entry* entry = selected();
    if (!entry || entry->url().isEmpty())
        return;
    m_opener.open(text(entry->url()));
}

void ListCommands::copy(int column) const
{
    const Entry* entry = selected();
    if (!entry)
        return;
    clearClipboard();
    QString item;
    switch (column) {
    case EntryModel::TitleColumn:
        item = text(entry->title());
        break;
    case EntryModel::UserNameColumn:
        item = userName(*entry);
        break;
    case EntryModel::PasswordColumn:
        item = password(*entry);
        break;
    case EntryModel::UrlColumn:
        item = text(entry->url());
        break;
    default:
        return;
    }
    m_window.clipboard().copy(item);
    secureWipe(item);
}

void ListCommands::revealUserName() const
{
    const Entry* entry = selected();
    if (!entry)
        return;
    clearClipboard();
    m_revealBox.setText(userName(*entry));
}

void ListCommands::revealPassword() const
{
    const Entry* entry = selected();
    if (!entry)
        return;
    clearClipboard();
    QString pw = password(*entry);
    m_revealBox.setText(pw);
    secureWipe(pw);
}

void ListCommands::loadEnterItemsBoxes() const
{
    const Entry* entry = selected();
    if (!entry)
        return;
    QString pw = password(*entry);
    m_enterItems.ensureOpen()->loadBoxes(text(entry->title()), userName(*entry), pw,
                                         text(entry->url()));
    secureWipe(pw);
}

void ListCommands::showTitle(int row) const
{
    if (row < 0 || row >= m_window.model().rowCount())
        return;
    m_enterItems.showSelectedTitle(text(m_window.model().entry(row).title()));
}
