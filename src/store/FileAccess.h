#pragma once

#include <QString>

class QFile;

// Opens path for reading into file (constructed without a name). Only a regular file opens: a
// pipe or a device in a data file's place would block the program or never end. Empty on
// success, otherwise the reason.
QString openRegularFile(QFile& file, const QString& path);

// When path is a symbolic link that leads to nothing (its folder not mounted, say), what to
// tell the user; otherwise empty. Such a file is missing, not empty.
QString brokenLinkProblem(const QString& path);

// Removes the temporary files that a write killed part-way left beside the data files. Call it
// only while no other instance can be writing there.
void removeStaleTemporaries(const QString& dataDirectory);
