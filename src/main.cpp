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
#include <QWindow>

#include <csignal>

namespace {
// The cipher's own failures use a plain box of their own.
void showCipherError(const QString& text)
{
    Artwork::useProgramIcon();
    QMessageBox::information(QApplication::activeWindow(), kProgramTitle, text);
}

// Gives the window its icon once its first frame is out: the window system gets it a moment
// later, and the locked window shows without waiting for six sizes to be painted.
class IconAfterFirstFrame : public QObject {
public:
    explicit IconAfterFirstFrame(QWindow* window) { window->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose && static_cast<QWindow*>(watched)->isExposed()) {
            watched->removeEventFilter(this);
            // Queued: the first expose paints the window and sends the frame before it returns.
            QMetaObject::invokeMethod(this, &Artwork::useProgramIcon, Qt::QueuedConnection);
        }
        return false;
    }
};
} // namespace

int main(int argc, char* argv[])
{
    // A file-size limit makes a write fail with EFBIG, reported and undone like any other write
    // failure, instead of ending the program part-way through a record.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName(kProgramTitle);
    QApplication::setApplicationVersion(QStringLiteral(QUILLOR_VERSION));
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
    IconAfterFirstFrame icon(window.windowHandle());
    return app.exec();
}
