#include "Csv.h"

namespace Csv {

namespace {

bool isLineEnd(QChar c)
{
    return c == u'\n' || c == u'\r';
}

// Past the line end at pos (CRLF, LF or CR).
qsizetype skipLineEnd(QStringView text, qsizetype pos)
{
    if (text[pos] == u'\r' && pos + 1 < text.size() && text[pos + 1] == u'\n')
        return pos + 2;
    return pos + 1;
}

// The length of the UTF-8 sequence that begins text, or 0 when it is none: overlong forms,
// surrogates and code points past U+10FFFF are none either.
qsizetype validSequenceLength(QByteArrayView text)
{
    const auto byte = [&text](qsizetype i) {
        return uchar(text[i]);
    };
    const uchar first = byte(0);
    if (first < 0x80)
        return 1;
    qsizetype length = 0;
    char32_t code = 0;
    char32_t least = 0;
    if ((first & 0xE0) == 0xC0) {
        length = 2;
        code = first & 0x1F;
        least = 0x80;
    } else if ((first & 0xF0) == 0xE0) {
        length = 3;
        code = first & 0x0F;
        least = 0x800;
    } else if ((first & 0xF8) == 0xF0) {
        length = 4;
        code = first & 0x07;
        least = 0x10000;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    for (qsizetype i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i) & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

std::vector<Record> parse(QStringView text)
{
    std::vector<Record> records;
    qsizetype pos = 0;
    qsizetype line = 1;
    const qsizetype n = text.size();
    if (n > 0 && text[0] == QChar(0xFEFF))
        pos = 1;

    while (pos < n) {
        if (isLineEnd(text[pos])) {
            pos = skipLineEnd(text, pos);
            ++line;
            continue;
        }
        Record record;
        record.line = line;
        const auto malformed = [&record](const QString& problem) {
            if (record.problem.isEmpty())
                record.problem = problem;
        };
        for (;;) {
            QString field;
            if (pos < n && text[pos] == u'"') {
                ++pos;
                bool closed = false;
                while (pos < n) {
                    const QChar c = text[pos];
                    if (c == u'"') {
                        if (pos + 1 < n && text[pos + 1] == u'"') {
                            field += u'"';
                            pos += 2;
                            continue;
                        }
                        ++pos;
                        closed = true;
                        break;
                    }
                    if (isLineEnd(c)) {
                        const qsizetype next = skipLineEnd(text, pos);
                        field += text.sliced(pos, next - pos);
                        pos = next;
                        ++line;
                        continue;
                    }
                    field += c;
                    ++pos;
                }
                if (!closed)
                    malformed(QStringLiteral("a quoted field is never closed"));
                // Kept as text, so that the record still ends where its line does.
                if (pos < n && text[pos] != u',' && !isLineEnd(text[pos]))
                    malformed(QStringLiteral("field %1: text after its closing quote")
                                  .arg(record.fields.size() + 1));
                while (pos < n && text[pos] != u',' && !isLineEnd(text[pos]))
                    field += text[pos++];
            } else {
                while (pos < n && text[pos] != u',' && !isLineEnd(text[pos]))
                    field += text[pos++];
            }
            record.fields.append(field);
            if (pos >= n)
                break;
            if (text[pos] == u',') {
                ++pos;
                continue;
            }
            pos = skipLineEnd(text, pos);
            ++line;
            break;
        }
        records.push_back(std::move(record));
    }
    return records;
}

Decoded decodeUtf8(QByteArrayView bytes)
{
    Decoded decoded;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    qsizetype line = 1;
    bool lineBad = false;
    for (qsizetype i = 0; i < bytes.size();) {
        const qsizetype length = validSequenceLength(bytes.sliced(i));
        if (length == 0) {
            lineBad = true;
            ++i;
            continue;
        }
        if (bytes[i] == '\n') {
            if (lineBad)
                decoded.badLines.push_back(line);
            lineBad = false;
            ++line;
        }
        i += length;
    }
    if (lineBad)
        decoded.badLines.push_back(line);
    if (decoded.badLines.empty())
        decoded.text = QString::fromUtf8(bytes);
    return decoded;
}

QString formatRecord(const QStringList& fields, Quoting quoting)
{
    QString out;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        const QString& field = fields[i];
        if (i > 0)
            out += u',';
        const bool quoted = quoting == Quoting::Always || field.contains(u',') ||
                            field.contains(u'"') || field.contains(u'\n') ||
                            field.contains(u'\r') ||
                            (!field.isEmpty() && (field.front() == u' ' || field.back() == u' '));
        if (!quoted) {
            out += field;
            continue;
        }
        out += u'"';
        for (QChar c : field) {
            if (c == u'"')
                out += u'"';
            out += c;
        }
        out += u'"';
    }
    out += QStringLiteral("\r\n");
    return out;
}

} // namespace Csv
