#pragma once

// A program run under the fault injector (faultinject.c), and what its log tells: which calls it
// made on the watched directory, which one was acted on, and whether what it wrote was made
// durable. Shared by the crash-point tests of the core and of quillor-cli.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QMap>
#include <QProcessEnvironment>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace FaultRun {

using namespace Qt::StringLiterals;

inline QByteArray readBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

struct Fault {
    QByteArray mode = "count"; // count, kill, tear, fail
    long at = 0;
    QByteArray error; // for fail
};

// One counted system call, as the injector logged it.
struct Point {
    QByteArray call;
    QString path;
    QString to;        // where a rename or a link puts it
    QByteArray action; // kill, tear, fail; empty for a call left alone
};

struct Run {
    int status = 0; // as waitpid gives it
    QList<Point> points;
    QString errorOutput;
    QByteArray output; // standard output, when it was kept

    bool exitedWith(int code) const { return WIFEXITED(status) && WEXITSTATUS(status) == code; }
    bool killed() const { return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL; }
    QString outcome() const
    {
        if (WIFSIGNALED(status))
            return u"killed by signal %1"_s.arg(WTERMSIG(status));
        return u"exit %1%2"_s.arg(WEXITSTATUS(status))
            .arg(errorOutput.isEmpty() ? QString() : u" ("_s + errorOutput.trimmed() + u')');
    }
};

inline QList<Point> readLog(const QString& path)
{
    QList<Point> points;
    for (const QByteArray& line : readBytes(path).split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() != 5)
            continue;
        points.append(
            {fields[1], QFile::decodeName(fields[2]), QFile::decodeName(fields[3]), fields[4]});
    }
    return points;
}

// What a run gets besides its arguments. The scratch directory (outside the watched one) holds
// the log, the standard streams and the input.
struct Launch {
    QString watchedDir;
    QString scratch;
    QByteArray input;        // standard input; /dev/null when empty
    bool keepOutput = false; // standard output to a file, else /dev/null
    bool inject = true;      // false: the program alone, no injector
};

// Runs program with arguments under the injector, with the fault given, and waits for it.
inline Run runUnderInjector(const QByteArray& program, const QList<QByteArray>& arguments,
                            const Launch& launch, const Fault& fault)
{
    const QString log = launch.scratch + u"/points.log"_s;
    const QString errors = launch.scratch + u"/stderr.txt"_s;
    const QString output = launch.scratch + u"/stdout.txt"_s;
    const QString input = launch.scratch + u"/stdin.txt"_s;
    QFile::remove(log);
    QFile::remove(errors);
    QFile::remove(output);
    Run run;
    if (!launch.input.isEmpty()) {
        QFile file(input);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(launch.input) != launch.input.size()) {
            run.status = W_EXITCODE(127, 0);
            run.errorOutput = u"cannot write the input: "_s + file.errorString();
            return run;
        }
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (launch.inject) {
        env.insert(u"LD_PRELOAD"_s, QStringLiteral(QUILLOR_FAULT_INJECT_LIBRARY));
        env.insert(u"QUILLOR_FAULT_DIR"_s, launch.watchedDir);
        env.insert(u"QUILLOR_FAULT_LOG"_s, log);
        env.insert(u"QUILLOR_FAULT_MODE"_s, QString::fromLatin1(fault.mode));
        env.insert(u"QUILLOR_FAULT_AT"_s, QString::number(fault.at));
        env.insert(u"QUILLOR_FAULT_ERRNO"_s, QString::fromLatin1(fault.error));
        // A killed process loses nothing that a sync would keep, so syncs need not wait for the
        // disk; they are judged from the log.
        env.insert(u"QUILLOR_FAULT_SYNC"_s, u"skip"_s);
        // A sanitized program wants its runtime first among the libraries; the injector is plain
        // C and only passes calls on, so the order does not matter to it.
        const QString asan = env.value(u"ASAN_OPTIONS"_s);
        env.insert(u"ASAN_OPTIONS"_s,
                   (asan.isEmpty() ? QString() : asan + u':') + u"verify_asan_link_order=0"_s);
    }

    QList<QByteArray> envBytes;
    for (const QString& entry : env.toStringList())
        envBytes.append(QFile::encodeName(entry));
    std::vector<char*> envp;
    for (QByteArray& entry : envBytes)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    QByteArray programBytes = program;
    QList<QByteArray> argumentBytes = arguments;
    std::vector<char*> argv{programBytes.data()};
    for (QByteArray& argument : argumentBytes)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray inputPath =
        launch.input.isEmpty() ? QByteArrayLiteral("/dev/null") : QFile::encodeName(input);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, inputPath.constData(), O_RDONLY, 0);
    const QByteArray outputPath =
        launch.keepOutput ? QFile::encodeName(output) : QByteArrayLiteral("/dev/null");
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const QByteArray errorsPath = QFile::encodeName(errors);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorsPath.constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        run.status = W_EXITCODE(127, 0);
        run.errorOutput =
            u"cannot start %1: "_s.arg(QFile::decodeName(program)) + qt_error_string(spawned);
        return run;
    }
    while (::waitpid(pid, &run.status, 0) < 0 && errno == EINTR) {
    }
    run.points = readLog(log);
    run.errorOutput = QString::fromLocal8Bit(readBytes(errors));
    if (launch.keepOutput)
        run.output = readBytes(output);
    return run;
}

inline bool isWrite(const QByteArray& call)
{
    return call == "write" || call == "pwrite" || call == "pwrite64" || call == "writev";
}

inline bool changesData(const QByteArray& call)
{
    return isWrite(call) || call.startsWith("ftruncate") || call.startsWith("truncate");
}

inline bool isSync(const QByteArray& call)
{
    return call == "fsync" || call == "fdatasync";
}

inline bool movesName(const QByteArray& call)
{
    return call.startsWith("rename") || call.startsWith("link");
}

inline QString directoryOf(const QString& path)
{
    return path.left(path.lastIndexOf(u'/'));
}

// A run that reported success must have made its bytes and its targets' names durable: each
// file's last change of bytes synced before a rename or link puts it elsewhere, and each
// target's directory synced after the last rename, link, creation or removal of a target there.
// A call that the injector failed did not happen. Targets are whole paths.
inline QString durabilityProblem(const QList<Point>& points, const QStringList& targets,
                                 bool namesChanged)
{
    const auto done = [&](qsizetype i) {
        return points[i].action.isEmpty();
    };
    QMap<QString, qsizetype> lastChanges; // by file
    for (qsizetype i = 0; i < points.size(); ++i) {
        if (done(i) && changesData(points[i].call))
            lastChanges.insert(points[i].path, i);
    }
    for (auto it = lastChanges.cbegin(); it != lastChanges.cend(); ++it) {
        bool synced = false;
        for (qsizetype i = it.value() + 1; i < points.size() && !synced; ++i) {
            if (done(i) && movesName(points[i].call) && points[i].path == it.key())
                return u"%1 %2 to %3 before its bytes were synced"_s.arg(
                    QString::fromLatin1(points[i].call), it.key(), points[i].to);
            synced = done(i) && isSync(points[i].call) && points[i].path == it.key();
        }
        if (!synced)
            return u"the last %1 of %2 is never synced"_s.arg(
                QString::fromLatin1(points[it.value()].call), it.key());
    }
    QMap<QString, qsizetype> lastNames; // by directory
    for (qsizetype i = 0; i < points.size(); ++i) {
        const Point& point = points[i];
        if (!done(i))
            continue;
        QString named;
        if (movesName(point.call) && targets.contains(point.to))
            named = point.to;
        else if ((point.call.startsWith("unlink") ||
                  (namesChanged && point.call.endsWith("/create"))) &&
                 targets.contains(point.path))
            named = point.path;
        if (!named.isEmpty())
            lastNames.insert(directoryOf(named), i);
    }
    for (auto it = lastNames.cbegin(); it != lastNames.cend(); ++it) {
        bool synced = false;
        for (qsizetype i = it.value() + 1; i < points.size() && !synced; ++i)
            synced = done(i) && isSync(points[i].call) && points[i].path == it.key();
        if (!synced) {
            const Point& last = points[it.value()];
            return u"the directory is not synced after %1 %2"_s.arg(
                QString::fromLatin1(last.call), last.to.isEmpty() ? last.path : last.to);
        }
    }
    return {};
}

inline QString describePoint(const Run& census, long k)
{
    const Point& point = census.points[k - 1];
    QString names = QDir(point.path).dirName();
    if (!point.to.isEmpty())
        names += u" -> "_s + QDir(point.to).dirName();
    return u"point %1 (%2 %3)"_s.arg(k).arg(QString::fromLatin1(point.call), names);
}

// The same calls up to point k as in the census: otherwise the numbering means nothing.
inline QString repeatabilityProblem(const Run& run, const Run& census, long k,
                                    const QByteArray& action)
{
    if (run.points.size() < k || run.points[k - 1].action != action)
        return u"the run never reached the point"_s;
    for (long i = 0; i < k; ++i) {
        if (run.points[i].call != census.points[i].call)
            return u"call %1 is %2, not %3 as without faults"_s.arg(i + 1).arg(
                QString::fromLatin1(run.points[i].call),
                QString::fromLatin1(census.points[i].call));
    }
    return {};
}

} // namespace FaultRun
