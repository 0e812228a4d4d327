#pragma once

#include "store/FileIdentity.h"

#include <QObject>
#include <QString>

#include <optional>

class QFileSystemWatcher;
class QTimer;

// Follows the data directory's pair on disk. A sync program replaces a file by rename, the
// Windows program rewrites records in place, a shared drive may send no notice at all (a slow
// look every few seconds covers it). A file is looked at only once it has stood still: the same
// identity at two looks an interval apart, no pair switch half done, the link file whole records.
class PairWatch : public QObject {
    Q_OBJECT
public:
    explicit PairWatch(QString directory, QObject* parent = nullptr);

    // The pair as the list in memory has it: taken before a load, after our own write.
    void remember(const PairIdentity& pair) { m_known = pair; }
    void rememberNow() { m_known = pairIdentity(m_directory); }
    const PairIdentity& known() const { return m_known; }
    bool changedOnDisk() const { return pairIdentity(m_directory) != m_known; }

    // The time between two looks at a file that may still be written; tests make it 0.
    void setSettleInterval(int milliseconds);
    void start();

Q_SIGNALS:
    // The pair stands still and is not the one remembered.
    void changedOutside();
    // After every look that found the pair still; outside says whether it was another's.
    void settled(bool outside);
    // A name other than the pair's came or went in the directory (a sync program's conflict
    // copy, say).
    void directoryChanged();

private:
    void noticed();
    void look();
    void poll();
    void watchPaths();

    QString m_directory;
    QFileSystemWatcher* m_watcher = nullptr;
    QTimer* m_settle = nullptr;
    QTimer* m_poll = nullptr;
    PairIdentity m_known;
    std::optional<PairIdentity> m_lastLook;
    int m_looks = 0;
    QStringList m_names; // the directory's other names at the last look
};
