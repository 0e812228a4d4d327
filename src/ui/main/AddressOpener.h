#pragma once

#include <QStringList>
#include <QUrl>

#include <functional>

struct DataPaths;

// Opens addresses for the list and the application menu: in a companion browser when one is
// installed in the directory above the program's, else with the desktop's handler. Failures are
// not reported; there is nothing the user could do about a browser that does not start.
class AddressOpener {
public:
    // How a program is started and a URL handed to the desktop; tests record instead.
    struct Launcher {
        std::function<bool(const QString& program, const QStringList& arguments)> startProgram;
        std::function<bool(const QUrl& url)> openUrl;
    };
    static Launcher systemLauncher();

    explicit AddressOpener(const DataPaths& paths);

    void setLauncher(Launcher launcher) { m_launcher = std::move(launcher); }

    // The companion browsers present, in the order they are tried.
    QStringList companionBrowsers() const;

    // A web address as the user typed it.
    void open(const QString& target) const;
    // A page beside the program: a companion browser gets the path itself.
    void openFile(const QString& path) const;

private:
    void openWith(const QString& companionArgument, const QUrl& url) const;

    const DataPaths& m_paths;
    Launcher m_launcher;
};
