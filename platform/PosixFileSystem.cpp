#include "platform/PosixFileSystem.h"

#include "platform/CopyProgress.h"
#include "platform/FileNames.h"

#include <QFile>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace {

QByteArray encoded(const QString &path)
{
    return FileNames::encode(path);
}

FsResult lastError()
{
    return FsResult::fromErrno(errno);
}

FsResult sourceChanged()
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

// A file that must disappear again unless the operation succeeds.
struct Removal
{
    QByteArray path;
    ~Removal()
    {
        if (!path.isEmpty())
            ::unlink(path.constData());
    }
    void cancel() { path.clear(); }
};

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return ".";
    if (slash == 0)
        return "/";
    return path.left(slash);
}

FsResult notRegular(const struct stat &st)
{
    if (S_ISDIR(st.st_mode))
        return FsResult::fromErrno(EISDIR);
    return FsResult::failure(EINVAL, QStringLiteral("Not a regular file"));
}

bool sameContentState(const struct stat &a, const struct stat &b)
{
    return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// Errors with which copy_file_range says "not for these files" (older kernels,
// sandboxes, some file systems). A real failure shows again in read/write.
bool kernelCopyUnsupported(int error)
{
    return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP ||
           error == EPERM || error == EBADF || error == ETXTBSY;
}

// Copies bytes [offset, end) of in to the same offsets of out. Starts with
// copy_file_range (no round trip through user space, reflinks where the file
// system offers them) and falls back to pread/pwrite for good once the kernel
// refuses it for this pair of files.
FsResult copyRange(int in, int out, off_t offset, off_t end, bool &kernelCopy,
                   std::vector<char> &buffer)
{
    // Small enough steps for a big file to show how far its copy has come.
    constexpr off_t maxChunk = off_t(16) << 20;
    while (offset < end) {
        const size_t chunk = size_t(std::min(end - offset, maxChunk));
        if (kernelCopy) {
            off_t inOffset = offset;
            off_t outOffset = offset;
            const ssize_t n = ::copy_file_range(in, &inOffset, out, &outOffset, chunk, 0);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                if (!kernelCopyUnsupported(errno))
                    return lastError();
                kernelCopy = false;
                continue;
            }
            if (n == 0) {
                // Some file systems copy nothing this way; read/write decides
                // whether the source really ended early.
                kernelCopy = false;
                continue;
            }
            offset += n;
            CopyProgress::advance(offset);
            continue;
        }
        if (buffer.empty())
            buffer.resize(1 << 20);
        const ssize_t n = ::pread(in, buffer.data(), std::min(chunk, buffer.size()), offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return lastError();
        }
        if (n == 0)
            return sourceChanged();
        for (ssize_t written = 0; written < n;) {
            const ssize_t w =
                ::pwrite(out, buffer.data() + written, size_t(n - written), offset + written);
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                return lastError();
            }
            written += w;
        }
        offset += n;
        CopyProgress::advance(offset);
    }
    return FsResult::success();
}

// Copies the first size bytes of in to out, skipping holes so that a sparse
// file stays sparse and costs no time or space for its empty ranges.
FsResult copyContent(int in, int out, const struct stat &source)
{
    const off_t size = source.st_size;
    bool kernelCopy = true;
    std::vector<char> buffer;
    // Blocks covering the whole size mean no holes: no need to look for them.
    if (off_t(source.st_blocks) * 512 >= size)
        return copyRange(in, out, 0, size, kernelCopy, buffer);
    off_t offset = 0;
    while (offset < size) {
        off_t data = ::lseek(in, offset, SEEK_DATA);
        off_t hole = size;
        if (data < 0) {
            if (errno == ENXIO) // nothing but a hole up to the end
                break;
            data = offset; // no hole support: copy everything
        } else {
            hole = ::lseek(in, data, SEEK_HOLE);
            if (hole < 0 || hole > size)
                hole = size;
        }
        if (data >= size)
            break;
        const FsResult copied = copyRange(in, out, data, hole, kernelCopy, buffer);
        if (!copied.ok())
            return copied;
        offset = hole;
    }
    if (::ftruncate(out, size) != 0)
        return lastError();
    return FsResult::success();
}

// Makes a rename or link inside folder durable.
FsResult syncFolder(const QByteArray &folder)
{
    Fd fd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid())
        return lastError();
    // Some file systems cannot sync a folder at all; nothing more to do there.
    if (::fsync(fd.get()) != 0 && errno != EINVAL)
        return lastError();
    return FsResult::success();
}

// A complete copy of source in a new hidden temporary file beside
// destination, with the source's modification time and permission bits;
// synced to disk when durable.
// On success temp names that file and source holds the state it was copied
// in; on failure no temporary file is left.
FsResult stageCopy(const QByteArray &source, const QByteArray &destination, Removal &temp,
                   struct stat &copied, bool durable)
{
    // Check before opening: opening a FIFO or a device can block or act.
    struct stat before;
    if (::lstat(source.constData(), &before) != 0)
        return lastError();
    if (!S_ISREG(before.st_mode))
        return notRegular(before);
    Fd in(::open(source.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!in.valid())
        return lastError();
    // The name may have been replaced between the check and the open.
    if (::fstat(in.get(), &before) != 0)
        return lastError();
    if (!S_ISREG(before.st_mode))
        return notRegular(before);
    const CopyProgress::Scope progress(before.st_size);

    QByteArray name = folderOf(destination) + "/.pallwick-XXXXXX.tmp";
    Fd out(::mkostemps(name.data(), 4, O_CLOEXEC));
    if (!out.valid())
        return lastError();
    temp.path = name;

    FsResult result = copyContent(in.get(), out.get(), before);
    if (!result.ok())
        return result;
    if (::fchmod(out.get(), before.st_mode & 0777) != 0)
        return lastError();
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    if (::futimens(out.get(), times) != 0)
        return lastError();
    if (durable && ::fsync(out.get()) != 0)
        return lastError();
    if (out.close() != 0)
        return lastError();

    struct stat after;
    if (::fstat(in.get(), &after) != 0)
        return lastError();
    if (!sameContentState(before, after))
        return sourceChanged();
    copied = before;
    return FsResult::success();
}

// rename() that never replaces an existing destination.
int renameNoReplace(const char *from, const char *to)
{
#ifdef SYS_renameat2
    if (::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != ENOSYS && errno != EINVAL)
        return -1;
#endif
    // The kernel or file system lacks the flag: a check, then a plain rename.
    struct stat st;
    if (::lstat(to, &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::rename(from, to);
}

// A move across file systems: the source goes only once the destination is
// complete and on disk, and any failure undoes the destination.
FsResult moveAcross(const QByteArray &source, const QByteArray &destination)
{
    Removal temp;
    struct stat copied;
    FsResult result = stageCopy(source, destination, temp, copied, true);
    if (!result.ok())
        return result;

    // link() refuses to replace a file that appeared meanwhile; file systems
    // without hard links get the no-replace rename instead.
    if (::link(temp.path.constData(), destination.constData()) != 0) {
        if (errno == EEXIST || renameNoReplace(temp.path.constData(), destination.constData()) != 0)
            return lastError();
        temp.cancel();
    }
    Removal placed{destination};

    result = syncFolder(folderOf(destination));
    if (!result.ok())
        return result;

    struct stat now;
    if (::lstat(source.constData(), &now) != 0)
        return lastError();
    if (now.st_dev != copied.st_dev || now.st_ino != copied.st_ino ||
        !sameContentState(now, copied))
        return sourceChanged();
    if (::unlink(source.constData()) != 0)
        return lastError();
    placed.cancel();
    return FsResult::success();
}

} // namespace

QString PosixFileSystem::sourceChangedText()
{
    return QStringLiteral("the source file changed while it was being copied");
}

bool PosixFileSystem::folderExists(const QString &path) const
{
    struct stat st;
    return !path.isEmpty() && ::stat(encoded(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

FsValue<bool> PosixFileSystem::fileExists(const QString &path) const
{
    struct stat st;
    if (::lstat(encoded(path).constData(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return FsValue<bool>::of(false);
        return FsValue<bool>::failed(lastError());
    }
    return FsValue<bool>::of(!S_ISDIR(st.st_mode));
}

FsValue<QStringList> PosixFileSystem::listPlainFiles(const QString &folder) const
{
    const int fd = ::open(encoded(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return FsValue<QStringList>::failed(lastError());
    std::unique_ptr<DIR, int (*)(DIR *)> dir(::fdopendir(fd), &::closedir);
    if (!dir) {
        const FsResult error = lastError();
        ::close(fd);
        return FsValue<QStringList>::failed(error);
    }

    QStringList names;
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir.get());
        if (!entry) {
            if (errno != 0)
                return FsValue<QStringList>::failed(lastError());
            break;
        }
        if (entry->d_name[0] == '.') // hidden, and the . and .. entries
            continue;
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st;
            // A file that vanished since readdir is simply not listed.
            regular =
                ::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
        }
        if (regular)
            names << FileNames::decode(QByteArray(entry->d_name));
    }
    return FsValue<QStringList>::of(names);
}

FsValue<qint64> PosixFileSystem::fileLength(const QString &path) const
{
    struct stat st;
    if (::stat(encoded(path).constData(), &st) != 0)
        return FsValue<qint64>::failed(lastError());
    if (S_ISDIR(st.st_mode))
        return FsValue<qint64>::failed(FsResult::fromErrno(EISDIR));
    return FsValue<qint64>::of(qint64(st.st_size));
}

bool PosixFileSystem::sameFile(const QString &a, const QString &b) const
{
    struct stat first;
    struct stat second;
    return ::stat(encoded(a).constData(), &first) == 0 &&
           ::stat(encoded(b).constData(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

FsResult PosixFileSystem::deleteFile(const QString &path)
{
    // unlink needs write access to the folder only, so read-only files go too.
    if (::unlink(encoded(path).constData()) != 0)
        return lastError();
    return FsResult::success();
}

FsResult PosixFileSystem::copyFile(const QString &source, const QString &destination)
{
    const QByteArray to = encoded(destination);
    Removal temp;
    struct stat copied;
    // A copy keeps its source, so a crash can cost only the new copy, which
    // the next pass makes again: no fsync, and many small copies stay as fast
    // as cp. The rename still puts only a complete file under the final name.
    const FsResult result = stageCopy(encoded(source), to, temp, copied, false);
    if (!result.ok())
        return result;
    if (::rename(temp.path.constData(), to.constData()) != 0)
        return lastError();
    temp.cancel();
    return FsResult::success();
}

FsResult PosixFileSystem::moveFile(const QString &source, const QString &destination)
{
    const QByteArray from = encoded(source);
    const QByteArray to = encoded(destination);
    // The no-replace rename reports an existing destination (EEXIST) and a
    // missing source (ENOENT) by itself.
    if (renameNoReplace(from.constData(), to.constData()) == 0)
        return FsResult::success();
    if (errno != EXDEV)
        return lastError();
    // Across file systems the kernel answers EXDEV before it looks at the
    // destination: refuse an existing one before copying anything.
    struct stat st;
    if (::lstat(to.constData(), &st) == 0)
        return FsResult::fromErrno(EEXIST);
    return moveAcross(from, to);
}

QString PosixFileSystem::driveName(const QString &path) const
{
    if (path.isEmpty())
        return {};
    char *resolved = ::realpath(encoded(path).constData(), nullptr);
    if (!resolved)
        return {};
    QByteArray current(resolved);
    std::free(resolved);

    // The mount point is the highest folder that is still on path's device.
    struct stat st;
    if (::stat(current.constData(), &st) != 0)
        return {};
    const dev_t device = st.st_dev;
    while (current != "/") {
        const QByteArray parent = folderOf(current);
        if (::stat(parent.constData(), &st) != 0 || st.st_dev != device)
            break;
        current = parent;
    }
    return FileNames::decode(current);
}

qint64 PosixFileSystem::freeSpace(const QString &path) const
{
    struct statvfs info;
    if (path.isEmpty() || ::statvfs(encoded(path).constData(), &info) != 0)
        return -1;
    return qint64(info.f_bavail) * qint64(info.f_frsize);
}
