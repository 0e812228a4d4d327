#include "store/LinkRecord.h"
#include "store/StoredField.h"
#include "store/Windows1252.h"

#include <QRegularExpression>
#include <QTest>
#include <optional>

namespace {
// Bytes of a literal that may hold NULs, without its terminator.
template <std::size_t N> QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}
} // namespace

class TestStoredFields : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();

    void windows1252EveryByteRoundTrips();
    void windows1252Refuses_data();
    void windows1252Refuses();
    void windows1252UnassignedBytes_data();
    void windows1252UnassignedBytes();

    void makANumba_data();
    void makANumba();

    void storedFieldRoundTrip_data();
    void storedFieldRoundTrip();
    void storedFieldTooLong();
    void readStoredField_data();
    void readStoredField();

    void encodeLinkRecordLayout();
    void encodeLinkRecordTooLong_data();
    void encodeLinkRecordTooLong();
    void decodeShortLastRecord_data();
    void decodeShortLastRecord();
};

void TestStoredFields::init()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
}

void TestStoredFields::windows1252EveryByteRoundTrips()
{
    QByteArray all(256, Qt::Uninitialized);
    for (int i = 0; i < 256; ++i)
        all[i] = char(i);

    const QString text = Windows1252::toUnicode(all);
    QCOMPARE(text.size(), 256);
    for (int i = 0; i < 256; ++i)
        QCOMPARE(text[i], Windows1252::toUnicode(char(i)));
    // Distinct characters, or two bytes would come back as one.
    QCOMPARE(QSet<QChar>(text.begin(), text.end()).size(), 256);
    QCOMPARE(Windows1252::fromUnicode(text), std::optional<QByteArray>(all));
    QCOMPARE(Windows1252::firstUnencodable(text), -1);

    // Spot checks against the published code page.
    QCOMPARE(text[0x80], QChar(0x20AC));
    QCOMPARE(text[0x8A], QChar(0x0160));
    QCOMPARE(text[0x9F], QChar(0x0178));
    QCOMPARE(text[0xE9], QChar(0x00E9));
    QCOMPARE(Windows1252::fromUnicode(u"Caf\u00e9 \u20ac"),
             std::optional<QByteArray>("Caf\xe9 \x80"));
}

void TestStoredFields::windows1252Refuses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qsizetype>("index");

    QTest::newRow("a-macron") << QStringLiteral("ab\u0101c") << qsizetype(2);
    QTest::newRow("cjk") << QStringLiteral("\u4e2d") << qsizetype(0);
    QTest::newRow("emoji surrogate pair") << QStringLiteral("x\U0001F600") << qsizetype(1);
    // U+0080 is not one of the five pass-through controls: byte 0x80 is the euro sign.
    QTest::newRow("U+0080") << QStringLiteral("\u20ac\u0080") << qsizetype(1);
    QTest::newRow("U+0100") << QStringLiteral("\u00ff\u0100") << qsizetype(1);
    QTest::newRow("after the euro") << QStringLiteral("Caf\u00e9 \u20ac\u2603") << qsizetype(6);
}

void TestStoredFields::windows1252Refuses()
{
    QFETCH(QString, text);
    QFETCH(qsizetype, index);

    QCOMPARE(Windows1252::fromUnicode(text), std::nullopt);
    QCOMPARE(Windows1252::firstUnencodable(text), index);
    QVERIFY(Windows1252::fromUnicode(QStringView(text).first(index)).has_value());
}

void TestStoredFields::windows1252UnassignedBytes_data()
{
    QTest::addColumn<int>("byte");
    for (int b : {0x81, 0x8D, 0x8F, 0x90, 0x9D})
        QTest::addRow("0x%X", b) << b;
}

void TestStoredFields::windows1252UnassignedBytes()
{
    QFETCH(int, byte);

    QCOMPARE(Windows1252::toUnicode(char(byte)), QChar(char16_t(byte)));
    QCOMPARE(Windows1252::fromUnicode(QString(QChar(char16_t(byte)))),
             std::optional<QByteArray>(QByteArray(1, char(byte))));
}

void TestStoredFields::makANumba_data()
{
    QTest::addColumn<quint32>("n");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("0") << 0u << QByteArray("000000000");
    QTest::newRow("7") << 7u << QByteArray("000000007");
    QTest::newRow("96") << 96u << QByteArray("000000096");
    QTest::newRow("123456789") << 123456789u << QByteArray("123456789");
    QTest::newRow("999999999") << 999999999u << QByteArray("999999999");
}

void TestStoredFields::makANumba()
{
    QFETCH(quint32, n);
    QFETCH(QByteArray, text);

    QCOMPARE(MakANumba(n), text);
}

void TestStoredFields::storedFieldRoundTrip_data()
{
    QTest::addColumn<QByteArray>("cipher");
    QTest::addColumn<int>("width");

    QTest::newRow("empty") << QByteArray() << 512;
    QTest::newRow("plain") << QByteArray("\xdd\x11o") << 512;
    // Cipher bytes are any bytes: none of them may end the text early or be trimmed.
    QTest::newRow("blanks and controls") << bytes(" a\0b\r\nc\n\r  ") << 512;
    QTest::newRow("only blanks") << QByteArray(7, ' ') << 512;
    QTest::newRow("all byte values") << [] {
        QByteArray all(256, Qt::Uninitialized);
        for (int i = 0; i < 256; ++i)
            all[i] = char(255 - i);
        return all;
    }() << 512;
    QTest::newRow("exact fit") << QByteArray(503, 'x') << 512;
    QTest::newRow("url field") << QByteArray(400, '\xff') << 2048;
}

void TestStoredFields::storedFieldRoundTrip()
{
    QFETCH(QByteArray, cipher);
    QFETCH(int, width);

    const auto field = makeStoredField(cipher, width);
    QVERIFY(field);
    QCOMPARE(field->size(), width);
    QCOMPARE(field->first(9), MakANumba(quint32(cipher.size())));
    QCOMPARE(field->sliced(9, cipher.size()), cipher);
    QCOMPARE(field->sliced(9 + cipher.size()), QByteArray(width - 9 - cipher.size(), ' '));

    const auto read = ::readStoredField(*field);
    QVERIFY(read);
    QCOMPARE(read->toByteArray(), cipher);
}

void TestStoredFields::storedFieldTooLong()
{
    QCOMPARE(makeStoredField(QByteArray(504, 'x'), 512), std::nullopt);
    QCOMPARE(makeStoredField("ab", 10), std::nullopt);
    QCOMPARE(makeStoredField("a", 10), std::optional<QByteArray>("000000001a"));
}

void TestStoredFields::readStoredField_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QByteArray>("cipher");

    QTest::newRow("empty item") << QByteArray("000000000   ") << true << QByteArray();
    QTest::newRow("no blanks after") << QByteArray("000000002ab") << true << QByteArray("ab");
    QTest::newRow("exact fit") << QByteArray("000000003abc") << true << QByteArray("abc");
    QTest::newRow("past the field by one") << QByteArray("000000004abc") << false << QByteArray();
    QTest::newRow("huge length") << QByteArray("999999999abc") << false << QByteArray();
    QTest::newRow("leading blank") << QByteArray(" 00000001a ") << false << QByteArray();
    QTest::newRow("trailing blank in prefix") << QByteArray("00000001 a ") << false << QByteArray();
    QTest::newRow("plus sign") << QByteArray("+00000001a ") << false << QByteArray();
    QTest::newRow("minus sign") << QByteArray("-00000001a ") << false << QByteArray();
    QTest::newRow("letter") << QByteArray("0000000x1a ") << false << QByteArray();
    QTest::newRow("hex digit") << QByteArray("00000000aa ") << false << QByteArray();
    QTest::newRow("NUL") << bytes("0000\0"
                                  "0001a ")
                         << false << QByteArray();
    // Bytes just outside '0' .. '9', in each part of the prefix that is read on its own, with
    // room enough behind them that only the digit check can refuse.
    const QByteArray room(4000, 'x');
    QTest::newRow("colon") << QByteArray("0000000:0") + room << false << QByteArray();
    QTest::newRow("question mark") << QByteArray("0000000?0") + room << false << QByteArray();
    QTest::newRow("slash") << QByteArray("0000000/0") + room << false << QByteArray();
    QTest::newRow("digit with the high bit")
        << QByteArray("0000000") + '\xb1' + '0' + room << false << QByteArray();
    QTest::newRow("ninth is a colon") << QByteArray("00000001:") + room << false << QByteArray();
    QTest::newRow("ninth is a slash") << QByteArray("00000001/") + room << false << QByteArray();
    QTest::newRow("every digit counts") << QByteArray("001234567") + QByteArray(1'234'567, 'x')
                                        << true << QByteArray(1'234'567, 'x');
    QTest::newRow("every digit counts, one short")
        << QByteArray("001234568") + QByteArray(1'234'567, 'x') << false << QByteArray();
    QTest::newRow("eight chars") << QByteArray("00000000") << false << QByteArray();
    QTest::newRow("nothing") << QByteArray() << false << QByteArray();
    QTest::newRow("all blanks") << QByteArray(512, ' ') << false << QByteArray();
}

void TestStoredFields::readStoredField()
{
    QFETCH(QByteArray, field);
    QFETCH(bool, valid);
    QFETCH(QByteArray, cipher);

    const auto read = ::readStoredField(field);
    QCOMPARE(read.has_value(), valid);
    if (valid)
        QCOMPARE(read->toByteArray(), cipher);
}

void TestStoredFields::encodeLinkRecordLayout()
{
    const LinkRecordCiphers ciphers{"T\xdd ", QByteArray(400, 'U'), QByteArray("u\0", 2), "p  "};
    const auto record = encodeLinkRecord(ciphers);
    QVERIFY(record);
    QCOMPARE(record->size(), 3584);

    const QByteArray expected = "000000003T\xdd " + QByteArray(500, ' ') + "000000400" +
                                QByteArray(400, 'U') + QByteArray(1639, ' ') + "000000002" +
                                QByteArray("u\0", 2) + QByteArray(501, ' ') + "000000003p  " +
                                QByteArray(500, ' ');
    QCOMPARE(*record, expected);

    const auto view = decodeLinkRecord(*record);
    QVERIFY(view);
    QCOMPARE(view->title.toByteArray(), ciphers.title);
    QCOMPARE(view->url.toByteArray(), ciphers.url);
    QCOMPARE(view->userName.toByteArray(), ciphers.userName);
    QCOMPARE(view->password.toByteArray(), ciphers.password);

    // The empty record is four empty fields at their offsets.
    const auto empty = encodeLinkRecord({});
    QVERIFY(empty);
    for (int offset : {0, 512, 2560, 3072})
        QCOMPARE(empty->sliced(offset, 9), QByteArray("000000000"));
    QCOMPARE(empty->count('0'), 36);
}

void TestStoredFields::encodeLinkRecordTooLong_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<int>("width");
    QTest::newRow("title") << 0 << 512;
    QTest::newRow("url") << 1 << 2048;
    QTest::newRow("user name") << 2 << 512;
    QTest::newRow("password") << 3 << 512;
}

void TestStoredFields::encodeLinkRecordTooLong()
{
    QFETCH(int, field);
    QFETCH(int, width);

    LinkRecordCiphers ciphers;
    QByteArray* items[] = {&ciphers.title, &ciphers.url, &ciphers.userName, &ciphers.password};
    *items[field] = QByteArray(width - 9, 'x');
    const auto fits = encodeLinkRecord(ciphers);
    QVERIFY(fits);
    QCOMPARE(fits->size(), 3584);

    items[field]->append('x');
    QCOMPARE(encodeLinkRecord(ciphers), std::nullopt);
}

void TestStoredFields::decodeShortLastRecord_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("valid");

    // The password field's cipher text "pw" ends at byte 3072 + 11.
    QTest::newRow("whole") << 3584 << true;
    QTest::newRow("blanks of the last field cut") << 3200 << true;
    QTest::newRow("cut right after the password") << 3083 << true;
    QTest::newRow("cut inside the password") << 3082 << false;
    QTest::newRow("cut inside the last prefix") << 3080 << false;
    QTest::newRow("last field missing") << 3072 << false;
    QTest::newRow("cut inside the url field") << 2000 << false;
    QTest::newRow("one byte") << 1 << false;
    QTest::newRow("nothing") << 0 << false;
}

void TestStoredFields::decodeShortLastRecord()
{
    QFETCH(int, length);
    QFETCH(bool, valid);

    const QByteArray record = encodeLinkRecord({"title", "url", "user", "pw"}).value();
    const auto view = decodeLinkRecord(QByteArrayView(record).first(length));
    QCOMPARE(view.has_value(), valid);
    if (valid) {
        QCOMPARE(view->title.toByteArray(), QByteArray("title"));
        QCOMPARE(view->url.toByteArray(), QByteArray("url"));
        QCOMPARE(view->userName.toByteArray(), QByteArray("user"));
        QCOMPARE(view->password.toByteArray(), QByteArray("pw"));
    }
}

QTEST_GUILESS_MAIN(TestStoredFields)
#include "tst_storedfields.moc"
