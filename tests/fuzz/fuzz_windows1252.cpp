// The Windows-1252 codec: every byte string survives a trip to text and back; a text, read
// from the input as UTF-16, is either refused at a character the code page lacks or survives.

#include "FuzzSupport.h"
#include "store/Windows1252.h"

#include <cstring>

namespace {

void checkBytes(QByteArrayView bytes)
{
    const QString text = Windows1252::toUnicode(bytes);
    FUZZ_CHECK(text.size() == bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i)
        FUZZ_CHECK(text[i] == Windows1252::toUnicode(bytes[i]));
    FUZZ_CHECK(Windows1252::firstUnencodable(text) == -1);
    const auto back = Windows1252::fromUnicode(text);
    FUZZ_CHECK(back && *back == bytes);
}

void checkText(QStringView text)
{
    const qsizetype refused = Windows1252::firstUnencodable(text);
    const auto bytes = Windows1252::fromUnicode(text);
    if (bytes) {
        FUZZ_CHECK(refused == -1);
        FUZZ_CHECK(Windows1252::toUnicode(*bytes) == text);
        return;
    }
    // Refused at the first character the code page cannot hold, and only there.
    FUZZ_CHECK(refused >= 0 && refused < text.size());
    FUZZ_CHECK(Windows1252::fromUnicode(text.first(refused)).has_value());
    FUZZ_CHECK(!Windows1252::fromUnicode(text.sliced(refused, 1)).has_value());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    checkBytes(Fuzz::bytesOf(data, size));

    // Copied, since the input need not lie on a two-byte boundary.
    QString text(qsizetype(size / 2), Qt::Uninitialized);
    if (!text.isEmpty())
        std::memcpy(text.data(), data, std::size_t(text.size()) * 2);
    checkText(text);
    return 0;
}
