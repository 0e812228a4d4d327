#pragma once

#include <QString>

#include <array>

class QDateTime;
class QRandomGenerator;

// The program's options and remembered state: record 1 of QuiSetts.ini, held in memory.
struct Settings {
    float windowLeft = 0;   // twips
    float windowTop = 0;    // twips
    float windowWidth = 0;  // twips
    float windowHeight = 0; // twips
    QString fontName;       // list font
    bool fontBold = false;
    float fontSize = 8; // points
    // "Page Title", "Username", "Password", "URL Address", twips.
    std::array<float, 4> columnWidths{2000, 2000, 2000, 6600};
    qint16 oneClick = 0;
    qint16 onTop = 0;
    double lastDeleteDate = 0; // OLE date of the last "Delete Password && Files"
    qint16 noTips = 0;
    qint16 hiddenUserNames = 0;
    qint32 placementStored = 0; // 0: never placed; kFirstRunMark: first run
    qint16 deleteConfirmation = 0;
    QString backupDirectory;
    qint16 autoEnter = 0;
    QString autoEnterPassword;
    QString messageSuppression = QString(kMessageCount, u'0');

    static constexpr qint32 kFirstRunMark = 55555;
    static constexpr int kMessageCount = 100;
    static inline const QString kNoAutoEnterPassword = QStringLiteral("Quilsjs");

    bool isMessageSuppressed(int number) const;
};

namespace SettingsRecord {

constexpr int kSize = 863;
// A default settings file shorter than this cannot be one.
constexpr int kMinimumDefaultSize = 196;
constexpr int kAutoEnterCodeSize = 299;

// Fills the settings from the record, with the reading rules. In a short record, the fields
// past its end (the one it cuts included) are taken from defaults, the default settings file's
// record; zero bytes stand in for what neither holds.
Settings decode(QByteArrayView record, QByteArrayView defaults = {});
QByteArray encode(const Settings& settings, QRandomGenerator& random);
QByteArray encode(const Settings& settings);

// The auto-enter password's digit code: its length, then 99 three-digit character codes, the
// ones past the password random, so that the field never shows the password's length.
QByteArray encodeDigitCode(const QString& password, QRandomGenerator& random);
QString decodeDigitCode(QByteArrayView code);

} // namespace SettingsRecord

// The first-run rules, applied after reading when the record carries the first-run mark.
void applyFirstRun(Settings& settings, const QDateTime& now);

// The list font: the saved one when the system has it, else the first of "Verdana" 8,
// "Arial" 9, "MS Sans Serif" 8, else the system's general font at 8 points; bold off.
void resolveListFont(Settings& settings, const QStringList& families, const QString& generalFamily);
