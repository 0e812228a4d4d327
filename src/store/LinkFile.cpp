#include "LinkFile.h"

#include "CipherGuard.h"
#include "EntryModel.h"
#include "FileAccess.h"
#include "LinkRecord.h"

#include <QFile>
#include <QFileInfo>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Records read at a time: large enough to read fast, small enough that a big file is never
// held in memory whole.
constexpr qint64 kRecordsPerRead = 64;
// What a checked link file keeps of its first records: the whole of a list of ten thousand
// typical entries and forty thousand of a longer one, in less than the program's own memory.
constexpr std::size_t kKeptCipherBytes = 6 * 1024 * 1024;
constexpr std::size_t kKeptLengthBytes = sizeof(std::uint16_t);
static_assert(kUrlFieldWidth <= 0xFFFF); // every item's length fits its two bytes
} // namespace

LinkRecordReader::LinkRecordReader(QIODevice& file, QString path, qint64 fileSize)
    : m_file(file)
    , m_path(std::move(path))
    , m_size(fileSize)
    , m_count(linkRecordCount(fileSize))
    // Too short to be counted, a torn tail is never read.
    , m_tornTail(std::max<qint64>(0, fileSize - m_count * kLinkRecordSize))
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
        m_tornTail = m_size - m_next * kLinkRecordSize;
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

// Cipher texts of whole records, each as its four lengths (two bytes each) and then their bytes,
// in one block of memory taken in huge pages where the system gives them: on some machines a
// page fault for every 4 KiB costs more than the reading the block saves.
class CheckedLinkFile::KeptCiphers {
public:
    // False, keeping nothing of it, when the record does not fit.
    bool append(const LinkRecordView& record)
    {
        const std::array<QByteArrayView, 4> items = {record.title, record.url, record.userName,
                                                     record.password};
        std::size_t size = kKeptLengthBytes * items.size();
        for (QByteArrayView item : items)
            size += std::size_t(item.size());
        if (m_block.isNull() || m_size + size > kKeptCipherBytes)
            return false;
        char* lengths = m_block.data() + m_size;
        char* bytes = lengths + kKeptLengthBytes * items.size();
        for (QByteArrayView item : items) {
            const auto length = std::uint16_t(item.size());
            std::memcpy(lengths, &length, kKeptLengthBytes);
            lengths += kKeptLengthBytes;
            if (!item.isEmpty())
                std::memcpy(bytes, item.data(), std::size_t(item.size()));
            bytes += item.size();
        }
        m_size += size;
        return true;
    }
    // The record that starts at `at`, which then moves on to the next.
    LinkRecordView at(qsizetype& at) const
    {
        std::array<QByteArrayView, 4> items;
        const char* lengths = m_block.data() + at;
        const char* bytes = lengths + kKeptLengthBytes * items.size();
        for (QByteArrayView& item : items) {
            std::uint16_t length = 0;
            std::memcpy(&length, lengths, kKeptLengthBytes);
            lengths += kKeptLengthBytes;
            item = QByteArrayView(bytes, length);
            bytes += length;
        }
        at = bytes - m_block.data();
        return {items[0], items[1], items[2], items[3]};
    }

private:
    HugePageBlock m_block{kKeptCipherBytes};
    std::size_t m_size = 0;
};

CheckedLinkFile::CheckedLinkFile() = default;
CheckedLinkFile::~CheckedLinkFile() = default;

QString CheckedLinkFile::open(const QString& path, Passwords passwords)
{
    m_reader.reset();
    m_file.close();
    if (!QFileInfo::exists(path)) {
        const QString broken = brokenLinkProblem(path);
        return broken.isEmpty() ? QString() : QStringLiteral("%1: %2").arg(path, broken);
    }
    if (const QString failure = openRegularFile(m_file, path); !failure.isEmpty())
        return QStringLiteral("%1: %2").arg(path, failure);
    return readAll(m_file, path, passwords);
}

QString CheckedLinkFile::open(QFile& file, const QString& path, Passwords passwords)
{
    m_reader.reset();
    m_file.close();
    if (!file.seek(0))
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    return readAll(file, path, passwords);
}

QString CheckedLinkFile::readAll(QFile& file, const QString& path, Passwords passwords)
{
    m_passwords = passwords;
    m_kept.reset();
    m_keptRecords = 0;
    m_next = 0;
    m_keptAt = 0;
    m_readerAtNext = false;
    LinkRecordReader& reader = m_reader.emplace(file, path, file.size());
    if (reader.count() > 0)
        m_kept = std::make_unique<KeptCiphers>();
    bool keeping = true;
    while (auto record = reader.next()) {
        if (passwords == Passwords::Leave)
            record->password = {};
        keeping = keeping && m_kept->append(*record);
        if (keeping)
            ++m_keptRecords;
    }
    return reader.failure();
}

bool CheckedLinkFile::seek(qint64 first)
{
    m_next = first;
    m_keptAt = 0;
    for (qint64 i = 0; i < std::min(first, m_keptRecords); ++i)
        m_kept->at(m_keptAt);
    m_readerAtNext = false;
    if (first < m_keptRecords || !m_reader)
        return true;
    m_readerAtNext = m_reader->seek(first);
    return m_readerAtNext;
}

std::optional<LinkRecordView> CheckedLinkFile::next()
{
    if (m_next < m_keptRecords) {
        ++m_next;
        return m_kept->at(m_keptAt);
    }
    if (!m_reader)
        return std::nullopt;
    if (!m_readerAtNext) {
        if (!m_reader->seek(m_next))
            return std::nullopt;
        m_readerAtNext = true;
    }
    auto record = m_reader->next();
    if (!record)
        return std::nullopt;
    if (m_passwords == Passwords::Leave)
        record->password = {};
    ++m_next;
    return record;
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
    if (!QFileInfo::exists(path)) {
        if (brokenLinkProblem(path).isEmpty())
            return 0;
        errno = ENOENT;
        return std::nullopt;
    }
    QFile file;
    if (!openRegularFile(file, path).isEmpty())
        return std::nullopt;
    return storedRecordCount(file.handle());
}

LinkFileRead readLinkFile(const QString& path, QByteArrayView password, CipherService& cipher,
                          EmptyLinkFile emptyFile)
{
    LinkFileRead result;
    if (!QFileInfo::exists(path)) {
        if (const QString broken = brokenLinkProblem(path); !broken.isEmpty())
            result.failure = QStringLiteral("%1: %2").arg(path, broken);
        return result;
    }

    QFile file;
    if (const QString failure = openRegularFile(file, path); !failure.isEmpty()) {
        result.failure = QStringLiteral("%1: %2").arg(path, failure);
        return result;
    }
    if (linkRecordCount(file.size()) == 0) {
        result.tornTailBytes = file.size();
        file.close();
        if (emptyFile == EmptyLinkFile::Delete && !QFile::remove(path))
            result.failure = QStringLiteral("%1: cannot remove the empty file").arg(path);
        return result;
    }
    return readLinkFile(file, path, password, cipher);
}

LinkFileRead readLinkFile(QFile& file, const QString& path, QByteArrayView password,
                          CipherService& cipher)
{
    LinkFileRead result;
    const qint64 size = file.size();
    const qint64 count = linkRecordCount(size);
    if (count == 0) {
        result.tornTailBytes = size;
        return result;
    }
    if (!file.seek(0)) {
        result.failure = QStringLiteral("%1: %2").arg(path, file.errorString());
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
    result.entries.reserve(EntryModel::roomFor(std::size_t(std::min<qint64>(count, 100'000))));
    // The array of a long list is as large as its items' block, and as new: huge pages too.
    HugePageBlock::advise(result.entries.data(), result.entries.capacity() * sizeof(Entry));
    const auto decrypt = [&key](char* data, qsizetype length) {
        key.cryptInPlace(data, length);
    };
    // No record's items are longer than the record, so the file's size bounds them all; should
    // that much not be had at once, blocks of a read's records each do.
    std::shared_ptr<EntryBlock> block = EntryBlock::create(size);
    LinkRecordReader reader(file, path, size);
    while (const auto record = reader.next()) {
        const auto add = [&] {
            return block ? block->add(block, record->title, record->url, record->userName,
                                      record->password, int(result.entries.size()) + 1, decrypt)
                         : std::nullopt;
        };
        std::optional<Entry> entry = add();
        if (!entry) {
            if (block)
                block->shrink();
            block = EntryBlock::create(kRecordsPerRead * kLinkRecordSize);
            entry = add();
        }
        if (!entry) {
            result.failure = QStringLiteral("%1: not enough memory for record %2")
                                 .arg(path)
                                 .arg(result.entries.size() + 1);
            return result;
        }
        result.entries.push_back(std::move(*entry));
    }
    if (block)
        block->shrink();
    result.failure = reader.failure();
    result.tornTailBytes = reader.tornTailBytes();
    return result;
}

bool loadList(EntryModel& model, const QString& path, QByteArrayView password,
              CipherService& cipher, QString* failure, qint64* tornTailBytes)
{
    model.clear();
    LinkFileRead read = readLinkFile(path, password, cipher);
    model.setEntries(std::move(read.entries));
    if (failure)
        *failure = read.failure;
    if (tornTailBytes)
        *tornTailBytes = read.tornTailBytes;
    return read.ok();
}

QString tornTailNote(const QString& path, qint64 bytes)
{
    return QStringLiteral("%1 ends in %2 bytes that hold no whole entry, left by a write that "
                          "was cut short; they are left out")
        .arg(path)
        .arg(bytes);
}

QString findDamagedLinkRecord(const QString& path)
{
    if (!QFileInfo::exists(path)) {
        const QString broken = brokenLinkProblem(path);
        return broken.isEmpty() ? QString() : QStringLiteral("%1: %2").arg(path, broken);
    }
    QFile file;
    if (const QString failure = openRegularFile(file, path); !failure.isEmpty())
        return QStringLiteral("%1: %2").arg(path, failure);
    LinkRecordReader reader(file, path, file.size());
    while (reader.next()) {
    }
    return reader.failure();
}
