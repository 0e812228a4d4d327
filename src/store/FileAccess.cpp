#include "FileAccess.h"

#include "PairFiles.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

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

void removeStaleTemporaries(const QString& dataDirectory)
{
    // The safe writer's temporaries: a data file's name, a dot and six random letters or digits.
    static const QRegularExpression temporary(
        QStringLiteral("^(QuiURL\\.dab|QuiFil\\.ini|QuiSetts\\.ini)\\.[A-Za-z0-9]{6}$"));
    bool removed = false;
    const QDir dir(dataDirectory);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (!temporary.match(name).hasMatch())
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
