// The stored field: nine digits, the cipher text, blanks. The length comes from the file and
// must never reach past the field.

#include "FuzzSupport.h"
#include "store/StoredField.h"
#include "store/Windows1252.h"

#include <climits>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView field = Fuzz::bytesOf(data, size);

    if (const auto cipher = readStoredField(field)) {
        FUZZ_CHECK(cipher->data() == field.data() + kLengthPrefixDigits || cipher->isEmpty());
        FUZZ_CHECK(Fuzz::isWithin(*cipher, field));
        // Written again at the same width, the prefix and the text come back as they were read.
        if (field.size() <= INT_MAX) {
            const auto written = makeStoredField(*cipher, int(field.size()));
            FUZZ_CHECK(written && written->size() == field.size());
            const qsizetype used = kLengthPrefixDigits + cipher->size();
            FUZZ_CHECK(QByteArrayView(*written).first(used) == field.first(used));
            FUZZ_CHECK(readStoredField(*written) == *cipher);
        }
    }

    const QByteArrayView trimmed = trimBlanks(field);
    FUZZ_CHECK(Fuzz::isWithin(trimmed, field));
    FUZZ_CHECK(!trimmed.startsWith(' ') && !trimmed.endsWith(' '));
    const QString text = Windows1252::toUnicode(field);
    FUZZ_CHECK(trimBlanks(QStringView(text)).size() == trimmed.size());
    return 0;
}
