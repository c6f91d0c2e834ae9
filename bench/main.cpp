// Times transfer passes against the shell commands a user would otherwise
// run on the same data, and the window's share of a pass against the pass
// alone. The two sides of a case take turns, on freshly made data each time,
// so neither profits from the other's warm cache or pending writes.
#include "Bench.h"

#include "settings/modGlobal.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>

using namespace bench;

int main(int argc, char *argv[])
{
    if (argc == 3 && std::strcmp(argv[1], TracedCopyOption) == 0)
        return tracedCopy(argc, argv);

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pallwick_bench"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Times transfer passes against cp and mv, and the window against the headless pass."));
    parser.addHelpOption();
    const QCommandLineOption dirOption(
        QStringLiteral("dir"),
        QStringLiteral("Folder to make the data in (default: %1).").arg(QDir::tempPath()),
        QStringLiteral("folder"), QDir::tempPath());
    const QCommandLineOption roundsOption(
        QStringLiteral("rounds"), QStringLiteral("Runs of each side per case (default: 5)."),
        QStringLiteral("n"), QStringLiteral("5"));
    const QCommandLineOption filesOption(
        QStringLiteral("files"),
        QStringLiteral("Number of small files, or a comma-separated list of numbers to run the "
                       "small-file cases at each (default: 10000)."),
        QStringLiteral("list"), QStringLiteral("10000"));
    const QCommandLineOption growthOption(
        QStringLiteral("growth"),
        QStringLiteral("Run the small-file cases at 10000, 30000 and 100000 files."));
    const QCommandLineOption bigOption(
        QStringLiteral("big-mib"), QStringLiteral("Size of the big file in MiB (default: 1024)."),
        QStringLiteral("n"), QStringLiteral("1024"));
    const QCommandLineOption crossOption(
        QStringLiteral("cross-files"),
        QStringLiteral("Number of 1 MiB files moved across file systems (default: 500)."),
        QStringLiteral("n"), QStringLiteral("500"));
    const QCommandLineOption fuseOption(
        QStringLiteral("fuse-files"),
        QStringLiteral("Number of 256 KiB files moved onto the FUSE test drive (default: 200)."),
        QStringLiteral("n"), QStringLiteral("200"));
    const QCommandLineOption casesOption(
        QStringLiteral("cases"),
        QStringLiteral("Comma-separated cases to run, of: %1 (default: all).")
            .arg(AllCases.join(QLatin1Char(','))),
        QStringLiteral("list"), AllCases.join(QLatin1Char(',')));
    const QCommandLineOption placesOption(
        QStringLiteral("places"),
        QStringLiteral("Where the small-file cases run, of: dir (the data folder), tmpfs (one "
                       "mounted in it, as root) (default: dir,tmpfs)."),
        QStringLiteral("list"), AllPlaces.join(QLatin1Char(',')));
    const QCommandLineOption extraOption(
        QStringLiteral("extra-options"),
        QStringLiteral("Run the passes with QuietSeconds=1, the download set as Exclude and "
                       "NameTaken=1 (the data is made older than the quiet time first)."));
    parser.addOptions({dirOption, roundsOption, filesOption, growthOption, bigOption, crossOption,
                       fuseOption, casesOption, placesOption, extraOption});
    parser.process(app);
    g_extraOptions = parser.isSet(extraOption);

    const auto number = [&](const QCommandLineOption &option, const QString &text, int max) {
        bool ok = false;
        const int value = text.toInt(&ok);
        if (!ok || value < 1 || value > max)
            die(QStringLiteral("--%1 wants a whole number from 1 to %2")
                    .arg(option.names().first())
                    .arg(max));
        return value;
    };
    const auto list = [&](const QCommandLineOption &option, const QStringList &allowed) {
        const QStringList items = parser.value(option).split(QLatin1Char(','), Qt::SkipEmptyParts);
        for (const QString &item : items)
            if (!allowed.contains(item))
                die(QStringLiteral("--%1: unknown \"%2\"; choose from %3")
                        .arg(option.names().first(), item, allowed.join(QLatin1Char(','))));
        return items;
    };

    Bench b;
    b.rounds = number(roundsOption, parser.value(roundsOption), 99999);
    QList<int> sizes;
    if (parser.isSet(growthOption)) {
        if (parser.isSet(filesOption))
            die(QStringLiteral("--growth and --files exclude each other"));
        sizes = GrowthSizes;
    } else {
        for (const QString &item : parser.value(filesOption).split(QLatin1Char(',')))
            if (!sizes.contains(number(filesOption, item, MaxFiles)))
                sizes << number(filesOption, item, MaxFiles);
    }
    const qint64 bigSize = qint64(number(bigOption, parser.value(bigOption), 99999)) << 20;
    const int crossCount = number(crossOption, parser.value(crossOption), 99999);
    const int fuseCount = number(fuseOption, parser.value(fuseOption), 99999);
    const QStringList cases = list(casesOption, AllCases);
    const QStringList places = list(placesOption, AllPlaces);
    const auto wanted = [&](const char *c) { return cases.contains(QLatin1String(c)); };
    const bool anySmall = std::any_of(SmallCases.begin(), SmallCases.end(),
                                      [&](const QString &c) { return cases.contains(c); });

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    QTemporaryDir work(
        QDir(parser.value(dirOption)).filePath(QStringLiteral("pallwick-bench-XXXXXX")));
    if (!work.isValid())
        die(QStringLiteral("cannot create a folder in %1").arg(parser.value(dirOption)));
    b.root = work.path();
    std::snprintf(g_workRoot, sizeof g_workRoot, "%s", QFile::encodeName(b.root).constData());
    const QString src = b.root + QStringLiteral("/src");
    const QString dst = b.root + QStringLiteral("/dst");

    b.program = b.root + QStringLiteral("/program");
    makeFolder(b.program + QStringLiteral("/lang"));
    if (!QFile::copy(QStringLiteral(PALLWICK_SOURCE_DIR "/lang/Deutsch.dat"),
                     b.program + QStringLiteral("/lang/Deutsch.dat")))
        die(QStringLiteral("cannot copy lang/Deutsch.dat from " PALLWICK_SOURCE_DIR));
    writeSettings(b.program, src, dst);
    b.texts = useProgramFolder(b.root);

    const QString rootType = fsTypeName(b.root);
    std::printf(
        "Pallwick Lite benchmark: %d rounds per case after one untimed warm-up, data in %s (%s)\n",
        b.rounds, qPrintable(b.root), qPrintable(rootType));
    if (g_extraOptions)
        std::printf("with the extra options: %s\n",
                    QByteArray(ExtraSettings).replace('\n', ' ').constData());
    std::printf("times are medians in seconds over all rounds; ratio = pass / peer; "
                "us/f = microseconds per file\n");
    std::fflush(stdout);

    // The small-file cases, in the data folder and on a tmpfs: the tmpfs
    // takes the disk's writeback out and leaves the cost per file.
    if (anySmall) {
        for (const QString &place : places) {
            if (place == QLatin1String("dir")) {
                std::printf("\nin the data folder (%s):\n", qPrintable(rootType));
                printHeader();
                for (const int count : sizes)
                    runSmallCases(b, cases, place, b.root, count);
                continue;
            }
            if (rootType == QLatin1String("tmpfs")) {
                std::printf("\non a tmpfs: skipped, the data folder is one already\n");
                continue;
            }
            // Source and destination at the largest size, with room to spare.
            const int largest = *std::max_element(sizes.begin(), sizes.end());
            const qint64 sizeMiB = qint64(largest) * 2 * SmallSize * 5 / 4 / (1 << 20) + 64;
            const QString mountPoint = b.root + QStringLiteral("/tmpfs-set");
            TmpfsMount mount(mountPoint, sizeMiB);
            if (!mount.mounted()) {
                std::printf("\non a tmpfs: skipped, %s (run with --dir on a tmpfs instead)\n",
                            qPrintable(mount.failure()));
                continue;
            }
            std::printf("\non a tmpfs of %lld MiB mounted in the data folder:\n",
                        static_cast<long long>(sizeMiB));
            printHeader();
            for (const int count : sizes)
                runSmallCases(b, cases, place, mountPoint, count);
        }
    }

    if (wanted("copy-big") || wanted("move-cross") || wanted("move-fuse")) {
        std::printf("\nlarger files, from the data folder (%s):\n", qPrintable(rootType));
        printHeader();
    }

    // One big file, copied. Made once (a copy leaves it as it is); it stays
    // in the page cache for both sides.
    if (wanted("copy-big"))
        runCopyBig(b, src, dst, bigSize);

    // 1 MiB files moved between a tmpfs and the disk, both ways. Needs a
    // mount, so only as root.
    if (wanted("move-cross"))
        runMoveCross(b, src, dst, crossCount);

    // Files moved onto a drive that keeps data until each file's fsync.
    if (wanted("move-fuse"))
        runMoveFuse(b, src, fuseCount);

    if (sizes.size() > 1 && anySmall)
        printGrowth(b, places, sizes);

    std::printf("\npeak memory (VmHWM) over the runs: %lld KiB\n",
                static_cast<long long>(peakKiB()));

    if (wanted("log-memory"))
        runLogMemory(b);

    if (wanted("syscalls"))
        runSyscalls(b);

    if (wanted("arrival"))
        runArrival(b);

    printWorst(b);
    return 0;
}
