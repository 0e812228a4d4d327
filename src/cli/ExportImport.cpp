#include "ExportImport.h"

#include "Csv.h"
#include "OutputFile.h"
#include "store/CipherGuard.h"
#include "store/EntryWriter.h"
#include "store/FileAccess.h"
#include "store/ItemLimits.h"
#include "store/LinkFileRewrite.h"
#include "store/Windows1252.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <algorithm>
#include <array>
#include <map>

using namespace Qt::StringLiterals;

namespace {

const char kExportHelp[] =
    "usage: quillor-cli [--data-dir DIR] export --format keepassxc|bitwarden|json -o FILE\n"
    "                   [--safe-cells]\n"
    "\n"
    "Writes every entry, its password in clear text, to FILE (readable by you alone) in\n"
    "a form another password manager imports: KeePassXC's or Bitwarden's CSV, or JSON.\n"
    "A link as FILE is followed only when it is yours, in a directory where no one else\n"
    "can replace it. The master password is the first line of standard input. Exit\n"
    "status 3: FILE is written, but may not outlast a power cut.\n"
    "\n"
    "  --format FORMAT  keepassxc, bitwarden or json\n"
    "  -o FILE          the file to write; - for standard output\n"
    "  --safe-cells     a CSV cell that begins with =, +, -, @, tab or carriage return\n"
    "                   gets a ' in front, so that a spreadsheet shows it as text\n"
    "                   instead of running it as a formula; the ' is then part of the\n"
    "                   item for a password manager that imports the file\n";

const char kImportHelp[] =
    "usage: quillor-cli [--data-dir DIR] import FILE\n"
    "                   --format keepassxc|bitwarden|chrome|firefox [--dry-run]\n"
    "\n"
    "Adds the entries of another password manager's CSV export at the end of the list:\n"
    "KeePassXC's, Bitwarden's, or the passwords exported by Chrome or Firefox. The\n"
    "columns are found by the names in the first line. All or nothing: when a row cannot\n"
    "be stored (a character outside Windows-1252, a control character other than tab, an\n"
    "item longer than its box), every such row is named by its line and nothing is added.\n"
    "Title, URL address and user name are trimmed of blanks; a password is kept as it is.\n"
    "Items other than logins are left out with a line each. The master password is the\n"
    "first line of standard input. Exit status 3: the entries were added, but the change\n"
    "may not outlast a power cut, or the summary could not be written.\n"
    "\n"
    "  --format FORMAT  keepassxc, bitwarden, chrome or firefox\n"
    "  --dry-run        show what would be added; change nothing\n";

// Big enough for any password export; an import never reads a huge file whole into memory.
constexpr qint64 kLargestImport = 64 * 1024 * 1024;
constexpr int kLinesNamed = 10;

// Where the four items of an entry are in a manager's CSV, by column name.
struct ImportFormat {
    const char* name;
    QString title; // empty: the host of the URL address
    QString url;
    QString userName;
    QString password;
    QStringList alsoRequired; // columns that tell this manager's header from the others'
    QStringList notKept;      // columns whose content has no place here
};

const std::array<ImportFormat, 4> kImportFormats = {{
    {"keepassxc",
     QStringLiteral("Title"),
     QStringLiteral("URL"),
     QStringLiteral("Username"),
     QStringLiteral("Password"),
     {},
     {QStringLiteral("Notes"), QStringLiteral("TOTP")}},
    {"bitwarden",
     QStringLiteral("name"),
     QStringLiteral("login_uri"),
     QStringLiteral("login_username"),
     QStringLiteral("login_password"),
     {QStringLiteral("type")},
     {QStringLiteral("notes"), QStringLiteral("fields"), QStringLiteral("login_totp")}},
    {"chrome",
     QStringLiteral("name"),
     QStringLiteral("url"),
     QStringLiteral("username"),
     QStringLiteral("password"),
     {},
     {QStringLiteral("note")}},
    {"firefox",
     QString(),
     QStringLiteral("url"),
     QStringLiteral("username"),
     QStringLiteral("password"),
     {QStringLiteral("httpRealm")},
     {}},
}};

QString entryCount(qsizetype n)
{
    return n == 1 ? QStringLiteral("1 entry") : QStringLiteral("%1 entries").arg(n);
}

const ImportFormat* importFormatNamed(const QString& name)
{
    for (const ImportFormat& format : kImportFormats) {
        if (name == QLatin1String(format.name))
            return &format;
    }
    return nullptr;
}

QStringList requiredColumns(const ImportFormat& format)
{
    QStringList columns;
    if (!format.title.isEmpty())
        columns << format.title;
    columns << format.url << format.userName << format.password << format.alsoRequired;
    return columns;
}

// Column names are matched as the managers spell them, in any case, blanks around ignored.
QString columnKey(const QString& name)
{
    return name.trimmed().toCaseFolded();
}

// Where each column of the header is, by key; nullopt when a name is there twice.
std::optional<std::map<QString, qsizetype>> columnsOf(const QStringList& header)
{
    std::map<QString, qsizetype> columns;
    for (qsizetype i = 0; i < header.size(); ++i) {
        if (!columns.emplace(columnKey(header[i]), i).second)
            return std::nullopt;
    }
    return columns;
}

// The columns of format that the header lacks.
QStringList missingColumns(const ImportFormat& format, const std::map<QString, qsizetype>& columns)
{
    QStringList missing;
    for (const QString& name : requiredColumns(format)) {
        if (!columns.contains(columnKey(name)))
            missing << name;
    }
    return missing;
}

QString lineList(const std::vector<qsizetype>& lines)
{
    QStringList shown;
    for (std::size_t i = 0; i < lines.size() && i < std::size_t(kLinesNamed); ++i)
        shown << QString::number(lines[i]);
    if (lines.size() > std::size_t(kLinesNamed))
        shown << QStringLiteral("...");
    return (lines.size() == 1 ? QStringLiteral("line ") : QStringLiteral("lines ")) +
           shown.join(QStringLiteral(", "));
}

// An entry read from the export, in Windows-1252.
struct ImportedEntry {
    qsizetype line = 0;
    QByteArray title;
    QByteArray url;
    QByteArray userName;
    QByteArray password;

    ~ImportedEntry() { secureWipe(password); }
};

struct ImportPlan {
    std::vector<ImportedEntry> entries;
    QStringList problems; // what cannot be stored, in line order
    qsizetype badRows = 0;
    QStringList leftOut;                               // rows that are no logins
    std::map<QString, std::vector<qsizetype>> notKept; // column: lines where it holds something
};

// The title Firefox does not give: the address's host, or the address itself.
QString titleFromUrl(const QString& url)
{
    QUrl parsed(url.trimmed());
    QString host = parsed.host();
    if (host.isEmpty())
        host = QUrl::fromUserInput(url.trimmed()).host();
    if (!host.isEmpty() && Windows1252::firstUnencodable(host) >= 0)
        host = parsed.host(QUrl::EncodeUnicode);
    return (host.isEmpty() ? url.trimmed() : host).left(kShortItemLength);
}

void planRow(const ImportFormat& format, const QString& file, const Csv::Record& record,
             const QStringList& header, const std::map<QString, qsizetype>& columns,
             ImportPlan& plan)
{
    const QString where = QStringLiteral("%1:%2: ").arg(file).arg(record.line);
    if (!record.problem.isEmpty()) {
        plan.problems << where + record.problem;
        ++plan.badRows;
        return;
    }
    const auto at = [&columns](const QString& name) {
        return columns.at(columnKey(name));
    };
    // A short row may end before columns that are not kept (older exports leave them out);
    // never before one that is.
    qsizetype needed = 0;
    for (const QString& name : requiredColumns(format))
        needed = std::max(needed, at(name) + 1);
    if (record.fields.size() > header.size() || record.fields.size() < needed) {
        plan.problems << where + QStringLiteral("%1 fields, where the header has %2")
                                     .arg(record.fields.size())
                                     .arg(header.size());
        return;
    }
    const auto value = [&](const QString& name) {
        const qsizetype i = at(name);
        return i < record.fields.size() ? record.fields[i] : QString();
    };

    if (format.alsoRequired.contains(QStringLiteral("type"))) {
        const QString type = value(QStringLiteral("type")).trimmed();
        if (type != u"login") {
            if (type.isEmpty()) {
                plan.problems << where + QStringLiteral("no type: a login or not?");
                ++plan.badRows;
            } else {
                plan.leftOut << where + QStringLiteral("left out: \"%1\" is a %2, not a login")
                                            .arg(visible(value(format.title)), visible(type));
            }
            return;
        }
    }
    const QString url = value(format.url);
    if (format.title.isEmpty() && url.trimmed().startsWith(u"chrome://")) {
        plan.leftOut << where + QStringLiteral("left out: %1 is Firefox's own account, not a "
                                               "web login")
                                    .arg(visible(url.trimmed()));
        return;
    }

    struct Item {
        QString column; // empty for a title made from the address
        QString text;
        int limit;
        bool trim;
        QByteArray* out;
    };
    ImportedEntry entry;
    entry.line = record.line;
    const std::array<Item, 4> items = {{
        {format.title, format.title.isEmpty() ? titleFromUrl(url) : value(format.title),
         kShortItemLength, true, &entry.title},
        {format.url, url, kUrlLength, true, &entry.url},
        {format.userName, value(format.userName), kShortItemLength, true, &entry.userName},
        // A password's blanks are part of it.
        {format.password, value(format.password), kShortItemLength, false, &entry.password},
    }};
    // Named in the order of the columns, as the user reads the row.
    std::array<const Item*, 4> byColumn{};
    for (std::size_t i = 0; i < items.size(); ++i)
        byColumn[i] = &items[i];
    const auto columnOf = [&](const Item* item) {
        return at(item->column.isEmpty() ? format.url : item->column);
    };
    std::stable_sort(byColumn.begin(), byColumn.end(),
                     [&](const Item* a, const Item* b) { return columnOf(a) < columnOf(b); });
    bool storable = true;
    for (const Item* itemAt : byColumn) {
        const Item& item = *itemAt;
        QString problem;
        const std::optional<QByteArray> bytes =
            storableItem(item.text, item.limit, item.trim, problem);
        if (bytes) {
            *item.out = *bytes;
            continue;
        }
        storable = false;
        const QString column = item.column.isEmpty() ? format.url : item.column;
        plan.problems << where + QStringLiteral("%1 (column %2): %3")
                                     .arg(header[at(column)])
                                     .arg(at(column) + 1)
                                     .arg(problem);
    }
    if (!storable) {
        ++plan.badRows;
        return;
    }
    for (const QString& name : format.notKept) {
        const auto column = columns.find(columnKey(name));
        if (column != columns.end() && column->second < record.fields.size() &&
            !record.fields[column->second].trimmed().isEmpty())
            plan.notKept[header[column->second]].push_back(record.line);
    }
    plan.entries.push_back(std::move(entry));
}

// Reads and checks the whole export; a message when the file as a whole cannot be used.
QString planImport(const QString& path, const ImportFormat& format, ImportPlan& plan)
{
    QFile file;
    if (QFileInfo(path).isDir())
        return QStringLiteral("%1: is a directory").arg(path);
    // A pipe would hang the command, a device never end.
    if (const QString reason = openRegularFile(file, path); !reason.isEmpty())
        return QStringLiteral("%1: %2").arg(path, reason);
    QByteArray bytes = file.read(kLargestImport + 1);
    if (file.error() != QFileDevice::NoError)
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    if (bytes.size() > kLargestImport)
        return QStringLiteral("%1: larger than %2 MiB; no password export is")
            .arg(path)
            .arg(kLargestImport / (1024 * 1024));
    Csv::Decoded decoded = Csv::decodeUtf8(bytes);
    secureWipe(bytes);
    if (!decoded.badLines.empty())
        return QStringLiteral("%1: not UTF-8 text (%2)").arg(path, lineList(decoded.badLines));
    const std::vector<Csv::Record> records = Csv::parse(decoded.text);
    secureWipe(decoded.text);
    if (records.empty())
        return QStringLiteral("%1: empty; an export begins with its header line").arg(path);

    const Csv::Record& headerRecord = records.front();
    const QStringList& header = headerRecord.fields;
    const auto columns = columnsOf(header);
    if (!headerRecord.problem.isEmpty() || !columns)
        return QStringLiteral("%1:%2: not a header line%3")
            .arg(path)
            .arg(headerRecord.line)
            .arg(headerRecord.problem.isEmpty() ? QStringLiteral(": a column is named twice")
                                                : u": "_s + headerRecord.problem);
    if (const QStringList missing = missingColumns(format, *columns); !missing.isEmpty()) {
        QString message = QStringLiteral("%1:%2: not a %3 export: the header has no column %4")
                              .arg(path)
                              .arg(headerRecord.line)
                              .arg(QLatin1String(format.name), missing.join(u", "_s));
        for (const ImportFormat& other : kImportFormats) {
            if (&other != &format && missingColumns(other, *columns).isEmpty())
                message += QStringLiteral(" (it looks like a %1 export: --format %1)")
                               .arg(QLatin1String(other.name));
        }
        return message;
    }
    for (std::size_t i = 1; i < records.size(); ++i)
        planRow(format, path, records[i], header, *columns, plan);
    return {};
}

int runImport(CommandContext& context)
{
    CommandOptions options({QCommandLineOption(QStringLiteral("format"), {}, QStringLiteral("F")),
                            QCommandLineOption(QStringLiteral("dry-run"))});
    if (const auto exit = parseOrExit(options, context, kImportHelp))
        return *exit;
    if (options.positional().size() != 1)
        return usageError(QStringLiteral("import takes one file"), kImportHelp);
    const QString path = options.positional().front();
    // Standard input holds the master password.
    if (path == u"-")
        return usageError(QStringLiteral("import reads a file, not standard input"), kImportHelp);
    if (!options.isSet(QStringLiteral("format")))
        return usageError(QStringLiteral("--format is needed: which manager wrote the file?"),
                          kImportHelp);
    const ImportFormat* format = importFormatNamed(options.value(QStringLiteral("format")));
    if (!format)
        return usageError(QStringLiteral("--format takes keepassxc, bitwarden, chrome or firefox"),
                          kImportHelp);
    const bool dryRun = options.isSet(QStringLiteral("dry-run"));

    ImportPlan plan;
    if (const QString failure = planImport(path, *format, plan); !failure.isEmpty())
        return fail(failure);
    for (const QString& line : plan.leftOut)
        printError(line);
    if (!plan.problems.isEmpty()) {
        for (const QString& line : plan.problems)
            printError(line);
        return fail(plan.badRows == 1
                        ? QStringLiteral("nothing was imported: 1 row cannot be stored")
                        : QStringLiteral("nothing was imported: %1 rows cannot be stored")
                              .arg(plan.badRows));
    }
    if (!plan.notKept.empty()) {
        QStringList columns;
        for (const auto& [column, lines] : plan.notKept)
            columns << QStringLiteral("%1 (%2)").arg(column, lineList(lines));
        printError(QStringLiteral("%1: not kept, Quillor has no place for them: %2")
                       .arg(path, columns.join(u", "_s)));
    }

    std::optional<Secret> master = readMasterPassword();
    if (!master)
        return kExitFailure;
    DataDirectoryLock lock;
    OpenedData data;
    if (const QString failure = openDataToChange(context, master->view(), dryRun, lock, data);
        !failure.isEmpty())
        return fail(failure);

    const qsizetype before = qsizetype(data.entries.size());
    const qsizetype added = qsizetype(plan.entries.size());
    if (dryRun) {
        QString out;
        for (const ImportedEntry& entry : plan.entries)
            out += QStringLiteral("line %1: %2 | %3 | %4\n")
                       .arg(entry.line)
                       .arg(visible(Windows1252::toUnicode(entry.title)),
                            visible(Windows1252::toUnicode(entry.userName)),
                            visible(Windows1252::toUnicode(entry.url)));
        out += QStringLiteral("would add %1 to %3, which holds %2; nothing was changed\n")
                   .arg(entryCount(added), entryCount(before), data.paths.dataDirectory);
        if (!writeOut(out.toUtf8()))
            return fail(QStringLiteral("cannot write to standard output"));
        return kExitSuccess;
    }
    if (added == 0) {
        if (!writeOut(QStringLiteral("%1 holds no entry to import; nothing was changed\n")
                          .arg(path)
                          .toUtf8()))
            return fail(QStringLiteral("cannot write to standard output"));
        return kExitSuccess;
    }

    // One rewrite of the whole file: all the new entries are there, or none.
    std::vector<Entry> entries = std::move(data.entries);
    entries.reserve(entries.size() + plan.entries.size());
    for (const ImportedEntry& item : plan.entries) {
        const auto encrypted = encryptEntry(item.title, item.url, item.userName, item.password,
                                            master->view(), context.cipher);
        if (!encrypted)
            return fail(QStringLiteral("%1:%2: an item does not fit its field; nothing was "
                                       "imported")
                            .arg(path)
                            .arg(item.line));
        entries.emplace_back(item.title, item.url, item.userName, encrypted->passwordCipher,
                             int(entries.size()) + 1);
    }
    pauseBeforeWriteForTest();
    const SaveResult saved = SaveListToLinkFile(data.paths.linkFilePath, entries, master->view(),
                                                context.cipher, data.identity);
    if (saved.changedOnDisk())
        return changedWhileRunning(saved);
    if (!saved.made())
        return fail(QStringLiteral("nothing was imported: %1").arg(saved.error()));
    const QString summary = QStringLiteral("imported %1 into %2, which now holds %3")
                                .arg(entryCount(added), data.paths.dataDirectory,
                                     entryCount(qsizetype(entries.size())));
    // The entries are in: a script that took this for a failure and ran again would add them
    // twice.
    if (!saved) {
        printError(summary);
        printError(QStringLiteral("the import is made, but may not outlast a power cut: %1")
                       .arg(saved.error()));
        return kExitMadeUnsure;
    }
    if (!writeOut((summary + u'\n').toUtf8())) {
        printError(summary);
        printError(QStringLiteral("the import is made, but its summary cannot be written to "
                                  "standard output"));
        return kExitMadeUnsure;
    }
    return kExitSuccess;
}

enum class ExportFormat { KeePassXc, Bitwarden, Json };

// A cell a spreadsheet would take for a formula (OWASP's list of first characters), made text
// by a leading apostrophe.
QString safeCell(const QString& cell)
{
    if (cell.isEmpty())
        return cell;
    switch (cell.front().unicode()) {
    case u'=':
    case u'+':
    case u'-':
    case u'@':
    case u'\t':
    case u'\r':
        return u'\'' + cell;
    default:
        return cell;
    }
}

QString csvRecord(QStringList fields, Csv::Quoting quoting, bool safeCells)
{
    if (safeCells) {
        for (QString& field : fields)
            field = safeCell(field);
    }
    QString record = Csv::formatRecord(fields, quoting);
    for (QString& field : fields)
        secureWipe(field);
    return record;
}

QByteArray exportText(const OpenedData& data, ExportFormat format, bool safeCells,
                      QByteArrayView master, CipherService& cipher)
{
    QString out;
    QJsonArray array;
    switch (format) {
    case ExportFormat::KeePassXc:
        out +=
            Csv::formatRecord({u"Group"_s, u"Title"_s, u"Username"_s, u"Password"_s, u"URL"_s,
                               u"Notes"_s, u"TOTP"_s, u"Icon"_s, u"Last Modified"_s, u"Created"_s},
                              Csv::Quoting::Always);
        break;
    case ExportFormat::Bitwarden:
        out += Csv::formatRecord({u"folder"_s, u"favorite"_s, u"type"_s, u"name"_s, u"notes"_s,
                                  u"fields"_s, u"reprompt"_s, u"login_uri"_s, u"login_username"_s,
                                  u"login_password"_s, u"login_totp"_s},
                                 Csv::Quoting::WhenNeeded);
        break;
    case ExportFormat::Json:
        break;
    }
    CipherGuard provider(cipher);
    for (const Entry& entry : data.entries) {
        const QString title = Windows1252::toUnicode(entry.title());
        const QString userName = Windows1252::toUnicode(entry.userName());
        const QString url = Windows1252::toUnicode(entry.url());
        QByteArray passwordBytes = cipher.DecryptText(entry.passwordCipher(), master);
        QString password = Windows1252::toUnicode(passwordBytes);
        secureWipe(passwordBytes);
        switch (format) {
        case ExportFormat::KeePassXc:
            // KeePassXC's own export names the top group "Root"; icon 0 is its key.
            out += csvRecord({u"Root"_s, title, userName, password, url, {}, {}, u"0"_s, {}, {}},
                             Csv::Quoting::Always, safeCells);
            break;
        case ExportFormat::Bitwarden:
            out +=
                csvRecord({{}, {}, u"login"_s, title, {}, {}, u"0"_s, url, userName, password, {}},
                          Csv::Quoting::WhenNeeded, safeCells);
            break;
        case ExportFormat::Json:
            array.append(QJsonObject{{u"title"_s, title},
                                     {u"username"_s, userName},
                                     {u"url"_s, url},
                                     {u"password"_s, password}});
            break;
        }
        secureWipe(password);
    }
    if (format == ExportFormat::Json)
        return QJsonDocument(array).toJson(QJsonDocument::Indented);
    QByteArray bytes = out.toUtf8();
    secureWipe(out);
    return bytes;
}

// A path as the file system resolves it, for telling whether two name one file.
QString resolvedPath(const QString& path)
{
    const QFileInfo info(path);
    if (info.exists())
        return info.canonicalFilePath();
    const QString directory = QFileInfo(info.absolutePath()).canonicalFilePath();
    return (directory.isEmpty() ? info.absolutePath() : directory) + u'/' + info.fileName();
}

int runExport(CommandContext& context)
{
    CommandOptions options({QCommandLineOption(QStringLiteral("format"), {}, QStringLiteral("F")),
                            QCommandLineOption(QStringLiteral("o"), {}, QStringLiteral("FILE")),
                            QCommandLineOption(QStringLiteral("safe-cells"))});
    if (const auto exit = parseOrExit(options, context, kExportHelp))
        return *exit;
    if (!options.positional().isEmpty())
        return usageError(
            QStringLiteral("unexpected argument: %1").arg(options.positional().front()),
            kExportHelp);
    const QString formatName = options.value(QStringLiteral("format"));
    ExportFormat format = ExportFormat::Json;
    if (formatName == u"keepassxc")
        format = ExportFormat::KeePassXc;
    else if (formatName == u"bitwarden")
        format = ExportFormat::Bitwarden;
    else if (formatName != u"json")
        return usageError(QStringLiteral("--format takes keepassxc, bitwarden or json"),
                          kExportHelp);
    const bool safeCells = options.isSet(QStringLiteral("safe-cells"));
    if (safeCells && format == ExportFormat::Json)
        return usageError(QStringLiteral("--safe-cells is for the CSV formats; JSON has no cells"),
                          kExportHelp);
    if (!options.isSet(QStringLiteral("o")) || options.value(QStringLiteral("o")).isEmpty())
        return usageError(QStringLiteral("-o FILE is needed (- for standard output)"), kExportHelp);
    const QString target = options.value(QStringLiteral("o"));
    const bool toStandardOutput = target == u"-";

    const DataPaths paths = DataPaths::forDataDirectory(context.dataDirectory);
    if (!toStandardOutput) {
        for (const QString& dataFile :
             {paths.linkFilePath, paths.masterPasswordPath, paths.settingsPath}) {
            if (resolvedPath(target) == resolvedPath(dataFile))
                return fail(
                    QStringLiteral("%1 is a data file of Quillor; export elsewhere").arg(target));
        }
    }

    std::optional<Secret> master = readMasterPassword();
    if (!master)
        return kExitFailure;
    OpenedData data;
    if (const QString failure =
            openData(context.dataDirectory, master->view(), context.cipher, Access::Read, data);
        !failure.isEmpty())
        return fail(failure);

    QByteArray text = exportText(data, format, safeCells, master->view(), context.cipher);
    const auto wipe = qScopeGuard([&text] { secureWipe(text); });
    if (toStandardOutput) {
        if (!writeOut(text))
            return fail(QStringLiteral("cannot write to standard output"));
        printError(QStringLiteral("the export of %1 holds every password in clear text")
                       .arg(entryCount(qsizetype(data.entries.size()))));
        return kExitSuccess;
    }
    OutputFile file(target);
    file.write(text);
    const SaveResult saved = file.commit();
    if (!saved.made())
        return fail(QStringLiteral("cannot write the export: %1").arg(saved.error()));
    printError(QStringLiteral("%1 written to %2; it holds every password in clear text: keep it to "
                              "yourself and delete it once it is imported")
                   .arg(entryCount(qsizetype(data.entries.size())), target));
    if (!saved) {
        printError(QStringLiteral("the export is in place, but may not outlast a power cut: %1")
                       .arg(saved.error()));
        return kExitMadeUnsure;
    }
    return kExitSuccess;
}

} // namespace

const Command kExportCommand{"export", kExportHelp, runExport};
const Command kImportCommand{"import", kImportHelp, runImport};
