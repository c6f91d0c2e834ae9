#pragma once

// What the files of the POSIX file-system service share; not for use outside
// platform/Posix*.

#include "platform/FileNames.h"
#include "platform/PosixFileSystem.h"

#include <QByteArray>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace posixfs {

inline QByteArray encoded(const QString &path)
{
    return FileNames::encode(path);
}

inline FsResult lastError()
{
    return FsResult::fromErrno(errno);
}

inline FsResult sourceChanged()
{
    return FsResult::failure(PosixFileSystem::SourceChangedError,
                             PosixFileSystem::sourceChangedText());
}

// Closes the descriptor on every way out of a scope.
class Fd
{
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void reset(int fd)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    // Some file systems (NFS) report late write errors only at close.
    int close()
    {
        const int result = ::close(m_fd);
        m_fd = -1;
        return result;
    }

private:
    int m_fd;
};

inline QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return ".";
    if (slash == 0)
        return "/";
    return path.left(slash);
}

inline FsResult notRegular(const struct stat &st)
{
    if (S_ISDIR(st.st_mode))
        return FsResult::fromErrno(EISDIR);
    return FsResult::failure(EINVAL, QStringLiteral("Not a regular file"));
}

// The newer of modification and status-change time, in nanoseconds since
// the epoch: what the quiet time is asked of.
inline qint64 lastChange(const struct stat &st)
{
    const auto ns = [](const struct timespec &t) {
        return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
    };
    return std::max(ns(st.st_mtim), ns(st.st_ctim));
}

// Size and times to the nanosecond. The change time counts too: a writer can
// put the old modification time back (cp -p over the file, touch -r), but no
// one can set the change time.
inline bool sameContentState(const struct stat &a, const struct stat &b)
{
    return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
           a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

using Folder = std::unique_ptr<DIR, int (*)(DIR *)>;

// A folder opened for listing; empty, with errno set, on failure.
Folder openFolder(const QByteArray &path);

// False when path is a file that the latest listing of its folder saw as
// another file (another device or inode); true where the listing knows
// nothing about it.
bool asListed(const QByteArray &path, const struct stat &st);

// Set by tests only.
extern PosixFileSystem::StepHook stepHook;
// Cleared for good once the destination's file system refuses unnamed
// temporary files or naming them; the named fallback then serves.
extern std::atomic<bool> unnamedUsable;

void reached(PosixFileSystem::Step step, const QByteArray &path);

} // namespace posixfs
