#include "Csv.h"

#include <QStringDecoder>

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
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    decoded.text = decoder.decode(bytes);
    if (!decoder.hasError())
        return decoded;
    // Said by line, so that the user can find them.
    qsizetype line = 1;
    qsizetype start = 0;
    while (start <= bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        QStringDecoder lineDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        (void)lineDecoder.decode(bytes.sliced(start, end - start));
        if (lineDecoder.hasError())
            decoded.badLines.push_back(line);
        start = end + 1;
        ++line;
    }
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
