#pragma once

#include "SaveResult.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// A directory's pair of data files, QuiFil.ini and QuiURL.dab, is replaced as a unit: after a
// crash at any instant the directory holds the whole old pair or the whole new one, never one
// file of each, which would leave every entry under a password that no longer opens it.
//
// The new files are written aside and flushed; a commit mark naming the switch is renamed into
// place; the files are renamed over the old ones; the mark is removed. A mark found later (see
// settlePairDirectory) means the switch was decided and is finished; staged files without a mark
// were never committed and are removed.
namespace PairFiles {

inline const QString kMasterPasswordFile = QStringLiteral("QuiFil.ini");
inline const QString kLinkFile = QStringLiteral("QuiURL.dab");
// A staged file is the target's name with this in front; the link file's matches the
// temporary file the Windows program used.
inline const QString kStagedPrefix = QStringLiteral("tem");
inline const QString kCommitMark = QStringLiteral("QuiPair.commit");

// A new file written beside its target. It is created afresh (never a stale file reused, never
// through a link), mode 0600.
class StagedFile {
public:
    explicit StagedFile(QString path);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // After the first failure, later writes do nothing and finish() reports it.
    bool write(QByteArrayView bytes);
    // Appends the whole content of source, byte for byte, streamed in chunks. A source that is
    // not a regular file, or that cannot be read to its end, fails the file.
    bool copyFrom(const QString& source);
    // Flushes the content to disk and closes the file.
    SaveResult finish();
    const QString& path() const { return m_path; }

private:
    void fail(const QString& reason);

    QString m_path;
    int m_fd = -1;
    QString m_error;
};

class PairReplacement {
public:
    explicit PairReplacement(QString directory);
    // Removes what was staged unless the switch was committed.
    ~PairReplacement();
    PairReplacement(const PairReplacement&) = delete;
    PairReplacement& operator=(const PairReplacement&) = delete;

    // The new content of one file of the pair (kMasterPasswordFile or kLinkFile).
    StagedFile& stage(const QString& name);
    // The new content is a copy of source.
    void stageCopy(const QString& name, const QString& source) { stage(name).copyFrom(source); }
    // The new pair has no such file.
    void remove(const QString& name);
    // Puts the new pair in place; a failure before the switch leaves the old pair whole. Once the
    // commit mark is in place the switch is decided: a later failure is madeUnsure, and what is
    // left of the switch is finished by the next settlePairDirectory.
    SaveResult commit();

private:
    QString m_directory;
    std::vector<std::pair<QString, std::unique_ptr<StagedFile>>> m_staged;
    QStringList m_removed;
    bool m_committed = false;
};

// Finishes a switch that was committed but not completed, or removes what an interrupted one
// staged. Run before any pair operation in the directory and at start-up; an absent directory
// needs nothing.
SaveResult settlePairDirectory(const QString& directory);

// Whether a committed switch is waiting to be finished in the directory.
bool switchPending(const QString& directory);

} // namespace PairFiles

// Makes the names of newly created, renamed or removed files in the directory durable.
bool syncDirectory(const QString& directory);
