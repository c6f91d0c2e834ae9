// The cases: each times the program's side against its peer on fresh data.
#include "Bench.h"

#include "platform/Clock.h"

#include <QCoreApplication>
#include <QListWidget>

#include <algorithm>
#include <map>
#include <thread>

#include <csignal>
#include <thread>

#include <malloc.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char **environ;

namespace bench {

// Processor time of this process and its finished children, in seconds. Next
// to the elapsed time it shows how much of a run was spent waiting (for the
// disk, or for a processor when the machine is busy).
double processorSeconds()
{
    double total = 0;
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        struct rusage usage;
        if (::getrusage(who, &usage) == 0)
            total += double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

QByteArray loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').mid(0, 3).join(' ')
                                          : QByteArray("?");
}

Result measure(const Case &c, int rounds)
{
    std::vector<double> passTimes;
    std::vector<double> peerTimes;
    std::fprintf(stderr, "%s (%s), load average %s:", qPrintable(c.name), qPrintable(c.place),
                 loadAverage().constData());
    g_timesLine = true;
    // One untimed run of each side first: the first run after the data is
    // made pays for the file system settling (and for warm caches) alone.
    for (int turn = 0; turn < 2; ++turn) {
        c.prepare();
        flush(c.flushFolder);
        const double cpu = processorSeconds();
        const double seconds = turn == 0 ? c.pass() : c.peer();
        std::fprintf(stderr, " warm-up %.3f (cpu %.3f)", seconds, processorSeconds() - cpu);
        c.verify();
    }
    for (int round = 0; round < rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool passTurn = (round + turn) % 2 == 0;
            c.prepare();
            flush(c.flushFolder);
            const double cpu = processorSeconds();
            const double seconds = passTurn ? c.pass() : c.peer();
            const double cpuSeconds = processorSeconds() - cpu;
            c.verify();
            (passTurn ? passTimes : peerTimes).push_back(seconds);
            std::fprintf(stderr, " %s %.3f (cpu %.3f)", passTurn ? "pass" : "peer", seconds,
                         cpuSeconds);
        }
    }
    std::fprintf(stderr, "; load average %s\n", loadAverage().constData());
    g_timesLine = false;
    Result result;
    result.key = c.key;
    result.place = c.place;
    result.name = c.name;
    result.peerName = c.peerName;
    result.files = c.files;
    result.pass = median(passTimes);
    result.peer = median(peerTimes);
    result.target = c.target;
    return result;
}

void runSmallCases(Bench &b, const QStringList &cases, const QString &place, const QString &base,
                   int count)
{
    const QString src = base + QStringLiteral("/src");
    const QString dst = base + QStringLiteral("/dst");
    const auto prepare = [&] {
        makeFiles(src, count, SmallSize);
        freshFolder(dst);
        if (g_extraOptions) // older than the quiet time, or nothing would move
            std::this_thread::sleep_for(std::chrono::milliseconds(ExtraQuietSeconds * 1000 + 100));
    };

    // A copy is durable, cp's is not: only where nothing needs flushing
    // (tmpfs) does the plain copy have a target; elsewhere the durable case
    // has it.
    const bool inMemory = fsTypeName(base) == QLatin1String("tmpfs");
    if (cases.contains(QLatin1String("copy-small"))) {
        const QString name = QStringLiteral("copy %1 x 4 KiB").arg(count);
        b.results.push_back(
            measure({QStringLiteral("copy-small"), place, name, QStringLiteral("cp -pR src/. dst/"),
                     count, inMemory ? std::optional<double>(1.15) : std::nullopt, prepare,
                     [&] { return runHeadlessPass(src, dst, false, b.texts, count, name); },
                     [&] { return runCommand(copyCommand(src, dst)); },
                     [&] { verifyTransfer(name, src, dst, count, SmallSize, false); }, base},
                    b.rounds));
        printResult(b.results.back());
    }

    if (cases.contains(QLatin1String("copy-durable"))) {
        const QString name = QStringLiteral("copy %1 x 4 KiB, durable").arg(count);
        b.results.push_back(
            measure({QStringLiteral("copy-durable"), place, name,
                     QStringLiteral("cp -pR && sync -f dst"), count, 1.15, prepare,
                     [&] { return runHeadlessPass(src, dst, false, b.texts, count, name); },
                     [&] { return runCommand(durableCopyCommand(src, dst)); },
                     [&] { verifyTransfer(name, src, dst, count, SmallSize, false); }, base},
                    b.rounds));
        printResult(b.results.back());
    }

    if (cases.contains(QLatin1String("move-small"))) {
        const QString name = QStringLiteral("move %1 x 4 KiB, same file system").arg(count);
        b.results.push_back(measure(
            {QStringLiteral("move-small"), place, name, QStringLiteral("find | mv -t dst"), count,
             1.30, prepare, [&] { return runHeadlessPass(src, dst, true, b.texts, count, name); },
             [&] { return runCommand(moveCommand(src, dst)); },
             [&] { verifyTransfer(name, src, dst, count, SmallSize, true); }, base},
            b.rounds));
        printResult(b.results.back());
    }

    // The whole window against the pass alone, on the same copy job.
    if (cases.contains(QLatin1String("window"))) {
        const QString name = QStringLiteral("window: copy %1 x 4 KiB, log shown").arg(count);
        writeSettings(b.program, src, dst);
        qint64 peak = -1;
        b.results.push_back(
            measure({QStringLiteral("window"), place, name, QStringLiteral("headless pass"), count,
                     1.20, prepare,
                     [&] {
                         resetPeak();
                         const auto window = openWindow(b.program);
                         const auto start = Clock_::now();
                         window->DoAction();
                         const double seconds = since(start);
                         peak = qMax(peak, statusKiB("VmHWM"));
                         QStringList lines;
                         for (int i = 0; i < window->List1->count(); ++i)
                             lines << window->List1->item(i)->text();
                         verifyWindowLog(name, lines, count, b.texts[msgCopied]);
                         return seconds;
                     },
                     [&] { return runHeadlessPass(src, dst, false, b.texts, count, name); },
                     [&] { verifyTransfer(name, src, dst, count, SmallSize, false); }, base},
                    b.rounds));
        b.results.back().peakKiB = peak;
        printResult(b.results.back());
    }
    freshFolder(src);
    freshFolder(dst);
}

void runCopyBig(Bench &b, const QString &src, const QString &dst, qint64 bigSize)
{
    const QString name = QStringLiteral("copy 1 x %1 MiB").arg(bigSize >> 20);
    freshFolder(src);
    const int dirFd = openFolder(src);
    writeFile(dirFd, QFile::encodeName(fileName(0)), bigSize, 1);
    ::close(dirFd);
    b.results.push_back(measure(
        {QStringLiteral("copy-big"), QStringLiteral("dir"), name, QStringLiteral("cp -p"), 1,
         // The pass's copy is durable and cp's is not: on a disk the
         // ratio is printed without a target.
         fsTypeName(b.root) == QLatin1String("tmpfs") ? std::optional<double>(1.10) : std::nullopt,
         [&] { freshFolder(dst); },
         [&] { return runHeadlessPass(src, dst, false, b.texts, 1, name); },
         [&] {
             return runCommand({QStringLiteral("cp"), QStringLiteral("-p"),
                                src + QLatin1Char('/') + fileName(0),
                                dst + QLatin1Char('/') + fileName(0)});
         },
         [&] { verifyTransfer(name, src, dst, 1, bigSize, false); }, b.root},
        b.rounds));
    printResult(b.results.back());
    freshFolder(src);
    freshFolder(dst);
}

void runMoveCross(Bench &b, const QString &src, const QString &dst, int crossCount)
{
    const TmpfsMount mount(b.root + QStringLiteral("/tmpfs"), qint64(crossCount) * 2 + 64);
    if (!mount.mounted()) {
        std::printf(
            "%-44s skipped: %s\n",
            qPrintable(QStringLiteral("move %1 x 1 MiB, across file systems").arg(crossCount)),
            qPrintable(mount.failure()));
    } else {
        const qint64 mib = 1 << 20;
        const QString onTmpfs = b.root + QStringLiteral("/tmpfs/files");
        for (const bool toTmpfs : {true, false}) {
            const QString from = toTmpfs ? src : onTmpfs;
            const QString to = toTmpfs ? onTmpfs : dst;
            const QString name = QStringLiteral("move %1 x 1 MiB, %2")
                                     .arg(crossCount)
                                     .arg(toTmpfs ? QStringLiteral("disk -> tmpfs")
                                                  : QStringLiteral("tmpfs -> disk"));
            b.results.push_back(
                measure({QStringLiteral("move-cross"), QStringLiteral("dir"), name,
                         QStringLiteral("find | mv -t dst"), crossCount,
                         // To the disk each file is on disk before its source goes;
                         // mv leaves it in memory. From the disk there is no target.
                         toTmpfs ? std::nullopt : std::optional<double>(1.50),
                         [&] {
                             makeFiles(from, crossCount, mib);
                             freshFolder(to);
                         },
                         [&] { return runHeadlessPass(from, to, true, b.texts, crossCount, name); },
                         [&] { return runCommand(moveCommand(from, to)); },
                         [&] { verifyTransfer(name, from, to, crossCount, mib, true); }, b.root},
                        b.rounds));
            printResult(b.results.back());
            freshFolder(from);
            freshFolder(to);
        }
    }
}

namespace {

// The FUSE test drive of tests/support, mounted over backing at folder while
// this lives; only root can mount it.
class FuseMount
{
public:
    FuseMount(const QString &backing, const QString &folder) : m_folder(QFile::encodeName(folder))
    {
        makeFolder(backing);
        makeFolder(folder);
        if (::geteuid() != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0) {
            m_failure = QStringLiteral("needs root and /dev/fuse");
            return;
        }
        for (int slot = 0; slot < 3 && m_slot < 0; ++slot)
            if (!g_mounts[slot][0])
                m_slot = slot;
        if (m_slot < 0 || size_t(m_folder.size()) >= sizeof g_mounts[0]) {
            m_failure = QStringLiteral("no room to note the mount");
            m_slot = -1;
            return;
        }
        QByteArray script = PALLWICK_SOURCE_DIR "/tests/support/volatile_fs.py";
        QByteArray python = "/usr/bin/python3", back = QFile::encodeName(backing);
        char *argv[] = {python.data(), script.data(), back.data(), m_folder.data(), nullptr};
        if (::posix_spawn(&m_pid, argv[0], nullptr, nullptr, argv, environ) != 0) {
            m_failure = QStringLiteral("cannot start /usr/bin/python3");
            m_slot = -1;
            return;
        }
        std::snprintf(g_mounts[m_slot], sizeof g_mounts[m_slot], "%s", m_folder.constData());
        const auto start = Clock_::now();
        while (!mountedNow()) {
            if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid || since(start) > 10) {
                m_failure = QStringLiteral("the FUSE drive does not mount (python3-fusepy?)");
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        m_mounted = true;
    }
    ~FuseMount()
    {
        if (m_slot >= 0) {
            ::umount2(g_mounts[m_slot], MNT_DETACH);
            g_mounts[m_slot][0] = '\0';
        }
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    FuseMount(const FuseMount &) = delete;
    FuseMount &operator=(const FuseMount &) = delete;

    bool mounted() const { return m_mounted; }
    QString failure() const { return m_failure; }

private:
    bool mountedNow() const
    {
        QFile mounts(QStringLiteral("/proc/self/mounts"));
        return mounts.open(QIODevice::ReadOnly) && mounts.readAll().contains(" " + m_folder + " ");
    }

    QByteArray m_folder;
    int m_slot = -1;
    pid_t m_pid = -1;
    bool m_mounted = false;
    QString m_failure;
};

} // namespace

void runMoveFuse(Bench &b, const QString &src, int count)
{
    const qint64 size = 256 << 10;
    const QString name = QStringLiteral("move %1 x 256 KiB onto a FUSE drive").arg(count);
    if (!onPath("rsync")) {
        std::printf("%-44s skipped: rsync is not installed (make bench installs it)\n",
                    qPrintable(name));
        return;
    }
    const FuseMount mount(b.root + QStringLiteral("/fuse-backing"),
                          b.root + QStringLiteral("/fuse"));
    if (!mount.mounted()) {
        std::printf("%-44s skipped: %s\n", qPrintable(name), qPrintable(mount.failure()));
        return;
    }
    const QString dst = b.root + QStringLiteral("/fuse/files");
    b.results.push_back(measure(
        {QStringLiteral("move-fuse"), QStringLiteral("dir"), name,
         QStringLiteral("rsync --fsync --remove"), count, 1.0,
         [&] {
             makeFiles(src, count, size);
             freshFolder(dst);
         },
         [&] { return runHeadlessPass(src, dst, true, b.texts, count, name); },
         [&] {
             return runCommand({QStringLiteral("rsync"), QStringLiteral("-a"),
                                QStringLiteral("--fsync"), QStringLiteral("--remove-source-files"),
                                src + QLatin1Char('/'), dst + QLatin1Char('/')});
         },
         [&] { verifyTransfer(name, src, dst, count, size, true); }, b.root},
        b.rounds));
    printResult(b.results.back());
    freshFolder(src);
    freshFolder(dst);
}

void runLogMemory(const Bench &b)
{
    const auto window = openWindow(b.program);
    ::malloc_trim(0);
    const qint64 before = statusKiB("VmRSS");
    const QString stamp = logStamp(Clock::system());
    for (int i = 0; i < ActivityLog::MaxLines; ++i)
        window->activityLog().append(
            stamp + QStringLiteral(" - ") + b.texts[msgCopied] +
            QStringLiteral(": Rechnung-2024-%1-Lieferant-Mueller-GmbH-Scan.pdf")
                .arg(i, 5, 10, QLatin1Char('0')));
    window->activityLog().selectLast();
    QCoreApplication::processEvents();
    const qint64 after = statusKiB("VmRSS");
    if (window->List1->count() != ActivityLog::MaxLines)
        die(QStringLiteral("the log holds %1 lines, not %2")
                .arg(window->List1->count())
                .arg(ActivityLog::MaxLines));
    std::printf("window with a full log of %d lines (%lld chars each): RSS %lld KiB before, "
                "%lld KiB after, growth %lld KiB (%.0f bytes a line)\n",
                ActivityLog::MaxLines,
                static_cast<long long>(window->List1->item(0)->text().size()),
                static_cast<long long>(before), static_cast<long long>(after),
                static_cast<long long>(after - before),
                double(after - before) * 1024 / ActivityLog::MaxLines);
}

struct SyscallCounts
{
    std::map<QString, qint64> calls;
    qint64 total = 0;
};

// The summary table that "strace -c" writes: "% time seconds usecs/call
// calls [errors] syscall", closed by a "total" row.
SyscallCounts readStraceSummary(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        die(QStringLiteral("cannot read %1").arg(path));
    SyscallCounts counts;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        bool numeric = false;
        fields.value(0).toDouble(&numeric);
        if (!numeric || (fields.size() != 5 && fields.size() != 6))
            continue;
        const qint64 calls = fields[3].toLongLong();
        const QString name = QString::fromLatin1(fields.last());
        if (name == QLatin1String("total"))
            counts.total = calls;
        else
            counts.calls[name] += calls;
    }
    if (counts.total == 0)
        die(QStringLiteral("no system calls counted in %1").arg(path));
    return counts;
}

SyscallCounts traceRun(const QString &output, const QStringList &command)
{
    runCommand(QStringList{QStringLiteral("strace"), QStringLiteral("-f"), QStringLiteral("-c"),
                           QStringLiteral("-o"), output, QStringLiteral("--")} +
               command);
    return readStraceSummary(output);
}

// System calls per file of a headless copy pass and of cp, each counted by
// strace over SyscallFiles files minus a run over none, so the start-up of
// either program drops out.
void runSyscalls(Bench &b)
{
    const QString title =
        QStringLiteral("system calls per file, copy %1 x 4 KiB").arg(SyscallFiles);
    if (!onPath("strace")) {
        std::printf("%s: skipped, strace is not installed\n", qPrintable(title));
        return;
    }
    const QString src = b.root + QStringLiteral("/src");
    const QString dst = b.root + QStringLiteral("/dst");
    const QString output = b.root + QStringLiteral("/strace.txt");
    const QStringList passCommand = {QCoreApplication::applicationFilePath(),
                                     QLatin1String(TracedCopyOption), b.root};
    const QStringList peerCommand = copyCommand(src, dst);

    const auto perFile = [&](const QStringList &command) {
        std::map<QString, double> result;
        makeFiles(src, 0, SmallSize);
        freshFolder(dst);
        const SyscallCounts empty = traceRun(output, command);
        makeFiles(src, SyscallFiles, SmallSize);
        freshFolder(dst);
        flush(b.root);
        const SyscallCounts full = traceRun(output, command);
        verifyTransfer(title, src, dst, SyscallFiles, SmallSize, false);
        for (const auto &[name, calls] : full.calls) {
            const auto before = empty.calls.find(name);
            result[name] =
                double(calls - (before != empty.calls.end() ? before->second : 0)) / SyscallFiles;
        }
        result[QString()] = double(full.total - empty.total) / SyscallFiles;
        return result;
    };
    const std::map<QString, double> pass = perFile(passCommand);
    const std::map<QString, double> peer = perFile(peerCommand);

    std::printf("\n%s (strace -f -c, minus a run over no files): pass %.1f, cp -pR %.1f\n",
                qPrintable(title), pass.at(QString()), peer.at(QString()));
    std::vector<std::pair<double, QString>> rows;
    for (const auto &[name, calls] : pass)
        if (!name.isEmpty())
            rows.emplace_back(calls, name);
    for (const auto &[name, calls] : peer)
        if (!name.isEmpty() && !pass.count(name))
            rows.emplace_back(0.0, name);
    std::sort(rows.begin(), rows.end(), [](const auto &x, const auto &y) { return x > y; });
    std::printf("  %-20s %8s %8s\n", "system call", "pass", "cp");
    for (const auto &[calls, name] : rows) {
        const auto other = peer.find(name);
        const double peerCalls = other != peer.end() ? other->second : 0.0;
        // Calls that are not made per file round to nothing here.
        if (calls >= 0.05 || peerCalls >= 0.05)
            std::printf("  %-20s %8.2f %8.2f\n", qPrintable(name), calls, peerCalls);
    }
    std::fflush(stdout);
    freshFolder(src);
    freshFolder(dst);
}

} // namespace bench
