// Unlocking a list of 10,000 typical entries in the window, from "Enter" with the right password
// to the list's first paint, against the core loading the same link file into a model. Their
// ratio is what the window adds to the load. Runs on the offscreen platform unless told otherwise.

#include "BenchSupport.h"
#include "LinkFileBuilder.h"
#include "PaintWatcher.h"
#include "startup/AppState.h"
#include "startup/Startup.h"
#include "store/EntryModel.h"
#include "store/LinkFile.h"
#include "ui/main/MainWindow.h"
#include "ui/message/ShowMessage.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFontDatabase>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <benchmark/benchmark.h>
#include <cstdio>

namespace {

constexpr int kEntries = 10'000;
// The password of the default master password file laid beside the program.
const QByteArray kPassword = QByteArrayLiteral("Pomelo");
constexpr int kRepetitions = 7;
constexpr int kUnlocksPerRepetition = 3;
constexpr int kPaintTimeoutMs = 10'000;

StartupEnvironment g_env;
QString g_linkFile;

bool runUntilPainted(QWidget* widget)
{
    QEventLoop loop;
    PaintWatcher watcher(widget, loop);
    QTimer::singleShot(kPaintTimeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return watcher.painted();
}

void BM_UnlockToPaintedList(benchmark::State& state)
{
    ScriptedAnswers messages; // a message would otherwise wait for a person
    for (auto _ : state) {
        AppState app;
        const StartupOutcome started = runStartup(g_env, app);
        if (started.status != StartupOutcome::Status::Started) {
            state.SkipWithError(qPrintable(started.message));
            break;
        }
        MainWindow window(app);
        auto* list = window.findChild<QTreeView*>(QStringLiteral("ListView1"));
        auto* passwordBox = window.findChild<QLineEdit*>(QStringLiteral("Text4"));
        if (!list || !passwordBox) {
            state.SkipWithError("the window has no list or no password box");
            break;
        }
        // The locked window is up and idle before the clock starts.
        window.show();
        if (!runUntilPainted(passwordBox)) {
            state.SkipWithError("the locked window was never painted");
            break;
        }
        QCoreApplication::processEvents();
        passwordBox->setText(QString::fromLatin1(kPassword));

        QEventLoop loop;
        PaintWatcher watcher(list->viewport(), loop);
        QTimer::singleShot(kPaintTimeoutMs, &loop, &QEventLoop::quit);
        QElapsedTimer clock;
        clock.start();
        window.enterPassword();
        if (!watcher.painted())
            loop.exec();
        const qint64 elapsed = clock.nsecsElapsed();

        if (!watcher.painted() || !window.isUnlocked() || window.model().rowCount() != kEntries ||
            !messages.shown().isEmpty()) {
            state.SkipWithError("the list was not unlocked whole and painted");
            break;
        }
        state.SetIterationTime(double(elapsed) / 1e9);
    }
    state.SetItemsProcessed(state.iterations() * kEntries);
}

void BM_CoreLoad(benchmark::State& state)
{
    CipherService cipher;
    for (auto _ : state) {
        EntryModel model;
        QElapsedTimer clock;
        clock.start();
        const bool loaded = loadList(model, g_linkFile, kPassword, cipher);
        const qint64 elapsed = clock.nsecsElapsed();
        if (!loaded || model.rowCount() != kEntries) {
            state.SkipWithError("the list did not load whole");
            break;
        }
        // Freeing the list is not part of loading it.
        state.SetIterationTime(double(elapsed) / 1e9);
    }
    state.SetItemsProcessed(state.iterations() * kEntries);
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication app(qtArgc, argv);

    if (!BenchSupport::initialize(argc, argv))
        return 1;

    QTemporaryDir profile(QDir::tempPath() + QStringLiteral("/quillor-unlock-bench-XXXXXX"));
    if (!profile.isValid()) {
        std::fprintf(stderr, "cannot make a temporary directory\n");
        return 1;
    }
    g_env = StartupEnvironment::current(QStringLiteral(QUILLOR_BUILD_DIR));
    g_env.profileDirectory = profile.path();
    g_env.fontFamilies = QFontDatabase::families();
    g_env.generalFontFamily = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    const QString dataDirectory = dataDirectoryFor(profile.path());
    g_linkFile = dataDirectory + u'/' + DataPaths::kLinkFile;
    if (!QDir().mkpath(dataDirectory)) {
        std::fprintf(stderr, "cannot make %s\n", qPrintable(dataDirectory));
        return 1;
    }
    if (!BenchData::makeTypicalLinkFile(g_linkFile, kEntries, kPassword))
        return 1;

    // Each unlock also builds, shows and destroys a window, untimed: a fixed count keeps the run
    // short.
    const auto common = [](benchmark::internal::Benchmark* bench) {
        return bench->Arg(kEntries)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(kRepetitions)
            ->ReportAggregatesOnly();
    };
    common(benchmark::RegisterBenchmark("BM_UnlockToPaintedList", BM_UnlockToPaintedList))
        ->Iterations(kUnlocksPerRepetition);
    common(benchmark::RegisterBenchmark("BM_CoreLoad", BM_CoreLoad))->MinTime(0.3);

    BenchSupport::FigureReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const double unlock = reporter.seconds("BM_UnlockToPaintedList", kEntries).real;
    const double load = reporter.seconds("BM_CoreLoad", kEntries).real;
    if (reporter.anyFailed() || unlock <= 0 || load <= 0) {
        std::printf("unlock to painted list / core load at %d entries: not measured\n", kEntries);
        return 1;
    }
    std::printf("unlock to painted list / core load at %d entries: %.2f (target <= 2)"
                "  [unlock %.1f ms, core load %.1f ms, medians of %d]\n",
                kEntries, unlock / load, unlock * 1e3, load * 1e3, kRepetitions);
    return 0;
}
