#pragma once

#include "FileIdentity.h"
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

// What a symbolic link in a file's place means. In the data directory it is the user's own (a
// link file kept in a synchronised folder): it is followed, and the new file replaces its
// target. In a back-up directory or UnDo it is never followed: the new file replaces the link.
enum class Links { Follow, Replace };

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
    // not a regular file, or that cannot be read to its end, fails the file; so does a link in
    // the source's place unless links are followed.
    bool copyFrom(const QString& source, Links links = Links::Follow);
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
    explicit PairReplacement(QString directory, Links links = Links::Follow);
    // Removes what was staged unless the switch was committed.
    ~PairReplacement();
    PairReplacement(const PairReplacement&) = delete;
    PairReplacement& operator=(const PairReplacement&) = delete;

    // The new content of one file of the pair (kMasterPasswordFile or kLinkFile).
    StagedFile& stage(const QString& name);
    // The new content is a copy of source.
    void stageCopy(const QString& name, const QString& source, Links sourceLinks = Links::Follow)
    {
        stage(name).copyFrom(source, sourceLinks);
    }
    // The new pair has no such file.
    void remove(const QString& name);
    // The file of that name must still be this one when the switch is decided; else commit()
    // fails with changedOnDisk and the old pair stays.
    void expect(const QString& name, const FileIdentity& identity);
    // Puts the new pair in place; a failure before the switch leaves the old pair whole. Once the
    // commit mark is in place the switch is decided: a later failure is madeUnsure, and what is
    // left of the switch is finished by the next settlePairDirectory.
    SaveResult commit();

private:
    QString m_directory;
    Links m_links;
    std::vector<std::pair<QString, std::unique_ptr<StagedFile>>> m_staged;
    QStringList m_removed;
    std::vector<std::pair<QString, FileIdentity>> m_expected;
    bool m_committed = false;
};

// Finishes a switch that was committed but not completed, or removes what an interrupted one
// staged. Run before any pair operation in the directory and at start-up; an absent directory
// needs nothing. Links is what the directory's writers do with a link (see Links).
SaveResult settlePairDirectory(const QString& directory, Links links = Links::Follow);

// The directory's pair as it stands once settled, found without writing there (a back-up on a
// read-only medium, or a directory another program is settling): where a committed switch is
// left unfinished, a file it replaces is read from its staged copy and a file it removes is
// absent. An empty path: the pair has no such file.
struct SettledPair {
    QString masterPasswordFile;
    QString linkFile;
    QString failure;
};
SettledPair settledPair(const QString& directory, Links links = Links::Follow);

// Whether a committed switch is waiting to be finished in the directory.
bool switchPending(const QString& directory);

} // namespace PairFiles

// Makes the names of newly created, renamed or removed files in the directory durable.
bool syncDirectory(const QString& directory);
