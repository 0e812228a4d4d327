#include "ListCommand.h"

#include "cipher/SecureWipe.h"
#include "startup/AppState.h"
#include "store/CipherGuard.h"
#include "store/LinkFile.h"
#include "store/MasterPasswordFile.h"
#include "store/PairFiles.h"
#include "store/StoredField.h"
#include "store/Windows1252.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

struct Row {
    QString title;
    QString userName;
    QString url;
    QString password;
};

ListOutcome failure(const QString& message)
{
    return {1, {}, message};
}

// Text for a terminal: control characters are shown, never sent.
QString visible(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0))
            out += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

QString tsvField(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        switch (c.unicode()) {
        case u'\\':
            out += QStringLiteral("\\\\");
            break;
        case u'\t':
            out += QStringLiteral("\\t");
            break;
        case u'\n':
            out += QStringLiteral("\\n");
            break;
        case u'\r':
            out += QStringLiteral("\\r");
            break;
        default:
            out += c;
        }
    }
    return out;
}

QByteArray render(const std::vector<Row>& rows, ListFormat format, bool showPasswords)
{
    QString out;
    switch (format) {
    case ListFormat::Text:
        for (const Row& row : rows) {
            out += QStringLiteral("Page Title:  ") + visible(row.title) + u'\n';
            out += QStringLiteral("Username:    ") + visible(row.userName) + u'\n';
            out += QStringLiteral("URL Address: ") + visible(row.url) + u'\n';
            if (showPasswords)
                out += QStringLiteral("Password:    ") + visible(row.password) + u'\n';
            out += u'\n';
        }
        break;
    case ListFormat::Tsv:
        out += showPasswords ? QStringLiteral("title\tusername\turl\tpassword\n")
                             : QStringLiteral("title\tusername\turl\n");
        for (const Row& row : rows) {
            out += tsvField(row.title) + u'\t' + tsvField(row.userName) + u'\t' + tsvField(row.url);
            if (showPasswords)
                out += u'\t' + tsvField(row.password);
            out += u'\n';
        }
        break;
    case ListFormat::Json: {
        QJsonArray array;
        for (const Row& row : rows) {
            QJsonObject object{{QStringLiteral("title"), row.title},
                               {QStringLiteral("username"), row.userName},
                               {QStringLiteral("url"), row.url}};
            if (showPasswords)
                object.insert(QStringLiteral("password"), row.password);
            array.append(object);
        }
        return QJsonDocument(array).toJson(QJsonDocument::Indented);
    }
    }
    return out.toUtf8();
}

} // namespace

ListOutcome runList(const ListRequest& request, CipherService& cipher)
{
    const DataPaths paths = DataPaths::forDataDirectory(request.dataDirectory);
    const QByteArrayView typed = trimBlanks(request.typedPassword);
    // Half of the pair may be new and half old until the program finishes the switch.
    if (PairFiles::switchPending(paths.dataDirectory))
        return failure(QStringLiteral("a password change in %1 was interrupted; start quillor "
                                      "once to finish it")
                           .arg(paths.dataDirectory));

    const auto check = MasterPasswordFile::check(paths.masterPasswordPath, typed, cipher);
    switch (check.outcome) {
    case MasterPasswordFile::Outcome::NoMasterPassword:
        return failure(QStringLiteral("%1 is missing or holds no master password")
                           .arg(paths.masterPasswordPath));
    case MasterPasswordFile::Outcome::Unreadable:
        return failure(
            QStringLiteral("cannot read the master password file: %1").arg(check.failure));
    case MasterPasswordFile::Outcome::Wrong:
        return failure(QStringLiteral("wrong master password"));
    case MasterPasswordFile::Outcome::Right:
        break;
    }

    LinkFileRead read = readLinkFile(paths.linkFilePath, typed, cipher, EmptyLinkFile::Keep);
    if (!read.ok())
        return failure(QStringLiteral("cannot read the link file: %1").arg(read.failure));

    std::vector<Row> rows;
    rows.reserve(read.entries.size());
    {
        CipherGuard provider(cipher);
        for (const Entry& e : read.entries) {
            Row row{Windows1252::toUnicode(e.title()),
                    Windows1252::toUnicode(e.userName()),
                    Windows1252::toUnicode(e.url()),
                    {}};
            if (request.showPasswords) {
                QByteArray password = cipher.DecryptText(e.passwordCipher(), typed);
                row.password = Windows1252::toUnicode(password);
                secureWipe(password);
            }
            rows.push_back(std::move(row));
        }
    }
    return {0, render(rows, request.format, request.showPasswords), {}};
}
