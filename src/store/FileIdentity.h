#pragma once

#include <QString>

#include <optional>

#include <sys/types.h>

// What a reader relied on about a data file, so that a writer can tell later whether the file is
// still the one it read: a sync program replaces a file by rename (another inode), the Windows
// program rewrites records in place (another modification time, perhaps another size).
struct FileIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0; // modification time, in nanoseconds since the epoch

    bool operator==(const FileIdentity&) const = default;
};

// The file a path leads to (a link is followed, as the data files may be links); absent when
// nothing is there.
FileIdentity fileIdentity(const QString& path);
// The file an open descriptor holds.
FileIdentity fileIdentity(int fd);

// Both files of a directory's pair, as a reader saw them together.
struct PairIdentity {
    FileIdentity masterPasswordFile;
    FileIdentity linkFile;

    bool operator==(const PairIdentity&) const = default;
};
PairIdentity pairIdentity(const QString& directory);

// What a writer checks before it replaces a file: unset, nothing is checked. A file that is not
// the one expected fails the write with SaveResult::changedOnDisk, and nothing is replaced.
//
// The check runs just before the rename (or the in-place write), so a change made elsewhere in
// the instant between the two is still lost: the kernel offers no rename that is conditional on
// the target. That window is a few system calls wide; the one it closes is the whole command.
// A record rewritten in place, at the same size, shows only in the modification time: where the
// kernel stamps files with a coarse clock (before Linux 6.13), a write within the same tick as
// the read goes unseen, which is why a writer that replaces a record also compares its bytes.
using ExpectedFile = std::optional<FileIdentity>;

// What a writer of the link file expects: the link file it replaces, and the master password
// file beside it, whose password the records it writes are under (a password changed on another
// machine would leave them under one that no longer opens them).
struct ExpectedLinkFile {
    ExpectedLinkFile() = default;
    ExpectedLinkFile(ExpectedFile linkFile)
        : linkFile(std::move(linkFile))
    {
    }
    ExpectedLinkFile(const FileIdentity& linkFile)
        : linkFile(linkFile)
    {
    }
    ExpectedLinkFile(const PairIdentity& pair)
        : linkFile(pair.linkFile)
        , masterPasswordFile(pair.masterPasswordFile)
    {
    }

    ExpectedFile linkFile;
    ExpectedFile masterPasswordFile; // QuiFil.ini in the link file's directory, as named
};

// Empty when the file at path is the one expected (or nothing is expected), else why not.
QString unexpectedFile(const ExpectedFile& expected, const QString& path);
QString unexpectedFile(const ExpectedFile& expected, int fd);
// The same for the master password file beside the link file at linkFilePath; it names the file.
QString unexpectedMasterPasswordFile(const ExpectedLinkFile& expected, const QString& linkFilePath);
