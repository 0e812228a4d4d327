#pragma once

#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

class MainMenus;
class MainWindow;
class QWidget;

// Asks for a file, starting in start; nothing when the user cancels. Tests put a scripted
// choice here in place of the dialog.
using FileChooser = std::function<std::optional<QString>(QWidget* parent, const QString& start)>;
// Asks for a password, the prompt said; nothing when the user cancels. Tests script it.
using PasswordAsker = std::function<std::optional<QString>(QWidget* parent, const QString& prompt)>;

// Another version of the list taken into ours: the conflict copies a sync program kept, offered
// at unlock, and any other link file through the application menu.
class MergeCommands : public QObject {
    Q_OBJECT
public:
    explicit MergeCommands(MainWindow& window);

    void connectTo(const MainMenus& menus);
    void setFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }
    void setPasswordAsker(PasswordAsker asker) { m_askPassword = std::move(asker); }

    // Asks, for each conflict copy of the link file in the data directory that the user has not
    // declined since the window opened, whether to merge it, and merges it when told to.
    void offerConflictCopies();
    // "&Merge Another Version Of The List": a link file chosen, then merged.
    void chooseAndMerge();
    // Merges the version at path into the list and reloads it; false when nothing was merged.
    bool mergeFrom(const QString& path);

private:
    MainWindow& m_window;
    FileChooser m_chooseFile;
    PasswordAsker m_askPassword;
    QSet<QString> m_declined;
    bool m_offering = false; // a question is open: the watcher may notice the folder again
};
