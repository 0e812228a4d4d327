#include "BackUp.h"

#include "PairFiles.h"
#include "UndoCopies.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <mutex>
#include <optional>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

QString inDirectory(const QString& directory, const QString& name)
{
    return directory.endsWith(u'/') ? directory + name : directory + u'/' + name;
}

bool isDirectory(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Anything under the name counts: what is there but cannot be copied must fail the copy, not
// be taken for a missing file and removed from the target.
bool exists(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

SaveResult makePrivateDirectory(const QString& path)
{
    if (::mkdir(QFile::encodeName(path).constData(), 0700) == 0) {
        const qsizetype slash = path.lastIndexOf(u'/');
        syncDirectory(slash > 0 ? path.left(slash) : QStringLiteral("/"));
        return {};
    }
    if (errno == EEXIST && isDirectory(path))
        return {};
    return SaveResult::failure(QStringLiteral("%1: %2").arg(path, qt_error_string(errno)));
}

using PairFiles::Links;

// A program waits this long for another one's pair operation in the back-up directory.
constexpr std::chrono::milliseconds kLockWait{5000};

// The kernel hands a released lock to a program blocked on it; one that only polled would lose
// to a program that takes the lock again at once. So the blocking call waits in a thread of its
// own, for a bounded time. A lock it gets after the wait was given up is let go by closing fd,
// which the thread then owns.
bool waitForLock(int fd, int operation)
{
    struct Wait {
        std::mutex mutex;
        std::condition_variable ended;
        bool locked = false;
        bool givenUp = false;
    };
    const auto wait = std::make_shared<Wait>();
    std::thread([wait, fd, operation] {
        int result = 0;
        do {
            result = ::flock(fd, operation);
        } while (result != 0 && errno == EINTR);
        const std::lock_guard guard(wait->mutex);
        if (wait->givenUp) {
            ::close(fd);
            return;
        }
        wait->locked = true; // a file system that cannot lock counts as locked, as above
        wait->ended.notify_one();
    }).detach();
    std::unique_lock guard(wait->mutex);
    if (wait->ended.wait_for(guard, kLockWait, [&] { return wait->locked; }))
        return true;
    wait->givenUp = true;
    return false;
}

// The new pair of a replacement: a copy of each file of from's pair as it stands once settled,
// and no file where that pair has none. from is only read.
SaveResult stageCopyOfPair(PairFiles::PairReplacement& replacement,
                           const PairFiles::SettledPair& from, Links fromLinks)
{
    if (!from.failure.isEmpty())
        return SaveResult::failure(from.failure);
    for (const auto& [name, source] : {std::pair(PairFiles::kMasterPasswordFile,
                                                 &from.masterPasswordFile),
                                       std::pair(PairFiles::kLinkFile, &from.linkFile)}) {
        if (!source->isEmpty())
            replacement.stageCopy(name, *source, fromLinks);
        else
            replacement.remove(name);
    }
    return {};
}

// A switch left half done in the target is finished before its pair is replaced; one left in
// the source is read through, not finished, since the source may be where we cannot write.
SaveResult copyBetween(const QString& from, Links fromLinks, const QString& to, Links toLinks)
{
    if (!isDirectory(from))
        return SaveResult::failure(QStringLiteral("%1: not a directory").arg(from));
    if (SaveResult settled = PairFiles::settlePairDirectory(to, toLinks); !settled)
        return settled;
    PairFiles::PairReplacement replacement(to, toLinks);
    if (SaveResult staged =
            stageCopyOfPair(replacement, PairFiles::settledPair(from, fromLinks), fromLinks);
        !staged)
        return staged;
    return replacement.commit();
}

SaveResult removeIn(const QString& directory, Links links)
{
    if (SaveResult settled = PairFiles::settlePairDirectory(directory, links); !settled)
        return settled;
    if (!BackUp::membersIn(directory).any())
        return {};
    PairFiles::PairReplacement replacement(directory, links);
    replacement.remove(PairFiles::kMasterPasswordFile);
    replacement.remove(PairFiles::kLinkFile);
    return replacement.commit();
}

// Whether the group is ours alone: our own group, with no other user named as its member.
bool groupIsOursAlone(gid_t group)
{
    if (group != ::getegid())
        return false;
    std::vector<char> buffer(16384);
    struct group entry {};
    struct group* found = nullptr;
    if (::getgrgid_r(group, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return false;
    std::vector<char> userBuffer(16384);
    struct passwd user {};
    struct passwd* me = nullptr;
    if (::getpwuid_r(::geteuid(), &user, userBuffer.data(), userBuffer.size(), &me) != 0 || !me)
        return false;
    for (char** member = found->gr_mem; member && *member; ++member) {
        if (std::strcmp(*member, me->pw_name) != 0)
            return false;
    }
    return true;
}

QString othersCanWriteOpen(int fd, const QString& directory)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return QStringLiteral("%1: %2").arg(directory, qt_error_string(errno));
    struct statvfs volume {};
    if (::fstatvfs(fd, &volume) == 0 && (volume.f_flag & ST_RDONLY))
        return {};
    if (info.st_uid != ::geteuid() && info.st_uid != 0)
        return QStringLiteral("%1: the directory belongs to another user (uid %2)")
            .arg(directory)
            .arg(info.st_uid);
    if ((info.st_mode & S_IWOTH) || ((info.st_mode & S_IWGRP) && !groupIsOursAlone(info.st_gid)))
        return QStringLiteral("%1: other users can write to the directory (mode %2)")
            .arg(directory)
            .arg(info.st_mode & 07777, 4, 8, QChar(u'0'));
    return {};
}

} // namespace

namespace BackUp {

Members membersIn(const QString& directory)
{
    return {exists(inDirectory(directory, PairFiles::kMasterPasswordFile)),
            exists(inDirectory(directory, PairFiles::kLinkFile))};
}

QString undoDirectory(const QString& dataDirectory)
{
    return inDirectory(dataDirectory, kUndoDirectory);
}

QString othersCanWrite(const QString& directory)
{
    const int fd =
        ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return QStringLiteral("%1: %2").arg(directory, qt_error_string(errno));
    QString reason = othersCanWriteOpen(fd, directory);
    ::close(fd);
    return reason;
}

DirectoryLock::DirectoryLock(const QString& directory, Mode mode)
{
    // The checks and the lock concern the directory opened, whatever its path leads to later.
    m_fd = ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0) {
        m_failure = QStringLiteral("%1: %2").arg(directory, qt_error_string(errno));
        return;
    }
    if (m_failure = othersCanWriteOpen(m_fd, directory); !m_failure.isEmpty())
        return;
    const int operation = mode == Mode::Shared ? LOCK_SH : LOCK_EX;
    if (::flock(m_fd, operation | LOCK_NB) == 0)
        return;
    // A file system that cannot lock (some network ones) is used as before, unlocked.
    if (errno != EWOULDBLOCK)
        return;
    if (!waitForLock(m_fd, operation)) {
        m_fd = -1; // the waiting thread closes it
        m_failure = QStringLiteral("%1: another program has been using the back-up directory "
                                   "for %2 seconds; try again when it is done")
                        .arg(directory)
                        .arg(kLockWait.count() / 1000);
    }
}

DirectoryLock::~DirectoryLock()
{
    // Closing the directory lets the lock go.
    if (m_fd >= 0)
        ::close(m_fd);
}

SaveResult copyPair(const QString& from, const QString& to)
{
    return copyBetween(from, Links::Follow, to, Links::Follow);
}

SaveResult removePair(const QString& directory, Links links)
{
    return removeIn(directory, links);
}

SaveResult backUpPair(const QString& dataDirectory, const QString& backUpDirectory)
{
    const DirectoryLock lock(backUpDirectory, DirectoryLock::Mode::Exclusive);
    if (!lock.failure().isEmpty())
        return SaveResult::failure(lock.failure());
    return copyBetween(dataDirectory, Links::Follow, backUpDirectory, Links::Replace);
}

SaveResult copyBackUpPair(const QString& from, const QString& to)
{
    // Taken in one order by every program, so that two moves between the same two
    // directories, opposite ways, cannot wait on each other.
    const QString fromKey = QFileInfo(from).canonicalFilePath();
    const QString toKey = QFileInfo(to).canonicalFilePath();
    const bool fromFirst = fromKey < toKey;
    std::optional<DirectoryLock> first;
    std::optional<DirectoryLock> second;
    first.emplace(fromFirst ? from : to, DirectoryLock::Mode::Exclusive);
    if (!first->failure().isEmpty())
        return SaveResult::failure(first->failure());
    if (fromKey != toKey || fromKey.isEmpty()) {
        second.emplace(fromFirst ? to : from, DirectoryLock::Mode::Exclusive);
        if (!second->failure().isEmpty())
            return SaveResult::failure(second->failure());
    }
    return copyBetween(from, Links::Replace, to, Links::Replace);
}

SaveResult removeBackUpPair(const QString& directory)
{
    const DirectoryLock lock(directory, DirectoryLock::Mode::Exclusive);
    if (!lock.failure().isEmpty())
        return SaveResult::failure(lock.failure());
    return removeIn(directory, Links::Replace);
}

RestoreOutcome restoreFromBackUp(const QString& dataDirectory, const QString& backUpDirectory)
{
    RestoreOutcome outcome;
    const QString undo = undoDirectory(dataDirectory);
    const auto failed = [&outcome](const QString& failure) {
        outcome.failure = failure;
        return outcome;
    };
    const DirectoryLock lock(backUpDirectory, DirectoryLock::Mode::Shared);
    if (!lock.failure().isEmpty())
        return failed(lock.failure());
    const PairFiles::SettledPair backUp = PairFiles::settledPair(backUpDirectory, Links::Replace);
    if (!backUp.failure.isEmpty())
        return failed(backUp.failure);
    if (backUp.masterPasswordFile.isEmpty() && !backUp.linkFile.isEmpty()) {
        outcome.status = RestoreOutcome::Status::NoMasterPasswordFile;
        return outcome;
    }
    const bool anyBackUp = !backUp.masterPasswordFile.isEmpty();

    if (SaveResult made = makePrivateDirectory(undo); !made)
        return failed(made.error());
    if (SaveResult settled = PairFiles::settlePairDirectory(dataDirectory); !settled)
        return failed(settled.error());
    if (SaveResult settled = PairFiles::settlePairDirectory(undo, Links::Replace); !settled)
        return failed(settled.error());
    const bool anyCurrent = membersIn(dataDirectory).any();

    // Both copies are made before either is put in place, so that the disk writes the first
    // while the second is copied. The kept pair is in place before the current one is replaced.
    PairFiles::PairReplacement keep(undo, Links::Replace);
    if (SaveResult staged =
            stageCopyOfPair(keep, PairFiles::settledPair(dataDirectory), Links::Follow);
        !staged)
        return failed(staged.error());
    std::optional<PairFiles::PairReplacement> restore;
    if (anyBackUp) {
        restore.emplace(dataDirectory);
        if (SaveResult staged = stageCopyOfPair(*restore, backUp, Links::Replace); !staged)
            return failed(staged.error());
    }
    if (SaveResult kept = keep.commit(); !kept) {
        // Kept but maybe not durable: the current pair is not replaced on such a footing.
        outcome.keptForUndo = kept.made() && anyCurrent;
        return failed(kept.error());
    }
    outcome.keptForUndo = anyCurrent;
    if (!restore) {
        outcome.status = RestoreOutcome::Status::NoBackUpFiles;
        return outcome;
    }
    const SaveResult restored = restore->commit();
    if (!restored.made())
        return failed(restored.error());
    outcome.status = RestoreOutcome::Status::Restored;
    outcome.unsure = !restored.ok();
    outcome.failure = restored.ok() ? QString() : restored.error();
    return outcome;
}

UndoOutcome undoRestore(const QString& dataDirectory)
{
    UndoOutcome outcome;
    const QString undo = undoDirectory(dataDirectory);
    if (!isDirectory(undo)) {
        outcome.status = UndoOutcome::Status::NoUndoDirectory;
        return outcome;
    }
    if (SaveResult settled = PairFiles::settlePairDirectory(undo, Links::Replace); !settled) {
        outcome.failure = settled.error();
        return outcome;
    }
    if (!membersIn(undo).any()) {
        outcome.status = UndoOutcome::Status::NothingKept;
        return outcome;
    }
    const SaveResult undone = copyBetween(undo, Links::Replace, dataDirectory, Links::Follow);
    outcome.pairReplaced = undone.made();
    if (!undone.ok()) {
        // The kept pair stays while the undone one may not outlast a power cut.
        outcome.status = undone.made() ? UndoOutcome::Status::Undone : UndoOutcome::Status::Failed;
        outcome.unsure = undone.made();
        outcome.failure = undone.error();
        return outcome;
    }
    // Removed as a unit too: half a kept pair, undone later, would tear the current one.
    const SaveResult cleared = removeIn(undo, Links::Replace);
    if (!cleared.made()) {
        outcome.failure = cleared.error();
        return outcome;
    }
    outcome.status = UndoOutcome::Status::Undone;
    outcome.unsure = !cleared.ok();
    outcome.failure = cleared.ok() ? QString() : cleared.error();
    return outcome;
}

Refusal refusal(const QString& directory, const QString& programDirectory,
                const QString& dataDirectory)
{
    // Compared as written and as the file system resolves them, so that neither a trailing
    // "/", a "." nor a link leads around the comparison.
    const auto forms = [](const QString& path) {
        QStringList list{QDir::cleanPath(path)};
        const QString canonical = QFileInfo(path).canonicalFilePath();
        if (!canonical.isEmpty())
            list << canonical;
        return list;
    };
    const QStringList chosen = forms(directory);
    for (const QString& program : forms(programDirectory)) {
        if (chosen.contains(program))
            return Refusal::ProgramDirectory;
    }
    for (const QString& data : forms(dataDirectory)) {
        const QString inside = data.endsWith(u'/') ? data : data + u'/';
        for (const QString& c : chosen) {
            if (c == data || c.startsWith(inside))
                return Refusal::DataDirectory;
        }
    }
    // A directory that cannot be opened is left to the checks that say it is not there.
    if (isDirectory(directory) && !othersCanWrite(directory).isEmpty())
        return Refusal::SharedDirectory;
    return Refusal::None;
}

} // namespace BackUp
