// Typing in the find bar over a list of 10,000 typical entries: for each key, the time from the
// key press to the list's next finished paint, against one frame at 60 Hz. The keys narrow the
// list step by step and widen it back to every entry, the costliest case. Runs on the offscreen
// platform unless told otherwise; exits non-zero only when a key could not be measured.

#include "LinkFileBuilder.h"
#include "PaintWatcher.h"
#include "startup/AppState.h"
#include "startup/Startup.h"
#include "store/LinkFile.h"
#include "store/MasterPasswordFile.h"
#include "ui/main/EntryListView.h"
#include "ui/main/MainWindow.h"
#include "ui/message/ShowMessage.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kEntries = 10'000;
const QByteArray kPassword = QByteArrayLiteral("Pomelo");
constexpr int kRounds = 5;
constexpr int kPaintTimeoutMs = 10'000;
constexpr double kFrameMs = 1000.0 / 60;

// Sends the key to the widget and waits for `painted` to be painted; the milliseconds, or a
// negative number when no paint came.
double keyToPaint(QWidget* target, QWidget* painted, int key, const QString& text)
{
    QEventLoop loop;
    PaintWatcher watcher(painted, loop);
    QTimer::singleShot(kPaintTimeoutMs, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &release);
    // A key that leaves the same rows shown repaints nothing by itself; it is counted as if it
    // did, so every key pays for one paint.
    painted->update();
    if (!watcher.painted())
        loop.exec();
    return watcher.painted() ? double(clock.nsecsElapsed()) / 1e6 : -1;
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    (void)argc;

    QTemporaryDir profile(QDir::tempPath() + QStringLiteral("/quillor-find-bench-XXXXXX"));
    if (!profile.isValid()) {
        std::fprintf(stderr, "cannot make a temporary directory\n");
        return 1;
    }
    StartupEnvironment env = StartupEnvironment::current(QStringLiteral(QUILLOR_BUILD_DIR));
    env.profileDirectory = profile.path();
    env.fontFamilies = QFontDatabase::families();
    env.generalFontFamily = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    const QString dataDirectory = dataDirectoryFor(profile.path());
    // The pair whole: start-up sets no default password beside a link file without its own.
    CipherService cipher;
    if (!QDir().mkpath(dataDirectory) ||
        !BenchData::makeTypicalLinkFile(dataDirectory + u'/' + DataPaths::kLinkFile, kEntries,
                                        kPassword) ||
        !MasterPasswordFile::create(dataDirectory + u'/' + DataPaths::kMasterPasswordFile,
                                    kPassword, cipher))
        return 1;

    ScriptedAnswers messages; // a message would otherwise wait for a person
    AppState state;
    if (const StartupOutcome started = runStartup(env, state);
        started.status != StartupOutcome::Status::Started) {
        std::fprintf(stderr, "find bar: %s\n", qPrintable(started.message));
        return 1;
    }
    MainWindow window(state);
    window.show();
    window.findChild<QLineEdit*>(QStringLiteral("Text4"))->setText(QString::fromLatin1(kPassword));
    window.enterPassword();
    auto* list = window.findChild<EntryListView*>(QStringLiteral("ListView1"));
    auto* findBar = window.findChild<QLineEdit*>(QStringLiteral("FindBar"));
    if (!window.isUnlocked() || window.model().rowCount() != kEntries || !list || !findBar) {
        std::fprintf(stderr, "find bar: the list was not unlocked whole\n");
        return 1;
    }
    window.openFindBar();
    QCoreApplication::processEvents();

    // Narrowing to about one entry in a hundred, then back to every entry.
    const QString typed = QStringLiteral("user.42");
    std::vector<double> ms;
    for (int round = 0; round < kRounds; ++round) {
        for (QChar c : typed)
            ms.push_back(keyToPaint(findBar, list->viewport(), c.unicode(), QString(c)));
        for (qsizetype i = 0; i < typed.size(); ++i)
            ms.push_back(keyToPaint(findBar, list->viewport(), Qt::Key_Backspace, QString()));
    }
    if (std::any_of(ms.begin(), ms.end(), [](double t) { return t < 0; }) ||
        !messages.shown().isEmpty() || list->model()->rowCount() != kEntries) {
        std::printf("find bar, key to painted list at %d entries: not measured\n", kEntries);
        return 1;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("find bar, key to painted list at %d entries: median %.1f ms, max %.1f ms"
                " (target <= one frame, %.1f ms)  [%zu keys]\n",
                kEntries, ms[ms.size() / 2], ms.back(), kFrameMs, ms.size());
    return 0;
}
