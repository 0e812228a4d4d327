// One thing a person does in the real window, in a process of its own on the offscreen platform,
// timed from the command to the list's next finished paint: what the person waits for. Prints
// the milliseconds as its last line; bench/run.sh pairs the runs with quillor_pairs. Each run
// leaves the pair with the RECORDS entries it found, so that the runs can take turns on it.
//   quillor_window_bench make PROFILE RECORDS     a profile whose pair holds typical entries
//   quillor_window_bench unlock PROFILE RECORDS   "Enter" with the right password
//   quillor_window_bench add PROFILE RECORDS      Enter Items' Add of a new entry (median of 3)
//   quillor_window_bench move PROFILE RECORDS     the last entry moved to the top
//   quillor_window_bench delete PROFILE RECORDS   the first entry deleted
//   quillor_window_bench replace PROFILE RECORDS  Enter Items' Replace of the middle entry

#include "LinkFileBuilder.h"
#include "PaintWatcher.h"
#include "cipher/CipherService.h"
#include "startup/AppState.h"
#include "startup/Startup.h"
#include "store/EntryWriter.h"
#include "store/LinkRecord.h"
#include "store/MasterPasswordFile.h"
#include "ui/entry/EnterItemsWindow.h"
#include "ui/main/EntryListView.h"
#include "ui/main/MainMenus.h"
#include "ui/main/MainWindow.h"
#include "ui/message/MessageKinds.h"
#include "ui/message/ShowMessage.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFontDatabase>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kPaintTimeoutMs = 20'000;
constexpr int kAdds = 3;

int fail(const QString& what)
{
    std::fprintf(stderr, "quillor_window_bench: %s\n", qPrintable(what));
    return 1;
}

// Runs command, then the event loop until watched has been painted: the milliseconds from the
// command's start, or a negative number when no paint came.
double toPaint(QWidget* watched, const std::function<void()>& command)
{
    QEventLoop loop;
    PaintWatcher watcher(watched, loop);
    QTimer::singleShot(kPaintTimeoutMs, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    command();
    if (!watcher.painted())
        loop.exec();
    return watcher.painted() ? double(clock.nsecsElapsed()) / 1e6 : -1;
}

// Up and idle before a clock starts: everything pending painted.
bool settle(QWidget* watched)
{
    watched->update();
    const bool painted = toPaint(watched, [] {}) >= 0;
    QCoreApplication::processEvents();
    return painted;
}

QString latin1(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes);
}

// The Enter Items window, open and painted, its boxes holding entry.
EnterItemsWindow* openEnterItems(MainWindow& window, const BenchData::TypicalEntry& entry)
{
    window.openEnterItemsWindow();
    EnterItemsWindow* items = window.enterItemsWindow();
    if (!items)
        return nullptr;
    const std::pair<const char*, QByteArray> boxes[] = {
        {"Text1", entry.title},
        {"Text2", entry.userName},
        {"Text3", entry.password},
        {"Text5", entry.url},
    };
    QLineEdit* box = nullptr;
    for (const auto& [name, text] : boxes) {
        box = items->findChild<QLineEdit*>(QLatin1String(name));
        if (!box)
            return nullptr;
        box->setText(latin1(text));
    }
    return settle(box) ? items : nullptr;
}

int makeProfile(const QString& profile, int records)
{
    const QString data = dataDirectoryFor(profile);
    CipherService cipher;
    if (!QDir().mkpath(data))
        return fail(QStringLiteral("cannot make %1").arg(data));
    if (!BenchData::makeTypicalLinkFile(data + u'/' + DataPaths::kLinkFile, records,
                                        BenchData::kPassword))
        return 1;
    const SaveResult made = MasterPasswordFile::create(data + u'/' + DataPaths::kMasterPasswordFile,
                                                       BenchData::kPassword, cipher);
    return made ? 0 : fail(made.error());
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    if (argc != 4)
        return fail(QStringLiteral("usage: make|unlock|add|move|delete|replace PROFILE RECORDS"));
    const QString mode = QString::fromLocal8Bit(argv[1]);
    const QString profile = QDir(QString::fromLocal8Bit(argv[2])).absolutePath();
    const int records = QByteArray(argv[3]).toInt();
    if (records < 2)
        return fail(QStringLiteral("RECORDS must be 2 or more"));
    if (mode == u"make")
        return makeProfile(profile, records);

    // An add that ended early leaves its record behind: the file is cut back to RECORDS.
    const QString link = dataDirectoryFor(profile) + u'/' + DataPaths::kLinkFile;
    QFile linkFile(link);
    const qint64 size = qint64(records) * kLinkRecordSize;
    if (linkFile.size() < size || !linkFile.resize(size))
        return fail(QStringLiteral("%1 does not hold %2 entries").arg(link).arg(records));

    ScriptedAnswers messages; // a message would otherwise wait for a person
    const auto failed = [&messages] {
        return std::any_of(
            messages.shown().begin(), messages.shown().end(),
            [](const ScriptedAnswers::Shown& m) { return m.kind == MessageKind::Ok; });
    };
    StartupEnvironment env = StartupEnvironment::current(QStringLiteral(QUILLOR_BUILD_DIR));
    env.profileDirectory = profile;
    env.fontFamilies = QFontDatabase::families();
    env.generalFontFamily = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    AppState state;
    const StartupOutcome started = runStartup(env, state);
    if (started.status != StartupOutcome::Status::Started)
        return fail(started.message);
    MainWindow window(state);
    auto* list = window.findChild<EntryListView*>(QStringLiteral("ListView1"));
    auto* passwordBox = window.findChild<QLineEdit*>(QStringLiteral("Text4"));
    if (!list || !passwordBox)
        return fail(QStringLiteral("the window has no list or no password box"));
    window.show();
    if (!settle(passwordBox))
        return fail(QStringLiteral("the locked window was never painted"));
    passwordBox->setText(QString::fromLatin1(BenchData::kPassword));
    QWidget* shown = list->viewport();

    const double unlockMs = toPaint(shown, [&] { window.enterPassword(); });
    if (unlockMs < 0 || !window.isUnlocked() || window.model().rowCount() != records || failed())
        return fail(QStringLiteral("the list was not unlocked whole and painted"));
    if (mode == u"unlock") {
        std::printf("%.3f\n", unlockMs);
        return 0;
    }

    double ms = -1;
    if (mode == u"add") {
        std::vector<double> adds;
        for (int i = 1; i <= kAdds; ++i) {
            EnterItemsWindow* items = openEnterItems(window, BenchData::typicalEntry(records + i));
            auto* add =
                items ? items->findChild<QPushButton*>(QStringLiteral("Command1")) : nullptr;
            if (!add)
                return fail(QStringLiteral("no Enter Items window with its Add button"));
            messages.queue(MessageAnswer::Yes);
            adds.push_back(toPaint(shown, [add] { add->click(); }));
            if (adds.back() < 0 || window.model().rowCount() != records + i || failed())
                return fail(QStringLiteral("add %1 did not show in the list").arg(i));
            // The window closed after the add; gone, so that the next add opens a new one.
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        std::sort(adds.begin(), adds.end());
        ms = adds[adds.size() / 2];
        if (!linkFile.resize(size))
            return fail(QStringLiteral("cannot cut %1 back").arg(link));
    } else if (mode == u"move") {
        const QString last = window.model().index(records - 1, 0).data().toString();
        window.selectRow(records - 1);
        if (!settle(shown))
            return fail(QStringLiteral("the selected row was never painted"));
        QAction* toTop = window.menus().action("mnu1ToTop");
        ms = toPaint(shown, [toTop] { toTop->trigger(); });
        if (window.model().index(0, 0).data().toString() != last || failed())
            return fail(QStringLiteral("the last entry did not move to the top"));
    } else if (mode == u"delete") {
        // Put back at the end afterwards, so that the next run finds as many.
        if (!linkFile.open(QIODevice::ReadOnly))
            return fail(linkFile.errorString());
        const QByteArray first = linkFile.read(kLinkRecordSize);
        linkFile.close();
        window.selectRow(0);
        if (first.size() != kLinkRecordSize || !settle(shown))
            return fail(QStringLiteral("the first row was never painted"));
        QAction* remove = window.menus().action("mnu1DelURLFromList");
        messages.queue(MessageAnswer::Yes);
        ms = toPaint(shown, [remove] { remove->trigger(); });
        if (window.model().rowCount() != records - 1 || failed())
            return fail(QStringLiteral("the entry was not deleted"));
        if (const SaveResult back = appendLinkRecord(link, first); !back)
            return fail(back.error());
    } else if (mode == u"replace") {
        const int row = records / 2;
        window.selectRow(row);
        if (!settle(shown))
            return fail(QStringLiteral("the selected row was never painted"));
        EnterItemsWindow* items = openEnterItems(window, BenchData::typicalEntry(row + 1));
        auto* replace =
            items ? items->findChild<QPushButton*>(QStringLiteral("Command2")) : nullptr;
        if (!replace)
            return fail(QStringLiteral("no Enter Items window with its Replace button"));
        messages.queue(MessageAnswer::Yes);
        ms = toPaint(shown, [replace] { replace->click(); });
        if (window.model().rowCount() != records || failed())
            return fail(QStringLiteral("the entry was not replaced"));
    } else {
        return fail(QStringLiteral("unknown mode %1").arg(mode));
    }
    if (ms < 0)
        return fail(QStringLiteral("the list was never painted after %1").arg(mode));
    std::printf("%.3f\n", ms);
    return 0;
}
