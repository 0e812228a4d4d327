// The settings record, read alone and with the default file filling what it lacks: whatever is
// read must come back the same when written and read again, as the program writes it at every
// close.

#include "FuzzSupport.h"
#include "startup/Settings.h"

#include <QRandomGenerator>

#include <bit>

namespace {

bool sameBits(float a, float b)
{
    return std::bit_cast<quint32>(a) == std::bit_cast<quint32>(b);
}

bool sameBits(double a, double b)
{
    return std::bit_cast<quint64>(a) == std::bit_cast<quint64>(b);
}

// Every field, numbers by their bits so that a NaN read from the file counts as itself.
void checkSame(const Settings& a, const Settings& b)
{
    FUZZ_CHECK(sameBits(a.windowLeft, b.windowLeft));
    FUZZ_CHECK(sameBits(a.windowTop, b.windowTop));
    FUZZ_CHECK(sameBits(a.windowWidth, b.windowWidth));
    FUZZ_CHECK(sameBits(a.windowHeight, b.windowHeight));
    FUZZ_CHECK(a.fontName == b.fontName);
    FUZZ_CHECK(a.fontBold == b.fontBold);
    FUZZ_CHECK(sameBits(a.fontSize, b.fontSize));
    for (std::size_t i = 0; i < a.columnWidths.size(); ++i)
        FUZZ_CHECK(sameBits(a.columnWidths[i], b.columnWidths[i]));
    FUZZ_CHECK(a.oneClick == b.oneClick);
    FUZZ_CHECK(a.onTop == b.onTop);
    FUZZ_CHECK(sameBits(a.lastDeleteDate, b.lastDeleteDate));
    FUZZ_CHECK(a.noTips == b.noTips);
    FUZZ_CHECK(a.hiddenUserNames == b.hiddenUserNames);
    FUZZ_CHECK(a.placementStored == b.placementStored);
    FUZZ_CHECK(a.deleteConfirmation == b.deleteConfirmation);
    FUZZ_CHECK(a.backupDirectory == b.backupDirectory);
    FUZZ_CHECK(a.autoEnter == b.autoEnter);
    FUZZ_CHECK(a.autoEnterPassword == b.autoEnterPassword);
    FUZZ_CHECK(a.messageSuppression == b.messageSuppression);
}

// The default settings file as the build writes it, which fills the fields a short file lacks.
QByteArray deliveredDefaults()
{
    Settings settings;
    settings.placementStored = Settings::kFirstRunMark;
    settings.fontName = QStringLiteral("Verdana");
    QRandomGenerator filler(1);
    return SettingsRecord::encode(settings, filler);
}

void checkRoundTrip(const Settings& read)
{
    FUZZ_CHECK(read.messageSuppression.size() == Settings::kMessageCount);

    // The digit code's filler is random; the same seed twice gives the same record twice.
    QRandomGenerator filler(1);
    const QByteArray written = SettingsRecord::encode(read, filler);
    FUZZ_CHECK(written.size() == SettingsRecord::kSize);
    const Settings again = SettingsRecord::decode(written);
    checkSame(read, again);

    QRandomGenerator sameFiller(1);
    FUZZ_CHECK(SettingsRecord::encode(again, sameFiller) == written);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const QByteArray defaults = deliveredDefaults();
    const QByteArrayView record = Fuzz::bytesOf(data, size);
    checkRoundTrip(SettingsRecord::decode(record));
    checkRoundTrip(SettingsRecord::decode(record, defaults));
    return 0;
}
