#include "FileIdentity.h"

#include "PairFiles.h"

#include <QFile>

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
