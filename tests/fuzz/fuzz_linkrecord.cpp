// One link record: four stored fields of fixed widths, the last record of a file perhaps cut
// short.

#include "FuzzSupport.h"
#include "store/LinkRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes = Fuzz::bytesOf(data, size);
    const auto record = decodeLinkRecord(bytes);
    if (!record)
        return 0;
    const QByteArrayView inRecord = bytes.first(std::min<qsizetype>(bytes.size(), kLinkRecordSize));
    FUZZ_CHECK(Fuzz::isWithin(record->title, inRecord));
    FUZZ_CHECK(Fuzz::isWithin(record->url, inRecord));
    FUZZ_CHECK(Fuzz::isWithin(record->userName, inRecord));
    FUZZ_CHECK(Fuzz::isWithin(record->password, inRecord));

    // Whatever a reader accepts, the writer can write back, and it reads the same.
    const auto written =
        encodeLinkRecord({record->title.toByteArray(), record->url.toByteArray(),
                          record->userName.toByteArray(), record->password.toByteArray()});
    FUZZ_CHECK(written && written->size() == kLinkRecordSize);
    const auto again = decodeLinkRecord(*written);
    FUZZ_CHECK(again);
    FUZZ_CHECK(again->title == record->title && again->url == record->url &&
               again->userName == record->userName && again->password == record->password);
    return 0;
}
