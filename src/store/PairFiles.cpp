#include "PairFiles.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr qsizetype kMarkMaxSize = 4096;
// A copy that goes through this process moves this much at a time, so that a file of any size
// costs the same memory; one the kernel makes moves a write-behind step at a time.
constexpr std::size_t kCopyChunk = 1 << 20;
// Written-out copies are handed to the disk this much at a time, so that the disk works while
// the copy goes on and the closing flush waits for little.
constexpr off_t kWriteBehind = 8 << 20;
const QByteArray kReplaceWord = QByteArrayLiteral("replace ");
const QByteArray kRemoveWord = QByteArrayLiteral("remove ");

QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

QString systemError()
{
    return qt_error_string(errno);
}

SaveResult failure(const QString& path, const QString& reason)
{
    return SaveResult::failure(QStringLiteral("%1: %2").arg(path, reason));
}

bool isPairFile(QByteArrayView name)
{
    return name == PairFiles::kMasterPasswordFile.toLatin1() ||
           name == PairFiles::kLinkFile.toLatin1();
}

QString stagedName(const QString& name)
{
    return PairFiles::kStagedPrefix + name;
}

// Where a file of the pair really lives. A link the user placed (a link file kept in a
// synchronised folder, say) is followed where links are, so that the new file replaces its
// target and the link stays a link.
QString targetOf(const QString& directory, const QString& name, PairFiles::Links links)
{
    const QString path = directory + u'/' + name;
    if (links == PairFiles::Links::Replace)
        return path;
    const QFileInfo info(path);
    if (!info.isSymLink())
        return path;
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.symLinkTarget() : canonical;
}

// The new file is written beside the file it replaces, so that the rename stays in one file
// system.
QString stagedPathFor(const QString& target)
{
    const QFileInfo info(target);
    return info.absolutePath() + u'/' + stagedName(info.fileName());
}

void syncDirectoryOf(const QString& path)
{
    syncDirectory(QFileInfo(path).absolutePath());
}

bool lexists(const QString& path)
{
    struct stat info {};
    return ::lstat(native(path).constData(), &info) == 0;
}

// Removes a file whether or not it is there.
bool removeIfPresent(const QString& path)
{
    return ::unlink(native(path).constData()) == 0 || errno == ENOENT;
}

struct MarkAction {
    bool replace = false;
    QString name;
};

std::optional<std::vector<MarkAction>> parseMark(QByteArrayView text)
{
    std::vector<MarkAction> actions;
    for (const QByteArray& whole : text.toByteArray().split('\n')) {
        QByteArrayView line(whole);
        if (line.isEmpty())
            continue;
        MarkAction action;
        if (line.startsWith(kReplaceWord)) {
            action.replace = true;
            line = line.sliced(kReplaceWord.size());
        } else if (line.startsWith(kRemoveWord)) {
            line = line.sliced(kRemoveWord.size());
        } else {
            return std::nullopt;
        }
        if (!isPairFile(line))
            return std::nullopt;
        action.name = QString::fromLatin1(line);
        actions.push_back(action);
    }
    return actions;
}

// Reads the commit mark without following a link or waiting on a pipe in its place.
std::optional<QByteArray> readMark(const QString& path, QString& error)
{
    const int fd = ::open(native(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        error = systemError();
        return std::nullopt;
    }
    struct stat info {};
    QByteArray text;
    if (::fstat(fd, &info) != 0) {
        error = systemError();
    } else if (!S_ISREG(info.st_mode) || info.st_size > kMarkMaxSize) {
        error = QStringLiteral("not a commit mark");
    } else {
        text.resize(qsizetype(info.st_size));
        const ssize_t got = ::read(fd, text.data(), std::size_t(text.size()));
        if (got != ssize_t(text.size()))
            error = got < 0 ? systemError() : QStringLiteral("cannot read the commit mark");
    }
    ::close(fd);
    if (!error.isEmpty())
        return std::nullopt;
    return text;
}

// Every step may already have been done by an earlier, interrupted run. Once every file is in
// place, a directory that cannot be synced makes the result madeUnsure.
SaveResult applyMark(const QString& directory, const std::vector<MarkAction>& actions,
                     PairFiles::Links links)
{
    bool synced = true;
    for (const MarkAction& action : actions) {
        if (action.replace) {
            const QString target = targetOf(directory, action.name, links);
            const QString staged = stagedPathFor(target);
            if (::rename(native(staged).constData(), native(target).constData()) != 0 &&
                errno != ENOENT)
                return failure(target, systemError());
            synced = syncDirectory(QFileInfo(target).absolutePath()) && synced;
        } else if (const QString path = directory + u'/' + action.name; !removeIfPresent(path)) {
            return failure(path, systemError());
        }
    }
    synced = syncDirectory(directory) && synced;
    const QString mark = directory + u'/' + PairFiles::kCommitMark;
    if (!removeIfPresent(mark))
        return failure(mark, systemError());
    if (!syncDirectory(directory) || !synced)
        return SaveResult::madeUnsure(QStringLiteral("%1: %2").arg(directory, systemError()));
    return {};
}

} // namespace

bool syncDirectory(const QString& directory)
{
    const int fd = ::open(native(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

namespace PairFiles {

StagedFile::StagedFile(QString path)
    : m_path(std::move(path))
{
    const QByteArray name = native(m_path);
    // A file left by an interrupted run must not lend its bytes, its mode or its link.
    if (!removeIfPresent(m_path)) {
        fail(systemError());
        return;
    }
    m_fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_fd < 0)
        fail(systemError());
}

StagedFile::~StagedFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void StagedFile::fail(const QString& reason)
{
    if (m_error.isEmpty())
        m_error = reason;
}

bool StagedFile::write(QByteArrayView bytes)
{
    if (!m_error.isEmpty())
        return false;
    const char* data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, data, std::size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            fail(n < 0 ? systemError() : QStringLiteral("No space left on device"));
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
}

bool StagedFile::copyFrom(const QString& source, Links links)
{
    if (!m_error.isEmpty())
        return false;
    // Non-blocking, so that a pipe in the file's place is refused instead of waited on.
    const int in = ::open(native(source).constData(),
                          O_RDONLY | O_CLOEXEC | O_NONBLOCK |
                              (links == Links::Replace ? O_NOFOLLOW : 0));
    if (in < 0) {
        fail(errno == ELOOP && links == Links::Replace
                 ? QStringLiteral("%1: a symbolic link, which is not followed here").arg(source)
                 : QStringLiteral("%1: %2").arg(source, systemError()));
        return false;
    }
    struct stat info {};
    if (::fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
        fail(QStringLiteral("%1: not a regular file").arg(source));
        ::close(in);
        return false;
    }
    // The kernel copies without passing the bytes through this process; where it cannot, the
    // bytes go through one buffer. Both run to the end of the file, whatever its size said.
    bool kernelCopy = true;
    off_t copied = 0;
    off_t handedToDisk = 0;
    std::vector<char> buffer;
    for (;;) {
        ssize_t n = -1;
        if (kernelCopy) {
            n = ::copy_file_range(in, nullptr, m_fd, nullptr, std::size_t(kWriteBehind), 0);
            // Some file systems refuse, or report an empty file, where a plain read works.
            const bool refused = n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                                           errno == EOPNOTSUPP || errno == EBADF);
            if (refused || (n == 0 && copied == 0 && info.st_size > 0)) {
                kernelCopy = false;
                continue;
            }
        } else {
            if (buffer.empty())
                buffer.resize(kCopyChunk);
            n = ::read(in, buffer.data(), buffer.size());
            if (n > 0 && !write(QByteArrayView(buffer.data(), qsizetype(n))))
                break;
        }
        if (n > 0)
            copied += n;
        if (copied - handedToDisk >= kWriteBehind) {
            // Only a hint: the flush in finish() reports what fails.
            ::sync_file_range(m_fd, handedToDisk, copied - handedToDisk, SYNC_FILE_RANGE_WRITE);
            handedToDisk = copied;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail(QStringLiteral("copying %1: %2").arg(source, systemError()));
        if (n <= 0)
            break;
    }
    ::close(in);
    return m_error.isEmpty();
}

SaveResult StagedFile::finish()
{
    if (m_error.isEmpty() && ::fsync(m_fd) != 0)
        fail(systemError());
    if (m_fd >= 0 && ::close(m_fd) != 0)
        fail(systemError());
    m_fd = -1;
    if (!m_error.isEmpty())
        return failure(m_path, m_error);
    return {};
}

PairReplacement::PairReplacement(QString directory, Links links)
    : m_directory(std::move(directory))
    , m_links(links)
{
}

PairReplacement::~PairReplacement()
{
    if (m_committed)
        return;
    for (auto& [name, file] : m_staged) {
        const QString path = file->path();
        file.reset();
        removeIfPresent(path);
    }
}

StagedFile& PairReplacement::stage(const QString& name)
{
    Q_ASSERT(name == kMasterPasswordFile || name == kLinkFile);
    auto file = std::make_unique<StagedFile>(stagedPathFor(targetOf(m_directory, name, m_links)));
    m_staged.emplace_back(name, std::move(file));
    return *m_staged.back().second;
}

void PairReplacement::remove(const QString& name)
{
    Q_ASSERT(name == kMasterPasswordFile || name == kLinkFile);
    m_removed << name;
}

void PairReplacement::expect(const QString& name, const FileIdentity& identity)
{
    Q_ASSERT(name == kMasterPasswordFile || name == kLinkFile);
    m_expected.emplace_back(name, identity);
}

SaveResult PairReplacement::commit()
{
    QByteArray markText;
    std::vector<MarkAction> actions;
    for (auto& [name, file] : m_staged) {
        if (SaveResult finished = file->finish(); !finished)
            return finished;
        markText += kReplaceWord + name.toLatin1() + '\n';
        actions.push_back({true, name});
    }
    for (const QString& name : std::as_const(m_removed)) {
        markText += kRemoveWord + name.toLatin1() + '\n';
        actions.push_back({false, name});
    }

    // The mark is whole or absent: written aside and renamed, like the files it names.
    const QString mark = m_directory + u'/' + kCommitMark;
    StagedFile markFile(m_directory + u'/' + stagedName(kCommitMark));
    markFile.write(markText);
    if (SaveResult finished = markFile.finish(); !finished) {
        removeIfPresent(markFile.path());
        return finished;
    }
    // The staged names are durable before the mark that relies on them.
    for (const auto& [name, file] : m_staged) {
        if (!syncDirectory(QFileInfo(file->path()).absolutePath())) {
            const SaveResult result = failure(file->path(), systemError());
            removeIfPresent(markFile.path());
            return result;
        }
    }
    // The last moment before the switch is decided; a file changed from here to its rename is
    // still replaced.
    for (const auto& [name, identity] : m_expected) {
        const QString target = targetOf(m_directory, name, m_links);
        if (const QString changed = unexpectedFile(identity, target); !changed.isEmpty()) {
            removeIfPresent(markFile.path());
            return SaveResult::changedOnDisk(
                QStringLiteral("%1 changed on disk: %2").arg(target, changed));
        }
    }
    if (::rename(native(markFile.path()).constData(), native(mark).constData()) != 0) {
        const SaveResult result = failure(mark, systemError());
        removeIfPresent(markFile.path());
        return result;
    }
    // From here on the switch is decided; what this run cannot finish, the next start does.
    m_committed = true;
    syncDirectory(m_directory);
    SaveResult applied = applyMark(m_directory, actions, m_links);
    if (applied.ok() || applied.made())
        return applied;
    return SaveResult::madeUnsure(applied.error() +
                                  QStringLiteral(" (the change is completed at the next start)"));
}

SaveResult settlePairDirectory(const QString& directory, Links links)
{
    struct stat info {};
    if (::stat(native(directory).constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return {};
    const QString mark = directory + u'/' + kCommitMark;
    if (switchPending(directory)) {
        QString error;
        const auto text = readMark(mark, error);
        const auto actions = text ? parseMark(*text) : std::nullopt;
        if (!actions)
            return failure(mark, error.isEmpty() ? QStringLiteral("not a commit mark") : error);
        // Files in place but a directory not synced: nothing is left to finish.
        if (SaveResult applied = applyMark(directory, *actions, links); !applied.made())
            return applied;
    }
    const QString staged[] = {stagedPathFor(targetOf(directory, kMasterPasswordFile, links)),
                              stagedPathFor(targetOf(directory, kLinkFile, links)),
                              directory + u'/' + stagedName(kCommitMark)};
    for (const QString& path : staged) {
        if (::unlink(native(path).constData()) == 0)
            syncDirectoryOf(path);
        else if (errno != ENOENT)
            return failure(path, systemError());
    }
    return {};
}

SettledPair settledPair(const QString& directory, Links links)
{
    SettledPair pair;
    std::vector<MarkAction> actions;
    if (switchPending(directory)) {
        const QString mark = directory + u'/' + kCommitMark;
        QString error;
        const auto text = readMark(mark, error);
        auto parsed = text ? parseMark(*text) : std::nullopt;
        if (!parsed) {
            pair.failure = failure(mark, error.isEmpty() ? QStringLiteral("not a commit mark")
                                                         : error)
                               .error();
            return pair;
        }
        actions = std::move(*parsed);
    }
    for (auto [name, path] : {std::pair(kMasterPasswordFile, &pair.masterPasswordFile),
                              std::pair(kLinkFile, &pair.linkFile)}) {
        QString found = directory + u'/' + name;
        for (const MarkAction& action : actions) {
            if (action.name != name)
                continue;
            if (!action.replace) {
                found.clear();
            } else if (const QString staged = stagedPathFor(targetOf(directory, name, links));
                       lexists(staged)) {
                found = staged;
            }
        }
        if (!found.isEmpty() && lexists(found))
            *path = found;
    }
    return pair;
}

bool switchPending(const QString& directory)
{
    struct stat info {};
    return ::lstat(native(directory + u'/' + kCommitMark).constData(), &info) == 0;
}

} // namespace PairFiles
