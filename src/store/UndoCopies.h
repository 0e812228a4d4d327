#pragma once

#include <QString>

// The pair kept for undoing a restore lives in this sub-directory of the data directory.
inline const QString kUndoDirectory = QStringLiteral("UnDo");

// Deletes the kept pair; the directory stays. Returns what could not be deleted, if anything.
QString deleteUndoCopies(const QString& dataDirectory);
