#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The files hold 8-bit text in Windows-1252. Its five unassigned bytes map to the C1 controls of
// the same value, so every byte survives a trip to QString and back.
namespace Windows1252 {

QString toUnicode(QByteArrayView bytes);
QChar toUnicode(char byte);

// Nothing is ever replaced: a text holding a character outside the code page gives nullopt.
std::optional<QByteArray> fromUnicode(QStringView text);

// Index of the first character the code page cannot hold, or -1.
qsizetype firstUnencodable(QStringView text);

} // namespace Windows1252
