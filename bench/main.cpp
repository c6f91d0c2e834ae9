// Times transfer passes against the shell commands a user would otherwise
// run on the same data, and the window's share of a pass against the pass
// alone. The two sides of a case take turns, on freshly made data each time,
// so neither profits from the other's warm cache or pending writes.
#include "BenchHost.h"

#include "app/frmMain.h"
#include "platform/Clock.h"
#include "platform/PosixFileSystem.h"
#include "platform/UserStore.h"
#include "settings/modGlobal.h"
#include "transfer/TransferPass.h"

#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

using Clock_ = std::chrono::steady_clock;

const QStringList AllCases = {QStringLiteral("copy-small"), QStringLiteral("move-small"),
                              QStringLiteral("copy-big"),   QStringLiteral("move-cross"),
                              QStringLiteral("window"),     QStringLiteral("log-memory")};

// The tmpfs mount of the cross-file-system case; unmounted on every way out.
char g_mountPoint[4096] = {};

void unmountScratch()
{
    if (g_mountPoint[0]) {
        ::umount2(g_mountPoint, MNT_DETACH);
        g_mountPoint[0] = '\0';
    }
}

extern "C" void onSignal(int signal)
{
    if (g_mountPoint[0])
        ::umount2(g_mountPoint, MNT_DETACH); // async-signal-safe
    ::_exit(128 + signal);
}

[[noreturn]] void die(const QString &message)
{
    std::fprintf(stderr, "pallwick_bench: %s\n", qPrintable(message));
    unmountScratch();
    std::exit(1);
}

double since(Clock_::time_point start)
{
    return std::chrono::duration<double>(Clock_::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// ------------------------------------------------------------------ the data

QString fileName(int index)
{
    return QStringLiteral("file-%1.dat").arg(index, 5, 10, QLatin1Char('0'));
}

// Real, distinct content: a pseudo-random block, marked with the file index,
// so no side can get away with a sparse or deduplicated copy.
void writeFile(const QString &path, qint64 size, quint64 seed)
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        die(QStringLiteral("cannot create %1: %2")
                .arg(path, QString::fromLocal8Bit(strerror(errno))));
    std::vector<quint64> block(qMin<qint64>(size, 1 << 20) / 8 + 1);
    quint64 x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (quint64 &word : block) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        word = x;
    }
    for (qint64 done = 0; done < size;) {
        block[0] = seed;
        block[1] = quint64(done);
        const size_t chunk = size_t(qMin<qint64>(size - done, qint64(block.size() - 1) * 8));
        const ssize_t n = ::write(fd, block.data(), chunk);
        if (n <= 0)
            die(QStringLiteral("cannot write %1: %2")
                    .arg(path, QString::fromLocal8Bit(strerror(errno))));
        done += n;
    }
    ::close(fd);
}

void makeFolder(const QString &path)
{
    if (!QDir().mkpath(path))
        die(QStringLiteral("cannot create folder %1").arg(path));
}

// An empty folder of that name, whatever was there before.
void freshFolder(const QString &path)
{
    QDir(path).removeRecursively();
    makeFolder(path);
}

void makeFiles(const QString &folder, int count, qint64 size)
{
    freshFolder(folder);
    for (int i = 0; i < count; ++i)
        writeFile(folder + QLatin1Char('/') + fileName(i), size, quint64(i) + 1);
}

struct FolderCount
{
    int files = 0;    // regular files, hidden ones included
    int matching = 0; // of these, the ones with the expected name and size
};

FolderCount countFiles(const QString &folder, int expected, qint64 size)
{
    FolderCount result;
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        die(QStringLiteral("cannot read folder %1").arg(folder));
    while (const dirent *entry = ::readdir(dir)) {
        struct stat st;
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode))
            continue;
        ++result.files;
        const QString name = QFile::decodeName(entry->d_name);
        bool ok = false;
        const int index = name.mid(5, 5).toInt(&ok);
        if (ok && index >= 0 && index < expected && name == fileName(index) && st.st_size == size)
            ++result.matching;
    }
    ::closedir(dir);
    return result;
}

// A run that did not do its work must not report a time.
void verifyTransfer(const QString &what, const QString &source, const QString &destination,
                    int count, qint64 size, bool move)
{
    const FolderCount dest = countFiles(destination, count, size);
    if (dest.files != count || dest.matching != count)
        die(QStringLiteral("%1: the destination holds %2 files, %3 of them complete; expected %4")
                .arg(what)
                .arg(dest.files)
                .arg(dest.matching)
                .arg(count));
    const int left = countFiles(source, count, size).files;
    if (move ? left != 0 : left != count)
        die(QStringLiteral("%1: %2 files left in the source; expected %3")
                .arg(what)
                .arg(left)
                .arg(move ? 0 : count));
}

// The pass reports each file in one line; any other outcome is a failure.
void verifyLog(const QString &what, const QStringList &lines, int count, const QString &doneText)
{
    const QString marker = QStringLiteral(" - ") + doneText + QStringLiteral(": ");
    const auto done = std::count_if(lines.begin(), lines.end(),
                                    [&](const QString &line) { return line.contains(marker); });
    if (lines.size() != count || done != count)
        die(QStringLiteral("%1: the log has %2 lines, %3 of them \"%4\"; expected %5 (first: %6)")
                .arg(what)
                .arg(lines.size())
                .arg(done)
                .arg(doneText)
                .arg(count)
                .arg(lines.value(0)));
}

// Writes of one side must not be flushed in the other side's time.
void flush(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
}

// ------------------------------------------------------------- the two sides

// A shell command as a user would start it: its start-up cost counts.
double runCommand(const QStringList &arguments)
{
    std::vector<QByteArray> bytes;
    for (const QString &a : arguments)
        bytes.push_back(QFile::encodeName(a));
    std::vector<char *> argv;
    for (QByteArray &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);

    const auto start = Clock_::now();
    pid_t pid = 0;
    const int error = ::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
    if (error != 0)
        die(QStringLiteral("cannot start %1: %2")
                .arg(arguments[0], QString::fromLocal8Bit(strerror(error))));
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    const double seconds = since(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        die(QStringLiteral("%1 failed (status %2)")
                .arg(arguments.join(QLatin1Char(' ')))
                .arg(status));
    return seconds;
}

double runHeadlessPass(const QString &source, const QString &destination, bool move,
                       const MessageTable &texts, int count, const QString &what)
{
    BenchHost host(source, destination, move, texts);
    PosixFileSystem fs;
    TransferPass pass(host, fs, Clock::system());
    const auto start = Clock_::now();
    pass.run();
    const double seconds = since(start);
    verifyLog(what, host.memoryLog().lines(), count, texts[move ? msgMoved : msgCopied]);
    return seconds;
}

// ------------------------------------------------------------------ the cases

struct Result
{
    QString name;
    QString peerName;
    double pass = 0;
    double peer = 0;
    std::optional<double> target;
    double ratio() const { return pass / peer; }
};

struct Case
{
    QString name;
    QString peerName;
    std::optional<double> target;
    std::function<void()> prepare; // fresh data, before each side's run
    std::function<double()> pass;
    std::function<double()> peer;
    std::function<void()> verify; // after each side's run
    QString flushFolder;
};

// The sides take turns in which goes first, so any effect of order (a warm
// cache, writes of the run before) falls on both alike. Every round counts.
Result measure(const Case &c, int rounds)
{
    std::vector<double> passTimes;
    std::vector<double> peerTimes;
    std::fprintf(stderr, "%s:", qPrintable(c.name));
    // One untimed run of each side first: the first run after the data is
    // made pays for the file system settling (and for warm caches) alone.
    for (int turn = 0; turn < 2; ++turn) {
        c.prepare();
        flush(c.flushFolder);
        std::fprintf(stderr, " warm-up %.3f", turn == 0 ? c.pass() : c.peer());
        c.verify();
    }
    for (int round = 0; round < rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool passTurn = (round + turn) % 2 == 0;
            c.prepare();
            flush(c.flushFolder);
            const double seconds = passTurn ? c.pass() : c.peer();
            c.verify();
            (passTurn ? passTimes : peerTimes).push_back(seconds);
            std::fprintf(stderr, " %s %.3f", passTurn ? "pass" : "peer", seconds);
        }
    }
    std::fprintf(stderr, "\n");
    return {c.name, c.peerName, median(passTimes), median(peerTimes), c.target};
}

void printResult(const Result &r)
{
    QString verdict;
    if (r.target)
        verdict =
            QStringLiteral("target <= %1  %2")
                .arg(*r.target, 0, 'f', 2)
                .arg(r.ratio() <= *r.target ? QStringLiteral("met") : QStringLiteral("MISSED"));
    std::printf("%-44s %9.3f %9.3f %-22s %6.2f  %s\n", qPrintable(r.name), r.pass, r.peer,
                qPrintable(r.peerName), r.ratio(), qPrintable(verdict));
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

// "VmHWM" or "VmRSS" of this process, in KiB.
qint64 statusKiB(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// A window as the user has it: own program folder, log shown, on screen.
std::unique_ptr<frmMain> openWindow(const QString &programFolder)
{
    frmMain::Environment env;
    env.programFolder = programFolder;
    auto window = std::make_unique<frmMain>(QStringList(), env);
    if (!window->Check1->isChecked()) {
        window->Check1->setChecked(true);
        window->ShowLogArea();
    }
    window->show();
    QCoreApplication::processEvents();
    if (!window->List1->isVisible())
        die(QStringLiteral("the window does not show its log"));
    return window;
}

} // namespace

int main(int argc, char *argv[])
{
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
    const QCommandLineOption filesOption(QStringLiteral("files"),
                                         QStringLiteral("Number of small files (default: 10000)."),
                                         QStringLiteral("n"), QStringLiteral("10000"));
    const QCommandLineOption bigOption(
        QStringLiteral("big-mib"), QStringLiteral("Size of the big file in MiB (default: 1024)."),
        QStringLiteral("n"), QStringLiteral("1024"));
    const QCommandLineOption crossOption(
        QStringLiteral("cross-files"),
        QStringLiteral("Number of 1 MiB files moved across file systems (default: 500)."),
        QStringLiteral("n"), QStringLiteral("500"));
    const QCommandLineOption casesOption(
        QStringLiteral("cases"),
        QStringLiteral("Comma-separated cases to run, of: %1 (default: all).")
            .arg(AllCases.join(QLatin1Char(','))),
        QStringLiteral("list"), AllCases.join(QLatin1Char(',')));
    parser.addOptions({dirOption, roundsOption, filesOption, bigOption, crossOption, casesOption});
    parser.process(app);

    const auto positive = [&](const QCommandLineOption &option) {
        bool ok = false;
        const int value = parser.value(option).toInt(&ok);
        if (!ok || value < 1 || value > 99999)
            die(QStringLiteral("--%1 wants a whole number from 1 to 99999")
                    .arg(option.names().first()));
        return value;
    };
    const int rounds = positive(roundsOption);
    const int smallCount = positive(filesOption);
    const qint64 bigSize = qint64(positive(bigOption)) << 20;
    const int crossCount = positive(crossOption);
    const QStringList cases = parser.value(casesOption).split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &c : cases)
        if (!AllCases.contains(c))
            die(QStringLiteral("unknown case \"%1\"; the cases are %2")
                    .arg(c, AllCases.join(QLatin1Char(','))));
    const auto wanted = [&](const char *c) { return cases.contains(QLatin1String(c)); };

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    QTemporaryDir work(
        QDir(parser.value(dirOption)).filePath(QStringLiteral("pallwick-bench-XXXXXX")));
    if (!work.isValid())
        die(QStringLiteral("cannot create a folder in %1").arg(parser.value(dirOption)));
    const QString root = work.path();
    const QString src = root + QStringLiteral("/src");
    const QString dst = root + QStringLiteral("/dst");

    // A program folder of its own: settings naming the job, the German texts,
    // and a per-user store that is not the user's.
    const QString program = root + QStringLiteral("/program");
    makeFolder(program + QStringLiteral("/lang"));
    if (!QFile::copy(QStringLiteral(PALLWICK_SOURCE_DIR "/lang/Deutsch.dat"),
                     program + QStringLiteral("/lang/Deutsch.dat")))
        die(QStringLiteral("cannot copy lang/Deutsch.dat from " PALLWICK_SOURCE_DIR));
    UserStore::setLocation(root + QStringLiteral("/userstore"));
    {
        QFile ini(program + QStringLiteral("/Pallwick.ini"));
        if (!ini.open(QIODevice::WriteOnly))
            die(QStringLiteral("cannot write %1").arg(ini.fileName()));
        ini.write("[Options]\nLanguage=Deutsch\nFrom=" + src.toUtf8() + "\nTo=" + dst.toUtf8() +
                  "\nAction=Copy\nShowLog=1\nOverwrite=0\n");
    }
    modGlobal::setProgramFolder(program);
    modGlobal::IniFile = program + QStringLiteral("/Pallwick.ini");
    modGlobal::LanguageName = QStringLiteral("Deutsch");
    modGlobal::LangFile = modGlobal::languageFilePath(modGlobal::LanguageName);
    const MessageTable texts = loadMessageTable();
    if (texts[msgCopied].isEmpty() || texts[msgMoved].isEmpty())
        die(QStringLiteral("the German texts did not load from %1").arg(modGlobal::LangFile));

    std::printf(
        "Pallwick Lite benchmark: %d rounds per case after one untimed warm-up, data in %s (%s)\n",
        rounds, qPrintable(root), qPrintable(fsTypeName(root)));
    std::printf("times are medians in seconds over all rounds; ratio = pass / peer\n\n");
    std::printf("%-44s %9s %9s %-22s %6s\n", "case", "pass", "peer", "peer is", "ratio");
    std::fflush(stdout);

    std::vector<Result> results;
    const qint64 small = 4096;

    // Small files, copied.
    if (wanted("copy-small")) {
        const QString name = QStringLiteral("copy %1 x 4 KiB").arg(smallCount);
        results.push_back(
            measure({name, QStringLiteral("cp -pR src/. dst/"), 1.25,
                     [&] {
                         makeFiles(src, smallCount, small);
                         freshFolder(dst);
                     },
                     [&] { return runHeadlessPass(src, dst, false, texts, smallCount, name); },
                     [&] {
                         return runCommand({QStringLiteral("cp"), QStringLiteral("-pR"),
                                            src + QStringLiteral("/."), dst + QLatin1Char('/')});
                     },
                     [&] { verifyTransfer(name, src, dst, smallCount, small, false); }, root},
                    rounds));
        printResult(results.back());
    }

    // Small files, moved within one file system.
    if (wanted("move-small")) {
        const QString name = QStringLiteral("move %1 x 4 KiB, same file system").arg(smallCount);
        results.push_back(measure(
            {name, QStringLiteral("find | mv -t dst"), 1.5,
             [&] {
                 makeFiles(src, smallCount, small);
                 freshFolder(dst);
             },
             [&] { return runHeadlessPass(src, dst, true, texts, smallCount, name); },
             [&] {
                 return runCommand(
                     {QStringLiteral("find"), src, QStringLiteral("-maxdepth"), QStringLiteral("1"),
                      QStringLiteral("-type"), QStringLiteral("f"), QStringLiteral("-exec"),
                      QStringLiteral("mv"), QStringLiteral("-t"), dst, QStringLiteral("--"),
                      QStringLiteral("{}"), QStringLiteral("+")});
             },
             [&] { verifyTransfer(name, src, dst, smallCount, small, true); }, root},
            rounds));
        printResult(results.back());
    }

    // One big file, copied. Made once (a copy leaves it as it is); it stays
    // in the page cache for both sides.
    if (wanted("copy-big")) {
        const QString name = QStringLiteral("copy 1 x %1 MiB").arg(bigSize >> 20);
        makeFolder(src);
        freshFolder(src);
        writeFile(src + QLatin1Char('/') + fileName(0), bigSize, 7);
        results.push_back(
            measure({name, QStringLiteral("cp -p"), 1.10, [&] { freshFolder(dst); },
                     [&] { return runHeadlessPass(src, dst, false, texts, 1, name); },
                     [&] {
                         return runCommand({QStringLiteral("cp"), QStringLiteral("-p"),
                                            src + QLatin1Char('/') + fileName(0),
                                            dst + QLatin1Char('/') + fileName(0)});
                     },
                     [&] { verifyTransfer(name, src, dst, 1, bigSize, false); }, root},
                    rounds));
        printResult(results.back());
        freshFolder(src);
        freshFolder(dst);
    }

    // 1 MiB files moved between a tmpfs and the disk, both ways. Needs a
    // mount, so only as root.
    if (wanted("move-cross")) {
        const QString scratch = root + QStringLiteral("/tmpfs");
        makeFolder(scratch);
        QString skipped;
        if (::geteuid() != 0) {
            skipped = QStringLiteral("not running as root, so no tmpfs can be mounted");
        } else {
            const QByteArray options =
                QByteArray("size=") + QByteArray::number(qint64(crossCount) * 2 + 64) + "m";
            if (::mount("tmpfs", QFile::encodeName(scratch).constData(), "tmpfs", 0,
                        options.constData()) != 0)
                skipped = QStringLiteral("mounting a tmpfs failed: %1")
                              .arg(QString::fromLocal8Bit(strerror(errno)));
            else
                std::snprintf(g_mountPoint, sizeof g_mountPoint, "%s",
                              QFile::encodeName(scratch).constData());
        }
        if (!skipped.isEmpty()) {
            std::printf(
                "%-44s skipped: %s\n",
                qPrintable(QStringLiteral("move %1 x 1 MiB, across file systems").arg(crossCount)),
                qPrintable(skipped));
        } else {
            const qint64 mib = 1 << 20;
            const QString onTmpfs = scratch + QStringLiteral("/files");
            for (const bool toTmpfs : {true, false}) {
                const QString from = toTmpfs ? src : onTmpfs;
                const QString to = toTmpfs ? onTmpfs : dst;
                const QString name = QStringLiteral("move %1 x 1 MiB, %2")
                                         .arg(crossCount)
                                         .arg(toTmpfs ? QStringLiteral("disk -> tmpfs")
                                                      : QStringLiteral("tmpfs -> disk"));
                results.push_back(measure(
                    {name, QStringLiteral("find | mv -t dst"), std::nullopt,
                     [&] {
                         makeFiles(from, crossCount, mib);
                         freshFolder(to);
                     },
                     [&] { return runHeadlessPass(from, to, true, texts, crossCount, name); },
                     [&] {
                         return runCommand(
                             {QStringLiteral("find"), from, QStringLiteral("-maxdepth"),
                              QStringLiteral("1"), QStringLiteral("-type"), QStringLiteral("f"),
                              QStringLiteral("-exec"), QStringLiteral("mv"), QStringLiteral("-t"),
                              to, QStringLiteral("--"), QStringLiteral("{}"), QStringLiteral("+")});
                     },
                     [&] { verifyTransfer(name, from, to, crossCount, mib, true); }, root},
                    rounds));
                printResult(results.back());
                freshFolder(from);
                freshFolder(to);
            }
            unmountScratch();
        }
    }

    // The whole window against the pass alone, on the same copy job.
    if (wanted("window")) {
        const QString name = QStringLiteral("window: copy %1 x 4 KiB, log shown").arg(smallCount);
        results.push_back(
            measure({name, QStringLiteral("headless pass"), 1.5,
                     [&] {
                         makeFiles(src, smallCount, small);
                         freshFolder(dst);
                     },
                     [&] {
                         const auto window = openWindow(program);
                         const auto start = Clock_::now();
                         window->DoAction();
                         const double seconds = since(start);
                         QStringList lines;
                         for (int i = 0; i < window->List1->count(); ++i)
                             lines << window->List1->item(i)->text();
                         verifyLog(name, lines, smallCount, texts[msgCopied]);
                         return seconds;
                     },
                     [&] { return runHeadlessPass(src, dst, false, texts, smallCount, name); },
                     [&] { verifyTransfer(name, src, dst, smallCount, small, false); }, root},
                    rounds));
        printResult(results.back());
        freshFolder(src);
        freshFolder(dst);
    }

    std::printf("\npeak memory (VmHWM) after the runs: %lld KiB\n",
                static_cast<long long>(statusKiB("VmHWM")));

    // A full log in the window, lines of a realistic length.
    if (wanted("log-memory")) {
        const auto window = openWindow(program);
        ::malloc_trim(0);
        const qint64 before = statusKiB("VmRSS");
        const QString stamp = logStamp(Clock::system());
        for (int i = 0; i < ActivityLog::MaxLines; ++i)
            window->activityLog().append(
                stamp + QStringLiteral(" - ") + texts[msgCopied] +
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

    // The worst of the cases that have a target, measured against it.
    const Result *worst = nullptr;
    for (const Result &r : results)
        if (r.target && (!worst || r.ratio() / *r.target > worst->ratio() / *worst->target))
            worst = &r;
    if (worst)
        std::printf("worst ratio: %.2f (%s, target <= %.2f, %s)\n", worst->ratio(),
                    qPrintable(worst->name), *worst->target,
                    worst->ratio() <= *worst->target ? "met" : "MISSED");
    return 0;
}
