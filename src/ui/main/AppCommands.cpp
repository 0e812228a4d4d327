#include "AppCommands.h"

#include "AddressOpener.h"
#include "MainMenus.h"
#include "MainWindow.h"
#include "startup/AppState.h"
#include "startup/Startup.h"
#include "ui/DesignFont.h"

#include <QFontDialog>

namespace {
// Larger fonts do not fit the list's rows and the Enter Items boxes.
constexpr float kLargestFontSize = 12.25f;
constexpr float kCappedFontSize = 12.0f;
constexpr float kDialogDefaultSize = 9.0f;
const QString kDialogDefaultName = QStringLiteral("Arial");
} // namespace

AppCommands::AppCommands(MainWindow& window, const AddressOpener& opener)
    : QObject(&window)
    , m_window(window)
    , m_opener(opener)
    , m_chooseFont([&window](const QFont& current) -> std::optional<QFont> {
        bool ok = false;
        const QFont chosen = QFontDialog::getFont(&ok, current, &window);
        return ok ? std::optional<QFont>(chosen) : std::nullopt;
    })
    , m_chooseDirectory(systemDirectoryChooser())
{
}

void AppCommands::connectTo(const MainMenus& menus)
{
    const auto wire = [&](const char* name, auto command) {
        QAction* action = menus.action(name);
        action->setEnabled(true);
        connect(action, &QAction::triggered, this, command);
    };
    wire("mnu1Font", [this] { chooseTextFont(); });
    wire("mnu1EnterItems", [this] { m_window.openEnterItemsWindow(); });
    wire("mnu1QuilUpdates", [this] { openUpdatePage(); });
    wire("mnu1Help", [this] { openHelp(); });
    wire("mnu1ApSettings", [this] { openOptionsWindow(OptionsWindow::Mode::Settings); });
    wire("mnu1About", [this] { openOptionsWindow(OptionsWindow::Mode::About); });
}

void AppCommands::openOptionsWindow(OptionsWindow::Mode mode)
{
    if (OptionsWindow* open = m_options.data()) {
        if (open->isMinimized())
            open->showNormal();
        open->raise();
        open->activateWindow();
        return;
    }
    AppState& state = m_window.state();
    state.aboutMode = mode == OptionsWindow::Mode::About;
    m_options = new OptionsWindow(state, m_window, mode, m_chooseDirectory);
    // Centred over the main window.
    m_options->move(m_window.geometry().center() - m_options->rect().center());
    m_options->show();
    m_options->activateWindow();
}

void AppCommands::setDirectoryChooser(DirectoryChooser chooser)
{
    m_chooseDirectory = std::move(chooser);
    if (OptionsWindow* open = m_options.data())
        open->setDirectoryChooser(m_chooseDirectory);
}

void AppCommands::closeOptionsWindow()
{
    if (OptionsWindow* open = m_options.data())
        open->closeWithoutAsking();
}

QFont AppCommands::fontDialogStart(const Settings& settings)
{
    QFont font(settings.fontName.isEmpty() ? kDialogDefaultName : settings.fontName);
    font.setBold(settings.fontBold);
    font.setPointSizeF(settings.fontSize != 0 ? double(settings.fontSize) : kDialogDefaultSize);
    return font;
}

void AppCommands::storeChosenFont(Settings& settings, const QFont& font)
{
    settings.fontName = familyName(font);
    settings.fontBold = font.bold();
    float size = float(font.pointSizeF());
    if (!(size > 0)) // a font sized in pixels has no point size
        size = kDialogDefaultSize;
    settings.fontSize = size > kLargestFontSize ? kCappedFontSize : size;
}

void AppCommands::chooseTextFont()
{
    Settings& settings = m_window.state().settings;
    const QFont start = fontDialogStart(settings);
    // A cancelled dialog gives back what it was given.
    storeChosenFont(settings, m_chooseFont(start).value_or(start));
    m_window.TxtFonts();
}

void AppCommands::openHelp() const
{
    m_opener.openFile(m_window.state().paths.programDirectory + u'/' + kHelpFile);
}

QString AppCommands::updatePageAddress(const QString& programDirectory)
{
    return programDirectory + u'/' + kProgramTitle + QStringLiteral("-Updates.htm");
}

void AppCommands::openUpdatePage() const
{
    m_opener.openFile(updatePageAddress(m_window.state().paths.programDirectory));
}
