// List loading against its floor: reading the file and decrypting what the list shows, with
// nothing kept. The ratio of the two is what the loader's own work costs.

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

// The console table as usual, and the time per load kept by name and record count.
// Colours only on a terminal: this reporter replaces the one the colour flag would configure.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter()
        : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular)
    {
    }

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) {
                m_failed = true;
                continue;
            }
            // With repetitions, the median stands for the size; without, the single run. CPU
            // time, since a busy machine stretches the wall clock of both sides unevenly.
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if ((run.run_type == Run::RT_Iteration && run.repetitions <= 1) || median)
                m_seconds[run.run_name.function_name][run.run_name.args] = run.GetAdjustedCPUTime();
        }
    }

    bool anyFailed() const { return m_failed; }

    // One line per size whose load and floor both ran.
    void printRatios() const
    {
        const auto load = m_seconds.find("BM_LoadList");
        const auto floor = m_seconds.find("BM_Floor");
        if (load == m_seconds.end() || floor == m_seconds.end())
            return;
        for (const int records : kSizes) {
            const std::string key = std::to_string(records);
            const auto l = load->second.find(key);
            const auto f = floor->second.find(key);
            if (l == load->second.end() || f == floor->second.end() || f->second <= 0)
                continue;
            std::printf("ratio load/floor at %d records: %.2f\n", records, l->second / f->second);
        }
    }

private:
    // function name -> args -> seconds per iteration
    std::map<std::string, std::map<std::string, double>> m_seconds;
    bool m_failed = false;
};

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

    // Repetitions of loads and floors interleaved, so that both see the machine alike; flags
    // given on the command line come later and win.
    std::vector<char*> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);
    int argCount = int(args.size());
    benchmark::Initialize(&argCount, args.data());
    if (benchmark::ReportUnrecognizedArguments(argCount, args.data()))
        return 1;

    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/quillor-bench-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot make a temporary directory\n");
        return 1;
    }
    for (const int records : kSizes) {
        const QString path = dir.filePath(QStringLiteral("QuiURL-%1.dab").arg(records));
        const QString failure =
            BenchData::writeTypicalLinkFile(path, records, BenchData::kPassword);
        if (!failure.isEmpty()) {
            std::fprintf(stderr, "cannot write the link file: %s\n", qPrintable(failure));
            return 1;
        }
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

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    reporter.printRatios();
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
