// One back-up or restore of a pair, in a process of its own; bench/run.sh times the whole
// process against copying the same files with cp and syncing them.
//   quillor_backup_bench make DIR RECORDS   DIR/data and DIR/back-up, each a pair of typical
//                                           entries
//   quillor_backup_bench backup DIR         the pair of DIR/data copied into DIR/back-up
//   quillor_backup_bench restore DIR        DIR/data kept in its UnDo, DIR/back-up put in its place

#include "LinkFileBuilder.h"
#include "cipher/CipherService.h"
#include "store/BackUp.h"
#include "store/MasterPasswordFile.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

namespace {

int fail(const QString& what)
{
    std::fprintf(stderr, "quillor_backup_bench: %s\n", qPrintable(what));
    return 1;
}

bool makePair(const QString& dir, int records)
{
    CipherService cipher;
    return QDir().mkpath(dir) &&
           BenchData::makeTypicalLinkFile(dir + QStringLiteral("/QuiURL.dab"), records,
                                          BenchData::kPassword) &&
           MasterPasswordFile::create(dir + QStringLiteral("/QuiFil.ini"), BenchData::kPassword,
                                      cipher)
               .ok();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 3)
        return fail(QStringLiteral("usage: make|backup|restore DIR [RECORDS]"));
    const QString& mode = args[1];
    const QString data = args[2] + QStringLiteral("/data");
    const QString backUp = args[2] + QStringLiteral("/back-up");

    if (mode == u"make") {
        const int records = args.value(3).toInt();
        return makePair(data, records) && makePair(backUp, records) ? 0 : 1;
    }
    if (mode == u"backup") {
        const SaveResult saved = BackUp::backUpPair(data, backUp);
        return saved ? 0 : fail(saved.error());
    }
    if (mode == u"restore") {
        const BackUp::RestoreOutcome restored = BackUp::restoreFromBackUp(data, backUp);
        if (restored.status != BackUp::RestoreOutcome::Status::Restored)
            return fail(QStringLiteral("restore failed: %1").arg(restored.failure));
        return 0;
    }
    return fail(QStringLiteral("unknown mode %1").arg(mode));
}
