// What the benchmark prints: a line per case, the growth table, the worst
// ratio.
#include "Bench.h"

#include <sys/vfs.h>

namespace bench {

QString verdict(bool met)
{
    return met ? QStringLiteral("met") : QStringLiteral("MISSED");
}

void printHeader()
{
    std::printf("%-44s %9s %9s %-20s %6s %9s %9s\n", "case", "pass s", "peer s", "peer is", "ratio",
                "pass us/f", "peer us/f");
}

void printResult(const Result &r)
{
    QString target;
    if (r.target)
        target = QStringLiteral("target <= %1  %2")
                     .arg(*r.target, 0, 'f', 2)
                     .arg(verdict(r.ratio() <= *r.target));
    const auto micros = [&](double value) {
        return r.files > 1 ? QString::number(value, 'f', 1) : QStringLiteral("-");
    };
    std::printf("%-44s %9.3f %9.3f %-20s %6.2f %9s %9s  %s\n", qPrintable(r.name), r.pass, r.peer,
                qPrintable(r.peerName), r.ratio(), qPrintable(micros(r.passMicros())),
                qPrintable(micros(r.peerMicros())), qPrintable(target));
    if (r.peakKiB >= 0)
        std::printf("%-44s peak memory during the pass %.1f MB (log %s), target < %.0f MB  %s\n",
                    "", megabytes(r.peakKiB),
                    r.files >= ActivityLog::MaxLines ? "full" : "not full", WindowMemoryTargetMB,
                    qPrintable(verdict(megabytes(r.peakKiB) < WindowMemoryTargetMB)));
    std::fflush(stdout);
}

QString fsTypeName(const QString &path)
{
    struct statfs info;
    if (::statfs(QFile::encodeName(path).constData(), &info) != 0)
        return QStringLiteral("?");
    switch (static_cast<unsigned long>(info.f_type)) {
    case 0xEF53:
        return QStringLiteral("ext2/3/4");
    case 0x58465342:
        return QStringLiteral("xfs");
    case 0x9123683E:
        return QStringLiteral("btrfs");
    case 0x01021994:
        return QStringLiteral("tmpfs");
    case 0x794C7630:
        return QStringLiteral("overlay");
    default:
        return QStringLiteral("0x%1").arg(quint64(info.f_type), 0, 16);
    }
}

void printGrowth(const Bench &b, const QStringList &places, const QList<int> &sizes)
{
    std::printf("\ngrowth: us per file (medians of the rounds); flatness = max / min across "
                "sizes, target <= %.2f for the pass\n",
                FlatnessTarget);
    std::printf("%-12s %-20s %-6s", "case", "side", "place");
    for (const int size : sizes)
        std::printf(" %9d", size);
    std::printf(" %9s\n", "flatness");
    for (const QString &place : places) {
        for (const QString &key : SmallCases) {
            std::vector<const Result *> row;
            for (const int size : sizes)
                for (const Result &r : b.results)
                    if (r.key == key && r.place == place && r.files == size)
                        row.push_back(&r);
            if (row.size() != size_t(sizes.size()))
                continue;
            for (const bool passSide : {true, false}) {
                std::printf("%-12s %-20s %-6s", qPrintable(key),
                            passSide ? "pass" : qPrintable(row.front()->peerName),
                            qPrintable(place));
                double lo = 0;
                double hi = 0;
                for (const Result *r : row) {
                    const double us = passSide ? r->passMicros() : r->peerMicros();
                    lo = lo == 0 ? us : qMin(lo, us);
                    hi = qMax(hi, us);
                    std::printf(" %9.1f", us);
                }
                std::printf(" %9.2f", hi / lo);
                if (passSide)
                    std::printf("  %s", qPrintable(verdict(hi / lo <= FlatnessTarget)));
                std::printf("\n");
            }
            if (key == QLatin1String("window")) {
                std::printf("%-12s %-20s %-6s", qPrintable(key), "peak memory, MB",
                            qPrintable(place));
                double highest = 0;
                for (const Result *r : row) {
                    std::printf(" %9.1f", megabytes(r->peakKiB));
                    highest = qMax(highest, megabytes(r->peakKiB));
                }
                std::printf(" %9s  target < %.0f MB %s\n", "", WindowMemoryTargetMB,
                            qPrintable(verdict(highest < WindowMemoryTargetMB)));
            }
        }
    }
}

void printWorst(const Bench &b)
{
    const Result *worst = nullptr;
    for (const Result &r : b.results)
        if (r.target && (!worst || r.ratio() / *r.target > worst->ratio() / *worst->target))
            worst = &r;
    if (worst)
        std::printf("\nworst ratio: %.2f (%s, %s, target <= %.2f, %s)\n", worst->ratio(),
                    qPrintable(worst->name), qPrintable(worst->place), *worst->target,
                    qPrintable(verdict(worst->ratio() <= *worst->target)));
}

} // namespace bench
