#pragma once

#include "DirectoryChooser.h"

#include <QWidget>

class FocusMarker;
class MainWindow;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
struct AppState;

// Form4: the Option Settings window, which is also the About box. In settings mode every change
// is held as a pending value until "Exit && Save"; every other way of closing drops the changes,
// after a question when one that matters is pending. One window at a time, owned by the main
// window; it exists only while shown and deletes itself when closed.
class OptionsWindow : public QWidget {
    Q_OBJECT
public:
    enum class Mode { Settings, About };

    OptionsWindow(AppState& state, MainWindow& mainWindow, Mode mode, DirectoryChooser chooser);
    ~OptionsWindow() override;

    Mode mode() const { return m_mode; }
    void setDirectoryChooser(DirectoryChooser chooser) { m_chooseDirectory = std::move(chooser); }
    void F4ToolT();

    // Command3, "Exit && Save".
    void exitAndSave();
    // Command4, "Back-Up Dir".
    void chooseBackUpDirectory();

    // Closing now would drop a change the user is asked about.
    bool changePending() const;
    const QString& pendingBackUpDirectory() const { return m_backUpDirectory; }
    // The main window is closing: the settings are written already, so nothing is asked.
    void closeWithoutAsking();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void createAboutPanel();
    void load();
    void applyBackUpDirectory();
    void removeOldPair(const QString& directory);
    void showBackUpDirectory(const QString& directory);
    qint16 message(qint16 kind, const QString& text, qint16 number = 0);

    AppState& m_state;
    MainWindow& m_main;
    const Mode m_mode;
    DirectoryChooser m_chooseDirectory;

    // Pending values, written back by "Exit && Save".
    qint16 m_noTips = 0;
    qint16 m_hideUserNames = 0;
    qint16 m_autoEnter = 0;
    QString m_backUpDirectory;

    QPushButton* m_cancelButton = nullptr;     // Command2
    QPushButton* m_saveButton = nullptr;       // Command3
    QGroupBox* m_settingsFrame = nullptr;      // Frame3
    QCheckBox* m_noTipsBox = nullptr;          // Check2
    QCheckBox* m_deleteConfirmBox = nullptr;   // Check3, never shown
    QCheckBox* m_hideUserNamesBox = nullptr;   // Check4
    QCheckBox* m_autoEnterBox = nullptr;       // Check5
    QCheckBox* m_reEnableBox = nullptr;        // Check6
    QCheckBox* m_backUpBox = nullptr;          // Check1
    QWidget* m_backUpPanel = nullptr;          // Picture2
    QPushButton* m_backUpButton = nullptr;     // Command4
    QLineEdit* m_backUpDirectoryBox = nullptr; // Text1
    FocusMarker* m_focusMarker = nullptr;      // Picture9
    QGroupBox* m_cipherFrame = nullptr;        // Frame1
    QLabel* m_cipherLabel = nullptr;           // Label1
    QLabel* m_picture = nullptr;               // Image2
    QFrame* m_aboutPanel = nullptr;            // Frame2
    QLabel* m_versionLabel = nullptr;          // Label6

    bool m_firstActivationDone = false;
    bool m_closeWithoutQuestion = false;
};
