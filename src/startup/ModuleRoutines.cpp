#include "ModuleRoutines.h"

#include <QByteArray>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int TestFileReadable(const QString& path)
{
    if (path.isEmpty())
        return ENOENT;
    const QByteArray native = path.toLocal8Bit();
    // Non-blocking: a pipe in the file's place must not stop the start.
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return errno != 0 ? errno : EIO;
    ::close(fd);
    return 0;
}

int TestDirectory(const QString& path)
{
    if (path.isEmpty())
        return ENOENT;
    struct stat info {};
    if (::stat(path.toLocal8Bit().constData(), &info) != 0)
        return errno != 0 ? errno : EIO;
    return S_ISDIR(info.st_mode) ? 0 : kNotADirectory;
}

QString WindowsDirectory()
{
    return {};
}

QByteArray CutAtNul(const QByteArray& text)
{
    const qsizetype nul = text.indexOf('\0');
    return nul < 0 ? text : text.left(nul);
}

QString CutAtNul(const QString& text)
{
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}
