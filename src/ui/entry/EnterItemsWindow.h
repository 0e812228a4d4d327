#pragma once

#include <QWidget>

#include <optional>

class FocusMarker;
class MainWindow;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
struct AppState;

// Form2, "Quillor - Enter Items": one entry typed, then added to the list or put in place of
// the selected one. One window at a time; it exists only while shown and deletes itself when
// closed. It is a window of its own, owned by the main window, which it never outlives.
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

    // The buttons' commands: "Load Boxes", "Clear Boxes", "== Add New Items ==",
    // "== Replace Selected Items ==".
    void loadSelectedEntry();
    void clearBoxes();
    void addItems();
    void replaceItems();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Items;     // as typed
    struct ItemBytes; // as stored: Windows-1252

    void createControls();
    void applyOnTop();
    void firstActivation();
    void trimBoxes();
    Items trimmedItems() const;
    std::optional<ItemBytes> storable(const Items& items);
    enum class Stored { Done, Failed, ChangedOnDisk };
    Stored addEntry(const ItemBytes& bytes);
    Stored replaceEntry(int row, const ItemBytes& bytes);
    void closeUnlessKeptOpen();
    bool confirmed(const QString& question, qint16 number, const Items& items);
    qint16 message(qint16 kind, const QString& text, qint16 number = 0);

    AppState& m_state;
    MainWindow& m_main;

    QLabel* m_banner = nullptr;              // Image3
    QGroupBox* m_frame = nullptr;            // Frame1
    QLabel* m_labels[4] = {};                // Label1(0) .. Label1(3)
    QLineEdit* m_titleBox = nullptr;         // Text1
    QLineEdit* m_userNameBox = nullptr;      // Text2
    QLineEdit* m_passwordBox = nullptr;      // Text3
    QLineEdit* m_urlBox = nullptr;           // Text5
    QWidget* m_boxButtons = nullptr;         // Picture1
    QPushButton* m_loadButton = nullptr;     // Command8
    QPushButton* m_clearButton = nullptr;    // Command9
    QPushButton* m_addButton = nullptr;      // Command1
    QPushButton* m_replaceButton = nullptr;  // Command2
    QCheckBox* m_keepOpenBox = nullptr;      // Check3
    QCheckBox* m_onTopBox = nullptr;         // Check4
    QLineEdit* m_selectedTitleBox = nullptr; // Text9
    FocusMarker* m_focusMarker = nullptr;    // Picture4

    bool m_firstActivationDone = false;
};
