#pragma once

#include <QByteArray>
#include <QString>

namespace BenchData {

// The master password every benchmark file is encrypted under.
inline const QByteArray kPassword = QByteArrayLiteral("Pomelo tree 42");

// Item widths of a typical entry: what people keep, not what the fields could hold.
constexpr int kTitleChars = 30;
constexpr int kUrlChars = 60;
constexpr int kUserNameChars = 20;
constexpr int kPasswordChars = 20;

// The four items of entry `number` of a typical list, each at its typical width and each
// entry's different from the next.
struct TypicalEntry {
    QByteArray title;
    QByteArray url;
    QByteArray userName;
    QByteArray password;
};
TypicalEntry typicalEntry(int number);

// Writes a link file of `records` typical entries, each one different, encrypted under
// password with the program's own encoders. Streams the records out, so even a file of
// hundreds of megabytes is never held in memory. Empty on success, else what failed.
QString writeTypicalLinkFile(const QString& path, int records, const QByteArray& password);

// writeTypicalLinkFile for a benchmark's main(): says on standard error what failed.
bool makeTypicalLinkFile(const QString& path, int records, const QByteArray& password);

} // namespace BenchData
