#include "Salvage.h"

#include "OutputFile.h"
#include "store/CipherGuard.h"
#include "store/FileAccess.h"
#include "store/LinkFile.h"
#include "store/LinkRecord.h"
#include "store/MasterPasswordFile.h"
#include "store/Windows1252.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

#include <vector>

namespace {

const char kSalvageHelp[] =
    "usage: quillor-cli [--data-dir DIR] salvage -o FILE\n"
    "\n"
    "Copies every record of the link file (QuiURL.dab) that can still be read into FILE,\n"
    "a new link file readable by you alone, and names each record it skips on standard\n"
    "error. The way out when Quillor stops loading the list at a damaged record: with\n"
    "Quillor closed, keep the damaged file aside and put FILE in its place. The master\n"
    "password is the first line of standard input. A link as FILE is followed only when it\n"
    "is yours, in a directory where no one else can replace it. Exit status 3: FILE is\n"
    "written, but may not outlast a power cut.\n"
    "\n"
    "  -o FILE   the new link file (not the damaged one itself)\n";

// Skipped records waiting for the title of the next one that reads, one run for each stretch
// skipped for one reason: a damaged tail of any length takes the same memory.
struct SkippedRun {
    qint64 first = 0; // record numbers, from 1
    qint64 last = 0;
    QString reason;
};
// Beyond this many runs (reasons that change at every record), the oldest are named without
// the title after them.
constexpr std::size_t kMostRuns = 64;

// Whether two paths name one file (a link to it included).
bool sameFile(const QString& a, const QString& b)
{
    struct stat sa {};
    struct stat sb {};
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

QString titleOf(const LinkRecordView& record, QByteArrayView master, CipherService& cipher)
{
    return QLatin1Char('"') +
           visible(Windows1252::toUnicode(cipher.DecryptText(record.title, master))) +
           QLatin1Char('"');
}

int runSalvage(CommandContext& context)
{
    CommandOptions options({QCommandLineOption(QStringLiteral("o"), {}, QStringLiteral("FILE"))});
    if (const auto exit = parseOrExit(options, context, kSalvageHelp))
        return *exit;
    if (!options.positional().isEmpty())
        return usageError(
            QStringLiteral("unexpected argument: %1").arg(options.positional().front()),
            kSalvageHelp);
    const QString target = options.value(QStringLiteral("o"));
    if (target.isEmpty())
        return usageError(QStringLiteral("-o FILE is needed"), kSalvageHelp);
    if (target == u"-")
        return usageError(QStringLiteral("a link file is written to a file, not to standard "
                                         "output"),
                          kSalvageHelp);

    const DataPaths paths = DataPaths::forDataDirectory(context.dataDirectory);
    // Written over the damaged file, the records skipped would be gone for good.
    if (sameFile(target, paths.linkFilePath))
        return fail(QStringLiteral("%1 is the damaged link file itself; write the records "
                                   "elsewhere")
                        .arg(target));

    const std::optional<Secret> master = readMasterPassword();
    if (!master)
        return kExitFailure;
    if (const QString problem =
            masterPasswordProblem(paths.masterPasswordPath, master->view(), context.cipher);
        !problem.isEmpty())
        return fail(problem);

    QFile source;
    if (const QString reason = openRegularFile(source, paths.linkFilePath); !reason.isEmpty())
        return fail(
            QStringLiteral("cannot read the link file: %1: %2").arg(paths.linkFilePath, reason));
    const qint64 size = source.size();
    // A tail too short to count as a record is named too: it may be what is left of one.
    const qint64 count = (size + kLinkRecordSize - 1) / kLinkRecordSize;

    OutputFile writer(target);
    if (const QString problem = writer.error(); !problem.isEmpty())
        return fail(QStringLiteral("cannot write the salvaged records: %1").arg(problem));
    // Each record is read on its own, so that a damaged one does not stop the ones after it.
    qint64 kept = 0;
    QString lastTitle;
    std::vector<SkippedRun> skipped;
    CipherGuard provider(context.cipher);
    const auto reportRuns = [&](std::size_t runs, const QString& nextTitle) {
        for (std::size_t r = 0; r < runs; ++r) {
            for (qint64 i = skipped[r].first; i <= skipped[r].last; ++i) {
                QString line =
                    QStringLiteral("record %1 skipped: %2").arg(i).arg(skipped[r].reason);
                if (!lastTitle.isEmpty())
                    line += QStringLiteral(", after %1").arg(lastTitle);
                if (!nextTitle.isEmpty())
                    line += QStringLiteral(", before %1").arg(nextTitle);
                printError(line);
            }
        }
        skipped.erase(skipped.begin(), skipped.begin() + std::ptrdiff_t(runs));
    };
    const auto reportSkipped = [&](const QString& nextTitle) {
        reportRuns(skipped.size(), nextTitle);
    };
    const auto skip = [&](qint64 record, const QString& reason) {
        if (!skipped.empty() && skipped.back().last + 1 == record &&
            skipped.back().reason == reason) {
            skipped.back().last = record;
            return;
        }
        if (skipped.size() == kMostRuns)
            reportRuns(1, {});
        skipped.push_back({record, record, reason});
    };
    // One buffer for every record: a long damaged stretch allocates nothing as it goes.
    QByteArray buffer(kLinkRecordSize, Qt::Uninitialized);
    for (qint64 i = 0; i < count; ++i) {
        const qint64 offset = i * kLinkRecordSize;
        const qint64 want = std::min<qint64>(kLinkRecordSize, size - offset);
        const QByteArrayView bytes(buffer.constData(), want);
        if (!source.seek(offset) || source.read(buffer.data(), want) != want) {
            skip(i + 1, QStringLiteral("it cannot be read (%1)").arg(source.errorString()));
            continue;
        }
        const std::optional<LinkRecordView> record = decodeLinkRecord(bytes);
        const std::optional<QByteArray> clean =
            record
                ? encodeLinkRecord({record->title.toByteArray(), record->url.toByteArray(),
                                    record->userName.toByteArray(), record->password.toByteArray()})
                : std::nullopt;
        if (!clean) {
            skip(i + 1, want < kLinkRecordSize
                            ? QStringLiteral("the last %1 bytes are a record cut short").arg(want)
                            : QStringLiteral("it is damaged"));
            continue;
        }
        const QString title = titleOf(*record, master->view(), context.cipher);
        reportSkipped(title);
        lastTitle = title;
        if (!writer.write(*clean))
            return fail(
                QStringLiteral("cannot write the salvaged records: %1").arg(writer.error()));
        ++kept;
    }
    reportSkipped({});
    if (kept == 0) {
        writer.cancel();
        return fail(QStringLiteral("no record of %1 can be read; nothing was written")
                        .arg(paths.linkFilePath));
    }
    const SaveResult saved = writer.commit();
    if (!saved.made())
        return fail(QStringLiteral("cannot write the salvaged records: %1").arg(saved.error()));
    printError(QStringLiteral("%1 of %2 records copied into %3; with Quillor closed, put it in "
                              "the place of %4")
                   .arg(kept)
                   .arg(count)
                   .arg(target, paths.linkFilePath));
    if (!saved) {
        printError(QStringLiteral("the copy is in place, but may not outlast a power cut: %1")
                       .arg(saved.error()));
        return kExitMadeUnsure;
    }
    return kExitSuccess;
}

} // namespace

const Command kSalvageCommand{"salvage", kSalvageHelp, runSalvage};
