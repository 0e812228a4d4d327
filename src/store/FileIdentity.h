#pragma once

#include <QString>

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
