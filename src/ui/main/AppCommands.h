#pragma once

#include "ui/options/DirectoryChooser.h"
#include "ui/options/OptionsWindow.h"

#include <QFont>
#include <QObject>
#include <QPointer>

#include <functional>
#include <optional>

class AddressOpener;
class MainMenus;
class MainWindow;
struct Settings;

// Asks for a font, starting from the given one; nothing when the user cancels. Tests put a
// scripted choice here in place of the font dialog.
using FontChooser = std::function<std::optional<QFont>(const QFont& current)>;

// The commands of the application menu that need no window of their own beyond the Enter Items
// and the Option Settings ones; the back-up commands are BackUpCommands.
class AppCommands : public QObject {
    Q_OBJECT
public:
    static inline const QString kHelpFile = QStringLiteral("QuillorHelp.htm");

    AppCommands(MainWindow& window, const AddressOpener& opener);

    void connectTo(const MainMenus& menus);
    void setFontChooser(FontChooser chooser) { m_chooseFont = std::move(chooser); }
    // For the back-up directory row of the Option Settings window, open or opened later.
    void setDirectoryChooser(DirectoryChooser chooser);

    // "&Text Fonts": the font dialog, then the chosen font on the list.
    void chooseTextFont();
    void openHelp() const;
    void openUpdatePage() const;
    // "&Option Settings" and "&About": the Option Settings window in that mode, unless it is
    // open already, in either mode; then it comes to the front as it is.
    void openOptionsWindow(OptionsWindow::Mode mode);
    // The open window, or null.
    OptionsWindow* optionsWindow() const { return m_options.data(); }
    // The main window is closing.
    void closeOptionsWindow();

    // The updates page installed beside the help page, in the program directory.
    static QString updatePageAddress(const QString& programDirectory);
    // The font the dialog opens with; storing a choice caps its size at 12 points.
    static QFont fontDialogStart(const Settings& settings);
    static void storeChosenFont(Settings& settings, const QFont& font);

private:
    MainWindow& m_window;
    const AddressOpener& m_opener;
    FontChooser m_chooseFont;
    DirectoryChooser m_chooseDirectory;
    QPointer<OptionsWindow> m_options;
};
