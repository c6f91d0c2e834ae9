#include "platform/FileStamp.h"

#include "platform/FileNames.h"

#include <sys/stat.h>
#include <time.h>

namespace {
qint64 nanoseconds(const struct timespec &t)
{
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}
} // namespace

std::optional<FileStamp> FileStamp::of(const QString &path)
{
    struct stat st;
    if (path.isEmpty() || ::stat(FileNames::encode(path).constData(), &st) != 0)
        return std::nullopt;
    return FileStamp{quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size),
                     nanoseconds(st.st_mtim), nanoseconds(st.st_ctim)};
}

bool FileStamp::settled() const
{
    constexpr qint64 CoarseClockStepNs = 2'000'000'000;
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    const qint64 nowNs = nanoseconds(now);
    return nowNs - changedNs > CoarseClockStepNs && nowNs - modifiedNs > CoarseClockStepNs;
}
