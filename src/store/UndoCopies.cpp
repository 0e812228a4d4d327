#include "UndoCopies.h"

#include "BackUp.h"

QString deleteUndoCopies(const QString& dataDirectory)
{
    // Removed but not synced is removed: nothing is left to delete.
    const SaveResult removed =
        BackUp::removePair(BackUp::undoDirectory(dataDirectory), PairFiles::Links::Replace);
    return removed.made() ? QString() : removed.error();
}
