// Runs a command and writes its wall milliseconds and peak resident KiB to a file. A program's
// peak memory read by a Python parent includes the parent's own: a forked child starts from the
// parent's pages. Forked from this small process instead, the command's peak is its own.
//   quillor_measure OUT_FILE COMMAND [ARGS...]

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: quillor_measure OUT_FILE COMMAND [ARGS...]\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("fork");
        return 2;
    }
    if (child == 0) {
        ::execv(argv[2], argv + 2);
        std::perror(argv[2]);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (::wait4(child, &status, 0, &usage) != child) {
        std::perror("wait4");
        return 2;
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (std::FILE* out = std::fopen(argv[1], "w")) {
        std::fprintf(out, "%.3f %ld\n", ms, usage.ru_maxrss);
        std::fclose(out);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
