#pragma once

#include <QByteArray>

#include <array>
#include <optional>

// Widths of the four stored fields of a link record, in file order.
constexpr int kTitleFieldWidth = 512;
constexpr int kUrlFieldWidth = 2048;
constexpr int kUserNameFieldWidth = 512;
constexpr int kPasswordFieldWidth = 512;
constexpr int kLinkRecordSize = 3584; // the four fields, no separators
constexpr std::array<int, 4> kLinkFieldWidths = {kTitleFieldWidth, kUrlFieldWidth,
                                                 kUserNameFieldWidth, kPasswordFieldWidth};

// The four cipher texts of one record, in file order.
struct LinkRecordCiphers {
    QByteArray title;
    QByteArray url;
    QByteArray userName;
    QByteArray password;
};

// A record of kLinkRecordSize bytes; nullopt when an item is too long for its field.
std::optional<QByteArray> encodeLinkRecord(const LinkRecordCiphers& ciphers);

// Views of the four cipher texts of a record, which may be the short last one of its file.
struct LinkRecordView {
    QByteArrayView title;
    QByteArrayView url;
    QByteArrayView userName;
    QByteArrayView password;
};
std::optional<LinkRecordView> decodeLinkRecord(QByteArrayView record);
