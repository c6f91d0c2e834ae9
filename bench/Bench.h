#pragma once

// What the files of the benchmark share: the work folder and its data, the
// two sides of a case, the checks of their work and the report.
#include "BenchHost.h"

#include "app/frmMain.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <sys/mount.h>
#include <unistd.h>

namespace bench {

using Clock_ = std::chrono::steady_clock;

inline const QStringList AllCases = {QStringLiteral("copy-small"), QStringLiteral("copy-durable"),
                                     QStringLiteral("move-small"), QStringLiteral("copy-big"),
                                     QStringLiteral("move-cross"), QStringLiteral("move-fuse"),
                                     QStringLiteral("window"),     QStringLiteral("log-memory"),
                                     QStringLiteral("syscalls"),   QStringLiteral("arrival")};
// The small-file cases run in each of these places.
inline const QStringList AllPlaces = {QStringLiteral("dir"), QStringLiteral("tmpfs")};
inline const QStringList SmallCases = {QStringLiteral("copy-small"), QStringLiteral("copy-durable"),
                                       QStringLiteral("move-small"), QStringLiteral("window")};
inline const QList<int> GrowthSizes = {10000, 30000, 100000};

constexpr int MaxFiles = 9999999; // the file names have seven digits
constexpr qint64 SmallSize = 4096;
constexpr int SyscallFiles = 5000;
constexpr double FlatnessTarget = 1.15;
constexpr double WindowMemoryTargetMB = 80;

// The program's child mode for the system-call count: one headless copy pass.
inline const char TracedCopyOption[] = "--traced-copy";

// Tmpfs mounts in use and the work folder, for the ways out that do not
// unwind the stack (die(), a signal).
extern char g_mounts[3][4096];
extern char g_workRoot[4096];
// The single times of a case are on the current line of standard error.
extern bool g_timesLine;

void unmountAll();
// Only async-signal-safe calls: the data goes with rm.
extern "C" void onSignal(int signal);
[[noreturn]] void die(const QString &message);
QString errnoText(int error = errno);
double since(Clock_::time_point start);
double median(std::vector<double> values);
void makeFolder(const QString &path);

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
        for (int slot = 0; slot < 3 && m_slot < 0; ++slot)
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

QString fileName(int index);
// The index in a name made by fileName(), or -1.
int fileIndex(const char *name);

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

void writeFile(int dirFd, const QByteArray &name, qint64 size, quint64 seed);
int openFolder(const QString &folder);
// An empty folder of that name, whatever was there before.
void freshFolder(const QString &path);
void makeFiles(const QString &folder, int count, qint64 size);
// Writes of one side must not be flushed in the other side's time.
void flush(const QString &folder);

// "VmHWM" or "VmRSS" of this process, in KiB.
qint64 statusKiB(const char *key);
// The highest peak seen before the peak was last reset.
qint64 peakKiB();
// Starts the peak over from the memory in use now, so the next reading is
// the peak of what runs in between.
void resetPeak();
double megabytes(qint64 kib);

// ------------------------------------------------------------------ the checks

struct FolderCount
{
    qint64 files = 0;    // regular files, hidden ones included
    qint64 matching = 0; // of these, the ones with an expected name and size
};

FolderCount countFiles(const QString &folder, int expected, qint64 size);
// The content of a spread of files (all of them up to 64, then 64 with the
// first and last among them), in whole for files up to a few chunks, else
// their first, middle and last chunk.
void verifyContents(const QString &what, const QString &folder, int count, qint64 size);
// A run that did not do its work must not report a time: every file in the
// destination at its full size, a sample of them with the right content, and
// the source untouched after a copy and empty after a move.
void verifyTransfer(const QString &what, const QString &source, const QString &destination,
                    int count, qint64 size, bool move);
// Every file of a headless pass logged as done, and no error line.
void verifyCounts(const QString &what, const CountingLog &log, int count);
// The window's log keeps its last MaxLines lines: all of them must say
// "done", which also rules out an error line among them.
void verifyWindowLog(const QString &what, const QStringList &lines, int count,
                     const QString &doneText);

// ------------------------------------------------------------- the two sides

// Runs a command to its end; a failure ends the benchmark.
double runCommand(const QStringList &arguments);
QStringList copyCommand(const QString &source, const QString &destination);
QStringList moveCommand(const QString &source, const QString &destination);
// cp -pR, then sync -f: the copies are on disk when it ends.
QStringList durableCopyCommand(const QString &source, const QString &destination);
bool onPath(const char *program);

double runHeadlessPass(const QString &source, const QString &destination, bool move,
                       const MessageTable &texts, int count, const QString &what);
// --extra-options: the passes run with a quiet time, the download patterns
// left out and numbered names for taken ones, none of which holds a file of
// the data: their cost per file is what is measured. The data is left alone
// for longer than the quiet time before each run.
extern bool g_extraOptions;
constexpr int ExtraQuietSeconds = 1;
extern const QByteArray ExtraSettings;
// A program folder of its own: settings naming the job, the German texts,
// and a per-user store that is not the user's.
void writeSettings(const QString &program, const QString &source, const QString &destination);
MessageTable useProgramFolder(const QString &root);
// A window as the user has it: own program folder, log shown, on screen.
std::unique_ptr<frmMain> openWindow(const QString &programFolder);
// The child that strace watches: one headless copy of root/src to root/dst.
int tracedCopy(int argc, char *argv[]);

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

// Everything the cases share.
struct Bench
{
    int rounds = 5;
    QString root;    // the work folder
    QString program; // the program folder inside it
    MessageTable texts;
    std::vector<Result> results;
};

// The sides take turns in which goes first, so any effect of order (a warm
// cache, writes of the run before) falls on both alike. Every round counts.
Result measure(const Case &c, int rounds);

// Copy, move and the window over count small files in base/src and base/dst.
void runSmallCases(Bench &b, const QStringList &cases, const QString &place, const QString &base,
                   int count);
// One big file of bigSize bytes copied from src to dst.
void runCopyBig(Bench &b, const QString &src, const QString &dst, qint64 bigSize);
// crossCount 1 MiB files moved between a tmpfs and the disk, both ways.
void runMoveCross(Bench &b, const QString &src, const QString &dst, int crossCount);
// count files moved from src onto the FUSE test drive, which keeps data in
// memory until each file's fsync, against rsync --fsync.
void runMoveFuse(Bench &b, const QString &src, int count);
// A full log in the window, lines of a realistic length.
void runLogMemory(const Bench &b);
// System calls per file of a headless copy pass and of cp.
void runSyscalls(Bench &b);
// A window with the arrival trigger: a file closed in the source until it is
// in the destination, on a tmpfs where one can be mounted; then a minute of
// idling, and the processor time it took.
void runArrival(const Bench &b);

// ------------------------------------------------------------------ the report

QString verdict(bool met);
void printHeader();
void printResult(const Result &r);
QString fsTypeName(const QString &path);
// Per case and place: the time per file at each size, and how far apart the
// sizes are.
void printGrowth(const Bench &b, const QStringList &places, const QList<int> &sizes);
// The worst of the cases that have a target, measured against it.
void printWorst(const Bench &b);

} // namespace bench
