#include "LinkRecord.h"

#include "StoredField.h"

#include <algorithm>
#include <array>

namespace {
static_assert(kTitleFieldWidth + kUrlFieldWidth + kUserNameFieldWidth + kPasswordFieldWidth ==
              kLinkRecordSize);
} // namespace

std::optional<QByteArray> encodeLinkRecord(const LinkRecordCiphers& ciphers)
{
    const std::array<const QByteArray*, 4> items = {&ciphers.title, &ciphers.url, &ciphers.userName,
                                                    &ciphers.password};
    QByteArray record;
    record.reserve(kLinkRecordSize);
    for (std::size_t i = 0; i < items.size(); ++i) {
        const auto field = makeStoredField(*items[i], kLinkFieldWidths[i]);
        if (!field)
            return std::nullopt;
        record.append(*field);
    }
    return record;
}

std::optional<LinkRecordView> decodeLinkRecord(QByteArrayView record)
{
    std::array<QByteArrayView, 4> ciphers;
    qsizetype offset = 0;
    for (std::size_t i = 0; i < kLinkFieldWidths.size(); ++i) {
        const qsizetype available =
            std::clamp<qsizetype>(record.size() - offset, 0, kLinkFieldWidths[i]);
        const auto cipher = readStoredField(record.sliced(offset, available));
        if (!cipher)
            return std::nullopt;
        ciphers[i] = *cipher;
        offset += available;
    }
    return LinkRecordView{ciphers[0], ciphers[1], ciphers[2], ciphers[3]};
}
