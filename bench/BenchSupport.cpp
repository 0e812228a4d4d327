#include "BenchSupport.h"

#include <unistd.h>

namespace BenchSupport {

bool initialize(int argc, char** argv)
{
    // Kept for the whole run, in case the library holds on to what it parsed.
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    static std::vector<char*> args;
    args.assign(argv, argv + argc);
    args.insert(args.begin() + 1, interleave);
    int argCount = int(args.size());
    benchmark::Initialize(&argCount, args.data());
    return !benchmark::ReportUnrecognizedArguments(argCount, args.data());
}

FigureReporter::FigureReporter()
    : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular)
{
}

void FigureReporter::ReportRuns(const std::vector<Run>& runs)
{
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
        if (run.error_occurred) {
            m_failed = true;
            continue;
        }
        const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
        if ((run.run_type == Run::RT_Iteration && run.repetitions <= 1) || median) {
            const double unit = benchmark::GetTimeUnitMultiplier(run.time_unit);
            m_seconds[run.run_name.function_name][run.run_name.args] = {
                run.GetAdjustedRealTime() / unit, run.GetAdjustedCPUTime() / unit};
        }
    }
}

FigureReporter::Seconds FigureReporter::seconds(const std::string& name, int arg) const
{
    const auto byName = m_seconds.find(name);
    if (byName == m_seconds.end())
        return {};
    const auto byArg = byName->second.find(std::to_string(arg));
    return byArg == byName->second.end() ? Seconds{} : byArg->second;
}

} // namespace BenchSupport
