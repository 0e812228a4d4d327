#include "Settings.h"

#include "OleDate.h"
#include "store/StoredField.h"
#include "store/Windows1252.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QStringList>
#include <QtEndian>

#include <cmath>
#include <cstring>

namespace {

// Offsets of the record's fields, in file order.
enum Offset : int {
    kLeft = 0,
    kTop = 4,
    kWidth = 8,
    kHeight = 12,
    kFontName = 16,
    kFontBold = 144,
    kFontSize = 146,
    kColumn0 = 150,
    kColumn1 = 154,
    kColumn2 = 158,
    kOneClick = 162,
    kOnTop = 164,
    kLastDelete = 166,
    kColumn3 = 174,
    kReserved178 = 178,
    kNoTips = 180,
    kHiddenUserNames = 182,
    kPlacementStored = 184,
    kReserved188 = 188,
    kDeleteConfirmation = 200,
    kBackupDirectory = 202,
    kAutoEnter = 462,
    kAutoEnterPassword = 464,
    kMessageSuppression = 763,
};
// Where each field starts, for a record cut short.
constexpr int kFieldStarts[] = {
    kLeft,
    kTop,
    kWidth,
    kHeight,
    kFontName,
    kFontBold,
    kFontSize,
    kColumn0,
    kColumn1,
    kColumn2,
    kOneClick,
    kOnTop,
    kLastDelete,
    kColumn3,
    kReserved178,
    kNoTips,
    kHiddenUserNames,
    kPlacementStored,
    kReserved188,
    kDeleteConfirmation,
    kBackupDirectory,
    kAutoEnter,
    kAutoEnterPassword,
    kMessageSuppression,
};
constexpr int kFontNameWidth = 128;
constexpr int kBackupDirectoryWidth = 260;
static_assert(kMessageSuppression + Settings::kMessageCount == SettingsRecord::kSize);
static_assert(kAutoEnterPassword + SettingsRecord::kAutoEnterCodeSize == kMessageSuppression);

constexpr int kDigitCodeChars = 99;
constexpr char kEmptyDigitCode[] = "03032032032";

template <typename T> T getNumber(QByteArrayView record, int offset)
{
    return qFromLittleEndian<T>(record.data() + offset);
}

template <typename T> void putNumber(QByteArray& record, int offset, T value)
{
    qToLittleEndian<T>(value, record.data() + offset);
}

QString getText(QByteArrayView record, int offset, int width)
{
    return Windows1252::toUnicode(trimBlanks(record.sliced(offset, width)));
}

// Left-aligned and padded with blanks; a text the code page cannot hold is stored empty
// rather than garbled.
void putText(QByteArray& record, int offset, int width, const QString& text)
{
    const QByteArray bytes = Windows1252::fromUnicode(text).value_or(QByteArray()).left(width);
    std::memcpy(record.data() + offset, bytes.constData(), std::size_t(bytes.size()));
    std::memset(record.data() + offset + bytes.size(), ' ', std::size_t(width - bytes.size()));
}

std::optional<int> digits(QByteArrayView text)
{
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

bool Settings::isMessageSuppressed(int number) const
{
    // Only "0" shows a message; any other character keeps it off.
    return number >= 1 && number <= messageSuppression.size() &&
           messageSuppression[number - 1] != u'0';
}

namespace SettingsRecord {

QByteArray encodeDigitCode(const QString& password, QRandomGenerator& random)
{
    const qsizetype n = std::min<qsizetype>(password.size(), kDigitCodeChars);
    QByteArray code = QByteArray::number(n).rightJustified(2, '0');
    for (qsizetype i = 0; i < kDigitCodeChars; ++i) {
        int value;
        if (i < n) {
            const auto byte = Windows1252::fromUnicode(QStringView(password).sliced(i, 1));
            value = byte ? quint8(byte->at(0)) : ' ';
        } else {
            value = 32 + int(random.generateDouble() * 95);
        }
        code.append(QByteArray::number(value).rightJustified(3, '0'));
    }
    return code;
}

QString decodeDigitCode(QByteArrayView code)
{
    code = trimBlanks(code);
    if (code.isEmpty())
        code = kEmptyDigitCode;
    const auto n = code.size() >= 2 ? digits(code.first(2)) : std::nullopt;
    if (!n)
        return {};
    QByteArray bytes;
    for (int i = 0; i < *n; ++i) {
        const qsizetype at = 2 + 3 * qsizetype(i);
        const auto value = at + 3 <= code.size() ? digits(code.sliced(at, 3)) : std::nullopt;
        if (!value || *value > 255)
            break;
        bytes.append(char(*value));
    }
    return Windows1252::toUnicode(trimBlanks(bytes));
}

Settings decode(QByteArrayView stored, QByteArrayView defaults)
{
    QByteArray record(kSize, '\0');
    // An empty view may carry a null pointer, which memcpy must not be given even for 0 bytes.
    if (!stored.isEmpty())
        std::memcpy(record.data(), stored.data(),
                    std::size_t(std::min<qsizetype>(stored.size(), kSize)));
    if (stored.size() < kSize) {
        // Half a field is no value: the cut field comes whole from the defaults too.
        int from = 0;
        for (int start : kFieldStarts) {
            if (start <= stored.size())
                from = start;
        }
        std::memset(record.data() + from, 0, std::size_t(kSize - from));
        if (defaults.size() > from)
            std::memcpy(record.data() + from, defaults.data() + from,
                        std::size_t(std::min<qsizetype>(defaults.size(), kSize) - from));
    }

    Settings s;
    s.windowLeft = getNumber<float>(record, kLeft);
    s.windowTop = getNumber<float>(record, kTop);
    s.windowWidth = getNumber<float>(record, kWidth);
    s.windowHeight = getNumber<float>(record, kHeight);
    s.fontName = getText(record, kFontName, kFontNameWidth);
    s.fontBold = getNumber<qint16>(record, kFontBold) != 0;
    s.fontSize = getNumber<float>(record, kFontSize);
    if (!(s.fontSize >= 2))
        s.fontSize = 8;
    s.columnWidths = {getNumber<float>(record, kColumn0), getNumber<float>(record, kColumn1),
                      getNumber<float>(record, kColumn2), getNumber<float>(record, kColumn3)};
    s.oneClick = getNumber<qint16>(record, kOneClick);
    s.onTop = getNumber<qint16>(record, kOnTop);
    s.lastDeleteDate = getNumber<double>(record, kLastDelete);
    s.noTips = getNumber<qint16>(record, kNoTips);
    s.hiddenUserNames = getNumber<qint16>(record, kHiddenUserNames);
    s.placementStored = getNumber<qint32>(record, kPlacementStored);
    s.deleteConfirmation = getNumber<qint16>(record, kDeleteConfirmation);
    // Judged after trimming: blanks before a NUL would otherwise read as text here, and the
    // same text written back, NUL first, as empty.
    s.backupDirectory = getText(record, kBackupDirectory, kBackupDirectoryWidth);
    if (s.backupDirectory.startsWith(QChar(0)))
        s.backupDirectory.clear();
    s.autoEnter = getNumber<qint16>(record, kAutoEnter);
    s.autoEnterPassword =
        decodeDigitCode(QByteArrayView(record).sliced(kAutoEnterPassword, kAutoEnterCodeSize));

    const QByteArrayView suppression =
        QByteArrayView(record).sliced(kMessageSuppression, Settings::kMessageCount);
    if (suppression.contains('\0'))
        s.messageSuppression = QString(Settings::kMessageCount, u'0');
    else
        s.messageSuppression = Windows1252::toUnicode(trimBlanks(suppression))
                                   .leftJustified(Settings::kMessageCount, u'0');
    return s;
}

QByteArray encode(const Settings& s, QRandomGenerator& random)
{
    QByteArray record(kSize, '\0');
    putNumber<float>(record, kLeft, s.windowLeft);
    putNumber<float>(record, kTop, s.windowTop);
    putNumber<float>(record, kWidth, s.windowWidth);
    putNumber<float>(record, kHeight, s.windowHeight);
    putText(record, kFontName, kFontNameWidth, s.fontName);
    putNumber<qint16>(record, kFontBold, s.fontBold ? -1 : 0);
    putNumber<float>(record, kFontSize, s.fontSize);
    putNumber<float>(record, kColumn0, s.columnWidths[0]);
    putNumber<float>(record, kColumn1, s.columnWidths[1]);
    putNumber<float>(record, kColumn2, s.columnWidths[2]);
    putNumber<qint16>(record, kOneClick, s.oneClick);
    putNumber<qint16>(record, kOnTop, s.onTop);
    putNumber<double>(record, kLastDelete, s.lastDeleteDate);
    putNumber<float>(record, kColumn3, s.columnWidths[3]);
    putNumber<qint16>(record, kReserved178, 0);
    putNumber<qint16>(record, kNoTips, s.noTips);
    putNumber<qint16>(record, kHiddenUserNames, s.hiddenUserNames);
    putNumber<qint32>(record, kPlacementStored, s.placementStored);
    static_assert(kDeleteConfirmation - kReserved188 == 12);
    putNumber<qint16>(record, kDeleteConfirmation, s.deleteConfirmation);
    putText(record, kBackupDirectory, kBackupDirectoryWidth, s.backupDirectory);
    putNumber<qint16>(record, kAutoEnter, s.autoEnter);
    const QByteArray code = encodeDigitCode(s.autoEnterPassword, random);
    std::memcpy(record.data() + kAutoEnterPassword, code.constData(), kAutoEnterCodeSize);
    putText(record, kMessageSuppression, Settings::kMessageCount,
            trimBlanks(s.messageSuppression).toString());
    return record;
}

QByteArray encode(const Settings& settings)
{
    return encode(settings, *QRandomGenerator::system());
}

} // namespace SettingsRecord

void applyFirstRun(Settings& settings, const QDateTime& now)
{
    if (settings.placementStored != Settings::kFirstRunMark)
        return;
    settings.hiddenUserNames = 0;
    settings.placementStored = 0;
    settings.lastDeleteDate = toOleDate(now.addYears(-30));
    settings.autoEnter = 0;
    settings.autoEnterPassword = Settings::kNoAutoEnterPassword;
}

void resolveListFont(Settings& settings, const QStringList& families, const QString& generalFamily)
{
    if (!settings.fontName.isEmpty() && families.contains(settings.fontName, Qt::CaseSensitive)) {
        if (settings.fontSize < 2)
            settings.fontSize = 8;
        return;
    }
    struct Fallback {
        QString family;
        float size;
    };
    const Fallback fallbacks[] = {{QStringLiteral("Verdana"), 8},
                                  {QStringLiteral("Arial"), 9},
                                  {QStringLiteral("MS Sans Serif"), 8}};
    settings.fontBold = false;
    for (const Fallback& f : fallbacks) {
        if (families.contains(f.family, Qt::CaseSensitive)) {
            settings.fontName = f.family;
            settings.fontSize = f.size;
            return;
        }
    }
    settings.fontName = generalFamily;
    settings.fontSize = 8;
}
