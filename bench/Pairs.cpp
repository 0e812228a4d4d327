// Sets two programs against each other as whole processes taking turns (A B A B ...) and prints
// one row of the benchmark table: each side's median time and peak memory, the smallest, median
// and largest of the pairs' time ratios A/B, and the ratio of the peaks. A pair is the only fair
// unit on a shared machine: both of its runs see the same load. Exits 1 when a run fails or
// gives no time, 3 when a peak of A is over --limit-mib; a time is never judged.
//
//   quillor_pairs [--what TEXT] [--target TEXT] [--pairs N] [--limit-mib N] SIDE --vs SIDE
//   SIDE: [--name TEXT] [--stdin FILE] [--time wall|reported|first-frame=LIBRARY]
//         PROGRAM [ARGUMENTS...]
//
// wall: from fork to exit. reported: the milliseconds on the last line the program writes to
// standard output. first-frame: from fork to the first frame the preloaded LIBRARY noted
// (FirstFrame.cpp); it ends the program there. Peaks come from wait4: forked from this small
// process, a program's peak is its own (exec keeps the peak of the process it replaces).

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Side {
    std::string name;
    std::string stdinFile = "/dev/null";
    enum class Time { Wall, Reported, FirstFrame } time = Time::Wall;
    std::string preload;
    std::vector<std::string> argv;
};

struct Run {
    bool ok = false;
    double ms = 0;
    double peakMiB = 0;
};

[[noreturn]] void usage(const char* why)
{
    std::fprintf(stderr,
                 "quillor_pairs: %s\nusage: quillor_pairs [--what TEXT] [--target TEXT] "
                 "[--pairs N] [--limit-mib N] SIDE --vs SIDE\n  SIDE: [--name TEXT] [--stdin "
                 "FILE] [--time wall|reported|first-frame=LIBRARY] PROGRAM [ARGUMENTS...]\n",
                 why);
    std::exit(2);
}

double monotonicMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Everything a descriptor gives until its end.
std::string readAll(int fd)
{
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0)
            text.append(buffer, std::size_t(got));
        else if (got == 0 || errno != EINTR)
            return text;
    }
}

std::optional<double> lastLineNumber(const std::string& text)
{
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == ' '))
        line.pop_back();
    line = line.substr(line.find_last_of('\n') + 1);
    char* end = nullptr;
    const double value = std::strtod(line.c_str(), &end);
    if (line.empty() || *end != '\0' || value < 0)
        return std::nullopt;
    return value;
}

Run runOnce(const Side& side, const std::string& frameFile)
{
    Run run;
    std::vector<std::string> env;
    std::string preload = side.preload;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (side.time != Side::Time::FirstFrame)
            env.push_back(entry);
        else if (entry.rfind("LD_PRELOAD=", 0) == 0)
            preload += ':' + entry.substr(std::strlen("LD_PRELOAD="));
        else if (entry.rfind("QUILLOR_FIRST_FRAME_FILE=", 0) != 0)
            env.push_back(entry);
    }
    if (side.time == Side::Time::FirstFrame) {
        env.push_back("LD_PRELOAD=" + preload);
        env.push_back("QUILLOR_FIRST_FRAME_FILE=" + frameFile);
        ::unlink(frameFile.c_str());
    }
    std::vector<char*> envp, argv;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    for (const std::string& a : side.argv)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    int out[2] = {-1, -1};
    if (side.time == Side::Time::Reported && ::pipe2(out, O_CLOEXEC) != 0) {
        std::perror("pipe");
        return run;
    }
    const double start = monotonicMs();
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("fork");
        return run;
    }
    if (child == 0) {
        const int in = ::open(side.stdinFile.c_str(), O_RDONLY);
        const int sink = out[1] >= 0 ? out[1] : ::open("/dev/null", O_WRONLY);
        if (in < 0 || sink < 0 || ::dup2(in, 0) < 0 || ::dup2(sink, 1) < 0)
            _exit(126);
        ::execve(argv[0], argv.data(), envp.data());
        std::perror(argv[0]);
        _exit(127);
    }
    std::string reported;
    if (out[0] >= 0) {
        ::close(out[1]);
        reported = readAll(out[0]);
        ::close(out[0]);
    }
    int status = 0;
    rusage usage{};
    while (::wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::perror("wait4");
            return run;
        }
    }
    const double end = monotonicMs();
    run.peakMiB = double(usage.ru_maxrss) / 1024;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "quillor_pairs: %s ended with %s %d\n", argv[0],
                     WIFEXITED(status) ? "status" : "signal",
                     WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
        return run;
    }
    std::optional<double> ms;
    switch (side.time) {
    case Side::Time::Wall:
        ms = end - start;
        break;
    case Side::Time::Reported:
        ms = lastLineNumber(reported);
        break;
    case Side::Time::FirstFrame:
        if (const int fd = ::open(frameFile.c_str(), O_RDONLY | O_CLOEXEC); fd >= 0) {
            if (const auto frameAt = lastLineNumber(readAll(fd)))
                ms = *frameAt - start;
            ::close(fd);
        }
        break;
    }
    if (!ms) {
        std::fprintf(stderr, "quillor_pairs: %s gave no time\n", argv[0]);
        return run;
    }
    run.ms = *ms;
    run.ok = true;
    return run;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Parses one side from args[at], up to "--vs" or the end.
Side parseSide(const std::vector<std::string>& args, std::size_t& at)
{
    Side side;
    const auto value = [&](const char* option) -> const std::string& {
        if (at + 1 >= args.size())
            usage((std::string(option) + " needs a value").c_str());
        return args[++at];
    };
    for (; at < args.size() && args[at].rfind("--", 0) == 0 && args[at] != "--vs"; ++at) {
        const std::string& option = args[at];
        if (option == "--name") {
            side.name = value("--name");
        } else if (option == "--stdin") {
            side.stdinFile = value("--stdin");
        } else if (option == "--time") {
            const std::string& time = value("--time");
            if (time == "wall") {
                side.time = Side::Time::Wall;
            } else if (time == "reported") {
                side.time = Side::Time::Reported;
            } else if (time.rfind("first-frame=", 0) == 0) {
                side.time = Side::Time::FirstFrame;
                side.preload = time.substr(std::strlen("first-frame="));
            } else {
                usage(("unknown --time " + time).c_str());
            }
        } else {
            usage(("unknown option " + option).c_str());
        }
    }
    for (; at < args.size() && args[at] != "--vs"; ++at)
        side.argv.push_back(args[at]);
    if (side.argv.empty())
        usage("a side without a program");
    return side;
}

std::string figures(double ms, double peakMiB)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f ms, %.1f MiB",
                  ms < 10    ? 2
                  : ms < 100 ? 1
                             : 0,
                  ms, peakMiB);
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string what, target;
    int pairs = 7;
    double limitMiB = 0;
    std::size_t at = 0;
    for (; at < args.size(); ++at) {
        const std::string& option = args[at];
        const auto value = [&]() -> const std::string& {
            if (at + 1 >= args.size())
                usage((option + " needs a value").c_str());
            return args[++at];
        };
        if (option == "--what")
            what = value();
        else if (option == "--target")
            target = value();
        else if (option == "--pairs")
            pairs = std::atoi(value().c_str());
        else if (option == "--limit-mib")
            limitMiB = std::atof(value().c_str());
        else
            break;
    }
    if (pairs < 1)
        usage("--pairs must be at least 1");
    // The side options are parsed from here on.
    const Side a = parseSide(args, at);
    if (at >= args.size() || args[at] != "--vs")
        usage("no --vs");
    ++at;
    const Side b = parseSide(args, at);
    if (what.empty())
        what = a.name.empty() ? a.argv[0] : a.name;

    char frameTemplate[] = "/tmp/quillor-first-frame-XXXXXX";
    const int frameFd = ::mkstemp(frameTemplate);
    if (frameFd < 0) {
        std::perror("mkstemp");
        return 2;
    }
    ::close(frameFd);
    const std::string frameFile = frameTemplate;

    std::vector<double> ratios, aMs, bMs, aPeak, bPeak;
    double aPeakMax = 0;
    bool ok = true;
    // The first pair warms the page cache and lays in any first-run files: not counted.
    for (int i = 0; i <= pairs && ok; ++i) {
        const Run ra = runOnce(a, frameFile);
        const Run rb = ra.ok ? runOnce(b, frameFile) : Run{};
        ok = ra.ok && rb.ok && rb.ms > 0;
        aPeakMax = std::max(aPeakMax, ra.peakMiB);
        if (!ok || i == 0)
            continue;
        ratios.push_back(ra.ms / rb.ms);
        aMs.push_back(ra.ms);
        bMs.push_back(rb.ms);
        aPeak.push_back(ra.peakMiB);
        bPeak.push_back(rb.peakMiB);
    }
    ::unlink(frameFile.c_str());

    const std::string reference = b.name.empty() ? b.argv[0] : b.name;
    if (!ok) {
        std::printf("| %s | failed | %s | — | — | %s | %d |\n", what.c_str(), reference.c_str(),
                    target.c_str(), pairs);
        std::fflush(stdout);
        return 1;
    }
    const bool overLimit = limitMiB > 0 && aPeakMax > limitMiB;
    std::string limitNote;
    if (limitMiB > 0) {
        char text[96];
        std::snprintf(text, sizeof text, "%slimit %.0f MiB%s", target.empty() ? "" : "; ", limitMiB,
                      overLimit ? ": OVER" : "");
        limitNote = text;
    }
    std::printf("| %s | %s | %s: %s | %.2f / **%.2f** / %.2f | %.2f | %s%s | %d |\n", what.c_str(),
                figures(median(aMs), median(aPeak)).c_str(), reference.c_str(),
                figures(median(bMs), median(bPeak)).c_str(),
                *std::min_element(ratios.begin(), ratios.end()), median(ratios),
                *std::max_element(ratios.begin(), ratios.end()), median(aPeak) / median(bPeak),
                target.c_str(), limitNote.c_str(), pairs);
    std::fflush(stdout);
    if (overLimit) {
        std::fprintf(stderr, "quillor_pairs: %s: peak %.1f MiB is over the limit of %.0f MiB\n",
                     what.c_str(), aPeakMax, limitMiB);
        return 3;
    }
    return 0;
}
