#pragma once

#include <QObject>

#include <vector>

class Entry;
class MainMenus;
class MainWindow;

// The list menu's moves and delete. Each writes the link file anew from the changed list and
// changes the list only once the file is written, so the two never disagree: a failed write
// leaves both as they were.
class ListEditCommands : public QObject {
    Q_OBJECT
public:
    explicit ListEditCommands(MainWindow& window);

    void connectTo(const MainMenus& menus);

    enum class Move { Up, Down, ToTop, ToBottom };
    // The selected entry, when the move can take it anywhere.
    void move(Move move);
    // Every selected entry, after the delete question.
    void deleteSelected();

private:
    bool save(const std::vector<const Entry*>& entries);

    MainWindow& m_window;
};
