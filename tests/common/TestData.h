#pragma once

// Builders for data files in tests, made with the program's own encoders.

#include "cipher/CipherService.h"
#include "store/CipherGuard.h"
#include "store/LinkRecord.h"
#include "store/MasterPasswordFile.h"

#include <QFile>
#include <QTest>

namespace TestData {

struct Item {
    QByteArray title;
    QByteArray url;
    QByteArray userName;
    QByteArray password;
};

// One link record holding the items encrypted under password.
inline QByteArray linkRecord(const Item& item, const QByteArray& password)
{
    CipherService cipher;
    CipherGuard provider(cipher);
    return encodeLinkRecord({cipher.EncryptText(item.title, password),
                             cipher.EncryptText(item.url, password),
                             cipher.EncryptText(item.userName, password),
                             cipher.EncryptText(item.password, password)})
        .value();
}

inline QByteArray linkFile(const QList<Item>& items, const QByteArray& password)
{
    QByteArray bytes;
    for (const Item& item : items)
        bytes += linkRecord(item, password);
    return bytes;
}

inline QByteArray masterPasswordRecord(const QByteArray& password)
{
    CipherService cipher;
    return MasterPasswordFile::makeRecord(password, cipher);
}

[[nodiscard]] inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace TestData
