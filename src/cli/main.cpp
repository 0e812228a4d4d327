// quillor-cli: the entries of a Quillor data directory, from the command line.

#include "ListCommand.h"

#include "cipher/CipherService.h"
#include "cipher/SecureWipe.h"
#include "startup/Startup.h"
#include "store/Windows1252.h"

#include <QCoreApplication>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iterator>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: quillor-cli [--data-dir DIR] list [--format text|tsv|json] [--show-passwords]\n"
    "\n"
    "Reads the master password from standard input (one line) and prints every entry\n"
    "of the data directory in list order. Nothing is ever written.\n"
    "\n"
    "  --data-dir DIR     the folder holding QuiFil.ini and QuiURL.dab\n"
    "                     (default: the program's own data directory)\n"
    "  --format FORMAT    text (default), tsv or json\n"
    "  --show-passwords   include the passwords\n";

int usageError(const QString& problem)
{
    std::fprintf(stderr, "quillor-cli: %s\n%s", qPrintable(problem), kUsage);
    return kExitUsage;
}

int fail(const QString& message)
{
    std::fprintf(stderr, "quillor-cli: %s\n", qPrintable(message));
    return kExitFailure;
}

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
    QuietTerminal()
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
        std::fprintf(stderr, "Master password: ");
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

// One line from standard input, without echo when it is a terminal. nullopt at end of input.
// Read past stdio, whose buffer would keep a copy, into one buffer that is wiped whenever it
// has to grow.
std::optional<QByteArray> readPasswordLine()
{
    QuietTerminal quiet;
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
    if (!any)
        return std::nullopt;
    return line;
}

struct Arguments {
    QString dataDirectory;
    ListFormat format = ListFormat::Text;
    bool showPasswords = false;
    bool help = false;
};

std::optional<QString> parse(const QStringList& args, Arguments& out)
{
    bool sawCommand = false;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& arg = args[i];
        const auto value = [&]() -> std::optional<QString> {
            if (i + 1 >= args.size())
                return std::nullopt;
            return args[++i];
        };
        if (arg == u"--help" || arg == u"-h") {
            out.help = true;
        } else if (arg == u"--data-dir") {
            const auto dir = value();
            if (!dir || dir->isEmpty())
                return QStringLiteral("--data-dir needs a directory");
            out.dataDirectory = *dir;
        } else if (arg == u"--format" && sawCommand) {
            const auto format = value();
            if (format == u"text")
                out.format = ListFormat::Text;
            else if (format == u"tsv")
                out.format = ListFormat::Tsv;
            else if (format == u"json")
                out.format = ListFormat::Json;
            else
                return QStringLiteral("--format takes text, tsv or json");
        } else if (arg == u"--show-passwords" && sawCommand) {
            out.showPasswords = true;
        } else if (arg == u"list" && !sawCommand) {
            sawCommand = true;
        } else {
            return QStringLiteral("unexpected argument: %1").arg(arg);
        }
    }
    if (!sawCommand && !out.help)
        return QStringLiteral("no command given");
    return std::nullopt;
}

} // namespace

int main(int argc, char* argv[])
{
    // A file-size limit makes a write fail with EFBIG, reported like any other write failure,
    // instead of ending the program part-way through it.
    std::signal(SIGXFSZ, SIG_IGN);
    QCoreApplication app(argc, argv);
    Arguments args;
    if (const auto problem = parse(QCoreApplication::arguments(), args))
        return usageError(*problem);
    if (args.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    std::optional<QByteArray> line = readPasswordLine();
    if (!line)
        return fail(QStringLiteral("no master password on standard input"));
    // The files hold Windows-1252; a password typed in any other character could never match.
    // Each form of the password lives in one buffer of its own, wiped when done with.
    QString typed = QString::fromLocal8Bit(*line);
    secureWipe(*line);
    std::optional<QByteArray> password = Windows1252::fromUnicode(typed);
    secureWipe(typed);
    if (!password)
        return fail(QStringLiteral("wrong master password"));

    CipherService cipher([](const QString& message) {
        std::fprintf(stderr, "quillor-cli: %s\n", qPrintable(message));
    });
    ListRequest request;
    request.dataDirectory = args.dataDirectory.isEmpty()
                                ? dataDirectoryFor(defaultProfileDirectory())
                                : args.dataDirectory;
    request.format = args.format;
    request.showPasswords = args.showPasswords;
    request.typedPassword = std::move(*password);
    ListOutcome outcome = runList(request, cipher);
    secureWipe(request.typedPassword);
    if (outcome.exitCode != 0)
        return fail(outcome.error);

    const bool written =
        std::fwrite(outcome.output.constData(), 1, std::size_t(outcome.output.size()), stdout) ==
            std::size_t(outcome.output.size()) &&
        std::fflush(stdout) == 0;
    secureWipe(outcome.output);
    if (!written)
        return fail(QStringLiteral("cannot write to standard output"));
    return 0;
}
