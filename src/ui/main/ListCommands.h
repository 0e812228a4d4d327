#pragma once

#include <QObject>

class AddressOpener;
class EnterItemsLink;
class Entry;
class MainMenus;
class MainWindow;
class QHeaderView;
class QLabel;

// The commands of the list menu and the column headers, each on the selected entry. Every one
// does nothing while the list is empty or no entry is selected.
class ListCommands : public QObject {
    Q_OBJECT
public:
    ListCommands(MainWindow& window, const AddressOpener& opener, EnterItemsLink& enterItems,
                 QLabel& revealBox);

    // Wires the list menu's entries and the column headers to the commands; a header click
    // copies its column and never sorts.
    void connectTo(const MainMenus& menus, QHeaderView& header);

    void navigate() const;
    // An EntryModel::Column of the selected entry onto the clipboard.
    void copy(int column) const;
    void revealUserName() const;
    void revealPassword() const;
    void loadEnterItemsBoxes() const;
    // The page title of this row into the open Enter Items window.
    void showTitle(int row) const;

private:
    const Entry* selected() const;
    QString password(const Entry& entry) const;

    MainWindow& m_window;
    const AddressOpener& m_opener;
    EnterItemsLink& m_enterItems;
    QLabel& m_revealBox;
};
