#include "OutputFile.h"

#include <QFile>
#include <QList>
#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// As many as the kernel follows in one path.
constexpr int kMostLinks = 40;
constexpr int kTemporaryAttempts = 100;

QString systemError(int error)
{
    return qt_error_string(error);
}

// A name for the temporary beside name: a dot and six letters or digits.
QByteArray temporaryName(const QByteArray& name)
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray out = name + '.';
    for (int i = 0; i < 6; ++i)
        out += kLetters[QRandomGenerator::system()->bounded(int(sizeof kLetters) - 1)];
    return out;
}

// Whether name is one that temporaryName() gives for target.
bool isTemporaryName(const QByteArray& name, const QByteArray& target)
{
    if (name.size() != target.size() + 7 || !name.startsWith(target) || name[target.size()] != '.')
        return false;
    for (qsizetype i = target.size() + 1; i < name.size(); ++i) {
        const char c = name[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

// The named temporary of the file being written, for the signal handler: a clear-text export
// must not outlive a Ctrl-C. Only a kill, which no handler sees, leaves it (readable by the user
// alone).
volatile std::sig_atomic_t signalDirectory = -1;
char signalName[NAME_MAX + 1];
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
static_assert(std::size(kEndingSignals) == OutputFile::kEndingSignalCount);

extern "C" void removeTemporaryAndEnd(int signal)
{
    if (signalDirectory >= 0)
        ::unlinkat(int(signalDirectory), signalName, 0);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// Whether a user other than the one running the command may add or replace names in the
// directory: its group counts when that is not the user's own.
bool othersMayWrite(const struct stat& directory)
{
    return (directory.st_mode & S_IWOTH) ||
           ((directory.st_mode & S_IWGRP) && directory.st_gid != ::getegid());
}

} // namespace

OutputFile::OutputFile(const QString& path)
    : m_shown(path)
{
    if (resolve(path)) {
        removeStaleTemporaries();
        createTemporary();
    }
}

OutputFile::~OutputFile()
{
    cancel();
    unguard();
    if (m_directory >= 0)
        ::close(m_directory);
}

QString OutputFile::error() const
{
    return m_error.isEmpty() ? QString() : QStringLiteral("%1: %2").arg(m_shown, m_error);
}

void OutputFile::fail(const QString& reason)
{
    if (m_error.isEmpty())
        m_error = reason.isEmpty() ? QStringLiteral("write failed") : reason;
}

// Walks the path a name at a time, from an open directory to the next, so that every link on
// the way is seen before it is followed: one on the way as the kernel's link protection has it,
// whether or not the system turns that on; the one at the end as the class comment says.
bool OutputFile::resolve(const QString& path)
{
    QByteArray rest = QFile::encodeName(path);
    const auto openStart = [this](const QByteArray& from) {
        if (m_directory >= 0)
            ::close(m_directory);
        m_directory = ::open(from.startsWith('/') ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_directory < 0)
            fail(systemError(errno));
        return m_directory >= 0;
    };
    if (!openStart(rest))
        return false;
    int links = 0;
    for (;;) {
        while (rest.startsWith('/'))
            rest.remove(0, 1);
        const qsizetype slash = rest.indexOf('/');
        const bool last = slash < 0;
        const QByteArray name = last ? rest : rest.left(slash);
        const QByteArray after = last ? QByteArray() : rest.mid(slash + 1);
        if (!last && name == ".") {
            rest = after;
            continue;
        }
        if (last && (name.isEmpty() || name == "." || name == "..")) {
            fail(systemError(EISDIR));
            return false;
        }
        struct stat st {};
        if (::fstatat(m_directory, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (!last || errno != ENOENT) {
                fail(systemError(errno));
                return false;
            }
            m_name = name;
            m_targetExists = false;
            return true;
        }
        if (!S_ISLNK(st.st_mode)) {
            if (!last) {
                const int next = ::openat(m_directory, name.constData(),
                                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (next < 0) {
                    fail(systemError(errno));
                    return false;
                }
                ::close(m_directory);
                m_directory = next;
                rest = after;
                continue;
            }
            if (S_ISDIR(st.st_mode)) {
                fail(systemError(EISDIR));
                return false;
            }
            // The rename would put a plain file in place of a device or a pipe.
            if (!S_ISREG(st.st_mode)) {
                fail(QStringLiteral("not a regular file"));
                return false;
            }
            m_name = name;
            m_targetExists = true;
            return true;
        }
        struct stat dir {};
        if (::fstat(m_directory, &dir) != 0) {
            fail(systemError(errno));
            return false;
        }
        const bool mine = st.st_uid == ::geteuid();
        if (last && !mine) {
            fail(QStringLiteral("a link that another user owns; it is not followed (give the "
                                "file it leads to, or another name)"));
            return false;
        }
        // Without the sticky bit, anyone who writes the directory can swap the link for theirs.
        if (last && othersMayWrite(dir) && !(dir.st_mode & S_ISVTX)) {
            fail(QStringLiteral("a link in a directory that other users write to; it is not "
                                "followed (give the file it leads to, or another name)"));
            return false;
        }
        if (!last && (dir.st_mode & S_ISVTX) && (dir.st_mode & S_IWOTH) && !mine &&
            st.st_uid != dir.st_uid) {
            fail(QStringLiteral("%1 on the way is a link that another user owns in a shared "
                                "directory; it is not followed")
                     .arg(QFile::decodeName(name)));
            return false;
        }
        if (++links > kMostLinks) {
            fail(systemError(ELOOP));
            return false;
        }
        char target[PATH_MAX];
        const ssize_t n = ::readlinkat(m_directory, name.constData(), target, sizeof target);
        if (n <= 0 || n == ssize_t(sizeof target)) {
            fail(systemError(n < 0 ? errno : n == 0 ? ENOENT : ENAMETOOLONG));
            return false;
        }
        rest = QByteArray(target, n) + (last ? QByteArray() : '/' + after);
        if (rest.startsWith('/') && !openStart(rest))
            return false;
    }
}

// Only what a kill of an earlier write left: a plain file of the user's alone, at no other name,
// never through a link; a file of the same name made otherwise is not ours to remove.
void OutputFile::removeStaleTemporaries()
{
    const int fd = ::openat(m_directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return;
    }
    QList<QByteArray> found;
    while (const dirent* entry = ::readdir(dir)) {
        if (isTemporaryName(QByteArray(entry->d_name), m_name))
            found.append(QByteArray(entry->d_name));
    }
    ::closedir(dir);
    for (const QByteArray& name : std::as_const(found)) {
        struct stat st {};
        if (::fstatat(m_directory, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 07777) == 0600 &&
            st.st_nlink == 1)
            ::unlinkat(m_directory, name.constData(), 0);
    }
}

bool OutputFile::createTemporary()
{
    // Unnamed first: a kill part-way leaves nothing behind. /proc gives it its name at the end.
    static const bool canName = ::access("/proc/self/fd", X_OK) == 0;
    if (canName) {
        m_fd = ::openat(m_directory, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (m_fd >= 0)
            return true;
    }
    // Some file systems have no unnamed files: a named one, never readable by others, not even
    // for a moment, and removed on failure.
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        const QByteArray candidate = temporaryName(m_name);
        m_fd = ::openat(m_directory, candidate.constData(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (m_fd >= 0) {
            m_temporary = candidate;
            guard();
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    fail(systemError(errno));
    return false;
}

bool OutputFile::write(QByteArrayView bytes)
{
    if (!m_error.isEmpty())
        return false;
    const char* at = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, at, std::size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            fail(systemError(n < 0 ? errno : ENOSPC));
            return false;
        }
        at += n;
        left -= n;
    }
    return true;
}

SaveResult OutputFile::commit()
{
    const auto failed = [this] {
        const QString message = error();
        cancel();
        return SaveResult::failure(message);
    };
    if (!m_error.isEmpty())
        return failed();
    if (::fchmod(m_fd, 0600) != 0 || ::fsync(m_fd) != 0) {
        fail(systemError(errno));
        return failed();
    }
    if (m_temporary.isEmpty()) {
        char self[64];
        std::snprintf(self, sizeof self, "/proc/self/fd/%d", m_fd);
        // A new file takes its name at once: no temporary name for a kill to leave behind. One
        // that appeared meanwhile is replaced as any other.
        if (!m_targetExists) {
            if (::linkat(AT_FDCWD, self, m_directory, m_name.constData(), AT_SYMLINK_FOLLOW) == 0) {
                const int fd = m_fd;
                m_fd = -1;
                const bool closed = ::close(fd) == 0;
                const int closeError = errno;
                if (::fsync(m_directory) != 0)
                    return SaveResult::madeUnsure(
                        QStringLiteral("%1: %2").arg(m_shown, systemError(errno)));
                if (!closed)
                    return SaveResult::madeUnsure(
                        QStringLiteral("%1: %2").arg(m_shown, systemError(closeError)));
                return {};
            }
            if (errno != EEXIST) {
                fail(systemError(errno));
                return failed();
            }
        }
        for (int attempt = 0; attempt < kTemporaryAttempts && m_temporary.isEmpty(); ++attempt) {
            const QByteArray candidate = temporaryName(m_name);
            if (::linkat(AT_FDCWD, self, m_directory, candidate.constData(), AT_SYMLINK_FOLLOW) ==
                0) {
                m_temporary = candidate;
                guard();
            } else if (errno != EEXIST)
                break;
        }
        if (m_temporary.isEmpty()) {
            fail(systemError(errno));
            return failed();
        }
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        fail(systemError(errno));
        return failed();
    }
    if (::renameat(m_directory, m_temporary.constData(), m_directory, m_name.constData()) != 0) {
        fail(systemError(errno));
        return failed();
    }
    m_temporary.clear();
    unguard();
    // The new file is in place; only its name may not outlast a power cut.
    if (::fsync(m_directory) != 0)
        return SaveResult::madeUnsure(QStringLiteral("%1: %2").arg(m_shown, systemError(errno)));
    return {};
}

void OutputFile::cancel()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temporary.isEmpty()) {
        ::unlinkat(m_directory, m_temporary.constData(), 0);
        m_temporary.clear();
    }
    unguard();
    if (m_error.isEmpty())
        m_error = QStringLiteral("writing cancelled");
}

void OutputFile::guard()
{
    if (m_guarded || std::size_t(m_temporary.size()) >= sizeof signalName)
        return;
    std::memcpy(signalName, m_temporary.constData(), std::size_t(m_temporary.size()) + 1);
    signalDirectory = m_directory;
    struct sigaction remove {};
    remove.sa_handler = removeTemporaryAndEnd;
    sigemptyset(&remove.sa_mask);
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
        ::sigaction(kEndingSignals[i], nullptr, &m_previous[i]);
        // A signal the user has the command ignore (nohup) stays ignored.
        if (m_previous[i].sa_handler != SIG_IGN)
            ::sigaction(kEndingSignals[i], &remove, nullptr);
    }
    m_guarded = true;
}

void OutputFile::unguard()
{
    if (!m_guarded)
        return;
    signalDirectory = -1;
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
        ::sigaction(kEndingSignals[i], &m_previous[i], nullptr);
    m_guarded = false;
}
