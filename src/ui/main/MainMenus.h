#pragma once

#include <QMenu>

// The main window's two pop-up menus: the list menu and the application menu. Each entry is
// a QAction named after its menu entry, so that callers find it with action(name).
class MainMenus {
public:
    explicit MainMenus(QWidget* parent);

    QMenu* listMenu() const { return m_list; }
    QMenu* appMenu() const { return m_app; }

    // The entry of either menu with this object name; never null for a known name.
    QAction* action(const char* name) const;

private:
    QMenu* m_list;
    QMenu* m_app;
};
