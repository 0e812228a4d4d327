#pragma once

// What every benchmark program here shares: how the library is started, and a reporter that
// keeps the figures the programs print their ratios from.

#include <benchmark/benchmark.h>
#include <map>
#include <string>
#include <vector>

namespace BenchSupport {

// benchmark::Initialize with the repetitions of different benchmarks interleaved, so that all
// of them see the machine alike; flags given on the command line come later and win. False on
// a flag it does not know, having said so.
bool initialize(int argc, char** argv);

// The console table as usual, and each benchmark's time per iteration kept by name and
// argument: the median of its repetitions, or its one run without them. Colours only on a
// terminal: this reporter replaces the one the colour flag would set up.
class FigureReporter : public benchmark::ConsoleReporter {
public:
    struct Seconds {
        double real = 0; // wall clock: what a person waits, disk waits included
        double cpu = 0;  // this process's work: steadier where the machine is busy
    };

    FigureReporter();
    void ReportRuns(const std::vector<Run>& runs) override;

    bool anyFailed() const { return m_failed; }
    // Zeros for a benchmark that did not run.
    Seconds seconds(const std::string& name, int arg) const;

private:
    // function name -> argument -> seconds per iteration
    std::map<std::string, std::map<std::string, Seconds>> m_seconds;
    bool m_failed = false;
};

} // namespace BenchSupport
