#include "FifoWatchdog.h"
#include "TestData.h"
#include "store/MasterPasswordFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <array>
#include <optional>

using MasterPasswordFile::Outcome;

Q_DECLARE_METATYPE(MasterPasswordFile::Outcome)

namespace {

// RC4 under the key the base provider derives from an MD5 hash: five bytes of the hash, eleven
// zero bytes. Written out here so that the expected bytes do not come from the code under test.
QByteArray referenceCipher(const QByteArray& text, const QByteArray& password)
{
    QByteArray key = QCryptographicHash::hash(password, QCryptographicHash::Md5).left(5);
    key.append(11, '\0');
    std::array<unsigned char, 256> s;
    for (int i = 0; i < 256; ++i)
        s[i] = static_cast<unsigned char>(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + static_cast<unsigned char>(key[i % key.size()])) & 0xff;
        std::swap(s[i], s[j]);
    }
    QByteArray out = text;
    for (int n = 0, i = 0, j = 0; n < out.size(); ++n) {
        i = (i + 1) & 0xff;
        j = (j + s[i]) & 0xff;
        std::swap(s[i], s[j]);
        out[n] = char(out[n] ^ s[(s[i] + s[j]) & 0xff]);
    }
    return out;
}

QByteArray referenceField(const QByteArray& cipher)
{
    QByteArray field = QByteArray::number(cipher.size()).rightJustified(9, '0') + cipher;
    return field + QByteArray(512 - field.size(), ' ');
}

QByteArray referenceRecord(const QByteArray& password)
{
    return referenceField(referenceCipher(password, password)) +
           referenceField(referenceCipher("123456789", password));
}

} // namespace

class TestMasterPassword : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();

    void pomeloRecordIsByteExact();
    void check_data();
    void check();
    void noMasterPassword_data();
    void noMasterPassword();
    void longerFileUsesFirstRecord();
    void damagedRecord_data();
    void damagedRecord();
    void unreadablePath_data();
    void unreadablePath();
    void create_data();
    void create();
    void createTooLongKeepsOldFile();
    void defaultFileHoldsPomelo();
};

void TestMasterPassword::init()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
}

void TestMasterPassword::pomeloRecordIsByteExact()
{
    // The reference cipher itself against the known answer for the check value.
    QCOMPARE(referenceCipher("123456789", "Pomelo"), QByteArray::fromHex("dd116f515bfba9dd94"));

    const QByteArray expected = "000000006" + referenceCipher("Pomelo", "Pomelo") +
                                QByteArray(497, ' ') + "000000009" +
                                QByteArray::fromHex("dd116f515bfba9dd94") + QByteArray(494, ' ');
    QCOMPARE(expected.size(), 1024);
    QCOMPARE(expected, referenceRecord("Pomelo"));

    QCOMPARE(TestData::masterPasswordRecord("Pomelo"), expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("QuiFil.ini"));
    CipherService cipher;
    QVERIFY(MasterPasswordFile::create(path, "Pomelo", cipher).ok());
    QCOMPARE(TestData::readFile(path), expected);
}

void TestMasterPassword::check_data()
{
    QTest::addColumn<QByteArray>("typed");
    QTest::addColumn<Outcome>("outcome");

    QTest::newRow("right") << QByteArray("Pomelo") << Outcome::Right;
    QTest::newRow("other case") << QByteArray("pomelo") << Outcome::Wrong;
    QTest::newRow("empty") << QByteArray() << Outcome::Wrong;
    QTest::newRow("a prefix of it") << QByteArray("Pomel") << Outcome::Wrong;
    QTest::newRow("longer") << QByteArray("Pomelo1") << Outcome::Wrong;
    // Trimming is the caller's; here the comparison is exact.
    QTest::newRow("trailing blank") << QByteArray("Pomelo ") << Outcome::Wrong;
}

void TestMasterPassword::check()
{
    QFETCH(QByteArray, typed);
    QFETCH(Outcome, outcome);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("QuiFil.ini"));
    QVERIFY(TestData::writeFile(path, referenceRecord("Pomelo")));

    CipherService cipher;
    const auto result = MasterPasswordFile::check(path, typed, cipher);
    QCOMPARE(result.outcome, outcome);
    QCOMPARE(result.checkValue, outcome == Outcome::Right ? QByteArray("123456789") : QByteArray());
    QVERIFY(result.failure.isEmpty());
    QVERIFY(!cipher.isOpen());
}

void TestMasterPassword::noMasterPassword_data()
{
    QTest::addColumn<int>("size"); // -1: no file

    QTest::newRow("absent") << -1;
    QTest::newRow("0 bytes") << 0;
    QTest::newRow("1,023 bytes") << 1023;
}

void TestMasterPassword::noMasterPassword()
{
    QFETCH(int, size);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("QuiFil.ini"));
    if (size >= 0)
        QVERIFY(TestData::writeFile(path, referenceRecord("Pomelo").left(size)));

    CipherService cipher;
    for (const QByteArray& typed : {QByteArray("Pomelo"), QByteArray()}) {
        const auto result = MasterPasswordFile::check(path, typed, cipher);
        QCOMPARE(result.outcome, Outcome::NoMasterPassword);
        QVERIFY(result.checkValue.isEmpty());
    }
    // Checking never makes or changes the file.
    QCOMPARE(QFileInfo(path).size(), qint64(std::max(size, 0)));
    QCOMPARE(QFileInfo::exists(path), size >= 0);
}

void TestMasterPassword::longerFileUsesFirstRecord()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("QuiFil.ini"));
    QVERIFY(TestData::writeFile(path, referenceRecord("Pomelo") + referenceRecord("Other") + "x"));

    CipherService cipher;
    QCOMPARE(MasterPasswordFile::check(path, "Pomelo", cipher).outcome, Outcome::Right);
    QCOMPARE(MasterPasswordFile::check(path, "Other", cipher).outcome, Outcome::Wrong);
}

void TestMasterPassword::damagedRecord_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("letter in the password's prefix") << 3 << QByteArray("x");
    QTest::newRow("blank before the password's prefix") << 0 << QByteArray(" ");
    QTest::newRow("password runs past its field") << 0 << QByteArray("000000504");
    QTest::newRow("password prefix blanked") << 0 << QByteArray(9, ' ');
    // The password is right here; a damaged check value must still not unlock.
    QTest::newRow("sign in the check value's prefix") << 512 << QByteArray("-");
    QTest::newRow("check value runs past its field") << 512 << QByteArray("999999999");
}

void TestMasterPassword::damagedRecord()
{
    QFETCH(int, offset);
    QFETCH(QByteArray, bytes);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("QuiFil.ini"));
    QByteArray record = referenceRecord("Pomelo");
    record.replace(offset, bytes.size(), bytes);
    QVERIFY(TestData::writeFile(path, record));

    CipherService cipher;
    const auto result = MasterPasswordFile::check(path, "Pomelo", cipher);
    QCOMPARE(result.outcome, Outcome::Unreadable);
    QVERIFY(!result.failure.isEmpty());
    QVERIFY(result.checkValue.isEmpty());
    QCOMPARE(TestData::readFile(path), record);
}

void TestMasterPassword::unreadablePath_data()
{
    QTest::addColumn<bool>("pipe"); // else a directory

    QTest::newRow("directory") << false;
    // Opened the usual way, a pipe waits for a writer for ever.
    QTest::newRow("pipe") << true;
}

// Something is there that cannot be read: that is no invitation to set a new password.
void TestMasterPassword::unreadablePath()
{
    QFETCH(bool, pipe);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("QuiFil.ini"));
    std::optional<FifoWatchdog> watchdog;
    if (pipe) {
        watchdog.emplace(path);
        QVERIFY(watchdog->made());
    } else {
        QVERIFY(QDir().mkdir(path));
    }

    CipherService cipher;
    const auto result = MasterPasswordFile::check(path, "Pomelo", cipher);
    QVERIFY(!watchdog || !watchdog->released());
    QCOMPARE(result.outcome, Outcome::Unreadable);
    QVERIFY2(result.failure.startsWith(path), qPrintable(result.failure));
}

void TestMasterPassword::create_data()
{
    QTest::addColumn<QByteArray>("password");

    QTest::newRow("Pomelo") << QByteArray("Pomelo");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("96 characters") << QByteArray("0123456789abcdef").repeated(6);
    QTest::newRow("blanks and Windows-1252") << QByteArray("Caf\xe9 \x80 \x81\xff");
    QTest::newRow("longest the field holds") << QByteArray(503, 'p');
}

void TestMasterPassword::create()
{
    QFETCH(QByteArray, password);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("QuiFil.ini"));
    // Replaces whatever was there, here the default password's file.
    QVERIFY(TestData::writeFile(path, referenceRecord("Pomelo")));

    CipherService cipher;
    const SaveResult saved = MasterPasswordFile::create(path, password, cipher);
    QVERIFY2(saved.ok(), qPrintable(saved.error()));
    QCOMPARE(TestData::readFile(path), referenceRecord(password));
    QCOMPARE(TestData::permissionsOf(path), 0600);
    QVERIFY(!cipher.isOpen());

    const auto right = MasterPasswordFile::check(path, password, cipher);
    QCOMPARE(right.outcome, Outcome::Right);
    QCOMPARE(right.checkValue, QByteArray("123456789"));
    QCOMPARE(MasterPasswordFile::check(path, password + 'x', cipher).outcome, Outcome::Wrong);
    if (password != "Pomelo")
        QCOMPARE(MasterPasswordFile::check(path, "Pomelo", cipher).outcome, Outcome::Wrong);
}

void TestMasterPassword::createTooLongKeepsOldFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("QuiFil.ini"));
    QVERIFY(TestData::writeFile(path, referenceRecord("Pomelo")));

    CipherService cipher;
    const SaveResult saved = MasterPasswordFile::create(path, QByteArray(504, 'p'), cipher);
    QVERIFY(!saved.ok());
    QVERIFY(!saved.error().isEmpty());
    QCOMPARE(TestData::readFile(path), referenceRecord("Pomelo"));
}

void TestMasterPassword::defaultFileHoldsPomelo()
{
    const QString shipped = QStringLiteral(QUILLOR_BUILD_DIR "/QuiFil.ini");
    QVERIFY2(QFileInfo::exists(shipped), "build the quillor_default_files target first");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("QuiFil.ini"));
    QVERIFY(QFile::copy(shipped, path));

    QCOMPARE(TestData::readFile(path), referenceRecord("Pomelo"));
    CipherService cipher;
    QCOMPARE(MasterPasswordFile::check(path, "Pomelo", cipher).outcome, Outcome::Right);
    QCOMPARE(MasterPasswordFile::check(path, "pomelo", cipher).outcome, Outcome::Wrong);
    QCOMPARE(MasterPasswordFile::check(path, "", cipher).outcome, Outcome::Wrong);
}

QTEST_GUILESS_MAIN(TestMasterPassword)
#include "tst_masterpassword.moc"
