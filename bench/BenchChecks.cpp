// A run that did not do its work must not report a time: these checks end
// the benchmark instead.
#include "Bench.h"

#include <algorithm>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace bench {

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

} // namespace bench
