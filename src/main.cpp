#include "startup/AppState.h"
#include "startup/Startup.h"
#include "ui/Artwork.h"
#include "ui/UnixSignals.h"
#include "ui/main/MainWindow.h"
#include "ui/message/ShowMessage.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLockFile>
#include <QMessageBox>

#include <csignal>

namespace {
// The cipher's own failures use a plain box of their own.
void showCipherError(const QString& text)
{
    QMessageBox::information(QApplication::activeWindow(), kProgramTitle, text);
}
} // namespace

int main(int argc, char* argv[])
{
    // A file-size limit makes a write fail with EFBIG, reported and undone like any other write
    // failure, instead of ending the program part-way through a record.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName(kProgramTitle);
    QApplication::setApplicationVersion(QStringLiteral(QUILLOR_VERSION));
    QApplication::setWindowIcon(Artwork::programIcon());
    QApplication::setDesktopFileName(QStringLiteral("quillor"));

    AppState state;
    state.cipher.setErrorReporter(showCipherError);

    StartupEnvironment env = StartupEnvironment::current(QApplication::applicationDirPath());
    env.installedShareDirectory = QStringLiteral(QUILLOR_SHARE_DIR);
    env.fontFamilies = QFontDatabase::families();
    env.generalFontFamily = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();

    const StartupOutcome started = runStartup(env, state);
    if (started.status != StartupOutcome::Status::Started) {
        ShowMessage(state.settings, MessageKind::Ok, started.message, 0);
        return started.status == StartupOutcome::Status::AlreadyRunning ? 0 : 1;
    }

    MainWindow window(state);
    UnixSignals unixSignals;
    QObject::connect(&unixSignals, &UnixSignals::terminationRequested, &window, &QWidget::close);
    window.show();
    return app.exec();
}
