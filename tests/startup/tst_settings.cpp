#include "FifoWatchdog.h"
#include "TestData.h"
#include "startup/OleDate.h"
#include "startup/Settings.h"
#include "startup/SettingsFile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <cmath>
#include <cstring>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

template <typename T> T numberAt(const QByteArray& record, int offset)
{
    T value;
    std::memcpy(&value, record.constData() + offset, sizeof value);
    return qFromLittleEndian(value);
}

QByteArray patched(QByteArray record, int offset, QByteArrayView bytes)
{
    std::memcpy(record.data() + offset, bytes.data(), std::size_t(bytes.size()));
    return record;
}

QByteArray padded(QByteArrayView text, int width)
{
    return text.toByteArray().leftJustified(width, ' ');
}

QString suppression(std::initializer_list<int> onAt)
{
    QString s(Settings::kMessageCount, u'0');
    for (int i : onAt)
        s[i] = u'1';
    return s;
}

// Every field different from its neighbours and from its default, so that a field written at
// another's offset, or not written at all, shows.
Settings distinctSettings()
{
    Settings s;
    s.windowLeft = 1234.5f;
    s.windowTop = 2345.25f;
    s.windowWidth = 9870.f;
    s.windowHeight = 6540.75f;
    s.fontName = u"Café Sans"_s;
    s.fontBold = true;
    s.fontSize = 11.5f;
    s.columnWidths = {2100.f, 2200.5f, 2300.f, 6700.25f};
    s.oneClick = 1;
    s.onTop = 2;
    s.lastDeleteDate = 36526.5;
    s.noTips = 3;
    s.hiddenUserNames = 4;
    s.placementStored = 123456; // needs all 32 bits
    s.deleteConfirmation = 5;
    s.backupDirectory = u"/home/ann/Back Up"_s;
    s.autoEnter = 6;
    s.autoEnterPassword = u"abc"_s;
    s.messageSuppression = suppression({0, 6, 99});
    return s;
}

void compareSettings(const Settings& actual, const Settings& expected)
{
    QCOMPARE(actual.windowLeft, expected.windowLeft);
    QCOMPARE(actual.windowTop, expected.windowTop);
    QCOMPARE(actual.windowWidth, expected.windowWidth);
    QCOMPARE(actual.windowHeight, expected.windowHeight);
    QCOMPARE(actual.fontName, expected.fontName);
    QCOMPARE(actual.fontBold, expected.fontBold);
    QCOMPARE(actual.fontSize, expected.fontSize);
    for (std::size_t i = 0; i < expected.columnWidths.size(); ++i)
        QCOMPARE(actual.columnWidths[i], expected.columnWidths[i]);
    QCOMPARE(actual.oneClick, expected.oneClick);
    QCOMPARE(actual.onTop, expected.onTop);
    QCOMPARE(actual.lastDeleteDate, expected.lastDeleteDate);
    QCOMPARE(actual.noTips, expected.noTips);
    QCOMPARE(actual.hiddenUserNames, expected.hiddenUserNames);
    QCOMPARE(actual.placementStored, expected.placementStored);
    QCOMPARE(actual.deleteConfirmation, expected.deleteConfirmation);
    QCOMPARE(actual.backupDirectory, expected.backupDirectory);
    QCOMPARE(actual.autoEnter, expected.autoEnter);
    QCOMPARE(actual.autoEnterPassword, expected.autoEnterPassword);
    QCOMPARE(actual.messageSuppression, expected.messageSuppression);
}

// A record put together byte by byte: font "Arial" at 10 points, back-up directory "/b", an
// empty auto-enter password, two messages switched off, the first-run mark.
QByteArray handRecord()
{
    QByteArray r(SettingsRecord::kSize, '\0');
    r = patched(r, 16, padded("Arial", 128));
    r = patched(r, 146, QByteArray::fromHex("00002041")); // 10.0f
    r = patched(r, 184, QByteArray::fromHex("03d90000")); // 55555
    r = patched(r, 202, padded("/b", 260));
    r = patched(r, 464, QByteArray(299, ' '));
    r = patched(r, 763, suppression({1, 98}).toLatin1());
    return r;
}

// The default settings file as delivered: the design's column widths, the first-run mark.
QByteArray deliveredDefaults()
{
    Settings s;
    s.placementStored = Settings::kFirstRunMark;
    s.fontName = u"Verdana"_s;
    QRandomGenerator random(4);
    return SettingsRecord::encode(s, random);
}

QVariant fieldOf(const Settings& s, const QString& name)
{
    if (name == u"windowHeight")
        return s.windowHeight;
    if (name == u"columnWidth0")
        return s.columnWidths[0];
    if (name == u"columnWidth1")
        return s.columnWidths[1];
    if (name == u"fontName")
        return s.fontName;
    if (name == u"fontSize")
        return s.fontSize;
    if (name == u"fontBold")
        return s.fontBold;
    if (name == u"placementStored")
        return s.placementStored;
    if (name == u"backupDirectory")
        return s.backupDirectory;
    if (name == u"autoEnterPassword")
        return s.autoEnterPassword;
    if (name == u"messageSuppression")
        return s.messageSuppression;
    return {};
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();

    void encodeWritesEachFieldAtItsOffset();
    void decodeOfEncodeGivesTheSettingsBack();
    void readingRules_data();
    void readingRules();
    void shortRecordTakesDefaults_data();
    void shortRecordTakesDefaults();
    void backUpDirectoryRoundTrips_data();
    void backUpDirectoryRoundTrips();

    void digitCode_data();
    void digitCode();
    void decodeDigitCode_data();
    void decodeDigitCode();
    void digitCodeFillerIsRandom();

    void firstRun_data();
    void firstRun();
    void oleDate_data();
    void oleDate();
    void corruptOleDateIsInvalid();
    void listFont_data();
    void listFont();

    void buildDefaultFileCarriesTheFirstRunMark();
    void settingsFileRoundTrip();
    void settingsFileFailures();
};

void TestSettings::init()
{
    QTest::failOnWarning(QRegularExpression(u".*"_s));
}

void TestSettings::encodeWritesEachFieldAtItsOffset()
{
    QRandomGenerator random(42);
    const QByteArray r = SettingsRecord::encode(distinctSettings(), random);
    QCOMPARE(r.size(), 863);

    // A few fields by their bytes worked out by hand, so the byte order itself is checked.
    QCOMPARE(r.mid(0, 4), QByteArray::fromHex("00509a44"));           // 1234.5f
    QCOMPARE(r.mid(166, 8), QByteArray::fromHex("00000000d0d5e140")); // 36526.5
    QCOMPARE(r.mid(184, 4), QByteArray::fromHex("40e20100"));         // 123456
    QCOMPARE(r.mid(144, 2), QByteArray::fromHex("ffff"));             // bold: -1

    QCOMPARE(numberAt<float>(r, 4), 2345.25f);
    QCOMPARE(numberAt<float>(r, 8), 9870.f);
    QCOMPARE(numberAt<float>(r, 12), 6540.75f);
    QCOMPARE(r.mid(16, 128), padded("Caf\xe9 Sans", 128));
    QCOMPARE(numberAt<float>(r, 146), 11.5f);
    QCOMPARE(numberAt<float>(r, 150), 2100.f);
    QCOMPARE(numberAt<float>(r, 154), 2200.5f);
    QCOMPARE(numberAt<float>(r, 158), 2300.f);
    QCOMPARE(numberAt<qint16>(r, 162), qint16(1));
    QCOMPARE(numberAt<qint16>(r, 164), qint16(2));
    QCOMPARE(numberAt<double>(r, 166), 36526.5);
    QCOMPARE(numberAt<float>(r, 174), 6700.25f);
    QCOMPARE(r.mid(178, 2), QByteArray(2, '\0'));
    QCOMPARE(numberAt<qint16>(r, 180), qint16(3));
    QCOMPARE(numberAt<qint16>(r, 182), qint16(4));
    QCOMPARE(numberAt<qint32>(r, 184), 123456);
    QCOMPARE(r.mid(188, 12), QByteArray(12, '\0'));
    QCOMPARE(numberAt<qint16>(r, 200), qint16(5));
    QCOMPARE(r.mid(202, 260), padded("/home/ann/Back Up", 260));
    QCOMPARE(numberAt<qint16>(r, 462), qint16(6));
    const QByteArray code = r.mid(464, 299);
    QVERIFY(code.startsWith("03097098099"));
    QCOMPARE(SettingsRecord::decodeDigitCode(code), u"abc"_s);
    QCOMPARE(r.mid(763, 100), suppression({0, 6, 99}).toLatin1());

    Settings notBold = distinctSettings();
    notBold.fontBold = false;
    QCOMPARE(SettingsRecord::encode(notBold, random).mid(144, 2), QByteArray(2, '\0'));
}

void TestSettings::decodeOfEncodeGivesTheSettingsBack()
{
    QRandomGenerator random(3);
    for (const Settings& original : {distinctSettings(), Settings()}) {
        compareSettings(SettingsRecord::decode(SettingsRecord::encode(original, random)), original);
        if (QTest::currentTestFailed())
            return;
    }
}

void TestSettings::readingRules_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("expected");

    const QByteArray base = handRecord();
    const QString allShown(100, u'0');
    const auto row = [](const char* name, const QByteArray& record, const QString& field,
                        const QVariant& expected) {
        QTest::newRow(name) << record << field << expected;
    };

    row("as written: font", base, u"fontName"_s, u"Arial"_s);
    row("as written: size", base, u"fontSize"_s, 10.f);
    row("as written: suppression", base, u"messageSuppression"_s, suppression({1, 98}));
    row("as written: blank password", base, u"autoEnterPassword"_s, QString());

    row("size 1.5 -> 8", patched(base, 146, QByteArray::fromHex("0000c03f")), u"fontSize"_s, 8.f);
    row("size 2 kept", patched(base, 146, QByteArray::fromHex("00000040")), u"fontSize"_s, 2.f);
    // A corrupt file, not a small size; still no font of size NaN.
    row("size NaN -> 8", patched(base, 146, QByteArray::fromHex("0000c07f")), u"fontSize"_s, 8.f);
    row("bold -1", patched(base, 144, QByteArray::fromHex("ffff")), u"fontBold"_s, true);
    row("bold 1", patched(base, 144, QByteArray::fromHex("0100")), u"fontBold"_s, true);

    row("font name trimmed", patched(base, 16, padded("  Courier New  ", 128)), u"fontName"_s,
        u"Courier New"_s);
    row("back-up dir trimmed", patched(base, 202, padded("  /srv/back up  ", 260)),
        u"backupDirectory"_s, u"/srv/back up"_s);
    row("back-up dir Windows-1252", patched(base, 202, padded("/home/Jos\xe9", 260)),
        u"backupDirectory"_s, u"/home/José"_s);
    row("back-up dir NUL first", patched(base, 202, QByteArray("\0/srv/old", 9)),
        u"backupDirectory"_s, QString());

    row("suppression NUL first", patched(base, 763, QByteArray(1, '\0')), u"messageSuppression"_s,
        allShown);
    row("suppression NUL inside", patched(base, 813, QByteArray(1, '\0')), u"messageSuppression"_s,
        allShown);
    row("suppression NUL last", patched(base, 862, QByteArray(1, '\0')), u"messageSuppression"_s,
        allShown);
    // A short string would leave messages past its end with no setting at all.
    row("suppression short", patched(base, 763, padded("101", 100)), u"messageSuppression"_s,
        suppression({0, 2}));
    row("suppression blank", patched(base, 763, padded("", 100)), u"messageSuppression"_s,
        allShown);

    // A file cut short is read as if padded with zeros, never read past.
    const QByteArray cut = base.left(200);
    row("200 bytes: font", cut, u"fontName"_s, u"Arial"_s);
    row("200 bytes: first-run mark", cut, u"placementStored"_s, 55555);
    row("200 bytes: back-up dir", cut, u"backupDirectory"_s, QString());
    row("200 bytes: password", cut, u"autoEnterPassword"_s, QString());
    row("200 bytes: suppression", cut, u"messageSuppression"_s, allShown);
    row("empty: back-up dir", QByteArray(), u"backupDirectory"_s, QString());
    row("empty: password", QByteArray(), u"autoEnterPassword"_s, QString());
    row("empty: size", QByteArray(), u"fontSize"_s, 8.f);
    row("empty: mark", QByteArray(), u"placementStored"_s, 0);
    row("empty: suppression", QByteArray(), u"messageSuppression"_s, allShown);
}

void TestSettings::readingRules()
{
    QFETCH(QByteArray, record);
    QFETCH(QString, field);
    QFETCH(QVariant, expected);

    const QVariant actual = fieldOf(SettingsRecord::decode(record), field);
    QVERIFY(actual.isValid());
    QCOMPARE(actual, expected);
}

void TestSettings::shortRecordTakesDefaults_data()
{
    QTest::addColumn<int>("length"); // of the stored record
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("expected");

    const QString allShown(100, u'0');
    // distinctSettings() holds the stored values, deliveredDefaults() the others.
    QTest::newRow("100 bytes: height, before the cut")
        << 100 << u"windowHeight"_s << QVariant(6540.75f);
    QTest::newRow("100 bytes: font name, cut") << 100 << u"fontName"_s << QVariant(u"Verdana"_s);
    QTest::newRow("100 bytes: column, past the cut")
        << 100 << u"columnWidth0"_s << QVariant(2000.f);
    QTest::newRow("100 bytes: first-run mark") << 100 << u"placementStored"_s << QVariant(55555);
    QTest::newRow("152 bytes: size, whole") << 152 << u"fontSize"_s << QVariant(11.5f);
    QTest::newRow("152 bytes: column, half") << 152 << u"columnWidth0"_s << QVariant(2000.f);
    QTest::newRow("154 bytes: column, whole") << 154 << u"columnWidth0"_s << QVariant(2100.f);
    QTest::newRow("154 bytes: next column") << 154 << u"columnWidth1"_s << QVariant(2000.f);
    QTest::newRow("862 bytes: suppression, cut")
        << 862 << u"messageSuppression"_s << QVariant(allShown);
    QTest::newRow("863 bytes: suppression")
        << 863 << u"messageSuppression"_s << QVariant(suppression({0, 6, 99}));
    QTest::newRow("empty: font name") << 0 << u"fontName"_s << QVariant(u"Verdana"_s);
}

// A file cut short would otherwise read as zeros: column widths of 0 make the list invisible.
void TestSettings::shortRecordTakesDefaults()
{
    QFETCH(int, length);
    QFETCH(QString, field);
    QFETCH(QVariant, expected);

    QRandomGenerator random(5);
    const QByteArray stored = SettingsRecord::encode(distinctSettings(), random).left(length);
    const Settings read = SettingsRecord::decode(stored, deliveredDefaults());
    QCOMPARE(fieldOf(read, field), expected);
}

void TestSettings::backUpDirectoryRoundTrips_data()
{
    QTest::addColumn<QByteArray>("field"); // padded with blanks
    QTest::addColumn<QString>("expected");

    QTest::newRow("text") << QByteArray("/srv/back up") << u"/srv/back up"_s;
    QTest::newRow("blanks") << QByteArray() << QString();
    QTest::newRow("NUL first") << QByteArray("\0/srv/old", 9) << QString();
    QTest::newRow("blanks, then NUL") << QByteArray("   \0/srv/old", 12) << QString();
}

// The value read must be the value written back, or the second start reads another one.
void TestSettings::backUpDirectoryRoundTrips()
{
    QFETCH(QByteArray, field);
    QFETCH(QString, expected);

    const Settings first = SettingsRecord::decode(patched(handRecord(), 202, padded(field, 260)));
    QCOMPARE(first.backupDirectory, expected);
    QRandomGenerator random(6);
    const Settings second = SettingsRecord::decode(SettingsRecord::encode(first, random));
    QCOMPARE(second.backupDirectory, first.backupDirectory);
}

void TestSettings::digitCode_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("prefix");
    QTest::addColumn<QString>("decoded");

    QTest::newRow("abc") << u"abc"_s << QByteArray("03097098099") << u"abc"_s;
    QTest::newRow("empty") << QString() << QByteArray("00") << QString();
    QTest::newRow("Latin-1") << u"é"_s << QByteArray("01233") << u"é"_s;
    // Stored as its Windows-1252 byte, not its code point, so that it comes back.
    QTest::newRow("euro") << u"a€"_s << QByteArray("02097128") << u"a€"_s;
    QTest::newRow("blanks around") << u" a b "_s << QByteArray("05032097032098032") << u"a b"_s;

    QString longPassword;
    QByteArray longPrefix = "99";
    for (int i = 0; i < 120; ++i) {
        longPassword += QChar(u'A' + i % 26);
        if (i < 99)
            longPrefix += QByteArray::number(65 + i % 26).rightJustified(3, '0');
    }
    QTest::newRow("120 characters") << longPassword << longPrefix << longPassword.left(99);
}

void TestSettings::digitCode()
{
    QFETCH(QString, password);
    QFETCH(QByteArray, prefix);
    QFETCH(QString, decoded);

    QRandomGenerator random(7);
    const QByteArray code = SettingsRecord::encodeDigitCode(password, random);
    QCOMPARE(code.size(), 299);
    QVERIFY2(code.startsWith(prefix), code.constData());
    QVERIFY(QRegularExpression(u"^[0-9]{299}$"_s).match(QString::fromLatin1(code)).hasMatch());
    for (qsizetype at = prefix.size(); at < code.size(); at += 3) {
        const int filler = code.mid(at, 3).toInt();
        QVERIFY2(filler >= 32 && filler <= 126, code.mid(at, 3).constData());
    }
    QCOMPARE(SettingsRecord::decodeDigitCode(code), decoded);
}

void TestSettings::decodeDigitCode_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("decoded");

    QTest::newRow("blank field") << QByteArray(299, ' ') << QString();
    QTest::newRow("nothing") << QByteArray() << QString();
    QTest::newRow("three blanks") << QByteArray("03032032032") << QString();
    QTest::newRow("no filler") << padded("03097098099", 299) << u"abc"_s;
    QTest::newRow("letters") << padded("Quilsjs", 299) << QString();
    QTest::newRow("zeros") << QByteArray(299, '\0') << QString();
}

void TestSettings::decodeDigitCode()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, decoded);
    QCOMPARE(SettingsRecord::decodeDigitCode(stored), decoded);
}

void TestSettings::digitCodeFillerIsRandom()
{
    QRandomGenerator random(11);
    const QByteArray a = SettingsRecord::encodeDigitCode(u"abc"_s, random);
    const QByteArray b = SettingsRecord::encodeDigitCode(u"abc"_s, random);
    QCOMPARE(a.left(11), b.left(11));
    QVERIFY(a.mid(11) != b.mid(11));
    QCOMPARE(SettingsRecord::decodeDigitCode(a), u"abc"_s);
    QCOMPARE(SettingsRecord::decodeDigitCode(b), u"abc"_s);

    // The program's own encoder draws from the system generator: only the filler differs.
    const QByteArray r1 = SettingsRecord::encode(distinctSettings());
    const QByteArray r2 = SettingsRecord::encode(distinctSettings());
    QCOMPARE(r1.left(475), r2.left(475));
    QVERIFY(r1.mid(475, 288) != r2.mid(475, 288));
    QCOMPARE(r1.mid(763), r2.mid(763));
}

void TestSettings::firstRun_data()
{
    QTest::addColumn<qint32>("flag");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<bool>("applies");
    QTest::addColumn<QDateTime>("lastDelete");

    const QDateTime june(QDate(2024, 6, 15), QTime(9, 30));
    const QDateTime leapDay(QDate(2024, 2, 29), QTime(13, 45, 30));
    QTest::newRow("first run") << 55555 << june << true
                               << QDateTime(QDate(1994, 6, 15), QTime(9, 30));
    QTest::newRow("first run on a leap day")
        << 55555 << leapDay << true << QDateTime(QDate(1994, 2, 28), QTime(13, 45, 30));
    QTest::newRow("placed") << 1 << june << false << QDateTime();
    QTest::newRow("never placed") << 0 << june << false << QDateTime();
    QTest::newRow("near the mark") << 55554 << june << false << QDateTime();
}

void TestSettings::firstRun()
{
    QFETCH(qint32, flag);
    QFETCH(QDateTime, now);
    QFETCH(bool, applies);
    QFETCH(QDateTime, lastDelete);

    Settings settings = distinctSettings();
    settings.placementStored = flag;
    Settings expected = settings;
    applyFirstRun(settings, now);

    if (applies) {
        QCOMPARE(fromOleDate(settings.lastDeleteDate), lastDelete);
        expected.hiddenUserNames = 0;
        expected.placementStored = 0;
        expected.lastDeleteDate = settings.lastDeleteDate;
        expected.autoEnter = 0;
        expected.autoEnterPassword = u"Quilsjs"_s;
    }
    compareSettings(settings, expected);
}

void TestSettings::oleDate_data()
{
    QTest::addColumn<QDateTime>("dateTime");
    QTest::addColumn<double>("ole");

    QTest::newRow("epoch") << QDateTime(QDate(1899, 12, 30), QTime(0, 0)) << 0.0;
    QTest::newRow("1900-01-01") << QDateTime(QDate(1900, 1, 1), QTime(0, 0)) << 2.0;
    QTest::newRow("2000-01-01 noon") << QDateTime(QDate(2000, 1, 1), QTime(12, 0)) << 36526.5;
    QTest::newRow("2024-02-29 18:00") << QDateTime(QDate(2024, 2, 29), QTime(18, 0)) << 45351.75;
    // Before the epoch the whole part counts back while the fraction counts forward.
    QTest::newRow("1899-12-29 06:00") << QDateTime(QDate(1899, 12, 29), QTime(6, 0)) << -1.25;
}

void TestSettings::oleDate()
{
    QFETCH(QDateTime, dateTime);
    QFETCH(double, ole);
    QCOMPARE(toOleDate(dateTime), ole);
    QCOMPARE(fromOleDate(ole), dateTime);
}

// The date comes from the file as any eight bytes.
void TestSettings::corruptOleDateIsInvalid()
{
    for (double ole : {std::numeric_limits<double>::quiet_NaN(),
                       std::numeric_limits<double>::infinity(), -1e300, 1e300})
        QVERIFY2(!fromOleDate(ole).isValid(), qPrintable(QString::number(ole)));
}

void TestSettings::listFont_data()
{
    QTest::addColumn<QString>("savedName");
    QTest::addColumn<float>("savedSize");
    QTest::addColumn<QStringList>("families");
    QTest::addColumn<QString>("name");
    QTest::addColumn<float>("size");
    QTest::addColumn<bool>("bold");

    const QStringList all{u"Courier New"_s, u"Verdana"_s, u"Arial"_s, u"MS Sans Serif"_s};
    QTest::newRow("present") << u"Courier New"_s << 12.f << all << u"Courier New"_s << 12.f << true;
    QTest::newRow("present, size 1.5")
        << u"Courier New"_s << 1.5f << all << u"Courier New"_s << 8.f << true;
    // The name is looked for exactly, as the system lists it.
    QTest::newRow("other case") << u"courier new"_s << 12.f << all << u"Verdana"_s << 8.f << false;
    QTest::newRow("absent, Verdana") << u"Gone"_s << 12.f << QStringList{u"Arial"_s, u"Verdana"_s}
                                     << u"Verdana"_s << 8.f << false;
    QTest::newRow("absent, Arial")
        << u"Gone"_s << 12.f << QStringList{u"MS Sans Serif"_s, u"Arial"_s} << u"Arial"_s << 9.f
        << false;
    QTest::newRow("absent, MS Sans Serif") << u"Gone"_s << 1.f << QStringList{u"MS Sans Serif"_s}
                                           << u"MS Sans Serif"_s << 8.f << false;
    QTest::newRow("absent, none listed")
        << u"Gone"_s << 12.f << QStringList{u"DejaVu Sans"_s} << u"General"_s << 8.f << false;
    QTest::newRow("no saved name") << QString() << 12.f << all << u"Verdana"_s << 8.f << false;
}

void TestSettings::listFont()
{
    QFETCH(QString, savedName);
    QFETCH(float, savedSize);
    QFETCH(QStringList, families);
    QFETCH(QString, name);
    QFETCH(float, size);
    QFETCH(bool, bold);

    Settings settings;
    settings.fontName = savedName;
    settings.fontSize = savedSize;
    settings.fontBold = true;
    resolveListFont(settings, families, u"General"_s);
    QCOMPARE(settings.fontName, name);
    QCOMPARE(settings.fontSize, size);
    QCOMPARE(settings.fontBold, bold);
}

void TestSettings::buildDefaultFileCarriesTheFirstRunMark()
{
    QFile file(QStringLiteral(QUILLOR_BUILD_DIR "/QuiSetts.ini"));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
    const QByteArray bytes = file.readAll();
    QCOMPARE(bytes.size(), 863);
    QCOMPARE(bytes.mid(184, 4), QByteArray::fromHex("03d90000"));
}

void TestSettings::settingsFileRoundTrip()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(u"QuiSetts.ini"_s);
    // An older, longer file in the way is replaced whole.
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        QCOMPARE(old.write(QByteArray(2000, 'x')), qint64(2000));
    }

    const Settings original = distinctSettings();
    const SaveResult saved = writeSettingsFile(path, original);
    QVERIFY2(saved.ok(), qPrintable(saved.error()));
    QCOMPARE(QFileInfo(path).size(), qint64(863));
    QCOMPARE(TestData::permissionsOf(path), 0600);

    const SettingsRead read = readSettingsFile(path);
    QVERIFY2(read.settings.has_value(), qPrintable(read.failure));
    compareSettings(*read.settings, original);
}

void TestSettings::settingsFileFailures()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());

    const SettingsRead missing = readSettingsFile(dir.filePath(u"QuiSetts.ini"_s));
    QVERIFY(!missing.settings);
    QVERIFY(!missing.failure.isEmpty());

    const SettingsRead directory = readSettingsFile(dir.path());
    QVERIFY(!directory.settings);
    QVERIFY(!directory.failure.isEmpty());

    const QString pipePath = dir.filePath(u"pipe"_s);
    FifoWatchdog pipeWatchdog(pipePath);
    QVERIFY(pipeWatchdog.made());
    const SettingsRead pipe = readSettingsFile(pipePath);
    QVERIFY(!pipeWatchdog.released());
    QVERIFY(!pipe.settings);
    QVERIFY(!pipe.failure.isEmpty());

    const QString nowhere = dir.filePath(u"gone/QuiSetts.ini"_s);
    const SaveResult saved = writeSettingsFile(nowhere, distinctSettings());
    QVERIFY(!saved.ok());
    QVERIFY(!saved.error().isEmpty());
    QVERIFY(!QFile::exists(nowhere));
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
