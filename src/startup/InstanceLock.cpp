#include "InstanceLock.h"

#include "Startup.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

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

QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

// A runtime directory the system made for this user alone; anything else is not one to rely on.
bool usableRuntimeDirectory(const QString& path)
{
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return false;
    struct stat info {};
    return ::stat(native(path).constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

// Makes the lock directory, or finds it; empty when it is fit to hold locks, else why not. It
// must be a directory of ours that no one else can enter: another user's, or a link, could
// hold or remove our lock.
QString prepareLockDirectory(const QString& path)
{
    const QByteArray name = native(path);
    if (::mkdir(name.constData(), 0700) == 0) {
        // Whatever the umask took away, the owner needs it all.
        (void)::chmod(name.constData(), 0700);
    } else if (errno != EEXIST) {
        return QStringLiteral("%1: %2").arg(path, systemError());
    }
    struct stat info {};
    if (::lstat(name.constData(), &info) != 0)
        return QStringLiteral("%1: %2").arg(path, systemError());
    if (!S_ISDIR(info.st_mode))
        return QStringLiteral("%1: not a directory; remove it").arg(path);
    if (info.st_uid != ::geteuid())
        return QStringLiteral("%1: the directory belongs to another user").arg(path);
    if ((info.st_mode & 07777) != 0700)
        return QStringLiteral("%1: others can use the directory (its mode is %2, not 700)")
            .arg(path)
            .arg(info.st_mode & 07777, 3, 8, QLatin1Char('0'));
    return {};
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

QString InstanceLock::lockDirectory()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (usableRuntimeDirectory(runtime))
        return QDir::cleanPath(runtime) + QStringLiteral("/quillor");
    return QDir::cleanPath(QDir::tempPath()) + QStringLiteral("/quillor-%1").arg(::geteuid());
}

QString InstanceLock::pathFor(const QString& dataDirectory)
{
    const QFileInfo info(dataDirectory);
    QString real = info.canonicalFilePath();
    if (real.isEmpty())
        real = QDir::cleanPath(info.absoluteFilePath());
    const QByteArray key =
        QCryptographicHash::hash(native(real), QCryptographicHash::Sha256).toHex().left(32);
    return lockDirectory() + QStringLiteral("/data-%1.lock").arg(QString::fromLatin1(key));
}

void InstanceLock::removeOldLock(const QString& dataDirectory)
{
    const QByteArray name = native(dataDirectory + u'/' + kLockFileName);
    const int fd = ::open(name.constData(),
                          O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return;
    struct stat opened {};
    struct stat named {};
    // A program of an earlier version that still runs holds it: its lock stays with it.
    if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::lstat(name.constData(), &named) == 0 &&
        sameFile(opened, named))
        ::unlink(name.constData());
    ::close(fd);
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
    if (const QString refused = prepareLockDirectory(QFileInfo(m_path).path());
        !refused.isEmpty()) {
        m_failure = refused;
        return Outcome::Failed;
    }
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
        removeOldLock(dataDirectory);
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
