// quillor-cli: the entries of a Quillor data directory, from the command line.

#include "ListCommand.h"

#include "cipher/CipherService.h"
#include "cipher/SecureWipe.h"
#include "startup/Startup.h"
#include "store/Windows1252.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
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

// One line from standard input, without echo when it is a terminal. nullopt at end of input.
std::optional<QByteArray> readPasswordLine()
{
    const bool terminal = ::isatty(STDIN_FILENO) == 1;
    termios saved{};
    if (terminal && ::tcgetattr(STDIN_FILENO, &saved) == 0) {
        std::fprintf(stderr, "Master password: ");
        std::fflush(stderr);
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    QByteArray line;
    bool any = false;
    for (int c; (c = std::fgetc(stdin)) != EOF;) {
        any = true;
        if (c == '\n')
            break;
        line.append(char(c));
    }
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fprintf(stderr, "\n");
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
    QCoreApplication app(argc, argv);
    Arguments args;
    if (const auto problem = parse(QCoreApplication::arguments(), args))
        return usageError(*problem);
    if (args.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    auto line = readPasswordLine();
    if (!line)
        return fail(QStringLiteral("no master password on standard input"));
    // The files hold Windows-1252; a password typed in any other character could never match.
    const auto password = Windows1252::fromUnicode(QString::fromLocal8Bit(*line));
    secureWipe(*line);
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
    request.typedPassword = *password;
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
