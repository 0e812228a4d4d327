#include "ListCommand.h"

#include "store/CipherGuard.h"
#include "store/Windows1252.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

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

// How each stored byte is written in a format: its character in UTF-8, or that character's
// escape. Built once, so that a field goes out a byte at a time through one lookup.
class ByteEscapes {
public:
    // Eight bytes an entry, so that each is copied whole in one move; "\\u001f" is the longest.
    struct Text {
        char bytes[7];
        std::uint8_t length;
    };
    static constexpr std::size_t kLongest = 6;

    explicit ByteEscapes(ListFormat format)
    {
        for (int b = 0; b < 256; ++b) {
            const std::string text = escaped(format, Windows1252::toUnicode(char(b)).unicode());
            Text& entry = m_text[std::size_t(b)];
            std::memcpy(entry.bytes, text.data(), text.size());
            entry.length = std::uint8_t(text.size());
        }
    }
    const Text& operator[](char byte) const { return m_text[std::uint8_t(byte)]; }

private:
    static std::string escaped(ListFormat format, char16_t u)
    {
        char hex[8];
        switch (format) {
        case ListFormat::Text:
            // As a terminal shows it: no control character acts.
            if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0)) {
                std::snprintf(hex, sizeof hex, "\\x%02x", unsigned(u));
                return hex;
            }
            break;
        case ListFormat::Tsv:
            switch (u) {
            case u'\\':
                return "\\\\";
            case u'\t':
                return "\\t";
            case u'\n':
                return "\\n";
            case u'\r':
                return "\\r";
            }
            break;
        case ListFormat::Json:
            switch (u) {
            case u'"':
                return "\\\"";
            case u'\\':
                return "\\\\";
            case u'\b':
                return "\\b";
            case u'\f':
                return "\\f";
            case u'\n':
                return "\\n";
            case u'\r':
                return "\\r";
            case u'\t':
                return "\\t";
            }
            if (u < 0x20) {
                std::snprintf(hex, sizeof hex, "\\u%04x", unsigned(u));
                return hex;
            }
            break;
        }
        return QString(QChar(u)).toStdString();
    }

    std::array<Text, 256> m_text{};
};

// Standard output through one buffer, written out whenever it fills: the list is never held
// whole, however long it is. The buffer is wiped, as it carries passwords.
class StreamedOutput {
public:
    ~StreamedOutput() { secureWipe(m_buffer.data(), m_buffer.size()); }

    void put(std::string_view bytes)
    {
        if (m_used + bytes.size() > m_buffer.size())
            flush();
        if (bytes.size() > m_buffer.size()) {
            m_ok = m_ok && writeOut(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
            return;
        }
        std::memcpy(m_buffer.data() + m_used, bytes.data(), bytes.size());
        m_used += bytes.size();
    }
    void put(QByteArrayView field, const ByteEscapes& escapes)
    {
        // Room for the longest escape of every byte, and the whole last entry copied.
        const std::size_t most = std::size_t(field.size()) * ByteEscapes::kLongest + 8;
        if (most > m_buffer.size()) {
            for (char c : field)
                put(std::string_view(escapes[c].bytes, escapes[c].length));
            return;
        }
        if (m_used + most > m_buffer.size())
            flush();
        char* out = m_buffer.data() + m_used;
        for (char c : field) {
            const ByteEscapes::Text& text = escapes[c];
            std::memcpy(out, &text, sizeof text);
            out += text.length;
        }
        m_used = std::size_t(out - m_buffer.data());
    }
    // False once any write failed.
    bool finish()
    {
        flush();
        return m_ok && writeOut({});
    }

private:
    void flush()
    {
        if (m_used > 0)
            m_ok = m_ok && writeOut(QByteArrayView(m_buffer.data(), qsizetype(m_used)));
        m_used = 0;
    }

    std::array<char, 64 * 1024> m_buffer{};
    std::size_t m_used = 0;
    bool m_ok = true;
};

// One entry in a format; the password, when given, already decrypted.
void putEntry(StreamedOutput& out, const ByteEscapes& escapes, ListFormat format,
              const Entry& entry, const QByteArray* password, const char* indent)
{
    const auto jsonItem = [&](const char* name, QByteArrayView field, bool last) {
        out.put(indent);
        out.put("    \"");
        out.put(name);
        out.put("\": \"");
        out.put(field, escapes);
        out.put(last ? "\"\n" : "\",\n");
    };
    switch (format) {
    case ListFormat::Text:
        out.put("Page Title:  ");
        out.put(entry.title(), escapes);
        out.put("\nUsername:    ");
        out.put(entry.userName(), escapes);
        out.put("\nURL Address: ");
        out.put(entry.url(), escapes);
        if (password) {
            out.put("\nPassword:    ");
            out.put(*password, escapes);
        }
        out.put("\n\n");
        break;
    case ListFormat::Tsv:
        out.put(entry.title(), escapes);
        out.put("\t");
        out.put(entry.userName(), escapes);
        out.put("\t");
        out.put(entry.url(), escapes);
        if (password) {
            out.put("\t");
            out.put(*password, escapes);
        }
        out.put("\n");
        break;
    case ListFormat::Json:
        // The members in name order, as the list has always given them.
        out.put(indent);
        out.put("{\n");
        if (password)
            jsonItem("password", *password, false);
        jsonItem("title", entry.title(), false);
        jsonItem("url", entry.url(), false);
        jsonItem("username", entry.userName(), true);
        out.put(indent);
        out.put("}");
        break;
    }
}

// JSON gives an array of entries for a list, one object for a single entry. The cipher service
// is open around the call.
bool writeEntries(const std::vector<Entry>& entries, std::optional<int> number, ListFormat format,
                  bool showPasswords, QByteArrayView master, CipherService& cipher)
{
    const ByteEscapes escapes(format);
    StreamedOutput out;
    const bool array = format == ListFormat::Json && !number;
    if (format == ListFormat::Tsv)
        out.put(showPasswords ? "title\tusername\turl\tpassword\n" : "title\tusername\turl\n");
    if (array)
        out.put("[\n");
    const std::size_t first = number ? std::size_t(*number - 1) : 0;
    const std::size_t end = number ? first + 1 : entries.size();
    for (std::size_t i = first; i < end; ++i) {
        const Entry& entry = entries[i];
        QByteArray password;
        if (showPasswords)
            password = cipher.DecryptText(entry.passwordCipher(), master);
        putEntry(out, escapes, format, entry, showPasswords ? &password : nullptr,
                 array ? "    " : "");
        secureWipe(password);
        if (format == ListFormat::Json)
            out.put(array && i + 1 < end ? ",\n" : "\n");
    }
    if (array)
        out.put("]\n");
    return out.finish();
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

    // The output may wait long on a slow reader: the master password is gone by then unless
    // the passwords it decrypts go out with it.
    if (!showPasswords)
        master.reset();
    bool written = false;
    {
        CipherGuard provider(context.cipher);
        written = writeEntries(data.entries, number, format, showPasswords,
                               master ? master->view() : QByteArrayView(), context.cipher);
    }
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
