// The work folder and its data: made fresh for each run, removed on every
// way out.
#include "Bench.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace bench {

char g_mounts[3][4096] = {};
char g_workRoot[4096] = {};
bool g_timesLine = false;

void unmountAll()
{
    for (char *mount : g_mounts)
        if (mount[0]) {
            ::umount2(mount, MNT_DETACH);
            mount[0] = '\0';
        }
}

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

QString errnoText(int error)
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

QString fileName(int index)
{
    return QStringLiteral("file-%1.dat").arg(index, 7, 10, QLatin1Char('0'));
}

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

void flush(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
}

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

qint64 g_earlierPeakKiB = 0;

qint64 peakKiB()
{
    return qMax(g_earlierPeakKiB, statusKiB("VmHWM"));
}

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

} // namespace bench
