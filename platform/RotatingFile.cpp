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
                [[maybe_unused]]
                const int restored = ::ftruncate(fd, end - written);
            return failed;
        }
        written += n;
    }
    return FsResult::success();
}

// The log is written outside the two folders of the job, often by root from
// a timer: only into a folder and a file of the user running the program that
// no one else may write, so nobody can plant a link or a file of theirs that
// the program would then append to.
FsResult checkPrivate(const struct stat &st, const char *what)
{
    if (st.st_uid != ::geteuid())
        return FsResult::failure(
            EPERM, QStringLiteral("%1 belongs to another user").arg(QLatin1String(what)));
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return FsResult::failure(
            EPERM, QStringLiteral("%1 is writable by others").arg(QLatin1String(what)));
    return FsResult::success();
}

// An open descriptor of the log's own folder, never through a link.
FsValue<int> openFolder(const QString &folder)
{
    const int fd = ::open(FileNames::encode(folder).constData(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return FsValue<int>::failed(FsResult::fromErrno(errno));
    struct stat st;
    FsResult checked =
        ::fstat(fd, &st) == 0 ? checkPrivate(st, "Folder") : FsResult::fromErrno(errno);
    if (!checked.ok()) {
        ::close(fd);
        return FsValue<int>::failed(checked);
    }
    return FsValue<int>::of(fd);
}

} // namespace

RotatingFile::RotatingFile(QString path, qint64 limitBytes, int kept)
    : m_path(std::move(path)), m_limit(limitBytes), m_kept(kept)
{
}

FsResult RotatingFile::append(const QByteArrayList &lines)
{
    const QString folderPath = QFileInfo(m_path).path();
    if (const FsResult made = makeFolder(folderPath); !made.ok())
        return made;
    const FsValue<int> folder = openFolder(folderPath);
    if (!folder.ok())
        return folder.status();
    const QByteArray name = FileNames::encode(QFileInfo(m_path).fileName());
    // Non-blocking: a FIFO put in the file's place must not hang the writer;
    // it is refused below like any other non-file. A link is never followed.
    int fd = -1;
    struct stat st;
    const auto openFile = [&]() -> FsResult {
        fd = ::openat(folder.value, name.constData(),
                      O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0600);
        if (fd < 0)
            return FsResult::fromErrno(errno);
        if (::fstat(fd, &st) != 0)
            return FsResult::fromErrno(errno);
        if (!S_ISREG(st.st_mode))
            return FsResult::failure(EINVAL, QStringLiteral("Not a regular file"));
        return checkPrivate(st, "File");
    };
    FsResult result = FsResult::success();
    for (const QByteArray &line : lines) {
        if (fd < 0) {
            if (result = openFile(); !result.ok())
                break;
        } else if (::fstat(fd, &st) != 0) { // another writer may have appended
            result = FsResult::fromErrno(errno);
            break;
        }
        if (st.st_size > 0 && st.st_size + line.size() > m_limit) {
            ::close(fd);
            fd = -1;
            if (result = rotate(folder.value, name); !result.ok())
                break;
            if (result = openFile(); !result.ok())
                break;
        }
        result = appendWhole(fd, line);
        if (!result.ok())
            break;
    }
    if (fd >= 0 && ::close(fd) != 0 && result.ok())
        result = FsResult::fromErrno(errno);
    ::close(folder.value);
    return result;
}

FsResult RotatingFile::rotate(int folder, const QByteArray &name)
{
    auto numbered = [&name](int n) { return name + '.' + QByteArray::number(n); };
    // The older files are only renamed, never written, but they are the
    // log's too: one that is not the user's own plain file stops the turn.
    for (int n = 1; n <= m_kept; ++n) {
        struct stat st;
        if (::fstatat(folder, numbered(n).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (!S_ISREG(st.st_mode))
            return FsResult::failure(EINVAL, QStringLiteral("Not a regular file"));
        if (const FsResult checked = checkPrivate(st, "File"); !checked.ok())
            return checked;
    }
    // Oldest first; a missing older file is no failure.
    for (int n = m_kept - 1; n >= 1; --n)
        (void)::renameat(folder, numbered(n).constData(), folder, numbered(n + 1).constData());
    if (m_kept < 1)
        return ::unlinkat(folder, name.constData(), 0) == 0 || errno == ENOENT
                   ? FsResult::success()
                   : FsResult::fromErrno(errno);
    if (::renameat(folder, name.constData(), folder, numbered(1).constData()) != 0 &&
        errno != ENOENT)
        return FsResult::fromErrno(errno);
    return FsResult::success();
}
