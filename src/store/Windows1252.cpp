#include "Windows1252.h"

#include "cipher/SecureWipe.h"

#include <array>

namespace {

// 0x80..0x9F; the unassigned ones keep their own value.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

std::optional<char> encode(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return char(c);
    for (std::size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] == c)
            return char(0x80 + i);
    }
    return std::nullopt;
}

} // namespace

namespace Windows1252 {

QChar toUnicode(char byte)
{
    const auto b = static_cast<unsigned char>(byte);
    if (b >= 0x80 && b < 0xA0)
        return QChar(kHighControls[b - 0x80]);
    return QChar(char16_t(b));
}

QString toUnicode(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (char b : bytes)
        *out++ = toUnicode(b);
    return text;
}

std::optional<QByteArray> fromUnicode(QStringView text)
{
    QByteArray bytes(text.size(), Qt::Uninitialized);
    char* out = bytes.data();
    for (QChar c : text) {
        const auto byte = encode(c.unicode());
        if (!byte) {
            // What was converted so far may be most of a password.
            secureWipe(bytes);
            return std::nullopt;
        }
        *out++ = *byte;
    }
    return bytes;
}

qsizetype firstUnencodable(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!encode(text[i].unicode()))
            return i;
    }
    return -1;
}

} // namespace Windows1252
