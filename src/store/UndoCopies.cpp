#include "UndoCopies.h"

#include <QFile>

QString deleteUndoCopies(const QString& dataDirectory)
{
    QStringList failures;
    for (const char* name : {"QuiFil.ini", "QuiURL.dab"}) {
        const QString path = dataDirectory + u'/' + kUndoDirectory + u'/' + QLatin1String(name);
        QFile file(path);
        if (file.exists() && !file.remove())
            failures << QStringLiteral("%1: %2").arg(path, file.errorString());
    }
    return failures.join(u'\n');
}
