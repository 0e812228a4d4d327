#include "LinkFile.h"

#include "CipherGuard.h"
#include "EntryModel.h"
#include "FileAccess.h"
#include "LinkRecord.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Records read at a time: large enough to read fast, small enough that a big file is never
// held in memory whole.
constexpr qint64 kRecordsPerRead = 64;
} // namespace

LinkRecordReader::LinkRecordReader(QIODevice& file, QString path, qint64 fileSize)
    : m_file(file)
    , m_path(std::move(path))
    , m_size(fileSize)
    , m_count(linkRecordCount(fileSize))
{
}

std::optional<LinkRecordView> LinkRecordReader::next()
{
    if (m_next >= m_count || !m_failure.isEmpty())
        return std::nullopt;
    if (m_next >= m_bufferFirst + m_buffered) {
        m_bufferFirst = m_next;
        m_buffered = std::min(kRecordsPerRead, m_count - m_next);
        const qint64 want =
            std::min(m_buffered * kLinkRecordSize, m_size - m_next * kLinkRecordSize);
        m_buffer.resize(want);
        if (m_file.read(m_buffer.data(), want) != want) {
            m_failure = QStringLiteral("%1: cannot read record %2").arg(m_path).arg(m_next + 1);
            return std::nullopt;
        }
    }
    const QByteArrayView bytes =
        QByteArrayView(m_buffer).sliced((m_next - m_bufferFirst) * kLinkRecordSize);
    const bool shortLast = bytes.size() < kLinkRecordSize;
    const auto record = decodeLinkRecord(shortLast ? bytes : bytes.first(kLinkRecordSize));
    // A short last record that does not hold its fields is the torn tail of an append that a
    // crash cut short, not a record: the writer counts it out too, and the next Add replaces it.
    if (!record && shortLast) {
        m_count = m_next;
        return std::nullopt;
    }
    if (!record) {
        m_failure = QStringLiteral("%1: record %2 is damaged").arg(m_path).arg(m_next + 1);
        return std::nullopt;
    }
    ++m_next;
    return record;
}

bool LinkRecordReader::seek(qint64 record)
{
    m_next = record;
    m_bufferFirst = record;
    m_buffered = 0;
    if (!m_file.seek(record * kLinkRecordSize)) {
        m_failure = QStringLiteral("%1: cannot read record %2").arg(m_path).arg(record + 1);
        return false;
    }
    m_failure.clear();
    return true;
}

QString CheckedLinkFile::open(const QString& path)
{
    m_reader.reset();
    m_file.close();
    if (!QFileInfo::exists(path))
        return {};
    if (const QString failure = openRegularFile(m_file, path); !failure.isEmpty())
        return QStringLiteral("%1: %2").arg(path, failure);
    LinkRecordReader& reader = m_reader.emplace(m_file, path, m_file.size());
    while (reader.next()) {
    }
    return reader.failure();
}

LinkRecordReader* CheckedLinkFile::records(qint64 first, QString& failure)
{
    if (!m_reader || !m_reader->seek(first)) {
        failure = m_reader ? m_reader->failure() : QStringLiteral("no records");
        return nullptr;
    }
    return &*m_reader;
}

qint64 linkRecordCount(qint64 fileSize)
{
    const qint64 whole = fileSize / kLinkRecordSize;
    const qint64 rest2 = (fileSize % kLinkRecordSize) * 2;
    if (rest2 > kLinkRecordSize || (rest2 == kLinkRecordSize && whole % 2 == 1))
        return whole + 1;
    return whole;
}

std::optional<qint64> storedRecordCount(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return std::nullopt;
    const qint64 size = st.st_size;
    const qint64 whole = size / kLinkRecordSize;
    if (linkRecordCount(size) == whole)
        return whole;
    QByteArray tail(size - whole * kLinkRecordSize, Qt::Uninitialized);
    qsizetype got = 0;
    while (got < tail.size()) {
        const ssize_t n = ::pread(fd, tail.data() + got, std::size_t(tail.size() - got),
                                  off_t(whole * kLinkRecordSize + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO; // shorter than its size said
            return std::nullopt;
        }
        got += n;
    }
    return decodeLinkRecord(tail) ? whole + 1 : whole;
}

std::optional<qint64> storedRecordCount(const QString& path)
{
    if (!QFileInfo::exists(path))
        return 0;
    QFile file;
    if (!openRegularFile(file, path).isEmpty())
        return std::nullopt;
    return storedRecordCount(file.handle());
}

LinkFileRead readLinkFile(const QString& path, QByteArrayView password, CipherService& cipher,
                          EmptyLinkFile emptyFile)
{
    LinkFileRead result;
    if (!QFileInfo::exists(path))
        return result;

    QFile file;
    if (const QString failure = openRegularFile(file, path); !failure.isEmpty()) {
        result.failure = QStringLiteral("%1: %2").arg(path, failure);
        return result;
    }
    const qint64 size = file.size();
    const qint64 count = linkRecordCount(size);
    if (count == 0) {
        file.close();
        if (emptyFile == EmptyLinkFile::Delete && !QFile::remove(path))
            result.failure = QStringLiteral("%1: cannot remove the empty file").arg(path);
        return result;
    }

    CipherGuard provider(cipher);
    const CipherKey* keyForBatch = cipher.keyForBatch(password);
    if (!keyForBatch) {
        result.failure = CipherService::kNotConnected;
        return result;
    }
    const CipherKey& key = *keyForBatch;
    // A damaged file may claim any size; the list grows as records really are read.
    result.entries.reserve(std::size_t(std::min<qint64>(count, 100'000)));
    LinkRecordReader reader(file, path, size);
    while (const auto record = reader.next()) {
        Entry entry(record->title, record->url, record->userName, record->password,
                    int(result.entries.size()) + 1);
        entry.transformPlainItems(
            [&key](char* data, qsizetype length) { key.cryptInPlace(data, length); });
        result.entries.push_back(std::move(entry));
    }
    result.failure = reader.failure();
    return result;
}

bool loadList(EntryModel& model, const QString& path, QByteArrayView password,
              CipherService& cipher, QString* failure)
{
    model.clear();
    LinkFileRead read = readLinkFile(path, password, cipher);
    model.setEntries(std::move(read.entries));
    if (failure)
        *failure = read.failure;
    return read.ok();
}

QString findDamagedLinkRecord(const QString& path)
{
    if (!QFileInfo::exists(path))
        return {};
    QFile file;
    if (const QString failure = openRegularFile(file, path); !failure.isEmpty())
        return QStringLiteral("%1: %2").arg(path, failure);
    LinkRecordReader reader(file, path, file.size());
    while (reader.next()) {
    }
    return reader.failure();
}
