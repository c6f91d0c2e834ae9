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
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

using Clock_ = std::chrono::steady_clock;

const QStringList AllCases = {QStringLiteral("copy-small"), QStringLiteral("move-small"),
                              QStringLiteral("copy-big"),   QStringLiteral("move-cross"),
                              QStringLiteral("window"),     QStringLiteral("log-memory"),
                              QStringLiteral("syscalls")};
// The small-file cases run in each of these places.
const QStringList AllPlaces = {QStringLiteral("dir"), QStringLiteral("tmpfs")};
const QStringList SmallCases = {QStringLiteral("copy-small"), QStringLiteral("move-small"),
                                QStringLiteral("window")};
const QList<int> GrowthSizes = {10000, 30000, 100000};

constexpr int MaxFiles = 9999999; // the file names have seven digits
constexpr qint64 SmallSize = 4096;
constexpr int SyscallFiles = 5000;
constexpr double FlatnessTarget = 1.15;
constexpr double WindowMemoryTargetMB = 80;

// The program's child mode for the system-call count: one headless copy pass.
const char TracedCopyOption[] = "--traced-copy";

// Tmpfs mounts in use and the work folder, for the ways out that do not
// unwind the stack (die(), a signal).
char g_mounts[2][4096] = {};
char g_workRoot[4096] = {};
// The single times of a case are on the current line of standard error.
bool g_timesLine = false;

void unmountAll()
{
    for (char *mount : g_mounts)
        if (mount[0]) {
            ::umount2(mount, MNT_DETACH);
            mount[0] = '\0';
        }
}

// Only async-signal-safe calls: the data goes with rm.
extern "C" void onSignal(int signal)
{
    for (char *mount : g_mounts)
        if (mount[0])
            ::umount2(mount, MNT_DETACH);
    if (g_workRoot[0]) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execl("/bin/rm", "rm", "-rf", "--", g_workRoot, static_cast<char *>(nullptr));
            ::_exit(127);
        }
        if (pid > 0)
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
    }
    ::_exit(128 + signal);
}

[[noreturn]] void die(const QString &message)
{
    std::fprintf(stderr, "%spallwick_bench: %s\n", g_timesLine ? "\n" : "", qPrintable(message));
    unmountAll();
    // Gigabytes of data must not stay behind in the temporary folder.
    if (g_workRoot[0])
        QDir(QFile::decodeName(g_workRoot)).removeRecursively();
    std::exit(1);
}

QString errnoText(int error = errno)
{
    return QString::fromLocal8Bit(strerror(error));
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

void makeFolder(const QString &path)
{
    if (!QDir().mkpath(path))
        die(QStringLiteral("cannot create folder %1").arg(path));
}

// A tmpfs mounted for the lifetime of this object; only root can mount one.
class TmpfsMount
{
public:
    TmpfsMount(const QString &folder, qint64 sizeMiB)
    {
        makeFolder(folder);
        if (::geteuid() != 0) {
            m_failure = QStringLiteral("not running as root, so no tmpfs can be mounted");
            return;
        }
        for (int slot = 0; slot < 2 && m_slot < 0; ++slot)
            if (!g_mounts[slot][0])
                m_slot = slot;
        const QByteArray path = QFile::encodeName(folder);
        const QByteArray options = "size=" + QByteArray::number(sizeMiB) + "m";
        if (m_slot < 0 || size_t(path.size()) >= sizeof g_mounts[0]) {
            m_failure = QStringLiteral("no room to note the mount");
            m_slot = -1;
        } else if (::mount("tmpfs", path.constData(), "tmpfs", 0, options.constData()) != 0) {
            m_failure = QStringLiteral("mounting a tmpfs failed: %1").arg(errnoText());
            m_slot = -1;
        } else {
            std::snprintf(g_mounts[m_slot], sizeof g_mounts[m_slot], "%s", path.constData());
        }
    }
    ~TmpfsMount()
    {
        if (m_slot >= 0) {
            ::umount2(g_mounts[m_slot], MNT_DETACH);
            g_mounts[m_slot][0] = '\0';
        }
    }
    TmpfsMount(const TmpfsMount &) = delete;
    TmpfsMount &operator=(const TmpfsMount &) = delete;

    bool mounted() const { return m_slot >= 0; }
    QString failure() const { return m_failure; }

private:
    int m_slot = -1;
    QString m_failure;
};

// ------------------------------------------------------------------ the data

QString fileName(int index)
{
    return QStringLiteral("file-%1.dat").arg(index, 7, 10, QLatin1Char('0'));
}

// The index in a name made by fileName(), or -1.
int fileIndex(const char *name)
{
    if (std::strlen(name) != 16 || std::strncmp(name, "file-", 5) != 0 ||
        std::strcmp(name + 12, ".dat") != 0)
        return -1;
    int index = 0;
    for (int i = 5; i < 12; ++i) {
        if (name[i] < '0' || name[i] > '9')
            return -1;
        index = index * 10 + (name[i] - '0');
    }
    return index;
}

// Real, distinct content: a pseudo-random block, marked with the file's seed
// and the chunk's offset, so no side can get away with a sparse or
// deduplicated copy, and a copy can be compared with what it should hold.
class Content
{
public:
    static constexpr qint64 MaxChunk = 1 << 20;

    Content(qint64 size, quint64 seed)
        : m_size(size), m_seed(seed), m_chunk(qMax<qint64>(1, qMin(size, MaxChunk))),
          m_words(size_t(m_chunk / 8 + 2))
    {
        quint64 x = seed * 0x9E3779B97F4A7C15ull + 1;
        for (quint64 &word : m_words) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            word = x;
        }
    }

    qint64 size() const { return m_size; }
    qint64 chunkBytes() const { return m_chunk; }
    qint64 chunks() const { return (m_size + m_chunk - 1) / m_chunk; }
    qint64 lengthOf(qint64 chunk) const { return qMin(m_chunk, m_size - chunk * m_chunk); }
    const char *bytesOf(qint64 chunk)
    {
        m_words[0] = m_seed;
        m_words[1] = quint64(chunk * m_chunk);
        return reinterpret_cast<const char *>(m_words.data());
    }

private:
    qint64 m_size;
    quint64 m_seed;
    qint64 m_chunk;
    std::vector<quint64> m_words;
};

void writeFile(int dirFd, const QByteArray &name, qint64 size, quint64 seed)
{
    const int fd =
        ::openat(dirFd, name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        die(QStringLiteral("cannot create %1: %2").arg(QFile::decodeName(name), errnoText()));
    Content content(size, seed);
    for (qint64 chunk = 0; chunk < content.chunks(); ++chunk) {
        const char *bytes = content.bytesOf(chunk);
        const qint64 length = content.lengthOf(chunk);
        for (qint64 done = 0; done < length;) {
            const ssize_t n = ::write(fd, bytes + done, size_t(length - done));
            if (n <= 0)
                die(QStringLiteral("cannot write %1: %2")
                        .arg(QFile::decodeName(name), errnoText()));
            done += n;
        }
    }
    ::close(fd);
}

int openFolder(const QString &folder)
{
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        die(QStringLiteral("cannot open folder %1: %2").arg(folder, errnoText()));
    return fd;
}

// An empty folder of that name, whatever was there before.
void freshFolder(const QString &path)
{
    DIR *dir = ::opendir(QFile::encodeName(path).constData());
    if (!dir) {
        makeFolder(path);
        return;
    }
    while (const dirent *entry = ::readdir(dir)) {
        if (!std::strcmp(entry->d_name, ".") || !std::strcmp(entry->d_name, ".."))
            continue;
        if (::unlinkat(::dirfd(dir), entry->d_name, 0) != 0) {
            const QString inner = path + QLatin1Char('/') + QFile::decodeName(entry->d_name);
            if (errno != EISDIR || !QDir(inner).removeRecursively())
                die(QStringLiteral("cannot remove %1").arg(inner));
        }
    }
    ::closedir(dir);
}

void makeFiles(const QString &folder, int count, qint64 size)
{
    freshFolder(folder);
    const int dirFd = openFolder(folder);
    for (int i = 0; i < count; ++i)
        writeFile(dirFd, QFile::encodeName(fileName(i)), size, quint64(i) + 1);
    ::close(dirFd);
}

struct FolderCount
{
    qint64 files = 0;    // regular files, hidden ones included
    qint64 matching = 0; // of these, the ones with an expected name and size
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
        const int index = fileIndex(entry->d_name);
        if (index >= 0 && index < expected && st.st_size == size)
            ++result.matching;
    }
    ::closedir(dir);
    return result;
}

// The content of a spread of files (all of them up to 64, then 64 with the
// first and last among them), in whole for files up to a few chunks, else
// their first, middle and last chunk.
void verifyContents(const QString &what, const QString &folder, int count, qint64 size)
{
    const int samples = qMin(count, 64);
    const int dirFd = openFolder(folder);
    std::vector<char> buffer(size_t(qMin(size, Content::MaxChunk)) + 1);
    for (int k = 0; k < samples; ++k) {
        const int index = samples == 1 ? 0 : int(qint64(k) * (count - 1) / (samples - 1));
        const QString name = fileName(index);
        const int fd = ::openat(dirFd, QFile::encodeName(name).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            die(QStringLiteral("%1: cannot open %2 in %3: %4")
                    .arg(what, name, folder, errnoText()));
        Content content(size, quint64(index) + 1);
        std::vector<qint64> chunks;
        if (content.chunks() <= 4) {
            for (qint64 c = 0; c < content.chunks(); ++c)
                chunks.push_back(c);
        } else {
            chunks = {0, content.chunks() / 2, content.chunks() - 1};
        }
        for (const qint64 chunk : chunks) {
            const qint64 length = content.lengthOf(chunk);
            const ssize_t n =
                ::pread(fd, buffer.data(), size_t(length) + 1, off_t(chunk * content.chunkBytes()));
            const bool tail = chunk == content.chunks() - 1;
            if (n != (tail ? length : length + 1) ||
                std::memcmp(buffer.data(), content.bytesOf(chunk), size_t(length)) != 0) {
                ::close(fd);
                die(QStringLiteral("%1: %2 in %3 does not hold what its source held (at byte %4)")
                        .arg(what, name, folder)
                        .arg(chunk * content.chunkBytes()));
            }
        }
        ::close(fd);
    }
    ::close(dirFd);
}

// A run that did not do its work must not report a time: every file in the
// destination at its full size, a sample of them with the right content, and
// the source untouched after a copy and empty after a move.
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
    const FolderCount left = countFiles(source, count, size);
    if (move ? left.files != 0 : left.matching != count || left.files != count)
        die(QStringLiteral("%1: %2 files left in the source; expected %3")
                .arg(what)
                .arg(left.files)
                .arg(move ? 0 : count));
    verifyContents(what, destination, count, size);
}

// Every file of a headless pass logged as done, and no error line.
void verifyCounts(const QString &what, const CountingLog &log, int count)
{
    if (log.doneLines() != count || log.errorLines() != 0)
        die(QStringLiteral("%1: the pass logged %2 files as done and %3 errors; expected %4 and "
                           "none (first error: %5)")
                .arg(what)
                .arg(log.doneLines())
                .arg(log.errorLines())
                .arg(count)
                .arg(log.firstError()));
}

// The window's log keeps its last MaxLines lines: all of them must say
// "done", which also rules out an error line among them.
void verifyWindowLog(const QString &what, const QStringList &lines, int count,
                     const QString &doneText)
{
    const int expected = qMin(count, ActivityLog::MaxLines);
    const QString marker = QStringLiteral(" - ") + doneText + QStringLiteral(": ");
    const auto notDone = std::find_if(lines.begin(), lines.end(),
                                      [&](const QString &line) { return !line.contains(marker); });
    if (lines.size() != expected || notDone != lines.end())
        die(QStringLiteral("%1: the log has %2 lines; expected %3, each \"%4\" (first other: %5)")
                .arg(what)
                .arg(lines.size())
                .arg(expected)
                .arg(doneText)
                .arg(notDone != lines.end() ? *notDone : QString()));
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

// The highest peak seen before the peak was last reset.
qint64 g_earlierPeakKiB = 0;

qint64 peakKiB()
{
    return qMax(g_earlierPeakKiB, statusKiB("VmHWM"));
}

// Starts the peak over from the memory in use now, so the next reading is
// the peak of what runs in between.
void resetPeak()
{
    g_earlierPeakKiB = peakKiB();
    ::malloc_trim(0);
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (!clear.open(QIODevice::WriteOnly) || clear.write("5") != 1)
        die(QStringLiteral("cannot reset the peak memory through /proc/self/clear_refs"));
}

double megabytes(qint64 kib)
{
    return double(kib) * 1024 / 1e6;
}

// ------------------------------------------------------------- the two sides

// Runs a command to its end; a failure ends the benchmark.
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
        die(QStringLiteral("cannot start %1: %2").arg(arguments[0], errnoText(error)));
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

QStringList copyCommand(const QString &source, const QString &destination)
{
    return {QStringLiteral("cp"), QStringLiteral("-pR"), source + QStringLiteral("/."),
            destination + QLatin1Char('/')};
}

QStringList moveCommand(const QString &source, const QString &destination)
{
    return {QStringLiteral("find"),      source,
            QStringLiteral("-maxdepth"), QStringLiteral("1"),
            QStringLiteral("-type"),     QStringLiteral("f"),
            QStringLiteral("-exec"),     QStringLiteral("mv"),
            QStringLiteral("-t"),        destination,
            QStringLiteral("--"),        QStringLiteral("{}"),
            QStringLiteral("+")};
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
    verifyCounts(what, host.countingLog(), count);
    return seconds;
}

// ---------------------------------------------------- the program's folders

// A program folder of its own: settings naming the job, the German texts,
// and a per-user store that is not the user's.
void writeSettings(const QString &program, const QString &source, const QString &destination)
{
    QFile ini(program + QStringLiteral("/Pallwick.ini"));
    if (!ini.open(QIODevice::WriteOnly))
        die(QStringLiteral("cannot write %1").arg(ini.fileName()));
    ini.write("[Options]\nLanguage=Deutsch\nFrom=" + QFile::encodeName(source) +
              "\nTo=" + QFile::encodeName(destination) + "\nAction=Copy\nShowLog=1\nOverwrite=0\n");
    ini.close();
    // A settings file changed within the last 2 s is read anew for every
    // file, as its stamp cannot be trusted yet; a user's file is older.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
}

MessageTable useProgramFolder(const QString &root)
{
    const QString program = root + QStringLiteral("/program");
    UserStore::setLocation(root + QStringLiteral("/userstore"));
    modGlobal::setProgramFolder(program);
    modGlobal::IniFile = program + QStringLiteral("/Pallwick.ini");
    modGlobal::LanguageName = QStringLiteral("Deutsch");
    modGlobal::LangFile = modGlobal::languageFilePath(modGlobal::LanguageName);
    const MessageTable texts = loadMessageTable();
    if (texts[msgCopied].isEmpty() || texts[msgMoved].isEmpty() || texts[msgError].isEmpty())
        die(QStringLiteral("the German texts did not load from %1").arg(modGlobal::LangFile));
    return texts;
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

// ------------------------------------------------------------------ the cases

struct Result
{
    QString key;   // the case's name on the command line
    QString place; // where its data lay
    QString name;
    QString peerName;
    int files = 0;
    double pass = 0;
    double peer = 0;
    std::optional<double> target;
    qint64 peakKiB = -1; // the window's peak memory over its runs
    double ratio() const { return pass / peer; }
    double passMicros() const { return pass * 1e6 / files; }
    double peerMicros() const { return peer * 1e6 / files; }
};

struct Case
{
    QString key;
    QString place;
    QString name;
    QString peerName;
    int files = 0;
    std::optional<double> target;
    std::function<void()> prepare; // fresh data, before each side's run
    std::function<double()> pass;
    std::function<double()> peer;
    std::function<void()> verify; // after each side's run
    QString flushFolder;
};

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

// The sides take turns in which goes first, so any effect of order (a warm
// cache, writes of the run before) falls on both alike. Every round counts.
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

// Everything the cases share.
struct Bench
{
    int rounds = 5;
    QString root;    // the work folder
    QString program; // the program folder inside it
    MessageTable texts;
    std::vector<Result> results;
};

// Copy, move and the window over count small files in base/src and base/dst.
void runSmallCases(Bench &b, const QStringList &cases, const QString &place, const QString &base,
                   int count)
{
    const QString src = base + QStringLiteral("/src");
    const QString dst = base + QStringLiteral("/dst");
    const auto prepare = [&] {
        makeFiles(src, count, SmallSize);
        freshFolder(dst);
    };

    if (cases.contains(QLatin1String("copy-small"))) {
        const QString name = QStringLiteral("copy %1 x 4 KiB").arg(count);
        b.results.push_back(measure(
            {QStringLiteral("copy-small"), place, name, QStringLiteral("cp -pR src/. dst/"), count,
             1.15, prepare, [&] { return runHeadlessPass(src, dst, false, b.texts, count, name); },
             [&] { return runCommand(copyCommand(src, dst)); },
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

// Per case and place: the time per file at each size, and how far apart the
// sizes are.
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

// ------------------------------------------------------------ system calls

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

bool onPath(const char *program)
{
    for (const QString &folder : qEnvironmentVariable("PATH").split(QLatin1Char(':')))
        if (!folder.isEmpty() &&
            ::access(
                QFile::encodeName(folder + QLatin1Char('/') + QLatin1String(program)).constData(),
                X_OK) == 0)
            return true;
    return false;
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

// The child that strace watches: one headless copy of root/src to root/dst.
int tracedCopy(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString root = QFile::decodeName(argv[2]);
    const MessageTable texts = useProgramFolder(root);
    const QString src = root + QStringLiteral("/src");
    BenchHost host(src, root + QStringLiteral("/dst"), false, texts);
    PosixFileSystem fs;
    TransferPass pass(host, fs, Clock::system());
    pass.run();
    const CountingLog &log = host.countingLog();
    if (log.errorLines() != 0) {
        std::fprintf(stderr, "pallwick_bench: %s\n", qPrintable(log.firstError()));
        return 1;
    }
    return 0;
}

} // namespace

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
    parser.addOptions({dirOption, roundsOption, filesOption, growthOption, bigOption, crossOption,
                       casesOption, placesOption});
    parser.process(app);

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

    if (wanted("copy-big") || wanted("move-cross")) {
        std::printf("\nlarger files, from the data folder (%s):\n", qPrintable(rootType));
        printHeader();
    }

    // One big file, copied. Made once (a copy leaves it as it is); it stays
    // in the page cache for both sides.
    if (wanted("copy-big")) {
        const QString name = QStringLiteral("copy 1 x %1 MiB").arg(bigSize >> 20);
        freshFolder(src);
        const int dirFd = openFolder(src);
        writeFile(dirFd, QFile::encodeName(fileName(0)), bigSize, 1);
        ::close(dirFd);
        b.results.push_back(
            measure({QStringLiteral("copy-big"), QStringLiteral("dir"), name,
                     QStringLiteral("cp -p"), 1, 1.10, [&] { freshFolder(dst); },
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

    // 1 MiB files moved between a tmpfs and the disk, both ways. Needs a
    // mount, so only as root.
    if (wanted("move-cross")) {
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
                b.results.push_back(measure(
                    {QStringLiteral("move-cross"), QStringLiteral("dir"), name,
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

    if (sizes.size() > 1 && anySmall)
        printGrowth(b, places, sizes);

    std::printf("\npeak memory (VmHWM) over the runs: %lld KiB\n",
                static_cast<long long>(peakKiB()));

    // A full log in the window, lines of a realistic length.
    if (wanted("log-memory")) {
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

    if (wanted("syscalls"))
        runSyscalls(b);

    // The worst of the cases that have a target, measured against it.
    const Result *worst = nullptr;
    for (const Result &r : b.results)
        if (r.target && (!worst || r.ratio() / *r.target > worst->ratio() / *worst->target))
            worst = &r;
    if (worst)
        std::printf("\nworst ratio: %.2f (%s, %s, target <= %.2f, %s)\n", worst->ratio(),
                    qPrintable(worst->name), qPrintable(worst->place), *worst->target,
                    qPrintable(verdict(worst->ratio() <= *worst->target)));
    return 0;
}
