#pragma once

#include <QFont>
#include <QObject>

#include <functional>
#include <optional>

class AddressOpener;
class MainMenus;
class MainWindow;
struct Settings;

// Asks for a font, starting from the given one; nothing when the user cancels. Tests put a
// scripted choice here in place of the font dialog.
using FontChooser = std::function<std::optional<QFont>(const QFont& current)>;

// The commands of the application menu that need no other window than the Enter Items one.
class AppCommands : public QObject {
    Q_OBJECT
public:
    static inline const QString kHelpFile = QStringLiteral("QuillorHelp.htm");

    AppCommands(MainWindow& window, const AddressOpener& opener);

    void connectTo(const MainMenus& menus);
    void setFontChooser(FontChooser chooser) { m_chooseFont = std::move(chooser); }

    // "&Text Fonts": the font dialog, then the chosen font on the list.
    void chooseTextFont();
    void openHelp() const;
    void openUpdatePage() const;

    // The updates page installed beside the help page, in the program directory.
    static QString updatePageAddress(const QString& programDirectory);
    // The font the dialog opens with; storing a choice caps its size at 12 points.
    static QFont fontDialogStart(const Settings& settings);
    static void storeChosenFont(Settings& settings, const QFont& font);

private:
    MainWindow& m_window;
    const AddressOpener& m_opener;
    FontChooser m_chooseFont;
};
