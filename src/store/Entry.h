#pragma once

#include <QByteArray>

// One link entry as the list holds it: title, address and user name in plain Windows-1252
// bytes; the password only as the cipher text stored in the link file.
struct Entry {
    QByteArray title;
    QByteArray url;
    QByteArray userName;
    QByteArray passwordCipher;
    int keyNumber = 0;

    bool hasPassword() const { return !passwordCipher.isEmpty(); }

    // "K", the key number, "P", the password's cipher text.
    QByteArray key() const;
};
