// Writes the seed inputs of the fuzz targets into DIRECTORY/<target>/, every one made by the
// program's own writers: the fuzzer starts from files the program itself could have written,
// cut short where a crash or a copy could have cut them.

#include "FuzzSupport.h"
#include "cipher/CipherService.h"
#include "startup/Settings.h"
#include "store/CipherGuard.h"
#include "store/LinkRecord.h"
#include "store/MasterPasswordFile.h"
#include "store/StoredField.h"
#include "store/Windows1252.h"

#include <QDir>
#include <QRandomGenerator>

using namespace Qt::StringLiterals;

namespace {

struct Item {
    QString title;
    QString url;
    QString userName;
    QString password;
};

QByteArray encrypt(const QString& text)
{
    CipherService cipher;
    CipherGuard provider(cipher);
    return cipher.EncryptText(Windows1252::fromUnicode(text).value(), Fuzz::kPassword);
}

QByteArray linkRecord(const Item& item)
{
    return encodeLinkRecord({encrypt(item.title), encrypt(item.url), encrypt(item.userName),
                             encrypt(item.password)})
        .value();
}

QByteArray linkRecords(const QList<Item>& items)
{
    QByteArray bytes;
    for (const Item& item : items)
        bytes += linkRecord(item);
    return bytes;
}

const Item kPlain{u"Quillor"_s, u"https://example.org/login"_s, u"ann"_s, u"secret"_s};
const Item kEmpty{};
// The code page's upper half, so that the fuzzer sees every kind of byte decrypted.
const Item kAccented{u"Café – Zoë’s"_s, u"http://example.org/€"_s, u"Ærøskøbing"_s, u"pâté"_s};
// The address fills its field to the last byte.
const Item kFull{u"Full"_s, u"http://example.org/"_s + QString(kUrlFieldWidth - 9 - 19, u'a'),
                 u"b"_s, u"c"_s};

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
    s.onTop = 1;
    s.lastDeleteDate = 36526.5;
    s.noTips = 1;
    s.hiddenUserNames = 1;
    s.placementStored = 1;
    s.deleteConfirmation = 1;
    s.backupDirectory = u"/home/ann/Back Up"_s;
    s.autoEnter = 1;
    s.autoEnterPassword = u"€uro pâté"_s;
    s.messageSuppression[0] = u'1';
    s.messageSuppression[99] = u'1';
    return s;
}

class SeedWriter {
public:
    explicit SeedWriter(const QString& root)
        : m_root(root)
    {
    }

    void write(const QString& target, const QString& name, QByteArrayView bytes)
    {
        if (!m_ok)
            return;
        const QString dir = m_root + u'/' + target;
        QFile file(dir + u'/' + name);
        if (!QDir().mkpath(dir) || !file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(bytes.data(), bytes.size()) != bytes.size() || !file.flush()) {
            std::fprintf(stderr, "quillor-fuzz-seeds: %s: %s\n", qPrintable(file.fileName()),
                         qPrintable(file.errorString()));
            m_ok = false;
        }
    }

    bool ok() const { return m_ok; }

private:
    QString m_root;
    bool m_ok = true;
};

void linkFileSeeds(SeedWriter& out)
{
    out.write(u"linkfile"_s, u"one"_s, linkRecords({kPlain}));
    out.write(u"linkfile"_s, u"three"_s, linkRecords({kAccented, kEmpty, kFull}));
    // A last record cut past its middle still counts when its four fields are whole; one cut
    // before its middle, or without its fields, is a torn tail the count leaves out.
    out.write(u"linkfile"_s, u"short-last"_s,
              linkRecords({kPlain, kPlain}).left(kLinkRecordSize + 3100));
    out.write(u"linkfile"_s, u"torn-tail"_s,
              linkRecords({kPlain, kAccented}).left(kLinkRecordSize + 1000));
    out.write(u"linkfile"_s, u"torn-past-middle"_s,
              linkRecords({kPlain, kAccented}).left(kLinkRecordSize + 2000));
    // One record past the 64 the reader takes at a time.
    QList<Item> many;
    for (int i = 0; i < 65; ++i)
        many.append(
            {u"Title %1"_s.arg(i), u"http://example.org/%1"_s.arg(i), u"user"_s, u"p%1"_s.arg(i)});
    out.write(u"linkfile"_s, u"sixty-five"_s, linkRecords(many));
}

void storedFieldSeeds(SeedWriter& out)
{
    out.write(u"storedfield"_s, u"title"_s, makeStoredField(encrypt(kPlain.title), 512).value());
    out.write(u"storedfield"_s, u"empty"_s, makeStoredField({}, 512).value());
    out.write(u"storedfield"_s, u"full"_s, makeStoredField(QByteArray(503, 'x'), 512).value());
    out.write(u"storedfield"_s, u"url"_s, makeStoredField(encrypt(kFull.url), 2048).value());
    out.write(u"storedfield"_s, u"cut-short"_s,
              makeStoredField(encrypt(kAccented.title), 512)->left(40));
}

void linkRecordSeeds(SeedWriter& out)
{
    out.write(u"linkrecord"_s, u"plain"_s, linkRecord(kPlain));
    out.write(u"linkrecord"_s, u"empty"_s, linkRecord(kEmpty));
    out.write(u"linkrecord"_s, u"accented"_s, linkRecord(kAccented));
    out.write(u"linkrecord"_s, u"full"_s, linkRecord(kFull));
    out.write(u"linkrecord"_s, u"short"_s, linkRecord(kPlain).left(3100));
}

void masterPasswordSeeds(SeedWriter& out)
{
    CipherService cipher;
    const QByteArray right = MasterPasswordFile::makeRecord(Fuzz::kPassword, cipher);
    out.write(u"masterpassword"_s, u"right"_s, right);
    out.write(u"masterpassword"_s, u"wrong"_s, MasterPasswordFile::makeRecord("Quillor", cipher));
    out.write(u"masterpassword"_s, u"prefix"_s, MasterPasswordFile::makeRecord("Pomel", cipher));
    out.write(u"masterpassword"_s, u"empty-password"_s, MasterPasswordFile::makeRecord("", cipher));
    out.write(u"masterpassword"_s, u"short"_s, right.left(1000));
    out.write(u"masterpassword"_s, u"long"_s, right + right);
}

void settingsSeeds(SeedWriter& out)
{
    QRandomGenerator filler(1);
    out.write(u"settings"_s, u"plain"_s, SettingsRecord::encode(Settings{}, filler));
    Settings firstRun;
    firstRun.placementStored = Settings::kFirstRunMark;
    firstRun.fontName = u"Verdana"_s;
    const QByteArray defaults = SettingsRecord::encode(firstRun, filler);
    out.write(u"settings"_s, u"first-run"_s, defaults);
    out.write(u"settings"_s, u"distinct"_s, SettingsRecord::encode(distinctSettings(), filler));
    out.write(u"settings"_s, u"short-default"_s,
              defaults.left(SettingsRecord::kMinimumDefaultSize));
    out.write(u"settings"_s, u"cut"_s, defaults.left(100));
}

void windows1252Seeds(SeedWriter& out)
{
    QByteArray everyByte;
    for (int b = 0; b < 256; ++b)
        everyByte.append(char(b));
    out.write(u"windows1252"_s, u"every-byte"_s, everyByte);
    out.write(u"windows1252"_s, u"text"_s, Windows1252::fromUnicode(kAccented.title).value());
    // As UTF-16: every character the code page holds, then a text with one it does not.
    const auto utf16 = [](const QString& text) {
        return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    };
    out.write(u"windows1252"_s, u"utf16-every-char"_s, utf16(Windows1252::toUnicode(everyByte)));
    out.write(u"windows1252"_s, u"utf16-refused"_s, utf16(u"Zoë Łódź €"_s));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: quillor-fuzz-seeds DIRECTORY\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    // Seeds an older build wrote, and this one no longer does, go.
    if (!QDir(root).removeRecursively()) {
        std::fprintf(stderr, "quillor-fuzz-seeds: cannot empty %s\n", argv[1]);
        return 1;
    }
    SeedWriter out(root);
    linkFileSeeds(out);
    storedFieldSeeds(out);
    linkRecordSeeds(out);
    masterPasswordSeeds(out);
    settingsSeeds(out);
    windows1252Seeds(out);
    return out.ok() ? 0 : 1;
}
