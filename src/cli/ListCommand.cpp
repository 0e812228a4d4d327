#include "ListCommand.h"

#include "store/CipherGuard.h"
#include "store/Windows1252.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const char kListHelp[] =
    "usage: quillor-cli [--data-dir DIR] list [--format text|tsv|json] [--show-passwords]\n"
    "\n"
    "Reads the master password from standard input (one line) and prints every entry\n"
    "of the data directory in list order. Nothing is ever written.\n"
    "\n"
    "  --data-dir DIR     the folder holding QuiFil.ini and QuiURL.dab\n"
    "                     (default: the program's own data directory)\n"
    "  --format FORMAT    text (default), tsv or json\n"
    "  --show-passwords   include the passwords\n";

const char kShowHelp[] =
    "usage: quillor-cli [--data-dir DIR] show N [--format text|tsv|json] [--show-password]\n"
    "\n"
    "Reads the master password from standard input (one line) and prints entry N, the\n"
    "entries numbered from 1 in list order. Nothing is ever written.\n"
    "\n"
    "  --format FORMAT    text (default), tsv or json\n"
    "  --show-password    include the password\n";

enum class ListFormat { Text, Tsv, Json };

struct Row {
    QString title;
    QString userName;
    QString url;
    QString password;

    ~Row() { secureWipe(password); }
};

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

QJsonObject jsonObject(const Row& row, bool showPasswords)
{
    QJsonObject object{{QStringLiteral("title"), row.title},
                       {QStringLiteral("username"), row.userName},
                       {QStringLiteral("url"), row.url}};
    if (showPasswords)
        object.insert(QStringLiteral("password"), row.password);
    return object;
}

// JSON gives an array of entries for a list, one object for a single entry.
QByteArray render(const std::vector<Row>& rows, ListFormat format, bool showPasswords, bool single)
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
        if (single && rows.size() == 1)
            return QJsonDocument(jsonObject(rows.front(), showPasswords))
                .toJson(QJsonDocument::Indented);
        QJsonArray array;
        for (const Row& row : rows)
            array.append(jsonObject(row, showPasswords));
        return QJsonDocument(array).toJson(QJsonDocument::Indented);
    }
    }
    QByteArray bytes = out.toUtf8();
    secureWipe(out);
    return bytes;
}

// The cipher service is open around the call.
Row rowOf(const Entry& entry, bool withPassword, QByteArrayView master, CipherService& cipher)
{
    Row row{Windows1252::toUnicode(entry.title()),
            Windows1252::toUnicode(entry.userName()),
            Windows1252::toUnicode(entry.url()),
            {}};
    if (withPassword) {
        QByteArray password = cipher.DecryptText(entry.passwordCipher(), master);
        row.password = Windows1252::toUnicode(password);
        secureWipe(password);
    }
    return row;
}

std::optional<ListFormat> formatNamed(const QString& name)
{
    if (name == u"text")
        return ListFormat::Text;
    if (name == u"tsv")
        return ListFormat::Tsv;
    if (name == u"json")
        return ListFormat::Json;
    return std::nullopt;
}

// list and show: the same options, one entry or all.
int runReading(CommandContext& context, bool single)
{
    const char* help = single ? kShowHelp : kListHelp;
    const QString passwordOption =
        single ? QStringLiteral("show-password") : QStringLiteral("show-passwords");
    CommandOptions options({QCommandLineOption(QStringLiteral("format"), {}, QStringLiteral("F")),
                            QCommandLineOption(passwordOption)});
    if (const auto exit = parseOrExit(options, context, help))
        return *exit;
    ListFormat format = ListFormat::Text;
    if (options.isSet(QStringLiteral("format"))) {
        const auto named = formatNamed(options.value(QStringLiteral("format")));
        if (!named)
            return usageError(QStringLiteral("--format takes text, tsv or json"), help);
        format = *named;
    }
    std::optional<int> number;
    if (single) {
        if (options.positional().size() != 1)
            return usageError(QStringLiteral("show takes one entry number"), help);
        number = entryNumber(options.positional().front());
        if (!number)
            return usageError(
                QStringLiteral("not an entry number: %1").arg(options.positional().front()), help);
    } else if (!options.positional().isEmpty()) {
        return usageError(
            QStringLiteral("unexpected argument: %1").arg(options.positional().front()), help);
    }
    const bool showPasswords = options.isSet(passwordOption);

    std::optional<Secret> master = readMasterPassword();
    if (!master)
        return kExitFailure;
    OpenedData data;
    if (const QString failure =
            openData(context.dataDirectory, master->view(), context.cipher, Access::Read, data);
        !failure.isEmpty())
        return fail(failure);
    if (number && *number > int(data.entries.size()))
        return fail(QStringLiteral("there is no entry %1: the list holds %2")
                        .arg(*number)
                        .arg(data.entries.size()));

    std::vector<Row> rows;
    {
        CipherGuard provider(context.cipher);
        if (number) {
            rows.push_back(rowOf(data.entries[std::size_t(*number - 1)], showPasswords,
                                 master->view(), context.cipher));
        } else {
            rows.reserve(data.entries.size());
            for (const Entry& entry : data.entries)
                rows.push_back(rowOf(entry, showPasswords, master->view(), context.cipher));
        }
    }
    // Gone before the output, which may wait long on a slow reader.
    master.reset();
    QByteArray output = render(rows, format, showPasswords, single);
    rows.clear();
    const bool written = writeOut(output);
    secureWipe(output);
    if (!written)
        return fail(QStringLiteral("cannot write to standard output"));
    return kExitSuccess;
}

int runList(CommandContext& context)
{
    return runReading(context, false);
}

int runShow(CommandContext& context)
{
    return runReading(context, true);
}

} // namespace

const Command kListCommand{"list", kListHelp, runList};
const Command kShowCommand{"show", kShowHelp, runShow};
