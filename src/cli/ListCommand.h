#pragma once

#include <QByteArray>
#include <QString>

class CipherService;

enum class ListFormat { Text, Tsv, Json };

struct ListRequest {
    QString dataDirectory;
    ListFormat format = ListFormat::Text;
    bool showPasswords = false;
    QByteArray typedPassword; // as read, before trimming
};

struct ListOutcome {
    int exitCode = 0;
    QByteArray output; // for standard output, UTF-8; empty unless the listing is whole
    QString error;     // one line for standard error
};

// Checks the master password and renders every entry, in record order. Reads only.
ListOutcome runList(const ListRequest& request, CipherService& cipher);
