#include "FileIdentity.h"

#include "PairFiles.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

FileIdentity identityFrom(const struct stat& info)
{
    FileIdentity identity;
    identity.exists = true;
    identity.device = info.st_dev;
    identity.inode = info.st_ino;
    identity.size = info.st_size;
    identity.modifiedNs = qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
    return identity;
}

} // namespace

FileIdentity fileIdentity(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return identityFrom(info);
}

FileIdentity fileIdentity(int fd)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return {};
    return identityFrom(info);
}

PairIdentity pairIdentity(const QString& directory)
{
    return {fileIdentity(directory + u'/' + PairFiles::kMasterPasswordFile),
            fileIdentity(directory + u'/' + PairFiles::kLinkFile)};
}

namespace {

QString mismatch(const FileIdentity& expected, const FileIdentity& found)
{
    if (expected == found)
        return {};
    if (!found.exists)
        return QStringLiteral("it was removed");
    if (!expected.exists)
        return QStringLiteral("it was created");
    if (found.device != expected.device || found.inode != expected.inode)
        return QStringLiteral("it was replaced by another file");
    return QStringLiteral("it was written to");
}

} // namespace

QString unexpectedFile(const ExpectedFile& expected, const QString& path)
{
    return expected ? mismatch(*expected, fileIdentity(path)) : QString();
}

QString unexpectedFile(const ExpectedFile& expected, int fd)
{
    return expected ? mismatch(*expected, fileIdentity(fd)) : QString();
}

QString unexpectedMasterPasswordFile(const ExpectedLinkFile& expected, const QString& linkFilePath)
{
    if (!expected.masterPasswordFile)
        return {};
    const QString path = QFileInfo(linkFilePath).path() + u'/' + PairFiles::kMasterPasswordFile;
    if (const QString changed = unexpectedFile(expected.masterPasswordFile, path);
        !changed.isEmpty())
        return QStringLiteral("%1 changed on disk: %2").arg(path, changed);
    return {};
}
