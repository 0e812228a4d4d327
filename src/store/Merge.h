#pragma once

#include "Entry.h"
#include "FileIdentity.h"
#include "SaveResult.h"

#include "LinkFile.h"
#include "cipher/SecureWipe.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

class CipherService;

// Another version of the list (a sync program's conflict copy, or a list kept elsewhere) taken
// into ours. The format keeps no history, so nothing tells an entry the other side deleted from
// one it never had: what ours lacks is added, and deletions made there come back.
namespace Merge {

// Whether a list read with password, its entries' passwords decrypted with it too, looks like
// noise rather than typed items: C0 control characters other than tab, and bytes Windows-1252
// leaves unassigned, which typed items never hold, and many bytes past ASCII, over the whole
// file. It then is under another password.
bool readUnderAnotherPassword(const std::vector<Entry>& entries, QByteArrayView password,
                              CipherService& cipher);

// What is merged: the other link file, the master password file that tells its password (empty
// when there is none), and the sync program's copies to put aside once merged.
struct Source {
    QString linkFile;
    QString masterPasswordFile;
    QStringList copies; // names in the data directory
};

// The source that a path names: a conflict copy of the link file in the data directory (with
// the master password file's copy made with it), another link file (with the QuiFil.ini beside
// a QuiURL.dab), or a folder holding a pair. Empty on success, else what is wrong.
QString findSource(const QString& given, const QString& dataDirectory, Source& source);

// The other list read, under our password or the one asked for.
struct OtherRead {
    enum class Outcome {
        Read,
        NoPassword,    // under another password, and none was given
        WrongPassword, // the one given does not open it
        Unreadable,    // failure says why
    };
    OtherRead() = default;
    OtherRead(OtherRead&&) = default;
    ~OtherRead()
    {
        if (otherPassword)
            secureWipe(*otherPassword);
    }

    Outcome outcome = Outcome::Read;
    LinkFileRead read;
    std::optional<QByteArray> otherPassword; // when it is not ours
    QString failure;
    QByteArrayView password(QByteArrayView ours) const
    {
        return otherPassword ? QByteArrayView(*otherPassword) : ours;
    }
};

// Reads the source's link file. When its master password file does not take ours, or its
// records do not read under ours, ask() gives its password (at most once; nullopt: none).
OtherRead readOther(const Source& source, QByteArrayView ourPassword, CipherService& cipher,
                    const std::function<std::optional<QByteArray>()>& ask);

struct Counts {
    qsizetype added = 0;     // new to our list
    qsizetype identical = 0; // the same four items as one of ours, left out
    qsizetype beside = 0;    // the title and address of one of ours, another user name or password
    qsizetype total() const { return added + identical + beside; }
};

// Our list with the other's entries after it, their passwords encrypted under our master
// password. An entry identical in all four items to one of ours is left out; every other is
// added, never put in place of one of ours. nullopt when an item does not fit its field.
std::optional<std::vector<Entry>> mergeLists(const std::vector<Entry>& ours,
                                             QByteArrayView ourPassword,
                                             const std::vector<Entry>& theirs,
                                             QByteArrayView theirPassword, CipherService& cipher,
                                             Counts& counts);

// The merged list as the data directory's link file, put in place by the pair routine: the
// directory holds the old list or the whole new one after a crash at any instant.
// With expected set, a pair that is no longer that one is left as it is (changedOnDisk).
SaveResult writeMergedList(const QString& dataDirectory, const std::vector<Entry>& entries,
                           QByteArrayView masterPassword, CipherService& cipher,
                           const std::optional<PairIdentity>& expected = {});

} // namespace Merge
