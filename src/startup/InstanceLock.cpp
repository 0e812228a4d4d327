#include "InstanceLock.h"

#include "Startup.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qsizetype kHolderMaxSize = 256;

QString systemError()
{
    return qt_error_string(errno);
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// "quillor-cli 42" as the holder wrote it, or empty when it has not yet, or wrote something else.
QString holderIn(int fd, bool& cli)
{
    char text[kHolderMaxSize];
    const ssize_t got = ::pread(fd, text, sizeof text, 0);
    cli = false;
    if (got <= 0)
        return {};
    const QList<QByteArray> words = QByteArray(text, qsizetype(got)).trimmed().split(' ');
    bool number = false;
    if (words.size() != 2 || (words[0] != "quillor" && words[0] != "quillor-cli"))
        return {};
    const qint64 pid = words[1].toLongLong(&number);
    if (!number || pid <= 0)
        return {};
    cli = words[0] == "quillor-cli";
    return QStringLiteral("%1 (pid %2)").arg(QString::fromLatin1(words[0])).arg(pid);
}

} // namespace

InstanceLock::InstanceLock(QString holderName)
    : m_holderName(std::move(holderName))
{
}

InstanceLock::~InstanceLock()
{
    release();
}

QString InstanceLock::pathFor(const QString& dataDirectory)
{
    return dataDirectory + u'/' + kLockFileName;
}

InstanceLock::Outcome InstanceLock::acquire(const QString& dataDirectory)
{
    release();
    m_holder.clear();
    m_heldByCli = false;
    m_failure.clear();
    m_path = pathFor(dataDirectory);
    const QByteArray name = QFile::encodeName(m_path);
    const auto failed = [this](const QString& reason) {
        m_failure = QStringLiteral("%1: %2").arg(m_path, reason);
        return Outcome::Failed;
    };
    // A holder removes the file as it lets go: a lock taken on a file that has left its name
    // in the meantime locks nothing, and is taken again on the file there now.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int fd =
            ::open(name.constData(),
                   O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
        if (fd < 0) {
            if (errno == EISDIR)
                return failed(QStringLiteral("a directory stands at the lock's name; remove it"));
            if (errno == ELOOP)
                return failed(QStringLiteral("a symbolic link stands at the lock's name; "
                                             "remove it"));
            return failed(systemError());
        }
        struct stat opened {};
        if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            const QString reason = S_ISREG(opened.st_mode)
                                       ? systemError()
                                       : QStringLiteral("not a regular file; remove it");
            ::close(fd);
            return failed(reason);
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            if (error == EWOULDBLOCK)
                m_holder = holderIn(fd, m_heldByCli);
            ::close(fd);
            if (error == EWOULDBLOCK)
                return Outcome::Held;
            errno = error;
            return failed(systemError());
        }
        struct stat now {};
        if (::stat(name.constData(), &now) != 0 || !sameFile(now, opened)) {
            ::close(fd);
            continue;
        }
        // An empty file, or one a killed holder left with anything in it, is simply ours now.
        const QByteArray holder =
            m_holderName.toLatin1() + ' ' + QByteArray::number(qint64(::getpid())) + '\n';
        // Should this fail, the lock holds all the same; only a refused one's message is poorer.
        if (::ftruncate(fd, 0) == 0)
            (void)!::pwrite(fd, holder.constData(), std::size_t(holder.size()), 0);
        m_fd = fd;
        return Outcome::Locked;
    }
    return failed(QStringLiteral("the lock file keeps being replaced"));
}

void InstanceLock::release()
{
    if (m_fd < 0)
        return;
    // Removed while still held, so that no one can lock the file on its way out.
    ::unlink(QFile::encodeName(m_path).constData());
    ::close(m_fd);
    m_fd = -1;
}

bool InstanceLock::isHeld(const QString& dataDirectory)
{
    const int fd = ::open(QFile::encodeName(pathFor(dataDirectory)).constData(),
                          O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}
