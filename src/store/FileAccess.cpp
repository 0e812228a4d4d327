#include "FileAccess.h"

#include "PairFiles.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString openRegularFile(QFile& file, const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    // Non-blocking, so that opening a pipe cannot wait for a writer.
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return qt_error_string(errno);
    const auto refuse = [fd](const QString& reason) {
        ::close(fd);
        return reason;
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return refuse(qt_error_string(errno));
    if (!S_ISREG(st.st_mode))
        return refuse(QStringLiteral("not a regular file"));
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return refuse(qt_error_string(errno));
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return refuse(file.errorString());
    return {};
}

QString brokenLinkProblem(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
        return {};
    if (::stat(name.constData(), &st) == 0)
        return {};
    const int error = errno;
    return QStringLiteral("a symbolic link to %1, which cannot be reached (%2)")
        .arg(QFile::symLinkTarget(path), qt_error_string(error));
}

namespace {

// The safe writer's temporaries: a data file's name, a dot and six ASCII letters or digits.
// Matched by hand: a regular expression would bring its library's code in at every start.
bool isTemporaryName(QStringView name)
{
    const auto letterOrDigit = [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
    };
    for (const QLatin1StringView file :
         {QLatin1StringView("QuiURL.dab"), QLatin1StringView("QuiFil.ini"),
          QLatin1StringView("QuiSetts.ini")}) {
        if (name.size() == file.size() + 7 && name.startsWith(file) &&
            name.at(file.size()) == u'.') {
            const QStringView tail = name.sliced(file.size() + 1);
            return std::all_of(tail.begin(), tail.end(), letterOrDigit);
        }
    }
    return false;
}

} // namespace

void removeStaleTemporaries(const QString& dataDirectory)
{
    bool removed = false;
    const QDir dir(dataDirectory);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (!isTemporaryName(name))
            continue;
        const QByteArray path = QFile::encodeName(dir.filePath(name));
        struct stat st {};
        // Only a plain file of ours; a link would point somewhere else.
        if (::lstat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        // One that cannot go does no harm; it is tried again at the next start.
        if (::unlink(path.constData()) == 0)
            removed = true;
    }
    if (removed)
        syncDirectory(dataDirectory);
}
