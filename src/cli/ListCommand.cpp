#include "ListCommand.h"

#include "cipher/CipherKey.h"
#include "store/CipherGuard.h"
#include "store/LinkFile.h"
#include "store/Windows1252.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
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
        : m_format(format)
    {
        for (int b = 0; b < 256; ++b) {
            const std::string text = escaped(format, Windows1252::toUnicode(char(b)).unicode());
            Text& entry = m_text[std::size_t(b)];
            std::memcpy(entry.bytes, text.data(), text.size());
            entry.length = std::uint8_t(text.size());
        }
    }
    const Text& operator[](char byte) const { return m_text[std::uint8_t(byte)]; }
    ListFormat format() const { return m_format; }

    // Whether none of the eight bytes in x needs more than itself: printable ASCII that the
    // format leaves alone.
    template <ListFormat F> static bool plain(std::uint64_t x)
    {
        constexpr std::uint64_t kHigh = 0x8080808080808080u;
        constexpr std::uint64_t kOnes = 0x0101010101010101u;
        if (x & kHigh)
            return false; // a byte of 0x80 or more: two or three bytes in UTF-8
        // Each byte below 0x80 now, so the sums below carry into no neighbour.
        const auto noneIs = [x](std::uint8_t b) {
            return (((x ^ (kOnes * b)) + kOnes * 0x7F) & kHigh) == kHigh;
        };
        if (((x + kOnes * 0x60) & kHigh) != kHigh)
            return false; // a control character
        switch (F) {
        case ListFormat::Text:
            return noneIs(0x7F);
        case ListFormat::Tsv:
            return noneIs('\\');
        case ListFormat::Json:
            return noneIs('\\') && noneIs('"');
        }
        return false;
    }

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
    ListFormat m_format;
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
            write(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
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
        switch (escapes.format()) {
        case ListFormat::Text:
            out = putEscaped<ListFormat::Text>(out, field, escapes);
            break;
        case ListFormat::Tsv:
            out = putEscaped<ListFormat::Tsv>(out, field, escapes);
            break;
        case ListFormat::Json:
            out = putEscaped<ListFormat::Json>(out, field, escapes);
            break;
        }
        m_used = std::size_t(out - m_buffer.data());
    }
    // False once a write failed: nothing more is written then, and error() says why.
    bool ok() const { return m_error == 0; }
    int error() const { return m_error; }
    bool finish()
    {
        flush();
        return write({});
    }

private:
    template <ListFormat F>
    static char* putEscaped(char* out, QByteArrayView field, const ByteEscapes& escapes)
    {
        const auto oneByOne = [&escapes](char* to, const char* from, const char* end) {
            for (; from < end; ++from) {
                const ByteEscapes::Text& text = escapes[*from];
                std::memcpy(to, &text, sizeof text);
                to += text.length;
            }
            return to;
        };
        const char* in = field.data();
        const char* const end = in + field.size();
        if (field.size() < 8)
            return oneByOne(out, in, end);
        // Eight bytes that need no escape go out as they are: most items are plain text. The last
        // eight are checked whole, though some were written already.
        std::uint64_t x;
        while (end - in > 8) {
            std::memcpy(&x, in, sizeof x);
            if (ByteEscapes::plain<F>(x)) {
                std::memcpy(out, &x, sizeof x);
                out += 8;
                in += 8;
            } else {
                out = oneByOne(out, in, in + 8);
                in += 8;
            }
        }
        std::memcpy(&x, end - 8, sizeof x);
        if (ByteEscapes::plain<F>(x)) {
            std::memcpy(out, in, std::size_t(end - in));
            return out + (end - in);
        }
        return oneByOne(out, in, end);
    }

    void flush()
    {
        if (m_used > 0)
            write(QByteArrayView(m_buffer.data(), qsizetype(m_used)));
        m_used = 0;
    }
    bool write(QByteArrayView bytes)
    {
        errno = 0;
        if (m_error == 0 && !writeOut(bytes))
            m_error = errno != 0 ? errno : EIO;
        return m_error == 0;
    }

    std::array<char, 64 * 1024> m_buffer{};
    std::size_t m_used = 0;
    int m_error = 0;
};

// One entry in a format, its items decrypted; the password only when it is to be shown.
void putEntry(StreamedOutput& out, const ByteEscapes& escapes, ListFormat format,
              const LinkRecordView& entry, bool password, std::string_view indent)
{
    const auto jsonItem = [&](std::string_view name, QByteArrayView field, bool last) {
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
        out.put(entry.title, escapes);
        out.put("\nUsername:    ");
        out.put(entry.userName, escapes);
        out.put("\nURL Address: ");
        out.put(entry.url, escapes);
        if (password) {
            out.put("\nPassword:    ");
            out.put(entry.password, escapes);
        }
        out.put("\n\n");
        break;
    case ListFormat::Tsv:
        out.put(entry.title, escapes);
        out.put("\t");
        out.put(entry.userName, escapes);
        out.put("\t");
        out.put(entry.url, escapes);
        if (password) {
            out.put("\t");
            out.put(entry.password, escapes);
        }
        out.put("\n");
        break;
    case ListFormat::Json:
        // The members in name order, as the list has always given them.
        out.put(indent);
        out.put("{\n");
        if (password)
            jsonItem("password", entry.password, false);
        jsonItem("title", entry.title, false);
        jsonItem("url", entry.url, false);
        jsonItem("username", entry.userName, true);
        out.put(indent);
        out.put("}");
        break;
    }
}

// One record's items decrypted, each a copy in a buffer that is wiped when done with.
class PlainRecord {
public:
    PlainRecord() = default;
    ~PlainRecord() { secureWipe(m_bytes.data(), m_bytes.size()); }
    PlainRecord(const PlainRecord&) = delete;
    PlainRecord& operator=(const PlainRecord&) = delete;

    // The items of the record's cipher texts, valid until the next call. The password stays
    // empty unless asked for: what is never decrypted cannot leak.
    LinkRecordView decrypt(const LinkRecordView& ciphers, const CipherKey& key, bool password)
    {
        char* at = m_bytes.data();
        const auto item = [&](QByteArrayView cipher) {
            char* const start = at;
            if (!cipher.isEmpty()) {
                std::memcpy(at, cipher.data(), std::size_t(cipher.size()));
                key.cryptInPlace(at, cipher.size());
                at += cipher.size();
            }
            return QByteArrayView(start, at - start);
        };
        LinkRecordView plain;
        plain.title = item(ciphers.title);
        plain.url = item(ciphers.url);
        plain.userName = item(ciphers.userName);
        if (password)
            plain.password = item(ciphers.password);
        return plain;
    }

private:
    // The four fields hold less than a record's bytes, their length prefixes being left out.
    std::array<char, kLinkRecordSize> m_bytes{};
};

// Records first .. end - 1 in a format, each decrypted as it is read and written out at once:
// no list is held whole, however long. JSON gives an array of entries for a list, one object for
// a single entry. Empty when everything went out, else the message.
QString writeEntries(CheckedLinkFile& records, qint64 first, qint64 end, bool single,
                     ListFormat format, bool showPasswords, const CipherKey& key)
{
    const ByteEscapes escapes(format);
    StreamedOutput out;
    PlainRecord plain;
    const bool array = format == ListFormat::Json && !single;
    const std::string_view indent = array ? "    " : "";
    if (format == ListFormat::Tsv)
        out.put(showPasswords ? "title\tusername\turl\tpassword\n" : "title\tusername\turl\n");
    if (array)
        out.put("[\n");
    for (qint64 i = first; i < end && out.ok(); ++i) {
        const std::optional<LinkRecordView> record = records.next();
        // Every record was read when the file was opened, so the file changed since; what is
        // already out stays, and the message says the rest is missing.
        if (!record)
            return QStringLiteral("cannot read the link file: %1").arg(records.failure());
        putEntry(out, escapes, format, plain.decrypt(*record, key, showPasswords), showPasswords,
                 indent);
        if (format == ListFormat::Json)
            out.put(array && i + 1 < end ? ",\n" : "\n");
    }
    if (array)
        out.put("]\n");
    if (out.finish())
        return {};
    // The reader stopped reading, as `head` does: not a fault of the data, but the listing did
    // not reach its end, which the exit status must say.
    if (out.error() == EPIPE)
        return QStringLiteral("standard output was closed before the listing ended");
    return QStringLiteral("cannot write to standard output");
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
            unlockData(context.dataDirectory, master->view(), context.cipher, Access::Read, data);
        !failure.isEmpty())
        return fail(failure);
    // Every record is read once before the first byte goes out: a damaged one gives its message
    // alone, never after a part of the listing.
    CheckedLinkFile link;
    if (data.linkFile) {
        if (const QString failure = link.open(*data.linkFile, data.paths.linkFilePath,
                                              showPasswords ? CheckedLinkFile::Passwords::Give
                                                            : CheckedLinkFile::Passwords::Leave);
            !failure.isEmpty())
            return fail(QStringLiteral("cannot read the link file: %1").arg(failure));
    }
    noteTornTail(data.paths.linkFilePath, link.tornTailBytes());
    if (number && *number > link.count())
        return fail(QStringLiteral("there is no entry %1: the list holds %2")
                        .arg(*number)
                        .arg(link.count()));

    // The output may wait long on a slow reader: only the key schedule stays for it, the master
    // password is wiped first.
    std::optional<CipherKey> key;
    {
        CipherGuard provider(context.cipher);
        const CipherKey* batchKey = context.cipher.keyForBatch(master->view());
        if (!batchKey)
            return kExitFailure; // the cipher service said why
        key.emplace(*batchKey);
    }
    master.reset();

    const qint64 first = number ? *number - 1 : 0;
    const qint64 end = number ? *number : link.count();
    if (!link.seek(first))
        return fail(QStringLiteral("cannot read the link file: %1").arg(link.failure()));
    if (const QString failure = writeEntries(link, first, end, single, format, showPasswords, *key);
        !failure.isEmpty())
        return fail(failure);
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
