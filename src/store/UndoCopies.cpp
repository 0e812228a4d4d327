#include "UndoCopies.h"

#include "BackUp.h"

QString deleteUndoCopies(const QString& dataDirectory)
{
    return BackUp::removePair(BackUp::undoDirectory(dataDirectory)).error();
}
