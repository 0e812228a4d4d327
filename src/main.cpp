#include "startup/AppState.h"
#include "startup/Startup.h"
#include "ui/placeholder/PlaceholderWindow.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLockFile>
#include <QMessageBox>

namespace {
void showPlainMessage(const QString& text)
{
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox::information(nullptr, kProgramTitle, shown);
}
} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(kProgramTitle);
    QApplication::setApplicationVersion(QStringLiteral(QUILLOR_VERSION));

    AppState state;
    state.cipher.setErrorReporter(showPlainMessage);

    StartupEnvironment env = StartupEnvironment::current(QApplication::applicationDirPath());
    env.installedShareDirectory = QStringLiteral(QUILLOR_SHARE_DIR);
    env.fontFamilies = QFontDatabase::families();
    env.generalFontFamily = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();

    const StartupOutcome started = runStartup(env, state);
    if (started.status != StartupOutcome::Status::Started) {
        showPlainMessage(started.message);
        return started.status == StartupOutcome::Status::AlreadyRunning ? 0 : 1;
    }

    PlaceholderWindow window(state);
    window.show();
    return app.exec();
}
