#include "StoredField.h"

#include <QString>

#include <cstring>

QByteArray MakANumba(quint32 n)
{
    Q_ASSERT(n <= 999'999'999);
    return QByteArray::number(n).rightJustified(kLengthPrefixDigits, '0');
}

bool putStoredField(char* out, int width, QByteArrayView cipherText)
{
    if (cipherText.size() > width - kLengthPrefixDigits)
        return false;
    quint32 n = quint32(cipherText.size());
    for (int i = kLengthPrefixDigits - 1; i >= 0; --i, n /= 10)
        out[i] = char('0' + n % 10);
    char* text = out + kLengthPrefixDigits;
    if (!cipherText.isEmpty())
        std::memcpy(text, cipherText.data(), std::size_t(cipherText.size()));
    std::memset(text + cipherText.size(), ' ',
                std::size_t(width - kLengthPrefixDigits - cipherText.size()));
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
    qsizetype length = 0;
    for (int i = 0; i < kLengthPrefixDigits; ++i) {
        const char c = field[i];
        if (c < '0' || c > '9')
            return std::nullopt;
        length = length * 10 + (c - '0');
    }
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
