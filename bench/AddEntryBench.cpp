// Adding one entry to a list of N, as the Enter Items window's Add does it in the core: the list
// checked against the file, the entry encrypted under the master password, its record appended
// to the link file on disk (fsync included), then the entry appended to the list with the
// lowest free key number. The fsync is most of it, and a shared disk makes it vary: a fixed,
// large number of adds per repetition, and the median of the repetitions.

#include "AddEntryBench.h"

#include "LinkFileBuilder.h"
#include "cipher/CipherService.h"
#include "store/EntryModel.h"
#include "store/EntryWriter.h"
#include "store/LinkFile.h"
#include "store/LinkRecord.h"

#include <QFile>
#include <benchmark/benchmark.h>
#include <unistd.h>

namespace {

constexpr int kAddsPerRepetition = 300;
constexpr int kRepetitions = 7;

void BM_Add(benchmark::State& state, const QString& path, int records)
{
    CipherService cipher;
    EntryModel model;
    if (!loadList(model, path, BenchData::kPassword, cipher) || model.rowCount() != records) {
        state.SkipWithError("the list did not load whole");
        return;
    }
    const QByteArray name = QFile::encodeName(path);
    const off_t size = off_t(records) * kLinkRecordSize;
    const BenchData::TypicalEntry item = BenchData::typicalEntry(records + 1);
    for (auto _ : state) {
        if (storedRecordCount(path) != model.rowCount()) {
            state.SkipWithError("the list and the file differ");
            break;
        }
        const auto encrypted = encryptEntry(item.title, item.url, item.userName, item.password,
                                            BenchData::kPassword, cipher);
        if (!encrypted) {
            state.SkipWithError("the entry does not fit");
            break;
        }
        if (const SaveResult saved = appendLinkRecord(path, encrypted->record); !saved) {
            state.SkipWithError(qPrintable(saved.error()));
            break;
        }
        model.appendEntry(Entry(item.title, item.url, item.userName, encrypted->passwordCipher,
                                model.GetLowLV2KeyNum()));

        // Back to N, so that every add is to a list of exactly N, and the load benchmarks
        // sharing the file find it as written.
        state.PauseTiming();
        model.removeEntry(model.rowCount() - 1);
        const bool truncated = ::truncate(name.constData(), size) == 0;
        state.ResumeTiming();
        if (!truncated) {
            state.SkipWithError("cannot truncate the link file back");
            break;
        }
    }
    if (::truncate(name.constData(), size) != 0)
        state.SkipWithError("cannot truncate the link file back");
    state.SetItemsProcessed(state.iterations());
}

} // namespace

void registerAddBenchmark(int records, const QString& linkFile)
{
    benchmark::RegisterBenchmark("BM_Add", BM_Add, linkFile, records)
        ->Arg(records)
        ->Unit(benchmark::kMicrosecond)
        ->Iterations(kAddsPerRepetition)
        ->Repetitions(kRepetitions)
        ->ReportAggregatesOnly();
}
