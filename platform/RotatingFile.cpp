#include "platform/RotatingFile.h"

#include "platform/FileNames.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

FsResult makeFolder(const QString &folder)
{
    const QByteArray name = FileNames::encode(folder);
    if (::mkdir(name.constData(), 0700) == 0 || errno == EEXIST)
        return FsResult::success();
    if (errno != ENOENT)
        return FsResult::fromErrno(errno);
    // The parents (~/.local/state) are ordinary folders of the user.
    QDir().mkpath(QFileInfo(folder).path());
    if (::mkdir(name.constData(), 0700) == 0 || errno == EEXIST)
        return FsResult::success();
    return FsResult::fromErrno(errno);
}

// Writes all of bytes at the end of the file, or takes back what a failing
// write left, as long as nobody else has appended after it.
FsResult appendWhole(int fd, const QByteArray &bytes)
{
    qint64 written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const FsResult failed = FsResult::fromErrno(n < 0 ? errno : ENOSPC);
            struct stat st;
            const off_t end = ::lseek(fd, 0, SEEK_CUR);
            if (written > 0 && end >= written && ::fstat(fd, &st) == 0 && st.st_size == end)
                (void)::ftruncate(fd, end - written);
            return failed;
        }
        written += n;
    }
    return FsResult::success();
}

} // namespace

RotatingFile::RotatingFile(QString path, qint64 limitBytes, int kept)
    : m_path(std::move(path)), m_limit(limitBytes), m_kept(kept)
{
}

FsResult RotatingFile::append(const QByteArrayList &lines)
{
    if (const FsResult made = makeFolder(QFileInfo(m_path).path()); !made.ok())
        return made;
    const QByteArray name = FileNames::encode(m_path);
    int fd = -1;
    FsResult result = FsResult::success();
    for (const QByteArray &line : lines) {
        if (fd < 0) {
            // Non-blocking open: a FIFO put in the file's place must not hang
            // the writer; it is refused below like any other non-file.
            fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK,
                        0600);
            if (fd < 0)
                return FsResult::fromErrno(errno);
        }
        struct stat st;
        if (::fstat(fd, &st) != 0) {
            result = FsResult::fromErrno(errno);
            break;
        }
        if (!S_ISREG(st.st_mode)) {
            result = FsResult::failure(EINVAL, QStringLiteral("Not a regular file"));
            break;
        }
        if (st.st_size > 0 && st.st_size + line.size() > m_limit) {
            ::close(fd);
            fd = -1;
            result = rotate();
            if (!result.ok())
                return result;
            fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK,
                        0600);
            if (fd < 0)
                return FsResult::fromErrno(errno);
        }
        result = appendWhole(fd, line);
        if (!result.ok())
            break;
    }
    if (fd >= 0 && ::close(fd) != 0 && result.ok())
        result = FsResult::fromErrno(errno);
    return result;
}

FsResult RotatingFile::rotate()
{
    auto numbered = [this](int n) {
        return FileNames::encode(m_path + QLatin1Char('.') + QString::number(n));
    };
    // Oldest first; a missing older file is no failure.
    for (int n = m_kept - 1; n >= 1; --n)
        (void)::rename(numbered(n).constData(), numbered(n + 1).constData());
    if (m_kept < 1)
        return ::unlink(FileNames::encode(m_path).constData()) == 0 || errno == ENOENT
                   ? FsResult::success()
                   : FsResult::fromErrno(errno);
    if (::rename(FileNames::encode(m_path).constData(), numbered(1).constData()) != 0 &&
        errno != ENOENT)
        return FsResult::fromErrno(errno);
    return FsResult::success();
}
