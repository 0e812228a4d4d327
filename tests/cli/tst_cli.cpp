// quillor-cli, run as its own process on data directories made by our writers.

#include "TestData.h"
#include "store/StoredField.h"
#include "store/Windows1252.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using TestData::Item;

namespace {

const QString kCli = QStringLiteral(QUILLOR_BUILD_DIR "/quillor-cli");
using TestData::kPassword;

enum class LinkFile { Absent, Bytes, Directory, Pipe };

struct Run {
    int exitCode = -1; // -1 also when it crashed or could not start
    QByteArray out;
    QByteArray err;

    QByteArray describe() const
    {
        return "exit " + QByteArray::number(exitCode) + ", stdout: " + out + ", stderr: " + err;
    }
};

// root and everything beneath it.
QStringList allPaths(const QString& root)
{
    QStringList paths{root};
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths << it.next();
    return paths;
}

// Every entry under root, root included: path, modification time, and size and content hash
// for files. Directory times show a file that came and went, such as a lock or temporary file.
QStringList snapshot(const QString& root)
{
    QStringList lines;
    for (const QString& path : allPaths(root)) {
        const QFileInfo info(path);
        QString line = QDir(root).relativeFilePath(path) + u' ' +
                       QString::number(info.lastModified().toMSecsSinceEpoch());
        if (info.isFile()) {
            line += u' ' + QString::number(info.size()) + u' ' +
                    QString::fromLatin1(QCryptographicHash::hash(TestData::readFile(path),
                                                                 QCryptographicHash::Sha256)
                                            .toHex());
        }
        lines << line;
    }
    lines.sort();
    return lines;
}

// Puts every time under root in the past, so that a write in the same millisecond still shows.
bool ageTimes(const QString& root)
{
    const timespec past[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
    for (const QString& path : allPaths(root)) {
        if (::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), past, AT_SYMLINK_NOFOLLOW))
            return false;
    }
    return true;
}

// Draws printable texts without blanks until one passes. Fixed seed: the same texts every run.
QByteArray drawPlainText(const std::function<bool(const QByteArray&)>& accept)
{
    QRandomGenerator random(1252);
    for (int attempt = 0; attempt < 1'000'000; ++attempt) {
        QByteArray plain(random.bounded(3, 17), Qt::Uninitialized);
        for (char& c : plain)
            c = char(random.bounded(0x21, 0x7F));
        if (accept(plain))
            return plain;
    }
    return {};
}

QByteArray withBytes(QByteArray bytes, qsizetype at, QByteArrayView replacement)
{
    bytes.replace(at, replacement.size(), replacement.toByteArray());
    return bytes;
}

const QList<Item> kEntries = {
    {"Example", "https://example.com/login", "alice", "s3cret"},
    {"A\tB\nC\\D", "http://b.example/?q=1", "", ""},
    {"Bank", "https://bank.example", "bob smith", "p\\w\td\r"},
};

} // namespace

class TestCli : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void formats_data();
    void formats();
    void windowsCipherBytes();
    void windows1252Text();
    void password_data();
    void password();
    void failures_data();
    void failures();
    void emptyList_data();
    void emptyList();
    void usage_data();
    void usage();
    void defaultDataDirectory_data();
    void defaultDataDirectory();
    void fileSizeLimitIsAWriteFailure();
    void passwordLeavesNoCopyInMemory();
    void interruptAtThePromptRestoresEcho();

private:
    QString root() const { return m_tmp->path(); }
    QString dataDir() const { return m_tmp->filePath(u"data"_s); }
    [[nodiscard]] bool makeDataDir(const QString& dir, const std::optional<QByteArray>& master,
                                   LinkFile kind, const QByteArray& link = {});
    Run run(const QStringList& args, const QByteArray& input,
            const std::function<void(QProcess&)>& configure = {});
    Run list(const QStringList& options, const QByteArray& input = kPassword + '\n')
    {
        return run(QStringList{u"--data-dir"_s, dataDir(), u"list"_s} + options, input);
    }

    std::unique_ptr<QTemporaryDir> m_tmp;
    QProcessEnvironment m_env;
    QStringList m_touched; // what any run changed under the temporary directory
};

void TestCli::init()
{
    QTest::failOnWarning(QRegularExpression(u".*"_s));
    m_tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tmp->isValid());
    m_touched.clear();
    // The profile and home point into the temporary directory: a run that falls back to the
    // default data directory reads, or could write, only there.
    m_env = QProcessEnvironment::systemEnvironment();
    m_env.insert(u"LC_ALL"_s, u"C.UTF-8"_s);
    m_env.insert(u"HOME"_s, m_tmp->filePath(u"home"_s));
    m_env.insert(u"XDG_DATA_HOME"_s, m_tmp->filePath(u"profile"_s));
}

// The CLI never writes: every run, whatever its outcome, leaves the tree as it found it.
void TestCli::cleanup()
{
    QVERIFY2(m_touched.isEmpty(), qPrintable(m_touched.join(u'\n')));
    m_tmp.reset();
}

bool TestCli::makeDataDir(const QString& dir, const std::optional<QByteArray>& master,
                          LinkFile kind, const QByteArray& link)
{
    if (!QDir().mkpath(dir))
        return false;
    if (master && !TestData::writeFile(dir + u"/QuiFil.ini"_s, *master))
        return false;
    switch (kind) {
    case LinkFile::Absent:
        return true;
    case LinkFile::Bytes:
        return TestData::writeFile(dir + u"/QuiURL.dab"_s, link);
    case LinkFile::Directory:
        return QDir().mkpath(dir + u"/QuiURL.dab"_s);
    case LinkFile::Pipe:
        return ::mkfifo(QFile::encodeName(dir + u"/QuiURL.dab"_s).constData(), 0600) == 0;
    }
    return false;
}

Run TestCli::run(const QStringList& args, const QByteArray& input,
                 const std::function<void(QProcess&)>& configure)
{
    if (!ageTimes(root()))
        m_touched << u"cannot set the file times"_s;
    const QStringList before = snapshot(root());

    Run result;
    QProcess process;
    process.setProcessEnvironment(m_env);
    if (configure)
        configure(process);
    process.start(kCli, args);
    if (!process.waitForStarted()) {
        result.err = process.errorString().toUtf8();
        return result;
    }
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(120'000)) {
        process.kill();
        process.waitForFinished();
    }
    if (process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();

    const QStringList after = snapshot(root());
    for (const QString& line : before) {
        if (!after.contains(line))
            m_touched << u"before: "_s + line;
    }
    for (const QString& line : after) {
        if (!before.contains(line))
            m_touched << u"after:  "_s + line;
    }
    return result;
}

void TestCli::formats_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("showPasswords");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray text = "Page Title:  Example\n"
                            "Username:    alice\n"
                            "URL Address: https://example.com/login\n"
                            "\n"
                            "Page Title:  A\\x09B\\x0aC\\D\n"
                            "Username:    \n"
                            "URL Address: http://b.example/?q=1\n"
                            "\n"
                            "Page Title:  Bank\n"
                            "Username:    bob smith\n"
                            "URL Address: https://bank.example\n"
                            "\n";
    QTest::newRow("text") << u"text"_s << false << text;
    const QByteArray textWithPasswords = "Page Title:  Example\n"
                                         "Username:    alice\n"
                                         "URL Address: https://example.com/login\n"
                                         "Password:    s3cret\n"
                                         "\n"
                                         "Page Title:  A\\x09B\\x0aC\\D\n"
                                         "Username:    \n"
                                         "URL Address: http://b.example/?q=1\n"
                                         "Password:    \n"
                                         "\n"
                                         "Page Title:  Bank\n"
                                         "Username:    bob smith\n"
                                         "URL Address: https://bank.example\n"
                                         "Password:    p\\w\\x09d\\x0d\n"
                                         "\n";
    QTest::newRow("text, passwords") << u"text"_s << true << textWithPasswords;
    // No format option at all is the text format.
    QTest::newRow("default") << QString() << false << text;

    QTest::newRow("tsv") << u"tsv"_s << false
                         << QByteArray("title\tusername\turl\n"
                                       "Example\talice\thttps://example.com/login\n"
                                       "A\\tB\\nC\\\\D\t\thttp://b.example/?q=1\n"
                                       "Bank\tbob smith\thttps://bank.example\n");
    QTest::newRow("tsv, passwords")
        << u"tsv"_s << true
        << QByteArray("title\tusername\turl\tpassword\n"
                      "Example\talice\thttps://example.com/login\ts3cret\n"
                      "A\\tB\\nC\\\\D\t\thttp://b.example/?q=1\t\n"
                      "Bank\tbob smith\thttps://bank.example\tp\\\\w\\td\\r\n");

    QTest::newRow("json") << u"json"_s << false << QByteArray(R"([
        {"title": "Example", "username": "alice", "url": "https://example.com/login"},
        {"title": "A\tB\nC\\D", "username": "", "url": "http://b.example/?q=1"},
        {"title": "Bank", "username": "bob smith", "url": "https://bank.example"}])");
    QTest::newRow("json, passwords") << u"json"_s << true << QByteArray(R"([
        {"title": "Example", "username": "alice", "url": "https://example.com/login",
         "password": "s3cret"},
        {"title": "A\tB\nC\\D", "username": "", "url": "http://b.example/?q=1", "password": ""},
        {"title": "Bank", "username": "bob smith", "url": "https://bank.example",
         "password": "p\\w\td\r"}])");
}

void TestCli::formats()
{
    QFETCH(QString, format);
    QFETCH(bool, showPasswords);
    QFETCH(QByteArray, expected);

    QVERIFY(makeDataDir(dataDir(), TestData::masterPasswordRecord(kPassword), LinkFile::Bytes,
                        TestData::linkFile(kEntries, kPassword)));
    QStringList options;
    if (!format.isEmpty())
        options << u"--format"_s << format;
    if (showPasswords)
        options << u"--show-passwords"_s;
    const Run r = list(options);
    QVERIFY2(r.exitCode == 0, r.describe().constData());
    QCOMPARE(r.err, QByteArray());

    if (format == u"json") {
        QJsonParseError error;
        const QJsonDocument actual = QJsonDocument::fromJson(r.out, &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        QVERIFY(actual.isArray());
        QCOMPARE(actual, QJsonDocument::fromJson(expected));
    } else {
        QCOMPARE(r.out, expected);
    }
}

// Windows writes cipher bytes as they come: blanks, NUL, CR and LF inside a cipher text and
// blanks at its end. Only the length prefix says where the text ends, so a reader that trims,
// splits lines or stops at NUL gets other entries, or another master password, than Windows did.
void TestCli::windowsCipherBytes()
{
    CipherService cipher;
    CipherGuard provider(cipher);
    // A master password is its own key, so one whose cipher text ends in a blank is searched for.
    const QByteArray master =
        drawPlainText([&](const QByteArray& p) { return cipher.EncryptText(p, p).endsWith(' '); });
    QVERIFY(!master.isEmpty());
    // Items are made backwards: RC4 is its own inverse, so decrypting the wanted cipher text
    // gives the plain text that encrypts to it.
    const auto plainFor = [&](QByteArrayView wanted) {
        return cipher.DecryptText(wanted, master);
    };
    const Item awkward{
        plainFor("\0 NUL first, blank inside\0"_ba),
        plainFor("CR LF\r\nLF\nCR\r"_ba),
        plainFor("ends in blanks  "_ba),
        plainFor(" \r\n\0 "_ba),
    };
    const Item plain{"After", "https://after.example", "carol", "pw"};

    const QByteArray link = TestData::linkFile({awkward, plain, awkward}, master);
    QVERIFY(link.contains("000000005 \r\n\0 "_ba)); // the password field as Windows has it
    QVERIFY(makeDataDir(dataDir(), TestData::masterPasswordRecord(master), LinkFile::Bytes, link));
    const Run r = list({u"--format"_s, u"json"_s, u"--show-passwords"_s}, master + '\n');
    QVERIFY2(r.exitCode == 0, r.describe().constData());

    const QJsonArray rows = QJsonDocument::fromJson(r.out).array();
    QCOMPARE(rows.size(), 3);
    for (int i : {0, 1, 2}) {
        const Item& item = i == 1 ? plain : awkward;
        const QJsonObject row = rows[i].toObject();
        QCOMPARE(row.value(u"title"_s).toString(), Windows1252::toUnicode(item.title));
        QCOMPARE(row.value(u"url"_s).toString(), Windows1252::toUnicode(item.url));
        QCOMPARE(row.value(u"username"_s).toString(), Windows1252::toUnicode(item.userName));
        QCOMPARE(row.value(u"password"_s).toString(), Windows1252::toUnicode(item.password));
    }
}

// The files hold Windows-1252; the output is UTF-8. Latin-1 would turn "€" (0x80) into a
// control character.
void TestCli::windows1252Text()
{
    const QList<Item> entries = {
        {"Caf\xe9", "https://example.com/\x93quoted\x94", "na\xefve", "\x80uro"},
        {"\x80uro \x85 \x81", "http://x.example",
         "Stra\xdf"
         "e",
         "\xbd\xe6"},
    };
    QVERIFY(makeDataDir(dataDir(), TestData::masterPasswordRecord(kPassword), LinkFile::Bytes,
                        TestData::linkFile(entries, kPassword)));

    const Run json = list({u"--format"_s, u"json"_s, u"--show-passwords"_s});
    QVERIFY2(json.exitCode == 0, json.describe().constData());
    const QJsonArray rows = QJsonDocument::fromJson(json.out).array();
    QCOMPARE(rows.size(), 2);
    const QJsonObject first = rows[0].toObject();
    QCOMPARE(first.value(u"title"_s).toString(), u"Café"_s);
    QCOMPARE(first.value(u"url"_s).toString(), u"https://example.com/\u201cquoted\u201d"_s);
    QCOMPARE(first.value(u"username"_s).toString(), u"naïve"_s);
    QCOMPARE(first.value(u"password"_s).toString(), u"€uro"_s);
    const QJsonObject second = rows[1].toObject();
    // 0x81 has no character in the code page and stays U+0081.
    QCOMPARE(second.value(u"title"_s).toString(), u"€uro … \u0081"_s);
    QCOMPARE(second.value(u"username"_s).toString(), u"Straße"_s);
    QCOMPARE(second.value(u"password"_s).toString(), u"½æ"_s);

    const Run text = list({u"--show-passwords"_s});
    QVERIFY2(text.exitCode == 0, text.describe().constData());
    QCOMPARE(text.out,
             QByteArray("Page Title:  Caf\xc3\xa9\n"
                        "Username:    na\xc3\xafve\n"
                        "URL Address: https://example.com/\xe2\x80\x9cquoted\xe2\x80\x9d\n"
                        "Password:    \xe2\x82\xacuro\n"
                        "\n"
                        "Page Title:  \xe2\x82\xacuro \xe2\x80\xa6 \\x81\n"
                        "Username:    Stra\xc3\x9f"
                        "e\n"
                        "URL Address: http://x.example\n"
                        "Password:    \xc2\xbd\xc3\xa6\n"
                        "\n"));
}

void TestCli::password_data()
{
    QTest::addColumn<QByteArray>("master"); // as the file holds it, Windows-1252
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    const QString wrong = u"quillor-cli: wrong master password\n"_s;
    QTest::newRow("line") << kPassword << QByteArray("Pomelo\n") << 0 << QString();
    QTest::newRow("CR LF") << kPassword << QByteArray("Pomelo\r\n") << 0 << QString();
    QTest::newRow("no line end") << kPassword << QByteArray("Pomelo") << 0 << QString();
    QTest::newRow("blanks around") << kPassword << QByteArray("   Pomelo  \n") << 0 << QString();
    QTest::newRow("blanks and CR LF") << kPassword << QByteArray(" Pomelo \r\n") << 0 << QString();
    QTest::newRow("only the first line")
        << kPassword << QByteArray("Pomelo\nsomething else\n") << 0 << QString();
    QTest::newRow("inner blank kept")
        << QByteArray("two words") << QByteArray(" two words\n") << 0 << QString();
    // Typed as UTF-8, stored as Windows-1252.
    QTest::newRow("Windows-1252 password")
        << QByteArray("P\xe2t\xe9\x80") << QByteArray("P\xc3\xa2t\xc3\xa9\xe2\x82\xac\n") << 0
        << QString();
    // An empty master password is a password; no line at all is none.
    QTest::newRow("empty password, empty line")
        << QByteArray() << QByteArray("\n") << 0 << QString();
    QTest::newRow("empty password, no line")
        << QByteArray() << QByteArray() << 1
        << u"quillor-cli: no master password on standard input\n"_s;

    QTest::newRow("other case") << kPassword << QByteArray("pomelo\n") << 1 << wrong;
    QTest::newRow("tab is no blank") << kPassword << QByteArray("\tPomelo\n") << 1 << wrong;
    QTest::newRow("line without the password") << kPassword << QByteArray("\n") << 1 << wrong;
    QTest::newRow("blanks only") << kPassword << QByteArray("   \r\n") << 1 << wrong;
    QTest::newRow("character outside Windows-1252")
        << kPassword << QByteArray("Pomelo\xce\xa9\n") << 1 << wrong;
    QTest::newRow("no line") << kPassword << QByteArray() << 1
                             << u"quillor-cli: no master password on standard input\n"_s;
}

void TestCli::password()
{
    QFETCH(QByteArray, master);
    QFETCH(QByteArray, input);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    QVERIFY(makeDataDir(dataDir(), TestData::masterPasswordRecord(master), LinkFile::Bytes,
                        TestData::linkFile(kEntries, master)));
    const Run r = list({u"--format"_s, u"tsv"_s}, input);
    QVERIFY2(r.exitCode == exitCode, r.describe().constData());
    QCOMPARE(QString::fromUtf8(r.err), message);
    if (exitCode == 0)
        QCOMPARE(r.out.count('\n'), kEntries.size() + 1);
    else
        QCOMPARE(r.out, QByteArray());
}

void TestCli::failures_data()
{
    QTest::addColumn<bool>("hasMaster");
    QTest::addColumn<QByteArray>("master");
    QTest::addColumn<int>("linkKind");
    QTest::addColumn<QByteArray>("link");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("message"); // a part of the one line on standard error

    const QByteArray master = TestData::masterPasswordRecord(kPassword);
    QList<Item> entries = kEntries;
    entries[2].password = "a password long enough to be torn in two";
    const QByteArray three = TestData::linkFile(entries, kPassword);
    const int file = int(LinkFile::Bytes);
    const qsizetype record2 = kLinkRecordSize;
    const QByteArray right = kPassword + '\n';

    QTest::newRow("wrong password")
        << true << master << file << three << QByteArray("Pomelo!\n") << u"wrong master password"_s;
    QTest::newRow("no QuiFil.ini")
        << false << QByteArray() << file << three << right << u"QuiFil.ini is missing"_s;
    // The program would make a new master password here; the CLI must not.
    QTest::newRow("no QuiFil.ini, no link file")
        << false << QByteArray() << int(LinkFile::Absent) << QByteArray() << right
        << u"QuiFil.ini is missing"_s;
    QTest::newRow("QuiFil.ini of 0 bytes")
        << true << QByteArray() << file << three << right << u"QuiFil.ini is missing"_s;
    QTest::newRow("QuiFil.ini of 100 bytes")
        << true << master.left(100) << file << three << right << u"QuiFil.ini is missing"_s;
    QTest::newRow("QuiFil.ini prefix damaged")
        << true << withBytes(master, 0, "00000000x") << file << three << right
        << u"QuiFil.ini: the record is damaged"_s;

    // Record 1 reads well: nothing of it may reach standard output.
    QTest::newRow("record 2 prefix not digits")
        << true << master << file << withBytes(three, record2, "0000000x4") << right
        << u"record 2 is damaged"_s;
    QTest::newRow("record 2 prefix past its field")
        << true << master << file
        << withBytes(three, record2 + kTitleFieldWidth, MakANumba(kUrlFieldWidth)) << right
        << u"record 2 is damaged"_s;
    QTest::newRow("link file is a directory")
        << true << master << int(LinkFile::Directory) << QByteArray() << right
        << u"cannot read the link file"_s;
    // Opened the usual way, a pipe would keep the command waiting for a writer.
    QTest::newRow("link file is a pipe") << true << master << int(LinkFile::Pipe) << QByteArray()
                                         << right << u"not a regular file"_s;
    QTest::newRow("QuiFil.ini is a pipe")
        << false << QByteArray() << file << three << right << u"QuiFil.ini: not a regular file"_s;
}

void TestCli::failures()
{
    QFETCH(bool, hasMaster);
    QFETCH(QByteArray, master);
    QFETCH(int, linkKind);
    QFETCH(QByteArray, link);
    QFETCH(QByteArray, input);
    QFETCH(QString, message);

    QVERIFY(makeDataDir(dataDir(), hasMaster ? std::optional(master) : std::nullopt,
                        LinkFile(linkKind), link));
    if (QByteArray(QTest::currentDataTag()) == "QuiFil.ini is a pipe")
        QCOMPARE(::mkfifo(QFile::encodeName(dataDir() + u"/QuiFil.ini"_s).constData(), 0600), 0);
    // TSV with passwords: its header would be the first thing a streaming writer lets out.
    const Run r = list({u"--format"_s, u"tsv"_s, u"--show-passwords"_s}, input);
    QVERIFY2(r.exitCode == 1, r.describe().constData());
    QCOMPARE(r.out, QByteArray());
    const QString err = QString::fromUtf8(r.err);
    QVERIFY2(err.startsWith(u"quillor-cli: ") && err.endsWith(u'\n') && err.count(u'\n') == 1,
             r.err.constData());
    QVERIFY2(err.contains(message), r.err.constData());
}

void TestCli::emptyList_data()
{
    QTest::addColumn<int>("linkKind");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("expected");

    for (const auto& [kind, name] : {std::pair(LinkFile::Absent, "no link file"),
                                     std::pair(LinkFile::Bytes, "link file of 0 bytes")}) {
        QTest::addRow("%s, text", name) << int(kind) << u"text"_s << QByteArray();
        QTest::addRow("%s, tsv", name)
            << int(kind) << u"tsv"_s << QByteArray("title\tusername\turl\n");
        QTest::addRow("%s, json", name) << int(kind) << u"json"_s << QByteArray("[]");
    }
}

// The program deletes a link file of 0 bytes when it loads; the CLI lists it and keeps it
// (cleanup() checks that nothing changed).
void TestCli::emptyList()
{
    QFETCH(int, linkKind);
    QFETCH(QString, format);
    QFETCH(QByteArray, expected);

    QVERIFY(makeDataDir(dataDir(), TestData::masterPasswordRecord(kPassword), LinkFile(linkKind)));
    const Run r = list({u"--format"_s, format});
    QVERIFY2(r.exitCode == 0, r.describe().constData());
    QCOMPARE(r.err, QByteArray());
    if (format == u"json") {
        const QJsonDocument doc = QJsonDocument::fromJson(r.out);
        QVERIFY(doc.isArray());
        QCOMPARE(doc, QJsonDocument::fromJson(expected));
    } else {
        QCOMPARE(r.out, expected);
    }
    QCOMPARE(QFileInfo::exists(dataDir() + u"/QuiURL.dab"_s),
             LinkFile(linkKind) == LinkFile::Bytes);
}

void TestCli::usage_data()
{
    QTest::addColumn<QStringList>("args"); // "DIR" stands for the data directory

    QTest::newRow("nothing") << QStringList();
    QTest::newRow("no command") << QStringList{u"--data-dir"_s, u"DIR"_s};
    QTest::newRow("unknown command") << QStringList{u"show"_s};
    QTest::newRow("command twice") << QStringList{u"list"_s, u"list"_s};
    QTest::newRow("format xml") << QStringList{u"list"_s, u"--format"_s, u"xml"_s};
    QTest::newRow("format without value") << QStringList{u"list"_s, u"--format"_s};
    QTest::newRow("data-dir without value") << QStringList{u"list"_s, u"--data-dir"_s};
    QTest::newRow("data-dir alone") << QStringList{u"--data-dir"_s};
    QTest::newRow("data-dir empty") << QStringList{u"--data-dir"_s, QString(), u"list"_s};
    QTest::newRow("unknown option") << QStringList{u"list"_s, u"--verbose"_s};
    QTest::newRow("list option before the command")
        << QStringList{u"--show-passwords"_s, u"list"_s};
}

void TestCli::usage()
{
    QFETCH(QStringList, args);
    QVERIFY(makeDataDir(dataDir(), TestData::masterPasswordRecord(kPassword), LinkFile::Bytes,
                        TestData::linkFile(kEntries, kPassword)));
    args.replaceInStrings(QRegularExpression(u"^DIR$"_s), dataDir());

    const Run r = run(args, kPassword + '\n');
    QVERIFY2(r.exitCode == 2, r.describe().constData());
    QCOMPARE(r.out, QByteArray());
    QVERIFY2(r.err.contains("usage: quillor-cli"), r.err.constData());
}

void TestCli::defaultDataDirectory_data()
{
    QTest::addColumn<QString>("xdgDataHome"); // "ROOT" stands for the temporary directory
    QTest::addColumn<QString>("filesIn");     // under the temporary directory
    QTest::addColumn<int>("exitCode");

    const QString underXdg = u"profile/Application Data/Quillor"_s;
    const QString underHome = u"home/.local/share/Application Data/Quillor"_s;
    QTest::newRow("XDG_DATA_HOME") << u"ROOT/profile"_s << underXdg << 0;
    QTest::newRow("no XDG_DATA_HOME") << QString() << underHome << 0;
    QTest::newRow("relative XDG_DATA_HOME is ignored") << u"profile"_s << underHome << 0;
    // No falling back to the home directory, and no data directory made.
    QTest::newRow("XDG_DATA_HOME without data") << u"ROOT/profile"_s << underHome << 1;
}

void TestCli::defaultDataDirectory()
{
    QFETCH(QString, xdgDataHome);
    QFETCH(QString, filesIn);
    QFETCH(int, exitCode);

    QVERIFY(makeDataDir(m_tmp->filePath(filesIn), TestData::masterPasswordRecord(kPassword),
                        LinkFile::Bytes, TestData::linkFile(kEntries, kPassword)));
    if (xdgDataHome.isNull())
        m_env.remove(u"XDG_DATA_HOME"_s);
    else
        m_env.insert(u"XDG_DATA_HOME"_s, xdgDataHome.replace(u"ROOT"_s, root()));

    const Run r = run({u"list"_s, u"--format"_s, u"json"_s}, kPassword + '\n');
    QVERIFY2(r.exitCode == exitCode, r.describe().constData());
    if (exitCode == 0) {
        const QJsonArray rows = QJsonDocument::fromJson(r.out).array();
        QCOMPARE(rows.size(), kEntries.size());
        QCOMPARE(rows[0].toObject().value(u"title"_s).toString(), u"Example"_s);
    } else {
        QCOMPARE(r.out, QByteArray());
        QVERIFY2(r.err.contains(QFile::encodeName(root() + u"/profile/Application Data/Quillor"_s)),
                 r.err.constData());
    }
}

// A shell's "ulimit -f": past the limit the kernel sends SIGXFSZ, which by default ends the
// program mid-write. The write must fail instead, and be reported.
void TestCli::fileSizeLimitIsAWriteFailure()
{
    QVERIFY(makeDataDir(dataDir(), TestData::masterPasswordRecord(kPassword), LinkFile::Bytes,
                        TestData::linkFile(kEntries, kPassword)));
    QTemporaryDir outDir;
    QVERIFY(outDir.isValid());
    const QString outPath = outDir.filePath(u"listing"_s);

    const Run r = run({u"--data-dir"_s, dataDir(), u"list"_s}, kPassword + '\n',
                      [&outPath](QProcess& process) {
                          process.setStandardOutputFile(outPath);
                          process.setChildProcessModifier([] {
                              std::signal(SIGXFSZ, SIG_DFL);
                              rlimit limit{100, 100};
                              ::setrlimit(RLIMIT_FSIZE, &limit);
                          });
                      });
    QVERIFY2(r.exitCode == 1, r.describe().constData());
    QCOMPARE(r.err, QByteArray("quillor-cli: cannot write to standard output\n"));
    QVERIFY(QFileInfo(outPath).size() <= 100);
}

// The typed master password is wiped from every buffer that held it once the entries are
// decrypted: a memory dump of the process while it writes the listing shows no copy.
void TestCli::passwordLeavesNoCopyInMemory()
{
    const QByteArray master = "Quince-7f3a9c!Zq";
    // A listing far larger than a pipe holds, so the command waits in its write while its
    // memory is read.
    QList<Item> entries;
    for (int i = 0; i < 300; ++i)
        entries.append({"Entry " + QByteArray::number(i),
                        "https://example.com/" + QByteArray(1800, 'p'), "user", "pw"});
    QVERIFY(makeDataDir(dataDir(), TestData::masterPasswordRecord(master), LinkFile::Bytes,
                        TestData::linkFile(entries, master)));

    int out[2];
    QCOMPARE(::pipe2(out, O_CLOEXEC), 0);
    const auto closeOut = qScopeGuard([&out] {
        ::close(out[0]);
        if (out[1] >= 0)
            ::close(out[1]);
    });
    QProcess process;
    process.setProcessEnvironment(m_env);
    process.setStandardOutputFile(u"/proc/self/fd/"_s + QString::number(out[1]));
    process.start(kCli, {u"--data-dir"_s, dataDir(), u"list"_s});
    QVERIFY(process.waitForStarted());
    ::close(out[1]);
    out[1] = -1;
    process.write(master + '\n');
    QVERIFY(process.waitForBytesWritten());
    process.closeWriteChannel();
    const auto stop = qScopeGuard([&process] {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    });

    // The first byte of the listing: the passwords have been used and wiped.
    pollfd ready{out[0], POLLIN, 0};
    QVERIFY2(::poll(&ready, 1, 60'000) == 1, "no listing");
    char first = 0;
    QCOMPARE(::read(out[0], &first, 1), ssize_t(1));

    const QString proc = u"/proc/"_s + QString::number(process.processId());
    QFile maps(proc + u"/maps"_s);
    QVERIFY(maps.open(QIODevice::ReadOnly));
    QFile memory(proc + u"/mem"_s);
    QVERIFY(memory.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
    QByteArray utf16;
    for (char c : master)
        utf16 += QByteArray(1, c) + '\0';
    QStringList found;
    qint64 scanned = 0;
    for (const QByteArray& line : maps.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 2 || !fields[1].startsWith('r'))
            continue;
        const QList<QByteArray> range = fields[0].split('-');
        const qint64 from = range[0].toLongLong(nullptr, 16);
        const qint64 to = range[1].toLongLong(nullptr, 16);
        if (!memory.seek(from))
            continue;
        const QByteArray bytes = memory.read(to - from);
        scanned += bytes.size();
        for (const QByteArray& form : {master, utf16}) {
            if (bytes.contains(form))
                found << QString::fromLatin1(line);
        }
    }
    QVERIFY(scanned > 0);
    QVERIFY2(found.isEmpty(), qPrintable(found.join(u'\n')));

    QByteArray listing(1, first);
    for (char buffer[65536];;) {
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        listing.append(buffer, n);
    }
    QVERIFY(process.waitForFinished());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(listing.count("Page Title:"), 300);
}

// Ctrl-C at the prompt ends the command; the terminal must not be left without echo.
void TestCli::interruptAtThePromptRestoresEcho()
{
    const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    QVERIFY(terminal >= 0);
    const auto closeTerminal = qScopeGuard([terminal] { ::close(terminal); });
    QVERIFY(::grantpt(terminal) == 0 && ::unlockpt(terminal) == 0);
    const QString name = QString::fromLocal8Bit(::ptsname(terminal));
    const int side = ::open(QFile::encodeName(name).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    QVERIFY(side >= 0);
    const auto closeSide = qScopeGuard([side] { ::close(side); });
    const auto echoOn = [side] {
        termios mode{};
        return ::tcgetattr(side, &mode) == 0 && (mode.c_lflag & ECHO) != 0;
    };
    QVERIFY(echoOn());

    QVERIFY(makeDataDir(dataDir(), TestData::masterPasswordRecord(kPassword), LinkFile::Bytes,
                        TestData::linkFile(kEntries, kPassword)));
    QProcess process;
    process.setProcessEnvironment(m_env);
    process.setStandardInputFile(name);
    process.setReadChannel(QProcess::StandardError);
    process.start(kCli, {u"--data-dir"_s, dataDir(), u"list"_s});
    QVERIFY(process.waitForStarted());
    const auto stop = qScopeGuard([&process] {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    });
    QByteArray prompt;
    while (!prompt.contains("Master password: ") && process.waitForReadyRead(60'000))
        prompt += process.readAll();
    QVERIFY2(prompt.contains("Master password: "), prompt.constData());
    QVERIFY(!echoOn()); // typing is not shown

    QCOMPARE(::kill(pid_t(process.processId()), SIGINT), 0);
    QVERIFY(process.waitForFinished(60'000));
    QCOMPARE(process.exitStatus(), QProcess::CrashExit); // ended by the signal, as it asked
    QVERIFY(echoOn());
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
