#pragma once

// Builders for data files in tests, made with the program's own encoders.

#include "cipher/CipherService.h"
#include "store/CipherGuard.h"
#include "store/LinkRecord.h"
#include "store/MasterPasswordFile.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <sys/stat.h>

namespace TestData {

// The master password the tests' files are made under; "123456789" encrypted under it is the
// known answer dd116f515bfba9dd94.
inline const QByteArray kPassword = QByteArrayLiteral("Pomelo");

struct Item {
    QByteArray title;
    QByteArray url;
    QByteArray userName;
    QByteArray password;
};

inline QByteArray encrypt(QByteArrayView text, QByteArrayView password)
{
    CipherService cipher;
    CipherGuard provider(cipher);
    return cipher.EncryptText(text, password);
}

inline QByteArray decrypt(QByteArrayView cipherText, QByteArrayView password)
{
    CipherService cipher;
    CipherGuard provider(cipher);
    return cipher.DecryptText(cipherText, password);
}

// One link record holding the items encrypted under password.
inline QByteArray linkRecord(const Item& item, const QByteArray& password)
{
    return encodeLinkRecord({encrypt(item.title, password), encrypt(item.url, password),
                             encrypt(item.userName, password), encrypt(item.password, password)})
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

// Content that cannot be mistaken for a prefix or a shift of itself, so that a shifted or
// mixed-up block shows.
inline QByteArray pattern(int size, char seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(seed + i * 7 + i / 251);
    return bytes;
}

// Everything in dir, hidden files included, so that a left-over temporary file shows.
inline QStringList entriesOf(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                               QDir::NoDotAndDotDot);
}

// The permission bits of path, or -1 when there is nothing at path.
inline int permissionsOf(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

} // namespace TestData
