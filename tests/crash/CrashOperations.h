#pragma once

// What the crash driver writes and what the crash-point test expects to find afterwards: the
// old content a test lays out, and the new content each operation puts in its place.

#include "startup/AppState.h"
#include "startup/Settings.h"
#include "store/CipherGuard.h"
#include "store/LinkFile.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace CrashOperations {

// The driver's exit codes.
constexpr int kExitSaved = 0;
constexpr int kExitUsage = 2;
constexpr int kExitFailed = 3;
// Failed after the change was in place (or decided, for the next start to finish).
constexpr int kExitMadeUnsure = 4;

struct Item {
    QByteArray title;
    QByteArray url;
    QByteArray userName;
    QByteArray password;
};

inline const QByteArray kMasterPassword = QByteArrayLiteral("Pomelo");
inline const QByteArray kNewMasterPassword = QByteArrayLiteral("Quince tree 7");

// Entry i (from 0) of the link files the test lays out: items of differing lengths, some with
// bytes above 127.
inline Item oldItem(int i)
{
    const QByteArray n = QByteArray::number(i + 1);
    return {"Site " + n + (i % 3 == 0 ? " \xa7" : ""),
            "https://site" + n + ".example/" + QByteArray(i % 7 * 9, 'p'),
            "user" + n + (i % 2 ? "@mail.example" : ""), "pw\xb5" + n + QByteArray(i % 5, '!')};
}

// The entry an Add appends and a Replace puts in place of entry kReplacedEntry, which a delete
// removes.
inline const Item kNewItem = {"Forum \xe9t\xe9", "https://forum.example/?a=1&b=2", "alice_f",
                              "p\xe4ssw\xf6rd"};
constexpr int kReplacedEntry = 2;

inline Settings oldSettings()
{
    Settings s;
    s.windowLeft = 1500;
    s.windowTop = 900;
    s.windowWidth = 9000;
    s.windowHeight = 6000;
    s.fontName = QStringLiteral("Verdana");
    s.placementStored = 1;
    s.backupDirectory = QStringLiteral("/home/alice/backup");
    s.autoEnter = 0;
    s.autoEnterPassword = Settings::kNoAutoEnterPassword;
    return s;
}

// Differs from the old settings in every kind of field, so that a mixture of the two shows.
inline Settings newSettings()
{
    Settings s = oldSettings();
    s.windowLeft = 2250;
    s.windowHeight = 7500;
    s.fontName = QStringLiteral("Arial");
    s.fontBold = true;
    s.fontSize = 10;
    s.columnWidths = {1500, 2500, 1200, 7000};
    s.onTop = -1;
    s.hiddenUserNames = -1;
    s.backupDirectory = QStringLiteral("/media/usb/quillor");
    s.autoEnter = -1;
    s.autoEnterPassword = QStringLiteral("Pomelo");
    s.messageSuppression[17] = u'1';
    return s;
}

// Empty when the program's own loader reads exactly these entries from the link file at path.
inline QString loadedEntriesProblem(const QString& path, const QList<Item>& items,
                                    const QByteArray& password = kMasterPassword)
{
    using namespace Qt::StringLiterals;
    CipherService cipher;
    const LinkFileRead read = readLinkFile(path, password, cipher, EmptyLinkFile::Keep);
    if (!read.ok())
        return u"the loader stops: "_s + read.failure;
    if (read.entries.size() != std::size_t(items.size()))
        return u"the loader reads %1 entries, not %2"_s.arg(read.entries.size()).arg(items.size());
    CipherGuard provider(cipher);
    for (qsizetype i = 0; i < items.size(); ++i) {
        const Entry& entry = read.entries[std::size_t(i)];
        const Item& item = items[i];
        if (entry.title() != item.title || entry.url() != item.url ||
            entry.userName() != item.userName ||
            cipher.DecryptText(entry.passwordCipher(), password) != item.password)
            return u"entry %1 is not \"%2\""_s.arg(i + 1).arg(QString::fromLatin1(item.title));
    }
    return {};
}

} // namespace CrashOperations
