// Back-up, restore, undo and the move of back-up files, on real files; every pair is read back
// byte for byte. The crash test kills each operation before every system call that changes a
// file and checks that each place then holds one whole pair, old or new.

#include "FileSizeLimit.h"
#include "TestData.h"
#include "store/BackUp.h"
#include "store/PairFiles.h"

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>
#include <optional>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString kUndoDirectoryName = u"UnDo"_s;

// A pair as it lies in a directory: each file's bytes, or nothing where the file is absent.
struct Pair {
    std::optional<QByteArray> master;
    std::optional<QByteArray> link;
    bool operator==(const Pair&) const = default;
    bool empty() const { return !master && !link; }
};

QByteArray describe(const std::optional<QByteArray>& bytes)
{
    if (!bytes)
        return "absent";
    return QByteArray::number(bytes->size()) + " bytes, md5 " +
           QCryptographicHash::hash(*bytes, QCryptographicHash::Md5).toHex().left(8);
}

QByteArray describe(const Pair& pair)
{
    return "QuiFil.ini " + describe(pair.master) + ", QuiURL.dab " + describe(pair.link);
}

char* toString(const Pair& pair)
{
    return qstrdup(describe(pair).constData());
}

// Content of its own for each place, so that a copy from the wrong place or a mixture of two
// pairs shows. members: "M" for QuiFil.ini, "L" for QuiURL.dab.
Pair pairOf(const QString& members, char seed)
{
    Pair pair;
    if (members.contains(u'M'))
        pair.master = TestData::pattern(1024, seed);
    if (members.contains(u'L'))
        pair.link = TestData::pattern(3 * 3584 + seed, char(seed + 1));
    return pair;
}

QString in(const QString& dir, const QString& name)
{
    return dir + u'/' + name;
}

// Whatever lies under the name goes: a file, a pipe or a directory.
void removeAny(const QString& path)
{
    if (QFileInfo(path).isDir())
        QDir(path).removeRecursively();
    else
        QFile::remove(path);
}

[[nodiscard]] bool writePair(const QString& dir, const Pair& pair)
{
    if (!QDir().mkpath(dir))
        return false;
    removeAny(in(dir, PairFiles::kMasterPasswordFile));
    removeAny(in(dir, PairFiles::kLinkFile));
    return (!pair.master ||
            TestData::writeFile(in(dir, PairFiles::kMasterPasswordFile), *pair.master)) &&
           (!pair.link || TestData::writeFile(in(dir, PairFiles::kLinkFile), *pair.link));
}

Pair readPair(const QString& dir)
{
    Pair pair;
    for (auto [name, bytes] : {std::pair(PairFiles::kMasterPasswordFile, &pair.master),
                               std::pair(PairFiles::kLinkFile, &pair.link)}) {
        if (QFileInfo::exists(in(dir, name)))
            *bytes = TestData::readFile(in(dir, name));
    }
    return pair;
}

// The pair's files and nothing else: no staged file or commit mark left behind.
QStringList pairNames(const Pair& pair)
{
    QStringList names;
    if (pair.master)
        names << PairFiles::kMasterPasswordFile;
    if (pair.link)
        names << PairFiles::kLinkFile;
    return names;
}

// What the Option Settings window does when the back-up directory changes and the user has the
// old back-up files moved along.
SaveResult moveBetween(const QString& from, const QString& to)
{
    if (SaveResult copied = BackUp::copyPair(from, to); !copied)
        return copied;
    return BackUp::removePair(from);
}

// ---- Killing a child process before its n-th change to a file ----------------------------------

enum class Run { Killed, Finished, Unavailable };

// The system calls at which a crash can leave files different.
bool changesFiles(long nr)
{
    switch (nr) {
    case SYS_openat:
    case SYS_write:
    case SYS_pwrite64:
    case SYS_writev:
    case SYS_fsync:
    case SYS_fdatasync:
    case SYS_close:
    case SYS_renameat2:
    case SYS_unlinkat:
    case SYS_mkdirat:
    case SYS_copy_file_range:
    case SYS_ftruncate:
#ifdef SYS_open
    case SYS_open:
    case SYS_renameat:
    case SYS_rename:
    case SYS_unlink:
    case SYS_mkdir:
#endif
        return true;
    default:
        return false;
    }
}

// Runs operation in a child process that is killed before the n-th system call that changes a
// file; Finished when the operation ended first.
Run runKilledBefore(int n, const std::function<void()>& operation)
{
    const pid_t child = ::fork();
    if (child < 0)
        return Run::Unavailable;
    if (child == 0) {
        if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0)
            ::_exit(99);
        ::raise(SIGSTOP);
        operation();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFSTOPPED(status) || ::ptrace(PTRACE_SETOPTIONS, child, nullptr,
                                        PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL) != 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        return Run::Unavailable;
    }
    int counted = 0;
    int pass = 0;
    for (;;) {
        ::ptrace(PTRACE_SYSCALL, child, nullptr, reinterpret_cast<void*>(long(pass)));
        pass = 0;
        if (::waitpid(child, &status, 0) != child)
            return Run::Unavailable;
        if (WIFEXITED(status))
            return WEXITSTATUS(status) == 0 ? Run::Finished : Run::Unavailable;
        if (WIFSIGNALED(status))
            return Run::Unavailable;
        if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
            pass = WSTOPSIG(status);
            continue;
        }
        __ptrace_syscall_info info{};
        if (::ptrace(PTRACE_GET_SYSCALL_INFO, child, reinterpret_cast<void*>(sizeof info), &info) <=
            0)
            return Run::Unavailable;
        if (info.op != PTRACE_SYSCALL_INFO_ENTRY || !changesFiles(long(info.entry.nr)))
            continue;
        if (++counted == n) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return Run::Killed;
        }
    }
}

} // namespace

class TestBackUp : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();

    void backUp_data();
    void backUp();
    void restore_data();
    void restore();
    void restoreThenUndoGivesTheBytesBack();
    void undoWithoutUndoDirectory();
    void moveBackUpPair_data();
    void moveBackUpPair();
    void removePairIsAUnit();
    void refusal_data();
    void refusal();

    void largeFileStreamsWhole();
    void failuresKeepTheOldPair_data();
    void failuresKeepTheOldPair();

    void crashLeavesWholePairs_data();
    void crashLeavesWholePairs();

private:
    QString data() const { return m_dir->filePath(u"data"_s); }
    QString undo() const { return BackUp::undoDirectory(data()); }
    QString backUpDir() const { return m_dir->filePath(u"back-up"_s); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestBackUp::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

// Each row: the members of the current pair, those of the old back-up pair.
void TestBackUp::backUp_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("oldBackUp");
    QTest::newRow("into an empty directory") << u"ML"_s << u""_s;
    QTest::newRow("over an older pair") << u"ML"_s << u"ML"_s;
    QTest::newRow("empty list: the old QuiURL.dab goes") << u"M"_s << u"ML"_s;
    QTest::newRow("nothing current") << u""_s << u"ML"_s;
    QTest::newRow("link file only") << u"L"_s << u"M"_s;
}

void TestBackUp::backUp()
{
    QFETCH(QString, current);
    QFETCH(QString, oldBackUp);
    const Pair pair = pairOf(current, 'a');
    QVERIFY(writePair(data(), pair));
    QVERIFY(writePair(backUpDir(), pairOf(oldBackUp, 'k')));

    QVERIFY(BackUp::backUpPair(data(), backUpDir()).ok());
    QCOMPARE(readPair(backUpDir()), pair);
    QCOMPARE(readPair(data()), pair);
    QCOMPARE(TestData::entriesOf(backUpDir()), pairNames(pair));
    for (const QString& name : pairNames(pair))
        QCOMPARE(TestData::permissionsOf(in(backUpDir(), name)), 0600);
}

// Each row: the members of the current, back-up and kept pairs before; the outcome; whether
// UnDo then holds a pair to undo to.
void TestBackUp::restore_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("backUp");
    QTest::addColumn<QString>("kept");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("keptForUndo");
    using S = BackUp::RestoreOutcome::Status;
    QTest::newRow("whole pairs") << u"ML"_s << u"ML"_s << u""_s << int(S::Restored) << true;
    QTest::newRow("back-up without QuiURL.dab")
        << u"ML"_s << u"M"_s << u""_s << int(S::Restored) << true;
    QTest::newRow("neither back-up file")
        << u"ML"_s << u""_s << u""_s << int(S::NoBackUpFiles) << true;
    QTest::newRow("a second restore replaces the kept pair")
        << u"M"_s << u"ML"_s << u"ML"_s << int(S::Restored) << true;
    QTest::newRow("nothing current") << u""_s << u"ML"_s << u"ML"_s << int(S::Restored) << false;
}

void TestBackUp::restore()
{
    QFETCH(QString, current);
    QFETCH(QString, backUp);
    QFETCH(QString, kept);
    QFETCH(int, status);
    QFETCH(bool, keptForUndo);
    const Pair currentPair = pairOf(current, 'a');
    const Pair backUpPair = pairOf(backUp, 'k');
    QVERIFY(writePair(data(), currentPair));
    QVERIFY(writePair(backUpDir(), backUpPair));
    if (!kept.isEmpty())
        QVERIFY(writePair(undo(), pairOf(kept, 'u')));

    const BackUp::RestoreOutcome outcome = BackUp::restoreFromBackUp(data(), backUpDir());
    QCOMPARE(int(outcome.status), status);
    QCOMPARE(outcome.keptForUndo, keptForUndo);
    QVERIFY2(outcome.failure.isEmpty(), qPrintable(outcome.failure));
    const bool restored = status == int(BackUp::RestoreOutcome::Status::Restored);
    QCOMPARE(readPair(data()), restored ? backUpPair : currentPair);
    QCOMPARE(readPair(undo()), currentPair);
    QCOMPARE(readPair(backUpDir()), backUpPair);
    if (kept.isEmpty())
        QCOMPARE(TestData::permissionsOf(undo()), 0700);
    QCOMPARE(TestData::entriesOf(undo()), pairNames(currentPair));
}

void TestBackUp::restoreThenUndoGivesTheBytesBack()
{
    const Pair before = pairOf(u"ML"_s, 'a');
    QVERIFY(writePair(data(), before));
    QVERIFY(writePair(backUpDir(), pairOf(u"M"_s, 'k')));
    QCOMPARE(BackUp::restoreFromBackUp(data(), backUpDir()).status,
             BackUp::RestoreOutcome::Status::Restored);

    const BackUp::UndoOutcome undone = BackUp::undoRestore(data());
    QCOMPARE(undone.status, BackUp::UndoOutcome::Status::Undone);
    QVERIFY(undone.pairReplaced);
    QCOMPARE(readPair(data()), before);
    QVERIFY(TestData::entriesOf(undo()).isEmpty());

    // Nothing is left to undo; the current pair stays.
    QCOMPARE(BackUp::undoRestore(data()).status, BackUp::UndoOutcome::Status::NothingKept);
    QCOMPARE(readPair(data()), before);
}

void TestBackUp::undoWithoutUndoDirectory()
{
    const Pair current = pairOf(u"ML"_s, 'a');
    QVERIFY(writePair(data(), current));
    const BackUp::UndoOutcome outcome = BackUp::undoRestore(data());
    QCOMPARE(outcome.status, BackUp::UndoOutcome::Status::NoUndoDirectory);
    QVERIFY(!outcome.pairReplaced);
    QCOMPARE(readPair(data()), current);
    QVERIFY(!QFileInfo::exists(undo()));
}

// Each row: the members of the old and of the new directory's pair.
void TestBackUp::moveBackUpPair_data()
{
    QTest::addColumn<QString>("oldMembers");
    QTest::addColumn<QString>("newMembers");
    QTest::newRow("into an empty directory") << u"ML"_s << u""_s;
    QTest::newRow("over kept files") << u"ML"_s << u"ML"_s;
    QTest::newRow("only QuiFil.ini, over a QuiURL.dab") << u"M"_s << u"L"_s;
}

void TestBackUp::moveBackUpPair()
{
    QFETCH(QString, oldMembers);
    QFETCH(QString, newMembers);
    const QString newDir = m_dir->filePath(u"new back-up"_s);
    const Pair moved = pairOf(oldMembers, 'k');
    QVERIFY(writePair(backUpDir(), moved));
    QVERIFY(writePair(newDir, pairOf(newMembers, 'n')));

    QVERIFY(moveBetween(backUpDir(), newDir).ok());
    QCOMPARE(readPair(newDir), moved);
    QVERIFY(TestData::entriesOf(backUpDir()).isEmpty());
    QCOMPARE(TestData::entriesOf(newDir), pairNames(moved));
}

void TestBackUp::removePairIsAUnit()
{
    QVERIFY(writePair(undo(), pairOf(u"ML"_s, 'u')));
    QVERIFY(TestData::writeFile(in(undo(), u"notes.txt"_s), "mine"));
    QVERIFY(BackUp::removePair(undo()).ok());
    // Only the pair goes; the directory and anything else in it stay.
    QCOMPARE(TestData::entriesOf(undo()), QStringList({u"notes.txt"_s}));
    QVERIFY(BackUp::removePair(undo()).ok());
    QVERIFY(BackUp::removePair(m_dir->filePath(u"nowhere"_s)).ok());
}

// Each row: the directory chosen, as a path under the test's directory ("" for the directory
// itself), and the refusal. The program directory is "program", the data directory "data".
void TestBackUp::refusal_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<int>("refusal");
    using R = BackUp::Refusal;
    QTest::newRow("a directory of its own") << u"back-up"_s << int(R::None);
    QTest::newRow("the program directory") << u"program"_s << int(R::ProgramDirectory);
    QTest::newRow("the program directory, with a slash")
        << u"program/"_s << int(R::ProgramDirectory);
    QTest::newRow("the data directory") << u"data"_s << int(R::DataDirectory);
    QTest::newRow("the data directory through a link")
        << u"link-to-data"_s << int(R::DataDirectory);
    QTest::newRow("UnDo") << u"data/UnDo"_s << int(R::DataDirectory);
    QTest::newRow("UnDo spelt with dots") << u"back-up/../data/./UnDo"_s << int(R::DataDirectory);
    QTest::newRow("a sibling named like it") << u"data-old"_s << int(R::None);
    QTest::newRow("the directory above the data") << u""_s << int(R::None);
}

void TestBackUp::refusal()
{
    QFETCH(QString, chosen);
    QFETCH(int, refusal);
    for (const char* dir : {"back-up", "program", "data/UnDo", "data-old"})
        QVERIFY(QDir().mkpath(m_dir->filePath(QString::fromLatin1(dir))));
    QVERIFY(QFile::link(data(), m_dir->filePath(u"link-to-data"_s)));
    const QString path = chosen.isEmpty() ? m_dir->path() : m_dir->path() + u'/' + chosen;
    QCOMPARE(int(BackUp::refusal(path, m_dir->filePath(u"program"_s), data())), refusal);
}

void TestBackUp::largeFileStreamsWhole()
{
    // More than one chunk, and not a whole number of them.
    const Pair big{TestData::pattern(1024, 'b'), TestData::pattern(3 * 1024 * 1024 + 17, 'c')};
    QVERIFY(writePair(data(), big));
    QVERIFY(QDir().mkpath(backUpDir()));
    const SaveResult saved = BackUp::backUpPair(data(), backUpDir());
    QVERIFY2(saved.ok(), qPrintable(saved.error()));
    QCOMPARE(readPair(backUpDir()), big);
}

// Each row: what goes wrong. Every operation reports it and leaves each pair as it was.
void TestBackUp::failuresKeepTheOldPair_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("full disk") << u"full"_s;
    QTest::newRow("a pipe in place of QuiURL.dab") << u"pipe"_s;
    QTest::newRow("a directory in place of QuiURL.dab") << u"directory"_s;
    QTest::newRow("the back-up directory is gone") << u"gone"_s;
}

void TestBackUp::failuresKeepTheOldPair()
{
    QFETCH(QString, fault);
    const Pair current = pairOf(u"ML"_s, 'a');
    const Pair backUp = pairOf(u"ML"_s, 'k');
    const Pair kept = pairOf(u"ML"_s, 'u');
    QVERIFY(writePair(data(), current));
    QVERIFY(writePair(backUpDir(), backUp));
    QVERIFY(writePair(undo(), kept));

    // The faulty file is the source of the copy under test, or the target is unwritable.
    const auto spoil = [&](const QString& dir) {
        const QString link = in(dir, PairFiles::kLinkFile);
        if (fault == u"pipe") {
            QVERIFY(QFile::remove(link));
            QCOMPARE(::mkfifo(QFile::encodeName(link).constData(), 0600), 0);
        } else if (fault == u"directory") {
            QVERIFY(QFile::remove(link));
            QVERIFY(QDir().mkdir(link));
        }
    };
    const auto run = [&](const std::function<QString()>& operation) {
        std::optional<FileSizeLimit> full;
        if (fault == u"full")
            full.emplace(2000); // QuiFil.ini fits, QuiURL.dab does not
        return operation();
    };

    // Back-up from a spoilt current pair, or into a directory that is gone.
    const QString missing = m_dir->filePath(u"gone"_s);
    spoil(data());
    const QString backUpTarget = fault == u"gone" ? missing : backUpDir();
    QVERIFY(!run([&] { return BackUp::backUpPair(data(), backUpTarget).error(); }).isEmpty());
    QCOMPARE(readPair(backUpDir()), backUp);
    QCOMPARE(TestData::entriesOf(backUpDir()), pairNames(backUp));
    QVERIFY(!QFileInfo::exists(missing));

    // Restore from a spoilt back-up pair (UnDo takes the current pair first, when it can).
    QVERIFY(writePair(data(), current));
    spoil(backUpDir());
    const QString restoreFrom = fault == u"gone" ? missing : backUpDir();
    const auto restored =
        run([&] { return BackUp::restoreFromBackUp(data(), restoreFrom).failure; });
    if (fault != u"gone")
        QVERIFY(!restored.isEmpty());
    QCOMPARE(readPair(data()), current);
    QVERIFY(readPair(undo()) == kept || readPair(undo()) == current);
    QCOMPARE(TestData::entriesOf(data()), pairNames(current) << u"UnDo"_s);

    // Undo from a spoilt kept pair.
    if (fault != u"gone") {
        QVERIFY(writePair(undo(), kept));
        spoil(undo());
        QVERIFY(!run([&] { return BackUp::undoRestore(data()).failure; }).isEmpty());
        QCOMPARE(readPair(data()), current);
    }
}

// Each row: the operation; the members of the current, back-up and kept pairs.
void TestBackUp::crashLeavesWholePairs_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("backUp");
    QTest::addColumn<QString>("kept");
    QTest::newRow("back-up") << u"backup"_s << u"ML"_s << u"ML"_s << u""_s;
    QTest::newRow("back-up of an empty list") << u"backup"_s << u"M"_s << u"ML"_s << u""_s;
    QTest::newRow("restore") << u"restore"_s << u"ML"_s << u"ML"_s << u"ML"_s;
    QTest::newRow("restore without QuiURL.dab") << u"restore"_s << u"ML"_s << u"M"_s << u""_s;
    QTest::newRow("undo") << u"undo"_s << u"ML"_s << u""_s << u"ML"_s;
    QTest::newRow("undo to an empty list") << u"undo"_s << u"ML"_s << u""_s << u"M"_s;
    QTest::newRow("move of back-up files") << u"move"_s << u"ML"_s << u"ML"_s << u"ML"_s;
}

void TestBackUp::crashLeavesWholePairs()
{
    QFETCH(QString, operation);
    QFETCH(QString, current);
    QFETCH(QString, backUp);
    QFETCH(QString, kept);
    const Pair current0 = pairOf(current, 'a');
    const Pair backUp0 = pairOf(backUp, 'k');
    const Pair kept0 = pairOf(kept, 'u');
    // The move goes from the back-up directory to a new one, which holds the kept pair.
    const QString newDir = m_dir->filePath(u"new back-up"_s);
    const QString keptDir = operation == u"move" ? newDir : undo();
    const std::function<void()> run = [&] {
        if (operation == u"backup")
            (void)BackUp::backUpPair(data(), backUpDir());
        else if (operation == u"restore")
            (void)BackUp::restoreFromBackUp(data(), backUpDir());
        else if (operation == u"undo")
            (void)BackUp::undoRestore(data());
        else
            (void)moveBetween(backUpDir(), newDir);
    };

    int points = 0;
    for (int n = 1;; ++n) {
        QVERIFY(writePair(data(), current0));
        QVERIFY(writePair(backUpDir(), backUp0));
        QVERIFY(QDir(undo()).removeRecursively() && QDir(newDir).removeRecursively());
        if (!kept.isEmpty() || operation != u"restore")
            QVERIFY(writePair(keptDir, kept0));

        const Run ran = runKilledBefore(n, run);
        if (ran == Run::Unavailable)
            QSKIP("this system does not let a test trace its child processes");
        // What the next start, or the next pair operation, does first.
        for (const QString& dir : {data(), backUpDir(), undo(), newDir})
            QVERIFY(PairFiles::settlePairDirectory(dir).ok());

        const Pair nowCurrent = readPair(data());
        const Pair nowBackUp = readPair(backUpDir());
        const Pair nowKept = readPair(keptDir);
        QByteArray problem;
        const auto expect = [&](bool holds, const char* what) {
            if (!holds && problem.isEmpty())
                problem = "killed before change " + QByteArray::number(n) + ": " + what +
                          "; current " + describe(nowCurrent) + "; back-up " + describe(nowBackUp) +
                          "; kept " + describe(nowKept);
        };
        if (operation == u"backup") {
            expect(nowCurrent == current0, "the current pair changed");
            expect(nowBackUp == backUp0 || nowBackUp == current0, "the back-up pair is torn");
        } else if (operation == u"restore") {
            expect(nowBackUp == backUp0, "the back-up pair changed");
            expect(nowCurrent == current0 || nowCurrent == backUp0, "the current pair is torn");
            expect(nowKept == kept0 || nowKept == current0, "the kept pair is torn");
            expect(nowCurrent == current0 || nowKept == current0,
                   "the pair before the restore is nowhere");
        } else if (operation == u"undo") {
            expect(nowCurrent == current0 || nowCurrent == kept0, "the current pair is torn");
            expect(nowKept == kept0 || nowKept.empty(), "the kept pair is torn");
            expect(nowCurrent == kept0 || nowKept == kept0, "the kept pair is lost");
        } else {
            expect(nowBackUp == backUp0 || nowBackUp.empty(), "the old back-up pair is torn");
            expect(nowKept == kept0 || nowKept == backUp0, "the new back-up pair is torn");
            expect(nowKept == backUp0 || nowBackUp == backUp0, "the back-up pair is lost");
        }
        // Nothing staged outlives the settling.
        QStringList currentNames = TestData::entriesOf(data());
        currentNames.removeOne(kUndoDirectoryName);
        expect(currentNames == pairNames(nowCurrent), "left-overs in the data directory");
        expect(TestData::entriesOf(backUpDir()) == pairNames(nowBackUp), "left-overs");
        expect(TestData::entriesOf(keptDir) == pairNames(nowKept), "left-overs");
        QVERIFY2(problem.isEmpty(), problem.constData());

        if (ran == Run::Finished) {
            // Run to its end, the operation has done all of its work.
            if (operation == u"backup")
                QCOMPARE(nowBackUp, current0);
            else if (operation == u"restore")
                QCOMPARE(nowCurrent, backUp0);
            else if (operation == u"undo")
                QCOMPARE(nowCurrent, kept0);
            else
                QCOMPARE(nowKept, backUp0);
            break;
        }
        ++points;
    }
    qInfo("%s: killed at each of %d changes", QTest::currentDataTag(), points);
}

QTEST_GUILESS_MAIN(TestBackUp)
#include "tst_backup.moc"
