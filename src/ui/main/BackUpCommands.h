#pragma once

#include <QObject>

#include <array>
#include <sys/types.h>
#include <utility>

class MainMenus;
class MainWindow;
class QAction;

// "Back-Up Your Links Files", "Restore w/ Back-Up Files" and "Undo Previous Restore". The undo
// entry shows while UnDo holds the pair that a restore replaced, also from an earlier run.
class BackUpCommands : public QObject {
    Q_OBJECT
public:
    explicit BackUpCommands(MainWindow& window);

    void connectTo(const MainMenus& menus);

    void backUp();
    void restore();
    void undo();

private:
    bool asked(const QString& question, qint16 number);
    void tell(const QString& text, qint16 number);
    bool showReplacedPair();
    void offerUndoWhileKept();

    MainWindow& m_window;
    QAction* m_undoEntry = nullptr;
};
