#include "PairWatch.h"

#include "store/LinkRecord.h"
#include "store/PairFiles.h"

#include <QDir>
#include <QFileSystemWatcher>
#include <QTimer>

namespace {

constexpr int kSettleMilliseconds = 400;
constexpr int kPollMilliseconds = 3000;
// A pair that will not settle (a file left missing, a short last record the Windows program
// wrote) is taken as it is after this many looks; the loader says what it makes of it.
constexpr int kMostLooks = 12;

QStringList otherNames(const QString& directory)
{
    // Hidden names are a sync program's files in the making.
    QStringList names =
        QDir(directory).entryList(QDir::Files | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    names.removeAll(PairFiles::kMasterPasswordFile);
    names.removeAll(PairFiles::kLinkFile);
    names.removeAll(PairFiles::kCommitMark);
    // Our own writers' staged files come and go with every save.
    names.removeIf([](const QString& name) { return name.startsWith(PairFiles::kStagedPrefix); });
    return names;
}

} // namespace

PairWatch::PairWatch(QString directory, QObject* parent)
    : QObject(parent)
    , m_directory(std::move(directory))
    , m_watcher(new QFileSystemWatcher(this))
    , m_settle(new QTimer(this))
    , m_poll(new QTimer(this))
{
    m_settle->setSingleShot(true);
    m_settle->setInterval(kSettleMilliseconds);
    m_poll->setInterval(kPollMilliseconds);
    connect(m_settle, &QTimer::timeout, this, &PairWatch::look);
    connect(m_poll, &QTimer::timeout, this, &PairWatch::poll);
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, &PairWatch::noticed);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &PairWatch::noticed);
}

void PairWatch::setSettleInterval(int milliseconds)
{
    m_settle->setInterval(milliseconds);
}

void PairWatch::start()
{
    m_names = otherNames(m_directory);
    watchPaths();
    m_poll->start();
}

void PairWatch::watchPaths()
{
    // A file replaced by rename drops out of the watch; the one now at its name is watched.
    QStringList wanted = {m_directory};
    for (const QString& name : {PairFiles::kMasterPasswordFile, PairFiles::kLinkFile}) {
        const QString path = m_directory + u'/' + name;
        if (QFile::exists(path))
            wanted << path;
    }
    const QStringList watched = m_watcher->files() + m_watcher->directories();
    for (const QString& path : wanted) {
        if (!watched.contains(path))
            m_watcher->addPath(path);
    }
}

void PairWatch::noticed()
{
    m_lastLook.reset();
    m_looks = 0;
    m_settle->start();
}

void PairWatch::poll()
{
    if (!m_settle->isActive() && changedOnDisk())
        noticed();
}

void PairWatch::look()
{
    watchPaths();
    const PairIdentity now = pairIdentity(m_directory);
    const bool still = m_lastLook && *m_lastLook == now;
    m_lastLook = now;
    ++m_looks;
    const bool whole = now.masterPasswordFile.exists &&
                       !QFile::exists(m_directory + u'/' + PairFiles::kCommitMark) &&
                       now.linkFile.size % kLinkRecordSize == 0;
    if (!still || (!whole && m_looks < kMostLooks)) {
        m_settle->start();
        return;
    }
    m_lastLook.reset();
    if (const QStringList names = otherNames(m_directory); names != m_names) {
        m_names = names;
        Q_EMIT directoryChanged();
    }
    const bool outside = now != m_known;
    Q_EMIT settled(outside);
    if (outside)
        Q_EMIT changedOutside();
}
