// quillor-cli, run as its own process on data directories made by our writers.

#include "FifoWatchdog.h"
#include "TestData.h"
#include "startup/AppState.h"
#include "startup/InstanceLock.h"
#include "startup/SettingsFile.h"
#include "startup/Startup.h"
#include "store/ItemLimits.h"
#include "store/LinkFile.h"
#include "store/PairFiles.h"
#include "store/LinkRecord.h"
#include "store/StoredField.h"
#include "store/UndoCopies.h"
#include "store/Windows1252.h"

#include "cli/Csv.h"

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
#include <sys/wait.h>
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

// One line for each entry, its items escaped, so that a failed comparison shows the difference.
QByteArrayList rows(const QList<Item>& items)
{
    QByteArrayList lines;
    for (const Item& item : items) {
        QByteArrayList parts;
        for (const QByteArray* part : {&item.title, &item.url, &item.userName, &item.password})
            parts << part->toPercentEncoding(" :/.,?=@!$'()*+;~\"");
        lines << parts.join(" | ");
    }
    return lines;
}

// The entries of a link file as the program's own loader reads them, passwords decrypted.
QByteArrayList readBack(const QString& linkFilePath, const QByteArray& master)
{
    CipherService cipher;
    const LinkFileRead read = readLinkFile(linkFilePath, master, cipher, EmptyLinkFile::Keep);
    if (!read.ok())
        return {"load failed: " + read.failure.toUtf8()};
    QList<Item> items;
    for (const Entry& entry : read.entries)
        items.append({entry.title().toByteArray(), entry.url().toByteArray(),
                      entry.userName().toByteArray(),
                      TestData::decrypt(entry.passwordCipher(), master)});
    return rows(items);
}

// Every file under dir with its content, so that a change, a left-over lock or a temporary file
// shows.
QMap<QString, QByteArray> filesIn(const QString& dir)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(dir).relativeFilePath(path), QFileInfo(path).isDir()
                                                           ? QByteArray("(directory)")
                                                           : TestData::readFile(path));
    }
    return files;
}

QByteArray entries(qsizetype n)
{
    return n == 1 ? QByteArray("1 entry") : QByteArray::number(n) + " entries";
}

QByteArray damagedRecord()
{
    return withBytes(TestData::linkRecord(kEntries[0], kPassword), 0, "00000000x");
}

// Every kind of byte an escape is made for, and the code page's awkward ones: controls, DEL, the
// five unassigned bytes among 0x80..0x9F, quotes, backslashes, TAB, LF and CR.
const QList<Item> kOddEntries = {
    {QByteArray("\x00\x01\x08\x0c\x1b\x1f\x7f", 7), "\x80\x81\x8d\x8f\x90\x9d\x9f\x85",
     "\"q\" \\b\\", "tab\tlf\ncr\r"},
    {"\xa0\xe9\xff", "", "", ""},
};

// Full-width entries in a list this long hold ten megabytes of cipher texts: more than the reader
// keeps from its check of the file.
constexpr int kLongListRecords = 3000;

// Items that fill their fields, each record's own, in printable characters that no format
// escapes.
Item fullWidthItem(int record)
{
    const auto fill = [record](int fieldWidth, char first) {
        QByteArray text = QByteArray::number(record) + ':';
        for (int i = 0; text.size() < fieldWidth - kLengthPrefixDigits; ++i)
            text += char(first + (record + i) % 26);
        return text;
    };
    return {fill(kTitleFieldWidth, 'a'), fill(kUrlFieldWidth, 'A'), fill(kUserNameFieldWidth, 'a'),
            fill(kPasswordFieldWidth, 'A')};
}

// The first line where two listings part, so that a failure does not print megabytes.
QByteArray firstDifference(const QByteArray& actual, const QByteArray& expected)
{
    const QByteArrayList a = actual.split('\n');
    const QByteArrayList e = expected.split('\n');
    for (qsizetype i = 0; i < std::max(a.size(), e.size()); ++i) {
        const QByteArray left = a.value(i, "(none)");
        const QByteArray right = e.value(i, "(none)");
        if (left != right)
            return "line " + QByteArray::number(i + 1) + ": " + left.left(80) + " instead of " +
                   right.left(80);
    }
    return {};
}

// The calls a run of quillor-cli made in dir, counted by the fault injector: each line's call
// and first and second path.
struct FaultPoint {
    QByteArray call;
    QString path;
    QString path2;
};

QList<FaultPoint> faultPoints(const QString& log)
{
    QList<FaultPoint> points;
    for (const QByteArray& line : TestData::readFile(log).split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() == 5)
            points.append({fields[1], QFile::decodeName(fields[2]), QFile::decodeName(fields[3])});
    }
    return points;
}

// env with the fault injector preloaded, acting at point at of the calls on dir (0: counting).
QProcessEnvironment withFaults(QProcessEnvironment env, const QString& dir, const QString& log,
                               const QByteArray& mode, int at)
{
    env.insert(u"LD_PRELOAD"_s, QStringLiteral(QUILLOR_FAULT_INJECT_LIBRARY));
    env.insert(u"QUILLOR_FAULT_DIR"_s, dir);
    env.insert(u"QUILLOR_FAULT_LOG"_s, log);
    env.insert(u"QUILLOR_FAULT_MODE"_s, QString::fromLatin1(mode));
    env.insert(u"QUILLOR_FAULT_AT"_s, QString::number(at));
    env.insert(u"QUILLOR_FAULT_ERRNO"_s, u"EIO"_s);
    // A sanitized program wants its runtime first among the libraries; the injector is plain C
    // and only passes calls on.
    const QString asan = env.value(u"ASAN_OPTIONS"_s);
    env.insert(u"ASAN_OPTIONS"_s,
               (asan.isEmpty() ? QString() : asan + u':') + u"verify_asan_link_order=0"_s);
    return env;
}

// quillor-cli under the fault injector: in dir, the call numbered at (from 1) acts as mode says
// (0 only counts), every call noted in log.
std::function<void(QProcess&)> underFaults(const QProcessEnvironment& base, const QString& dir,
                                           const QString& log, int at, const char* mode,
                                           const QString& workingDirectory)
{
    return [=](QProcess& process) {
        QProcessEnvironment env = withFaults(base, dir, log, mode, at);
        // Outcomes are judged, not durability: a sync that is not failed need not wait.
        env.insert(u"QUILLOR_FAULT_SYNC"_s, u"skip"_s);
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(workingDirectory);
    };
}

} // namespace

Q_DECLARE_METATYPE(TestData::Item)

class TestCli : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void formats_data();
    void formats();
    void windowsCipherBytes();
    void windows1252Text();
    void jsonBytes();
    void oddBytes_data();
    void oddBytes();
    void escapeAtEveryPlace_data();
    void escapeAtEveryPlace();
    void longList();
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
    void closedOutput_data();
    void closedOutput();
    void passwordLeavesNoCopyInMemory();
    void interruptAtThePromptRestoresEcho();

    void help_data();
    void help();
    void show_data();
    void show();
    void writes_data();
    void writes();
    void writeRefusals_data();
    void writeRefusals();
    void passwd_data();
    void passwd();
    void lockedDataDirectory_data();
    void lockedDataDirectory();
    void writeFailures_data();
    void writeFailures();
    void import_data();
    void import();
    void exportRoundTrip_data();
    void exportRoundTrip();
    void exportRefusals_data();
    void exportRefusals();
    void salvage_data();
    void salvage();
    void outputLinks_data();
    void outputLinks();
    void outputFaults_data();
    void outputFaults();
    void staleTemporaries_data();
    void staleTemporaries();
    void importNonRegularFile_data();
    void importNonRegularFile();
    void controlCharacters_data();
    void controlCharacters();
    void exportKeepsControlCharacters();
    void safeCells_data();
    void safeCells();
    void importSummaryUnwritten();
    void salvageDamagedTailInLittleMemory();

    void readerSeesOnePair_data();
    void readerSeesOnePair();
    void madeButUnsure_data();
    void madeButUnsure();
    void leftLockFile_data();
    void leftLockFile();
    void lockHeldByAnotherCommand();
    void oneLockThroughALink();
    void linkToNowhere_data();
    void linkToNowhere();
    void tornTailIsSaid_data();
    void tornTailIsSaid();
    void pendingSwitch_data();
    void pendingSwitch();
    void everyFaultToldTruly_data();
    void everyFaultToldTruly();
    void merge_data();
    void merge();
    void conflictCopiesNoted_data();
    void conflictCopiesNoted();
    void staleListIsNotWritten_data();
    void staleListIsNotWritten();

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
    // A command on the data directory, run in the temporary directory.
    Run cli(const QStringList& args, const QByteArray& input)
    {
        return run(QStringList{u"--data-dir"_s, dataDir()} + args, input,
                   [this](QProcess& process) { process.setWorkingDirectory(root()); });
    }
    [[nodiscard]] bool makeEntries(const QList<Item>& entries)
    {
        return makeDataDir(dataDir(), TestData::masterPasswordRecord(kPassword),
                           entries.isEmpty() ? LinkFile::Absent : LinkFile::Bytes,
                           TestData::linkFile(entries, kPassword));
    }
    QString linkFilePath() const { return dataDir() + u"/QuiURL.dab"_s; }

    std::unique_ptr<QTemporaryDir> m_tmp;
    QProcessEnvironment m_env;
    QTemporaryDir m_runtime; // the runtime directory, where the locks are
    QStringList m_touched; // what any run changed under the temporary directory
    bool m_writes = false; // a test of a writing command checks the files itself
};

void TestCli::init()
{
    QTest::failOnWarning(QRegularExpression(u".*"_s));
    m_tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tmp->isValid());
    m_touched.clear();
    QVERIFY(m_runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    // The profile and home point into the temporary directory: a run that falls back to the
    // default data directory reads, or could write, only there.
    m_env = QProcessEnvironment::systemEnvironment();
    m_env.insert(u"LC_ALL"_s, u"C.UTF-8"_s);
    m_env.insert(u"HOME"_s, m_tmp->filePath(u"home"_s));
    m_env.insert(u"XDG_DATA_HOME"_s, m_tmp->filePath(u"profile"_s));
}

// A reading command never writes: every run, whatever its outcome, leaves the tree as it found
// it, without so much as a lock file coming and going.
void TestCli::cleanup()
{
    if (!m_writes)
        QVERIFY2(m_touched.isEmpty(), qPrintable(m_touched.join(u'\n')));
    m_writes = false;
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

// Scripts compare the output byte for byte: the layout, the member order and every escape stay.
void TestCli::jsonBytes()
{
    QVERIFY(makeEntries({{"A\"b\\c\x01\x7f", "https://x.example", "\x81\x80", "p\t"}, {}}));
    const Run listed = list({u"--format"_s, u"json"_s, u"--show-passwords"_s});
    QVERIFY2(listed.exitCode == 0, listed.describe().constData());
    QCOMPARE(listed.out, QByteArray("[\n"
                                    "    {\n"
                                    "        \"password\": \"p\\t\",\n"
                                    "        \"title\": \"A\\\"b\\\\c\\u0001\x7f\",\n"
                                    "        \"url\": \"https://x.example\",\n"
                                    "        \"username\": \"\xc2\x81\xe2\x82\xac\"\n"
                                    "    },\n"
                                    "    {\n"
                                    "        \"password\": \"\",\n"
                                    "        \"title\": \"\",\n"
                                    "        \"url\": \"\",\n"
                                    "        \"username\": \"\"\n"
                                    "    }\n"
                                    "]\n"));
    const Run shown = cli({u"show"_s, u"1"_s, u"--format"_s, u"json"_s}, kPassword + '\n');
    QVERIFY2(shown.exitCode == 0, shown.describe().constData());
    QCOMPARE(shown.out, QByteArray("{\n"
                                   "    \"title\": \"A\\\"b\\\\c\\u0001\x7f\",\n"
                                   "    \"url\": \"https://x.example\",\n"
                                   "    \"username\": \"\xc2\x81\xe2\x82\xac\"\n"
                                   "}\n"));
}

void TestCli::oddBytes_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("showPasswords");
    QTest::addColumn<QByteArray>("expected");

    // Text shows controls and the unassigned bytes as \xNN, so that none acts on a terminal.
    const QByteArray title = "\\x00\\x01\\x08\\x0c\\x1b\\x1f\\x7f";
    const QByteArray url = "\xe2\x82\xac\\x81\\x8d\\x8f\\x90\\x9d\xc5\xb8\xe2\x80\xa6";
    QTest::newRow("text") << u"text"_s << false
                          << "Page Title:  " + title +
                                 "\n"
                                 "Username:    \"q\" \\b\\\n"
                                 "URL Address: " +
                                 url +
                                 "\n"
                                 "\n"
                                 "Page Title:  \xc2\xa0\xc3\xa9\xc3\xbf\n"
                                 "Username:    \n"
                                 "URL Address: \n"
                                 "\n";
    QTest::newRow("text, passwords") << u"text"_s << true
                                     << "Page Title:  " + title +
                                            "\n"
                                            "Username:    \"q\" \\b\\\n"
                                            "URL Address: " +
                                            url +
                                            "\n"
                                            "Password:    tab\\x09lf\\x0acr\\x0d\n"
                                            "\n"
                                            "Page Title:  \xc2\xa0\xc3\xa9\xc3\xbf\n"
                                            "Username:    \n"
                                            "URL Address: \n"
                                            "Password:    \n"
                                            "\n";
    // TSV escapes only what would break its rows and the backslash that escapes.
    const QByteArray tsvFirst = QByteArray("\x00\x01\x08\x0c\x1b\x1f\x7f", 7) +
                                "\t\"q\" \\\\b\\\\\t"
                                "\xe2\x82\xac\xc2\x81\xc2\x8d\xc2\x8f\xc2\x90\xc2\x9d\xc5\xb8"
                                "\xe2\x80\xa6";
    QTest::newRow("tsv") << u"tsv"_s << false
                         << "title\tusername\turl\n" + tsvFirst +
                                "\n"
                                "\xc2\xa0\xc3\xa9\xc3\xbf\t\t\n";
    QTest::newRow("tsv, passwords") << u"tsv"_s << true
                                    << "title\tusername\turl\tpassword\n" + tsvFirst +
                                           "\ttab\\tlf\\ncr\\r\n"
                                           "\xc2\xa0\xc3\xa9\xc3\xbf\t\t\t\n";
    const QByteArray jsonTitle = "\\u0000\\u0001\\b\\f\\u001b\\u001f\x7f";
    const QByteArray jsonUrl =
        "\xe2\x82\xac\xc2\x81\xc2\x8d\xc2\x8f\xc2\x90\xc2\x9d\xc5\xb8\xe2\x80\xa6";
    QTest::newRow("json") << u"json"_s << false
                          << "[\n"
                             "    {\n"
                             "        \"title\": \"" +
                                 jsonTitle +
                                 "\",\n"
                                 "        \"url\": \"" +
                                 jsonUrl +
                                 "\",\n"
                                 "        \"username\": \"\\\"q\\\" \\\\b\\\\\"\n"
                                 "    },\n"
                                 "    {\n"
                                 "        \"title\": \"\xc2\xa0\xc3\xa9\xc3\xbf\",\n"
                                 "        \"url\": \"\",\n"
                                 "        \"username\": \"\"\n"
                                 "    }\n"
                                 "]\n";
    QTest::newRow("json, passwords") << u"json"_s << true
                                     << "[\n"
                                        "    {\n"
                                        "        \"password\": \"tab\\tlf\\ncr\\r\",\n"
                                        "        \"title\": \"" +
                                            jsonTitle +
                                            "\",\n"
                                            "        \"url\": \"" +
                                            jsonUrl +
                                            "\",\n"
                                            "        \"username\": \"\\\"q\\\" \\\\b\\\\\"\n"
                                            "    },\n"
                                            "    {\n"
                                            "        \"password\": \"\",\n"
                                            "        \"title\": \"\xc2\xa0\xc3\xa9\xc3\xbf\",\n"
                                            "        \"url\": \"\",\n"
                                            "        \"username\": \"\"\n"
                                            "    }\n"
                                            "]\n";
}

// Scripts and other managers read the listing byte for byte: each format's escapes stay exactly
// as they are.
void TestCli::oddBytes()
{
    QFETCH(QString, format);
    QFETCH(bool, showPasswords);
    QFETCH(QByteArray, expected);

    QVERIFY(makeEntries(kOddEntries));
    QStringList options{u"--format"_s, format};
    if (showPasswords)
        options << u"--show-passwords"_s;
    const Run r = list(options);
    QVERIFY2(r.exitCode == 0, r.describe().constData());
    QCOMPARE(r.err, QByteArray());
    QCOMPARE(r.out, expected);
}

void TestCli::escapeAtEveryPlace_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArrayList>("escapes"); // what each of bytes becomes

    QTest::newRow("text") << u"text"_s
                          << QByteArray("\x00\x09\x0a\x1f\x7f\x81\x9f\x80\xa0\xff\"\\ ~", 14)
                          << QByteArrayList{"\\x00",    "\\x09",    "\\x0a",    "\\x1f",
                                            "\\x7f",    "\\x81",    "\xc5\xb8", "\xe2\x82\xac",
                                            "\xc2\xa0", "\xc3\xbf", "\"",       "\\",
                                            " ",        "~"};
    QTest::newRow("tsv")
        << u"tsv"_s << QByteArray("\x00\x09\x0a\x0d\x1f\x7f\x81\x80\xff\"\\ ", 12)
        << QByteArrayList{QByteArray(1, '\0'), "\\t",          "\\n",      "\\r", "\x1f", "\x7f",
                          "\xc2\x81",          "\xe2\x82\xac", "\xc3\xbf", "\"",  "\\\\", " "};
    QTest::newRow("json") << u"json"_s
                          << QByteArray("\x00\x08\x0c\x09\x0a\x0d\x1f\x7f\x81\x80\"\\/ ", 14)
                          << QByteArrayList{
                                 "\\u0000", "\\b",     "\\f",  "\\t",      "\\n",
                                 "\\r",     "\\u001f", "\x7f", "\xc2\x81", "\xe2\x82\xac",
                                 "\\\"",    "\\\\",    "/",    " "};
}

// Items are written eight bytes at a time where no byte needs an escape: each awkward byte at
// every place of items a little longer than eight and sixteen, in the middle and at the end,
// must still get its escape and nothing around it change.
void TestCli::escapeAtEveryPlace()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArrayList, escapes);
    QCOMPARE(escapes.size(), bytes.size());

    QList<Item> entries;
    QByteArrayList titles; // as the listing must show them
    for (qsizetype k = 0; k < bytes.size(); ++k) {
        for (const int length : {9, 16, 17, 23}) {
            for (int at = 0; at < length; ++at) {
                QByteArray title(length, 'a');
                title[at] = bytes[k];
                entries.append({title, "", "", ""});
                titles.append(QByteArray(at, 'a') + escapes[k] + QByteArray(length - at - 1, 'a'));
            }
        }
    }
    QVERIFY(makeEntries(entries));

    QByteArray expected;
    if (format == u"text") {
        for (const QByteArray& title : titles)
            expected += "Page Title:  " + title + "\nUsername:    \nURL Address: \n\n";
    } else if (format == u"tsv") {
        expected = "title\tusername\turl\n";
        for (const QByteArray& title : titles)
            expected += title + "\t\t\n";
    } else {
        QByteArrayList objects;
        for (const QByteArray& title : titles)
            objects.append("    {\n        \"title\": \"" + title +
                           "\",\n        \"url\": \"\",\n        \"username\": \"\"\n    }");
        expected = "[\n" + objects.join(",\n") + "\n]\n";
    }
    const Run r = list({u"--format"_s, format});
    QVERIFY2(r.exitCode == 0, r.describe().constData());
    QVERIFY2(r.out == expected, firstDifference(r.out, expected).constData());
}

// More cipher texts than the reader keeps from its check of the file: the rest of the file is
// read again as the listing goes out, and every entry must come out whole and in order, in the
// list and one at a time.
void TestCli::longList()
{
    QList<Item> items;
    for (int record = 1; record <= kLongListRecords; ++record)
        items.append(fullWidthItem(record));
    QVERIFY(makeEntries(items));

    for (const bool passwords : {false, true}) {
        QByteArray expected =
            passwords ? "title\tusername\turl\tpassword\n" : "title\tusername\turl\n";
        for (const Item& item : items) {
            expected += item.title + '\t' + item.userName + '\t' + item.url;
            if (passwords)
                expected += '\t' + item.password;
            expected += '\n';
        }
        QStringList options{u"--format"_s, u"tsv"_s};
        if (passwords)
            options << u"--show-passwords"_s;
        const Run r = list(options);
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QVERIFY2(r.out == expected, firstDifference(r.out, expected).constData());
    }
    for (const int number : {1, kLongListRecords - 100, kLongListRecords}) {
        const Item& item = items[number - 1];
        const Run r =
            cli({u"show"_s, QString::number(number), u"--format"_s, u"tsv"_s, u"--show-password"_s},
                kPassword + '\n');
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QCOMPARE(r.out, "title\tusername\turl\tpassword\n" + item.title + '\t' + item.userName +
                            '\t' + item.url + '\t' + item.password + '\n');
    }
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
    QByteArray longFile;
    for (int record = 1; record <= kLongListRecords; ++record)
        longFile += TestData::linkRecord(fullWidthItem(record), kPassword);
    QTest::newRow("a late record of a long list damaged")
        << true << master << file
        << withBytes(longFile, (kLongListRecords - 51) * kLinkRecordSize + kTitleFieldWidth, "x")
        << right << u"record %1 is damaged"_s.arg(kLongListRecords - 50);
    QTest::newRow("link file is a directory")
        << true << master << int(LinkFile::Directory) << QByteArray() << right
        << u"cannot read the link file"_s;
    // Opened the usual way, a pipe would keep the command waiting for a writer.
    QTest::newRow("link file is a pipe") << true << master << int(LinkFile::Pipe) << QByteArray()
                                         << right << u"not a regular file"_s;
    QTest::newRow("QuiFil.ini is a pipe")
        << false << QByteArray() << file << three << right << u"QuiFil.ini: not a regular file"_s;
    // Half of the pair may be new and half old: nothing is listed until the program finishes it.
    QTest::newRow("a password change left half done")
        << true << master << file << three << right
        << u"was interrupted; start quillor once to finish it"_s;
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
    if (QByteArray(QTest::currentDataTag()) == "a password change left half done")
        QVERIFY(TestData::writeFile(dataDir() + u"/QuiPair.commit"_s, {}));
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
    QTest::newRow("unknown command") << QStringList{u"frobnicate"_s};
    QTest::newRow("show without a number") << QStringList{u"show"_s};
    QTest::newRow("show two numbers") << QStringList{u"show"_s, u"1"_s, u"2"_s};
    QTest::newRow("show 0") << QStringList{u"show"_s, u"0"_s};
    QTest::newRow("show -1") << QStringList{u"show"_s, u"-1"_s};
    QTest::newRow("show x") << QStringList{u"show"_s, u"x"_s};
    QTest::newRow("show +1") << QStringList{u"show"_s, u"+1"_s};
    QTest::newRow("list's option for show")
        << QStringList{u"show"_s, u"1"_s, u"--show-passwords"_s};
    QTest::newRow("add with an argument") << QStringList{u"add"_s, u"title"_s};
    QTest::newRow("add, option without its value") << QStringList{u"add"_s, u"--title"_s};
    QTest::newRow("edit without a number") << QStringList{u"edit"_s, u"--title"_s, u"x"_s};
    QTest::newRow("edit without a change") << QStringList{u"edit"_s, u"1"_s};
    QTest::newRow("rm without a number") << QStringList{u"rm"_s};
    QTest::newRow("rm 1 x") << QStringList{u"rm"_s, u"1"_s, u"x"_s};
    QTest::newRow("mv one number") << QStringList{u"mv"_s, u"1"_s};
    QTest::newRow("mv three numbers") << QStringList{u"mv"_s, u"1"_s, u"2"_s, u"3"_s};
    QTest::newRow("passwd with an argument") << QStringList{u"passwd"_s, u"new"_s};
    QTest::newRow("export without -o") << QStringList{u"export"_s, u"--format"_s, u"json"_s};
    QTest::newRow("export without a format") << QStringList{u"export"_s, u"-o"_s, u"-"_s};
    QTest::newRow("export as xml")
        << QStringList{u"export"_s, u"--format"_s, u"xml"_s, u"-o"_s, u"-"_s};
    QTest::newRow("import without a file") << QStringList{u"import"_s, u"--format"_s, u"chrome"_s};
    QTest::newRow("import without a format") << QStringList{u"import"_s, u"x.csv"_s};
    QTest::newRow("import of another format")
        << QStringList{u"import"_s, u"x.csv"_s, u"--format"_s, u"json"_s};
    QTest::newRow("import from standard input")
        << QStringList{u"import"_s, u"-"_s, u"--format"_s, u"chrome"_s};
    QTest::newRow("salvage without -o") << QStringList{u"salvage"_s};
    QTest::newRow("salvage to standard output") << QStringList{u"salvage"_s, u"-o"_s, u"-"_s};
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

void TestCli::closedOutput_data()
{
    QTest::addColumn<int>("readFirst"); // bytes the reader takes before it closes its end

    QTest::newRow("closed before the first byte") << 0;
    // As `quillor-cli list | head -1` does.
    QTest::newRow("closed after the first line") << 13;
}

// A reader that stops reading: the command ends with the message and its failure status, neither
// killed by SIGPIPE part-way nor reporting success for a listing that did not get out whole.
void TestCli::closedOutput()
{
    QFETCH(int, readFirst);
    // Far more than a pipe holds, so that the command is still writing when the reader goes.
    QList<Item> entries;
    for (int i = 0; i < 300; ++i)
        entries.append({"Entry " + QByteArray::number(i),
                        "https://example.com/" + QByteArray(1800, 'p'), "user", "pw"});
    QVERIFY(makeEntries(entries));

    int out[2];
    QCOMPARE(::pipe2(out, O_CLOEXEC), 0);
    const auto closeOut = qScopeGuard([&out] {
        for (int& fd : out) {
            if (fd >= 0)
                ::close(fd);
        }
    });
    QProcess process;
    process.setProcessEnvironment(m_env);
    process.setStandardOutputFile(u"/proc/self/fd/"_s + QString::number(out[1]));
    process.start(kCli, {u"--data-dir"_s, dataDir(), u"list"_s});
    QVERIFY(process.waitForStarted());
    const auto stop = qScopeGuard([&process] {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    });
    ::close(out[1]);
    out[1] = -1;
    if (readFirst == 0) {
        ::close(out[0]);
        out[0] = -1;
    }
    process.write(kPassword + '\n');
    QVERIFY(process.waitForBytesWritten());
    process.closeWriteChannel();
    if (readFirst > 0) {
        QByteArray first(readFirst, '\0');
        pollfd ready{out[0], POLLIN, 0};
        QVERIFY2(::poll(&ready, 1, 60'000) == 1, "no listing");
        QCOMPARE(::read(out[0], first.data(), std::size_t(first.size())), ssize_t(readFirst));
        QCOMPARE(first, QByteArray("Page Title:  "));
        ::close(out[0]);
        out[0] = -1;
    }
    QVERIFY(process.waitForFinished(120'000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    QCOMPARE(process.readAllStandardError(),
             QByteArray("quillor-cli: standard output was closed before the listing ended\n"));
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
        // A sanitizer's shadow memory spans terabytes, which no read could hold; the heap and
        // the stack are far smaller.
        if (to - from > qint64(1) << 30 || !memory.seek(from))
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

void TestCli::help_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("usage"); // how the text begins

    const QByteArray global = "usage: quillor-cli [--data-dir DIR] COMMAND";
    QTest::newRow("--help") << QStringList{u"--help"_s} << global;
    QTest::newRow("-h") << QStringList{u"-h"_s} << global;
    for (const char* command :
         {"list", "show", "add", "edit", "rm", "mv", "passwd", "export", "import", "salvage"}) {
        const QByteArray usage = "usage: quillor-cli [--data-dir DIR] " + QByteArray(command);
        QTest::addRow("%s --help", command)
            << QStringList{QString::fromLatin1(command), u"--help"_s} << usage;
        QTest::addRow("--help %s", command)
            << QStringList{u"--help"_s, QString::fromLatin1(command)} << usage;
        // Help wins over a mistake beside it: it is what the user needs then.
        QTest::addRow("%s -h --bad", command)
            << QStringList{QString::fromLatin1(command), u"-h"_s, u"--bad"_s} << usage;
    }
}

// Help needs no master password and no data directory.
void TestCli::help()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, usage);
    const Run r = run(args, {});
    QVERIFY2(r.exitCode == 0, r.describe().constData());
    QVERIFY2(r.out.startsWith(usage), r.out.constData());
    QCOMPARE(r.err, QByteArray());

    const Run version = run({u"--version"_s}, {});
    QCOMPARE(version.exitCode, 0);
    QVERIFY2(QRegularExpression(u"^quillor-cli \\d+\\.\\d+\\.\\d+\n$"_s)
                 .match(QString::fromUtf8(version.out))
                 .hasMatch(),
             version.out.constData());
}

void TestCli::show_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");

    QTest::newRow("first") << QStringList{u"show"_s, u"1"_s} << 0
                           << QByteArray("Page Title:  Example\n"
                                         "Username:    alice\n"
                                         "URL Address: https://example.com/login\n\n")
                           << QByteArray();
    QTest::newRow("last, with its password")
        << QStringList{u"show"_s, u"3"_s, u"--show-password"_s} << 0
        << QByteArray("Page Title:  Bank\n"
                      "Username:    bob smith\n"
                      "URL Address: https://bank.example\n"
                      "Password:    p\\w\\x09d\\x0d\n\n")
        << QByteArray();
    QTest::newRow("tsv") << QStringList{u"show"_s, u"--format"_s, u"tsv"_s, u"2"_s} << 0
                         << QByteArray("title\tusername\turl\n"
                                       "A\\tB\\nC\\\\D\t\thttp://b.example/?q=1\n")
                         << QByteArray();
    QTest::newRow("past the end") << QStringList{u"show"_s, u"4"_s} << 1 << QByteArray()
                                  << QByteArray(
                                         "quillor-cli: there is no entry 4: the list holds 3\n");
}

void TestCli::show()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);

    QVERIFY(makeEntries(kEntries));
    const Run r = cli(args, kPassword + '\n');
    QVERIFY2(r.exitCode == exitCode, r.describe().constData());
    QCOMPARE(r.out, out);
    QCOMPARE(r.err, err);

    // JSON gives the entry as one object.
    const Run json =
        cli({u"show"_s, u"1"_s, u"--format"_s, u"json"_s, u"--show-password"_s}, kPassword + '\n');
    QCOMPARE(json.exitCode, 0);
    const QByteArray object = R"({"title": "Example", "username": "alice",
        "url": "https://example.com/login", "password": "s3cret"})";
    QCOMPARE(QJsonDocument::fromJson(json.out), QJsonDocument::fromJson(object));
}

void TestCli::writes_data()
{
    QTest::addColumn<QList<Item>>("before");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("input"); // standard input after the master password's line
    QTest::addColumn<QList<Item>>("after");
    QTest::addColumn<QList<int>>("sameRecords"); // whose bytes the command must not touch

    const QList<Item> none;
    const Item e1 = kEntries[0];
    const Item e2 = kEntries[1];
    const Item e3 = kEntries[2];
    const Item mail{"Mail", "https://mail.example", "ann", "pw"};
    const QStringList addMail = {
        u"add"_s,        u"--title"_s, u"Mail"_s, u"--url"_s, u"https://mail.example"_s,
        u"--username"_s, u"ann"_s};

    QTest::newRow("add to no link file")
        << none << addMail << QByteArray("pw\n") << QList<Item>{mail} << QList<int>{};
    QTest::newRow("add at the end") << kEntries << addMail << QByteArray("pw\n")
                                    << QList<Item>{e1, e2, e3, mail} << QList<int>{1, 2, 3};
    QTest::newRow("add, line ends CR LF") << kEntries << addMail << QByteArray("pw\r\n")
                                          << QList<Item>{e1, e2, e3, mail} << QList<int>{1, 2, 3};
    // As the Enter Items window trims its boxes.
    QTest::newRow("add trims blanks") << none << QStringList{u"add"_s,
                                                             u"--title"_s,
                                                             u"  Mail "_s,
                                                             u"--url"_s,
                                                             u" https://mail.example"_s,
                                                             u"--username"_s,
                                                             u"ann  "_s}
                                      << QByteArray("  pw \n") << QList<Item>{mail} << QList<int>{};
    QTest::newRow("add, items left out are empty")
        << none << QStringList{u"add"_s, u"--title"_s, u"Only a title"_s} << QByteArray("\n")
        << QList<Item>{{"Only a title", "", "", ""}} << QList<int>{};
    QTest::newRow("add Windows-1252 text")
        << none << QStringList{u"add"_s, u"--title"_s, u"Café €"_s, u"--username"_s, u"Straße"_s}
        << QByteArray("\xc2\xbd\xc3\xa6\n")
        << QList<Item>{{"Caf\xe9 \x80", "",
                        "Stra\xdf"
                        "e",
                        "\xbd\xe6"}}
        << QList<int>{};
    QTest::newRow("add at the limits of the boxes")
        << none
        << QStringList{u"add"_s,
                       u"--title"_s,
                       QString(kShortItemLength, u't'),
                       u"--url"_s,
                       QString(kUrlLength, u'u'),
                       u"--username"_s,
                       QString(kShortItemLength, u'n')}
        << QByteArray(kShortItemLength, 'p') + '\n'
        << QList<Item>{{QByteArray(kShortItemLength, 't'), QByteArray(kUrlLength, 'u'),
                        QByteArray(kShortItemLength, 'n'), QByteArray(kShortItemLength, 'p')}}
        << QList<int>{};

    QTest::newRow("edit the title")
        << kEntries << QStringList{u"edit"_s, u"2"_s, u"--title"_s, u"New"_s} << QByteArray()
        << QList<Item>{e1, {"New", e2.url, e2.userName, e2.password}, e3} << QList<int>{1, 3};
    // The password is left as it was: decrypted and encrypted again, it is the same bytes.
    QTest::newRow("edit the last, password kept")
        << kEntries
        << QStringList{u"edit"_s,       u"3"_s,      u"--url"_s, u"https://new.example"_s,
                       u"--username"_s, u" carol "_s}
        << QByteArray()
        << QList<Item>{e1, e2, {e3.title, "https://new.example", "carol", e3.password}}
        << QList<int>{1, 2};
    QTest::newRow("edit clears an item")
        << kEntries << QStringList{u"edit"_s, u"1"_s, u"--url"_s, QString()} << QByteArray()
        << QList<Item>{{e1.title, "", e1.userName, e1.password}, e2, e3} << QList<int>{2, 3};
    QTest::newRow("edit the password")
        << kEntries << QStringList{u"edit"_s, u"1"_s, u"--password"_s} << QByteArray("n\xc3\xa9w\n")
        << QList<Item>{{e1.title, e1.url, e1.userName, "n\xe9w"}, e2, e3} << QList<int>{2, 3};
    QTest::newRow("edit to an empty password")
        << kEntries << QStringList{u"edit"_s, u"3"_s, u"--password"_s} << QByteArray("\n")
        << QList<Item>{e1, e2, {e3.title, e3.url, e3.userName, ""}} << QList<int>{1, 2};

    QTest::newRow("rm the middle") << kEntries << QStringList{u"rm"_s, u"2"_s} << QByteArray()
                                   << QList<Item>{e1, e3} << QList<int>{1};
    QTest::newRow("rm two, in any order") << kEntries << QStringList{u"rm"_s, u"3"_s, u"1"_s}
                                          << QByteArray() << QList<Item>{e2} << QList<int>{};
    QTest::newRow("rm a number twice") << kEntries << QStringList{u"rm"_s, u"2"_s, u"2"_s}
                                       << QByteArray() << QList<Item>{e1, e3} << QList<int>{1};
    QTest::newRow("rm every entry") << kEntries << QStringList{u"rm"_s, u"1"_s, u"2"_s, u"3"_s}
                                    << QByteArray() << none << QList<int>{};

    QTest::newRow("mv to the bottom") << kEntries << QStringList{u"mv"_s, u"1"_s, u"3"_s}
                                      << QByteArray() << QList<Item>{e2, e3, e1} << QList<int>{};
    QTest::newRow("mv to the top") << kEntries << QStringList{u"mv"_s, u"3"_s, u"1"_s}
                                   << QByteArray() << QList<Item>{e3, e1, e2} << QList<int>{};
    QTest::newRow("mv down one") << kEntries << QStringList{u"mv"_s, u"1"_s, u"2"_s} << QByteArray()
                                 << QList<Item>{e2, e1, e3} << QList<int>{3};
    QTest::newRow("mv to its own place") << kEntries << QStringList{u"mv"_s, u"2"_s, u"2"_s}
                                         << QByteArray() << kEntries << QList<int>{1, 2, 3};
}

// Each command, read back with the program's own loader: the entries, their order, the records
// it must leave alone, and nothing left behind but the two data files.
void TestCli::writes()
{
    QFETCH(QList<Item>, before);
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    QFETCH(QList<Item>, after);
    QFETCH(QList<int>, sameRecords);
    m_writes = true;

    QVERIFY(makeEntries(before));
    const QByteArray old = TestData::readFile(linkFilePath());
    const Run r = cli(args, kPassword + '\n' + input);
    QVERIFY2(r.exitCode == 0, r.describe().constData());
    QCOMPARE(r.out, QByteArray());
    QCOMPARE(r.err, QByteArray());

    QCOMPARE(readBack(linkFilePath(), kPassword), rows(after));
    QStringList files{u"QuiFil.ini"_s};
    const QByteArray now = TestData::readFile(linkFilePath());
    if (!after.isEmpty()) {
        files << u"QuiURL.dab"_s;
        // Whatever mode it had, a file written is its owner's alone.
        if (now != old)
            QCOMPARE(TestData::permissionsOf(linkFilePath()), 0600);
    }
    QCOMPARE(TestData::entriesOf(dataDir()), files);
    for (int n : sameRecords)
        QVERIFY2(now.mid((n - 1) * kLinkRecordSize, kLinkRecordSize) ==
                     old.mid((n - 1) * kLinkRecordSize, kLinkRecordSize),
                 qPrintable(u"record %1 changed"_s.arg(n)));
}

void TestCli::writeRefusals_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("damaged"); // record 2 of the link file cannot be read
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message"); // a part of standard error

    const QByteArray right = kPassword + '\n';
    const QString damage = u"record 2 is damaged; nothing is changed while a record cannot be "
                           "read (\"quillor-cli salvage\" copies the readable ones)"_s;

    // The row and the column of the character: the option, and the place in its text.
    QTest::newRow("title outside Windows-1252")
        << QStringList{u"add"_s, u"--title"_s, u"AЖB"_s} << right + "pw\n"
        << false << 1
        << u"quillor-cli: --title: \"Ж\" (character 2) cannot be stored: the files hold "
           "Windows-1252 text only\n"_s;
    QTest::newRow("user name with a character of two halves")
        << QStringList{u"add"_s, u"--username"_s, u"a😀b"_s} << right + "pw\n"
        << false << 1 << u"--username: \"😀\" (character 2) cannot be stored"_s;
    QTest::newRow("URL of 401 characters")
        << QStringList{u"add"_s, u"--url"_s, QString(kUrlLength + 1, u'u')} << right + "pw\n"
        << false << 1 << u"--url: 401 characters, at most 400 fit"_s;
    QTest::newRow("title of 97 characters")
        << QStringList{u"edit"_s, u"1"_s, u"--title"_s, QString(kShortItemLength + 1, u't')}
        << right << false << 1 << u"--title: 97 characters, at most 96 fit"_s;
    QTest::newRow("password outside Windows-1252")
        << QStringList{u"add"_s} << right + "p\xce\xa9\n"
        << false << 1 << u"the entry's password: \"Ω\" (character 2) cannot be stored"_s;
    QTest::newRow("password of 97 characters")
        << QStringList{u"edit"_s, u"2"_s, u"--password"_s} << right + QByteArray(97, 'p') + '\n'
        << false << 1 << u"the entry's password: 97 characters, at most 96 fit"_s;
    QTest::newRow("no line for the password")
        << QStringList{u"add"_s, u"--title"_s, u"T"_s} << right << false << 1
        << u"no password for the entry on standard input"_s;
    QTest::newRow("wrong master password")
        << QStringList{u"add"_s} << QByteArray("pomelo\npw\n") << false << 1
        << u"quillor-cli: wrong master password\n"_s;
    QTest::newRow("edit past the end")
        << QStringList{u"edit"_s, u"4"_s, u"--title"_s, u"x"_s} << right << false << 1
        << u"there is no entry 4: the list holds 3"_s;
    QTest::newRow("rm past the end, with one in the list")
        << QStringList{u"rm"_s, u"1"_s, u"4"_s} << right << false << 1
        << u"there is no entry 4: the list holds 3 (nothing was changed)"_s;
    QTest::newRow("mv past the end")
        << QStringList{u"mv"_s, u"1"_s, u"9"_s} << right << false << 1 << u"there is no entry 9"_s;
    QTest::newRow("rm 0") << QStringList{u"rm"_s, u"0"_s} << right << false << 2
                          << u"not an entry number: 0"_s;
    // While the list stops at a damaged record, writing it would lose the entries after it.
    QTest::newRow("add, damaged") << QStringList{u"add"_s} << right + "pw\n" << true << 1 << damage;
    QTest::newRow("edit, damaged")
        << QStringList{u"edit"_s, u"1"_s, u"--title"_s, u"x"_s} << right << true << 1 << damage;
    QTest::newRow("rm, damaged") << QStringList{u"rm"_s, u"1"_s} << right << true << 1 << damage;
    QTest::newRow("mv, damaged") << QStringList{u"mv"_s, u"1"_s, u"2"_s} << right << true << 1
                                 << damage;
    QTest::newRow("passwd, damaged") << QStringList{u"passwd"_s} << right + "new\nnew\n"
                                     << true << 1 << damage;
}

// A refused command leaves the data directory as it was: no lock, no temporary file.
void TestCli::writeRefusals()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    QFETCH(bool, damaged);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    m_writes = true;

    QByteArray link = TestData::linkFile(kEntries, kPassword);
    if (damaged)
        link = withBytes(link, kLinkRecordSize, "0000000x4");
    QVERIFY(
        makeDataDir(dataDir(), TestData::masterPasswordRecord(kPassword), LinkFile::Bytes, link));
    const auto before = filesIn(dataDir());
    const Run r = cli(args, input);
    QVERIFY2(r.exitCode == exitCode, r.describe().constData());
    QCOMPARE(r.out, QByteArray());
    QVERIFY2(QString::fromUtf8(r.err).contains(message), r.err.constData());
    QVERIFY2(r.err.startsWith("quillor-cli: "), r.err.constData());
    QCOMPARE(filesIn(dataDir()), before);
}

void TestCli::passwd_data()
{
    QTest::addColumn<QByteArray>("input"); // the whole of standard input
    QTest::addColumn<bool>("autoEnter");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");      // a part of standard error
    QTest::addColumn<QByteArray>("newMaster"); // as the files hold it

    QTest::newRow("new password") << QByteArray("Pomelo\nQuince 2\nQuince 2\n") << false << 0
                                  << QString() << QByteArray("Quince 2");
    QTest::newRow("blanks and CR LF, as the password box trims them")
        << QByteArray(" Pomelo\r\n  Quince 2 \r\nQuince 2\n") << false << 0 << QString()
        << QByteArray("Quince 2");
    QTest::newRow("Windows-1252 password")
        << QByteArray("Pomelo\nN\xc3\xa9\xe2\x82\xac\nN\xc3\xa9\xe2\x82\xac\n") << false << 0
        << QString() << QByteArray("N\xe9\x80");
    QTest::newRow("96 characters") << "Pomelo\n" + QByteArray(96, 'q') + '\n' + QByteArray(96, 'q')
                                   << false << 0 << QString() << QByteArray(96, 'q');
    // Auto-enter would type the old password at the next start and count it as a wrong one.
    QTest::newRow("auto-enter gets the new password")
        << QByteArray("Pomelo\nQuince 2\nQuince 2\n") << true << 0 << QString()
        << QByteArray("Quince 2");

    QTest::newRow("the two differ")
        << QByteArray("Pomelo\nQuince 2\nQuince 3\n") << true << 1
        << u"the two new passwords differ (nothing was changed)"_s << QByteArray();
    QTest::newRow("given once") << QByteArray("Pomelo\nQuince 2\n") << true << 1
                                << u"the new password must be given twice"_s << QByteArray();
    QTest::newRow("not given") << QByteArray("Pomelo\n") << false << 1
                               << u"the new password must be given twice"_s << QByteArray();
    QTest::newRow("outside Windows-1252")
        << QByteArray("Pomelo\nQu\xce\xa9\nQu\xce\xa9\n") << false << 1
        << u"the new password: \"Ω\" (character 3) cannot be stored"_s << QByteArray();
    QTest::newRow("97 characters")
        << "Pomelo\n" + QByteArray(97, 'q') + '\n' + QByteArray(97, 'q') << false << 1
        << u"the new password: 97 characters, at most 96 fit"_s << QByteArray();
    QTest::newRow("wrong current password")
        << QByteArray("Pomelo!\nQuince 2\nQuince 2\n") << true << 1
        << u"quillor-cli: wrong master password\n"_s << QByteArray();
}

// The pair is read back under the new password; the copies kept for an undo, under the old one,
// are gone; the settings follow. A refusal changes nothing at all.
void TestCli::passwd()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, autoEnter);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QFETCH(QByteArray, newMaster);
    m_writes = true;

    QVERIFY(makeEntries(kEntries));
    const QString undo = dataDir() + u'/' + kUndoDirectory;
    QVERIFY(makeDataDir(undo, TestData::masterPasswordRecord(kPassword), LinkFile::Bytes,
                        TestData::linkFile({kEntries[0]}, kPassword)));
    const QString backUp = m_tmp->filePath(u"backup"_s);
    QVERIFY(makeDataDir(backUp, TestData::masterPasswordRecord(kPassword), LinkFile::Absent));
    Settings settings;
    settings.autoEnter = autoEnter ? 1 : 0;
    settings.autoEnterPassword = autoEnter ? u"Pomelo"_s : Settings::kNoAutoEnterPassword;
    settings.backupDirectory = backUp;
    settings.messageSuppression[6] = u'1';
    const QString settingsPath = dataDir() + u"/QuiSetts.ini"_s;
    QVERIFY(TestData::writeFile(settingsPath, SettingsRecord::encode(settings)));
    const auto before = filesIn(dataDir());

    const Run r = cli({u"passwd"_s}, input);
    QVERIFY2(r.exitCode == exitCode, r.describe().constData());
    QCOMPARE(r.out, QByteArray());
    if (exitCode != 0) {
        QVERIFY2(QString::fromUtf8(r.err).contains(message), r.err.constData());
        QCOMPARE(filesIn(dataDir()), before);
        return;
    }
    // The back-up pair is the windows' to offer to change; the command says it stays as it is.
    QCOMPARE(r.err, u"quillor-cli: the back-up files in %1 are still under the old password\n"_s
                        .arg(backUp)
                        .toUtf8());
    CipherService cipher;
    QCOMPARE(MasterPasswordFile::check(dataDir() + u"/QuiFil.ini"_s, newMaster, cipher).outcome,
             MasterPasswordFile::Outcome::Right);
    QCOMPARE(readBack(linkFilePath(), newMaster), rows(kEntries));
    QCOMPARE(TestData::entriesOf(undo), QStringList());
    QCOMPARE(TestData::entriesOf(dataDir()),
             (QStringList{u"QuiFil.ini"_s, u"QuiSetts.ini"_s, u"QuiURL.dab"_s, u"UnDo"_s}));
    if (!autoEnter) {
        QCOMPARE(TestData::readFile(settingsPath), before.value(u"QuiSetts.ini"_s));
        return;
    }
    const SettingsRead read = readSettingsFile(settingsPath);
    QVERIFY(read.settings);
    QCOMPARE(read.settings->autoEnterPassword, Windows1252::toUnicode(newMaster));
    QCOMPARE(read.settings->backupDirectory, backUp);
    QCOMPARE(read.settings->messageSuppression, settings.messageSuppression);
}

void TestCli::lockedDataDirectory_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("writes");

    const QByteArray right = kPassword + '\n';
    QTest::newRow("add") << QStringList{u"add"_s, u"--title"_s, u"T"_s} << right + "pw\n" << true;
    QTest::newRow("edit") << QStringList{u"edit"_s, u"1"_s, u"--title"_s, u"T"_s} << right << true;
    QTest::newRow("rm") << QStringList{u"rm"_s, u"1"_s} << right << true;
    QTest::newRow("mv") << QStringList{u"mv"_s, u"1"_s, u"2"_s} << right << true;
    QTest::newRow("passwd") << QStringList{u"passwd"_s} << right + "new\nnew\n" << true;
    QTest::newRow("import") << QStringList{u"import"_s, u"in.csv"_s, u"--format"_s, u"chrome"_s}
                            << right << true;
    // Reading needs no lock.
    QTest::newRow("list") << QStringList{u"list"_s} << right << false;
    QTest::newRow("show") << QStringList{u"show"_s, u"1"_s} << right << false;
    QTest::newRow("export") << QStringList{u"export"_s, u"--format"_s, u"json"_s, u"-o"_s, u"-"_s}
                            << right << false;
    QTest::newRow("import, dry run")
        << QStringList{u"import"_s, u"in.csv"_s, u"--format"_s, u"chrome"_s, u"--dry-run"_s}
        << right << false;
}

// The program's own start-up holds the lock, on the data directory both find by default.
void TestCli::lockedDataDirectory()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    QFETCH(bool, writes);
    m_writes = true;

    StartupEnvironment env = StartupEnvironment::current(QStringLiteral(QUILLOR_BUILD_DIR));
    env.profileDirectory = m_tmp->filePath(u"profile"_s);
    AppState state;
    std::optional<StartupOutcome> program = runStartup(env, state);
    QCOMPARE(program->status, StartupOutcome::Status::Started);
    const QString dir = dataDirectoryFor(env.profileDirectory);
    QVERIFY(TestData::writeFile(dir + u"/QuiURL.dab"_s, TestData::linkFile(kEntries, kPassword)));
    QVERIFY(TestData::writeFile(m_tmp->filePath(u"in.csv"_s),
                                "name,url,username,password\nMail,https://mail.example,ann,pw\n"));
    const auto before = filesIn(dir);
    const auto inRoot = [this](QProcess& process) {
        process.setWorkingDirectory(root());
    };

    const Run locked = run(args, input, inRoot);
    if (!writes) {
        QVERIFY2(locked.exitCode == 0, locked.describe().constData());
        QCOMPARE(filesIn(dir), before);
        return;
    }
    QVERIFY2(locked.exitCode == 1, locked.describe().constData());
    QCOMPARE(locked.out, QByteArray());
    QCOMPARE(
        QString::fromUtf8(locked.err),
        u"quillor-cli: quillor has %1 open; close it first (nothing was changed)\n"_s.arg(dir));
    QCOMPARE(filesIn(dir), before);

    program.reset();
    const Run closed = run(args, input, inRoot);
    QVERIFY2(closed.exitCode == 0, closed.describe().constData());
    QVERIFY(!QFileInfo::exists(InstanceLock::pathFor(dir)));
}

void TestCli::writeFailures_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("limit"); // the largest file the command may write, in bytes

    const QByteArray right = kPassword + '\n';
    // The link file holds three records: 10,752 bytes.
    QTest::newRow("add") << QStringList{u"add"_s} << right + "pw\n" << 11'000;
    QTest::newRow("edit") << QStringList{u"edit"_s, u"1"_s, u"--title"_s, u"T"_s} << right << 5'000;
    QTest::newRow("rm") << QStringList{u"rm"_s, u"1"_s} << right << 5'000;
    QTest::newRow("mv") << QStringList{u"mv"_s, u"1"_s, u"3"_s} << right << 5'000;
    QTest::newRow("passwd") << QStringList{u"passwd"_s} << right + "new\nnew\n" << 5'000;
    QTest::newRow("import") << QStringList{u"import"_s, u"in.csv"_s, u"--format"_s, u"chrome"_s}
                            << right << 5'000;
    QTest::newRow("export") << QStringList{u"export"_s, u"--format"_s, u"keepassxc"_s, u"-o"_s,
                                           u"out.csv"_s}
                            << right << 200;
    QTest::newRow("salvage") << QStringList{u"salvage"_s, u"-o"_s, u"out.csv"_s} << right << 5'000;
}

// A full disk, as a file-size limit: the command fails, says so, and leaves every file as it was,
// the one it was to replace included.
void TestCli::writeFailures()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    QFETCH(int, limit);
    m_writes = true;

    QVERIFY(makeEntries(kEntries));
    QVERIFY(TestData::writeFile(m_tmp->filePath(u"in.csv"_s),
                                "name,url,username,password\nMail,https://mail.example,ann,pw\n"));
    QVERIFY(TestData::writeFile(m_tmp->filePath(u"out.csv"_s), "the previous file"));
    const auto before = filesIn(root());

    const Run r = run(QStringList{u"--data-dir"_s, dataDir()} + args, input,
                      [this, limit](QProcess& process) {
                          process.setWorkingDirectory(root());
                          process.setChildProcessModifier([limit] {
                              rlimit fileSize{rlim_t(limit), rlim_t(limit)};
                              ::setrlimit(RLIMIT_FSIZE, &fileSize);
                          });
                      });
    QVERIFY2(r.exitCode == 1, r.describe().constData());
    QVERIFY2(r.err.startsWith("quillor-cli: ") && r.err.contains("File too large"),
             r.err.constData());
    QCOMPARE(filesIn(root()), before);
}

void TestCli::import_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QList<Item>>("added");
    QTest::addColumn<QStringList>("messages"); // standard error holds each, in this order

    const QList<Item> none;
    const Item mail{"Mail", "https://mail.example", "ann", "pw"};

    // KeePassXC quotes every field and ends lines with LF.
    QTest::newRow("keepassxc")
        << u"keepassxc"_s
        << QByteArray(
               R"("Group","Title","Username","Password","URL","Notes","TOTP","Icon","Last Modified","Created"
"Root/Mail","Mail","ann","pw","https://mail.example","","","0","2022-10-13T12:05:53Z","2022-10-13T12:05:53Z"
"Корінь","Bank, Inc.","bob ""b""","p,w""d","https://bank.example","a note
over two lines","otpauth://totp/x?secret=A","0","",""
)") << 0 << QList<Item>{mail, {"Bank, Inc.", "https://bank.example", "bob \"b\"", "p,w\"d"}}
        << QStringList{u"export.csv: not kept, Quillor has no place for them: Notes (line 3), "
                       "TOTP (line 3)"_s};
    QTest::newRow("keepassxc before 2.7, blanks trimmed but in passwords")
        << u"keepassxc"_s
        << QByteArray("\"Group\",\"Title\",\"Username\",\"Password\",\"URL\",\"Notes\"\n"
                      "\"Root\",\"home dir \",\" ann\",\" p w \",\"ftp://host \",\"\"\n")
        << 0 << QList<Item>{{"home dir", "ftp://host", "ann", " p w "}} << QStringList();
    QTest::newRow("keepassxc columns found by name, BOM and CRLF")
        << u"keepassxc"_s
        << QByteArray("\xef\xbb\xbf\"URL\",\"Password\",\"Username\",\"Title\"\r\n"
                      "\"https://mail.example\",\"pw\",\"ann\",\"Mail\"\r\n")
        << 0 << QList<Item>{mail} << QStringList();
    // Bitwarden quotes only where needed, ends lines with CRLF, and keeps notes beside logins.
    QTest::newRow("bitwarden")
        << u"bitwarden"_s
        << QByteArray("folder,favorite,type,name,notes,fields,reprompt,login_uri,login_username,"
                      "login_password,login_totp\r\n"
                      "Work,1,login,Mail,,\"f1: a\nf2: b\",0,https://mail.example,ann,pw,\r\n"
                      ",,note,Secure note,the note,,0,,,,\r\n"
                      ",,login,\"Bank, Inc.\",,,0,\"https://a.example,https://b.example\",bob,"
                      "\"p,\"\"w\",\r\n")
        << 0
        << QList<Item>{mail, {"Bank, Inc.", "https://a.example,https://b.example", "bob", "p,\"w"}}
        << QStringList{u"export.csv:4: left out: \"Secure note\" is a note, not a login"_s,
                       u"not kept, Quillor has no place for them: fields (line 2)"_s};
    QTest::newRow("bitwarden organisation, no reprompt, no final line end")
        << u"bitwarden"_s
        << QByteArray("collections,type,name,notes,fields,login_uri,login_username,"
                      "login_password,login_totp\r\n"
                      "Team,login,Mail,,,https://mail.example,ann,pw,")
        << 0 << QList<Item>{mail} << QStringList();
    QTest::newRow("chrome") << u"chrome"_s
                            << QByteArray("name,url,username,password,note\r\n"
                                          "Mail,https://mail.example,ann,pw,\"a, \"\"note\"\"\r\n"
                                          "over lines\"\r\n")
                            << 0 << QList<Item>{mail} << QStringList{u"note (line 2)"_s};
    QTest::newRow("chrome before notes") << u"chrome"_s
                                         << QByteArray("name,url,username,password\n"
                                                       "Mail,https://mail.example,ann,pw\n")
                                         << 0 << QList<Item>{mail} << QStringList();
    // Older rows end before the note column that newer rows have.
    QTest::newRow("chrome, a short row")
        << u"chrome"_s
        << QByteArray("name,url,username,password,note\n"
                      "Mail,https://mail.example,ann,pw\n"
                      "Bank,https://bank.example,bob,pw2,\n")
        << 0 << QList<Item>{mail, {"Bank", "https://bank.example", "bob", "pw2"}} << QStringList();
    QTest::newRow("an empty row is an empty entry")
        << u"chrome"_s << QByteArray("name,url,username,password\n,,,\n") << 0
        << QList<Item>{{"", "", "", ""}} << QStringList();
    // Firefox gives no title: the address's host stands in. Its own account is no web login.
    QTest::newRow("firefox")
        << u"firefox"_s
        << QByteArray(
               R"("url","username","password","httpRealm","formActionOrigin","guid","timeCreated","timeLastUsed","timePasswordChanged")"
               "\r\n"
               R"("https://mail.example:8443","ann","pw",,"https://mail.example","{1}","1","2","3")"
               "\r\n"
               R"("chrome://FirefoxAccounts","uid","{""k"":1}","Firefox Accounts credentials",,"{2}","1","2","3")"
               "\r\n"
               R"("mastodon.social","me","",,"","{3}","1","2","3")")
        << 0
        << QList<Item>{{"mail.example", "https://mail.example:8443", "ann", "pw"},
                       {"mastodon.social", "mastodon.social", "me", ""}}
        << QStringList{u"export.csv:3: left out: chrome://FirefoxAccounts is Firefox's own "
                       "account, not a web login"_s};
    QTest::newRow("header only") << u"chrome"_s << QByteArray("name,url,username,password\n") << 0
                                 << none << QStringList();

    // All or nothing: every row that cannot be stored is named, by line and column.
    QTest::newRow("character outside Windows-1252")
        << u"chrome"_s
        << QByteArray("name,url,username,password\n"
                      "Mail,https://mail.example,ann,pw\n"
                      "Bank,https://bank.example,b\xd0\x96,pw\n")
        << 1 << none
        << QStringList{u"quillor-cli: export.csv:3: username (column 3): \"Ж\" (character 2) "
                       "cannot be stored: the files hold Windows-1252 text only\n"_s,
                       u"quillor-cli: nothing was imported: 1 row cannot be stored\n"_s};
    QTest::newRow("lines counted across a field of three lines")
        << u"keepassxc"_s
        << QByteArray("\"Title\",\"Username\",\"Password\",\"URL\",\"Notes\"\n"
                      "\"Mail\",\"ann\",\"pw\",\"https://mail.example\",\"1\n2\n3\"\n"
                      "\"Bank\",\"bob\",\"" +
                      QByteArray(97, 'p') +
                      "\",\"https://bank.example\",\"\"\n"
                      "\"Shop\",\"\xe2\x98\x83\",\"pw\",\"" +
                      QByteArray(401, 'u') + "\",\"\"\n")
        << 1 << none
        << QStringList{u"export.csv:5: Password (column 3): 97 characters, at most 96 fit"_s,
                       u"export.csv:6: Username (column 2): \"☃\" (character 1)"_s,
                       u"export.csv:6: URL (column 4): 401 characters, at most 400 fit"_s,
                       u"nothing was imported: 2 rows cannot be stored"_s};
    QTest::newRow("a row longer than the header")
        << u"firefox"_s
        << QByteArray("url,username,password,httpRealm\n"
                      "https://x.example,u,\"{\"k\":1}\",,extra\n")
        << 1 << none << QStringList{u"export.csv:2: field 3: text after its closing quote"_s};
    QTest::newRow("too many fields")
        << u"chrome"_s << QByteArray("name,url,username,password\nMail,u,ann,pw,more\n") << 1
        << none << QStringList{u"export.csv:2: 5 fields, where the header has 4"_s};
    QTest::newRow("a short row missing a password")
        << u"chrome"_s << QByteArray("name,url,username,password,note\nMail,u,ann\n") << 1 << none
        << QStringList{u"export.csv:2: 3 fields, where the header has 5"_s};
    QTest::newRow("quote never closed")
        << u"chrome"_s << QByteArray("name,url,username,password\nMail,u,ann,\"pw\nBank,u,b,p\n")
        << 1 << none << QStringList{u"export.csv:2: a quoted field is never closed"_s};
    QTest::newRow("bitwarden item without a type")
        << u"bitwarden"_s
        << QByteArray("type,name,login_uri,login_username,login_password\n,Mail,u,ann,pw\n") << 1
        << none << QStringList{u"export.csv:2: no type: a login or not?"_s};
    QTest::newRow("another manager's header")
        << u"keepassxc"_s << QByteArray("name,url,username,password\nMail,u,ann,pw\n") << 1 << none
        << QStringList{u"quillor-cli: export.csv:1: not a keepassxc export: the header has no "
                       "column Title (it looks like a chrome export: "
                       "--format chrome)\n"_s};
    QTest::newRow("a column named twice")
        << u"chrome"_s << QByteArray("name,url,username,password,URL\n") << 1 << none
        << QStringList{u"export.csv:1: not a header line: a column is named twice"_s};
    QTest::newRow("not UTF-8") << u"chrome"_s
                               << QByteArray("name,url,username,password\nCaf\xe9,u,ann,pw\n") << 1
                               << none << QStringList{u"export.csv: not UTF-8 text (line 2)"_s};
    QTest::newRow("empty file") << u"chrome"_s << QByteArray("\xef\xbb\xbf\r\n") << 1 << none
                                << QStringList{u"export.csv: empty"_s};
}

// Each export read as a dry run first, which changes nothing and takes no lock, then for real:
// the entries come after the ones already there, or nothing changes.
void TestCli::import()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, csv);
    QFETCH(int, exitCode);
    QFETCH(QList<Item>, added);
    QFETCH(QStringList, messages);
    m_writes = true;

    const QList<Item> existing = {{"Existing", "https://existing.example", "me", "mine"}};
    QVERIFY(makeEntries(existing));
    QVERIFY(TestData::writeFile(m_tmp->filePath(u"export.csv"_s), csv));
    const auto before = filesIn(dataDir());
    const QStringList args = {u"import"_s, u"export.csv"_s, u"--format"_s, format};

    const auto checkMessages = [&messages](const Run& r) {
        const QString err = QString::fromUtf8(r.err);
        qsizetype from = 0;
        for (const QString& message : messages) {
            const qsizetype at = err.indexOf(message, from);
            QVERIFY2(at >= 0, qPrintable(u"no \"%1\" in order in: %2"_s.arg(message, err)));
            from = at + message.size();
        }
    };

    const Run dry = cli(args + QStringList{u"--dry-run"_s}, kPassword + '\n');
    QVERIFY2(dry.exitCode == exitCode, dry.describe().constData());
    checkMessages(dry);
    QCOMPARE(filesIn(dataDir()), before);
    if (exitCode == 0) {
        const QByteArrayList lines = dry.out.split('\n');
        QCOMPARE(lines.size(), added.size() + 2);
        for (qsizetype i = 0; i < added.size(); ++i)
            QVERIFY2(lines[i].startsWith("line "), dry.out.constData());
        QCOMPARE(lines[added.size()], "would add " + entries(added.size()) + " to " +
                                          QFile::encodeName(dataDir()) +
                                          ", which holds 1 entry; nothing was changed");
    } else {
        QCOMPARE(dry.out, QByteArray());
    }

    const Run r = cli(args, kPassword + '\n');
    QVERIFY2(r.exitCode == exitCode, r.describe().constData());
    checkMessages(r);
    QCOMPARE(readBack(linkFilePath(), kPassword), rows(existing + added));
    if (exitCode != 0 || added.isEmpty())
        QCOMPARE(filesIn(dataDir()), before);
    if (exitCode == 0 && !added.isEmpty())
        QCOMPARE(r.out, "imported " + entries(added.size()) + " into " +
                            QFile::encodeName(dataDir()) + ", which now holds " +
                            entries(added.size() + 1) + '\n');
    QCOMPARE(TestData::entriesOf(dataDir()), (QStringList{u"QuiFil.ini"_s, u"QuiURL.dab"_s}));
}

void TestCli::exportRoundTrip_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("toStandardOutput");
    QTest::addColumn<QByteArray>("header");

    const QByteArray keepassxc =
        R"("Group","Title","Username","Password","URL","Notes","TOTP","Icon","Last Modified","Created")";
    const QByteArray bitwarden = "folder,favorite,type,name,notes,fields,reprompt,login_uri,"
                                 "login_username,login_password,login_totp";
    QTest::newRow("keepassxc") << u"keepassxc"_s << false << keepassxc;
    QTest::newRow("bitwarden") << u"bitwarden"_s << false << bitwarden;
    QTest::newRow("keepassxc, standard output") << u"keepassxc"_s << true << keepassxc;
    QTest::newRow("bitwarden, standard output") << u"bitwarden"_s << true << bitwarden;
    QTest::newRow("json") << u"json"_s << false << QByteArray("[");
}

// Exported, then imported into a data directory that holds no entry yet: the same entries, every
// byte of them, whatever the quoting had to carry. (Line breaks are exported too, but no import
// takes them: exportKeepsControlCharacters.)
void TestCli::exportRoundTrip()
{
    QFETCH(QString, format);
    QFETCH(bool, toStandardOutput);
    QFETCH(QByteArray, header);
    m_writes = true;

    const QList<Item> entries = {
        kEntries[0],
        {"A\tB\\C", "http://b.example/?q=1", "", ""},
        {"Bank", "https://bank.example", "bob smith", "p\\w\td\t"},
        {"Comma, \"quoted\"", "https://x.example/?a=1,b=2", "user,name", " pw with blanks "},
        {"Caf\xe9 \x80 \x81", "https://\xe9.example", "na\xefve", "\"\t,\""},
        {"=SUM(A1)", "", "", "'; --"},
        {"", "", "", ""},
    };
    QVERIFY(makeEntries(entries));
    const QString file = m_tmp->filePath(u"export"_s);
    const Run r =
        cli({u"export"_s, u"--format"_s, format, u"-o"_s, toStandardOutput ? u"-"_s : file},
            kPassword + '\n');
    QVERIFY2(r.exitCode == 0, r.describe().constData());
    QVERIFY2(r.err.contains("holds every password in clear text"), r.err.constData());
    QVERIFY2(r.err.count('\n') == 1, r.err.constData());
    if (toStandardOutput) {
        QVERIFY(TestData::writeFile(file, r.out));
    } else {
        QCOMPARE(r.out, QByteArray());
        QCOMPARE(TestData::permissionsOf(file), 0600);
    }
    const QByteArray text = TestData::readFile(file);
    QVERIFY2(text.startsWith(header), text.constData());

    if (format == u"json") {
        const QJsonArray array = QJsonDocument::fromJson(text).array();
        QList<Item> read;
        for (const QJsonValue& value : array) {
            const QJsonObject object = value.toObject();
            read.append({*Windows1252::fromUnicode(object.value(u"title"_s).toString()),
                         *Windows1252::fromUnicode(object.value(u"url"_s).toString()),
                         *Windows1252::fromUnicode(object.value(u"username"_s).toString()),
                         *Windows1252::fromUnicode(object.value(u"password"_s).toString())});
        }
        QCOMPARE(rows(read), rows(entries));
        return;
    }
    const QString fresh = m_tmp->filePath(u"fresh"_s);
    QVERIFY(makeDataDir(fresh, TestData::masterPasswordRecord(kPassword), LinkFile::Absent));
    const Run in =
        run({u"--data-dir"_s, fresh, u"import"_s, file, u"--format"_s, format}, kPassword + '\n');
    QVERIFY2(in.exitCode == 0, in.describe().constData());
    QCOMPARE(in.err, QByteArray());
    QCOMPARE(readBack(fresh + u"/QuiURL.dab"_s, kPassword), rows(entries));
}

void TestCli::exportRefusals_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("damaged");
    QTest::addColumn<QString>("message");

    QTest::newRow("damaged link file") << QStringList{u"--format"_s, u"json"_s, u"-o"_s, u"out"_s}
                                       << true << u"cannot read the link file: "_s;
    QTest::newRow("over the link file")
        << QStringList{u"--format"_s, u"json"_s, u"-o"_s, u"data/QuiURL.dab"_s} << false
        << u"data/QuiURL.dab is a data file of Quillor; export elsewhere"_s;
    QTest::newRow("over the absent settings file")
        << QStringList{u"--format"_s, u"json"_s, u"-o"_s, u"data/./QuiSetts.ini"_s} << false
        << u"is a data file of Quillor"_s;
    QTest::newRow("into a directory") << QStringList{u"--format"_s, u"json"_s, u"-o"_s, u"data"_s}
                                      << false << u"cannot write the export: "_s;
    QTest::newRow("wrong master password")
        << QStringList{u"--format"_s, u"json"_s, u"-o"_s, u"out"_s, u"--data-dir"_s, u"elsewhere"_s}
        << false << u"elsewhere/QuiFil.ini is missing"_s;
}

// Nothing written, nothing half written.
void TestCli::exportRefusals()
{
    QFETCH(QStringList, args);
    QFETCH(bool, damaged);
    QFETCH(QString, message);
    m_writes = true;

    QVERIFY(makeDataDir(dataDir(), TestData::masterPasswordRecord(kPassword), LinkFile::Bytes,
                        damaged ? TestData::linkRecord(kEntries[0], kPassword) + damagedRecord()
                                : TestData::linkFile(kEntries, kPassword)));
    const auto before = filesIn(root());
    const Run r = cli(QStringList{u"export"_s} + args, kPassword + '\n');
    QVERIFY2(r.exitCode == 1, r.describe().constData());
    QCOMPARE(r.out, QByteArray());
    QVERIFY2(QString::fromUtf8(r.err).contains(message), r.err.constData());
    QCOMPARE(filesIn(root()), before);
}

void TestCli::salvage_data()
{
    QTest::addColumn<QByteArray>("link");
    QTest::addColumn<QString>("target"); // "out", or "link" for the damaged file itself
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QList<Item>>("salvaged");
    QTest::addColumn<QByteArray>("err");

    const auto record = [](int i) {
        return TestData::linkRecord(kEntries[i], kPassword);
    };
    QTest::newRow("a damaged record in the middle")
        << record(0) + damagedRecord() + record(2) << u"out"_s << 0
        << QList<Item>{kEntries[0], kEntries[2]}
        << QByteArray("quillor-cli: record 2 skipped: it is damaged, after \"Example\", before "
                      "\"Bank\"\n"
                      "quillor-cli: 2 of 3 records copied into OUT; with Quillor closed, put it "
                      "in the place of LINK\n");
    QTest::newRow("the first damaged, a torn tail")
        << damagedRecord() + record(1) + record(2) + QByteArray(100, ' ') << u"out"_s << 0
        << QList<Item>{kEntries[1], kEntries[2]}
        << QByteArray("quillor-cli: record 1 skipped: it is damaged, before \"A\\x09B\\x0aC\\D\"\n"
                      "quillor-cli: record 4 skipped: the last 100 bytes are a record cut short, "
                      "after \"Bank\"\n"
                      "quillor-cli: 2 of 4 records copied into OUT; with Quillor closed, put it "
                      "in the place of LINK\n");
    QTest::newRow("two damaged in a row")
        << record(0) + damagedRecord() + damagedRecord() + record(2) << u"out"_s << 0
        << QList<Item>{kEntries[0], kEntries[2]}
        << QByteArray("quillor-cli: record 2 skipped: it is damaged, after \"Example\", before "
                      "\"Bank\"\n"
                      "quillor-cli: record 3 skipped: it is damaged, after \"Example\", before "
                      "\"Bank\"\n"
                      "quillor-cli: 2 of 4 records copied into OUT; with Quillor closed, put it "
                      "in the place of LINK\n");
    QTest::newRow("nothing damaged")
        << TestData::linkFile(kEntries, kPassword) << u"out"_s << 0 << kEntries
        << QByteArray("quillor-cli: 3 of 3 records copied into OUT; "
                      "with Quillor closed, put it in the place of "
                      "LINK\n");
    QTest::newRow("nothing readable")
        << damagedRecord() << u"out"_s << 1 << QList<Item>{}
        << QByteArray("quillor-cli: record 1 skipped: it is damaged\n"
                      "quillor-cli: no record of LINK can be read; nothing was written\n");
    QTest::newRow("over the damaged file")
        << record(0) + damagedRecord() << u"link"_s << 1 << QList<Item>{}
        << QByteArray("quillor-cli: LINK is the damaged link file itself; write the records "
                      "elsewhere\n");
}

// The new file loads whole with the program's own loader; the damaged one stays as it was.
void TestCli::salvage()
{
    QFETCH(QByteArray, link);
    QFETCH(QString, target);
    QFETCH(int, exitCode);
    QFETCH(QList<Item>, salvaged);
    QFETCH(QByteArray, err);
    m_writes = true;

    QVERIFY(
        makeDataDir(dataDir(), TestData::masterPasswordRecord(kPassword), LinkFile::Bytes, link));
    const QString out = target == u"out" ? m_tmp->filePath(u"salvaged.dab"_s) : linkFilePath();
    const auto before = filesIn(dataDir());
    const Run r = cli({u"salvage"_s, u"-o"_s, out}, kPassword + '\n');
    QVERIFY2(r.exitCode == exitCode, r.describe().constData());
    QCOMPARE(r.out, QByteArray());
    QCOMPARE(r.err, QByteArray(err)
                        .replace("OUT", QFile::encodeName(out))
                        .replace("LINK", QFile::encodeName(linkFilePath())));
    QCOMPARE(filesIn(dataDir()), before);
    if (exitCode != 0) {
        QCOMPARE(TestData::entriesOf(root()), (QStringList{u"data"_s}));
        return;
    }
    QCOMPARE(TestData::permissionsOf(out), 0600);
    QCOMPARE(findDamagedLinkRecord(out), QString());
    QCOMPARE(readBack(out, kPassword), rows(salvaged));
}

void TestCli::readerSeesOnePair_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("listing"); // standard output of the reader, before the change

    const QByteArray tsv = "title\tusername\turl\tpassword\n"
                           "Example\talice\thttps://example.com/login\ts3cret\n"
                           "A\\tB\\nC\\\\D\t\thttp://b.example/?q=1\t\n"
                           "Bank\tbob smith\thttps://bank.example\tp\\\\w\\td\\r\n";
    QTest::newRow("list") << QStringList{u"list"_s, u"--format"_s, u"tsv"_s, u"--show-passwords"_s}
                          << tsv;
    QTest::newRow("show") << QStringList{u"show"_s, u"3"_s, u"--format"_s, u"tsv"_s,
                                         u"--show-password"_s}
                          << QByteArray("title\tusername\turl\tpassword\n"
                                        "Bank\tbob smith\thttps://bank.example\tp\\\\w\\td\\r\n");
    QTest::newRow("export") << QStringList{u"export"_s, u"--format"_s, u"json"_s, u"-o"_s, u"-"_s}
                            << QByteArray();
}

// A password change that runs between a reader's opening of QuiFil.ini and of QuiURL.dab: the
// reader stops itself there, a real passwd runs to its end, the reader goes on. It must give the
// old list whole or fail, never the new file read under the old password.
void TestCli::readerSeesOnePair()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, listing);
    m_writes = true;

    QVERIFY(makeEntries(kEntries));
    QProcessEnvironment env = m_env;
    env.insert(u"QUILLOR_CLI_STOP_BETWEEN_OPENS_FOR_TEST"_s, u"1"_s);
    QProcess reader;
    reader.setProcessEnvironment(env);
    reader.start(kCli, QStringList{u"--data-dir"_s, dataDir()} + args);
    QVERIFY(reader.waitForStarted());
    reader.write(kPassword + '\n');
    QVERIFY(reader.waitForBytesWritten());
    reader.closeWriteChannel();
    siginfo_t info{};
    QCOMPARE(
        ::waitid(P_PID, id_t(reader.processId()), &info, WSTOPPED | WEXITED | WNOWAIT | __WALL), 0);
    QVERIFY2(info.si_code == CLD_STOPPED, "the reader never stopped between its two opens");

    const Run passwd = cli({u"passwd"_s}, kPassword + "\nQuince 2\nQuince 2\n");
    QVERIFY2(passwd.exitCode == 0, passwd.describe().constData());
    QCOMPARE(readBack(linkFilePath(), "Quince 2"), rows(kEntries));

    QCOMPARE(::kill(pid_t(reader.processId()), SIGCONT), 0);
    QVERIFY(reader.waitForFinished(120'000));
    QCOMPARE(reader.exitStatus(), QProcess::NormalExit);
    const QByteArray out = reader.readAllStandardOutput();
    const QByteArray err = reader.readAllStandardError();
    const QByteArray described = "exit " + QByteArray::number(reader.exitCode()) +
                                 ", stdout: " + out.left(400) + ", stderr: " + err;
    if (reader.exitCode() == 0) {
        // Only what the files held before the change, in full.
        if (listing.isEmpty()) {
            const QJsonArray exported = QJsonDocument::fromJson(out).array();
            QCOMPARE(exported.size(), kEntries.size());
            for (qsizetype i = 0; i < kEntries.size(); ++i)
                QCOMPARE(exported[i].toObject().value(u"password"_s).toString().toUtf8(),
                         kEntries[i].password);
        } else {
            QCOMPARE(out, listing);
        }
        return;
    }
    QVERIFY2(reader.exitCode() == 1, described.constData());
    QCOMPARE(out, QByteArray());
    QVERIFY2(err == "quillor-cli: wrong master password\n" ||
                 err.contains("kept changing while it was read"),
             described.constData());
}

void TestCli::madeButUnsure_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("call");   // the call that fails, its last in the data directory
    QTest::addColumn<QString>("on");        // the name it is made on: the directory when empty
    QTest::addColumn<QByteArray>("master"); // the password the files are under afterwards
    QTest::addColumn<QList<Item>>("after");

    const QByteArray right = kPassword + '\n';
    QTest::newRow("edit, its directory not synced")
        << QStringList{u"edit"_s, u"1"_s, u"--title"_s, u"T"_s} << right << QByteArray("fsync")
        << QString() << kPassword
        << QList<Item>{{"T", kEntries[0].url, kEntries[0].userName, kEntries[0].password},
                       kEntries[1],
                       kEntries[2]};
    QTest::newRow("rm, its directory not synced")
        << QStringList{u"rm"_s, u"2"_s} << right << QByteArray("fsync") << QString() << kPassword
        << QList<Item>{kEntries[0], kEntries[2]};
    QTest::newRow("mv, its directory not synced")
        << QStringList{u"mv"_s, u"3"_s, u"1"_s} << right << QByteArray("fsync") << QString()
        << kPassword << QList<Item>{kEntries[2], kEntries[0], kEntries[1]};
    QTest::newRow("passwd, its directory not synced")
        << QStringList{u"passwd"_s} << right + "Quince 2\nQuince 2\n"
        << QByteArray("fsync") << QString() << QByteArray("Quince 2") << kEntries;
    // The commit mark is in place: the switch is decided, and the next writer finishes it.
    QTest::newRow("passwd, the link file's rename after the mark")
        << QStringList{u"passwd"_s} << right + "Quince 2\nQuince 2\n"
        << QByteArray("rename") << u"QuiURL.dab"_s << QByteArray("Quince 2") << kEntries;
}

// A write that fails once its change is in place says the change was made, with its own exit
// status: a script that took it for "nothing changed" and ran it again would make it twice.
void TestCli::madeButUnsure()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, call);
    QFETCH(QString, on);
    QFETCH(QByteArray, master);
    QFETCH(QList<Item>, after);
    m_writes = true;

    QVERIFY(makeEntries(kEntries));
    const QString log = m_tmp->filePath(u"points.log"_s);
    const QString where = on.isEmpty() ? dataDir() : dataDir() + u'/' + on;
    // A trial on a copy finds the call; the run on the data directory fails it.
    const QString trial = m_tmp->filePath(u"trial"_s);
    QVERIFY(makeDataDir(trial, TestData::masterPasswordRecord(kPassword), LinkFile::Bytes,
                        TestData::linkFile(kEntries, kPassword)));
    const Run counted = run(QStringList{u"--data-dir"_s, trial} + args, input,
                            underFaults(m_env, trial, log, 0, "count", root()));
    QVERIFY2(counted.exitCode == 0, counted.describe().constData());
    const QString trialWhere = on.isEmpty() ? trial : trial + u'/' + on;
    const QList<FaultPoint> points = faultPoints(log);
    int at = 0;
    for (qsizetype i = 0; i < points.size(); ++i) {
        const FaultPoint& p = points[i];
        if (p.call == call && (call == "rename" ? p.path2 == trialWhere : p.path == trialWhere))
            at = int(i) + 1;
    }
    QVERIFY2(at > 0, "no such call in the trial run");

    QFile::remove(log);
    const Run r = run(QStringList{u"--data-dir"_s, dataDir()} + args, input,
                      underFaults(m_env, dataDir(), log, at, "fail", root()));
    QVERIFY2(r.exitCode == 3, r.describe().constData());
    QCOMPARE(r.out, QByteArray());
    const QString err = QString::fromUtf8(r.err);
    QVERIFY2(err.contains(u"may not survive a power cut"_s) && !err.contains(u"nothing"_s) &&
                 !err.contains(u"cannot save"_s),
             r.err.constData());

    // Made: the next writer finishes what is left of it.
    const Run finish = cli({u"mv"_s, u"1"_s, u"1"_s}, master + '\n');
    QVERIFY2(finish.exitCode == 0, finish.describe().constData());
    QCOMPARE(readBack(linkFilePath(), master), rows(after));
    CipherService cipher;
    QCOMPARE(MasterPasswordFile::check(dataDir() + u"/QuiFil.ini"_s, master, cipher).outcome,
             MasterPasswordFile::Outcome::Right);
}

void TestCli::leftLockFile_data()
{
    QTest::addColumn<QByteArray>("content"); // of the lock file left; "killed" for a real kill

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("garbage") << QByteArray("\x01\xff not a lock\n\0\0", 16);
    QTest::newRow("a holder that is gone") << QByteArray("quillor-cli 2147483646\n");
    QTest::newRow("a writer killed at the lock file's first write") << QByteArray("killed");
}

// A lock file that no live process holds is no lock: the next writer takes it.
void TestCli::leftLockFile()
{
    QFETCH(QByteArray, content);
    m_writes = true;

    QVERIFY(makeEntries(kEntries));
    const QString lock = InstanceLock::pathFor(dataDir());
    const QString lockDir = QFileInfo(lock).path();
    const QStringList add{u"add"_s, u"--title"_s, u"T"_s};
    const QByteArray input = kPassword + "\npw\n";
    if (content == "killed") {
        const QString log = m_tmp->filePath(u"points.log"_s);
        QVERIFY(run(QStringList{u"--data-dir"_s, dataDir()} + add, input,
                    underFaults(m_env, lockDir, log, 0, "count", root()))
                    .exitCode == 0);
        QVERIFY(makeEntries(kEntries));
        int at = 0;
        const QList<FaultPoint> points = faultPoints(log);
        for (qsizetype i = 0; i < points.size() && at == 0; ++i) {
            if (points[i].path == lock && points[i].call.contains("write"))
                at = int(i) + 1;
        }
        QVERIFY2(at > 0, "the lock file is never written");
        QFile::remove(log);
        const Run killed = run(QStringList{u"--data-dir"_s, dataDir()} + add, input,
                               underFaults(m_env, lockDir, log, at, "kill", root()));
        QCOMPARE(killed.exitCode, -1);
        QVERIFY(QFileInfo(lock).isFile());
    } else {
        QVERIFY(QDir().mkpath(lockDir));
        QCOMPARE(::chmod(QFile::encodeName(lockDir).constData(), 0700), 0);
        QVERIFY(TestData::writeFile(lock, content));
    }

    const Run r = cli(add, input);
    QVERIFY2(r.exitCode == 0, r.describe().constData());
    QCOMPARE(readBack(linkFilePath(), kPassword),
             rows(kEntries + QList<Item>{{"T", "", "", "pw"}}));
    QVERIFY(!QFileInfo::exists(lock));
}

// The refusal names the command that holds the lock, and what stands at the lock's name that is
// not a file is the user's: left in place, and said.
void TestCli::lockHeldByAnotherCommand()
{
    m_writes = true;
    QVERIFY(makeEntries(kEntries));
    const auto before = filesIn(dataDir());
    const QStringList rm{u"rm"_s, u"1"_s};
    {
        InstanceLock other(u"quillor-cli"_s);
        QCOMPARE(other.acquire(dataDir()), InstanceLock::Outcome::Locked);
        const Run r = cli(rm, kPassword + '\n');
        QVERIFY2(r.exitCode == 1, r.describe().constData());
        QCOMPARE(QString::fromUtf8(r.err),
                 u"quillor-cli: quillor-cli (pid %1) is changing %2; try again when it is done "
                 "(nothing was changed)\n"_s.arg(::getpid())
                     .arg(dataDir()));
    }
    QCOMPARE(filesIn(dataDir()), before);

    const QString lock = InstanceLock::pathFor(dataDir());
    QVERIFY(QDir().mkdir(lock));
    const Run r = cli(rm, kPassword + '\n');
    QVERIFY2(r.exitCode == 1, r.describe().constData());
    QVERIFY2(r.err.contains("a directory stands at the lock's name; remove it (nothing was "
                            "changed)"),
             r.err.constData());
    QVERIFY(QFileInfo(lock).isDir());
    QCOMPARE(readBack(linkFilePath(), kPassword), rows(kEntries));
}

// The window's lock on the data directory keeps out a command that reaches it through a link,
// and neither leaves anything in the directory that a sync program would carry elsewhere.
void TestCli::oneLockThroughALink()
{
    m_writes = true;
    QVERIFY(makeEntries(kEntries));
    QVERIFY(TestData::writeFile(dataDir() + u'/' + kLockFileName, "quillor 2147483646\n"));
    const QString link = m_tmp->filePath(u"synced"_s);
    QVERIFY(QFile::link(dataDir(), link));
    {
        InstanceLock window(u"quillor"_s);
        QCOMPARE(window.acquire(dataDir()), InstanceLock::Outcome::Locked);
        // The lock file an earlier version left is gone once the lock is held.
        QVERIFY(!QFileInfo::exists(dataDir() + u'/' + kLockFileName));
        const Run r = run({u"--data-dir"_s, link, u"rm"_s, u"1"_s}, kPassword + '\n',
                          [this](QProcess& process) { process.setWorkingDirectory(root()); });
        QVERIFY2(r.exitCode == 1, r.describe().constData());
        QCOMPARE(QString::fromUtf8(r.err),
                 u"quillor-cli: quillor has %1 open; close it first (nothing was changed)\n"_s.arg(
                     link));
        QCOMPARE(TestData::entriesOf(dataDir()), (QStringList{u"QuiFil.ini"_s, u"QuiURL.dab"_s}));
    }
    const Run r = run({u"--data-dir"_s, link, u"rm"_s, u"1"_s}, kPassword + '\n',
                      [this](QProcess& process) { process.setWorkingDirectory(root()); });
    QVERIFY2(r.exitCode == 0, r.describe().constData());
    QCOMPARE(TestData::entriesOf(dataDir()), (QStringList{u"QuiFil.ini"_s, u"QuiURL.dab"_s}));
    QCOMPARE(readBack(linkFilePath(), kPassword), rows({kEntries[1], kEntries[2]}));
}

void TestCli::linkToNowhere_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("input");

    const QByteArray right = kPassword + '\n';
    for (const QString& file : {u"QuiURL.dab"_s, u"QuiFil.ini"_s}) {
        const QByteArray name = file.toLatin1();
        QTest::addRow("%s, list", name.constData()) << file << QStringList{u"list"_s} << right;
        QTest::addRow("%s, show", name.constData())
            << file << QStringList{u"show"_s, u"1"_s} << right;
        QTest::addRow("%s, export", name.constData())
            << file << QStringList{u"export"_s, u"--format"_s, u"json"_s, u"-o"_s, u"-"_s} << right;
        QTest::addRow("%s, add", name.constData())
            << file << QStringList{u"add"_s, u"--title"_s, u"T"_s} << right + "pw\n";
        QTest::addRow("%s, passwd", name.constData())
            << file << QStringList{u"passwd"_s} << right + "Quince\nQuince\n";
    }
}

// A data file that is a link to a folder not mounted is missing, not empty: said, and nothing
// is written through the link or in its place.
void TestCli::linkToNowhere()
{
    QFETCH(QString, file);
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    m_writes = true;

    QVERIFY(makeEntries(kEntries));
    const QString path = dataDir() + u'/' + file;
    const QString target = m_tmp->filePath(u"unmounted/"_s) + file;
    QVERIFY(QFile::remove(path));
    QVERIFY(QFile::link(target, path));
    const auto before = filesIn(dataDir());
    const Run r = cli(args, input);
    QVERIFY2(r.exitCode == 1, r.describe().constData());
    QCOMPARE(r.out, QByteArray());
    QVERIFY2(r.err.contains(QFile::encodeName(path) + ": a symbolic link to " +
                            QFile::encodeName(target) + ", which cannot be reached"),
             r.err.constData());
    QCOMPARE(filesIn(dataDir()), before);
    QVERIFY(QFileInfo(path).isSymLink());
    QVERIFY(!QFileInfo::exists(target));
}

void TestCli::tornTailIsSaid_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("torn"); // bytes of the torn tail

    // Cut in the title, the URL address and the user name.
    for (const int torn : {1, 1000, 3000}) {
        QTest::addRow("list, %d bytes", torn) << QStringList{u"list"_s} << torn;
        QTest::addRow("export, %d bytes", torn)
            << QStringList{u"export"_s, u"--format"_s, u"json"_s, u"-o"_s, u"-"_s} << torn;
    }
}

// A write cut short leaves part of a record at the end; the list leaves it out, and says so.
void TestCli::tornTailIsSaid()
{
    QFETCH(QStringList, args);
    QFETCH(int, torn);

    const QByteArray whole = TestData::linkFile(kEntries, kPassword);
    const QByteArray extra = TestData::linkRecord({"Torn", "u", "n", "p"}, kPassword).left(torn);
    QVERIFY(makeDataDir(dataDir(), TestData::masterPasswordRecord(kPassword), LinkFile::Bytes,
                        whole + extra));
    const Run r = cli(args, kPassword + '\n');
    QVERIFY2(r.exitCode == 0, r.describe().constData());
    QVERIFY2(r.out.contains("Bank") && !r.out.contains("Torn"), r.out.constData());
    QVERIFY2(r.err.startsWith("quillor-cli: note: " + QFile::encodeName(linkFilePath()) +
                              " ends in " + QByteArray::number(torn) +
                              " bytes that hold no whole entry"),
             r.err.constData());
}

void TestCli::pendingSwitch_data()
{
    QTest::addColumn<bool>("held"); // whether a live writer holds the lock
    QTest::addColumn<QString>("message");

    QTest::newRow("a writer at work") << true
                                      << u"a password change in %1 is in progress; try again when "
                                         "it is done"_s;
    QTest::newRow("no one at work") << false
                                    << u"a password change in %1 was interrupted; start quillor "
                                       "once to finish it, or run a command of quillor-cli that "
                                       "writes"_s;
}

// A reader that finds a switch half done says whether someone is finishing it: "interrupted"
// sends the user to finish what is running already.
void TestCli::pendingSwitch()
{
    QFETCH(bool, held);
    QFETCH(QString, message);

    QVERIFY(makeEntries(kEntries));
    QVERIFY(TestData::writeFile(dataDir() + u"/QuiPair.commit"_s, "replace QuiFil.ini\n"));
    std::optional<InstanceLock> writer;
    if (held) {
        writer.emplace(u"quillor-cli"_s);
        QCOMPARE(writer->acquire(dataDir()), InstanceLock::Outcome::Locked);
    }
    const QString lock = InstanceLock::pathFor(dataDir());
    const bool lockFileBefore = QFileInfo::exists(lock);
    const Run r = list({});
    QVERIFY2(r.exitCode == 1, r.describe().constData());
    QCOMPARE(r.out, QByteArray());
    QCOMPARE(QString::fromUtf8(r.err), u"quillor-cli: "_s + message.arg(dataDir()) + u'\n');
    QCOMPARE(QFileInfo::exists(lock), lockFileBefore);
}

void TestCli::everyFaultToldTruly_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("master"); // the password the change leaves
    QTest::addColumn<QList<Item>>("after");
    QTest::addColumn<QByteArray>("mode"); // of the fault injector

    const QByteArray right = kPassword + '\n';
    const QList<Item> edited{{"T", kEntries[0].url, kEntries[0].userName, kEntries[0].password},
                             kEntries[1],
                             kEntries[2]};
    for (const char* mode : {"fail", "kill"}) {
        QTest::addRow("add, %s", mode)
            << QStringList{u"add"_s, u"--title"_s, u"T"_s} << right + "pw\n"
            << kPassword << (kEntries + QList<Item>{{"T", "", "", "pw"}}) << QByteArray(mode);
        QTest::addRow("edit, %s", mode) << QStringList{u"edit"_s, u"1"_s, u"--title"_s, u"T"_s}
                                        << right << kPassword << edited << QByteArray(mode);
        QTest::addRow("rm, %s", mode) << QStringList{u"rm"_s, u"2"_s} << right << kPassword
                                      << QList<Item>{kEntries[0], kEntries[2]} << QByteArray(mode);
        QTest::addRow("mv, %s", mode)
            << QStringList{u"mv"_s, u"3"_s, u"1"_s} << right << kPassword
            << QList<Item>{kEntries[2], kEntries[0], kEntries[1]} << QByteArray(mode);
        QTest::addRow("passwd, %s", mode)
            << QStringList{u"passwd"_s} << right + "Quince 2\nQuince 2\n"
            << QByteArray("Quince 2") << kEntries << QByteArray(mode);
    }
}

// Each call the command makes in the data directory, failed or killed in turn: what the command
// says must be what the files hold once the next start has settled them. Exit 0 or 3, the
// change is there; 1, it is not; killed, one or the other, whole.
void TestCli::everyFaultToldTruly()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, master);
    QFETCH(QList<Item>, after);
    QFETCH(QByteArray, mode);
    m_writes = true;

    const QString log = m_tmp->filePath(u"points.log"_s);
    const QStringList command = QStringList{u"--data-dir"_s, dataDir()} + args;
    QVERIFY(makeEntries(kEntries));
    const Run counted = run(command, input, underFaults(m_env, dataDir(), log, 0, "count", root()));
    QVERIFY2(counted.exitCode == 0, counted.describe().constData());
    const qsizetype points = faultPoints(log).size();
    QVERIFY(points > 0);

    CipherService cipher;
    // "before", "after", or what else the files hold.
    const auto state = [&]() -> QByteArray {
        if (const SaveResult settled = PairFiles::settlePairDirectory(dataDir()); !settled)
            return "cannot settle: " + settled.error().toUtf8();
        for (const auto& [name, password, items] :
             {std::tuple("before", kPassword, kEntries), std::tuple("after", master, after)}) {
            if (MasterPasswordFile::check(dataDir() + u"/QuiFil.ini"_s, password, cipher).outcome ==
                    MasterPasswordFile::Outcome::Right &&
                readBack(linkFilePath(), password) == rows(items))
                return name;
        }
        return "neither";
    };
    QStringList wrong;
    for (int at = 1; at <= points; ++at) {
        QVERIFY(QDir(dataDir()).removeRecursively());
        QVERIFY(makeEntries(kEntries));
        QFile::remove(log);
        const Run r = run(command, input, underFaults(m_env, dataDir(), log, at, mode, root()));
        const QByteArray found = state();
        bool told = false;
        switch (r.exitCode) {
        case 0:
            told = found == "after" && r.err.isEmpty();
            break;
        case 1:
            told = found == "before" && !r.err.contains("power cut");
            break;
        case 3:
            told = found == "after" && r.err.contains("may not survive a power cut");
            break;
        case -1:
            told = mode == "kill" && (found == "before" || found == "after");
            break;
        }
        if (!told)
            wrong << u"at %1 (%2): %3; the files: %4"_s.arg(at).arg(
                QString::fromUtf8(faultPoints(log).value(at - 1).call),
                QString::fromUtf8(r.describe()), QString::fromUtf8(found));
    }
    qInfo("%lld trials, %lld misreported", qlonglong(points), qlonglong(wrong.size()));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(u'\n')));
}

void TestCli::outputLinks_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("othersLink"); // planted by another user
    QTest::addColumn<int>("directoryMode");
    QTest::addColumn<bool>("onTheWay"); // a link to a directory, the file given beneath it
    QTest::addColumn<QString>("refusal"); // empty when the link is followed

    const QString others = u"out: a link that another user owns; it is not followed"_s;
    const QString swappable = u"out: a link in a directory that other users write to; it is "
                              "not followed"_s;
    const QString othersOnTheWay = u"out/out: out on the way is a link that another user owns "
                                   "in a shared directory; it is not followed"_s;
    for (const QString& command : {u"export"_s, u"salvage"_s}) {
        const QByteArray name = command.toLatin1();
        QTest::newRow(name + ", another user's link in a sticky directory")
            << command << true << 01777 << false << others;
        QTest::newRow(name + ", my link in a sticky directory")
            << command << false << 01777 << false << QString();
        QTest::newRow(name + ", my link where anyone may swap it")
            << command << false << 0777 << false << swappable;
        QTest::newRow(name + ", my link in my directory")
            << command << false << 0700 << false << QString();
        QTest::newRow(name + ", another user's link on the way, in a sticky directory")
            << command << true << 01777 << true << othersOnTheWay;
        QTest::newRow(name + ", my link on the way, in a sticky directory")
            << command << false << 01777 << true << QString();
    }
}

// A link at the name given to -o, as someone may plant in /tmp: followed only when it is the
// user's own and no one else can put another in its place. A link to a directory on the way is
// followed as the kernel's link protection would, whether or not the system has it on. The file
// it leads to is never written otherwise.
void TestCli::outputLinks()
{
    QFETCH(QString, command);
    QFETCH(bool, othersLink);
    QFETCH(int, directoryMode);
    QFETCH(bool, onTheWay);
    QFETCH(QString, refusal);
    m_writes = true;
    if (othersLink && ::geteuid() != 0)
        QSKIP("planting another user's link takes root");

    QVERIFY(makeEntries(kEntries));
    // Reachable by another user, as /tmp is.
    QCOMPARE(::chmod(QFile::encodeName(root()).constData(), 0711), 0);
    const QString shared = m_tmp->filePath(u"shared"_s);
    QVERIFY(QDir().mkdir(shared));
    QCOMPARE(::chmod(QFile::encodeName(shared).constData(), mode_t(directoryMode)), 0);
    const QString victimDir = m_tmp->filePath(u"victim"_s);
    QVERIFY(QDir().mkdir(victimDir));
    const QString victim = victimDir + u"/out"_s;
    QVERIFY(TestData::writeFile(victim, "the victim's own"));
    const QString link = shared + u"/out"_s;
    const QString linked = onTheWay ? victimDir : victim;
    if (othersLink) {
        QProcess plant;
        plant.start(u"setpriv"_s, {u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s,
                                   u"ln"_s, u"-s"_s, linked, link});
        if (!plant.waitForFinished() || plant.exitStatus() != QProcess::NormalExit ||
            plant.exitCode() != 0)
            QSKIP("setpriv cannot run ln as another user here");
        struct stat st {};
        QCOMPARE(::lstat(QFile::encodeName(link).constData(), &st), 0);
        QCOMPARE(st.st_uid, uid_t(65534));
    } else {
        QVERIFY(QFile::link(linked, link));
    }
    const auto before = filesIn(root());

    const QString given = onTheWay ? link + u"/out"_s : link;
    const QStringList args = command == u"export"
                                 ? QStringList{u"export"_s, u"--format"_s, u"json"_s, u"-o"_s, given}
                                 : QStringList{u"salvage"_s, u"-o"_s, given};
    const Run r = cli(args, kPassword + '\n');
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(QFileInfo(link).symLinkTarget(), linked);
    if (!refusal.isEmpty()) {
        QVERIFY2(r.exitCode == 1, r.describe().constData());
        QVERIFY2(QString::fromUtf8(r.err).contains(shared + u'/' + refusal), r.err.constData());
        QCOMPARE(filesIn(root()), before);
        return;
    }
    QVERIFY2(r.exitCode == 0, r.describe().constData());
    if (command == u"export")
        QVERIFY(TestData::readFile(victim).startsWith("["));
    else
        QCOMPARE(readBack(victim, kPassword), rows(kEntries));
    QCOMPARE(TestData::permissionsOf(victim), 0600);
    QCOMPARE(TestData::entriesOf(shared), QStringList{u"out"_s});
    QCOMPARE(TestData::entriesOf(victimDir), QStringList{u"out"_s});
}

void TestCli::outputFaults_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("unnamedFiles"); // whether the file system makes O_TMPFILE files
    QTest::addColumn<QByteArray>("mode");
    QTest::addColumn<bool>("replaces"); // a previous file is there

    for (const QString& command : {u"export"_s, u"salvage"_s}) {
        for (const bool unnamedFiles : {true, false}) {
            for (const QByteArray& mode :
                 {QByteArray("kill"), QByteArray("term"), QByteArray("fail")}) {
                for (const bool replaces : {true, false}) {
                    QTest::addRow("%s, %s, %s, %s", qPrintable(command),
                                  unnamedFiles ? "unnamed files" : "no unnamed files",
                                  mode.constData(), replaces ? "replacing a file" : "a new file")
                        << command << unnamedFiles << mode << replaces;
                }
            }
        }
    }
}

// The command killed, ended by SIGTERM, or a call failed, at every system call it makes in the
// directory of its output: the file there is the previous one or the whole new one; the exit
// status says which; a temporary left by a kill was never readable by others (and never made
// for a new file where the file system has unnamed files), and a signal or a failure removes its
// own.
void TestCli::outputFaults()
{
    QFETCH(QString, command);
    QFETCH(bool, unnamedFiles);
    QFETCH(QByteArray, mode);
    QFETCH(bool, replaces);
    m_writes = true;

    QVERIFY(makeEntries(kEntries));
    const QString out = m_tmp->filePath(u"out"_s);
    QVERIFY(QDir().mkdir(out));
    const QString target = out + u"/file"_s;
    // Read back from an absent file: empty.
    const QByteArray previous = replaces ? "the previous file" : "";
    const auto restore = [&] {
        return replaces ? TestData::writeFile(target, previous)
                        : !QFileInfo::exists(target) || QFile::remove(target);
    };
    QVERIFY(restore());
    const QStringList args = QStringList{u"--data-dir"_s, dataDir()} +
                             (command == u"export" ? QStringList{u"export"_s, u"--format"_s,
                                                                 u"keepassxc"_s, u"-o"_s, target}
                                                   : QStringList{u"salvage"_s, u"-o"_s, target});
    const QString log = m_tmp->filePath(u"faults.log"_s);
    const auto injected = [&](const QByteArray& faultMode, int at) {
        return [&, faultMode, at](QProcess& process) {
            QProcessEnvironment env = withFaults(m_env, out, log, faultMode, at);
            if (!unnamedFiles)
                env.insert(u"QUILLOR_FAULT_TMPFILE"_s, u"unsupported"_s);
            process.setProcessEnvironment(env);
        };
    };

    const Run clean = run(args, kPassword + '\n', injected("count", 0));
    QVERIFY2(clean.exitCode == 0, clean.describe().constData());
    const QByteArray written = TestData::readFile(target);
    QVERIFY(written != previous);
    const QByteArrayList calls = TestData::readFile(log).split('\n');
    const int points = int(calls.size()) - 1;
    QVERIFY2(points >= 5, TestData::readFile(log).constData());

    QMap<int, int> exits;
    for (int at = 1; at <= points; ++at) {
        QVERIFY(restore());
        QVERIFY(QFile::remove(log));
        const Run r = run(args, kPassword + '\n', injected(mode, at));
        const QByteArray where =
            "at " + calls[at - 1] + ": " + r.describe() + " (" + TestData::readFile(log) + ')';
        const QByteArray now = TestData::readFile(target);
        QVERIFY2(now == previous || now == written, where.constData());
        QStringList left = TestData::entriesOf(out);
        QVERIFY2(left.removeAll(u"file"_s) == (replaces || now == written ? 1 : 0),
                 where.constData());
        ++exits[r.exitCode];
        if (mode == "kill") {
            QVERIFY2(r.exitCode == -1, where.constData());
            // An unnamed file takes the new name itself: no name for a kill to leave.
            if (unnamedFiles && !replaces)
                QVERIFY2(left.isEmpty(),
                         qPrintable(left.join(u", "_s) + u' ' + QString::fromUtf8(where)));
            for (const QString& name : left) {
                const QString path = out + u'/' + name;
                QVERIFY2(name.size() == 11 && name.startsWith(u"file."_s) &&
                             QFileInfo(path).isFile() && !QFileInfo(path).isSymLink(),
                         qPrintable(name));
                QVERIFY2(TestData::permissionsOf(path) == 0600, where.constData());
                QVERIFY(QFile::remove(path));
            }
            continue;
        }
        if (mode == "term") {
            QVERIFY2(r.exitCode == -1 && left.isEmpty(),
                     qPrintable(left.join(u", "_s) + u' ' + QString::fromUtf8(where)));
            continue;
        }
        QVERIFY2(left.isEmpty(), qPrintable(left.join(u", "_s) + u' ' + QString::fromUtf8(where)));
        switch (r.exitCode) {
        case 0:
            QVERIFY2(now == written && !r.err.contains("cannot"), where.constData());
            break;
        case 3:
            QVERIFY2(now == written && r.err.contains("may not outlast a power cut"),
                     where.constData());
            break;
        case 1:
            QVERIFY2(now == previous && r.err.contains("cannot write"), where.constData());
            break;
        default:
            QFAIL(where.constData());
        }
    }
    if (mode == "fail") {
        // The directory's sync comes after the rename; a failed write comes before it.
        QVERIFY2(exits.value(3) >= 1 && exits.value(1) >= 1, qPrintable(QDebug::toString(exits)));
    }
    qInfo("%d trials", points);
}

void TestCli::staleTemporaries_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("name"); // beside "file", the command's output
    QTest::addColumn<QString>("kind"); // "file", "link", "second name", "directory"
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("others");   // made by another user
    QTest::addColumn<bool>("replaces"); // an earlier output is there
    QTest::addColumn<bool>("removed");

    for (const QString& command : {u"export"_s, u"salvage"_s}) {
        const QByteArray c = command.toLatin1();
        QTest::newRow(c + ", a temporary a kill left")
            << command << u"file.aZ09xQ"_s << u"file"_s << 0600 << false << true << true;
        QTest::newRow(c + ", a temporary a kill left, no earlier output")
            << command << u"file.Q1w2E3"_s << u"file"_s << 0600 << false << false << true;
        QTest::newRow(c + ", a link to a file of mine")
            << command << u"file.aZ09xQ"_s << u"link"_s << 0600 << false << true << false;
        QTest::newRow(c + ", another user's")
            << command << u"file.aZ09xQ"_s << u"file"_s << 0600 << true << true << false;
        QTest::newRow(c + ", readable by others")
            << command << u"file.aZ09xQ"_s << u"file"_s << 0644 << false << true << false;
        QTest::newRow(c + ", read-only")
            << command << u"file.aZ09xQ"_s << u"file"_s << 0400 << false << true << false;
        QTest::newRow(c + ", a file with a second name")
            << command << u"file.aZ09xQ"_s << u"second name"_s << 0600 << false << true << false;
        QTest::newRow(c + ", a directory")
            << command << u"file.aZ09xQ"_s << u"directory"_s << 0700 << false << true << false;
        for (const QString& other : {u"file.aZ09x"_s, u"file.aZ09xQ7"_s, u"file.aZ-9xQ"_s,
                                     u"file_aZ09xQ"_s, u"other.aZ09xQ"_s, u"fil.aZ09xQ"_s})
            QTest::newRow(qPrintable(command + u", another name: "_s + other))
                << command << other << u"file"_s << 0600 << false << true << false;
    }
}

// What a kill between naming a temporary and its rename left, clear text at a name the user
// does not know, goes with the next write of the same file; nothing else beside it is touched,
// and a link is never followed.
void TestCli::staleTemporaries()
{
    QFETCH(QString, command);
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(int, mode);
    QFETCH(bool, others);
    QFETCH(bool, replaces);
    QFETCH(bool, removed);
    m_writes = true;
    if (others && ::geteuid() != 0)
        QSKIP("making another user's file takes root");

    QVERIFY(makeEntries(kEntries));
    const QString out = m_tmp->filePath(u"out"_s);
    QVERIFY(QDir().mkdir(out));
    const QString target = out + u"/file"_s;
    if (replaces)
        QVERIFY(TestData::writeFile(target, "an earlier output"));
    const QString planted = out + u'/' + name;
    const QByteArray secret = "clear-text passwords of an earlier run";
    const QString elsewhere = m_tmp->filePath(u"elsewhere"_s);
    if (kind == u"file" && others) {
        // Where another user may write, as in /tmp.
        QCOMPARE(::chmod(QFile::encodeName(root()).constData(), 0711), 0);
        QCOMPARE(::chmod(QFile::encodeName(out).constData(), 01777), 0);
        QProcess plant;
        plant.start(u"setpriv"_s, {u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s,
                                   u"sh"_s, u"-c"_s, u"umask 077; printf '%s' \"$1\" > \"$2\""_s,
                                   u"sh"_s, QString::fromLatin1(secret), planted});
        if (!plant.waitForFinished() || plant.exitStatus() != QProcess::NormalExit ||
            plant.exitCode() != 0)
            QSKIP("setpriv cannot make a file as another user here");
        struct stat st {};
        QCOMPARE(::lstat(QFile::encodeName(planted).constData(), &st), 0);
        QCOMPARE(st.st_uid, uid_t(65534));
    } else if (kind == u"file") {
        QVERIFY(TestData::writeFile(planted, secret));
    } else if (kind == u"link") {
        QVERIFY(TestData::writeFile(elsewhere, secret));
        QCOMPARE(::chmod(QFile::encodeName(elsewhere).constData(), 0600), 0);
        QVERIFY(QFile::link(elsewhere, planted));
    } else if (kind == u"second name") {
        QVERIFY(TestData::writeFile(elsewhere, secret));
        QCOMPARE(::link(QFile::encodeName(elsewhere).constData(),
                        QFile::encodeName(planted).constData()),
                 0);
    } else {
        QVERIFY(QDir().mkdir(planted));
    }
    if (kind != u"link" && !others)
        QCOMPARE(::chmod(QFile::encodeName(planted).constData(), mode_t(mode)), 0);

    const QStringList args =
        command == u"export" ? QStringList{u"export"_s, u"--format"_s, u"json"_s, u"-o"_s, target}
                             : QStringList{u"salvage"_s, u"-o"_s, target};
    const Run r = cli(args, kPassword + '\n');
    QVERIFY2(r.exitCode == 0, r.describe().constData());
    if (command == u"export")
        QVERIFY(TestData::readFile(target).startsWith("["));
    else
        QCOMPARE(readBack(target, kPassword), rows(kEntries));
    QStringList expected{u"file"_s};
    if (!removed)
        expected << name;
    expected.sort();
    QCOMPARE(TestData::entriesOf(out), expected);
    if (removed)
        return;
    struct stat st {};
    QCOMPARE(::lstat(QFile::encodeName(planted).constData(), &st), 0);
    if (kind == u"link") {
        QVERIFY(S_ISLNK(st.st_mode));
    } else if (kind == u"directory") {
        QVERIFY(S_ISDIR(st.st_mode));
    } else {
        QCOMPARE(int(st.st_mode & 07777), mode);
        QCOMPARE(TestData::readFile(planted), secret);
    }
    if (kind == u"link" || kind == u"second name")
        QCOMPARE(TestData::readFile(elsewhere), secret);
}

void TestCli::importNonRegularFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");

    QTest::newRow("a named pipe") << u"pipe"_s << u"not a regular file"_s;
    QTest::newRow("a device that never ends") << u"device"_s << u"not a regular file"_s;
    QTest::newRow("a directory") << u"directory"_s << u"is a directory"_s;
}

// Refused at once: a pipe would wait for a writer, a device never end.
void TestCli::importNonRegularFile()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    m_writes = true;

    QVERIFY(makeEntries(kEntries));
    QString path = m_tmp->filePath(u"export.csv"_s);
    std::optional<FifoWatchdog> pipe;
    if (kind == u"pipe") {
        pipe.emplace(path);
        QVERIFY(pipe->made());
    } else if (kind == u"device") {
        path = u"/dev/zero"_s;
    } else {
        QVERIFY(QDir().mkdir(path));
    }
    const auto before = filesIn(dataDir());
    for (const QStringList& extra : {QStringList(), QStringList{u"--dry-run"_s}}) {
        const Run r = cli(QStringList{u"import"_s, path, u"--format"_s, u"chrome"_s} + extra,
                          kPassword + '\n');
        QVERIFY2(r.exitCode == 1, r.describe().constData());
        QCOMPARE(QString::fromUtf8(r.err), u"quillor-cli: %1: %2\n"_s.arg(path, reason));
        QCOMPARE(filesIn(dataDir()), before);
    }
    if (pipe)
        QVERIFY(!pipe->released());
}

void TestCli::controlCharacters_data()
{
    QTest::addColumn<QString>("character");
    QTest::addColumn<bool>("stored");

    QTest::newRow("NUL") << QString(QChar(u'\0')) << false;
    QTest::newRow("start of heading") << u"\x01"_s << false;
    QTest::newRow("backspace") << u"\b"_s << false;
    QTest::newRow("line feed") << u"\n"_s << false;
    QTest::newRow("carriage return") << u"\r"_s << false;
    QTest::newRow("escape") << u"\x1b"_s << false;
    QTest::newRow("unit separator") << u"\x1f"_s << false;
    QTest::newRow("delete") << u"\x7f"_s << false;
    QTest::newRow("tab") << u"\t"_s << true;
}

// Every writer refuses an item with a control character but tab, and changes nothing: an option,
// an entry's password on standard input, a row of an import.
void TestCli::controlCharacters()
{
    QFETCH(QString, character);
    QFETCH(bool, stored);
    m_writes = true;

    const QByteArray c = character.toLatin1();
    const QByteArray item = "a" + c + "b";
    const QString refusal =
        u"the control character \\x%1 (character 2) cannot be stored: an item "
        "holds none but tab"_s.arg(int(character.front().unicode()), 2, 16, QLatin1Char('0'));
    struct Attempt {
        QStringList args;
        QByteArray input;
        QString message;
        Item changed; // the first entry after it, or the one added
        bool adds;
    };
    const QByteArray right = kPassword + '\n';
    const Item mail{"Mail", "https://mail.example", "", "pw"};
    std::vector<Attempt> attempts;
    // An argument cannot hold a NUL; a line of standard input cannot hold a line feed.
    if (c != QByteArray(1, '\0')) {
        attempts.push_back({{u"add"_s, u"--title"_s, QString::fromLatin1(item)},
                            right + "pw\n",
                            u"--title: "_s + refusal,
                            {item, "", "", "pw"},
                            true});
        attempts.push_back({{u"edit"_s, u"1"_s, u"--username"_s, QString::fromLatin1(item)},
                            right,
                            u"--username: "_s + refusal,
                            {kEntries[0].title, kEntries[0].url, item, kEntries[0].password},
                            false});
    }
    if (c != "\n")
        attempts.push_back({{u"add"_s, u"--title"_s, u"T"_s},
                            right + item + '\n',
                            u"the entry's password: "_s + refusal,
                            {"T", "", "", item},
                            true});
    attempts.push_back({{u"import"_s, u"export.csv"_s, u"--format"_s, u"chrome"_s},
                        right,
                        u"export.csv:2: username (column 3): "_s + refusal,
                        {mail.title, mail.url, item, mail.password},
                        true});

    for (const Attempt& attempt : attempts) {
        QVERIFY(makeEntries({kEntries[0]}));
        QVERIFY(TestData::writeFile(m_tmp->filePath(u"export.csv"_s),
                                    "name,url,username,password\nMail,https://mail.example,\"" +
                                        item + "\",pw\n"));
        const auto before = filesIn(dataDir());
        const Run r = cli(attempt.args, attempt.input);
        const QByteArray what = attempt.args.join(u' ').toUtf8() + ": " + r.describe();
        if (stored) {
            QVERIFY2(r.exitCode == 0, what.constData());
            QCOMPARE(readBack(linkFilePath(), kPassword),
                     rows(attempt.adds ? QList<Item>{kEntries[0], attempt.changed}
                                       : QList<Item>{attempt.changed}));
            continue;
        }
        QVERIFY2(r.exitCode == 1, what.constData());
        QVERIFY2(QString::fromUtf8(r.err).contains(attempt.message), what.constData());
        QCOMPARE(filesIn(dataDir()), before);
    }
}

// Entries that hold control characters (written before they were refused, or by another program)
// are exported as they are; an import of that export names each row that holds one.
void TestCli::exportKeepsControlCharacters()
{
    m_writes = true;
    const QList<Item> entries = kEntries + QList<Item>{{"Caf\xe9", "", "", "\"\r\n,"}};
    QVERIFY(makeEntries(entries));
    const QString file = m_tmp->filePath(u"export.csv"_s);
    const Run r =
        cli({u"export"_s, u"--format"_s, u"keepassxc"_s, u"-o"_s, file}, kPassword + '\n');
    QVERIFY2(r.exitCode == 0, r.describe().constData());
    const std::vector<Csv::Record> records =
        Csv::parse(QString::fromUtf8(TestData::readFile(file)));
    QCOMPARE(records.size(), std::size_t(entries.size() + 1));
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QStringList& fields = records[std::size_t(i) + 1].fields;
        QCOMPARE(fields.mid(1, 4), (QStringList{Windows1252::toUnicode(entries[i].title),
                                                Windows1252::toUnicode(entries[i].userName),
                                                Windows1252::toUnicode(entries[i].password),
                                                Windows1252::toUnicode(entries[i].url)}));
    }

    const QString fresh = m_tmp->filePath(u"fresh"_s);
    QVERIFY(makeDataDir(fresh, TestData::masterPasswordRecord(kPassword), LinkFile::Absent));
    const Run in = run({u"--data-dir"_s, fresh, u"import"_s, file, u"--format"_s, u"keepassxc"_s},
                       kPassword + '\n');
    QVERIFY2(in.exitCode == 1, in.describe().constData());
    const QString err = QString::fromUtf8(in.err);
    for (const QString& line :
         {u":3: Title (column 2): the control character \\x0a (character 4) cannot be stored"_s,
          u":5: Password (column 4): the control character \\x0d (character 6) cannot be stored"_s,
          u":7: Password (column 4): the control character \\x0d (character 2) cannot be stored"_s,
          u"nothing was imported: 3 rows cannot be stored"_s})
        QVERIFY2(err.contains(line), qPrintable(err));
    QCOMPARE(TestData::entriesOf(fresh), QStringList{u"QuiFil.ini"_s});
}

void TestCli::safeCells_data()
{
    QTest::addColumn<QByteArray>("item");
    QTest::addColumn<QByteArray>("cell"); // as --safe-cells exports it

    QTest::newRow("a formula") << QByteArray("=1+1") << QByteArray("'=1+1");
    QTest::newRow("a link") << QByteArray("=HYPERLINK(\"https://x.example\",\"Mail\")")
                            << QByteArray("'=HYPERLINK(\"https://x.example\",\"Mail\")");
    QTest::newRow("plus") << QByteArray("+1") << QByteArray("'+1");
    QTest::newRow("minus") << QByteArray("-2+3") << QByteArray("'-2+3");
    QTest::newRow("at") << QByteArray("@SUM(A1)") << QByteArray("'@SUM(A1)");
    QTest::newRow("tab") << QByteArray("\t=1") << QByteArray("'\t=1");
    QTest::newRow("carriage return") << QByteArray("\r=1") << QByteArray("'\r=1");
    QTest::newRow("not at the start") << QByteArray("a=b") << QByteArray("a=b");
    QTest::newRow("already text") << QByteArray("'=1") << QByteArray("'=1");
    QTest::newRow("a blank first") << QByteArray(" =1") << QByteArray(" =1");
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

// A cell a spreadsheet would run is made text by --safe-cells, in every item and both CSV
// formats; without the option the export is as it always was.
void TestCli::safeCells()
{
    QFETCH(QByteArray, item);
    QFETCH(QByteArray, cell);

    QVERIFY(makeEntries({{item, item, item, item}}));
    for (const QString& format : {u"keepassxc"_s, u"bitwarden"_s}) {
        for (const bool safe : {false, true}) {
            QStringList args{u"export"_s, u"--format"_s, format, u"-o"_s, u"-"_s};
            if (safe)
                args << u"--safe-cells"_s;
            const Run r = cli(args, kPassword + '\n');
            QVERIFY2(r.exitCode == 0, r.describe().constData());
            const QString c = Windows1252::toUnicode(safe ? cell : item);
            const QString record =
                format == u"keepassxc"
                    ? Csv::formatRecord({u"Root"_s, c, c, c, c, {}, {}, u"0"_s, {}, {}},
                                        Csv::Quoting::Always)
                    : Csv::formatRecord({{}, {}, u"login"_s, c, {}, {}, u"0"_s, c, c, c, {}},
                                        Csv::Quoting::WhenNeeded);
            QCOMPARE(r.out.mid(r.out.indexOf("\r\n") + 2), record.toUtf8());
        }
    }
    const Run json =
        cli({u"export"_s, u"--format"_s, u"json"_s, u"-o"_s, u"-"_s, u"--safe-cells"_s},
            kPassword + '\n');
    QVERIFY2(json.exitCode == 2, json.describe().constData());
    QVERIFY2(json.err.startsWith("quillor-cli: --safe-cells is for the CSV formats"),
             json.err.constData());
}

// The entries are in once the import is written: a summary that cannot be printed, or a
// directory that cannot be synced after it, is no failure to retry, which would add them twice.
void TestCli::importSummaryUnwritten()
{
    m_writes = true;
    const Item mail{"Mail", "https://mail.example", "ann", "pw"};
    QVERIFY(TestData::writeFile(m_tmp->filePath(u"export.csv"_s),
                                "name,url,username,password\nMail,https://mail.example,ann,pw\n"));
    const QStringList args{u"import"_s, u"export.csv"_s, u"--format"_s, u"chrome"_s};

    QVERIFY(makeEntries({kEntries[0]}));
    const Run full = run(QStringList{u"--data-dir"_s, dataDir()} + args, kPassword + '\n',
                         [this](QProcess& process) {
                             process.setWorkingDirectory(root());
                             process.setStandardOutputFile(u"/dev/full"_s);
                         });
    QVERIFY2(full.exitCode == 3, full.describe().constData());
    QVERIFY2(full.err.contains("imported 1 entry into ") &&
                 full.err.contains("the import is made, but its summary cannot be written"),
             full.err.constData());
    QCOMPARE(readBack(linkFilePath(), kPassword), rows({kEntries[0], mail}));

    // The data directory's sync after the rename fails.
    QVERIFY(makeEntries({kEntries[0]}));
    const QString log = m_tmp->filePath(u"faults.log"_s);
    const auto injected = [&](const QByteArray& mode, int at) {
        return [&, mode, at](QProcess& process) {
            process.setProcessEnvironment(withFaults(m_env, dataDir(), log, mode, at));
            process.setWorkingDirectory(root());
        };
    };
    const Run counted =
        run(QStringList{u"--data-dir"_s, dataDir()} + args, kPassword + '\n', injected("count", 0));
    QVERIFY2(counted.exitCode == 0, counted.describe().constData());
    int directorySync = 0;
    for (const QByteArray& line : TestData::readFile(log).split('\n')) {
        const QByteArrayList fields = line.split('\t');
        if (fields.size() >= 3 && fields[1] == "fsync" &&
            QFileInfo(QString::fromUtf8(fields[2])) == QFileInfo(dataDir()))
            directorySync = fields[0].toInt();
    }
    QVERIFY(directorySync > 0);
    QVERIFY(makeEntries({kEntries[0]}));
    const Run unsynced = run(QStringList{u"--data-dir"_s, dataDir()} + args, kPassword + '\n',
                             injected("fail", directorySync));
    QVERIFY2(unsynced.exitCode == 3, unsynced.describe().constData());
    QCOMPARE(unsynced.out, QByteArray());
    QVERIFY2(unsynced.err.contains("imported 1 entry into ") &&
                 unsynced.err.contains("the import is made, but may not outlast a power cut"),
             unsynced.err.constData());
    QCOMPARE(readBack(linkFilePath(), kPassword), rows({kEntries[0], mail}));
}

namespace {

// quillor-cli run as a child of its own, waited for here, so that its peak memory is its own:
// nullopt when it could not run; else its exit status (-1 for a signal) and peak resident KiB.
std::optional<std::pair<int, long>> runMeasured(const QStringList& arguments,
                                                const QProcessEnvironment& env,
                                                const QByteArray& input, const QString& errPath)
{
    QByteArrayList args{QFile::encodeName(kCli)};
    for (const QString& arg : arguments)
        args << QFile::encodeName(arg);
    QByteArrayList environment;
    for (const QString& variable : env.toStringList())
        environment << variable.toLocal8Bit();
    std::vector<char*> argv;
    for (QByteArray& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (QByteArray& variable : environment)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    const QByteArray errName = QFile::encodeName(errPath);

    int in[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        return std::nullopt;
    const pid_t pid = ::fork();
    if (pid < 0)
        return std::nullopt;
    if (pid == 0) {
        const int err = ::open(errName.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int null = ::open("/dev/null", O_WRONLY);
        if (err < 0 || null < 0 || ::dup2(in[0], 0) < 0 || ::dup2(null, 1) < 0 ||
            ::dup2(err, 2) < 0)
            ::_exit(127);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(in[0]);
    const bool sent =
        ::write(in[1], input.constData(), std::size_t(input.size())) == ssize_t(input.size());
    ::close(in[1]);
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid || !sent)
        return std::nullopt;
    return std::pair{WIFEXITED(status) ? WEXITSTATUS(status) : -1, long(usage.ru_maxrss)};
}

} // namespace

// Gigabytes of zeros after a good record, as a file system may leave after a crash: salvage
// reads through them in the memory it takes for one record of zeros, naming each record it
// skips as it goes.
void TestCli::salvageDamagedTailInLittleMemory()
{
    m_writes = true;
    constexpr qint64 kTail = qint64(3) << 30;
    constexpr long kMostGrowthKiB = 32 * 1024;
    const QString out = m_tmp->filePath(u"salvaged.dab"_s);
    const QString errPath = m_tmp->filePath(u"salvage.err"_s);
    // Freed memory is handed back at once under AddressSanitizer too, so that the peak shows what
    // is kept, not what is churned.
    QProcessEnvironment env = m_env;
    const QString asan = env.value(u"ASAN_OPTIONS"_s);
    env.insert(u"ASAN_OPTIONS"_s,
               (asan.isEmpty() ? QString() : asan + u':') + u"quarantine_size_mb=0"_s);

    const auto peakWith = [&](qint64 tail) -> std::optional<long> {
        if (!makeEntries({kEntries[0]}))
            return std::nullopt;
        QFile link(linkFilePath());
        if (!link.open(QIODevice::ReadWrite) || !link.resize(kLinkRecordSize + tail))
            return std::nullopt;
        link.close();
        const auto run = runMeasured({u"--data-dir"_s, dataDir(), u"salvage"_s, u"-o"_s, out}, env,
                                     kPassword + '\n', errPath);
        if (!run || run->first != 0) {
            qWarning("%s", TestData::readFile(errPath).right(400).constData());
            return std::nullopt;
        }
        return run->second;
    };
    const std::optional<long> small = peakWith(kLinkRecordSize);
    QVERIFY(small);
    QCOMPARE(readBack(out, kPassword), rows({kEntries[0]}));
    const std::optional<long> large = peakWith(kTail);
    QVERIFY(large);
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(linkFilePath()).constData(), &st), 0);
    if (st.st_blocks * 512 > 1024 * 1024)
        QSKIP("no sparse files here: the test would have written gigabytes");
    QVERIFY2(*large - *small < kMostGrowthKiB,
             qPrintable(u"peak %1 KiB after one damaged record, %2 KiB after %3 GiB"_s.arg(*small)
                            .arg(*large)
                            .arg(kTail >> 30)));
    QCOMPARE(readBack(out, kPassword), rows({kEntries[0]}));

    const qint64 records = 1 + kTail / kLinkRecordSize + (kTail % kLinkRecordSize ? 1 : 0);
    QFile err(errPath);
    QVERIFY(err.open(QIODevice::ReadOnly));
    QCOMPARE(err.readLine(), QByteArray("quillor-cli: record 2 skipped: it is damaged, after "
                                        "\"Example\"\n"));
    QVERIFY(err.seek(err.size() - 400));
    const QByteArray tail = err.readAll();
    const QByteArray last = "quillor-cli: 1 of " + QByteArray::number(records) +
                            " records copied into " + QFile::encodeName(out);
    QVERIFY2(tail.contains("quillor-cli: record " + QByteArray::number(records) +
                           " skipped: the last ") &&
                 tail.contains(last),
             tail.constData());
}

namespace {

const QString kSyncthingCopy = u"QuiURL.sync-conflict-20261211-055826-ZI5QJTT.dab"_s;
const QString kSyncthingMaster = u"QuiFil.sync-conflict-20261211-055826-ZI5QJTT.ini"_s;
const QString kDropboxCopy = u"QuiURL (LAPTOP's conflicted copy 2026-12-11).dab"_s;

} // namespace

void TestCli::merge_data()
{
    QTest::addColumn<QList<Item>>("theirs");
    QTest::addColumn<QByteArray>("theirPassword");
    QTest::addColumn<QString>("given");   // a name in the data directory, or "other" for a folder
    QTest::addColumn<bool>("withMaster"); // the other list's QuiFil.ini beside it
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QList<Item>>("added");
    QTest::addColumn<QString>("said"); // on standard output when it worked, else on standard error

    const QByteArray ours = kPassword + '\n';
    const Item a = kEntries[0];
    const Item b = kEntries[2];
    const Item c{"New", "https://new.example", "carol", "c4rol"};
    const Item otherPassword{a.title, a.url, a.userName, "changed"};
    const Item otherUser{b.title, b.url, "robert", b.password};
    const QList<Item> none;

    QTest::newRow("identical entries left out")
        << QList<Item>{a, c, b} << kPassword << kSyncthingCopy << false << ours << 0
        << QList<Item>{c}
        << u"1 entry added, 2 entries left out as identical to one of ours, 0 entries added "
           "beside"_s;
    QTest::newRow("same title and address, another password or user name: beside")
        << QList<Item>{otherPassword, otherUser, a} << kPassword << kDropboxCopy << false << ours
        << 0 << QList<Item>{otherPassword, otherUser}
        << u"0 entries added, 1 entry left out as identical to one of ours, 2 entries added "
           "beside one of ours with the same title and address but another user name or "
           "password"_s;
    QTest::newRow("nothing new: nothing written, the copy put aside all the same")
        << QList<Item>{b, a} << kPassword << kSyncthingCopy << false << ours << 0 << none
        << u"2 entries left out as identical"_s;
    QTest::newRow("another master password, told by its QuiFil.ini")
        << QList<Item>{c, a} << QByteArray("Kiwi 2") << kSyncthingCopy << true << ours + "Kiwi 2\n"
        << 0 << QList<Item>{c} << u"1 entry added, 1 entry left out"_s;
    QTest::newRow("another master password, a wrong one given")
        << QList<Item>{c, a} << QByteArray("Kiwi 2") << kSyncthingCopy << true << ours + "Kiwi\n"
        << 1 << none
        << u"wrong master password for %1/"_s + kSyncthingCopy + u" (nothing was changed)"_s;
    QTest::newRow("another master password, told by its records")
        << QList<Item>{c, a, b} << QByteArray("Kiwi 2") << kDropboxCopy << false
        << ours + "Kiwi 2\n"
        << 0 << QList<Item>{c} << u"1 entry added, 2 entries left out"_s;
    QTest::newRow("another master password, told by its records, none given")
        << QList<Item>{c, a, b} << QByteArray("Kiwi 2") << kDropboxCopy << false << ours << 1
        << none << u"is under another master password: give it on the line after ours"_s;
    QTest::newRow("another master password, told by its records, a wrong one given")
        << QList<Item>{c, a, b} << QByteArray("Kiwi 2") << kDropboxCopy << false << ours + "Kiwi\n"
        << 1 << none << u"wrong master password for"_s;
    QTest::newRow("a folder holding a pair under another password")
        << QList<Item>{b, c} << QByteArray("Kiwi 2") << u"other"_s << true << ours + "Kiwi 2\n"
        << 0 << QList<Item>{c} << u"1 entry added, 1 entry left out"_s;
    QTest::newRow("damaged other list")
        << QList<Item>{c, c} << kPassword << kSyncthingCopy << false << ours << 1 << none
        << u"record 2 is damaged (nothing was changed)"_s;
    QTest::newRow("the master password file's copy")
        << QList<Item>{c} << kPassword << kSyncthingMaster << false << ours << 1 << none
        << u"is a copy of the master password file"_s;
    QTest::newRow("the list itself") << QList<Item>{c} << kPassword << u"QuiURL.dab"_s << false
                                     << ours << 1 << none << u"is the list itself"_s;
}

// A dry run first, which changes nothing, then the merge: our entries stay as they were, the
// other's new ones follow them, or nothing changes at all. A merged conflict copy, and the
// master password file's copy that told its password, go to Merged under their own names.
void TestCli::merge()
{
    QFETCH(QList<Item>, theirs);
    QFETCH(QByteArray, theirPassword);
    QFETCH(QString, given);
    QFETCH(bool, withMaster);
    QFETCH(QByteArray, input);
    QFETCH(int, exitCode);
    QFETCH(QList<Item>, added);
    QFETCH(QString, said);
    m_writes = true;

    const QList<Item> ours = {kEntries[0], kEntries[2]};
    QVERIFY(makeEntries(ours));
    QString path;
    QStringList copies;
    if (given == u"other") {
        path = m_tmp->filePath(u"other"_s);
        QVERIFY(makeDataDir(path, TestData::masterPasswordRecord(theirPassword), LinkFile::Bytes,
                            TestData::linkFile(theirs, theirPassword)));
    } else if (given != u"QuiURL.dab") {
        path = dataDir() + u'/' + given;
        QByteArray bytes = TestData::linkFile(theirs, theirPassword);
        if (QTest::currentDataTag() == QByteArray("damaged other list"))
            bytes = TestData::linkRecord(theirs[0], theirPassword) + damagedRecord();
        QVERIFY(TestData::writeFile(path, bytes));
        copies << given;
        if (withMaster) {
            QVERIFY(TestData::writeFile(dataDir() + u'/' + kSyncthingMaster,
                                        TestData::masterPasswordRecord(theirPassword)));
            copies << kSyncthingMaster;
        }
    } else {
        path = linkFilePath();
    }
    said.replace(u"%1"_s, dataDir());
    const auto before = filesIn(dataDir());

    const Run dry = cli({u"merge"_s, path, u"--dry-run"_s}, input);
    QVERIFY2(dry.exitCode == exitCode, dry.describe().constData());
    QVERIFY2(QString::fromUtf8(exitCode == 0 ? dry.out : dry.err).contains(said),
             dry.describe().constData());
    if (exitCode == 0)
        QVERIFY2(dry.out.startsWith("would merge ") && dry.out.endsWith("nothing was changed\n"),
                 dry.out.constData());
    QCOMPARE(filesIn(dataDir()), before);

    const Run r = cli({u"merge"_s, path}, input);
    QVERIFY2(r.exitCode == exitCode, r.describe().constData());
    QVERIFY2(QString::fromUtf8(exitCode == 0 ? r.out : r.err).contains(said),
             r.describe().constData());
    QCOMPARE(readBack(linkFilePath(), kPassword), rows(ours + added));
    if (exitCode != 0) {
        QCOMPARE(filesIn(dataDir()), before);
        return;
    }
    QVERIFY2(r.out.contains(entries(ours.size() + added.size())), r.out.constData());
    QCOMPARE(r.out.contains("a merge cannot know which entries the other machine deleted"),
             !added.isEmpty());
    // Put aside, whole, and said where; nothing else left behind.
    QStringList expected{u"QuiFil.ini"_s, u"QuiURL.dab"_s};
    if (!copies.isEmpty())
        expected.prepend(u"Merged"_s);
    QCOMPARE(TestData::entriesOf(dataDir()), expected);
    for (const QString& copy : std::as_const(copies)) {
        const QString aside = dataDir() + u"/Merged/"_s + copy;
        QCOMPARE(TestData::readFile(aside), before.value(copy));
        QVERIFY2(r.out.contains(QFile::encodeName(u"put "_s + copy + u" aside as "_s + aside)),
                 r.out.constData());
    }
    if (!copies.isEmpty())
        QCOMPARE(TestData::permissionsOf(dataDir() + u"/Merged"_s), 0700);
    QVERIFY2(!r.err.contains("sync program"), r.err.constData());

    // Once more: the other's entries are all ours now.
    if (given == u"other") {
        const Run again = cli({u"merge"_s, path}, input);
        QVERIFY2(again.exitCode == 0 && again.out.contains("0 entries added"),
                 again.describe().constData());
        QCOMPARE(readBack(linkFilePath(), kPassword), rows(ours + added));
    }
}

void TestCli::conflictCopiesNoted_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("list") << QStringList{u"list"_s} << kPassword + '\n' << 0;
    QTest::newRow("show, wrong password")
        << QStringList{u"show"_s, u"1"_s} << QByteArray("x\n") << 1;
    QTest::newRow("rm") << QStringList{u"rm"_s, u"1"_s} << kPassword + '\n' << 0;
}

// Every command names the copies a sync program kept, whatever its outcome, and keeps its exit
// status.
void TestCli::conflictCopiesNoted()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    QFETCH(int, exitCode);
    m_writes = true;

    QVERIFY(makeEntries(kEntries));
    for (const QString& name : {kSyncthingCopy, u"QuiFil-LAPTOP.ini"_s})
        QVERIFY(TestData::writeFile(dataDir() + u'/' + name, "x"));
    const Run r = cli(args, input);
    QVERIFY2(r.exitCode == exitCode, r.describe().constData());
    const QByteArray note = "quillor-cli: note: a sync program kept another version of the list "
                            "in " +
                            QFile::encodeName(dataDir()) + ": QuiFil-LAPTOP.ini, " +
                            kSyncthingCopy.toUtf8() +
                            "; \"quillor-cli merge\" takes it into the list\n";
    QVERIFY2(r.err.endsWith(note), r.err.constData());
    QCOMPARE(r.err.count("sync program"), 1);

    // Nothing to say without them.
    QVERIFY(QFile::remove(dataDir() + u'/' + kSyncthingCopy));
    QVERIFY(QFile::remove(dataDir() + u"/QuiFil-LAPTOP.ini"_s));
    const Run quiet = cli({u"list"_s}, kPassword + '\n');
    QVERIFY2(quiet.exitCode == 0 && !quiet.err.contains("sync program"),
             quiet.describe().constData());
}

void TestCli::staleListIsNotWritten_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("file");   // the file changed elsewhere while the command runs
    QTest::addColumn<QString>("change"); // "renamed over", "in place", or "none"

    const QByteArray right = kPassword + '\n';
    const QList<std::tuple<const char*, QStringList, QByteArray>> writers = {
        {"add", {u"add"_s, u"--title"_s, u"T"_s}, right + "pw\n"},
        {"edit", {u"edit"_s, u"2"_s, u"--title"_s, u"T"_s}, right},
        {"edit of another entry", {u"edit"_s, u"3"_s, u"--username"_s, u"U"_s}, right},
        {"rm", {u"rm"_s, u"1"_s}, right},
        {"mv", {u"mv"_s, u"3"_s, u"1"_s}, right},
        {"passwd", {u"passwd"_s}, right + "Quince 2\nQuince 2\n"},
        {"import", {u"import"_s, u"in.csv"_s, u"--format"_s, u"chrome"_s}, right},
        {"merge", {u"merge"_s, u"other"_s}, right},
    };
    for (const auto& [name, args, input] : writers) {
        for (const char* change : {"renamed over", "in place"})
            QTest::addRow("%s, QuiURL.dab %s", name, change)
                << args << input << u"QuiURL.dab"_s << QString::fromLatin1(change);
    }
    // The other machine's new password, come through the sync program: entries written under
    // the old one beside it could never be opened again.
    for (const auto& [name, args, input] : writers) {
        for (const char* change : {"renamed over", "in place"})
            QTest::addRow("%s, QuiFil.ini %s", name, change)
                << args << input << u"QuiFil.ini"_s << QString::fromLatin1(change);
    }
    for (const auto& [name, args, input] : {writers[0], writers[3]})
        QTest::addRow("%s, unchanged", name) << args << input << u"QuiURL.dab"_s << u"none"_s;
}

// A writer stops itself after it has read the list and before it writes; the files change there,
// as a sync program or the Windows program beside it would change them: by a new file renamed
// over the old one, or by a record written in place. Nothing is written over the change.
void TestCli::staleListIsNotWritten()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    QFETCH(QString, file);
    QFETCH(QString, change);
    m_writes = true;

    QVERIFY(makeEntries(kEntries));
    QVERIFY(TestData::writeFile(m_tmp->filePath(u"in.csv"_s),
                                "name,url,username,password\nMail,https://mail.example,ann,pw\n"));
    // Another version of the list, with an entry ours lacks, for merge to write.
    QList<Item> other = kEntries;
    other.append(Item{"Mail", "https://mail.example", "ann", "pw"});
    QVERIFY(makeDataDir(m_tmp->filePath(u"other"_s), TestData::masterPasswordRecord(kPassword),
                        LinkFile::Bytes, TestData::linkFile(other, kPassword)));
    // Entry 2 replaced elsewhere, the file the same size; for the password file, another password.
    QList<Item> elsewhere = kEntries;
    elsewhere[1].title = "X2";
    const QByteArray changed = file == u"QuiFil.ini"_s
                                   ? TestData::masterPasswordRecord("Other machine")
                                   : TestData::linkFile(elsewhere, kPassword);
    const QString path = dataDir() + u'/' + file;

    QProcessEnvironment env = m_env;
    env.insert(u"QUILLOR_CLI_STOP_BEFORE_WRITE_FOR_TEST"_s, u"1"_s);
    QProcess writer;
    writer.setProcessEnvironment(env);
    writer.setWorkingDirectory(root());
    writer.start(kCli, QStringList{u"--data-dir"_s, dataDir()} + args);
    QVERIFY(writer.waitForStarted());
    writer.write(input);
    QVERIFY(writer.waitForBytesWritten());
    writer.closeWriteChannel();
    siginfo_t info{};
    QCOMPARE(
        ::waitid(P_PID, id_t(writer.processId()), &info, WSTOPPED | WEXITED | WNOWAIT | __WALL), 0);
    QVERIFY2(info.si_code == CLD_STOPPED, "the writer never stopped before its write");

    if (change == u"renamed over"_s) {
        const QString synced = dataDir() + u"/.syncthing.tmp"_s;
        QVERIFY(TestData::writeFile(synced, changed));
        QCOMPARE(
            ::rename(QFile::encodeName(synced).constData(), QFile::encodeName(path).constData()),
            0);
    } else if (change == u"in place"_s) {
        QFile target(path);
        QVERIFY(target.open(QIODevice::ReadWrite));
        QCOMPARE(target.write(changed), qint64(changed.size()));
    }
    const auto before = filesIn(dataDir());

    QCOMPARE(::kill(pid_t(writer.processId()), SIGCONT), 0);
    QVERIFY(writer.waitForFinished(120'000));
    QCOMPARE(writer.exitStatus(), QProcess::NormalExit);
    const Run r{writer.exitCode(), writer.readAllStandardOutput(), writer.readAllStandardError()};
    if (change == u"none"_s) {
        QVERIFY2(r.exitCode == 0, r.describe().constData());
        return;
    }
    QVERIFY2(r.exitCode == 1, r.describe().constData());
    QCOMPARE(r.out, QByteArray());
    const QByteArray said = "quillor-cli: the list changed on disk while the command ran (" +
                            QFile::encodeName(path) + " changed on disk: ";
    QVERIFY2(r.err.startsWith(said), r.err.constData());
    QVERIFY2(r.err.endsWith("); nothing was changed: repeat the command\n"), r.err.constData());
    QCOMPARE(filesIn(dataDir()), before);
    QCOMPARE(TestData::readFile(path), changed);
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
