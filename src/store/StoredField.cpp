#include "StoredField.h"

#include <QString>

#include <bit>
#include <cstdint>
#include <cstring>

QByteArray MakANumba(quint32 n)
{
    Q_ASSERT(n <= 999'999'999);
    return QByteArray::number(n).rightJustified(kLengthPrefixDigits, '0');
}

bool putStoredField(char* out, int width, QByteArrayView cipherText)
{
    qsizetype written = width - kLengthPrefixDigits;
    return overwriteStoredField(out, width, cipherText, written);
}

bool overwriteStoredField(char* out, int width, QByteArrayView cipherText, qsizetype& written)
{
    if (cipherText.size() > width - kLengthPrefixDigits)
        return false;
    quint32 n = quint32(cipherText.size());
    for (int i = kLengthPrefixDigits - 1; i >= 0; --i, n /= 10)
        out[i] = char('0' + n % 10);
    char* text = out + kLengthPrefixDigits;
    if (!cipherText.isEmpty())
        std::memcpy(text, cipherText.data(), std::size_t(cipherText.size()));
    if (written > cipherText.size())
        std::memset(text + cipherText.size(), ' ', std::size_t(written - cipherText.size()));
    written = cipherText.size();
    return true;
}

std::optional<QByteArray> makeStoredField(QByteArrayView cipherText, int width)
{
    QByteArray field(width, Qt::Uninitialized);
    if (!putStoredField(field.data(), width, cipherText))
        return std::nullopt;
    return field;
}

std::optional<QByteArrayView> readStoredField(QByteArrayView field)
{
    if (field.size() < kLengthPrefixDigits)
        return std::nullopt;
    // The first eight digits at once: each byte's digit checked and the eight summed in three
    // multiplications, as every record of a long list passes here four times.
    std::uint64_t x;
    std::memcpy(&x, field.data(), sizeof x);
    if constexpr (std::endian::native == std::endian::big)
        x = __builtin_bswap64(x); // the first digit in the lowest byte
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    // Every byte in '0' .. '?', and none past '9' once 6 is added to each.
    if ((x & kOnes * 0xF0) != kOnes * '0' || ((x + kOnes * 6) & kOnes * 0xF0) != kOnes * '0')
        return std::nullopt;
    std::uint64_t v = x - kOnes * '0';
    v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFu;
    v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFFu;
    v = (v * 10000 + (v >> 32)) & 0xFFFFFFFFu;
    const char last = field[kLengthPrefixDigits - 1];
    if (last < '0' || last > '9')
        return std::nullopt;
    const qsizetype length = qsizetype(v) * 10 + (last - '0');
    if (length > field.size() - kLengthPrefixDigits)
        return std::nullopt;
    return field.sliced(kLengthPrefixDigits, length);
}

QByteArrayView trimBlanks(QByteArrayView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == ' ')
        ++begin;
    while (end > begin && text[end - 1] == ' ')
        --end;
    return text.sliced(begin, end - begin);
}

QStringView trimBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.sliced(begin, end - begin);
}
