#include "SecretInput.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iterator>
#include <termios.h>
#include <unistd.h>

namespace {

// The terminal's mode before the prompt turned echo off, for the signal handler.
termios savedTerminal{};
volatile std::sig_atomic_t echoIsOff = 0;

// Ctrl-C (or any ending signal) at the prompt: the terminal gets its echo back before the
// signal ends the program as it would have.
extern "C" void restoreEchoAndEnd(int signal)
{
    if (echoIsOff)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// Echo off on the terminal for as long as the prompt waits, however the wait ends.
class QuietTerminal {
public:
    explicit QuietTerminal(const char* prompt)
    {
        if (::isatty(STDIN_FILENO) != 1 || ::tcgetattr(STDIN_FILENO, &savedTerminal) != 0)
            return;
        struct sigaction restore {};
        restore.sa_handler = restoreEchoAndEnd;
        sigemptyset(&restore.sa_mask);
        for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
            ::sigaction(kEndingSignals[i], &restore, &m_previous[i]);
        termios quiet = savedTerminal;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        echoIsOff = 1;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        m_active = true;
        // Only now: a prompt seen is a prompt that does not show what is typed.
        std::fputs(prompt, stderr);
        std::fflush(stderr);
    }
    ~QuietTerminal()
    {
        if (!m_active)
            return;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
        echoIsOff = 0;
        for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
            ::sigaction(kEndingSignals[i], &m_previous[i], nullptr);
        std::fprintf(stderr, "\n");
    }
    QuietTerminal(const QuietTerminal&) = delete;
    QuietTerminal& operator=(const QuietTerminal&) = delete;

private:
    static constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    struct sigaction m_previous[std::size(kEndingSignals)]{};
    bool m_active = false;
};

} // namespace

std::optional<Secret> readSecretLine(const char* prompt)
{
    QuietTerminal quiet(prompt);
    // One buffer, wiped whenever it has to grow.
    QByteArray line;
    line.reserve(256);
    bool any = false;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        any = true;
        if (c == '\n')
            break;
        if (line.size() == line.capacity()) {
            QByteArray larger;
            larger.reserve(2 * line.capacity());
            larger.append(line);
            secureWipe(line);
            line = std::move(larger);
        }
        line.append(c);
    }
    if (line.endsWith('\r'))
        line.chop(1);
    Secret secret(std::move(line));
    if (!any)
        return std::nullopt;
    return secret;
}

QString decodeTyped(const Secret& line)
{
    // Qt takes the system's 8-bit encoding for UTF-8 here; this decoder writes the one buffer
    // it returns, where the stateful ones decode into a buffer of their own first.
    return QString::fromUtf8(line.bytes());
}
