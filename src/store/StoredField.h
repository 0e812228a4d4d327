#pragma once

#include <QByteArray>

#include <optional>

// A stored field: nine decimal digits giving the cipher length, the cipher text, then blanks.
constexpr int kLengthPrefixDigits = 9;

// n as nine digits with leading zeros; n must lie in 0 .. 999,999,999.
QByteArray MakANumba(quint32 n);

// The field of the given width holding cipherText; nullopt when the text does not fit.
std::optional<QByteArray> makeStoredField(QByteArrayView cipherText, int width);

// Lays the field out at out, which holds width bytes; false when the text does not fit.
bool putStoredField(char* out, int width, QByteArrayView cipherText);
// The same over a field laid out before, whose bytes past the first `written` of its text are
// blanks already: only what the new text leaves of the old is blanked. `written` becomes the new
// text's length. A buffer reused for record after record so skips blanking most of each field.
bool overwriteStoredField(char* out, int width, QByteArrayView cipherText, qsizetype& written);

// The cipher text held in a field, which may be cut short by the end of its file. nullopt when
// the prefix is not nine digits or promises more characters than the field holds.
std::optional<QByteArrayView> readStoredField(QByteArrayView field);

// Leading and trailing blanks removed, as the program trims typed and stored texts.
QByteArrayView trimBlanks(QByteArrayView text);
QStringView trimBlanks(QStringView text);
