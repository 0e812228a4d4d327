#pragma once

#include <QWidget>

class MainWindow;
struct AppState;

// Form2, "Quillor - Enter Items": one entry typed, then added to the list or put in place of
// the selected one. One window at a time; it exists only while shown.
class EnterItemsWindow : public QWidget {
    Q_OBJECT
public:
    EnterItemsWindow(AppState& state, MainWindow& mainWindow);
    ~EnterItemsWindow() override;

    // The four boxes, as the main window's "Load ... With Selected Items" fills them.
    void loadBoxes(const QString& title, const QString& userName, const QString& password,
                   const QString& url);
    // Text9: the title of the entry selected in the main window.
    void setSelectedTitle(const QString& title);
    // Reapply the list font and the tool tips after they changed.
    void TxtFonts2();
    void F2ToolT();
};
