// List loading against its floor: reading the file and decrypting what the list shows, with
// nothing kept. The ratio of the two is what the loader's own work costs. Then adding an entry
// to a short list and to a long one (AddEntryBench.cpp).

#include "AddEntryBench.h"
#include "BenchSupport.h"
#include "LinkFileBuilder.h"
#include "cipher/CipherKey.h"
#include "cipher/CipherService.h"
#include "store/EntryModel.h"
#include "store/LinkFile.h"
#include "store/LinkRecord.h"
#include "store/StoredField.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kSizes[] = {1'000, 10'000, 100'000};
// Adding to the longest list a person keeps should cost little more than adding to a short one.
constexpr int kAddSizes[] = {100, 100'000};
constexpr double kAddRatioTarget = 1.5;
constexpr int kPeakMemoryRecords = 100'000;
constexpr long kPeakMemoryLimitMb = 100;
constexpr const char* kPeakMemoryFlag = "--peak-memory";
// Enough for a stable median on a shared two-core machine, short enough for every CI run.
constexpr int kRepetitions = 5;
constexpr double kMinTimeSeconds = 0.5;

std::map<int, QString> g_files; // record count -> link file

void BM_LoadList(benchmark::State& state, int records)
{
    const QString& path = g_files.at(records);
    CipherService cipher;
    for (auto _ : state) {
        auto model = std::make_unique<EntryModel>();
        if (!loadList(*model, path, BenchData::kPassword, cipher) || model->rowCount() != records) {
            state.SkipWithError("the list did not load whole");
            break;
        }
        benchmark::DoNotOptimize(model->rowCount());
        // Freeing the list is not part of loading it.
        state.PauseTiming();
        model.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * records);
}

// Nine digits, trusted: the floor assumes a sound file.
qsizetype prefixLength(const char* field)
{
    qsizetype length = 0;
    for (int i = 0; i < kLengthPrefixDigits; ++i)
        length = length * 10 + (field[i] - '0');
    return length;
}

// The least any loader must do: get the bytes, decrypt the three items the list shows, find the
// password's length. The bytes come in chunks of kFloorRecordsPerRead into one buffer: reading
// the file whole (readAll) costs more than everything else here at 10,000 records and up, as a
// fresh buffer of the file's size faults in page by page and falls out of the cache.
constexpr qsizetype kFloorRecordsPerRead = 64;

void BM_Floor(benchmark::State& state, int records)
{
    const QString& path = g_files.at(records);
    constexpr int kDecrypted[] = {0, kTitleFieldWidth, kTitleFieldWidth + kUrlFieldWidth};
    constexpr int kPasswordOffset = kTitleFieldWidth + kUrlFieldWidth + kUserNameFieldWidth;
    for (auto _ : state) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            state.SkipWithError("cannot open the link file");
            break;
        }
        const CipherKey key(BenchData::kPassword);
        QByteArray buffer(kFloorRecordsPerRead * kLinkRecordSize, Qt::Uninitialized);
        qsizetype count = 0;
        quint64 checksum = 0;
        qint64 got;
        while ((got = file.read(buffer.data(), buffer.size())) > 0) {
            char* record = buffer.data();
            for (qint64 r = 0; r < got / kLinkRecordSize; ++r, record += kLinkRecordSize) {
                for (const int offset : kDecrypted) {
                    char* field = record + offset;
                    const qsizetype length = prefixLength(field);
                    key.cryptInPlace(field + kLengthPrefixDigits, length);
                    checksum += quint64(length) + quint8(field[kLengthPrefixDigits]);
                }
                checksum += quint64(prefixLength(record + kPasswordOffset));
                ++count;
            }
        }
        benchmark::DoNotOptimize(checksum);
        if (count != records) {
            state.SkipWithError("short link file");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * records);
}

// Load against floor per size, in CPU time: a busy machine stretches the wall clock of both
// sides unevenly. Adding, in wall time: its cost is mostly the wait for the disk.
void printRatios(const BenchSupport::FigureReporter& reporter)
{
    for (const int records : kSizes) {
        const double load = reporter.seconds("BM_LoadList", records).cpu;
        const double floor = reporter.seconds("BM_Floor", records).cpu;
        if (load > 0 && floor > 0)
            std::printf("ratio load/floor at %d records: %.2f\n", records, load / floor);
    }
    const int shortList = kAddSizes[0];
    const int longList = kAddSizes[std::size(kAddSizes) - 1];
    const double addShort = reporter.seconds("BM_Add", shortList).real;
    const double addLong = reporter.seconds("BM_Add", longList).real;
    if (addShort > 0 && addLong > 0)
        std::printf("ratio add at %d / add at %d: %.2f (target <= %.1f)"
                    "  [add %.2f ms at %d, %.2f ms at %d, medians]\n",
                    longList, shortList, addLong / addShort, kAddRatioTarget, addLong * 1e3,
                    longList, addShort * 1e3, shortList);
}

// The child's side: load the list and nothing else, then report the peak resident size in kB.
int peakMemoryChild(const char* path)
{
    CipherService cipher;
    EntryModel model;
    const bool ok = loadList(model, QString::fromLocal8Bit(path), BenchData::kPassword, cipher);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%d %ld\n", model.rowCount(), usage.ru_maxrss);
    return ok ? 0 : 1;
}

struct PeakMemory {
    bool ok = false;
    long rows = 0;
    long maxRssKb = 0;
};

// Runs this binary again, so that the peak seen is the load's alone and not the benchmarks'.
PeakMemory measurePeakMemory(const QString& path)
{
    PeakMemory result;
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return result;
    const QByteArray pathBytes = path.toLocal8Bit();
    const pid_t pid = fork();
    if (pid < 0)
        return result;
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        execl("/proc/self/exe", "quillor_bench", kPeakMemoryFlag, pathBytes.constData(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    std::string output;
    char buffer[256];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0)
        output.append(buffer, std::size_t(n));
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
                std::sscanf(output.c_str(), "%ld %ld", &result.rows, &result.maxRssKb) == 2 &&
                result.rows == kPeakMemoryRecords;
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], kPeakMemoryFlag) == 0)
        return peakMemoryChild(argv[2]);

    if (!BenchSupport::initialize(argc, argv))
        return 1;

    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/quillor-bench-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot make a temporary directory\n");
        return 1;
    }
    // One file per size; adding shares the loads' files and leaves each as it found it.
    std::vector<int> sizes(std::begin(kSizes), std::end(kSizes));
    sizes.insert(sizes.end(), std::begin(kAddSizes), std::end(kAddSizes));
    for (const int records : sizes) {
        if (g_files.count(records) != 0)
            continue;
        const QString path = dir.filePath(QStringLiteral("QuiURL-%1.dab").arg(records));
        if (!BenchData::makeTypicalLinkFile(path, records, BenchData::kPassword))
            return 1;
        g_files[records] = path;
    }

    // Measured before the benchmarks run, while this process is still small: a child's peak
    // resident size starts from its parent's.
    const PeakMemory peak = measurePeakMemory(g_files.at(kPeakMemoryRecords));

    for (const int records : kSizes) {
        for (auto* bench : {benchmark::RegisterBenchmark("BM_LoadList", BM_LoadList, records),
                            benchmark::RegisterBenchmark("BM_Floor", BM_Floor, records)})
            bench->Arg(records)
                ->Unit(benchmark::kMillisecond)
                ->MinTime(kMinTimeSeconds)
                ->Repetitions(kRepetitions)
                ->ReportAggregatesOnly();
    }
    for (const int records : kAddSizes)
        registerAddBenchmark(records, g_files.at(records));

    BenchSupport::FigureReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    printRatios(reporter);
    if (!peak.ok) {
        std::printf("peak memory loading %d records: not measured (the child failed)\n",
                    kPeakMemoryRecords);
        return 1;
    }
    const long peakMb = (peak.maxRssKb + 1023) / 1024;
    std::printf("peak memory loading %d records: %ld MB (limit %ld MB)\n", kPeakMemoryRecords,
                peakMb, kPeakMemoryLimitMb);
    return peakMb < kPeakMemoryLimitMb && !reporter.anyFailed() ? 0 : 1;
}
