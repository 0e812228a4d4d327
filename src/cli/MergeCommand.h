#pragma once

#include "CliSupport.h"

// merge: another version of the list taken into ours.
extern const Command kMergeCommand;

// One line on standard error naming the sync program's conflict copies in the data directory,
// when there are any.
void noteConflictCopies(const QString& dataDirectory);
