// The CSV reader and writer of quillor-cli, on the shapes that real exports take.

#include "cli/Csv.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestCsv : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parse_data();
    void parse();
    void notUtf8_data();
    void notUtf8();
    void format_data();
    void format();
};

void TestCsv::parse_data()
{
    QTest::addColumn<QByteArray>("bytes"); // the file as it is on disk
    QTest::addColumn<QList<QStringList>>("records");
    QTest::addColumn<QList<qsizetype>>("lines");
    QTest::addColumn<QStringList>("problems"); // one a record; empty for none

    using Records = QList<QStringList>;
    using Lines = QList<qsizetype>;
    const Records two = {{u"a"_s, u"b"_s}, {u"1"_s, u"2"_s}};

    QTest::newRow("LF") << QByteArray("a,b\n1,2\n") << two << Lines{1, 2} << QStringList{{}, {}};
    QTest::newRow("CRLF") << QByteArray("a,b\r\n1,2\r\n") << two << Lines{1, 2}
                          << QStringList{{}, {}};
    QTest::newRow("CR alone") << QByteArray("a,b\r1,2\r") << two << Lines{1, 2}
                              << QStringList{{}, {}};
    QTest::newRow("no line end after the last record")
        << QByteArray("a,b\r\n1,2") << two << Lines{1, 2} << QStringList{{}, {}};
    // Not a character of the first field.
    QTest::newRow("byte-order mark") << QByteArray("\xef\xbb\xbf"
                                                   "a,b\n1,2\n")
                                     << two << Lines{1, 2} << QStringList{{}, {}};
    QTest::newRow("quoted comma") << QByteArray("\"x,y\",z\n") << Records{{u"x,y"_s, u"z"_s}}
                                  << Lines{1} << QStringList{{}};
    QTest::newRow("doubled quotes")
        << QByteArray("\"say \"\"hi\"\"\",\"\"\"\"\n") << Records{{u"say \"hi\""_s, u"\""_s}}
        << Lines{1} << QStringList{{}};
    QTest::newRow("LF in a quoted field") << QByteArray("\"l1\nl2\",z\nnext,row\n")
                                          << Records{{u"l1\nl2"_s, u"z"_s}, {u"next"_s, u"row"_s}}
                                          << Lines{1, 3} << QStringList{{}, {}};
    QTest::newRow("CRLF in a quoted field is kept")
        << QByteArray("\"l1\r\nl2\r\n\",z\r\nn,r\r\n")
        << Records{{u"l1\r\nl2\r\n"_s, u"z"_s}, {u"n"_s, u"r"_s}} << Lines{1, 4}
        << QStringList{{}, {}};
    QTest::newRow("empty fields") << QByteArray(",,\n\"\",x\na,,c\n")
                                  << Records{{{}, {}, {}}, {{}, u"x"_s}, {u"a"_s, {}, u"c"_s}}
                                  << Lines{1, 2, 3} << QStringList{{}, {}, {}};
    QTest::newRow("comma at the end of a line")
        << QByteArray("a,b,\n") << Records{{u"a"_s, u"b"_s, {}}} << Lines{1} << QStringList{{}};
    QTest::newRow("empty lines are no records")
        << QByteArray("a\n\r\n\nb\n\n") << Records{{u"a"_s}, {u"b"_s}} << Lines{1, 4}
        << QStringList{{}, {}};
    QTest::newRow("short row") << QByteArray("a,b,c\n1,2\n")
                               << Records{{u"a"_s, u"b"_s, u"c"_s}, {u"1"_s, u"2"_s}} << Lines{1, 2}
                               << QStringList{{}, {}};
    QTest::newRow("blanks are part of a field")
        << QByteArray(" a , \"b\"\n") << Records{{u" a "_s, u" \"b\""_s}} << Lines{1}
        << QStringList{{}};
    QTest::newRow("quote inside an unquoted field")
        << QByteArray("ab\"c,d\n") << Records{{u"ab\"c"_s, u"d"_s}} << Lines{1} << QStringList{{}};
    QTest::newRow("UTF-8 text") << QByteArray("caf\xc3\xa9,\xe2\x82\xac\n")
                                << Records{{u"café"_s, u"€"_s}} << Lines{1} << QStringList{{}};
    // The record after a malformed one is found where it starts.
    QTest::newRow("text after a closing quote")
        << QByteArray("\"ab\"c,d\n\"x\",y\n") << Records{{u"abc"_s, u"d"_s}, {u"x"_s, u"y"_s}}
        << Lines{1, 2} << QStringList{u"field 1: text after its closing quote"_s, {}};
    QTest::newRow("undoubled quote in a quoted field")
        << QByteArray("\"a\",\"{\"k\":1}\",z\nnext,row\n")
        << Records{{u"a"_s, u"{k\":1}\""_s, u"z"_s}, {u"next"_s, u"row"_s}} << Lines{1, 2}
        << QStringList{u"field 2: text after its closing quote"_s, {}};
    QTest::newRow("quote never closed")
        << QByteArray("a,b\n1,\"2\n3,4\n") << Records{{u"a"_s, u"b"_s}, {u"1"_s, u"2\n3,4\n"_s}}
        << Lines{1, 2} << QStringList{{}, u"a quoted field is never closed"_s};
    QTest::newRow("nothing") << QByteArray() << Records{} << Lines{} << QStringList{};
    QTest::newRow("byte-order mark alone")
        << QByteArray("\xef\xbb\xbf") << Records{} << Lines{} << QStringList{};
}

void TestCsv::parse()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<QStringList>, records);
    QFETCH(QList<qsizetype>, lines);
    QFETCH(QStringList, problems);

    const Csv::Decoded decoded = Csv::decodeUtf8(bytes);
    QVERIFY(decoded.badLines.empty());
    const std::vector<Csv::Record> parsed = Csv::parse(decoded.text);
    QList<QStringList> fields;
    QList<qsizetype> starts;
    QStringList found;
    for (const Csv::Record& record : parsed) {
        fields << record.fields;
        starts << record.line;
        found << record.problem;
    }
    QCOMPARE(fields, records);
    QCOMPARE(starts, lines);
    QCOMPARE(found, problems);
}

void TestCsv::notUtf8_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<qsizetype>>("badLines");

    QTest::newRow("Latin-1") << QByteArray("name\ncaf\xe9\nok\n") << QList<qsizetype>{2};
    QTest::newRow("two lines, last without its end")
        << QByteArray("\xff\xfe,a\nok\n\xc3") << QList<qsizetype>{1, 3};
    QTest::newRow("surrogate encoded") << QByteArray("a\n\xed\xa0\x80\n") << QList<qsizetype>{2};
    QTest::newRow("valid") << QByteArray("\xef\xbb\xbf\xe2\x82\xac\n") << QList<qsizetype>{};
}

// Named by line, so that the user can find them; never read as some other character.
void TestCsv::notUtf8()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<qsizetype>, badLines);
    const Csv::Decoded decoded = Csv::decodeUtf8(bytes);
    QCOMPARE(QList<qsizetype>(decoded.badLines.begin(), decoded.badLines.end()), badLines);
}

void TestCsv::format_data()
{
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<bool>("always");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << QStringList{u"a"_s, u"b c"_s} << false << u"a,b c\r\n"_s;
    QTest::newRow("comma") << QStringList{u"x,y"_s, u"z"_s} << false << u"\"x,y\",z\r\n"_s;
    QTest::newRow("quote") << QStringList{u"say \"hi\""_s} << false << u"\"say \"\"hi\"\"\"\r\n"_s;
    QTest::newRow("LF") << QStringList{u"l1\nl2"_s} << false << u"\"l1\nl2\"\r\n"_s;
    QTest::newRow("CR") << QStringList{u"p\r"_s} << false << u"\"p\r\"\r\n"_s;
    // Some readers trim blanks around an unquoted field; a password's are part of it.
    QTest::newRow("blank first") << QStringList{u" pw"_s} << false << u"\" pw\"\r\n"_s;
    QTest::newRow("blank last") << QStringList{u"pw "_s} << false << u"\"pw \"\r\n"_s;
    QTest::newRow("empty fields") << QStringList{{}, {}} << false << u",\r\n"_s;
    QTest::newRow("always quoted")
        << QStringList{u"a"_s, {}, u"\""_s} << true << u"\"a\",\"\",\"\"\"\"\r\n"_s;
    QTest::newRow("one empty field, quoted") << QStringList{QString()} << true << u"\"\"\r\n"_s;
    QTest::newRow("Windows-1252 text")
        << QStringList{u"€uro \u0081"_s} << false << u"€uro \u0081\r\n"_s;
}

// Each record written reads back as the same fields.
void TestCsv::format()
{
    QFETCH(QStringList, fields);
    QFETCH(bool, always);
    QFETCH(QString, expected);

    const QString text =
        Csv::formatRecord(fields, always ? Csv::Quoting::Always : Csv::Quoting::WhenNeeded);
    QCOMPARE(text, expected);
    const std::vector<Csv::Record> back = Csv::parse(text + text);
    QCOMPARE(back.size(), std::size_t(2));
    for (const Csv::Record& record : back) {
        QCOMPARE(record.fields, fields);
        QCOMPARE(record.problem, QString());
    }
    // CRLF, LF and CR each end a line.
    const QString breaks = fields.join(QString()).replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n');
    QCOMPARE(back[1].line, breaks.count(u'\n') + 2);
}

QTEST_GUILESS_MAIN(TestCsv)
#include "tst_csv.moc"
