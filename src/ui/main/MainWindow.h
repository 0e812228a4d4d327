#pragma once

#include "AddressOpener.h"
#include "MainLayout.h"
#include "store/EntryModel.h"
#include "store/FileIdentity.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class AppCommands;
class BackUpCommands;
class ClipboardGuard;
class EnterItemsLink;
class EnterItemsWindow;
class EntryFilter;
class EntryListView;
class ListCommands;
class ListEditCommands;
class PairWatch;
class PasswordCommands;
class FocusMarker;
class MainMenus;
class MergeCommands;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
struct AppState;

// Form11: the list window. It opens locked behind the password panel and the cover; the
// master password unlocks it and shows the decrypted list.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    explicit MainWindow(AppState& state, QWidget* parent = nullptr);
    ~MainWindow() override;

    AppState& state() { return m_state; }
    bool isUnlocked() const { return m_unlocked; }
    // The list's current row when it is selected, or -1; selecting a row makes it current.
    // Rows are the model's, record i of the file, also while the find bar narrows the list.
    int currentRow() const;
    // A row the find text hides is shown by emptying the find text.
    void selectRow(int row);
    // After rows went: the first row shown at or after this one, else the last shown.
    void selectRowNear(int row);
    int badPasswordCount() const { return m_badPasswordCount; }
    EntryModel& model() { return m_model; }
    MainMenus& menus() { return *m_menus; }
    ClipboardGuard& clipboard() { return *m_clipboard; }
    AddressOpener& addressOpener() { return m_opener; }
    AppCommands& appCommands() { return *m_appCommands; }
    MergeCommands& mergeCommands() { return *m_mergeCommands; }

    // The Enter Items window: brought to the front when open, else created.
    void openEnterItemsWindow();
    // The open Enter Items window, or null.
    EnterItemsWindow* enterItemsWindow() const;

    // The lowest key number no entry carries.
    int GetLowLV2KeyNum() const { return m_model.GetLowLV2KeyNum(); }

    // Sets or empties the tool tips after the no-tips setting changed.
    void F11ToolT();
    // Applies the saved list font, here and in the Enter Items window.
    void TxtFonts();

    // "Enter": checks the typed password and unlocks.
    void enterPassword();
    // When the sync program kept another version of the list beside ours, says so and offers to
    // merge it; at unlock, and whenever a copy appears while the window is unlocked.
    void offerConflictCopies();

    qint16 message(qint16 kind, const QString& text, qint16 number = 0);
    // The password box's text, trimmed, as the files hold it; a character they cannot hold is
    // reported and gives nullopt.
    std::optional<QByteArray> typedPassword();
    // Counts a wrong password and reports it with text, whose %1 is the count; the window
    // closes at the fifth.
    void badPassword(const QString& text);
    void showPasswordFileUnreadable(const QString& failure);

    // The list read from the link file anew.
    void reloadList();
    // The password panel and the cover hidden: the list shows.
    void showUnlocked();
    // The opposite, after the pair on disk changed to one the password in memory does not open:
    // the list emptied, the password forgotten, the panel and the cover shown.
    void showLocked();
    // After a pair operation that failed once its switch was decided: the switch finished, and
    // the user told that the change is made but may not outlast a power cut. False when the
    // data directory could not be settled; the window is locked then, as its pair may be half
    // switched until the next start finishes it.
    bool finishMadeUnsure(const QString& failure);
    static QString madeUnsureText(const QString& failure);
    // The selected rows, ascending.
    std::vector<int> selectedRows() const;

    // Ctrl+F: the bar under the list whose text narrows the rows shown. Closing it shows them
    // all again, the selected entry still selected.
    void openFindBar();
    void closeFindBar();

    // Row i is record i only while the list holds every record of the file; after a load that
    // stopped at a damaged record, a write from the list would drop the records after it. Says
    // so and gives false then.
    bool refuseUnlessListMatchesFile();
    bool listMatchesFile() const;
    void showListDoesNotMatchFile(const QString& failure);

    // Before a write from the list: when the pair on disk is no longer the one the list was
    // read from (another machine's change the watch has not brought in yet), nothing may be
    // written; the list is loaded again, the user told to repeat the command on what it now
    // shows, and false given.
    bool refuseIfChangedOnDisk();
    // After a write of ours: the pair now on disk is the one the list shows, not another's. A
    // change another program makes in the instant between our write and this look is taken
    // for ours; the writers' own look just before their rename is what narrows that.
    void rememberOwnWrite();
    // The pair the list was read from, for a writer to pass to the store, which looks again just
    // before its rename: a change made after refuseIfChangedOnDisk looked is caught there.
    PairIdentity expectedPair();
    // A write the store refused because the pair is no longer that one: nothing was written, and
    // the user is told what refuseIfChangedOnDisk tells.
    void showChangedOnDisk();
    // Runs just before a writer calls the store, between the window's look and the store's;
    // tests change the files there.
    void aboutToWrite()
    {
        if (m_beforeWriteForTest)
            m_beforeWriteForTest();
    }
    void setBeforeWriteForTest(std::function<void()> hook) { m_beforeWriteForTest = std::move(hook); }
    PairWatch& pairWatch() { return *m_pairWatch; }

Q_SIGNALS:
    // A name other than the pair's came or went in the data directory while the window is open:
    // where a sync program's conflict copy is to be offered.
    void dataDirectoryChanged();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void addShortcuts();
    void findTextChanged(const QString& text);
    void applyColumnWidths();
    void applyPlacement();
    void applyOnTop();
    void firstActivation();
    void relayout();
    void savePlacement();
    void saveColumnWidths();
    void toggleCover();
    void uncoverIfUnlocked();
    void showListMenu(const QPoint& globalPos);
    void listClicked();
    void listDoubleClicked();
    void showAppMenu();
    void showUndoRestoreButton();
    bool keyPressed(QObject* watched, QKeyEvent* event);
    void followOutsideChange();
    void followChange();
    void reloadKeepingPlace();
    void showDiskNote();
    void hideDiskNote();

    AppState& m_state;
    EntryModel m_model;
    EntryFilter* m_filter = nullptr;
    std::unique_ptr<MainMenus> m_menus;
    ClipboardGuard* m_clipboard = nullptr;
    AddressOpener m_opener;
    std::unique_ptr<EnterItemsLink> m_enterItems;
    ListCommands* m_listCommands = nullptr;
    ListEditCommands* m_listEditCommands = nullptr;
    PasswordCommands* m_passwordCommands = nullptr;
    AppCommands* m_appCommands = nullptr;
    BackUpCommands* m_backUpCommands = nullptr;
    MergeCommands* m_mergeCommands = nullptr;

    QPushButton* m_menuButton = nullptr;       // Command6
    QLabel* m_smallLogo = nullptr;             // Image3
    QPushButton* m_enterItemsButton = nullptr; // Command7
    EntryListView* m_list = nullptr;           // ListView1
    QLineEdit* m_findBar = nullptr;
    QLabel* m_passwordPanel = nullptr;             // Picture1
    QLabel* m_prompt = nullptr;                    // Image2
    QPushButton* m_enterButton = nullptr;          // Command3
    QLineEdit* m_passwordBox = nullptr;            // Text4
    QPushButton* m_changePasswordButton = nullptr; // Command4
    QPushButton* m_deletePasswordButton = nullptr; // Command5
    QLabel* m_versionLabel = nullptr;              // Label6
    QWidget* m_cover = nullptr;                    // Picture2
    QLabel* m_coverLogo = nullptr;                 // Image4
    QPushButton* m_undoRestoreButton = nullptr;
    QCheckBox* m_onTopBox = nullptr;               // Check2
    QCheckBox* m_oneClickBox = nullptr;            // Check1
    QLabel* m_revealBox = nullptr;                 // Label4
    FocusMarker* m_focusMarker = nullptr;          // Picture9

    // One line under the list: the list followed its file.
    QLabel* m_diskNote = nullptr;
    QTimer* m_diskNoteTimer = nullptr;
    PairWatch* m_pairWatch = nullptr;
    std::function<void()> m_beforeWriteForTest;

    bool m_firstActivationDone = false;
    bool m_skipNextClick = false;
    bool m_unlocked = false;
    QString m_loadFailure; // why the last load stopped early, if it did
    bool m_closing = false;
    qint16 m_badPasswordCount = 0;
};
