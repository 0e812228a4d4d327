#pragma once

#include <QPointer>
#include <QString>

class EnterItemsWindow;
class MainWindow;
struct AppState;

// The main window's hold on the Enter Items window, which exists only while it is shown and
// deletes itself when closed.
class EnterItemsLink {
public:
    EnterItemsLink(AppState& state, MainWindow& mainWindow);

    // The open window, or null.
    EnterItemsWindow* window() const;

    // Brings the open window to the front, or creates it with the focus in its URL box.
    void open();
    // The open window, created and shown first when there is none; the focus stays where it is.
    EnterItemsWindow* ensureOpen();

    // These do nothing while the window is closed.
    void showSelectedTitle(const QString& title);
    void applyFonts();
    void close();

private:
    EnterItemsWindow* create();

    AppState& m_state;
    MainWindow& m_mainWindow;
    QPointer<EnterItemsWindow> m_window;
};
