#include "cipher/CipherKey.h"
#include "cipher/CipherService.h"
#include "cipher/Rc4.h"

#include <QFile>
#include <QTest>

class TestCipher : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void knownAnswers_data();
    void knownAnswers();
    void closedServiceReportsAndReturnsEmpty();
    void emptyTextsAndReuseOfTheKey();
    void everyLengthMatchesTheStream_data();
    void everyLengthMatchesTheStream();
};

// Known answers recorded against the platform's cipher service on Windows, one row a vector.
void TestCipher::knownAnswers_data()
{
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<QByteArray>("cipher");
    QTest::addColumn<QByteArray>("key");

    QFile table(QStringLiteral(QUILLOR_TEST_DATA "/cipher_vectors.tsv"));
    QVERIFY(table.open(QIODevice::ReadOnly));
    table.readLine(); // the header
    int rows = 0;
    while (!table.atEnd()) {
        QByteArray line = table.readLine();
        if (line.endsWith('\n'))
            line.chop(1);
        const QList<QByteArray> cols = line.split('\t');
        QCOMPARE(cols.size(), 6);
        QTest::newRow(cols[5].constData())
            << QByteArray::fromHex(cols[0]) << QByteArray::fromHex(cols[1])
            << QByteArray::fromHex(cols[2]) << QByteArray::fromHex(cols[3]);
        ++rows;
    }
    QCOMPARE(rows, 25);
}

void TestCipher::knownAnswers()
{
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, plain);
    QFETCH(QByteArray, cipher);
    QFETCH(QByteArray, key);

    QCOMPARE(CipherKey::keyBytes(password), key);

    CipherService service;
    QVERIFY(service.OpenCipherProvider());
    QCOMPARE(service.EncryptText(plain, password), cipher);
    QCOMPARE(service.DecryptText(cipher, password), plain);
    QByteArray inPlace = cipher;
    const CipherKey* batchKey = service.keyForBatch(password);
    QVERIFY(batchKey);
    batchKey->cryptInPlace(inPlace.data(), inPlace.size());
    QCOMPARE(inPlace, plain);
    service.ReleaseCipherProvider();
}

void TestCipher::closedServiceReportsAndReturnsEmpty()
{
    QStringList reported;
    CipherService service([&](const QString& m) { reported << m; });

    QCOMPARE(service.EncryptText("123456789", "Pomelo"), QByteArray());
    QCOMPARE(service.DecryptText("\xdd\x11", "Pomelo"), QByteArray());
    QVERIFY(!service.keyForBatch("Pomelo"));
    QCOMPARE(reported, QStringList(3, QStringLiteral("Not connected to CSP")));

    QVERIFY(service.OpenCipherProvider());
    service.ReleaseCipherProvider();
    QCOMPARE(service.EncryptText("x", "Pomelo"), QByteArray());
    QCOMPARE(reported.size(), 4);
}

void TestCipher::emptyTextsAndReuseOfTheKey()
{
    QStringList reported;
    CipherService service([&](const QString& m) { reported << m; });
    QVERIFY(service.OpenCipherProvider());
    QCOMPARE(service.EncryptText("", "Pomelo"), QByteArray());
    QCOMPARE(service.DecryptText("", "Pomelo"), QByteArray());

    // Switching passwords within one batch must not leak one key into the other's items.
    const QByteArray a = service.EncryptText("123456789", "Pomelo");
    const QByteArray b = service.EncryptText("123456789", "pomelo");
    QCOMPARE(a, QByteArray::fromHex("dd116f515bfba9dd94"));
    QVERIFY(a != b);
    QCOMPARE(b.size(), a.size());
    QCOMPARE(service.EncryptText("123456789", "Pomelo"), a);
    QCOMPARE(service.DecryptText(b, "pomelo"), QByteArray("123456789"));
    QVERIFY(reported.isEmpty());
}

void TestCipher::everyLengthMatchesTheStream_data()
{
    QTest::addColumn<int>("length");
    for (int length : {1, 17, 2047, 2048, 2049, 5000})
        QTest::newRow(QByteArray::number(length).constData()) << length;
}

// The key keeps the stream's first bytes made once; an item up to that length and past it must
// be crypted as the cipher's own stream from its start would.
void TestCipher::everyLengthMatchesTheStream()
{
    QFETCH(int, length);
    const QByteArray password = "Pomelo";
    QByteArray text(length, Qt::Uninitialized);
    for (int i = 0; i < length; ++i)
        text[i] = char(i * 7 + i / 256);

    QByteArray expected = text;
    Rc4(CipherKey::keyBytes(password)).apply(expected.data(), expected.size());
    QByteArray crypted = text;
    const CipherKey key(password);
    key.cryptInPlace(crypted.data(), crypted.size());
    QCOMPARE(crypted, expected);
    key.cryptInPlace(crypted.data(), crypted.size());
    QCOMPARE(crypted, text);
}

QTEST_GUILESS_MAIN(TestCipher)
#include "tst_cipher.moc"
