#include "ConflictCopies.h"

#include "PairFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ConflictCopies {

namespace {

// What each sync program puts between a file's name and its extension, strict enough that no
// file of ours, nor a temporary, ever matches.
const QRegularExpression& markPattern()
{
    static const QRegularExpression pattern(QStringLiteral(
        "^(QuiURL|QuiFil)("
        // Syncthing: the date, the time and the first seven characters of the device ID.
        "\\.sync-conflict-\\d{8}-\\d{6}-[A-Z0-9]{7}"
        // Nextcloud and ownCloud, the user's name perhaps before the date and time.
        "| \\(conflicted copy (?:[^()/]+ )?\\d{4}-\\d{2}-\\d{2} \\d{6}\\)"
        // ownCloud before 2.5.
        "|_conflict-\\d{8}-\\d{6}"
        // Dropbox: whose copy, the date, and a number when there are several that day.
        "| \\([^()/]+['\\x{2019}]s conflicted copy \\d{4}-\\d{2}-\\d{2}(?: \\(\\d+\\))?\\)"
        // OneDrive: the computer's name, perhaps a number after it.
        "|-[A-Za-z0-9][A-Za-z0-9-]{0,62}"
        ")\\.(dab|ini)$"));
    return pattern;
}

QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

QString systemError()
{
    return qt_error_string(errno);
}

} // namespace

std::optional<Copy> recognise(const QString& fileName)
{
    const QRegularExpressionMatch match = markPattern().match(fileName);
    if (!match.hasMatch())
        return std::nullopt;
    const bool link = match.capturedView(1) == u"QuiURL";
    if (link != (match.capturedView(3) == u"dab"))
        return std::nullopt;
    return Copy{fileName, link ? Of::LinkFile : Of::MasterPasswordFile, match.captured(2)};
}

std::vector<Copy> find(const QString& dataDirectory)
{
    std::vector<Copy> copies;
    const QStringList names = QDir(dataDirectory).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString& name : names) {
        auto copy = recognise(name);
        if (copy && QFileInfo(dataDirectory + u'/' + name).isFile())
            copies.push_back(std::move(*copy));
    }
    return copies;
}

QString companionMasterPasswordFile(const QString& dataDirectory, const Copy& linkFileCopy)
{
    const QString path =
        dataDirectory + QStringLiteral("/QuiFil") + linkFileCopy.mark + QStringLiteral(".ini");
    return QFileInfo(path).isFile() ? path : QString();
}

SaveResult putAside(const QString& dataDirectory, const QString& name, QString& movedTo)
{
    const QString aside = dataDirectory + u'/' + kMergedDirectory;
    if (::mkdir(native(aside).constData(), 0700) == 0) {
        syncDirectory(dataDirectory);
    } else if (errno != EEXIST) {
        return SaveResult::failure(QStringLiteral("%1: %2").arg(aside, systemError()));
    }
    struct stat info {};
    if (::lstat(native(aside).constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return SaveResult::failure(
            QStringLiteral("%1 is in the way: it is not a folder").arg(aside));
    const QString from = dataDirectory + u'/' + name;
    const QFileInfo parts(name);
    for (int n = 1; n < 1000; ++n) {
        const QString target = n == 1 ? aside + u'/' + name
                                      : QStringLiteral("%1/%2 (%3).%4")
                                            .arg(aside, parts.completeBaseName())
                                            .arg(n)
                                            .arg(parts.suffix());
        // Never over a copy merged before.
        if (::renameat2(AT_FDCWD, native(from).constData(), AT_FDCWD, native(target).constData(),
                        RENAME_NOREPLACE) == 0) {
            movedTo = target;
            if (!syncDirectory(aside) || !syncDirectory(dataDirectory))
                return SaveResult::madeUnsure(
                    QStringLiteral("%1: %2").arg(dataDirectory, systemError()));
            return {};
        }
        if (errno != EEXIST)
            return SaveResult::failure(QStringLiteral("%1: %2").arg(from, systemError()));
    }
    return SaveResult::failure(QStringLiteral("%1 holds too many copies of %2").arg(aside, name));
}

} // namespace ConflictCopies
