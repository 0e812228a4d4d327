#include "AddressOpener.h"

#include "startup/AppState.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace {
// Beside each other in the directory above the program's; the ".exe" names are those of an
// installation carried over from Windows.
const QStringList kCompanionBrowsers = {
    QStringLiteral("Vantoro/Vantoro"), QStringLiteral("Vantoro/Vantoro.exe"),
    QStringLiteral("Olvimar2/Olvimar2"), QStringLiteral("Olvimar2/Olvimar2.exe")};
} // namespace

AddressOpener::Launcher AddressOpener::systemLauncher()
{
    return {[](const QString& program, const QStringList& arguments) {
                // One argument, never parsed by a shell.
                return QProcess::startDetached(program, arguments);
            },
            [](const QUrl& url) {
                return QDesktopServices::openUrl(url);
            }};
}

AddressOpener::AddressOpener(const DataPaths& paths)
    : m_paths(paths)
    , m_launcher(systemLauncher())
{
}

QStringList AddressOpener::companionBrowsers() const
{
    const QString programDirectory = QDir::cleanPath(m_paths.programDirectory);
    const qsizetype slash = programDirectory.lastIndexOf(u'/');
    if (m_paths.programDirectory.isEmpty() || slash < 0)
        return {};
    const QString parent = programDirectory.left(slash);
    QStringList found;
    for (const QString& name : kCompanionBrowsers) {
        const QFileInfo browser(parent + u'/' + name);
        if (browser.isFile() && browser.isExecutable())
            found << browser.filePath();
    }
    return found;
}

void AddressOpener::open(const QString& target) const
{
    openWith(target, QUrl::fromUserInput(target));
}

void AddressOpener::openFile(const QString& path) const
{
    openWith(path, QUrl::fromLocalFile(path));
}

void AddressOpener::openWith(const QString& companionArgument, const QUrl& url) const
{
    // A companion that fails to start hands on to the next, and the last to the desktop, so that
    // a broken installation still opens the address somewhere.
    for (const QString& browser : companionBrowsers()) {
        if (m_launcher.startProgram(browser, {companionArgument}))
            return;
    }
    m_launcher.openUrl(url);
}
