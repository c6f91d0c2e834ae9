#include "platform/PosixFileSystem.h"

#include "platform/CopyProgress.h"
#include "platform/FileNames.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
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

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return ".";
    if (slash == 0)
        return "/";
    return path.left(slash);
}

// Folders the calling thread holds open (holdFolders): a file in one is
// looked up from the folder's descriptor instead of walking its whole path,
// which for small files is a good part of what each call costs.
struct HeldFolder
{
    QByteArray path;
    int fd;
    // What the process's umask takes from a new file's mode here; -1 where a
    // default ACL (or anything unknown) decides instead. Looked up when a
    // file is first made here.
    int createMask = Unknown;
    static constexpr int Unknown = -2;
};
thread_local std::vector<HeldFolder> heldFolders;

class PosixFolderHold : public FolderHold
{
public:
    explicit PosixFolderHold(size_t first) : m_first(first) {}
    ~PosixFolderHold() override
    {
        while (heldFolders.size() > m_first) {
            ::close(heldFolders.back().fd);
            heldFolders.pop_back();
        }
    }

private:
    size_t m_first;
};

HeldFolder *heldFolder(const QByteArray &folder)
{
    for (HeldFolder &held : heldFolders)
        if (held.path == folder)
            return &held;
    return nullptr;
}

// The process's umask, read without changing it (umask() would, for a moment,
// for every thread); -1 when it cannot be read.
int currentUmask()
{
    Fd status(::open("/proc/self/status", O_RDONLY | O_CLOEXEC));
    char text[4096];
    const ssize_t length = status.valid() ? ::read(status.get(), text, sizeof text - 1) : -1;
    if (length <= 0)
        return -1;
    text[length] = '\0';
    const char *line = std::strstr(text, "\nUmask:");
    return line ? int(std::strtol(line + 7, nullptr, 8)) : -1;
}

// The umask where it alone shapes a new file's mode in folder.
int createMaskOf(const QByteArray &folder)
{
    if (::getxattr(folder.constData(), "system.posix_acl_default", nullptr, 0) >= 0 ||
        (errno != ENODATA && errno != EOPNOTSUPP))
        return -1;
    return currentUmask();
}

// A path as a folder descriptor and a name in it: a held folder and the last
// component where path lies directly in one, else the path itself.
struct At
{
    int dir;
    const char *name;
};

At at(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash >= 0 && !heldFolders.empty()) {
        const qsizetype length = slash == 0 ? 1 : slash; // as folderOf() has it
        for (const HeldFolder &held : heldFolders)
            if (held.path.size() == length &&
                std::memcmp(held.path.constData(), path.constData(), size_t(length)) == 0)
                return {held.fd, path.constData() + slash + 1};
    }
    return {AT_FDCWD, path.constData()};
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
        // Small enough to stay in the processor's cache between the read and
        // the write, which matters more than the number of calls.
        if (buffer.empty())
            buffer.resize(128 << 10);
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

using Folder = std::unique_ptr<DIR, int (*)(DIR *)>;

// A folder opened for listing; empty, with errno set, on failure.
Folder openFolder(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    Folder dir(fd < 0 ? nullptr : ::fdopendir(fd), &::closedir);
    if (fd >= 0 && !dir) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return dir;
}

// Set by tests only.
PosixFileSystem::StepHook stepHook;
// Cleared for good once the destination's file system refuses unnamed
// temporary files or naming them; the named fallback then serves.
std::atomic<bool> unnamedUsable{true};

void reached(PosixFileSystem::Step step, const QByteArray &path)
{
    if (stepHook)
        stepHook(step, path);
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
    reached(PosixFileSystem::Step::FolderSynced, folder);
    return FsResult::success();
}

constexpr char TempPrefix[] = ".pallwick-";
constexpr char TempSuffix[] = ".tmp";
constexpr int TempRandomChars = 6; // the XXXXXX of mkostemps

bool isTemporaryName(const char *name)
{
    const size_t prefix = sizeof(TempPrefix) - 1, suffix = sizeof(TempSuffix) - 1;
    const size_t length = std::strlen(name);
    return length == prefix + TempRandomChars + suffix &&
           std::strncmp(name, TempPrefix, prefix) == 0 &&
           std::strcmp(name + length - suffix, TempSuffix) == 0;
}

// rename() that never replaces an existing destination.
int renameNoReplace(const QByteArray &fromPath, const QByteArray &toPath)
{
    const At from = at(fromPath), to = at(toPath);
#ifdef SYS_renameat2
    if (::syscall(SYS_renameat2, from.dir, from.name, to.dir, to.name, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != ENOSYS && errno != EINVAL)
        return -1;
#endif
    // The kernel or file system lacks the flag: a check, then a plain rename.
    struct stat st;
    if (::fstatat(to.dir, to.name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::renameat(from.dir, from.name, to.dir, to.name);
}

// Failures of placing a finished copy that say nothing about the copy or the
// name, only that this file system cannot name an unnamed file.
bool namingUnsupported(int error)
{
    return error != EEXIST && error != ENOSPC && error != EDQUOT && error != EIO &&
           error != EROFS && error != ENAMETOOLONG && error != ENOENT;
}

// A copy on its way into the destination folder. It has no name at all
// (O_TMPFILE) where the file system allows, so a killed program leaves
// nothing behind; elsewhere it is a hidden named file, locked while it is
// written, so the leftover cleanup can tell it from an abandoned one. It gets
// its final name only when complete, and only if that name is free.
class StagedFile
{
public:
    StagedFile() = default;
    StagedFile(const StagedFile &) = delete;
    StagedFile &operator=(const StagedFile &) = delete;
    ~StagedFile()
    {
        if (!m_tempPath.isEmpty())
            ::unlink(m_tempPath.constData());
    }

    // A file that is to get mode in the end; modeSet() tells whether it has
    // it already.
    FsResult create(const QByteArray &folder, bool unnamed, mode_t mode)
    {
        if (unnamed) {
            // An unnamed file cannot be opened by anyone else, so it may get
            // its final mode at once where the umask leaves that whole.
            HeldFolder *held = heldFolder(folder);
            if (held && held->createMask == HeldFolder::Unknown)
                held->createMask = createMaskOf(folder);
            m_modeSet = held && held->createMask >= 0 && (mode & mode_t(held->createMask)) == 0;
            const mode_t initial = m_modeSet ? mode : 0600;
            m_fd.reset(held ? ::openat(held->fd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, initial)
                            : ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
            if (m_fd.valid())
                return FsResult::success();
            m_modeSet = false;
            // Kernels and file systems without O_TMPFILE answer these.
            if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
                return lastError();
            unnamedUsable = false;
        }
        QByteArray name = folder + '/' + TempPrefix + QByteArray(TempRandomChars, 'X') + TempSuffix;
        m_fd.reset(::mkostemps(name.data(), int(sizeof(TempSuffix) - 1), O_CLOEXEC));
        if (!m_fd.valid())
            return lastError();
        m_tempPath = name;
        // A lock the kernel drops when this process ends, however it ends.
        if (::flock(m_fd.get(), LOCK_EX) != 0)
            return lastError();
        return FsResult::success();
    }

    int fd() const { return m_fd.get(); }
    bool unnamed() const { return m_tempPath.isEmpty(); }
    bool modeSet() const { return m_modeSet; }

    // Gives the complete file its final name, never replacing one: EEXIST
    // when destination is taken.
    FsResult place(const QByteArray &destination)
    {
        if (unnamed())
            return link(destination);
        // The lock lasts until the name is given; a write error that only the
        // close reports (NFS) takes the name back.
        FsResult result = link(destination);
        if (result.ok() && m_fd.close() != 0) {
            result = lastError();
            ::unlink(destination.constData());
        }
        return result;
    }

private:
    FsResult link(const QByteArray &destination)
    {
        if (unnamed()) {
            const At to = at(destination);
            if (::linkat(m_fd.get(), "", to.dir, to.name, AT_EMPTY_PATH) == 0)
                return FsResult::success();
            if (errno == EEXIST)
                return lastError();
            // Without CAP_DAC_READ_SEARCH the descriptor is named through /proc.
            const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_fd.get());
            if (::linkat(AT_FDCWD, self.constData(), to.dir, to.name, AT_SYMLINK_FOLLOW) == 0)
                return FsResult::success();
            return lastError();
        }
        // link() refuses an existing name; file systems without hard links
        // get the no-replace rename instead.
        if (::link(m_tempPath.constData(), destination.constData()) == 0)
            return FsResult::success();
        if (errno == EEXIST || renameNoReplace(m_tempPath, destination) != 0)
            return lastError();
        m_tempPath.clear();
        return FsResult::success();
    }

    Fd m_fd{-1};
    QByteArray m_tempPath;
    bool m_modeSet = false;
};

// How far a staged copy is pushed to disk before stageCopy returns.
enum class Flush
{
    None,
    Wait // it is on disk
};

// A complete copy of source in staged, with the source's modification time
// and permission bits, flushed as asked. On success copied holds the state
// the source was copied in.
FsResult stageCopy(const QByteArray &source, const QByteArray &folder, bool unnamed,
                   StagedFile &staged, struct stat &copied, Flush flush,
                   const FileSystem::Admission &admit = {})
{
    // O_NONBLOCK: a FIFO put in the file's place must not hang the open.
    const At from = at(source);
    Fd in(::openat(from.dir, from.name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!in.valid())
        return errno == ELOOP ? FsResult::failure(EINVAL, QStringLiteral("Not a regular file"))
                              : lastError();
    struct stat before;
    if (::fstat(in.get(), &before) != 0)
        return lastError();
    if (!S_ISREG(before.st_mode))
        return notRegular(before);
    if (admit && !admit(qint64(before.st_size)))
        return FsResult::failure(FileSystem::NotAdmitted, QString());
    const CopyProgress::Scope progress(before.st_size);

    FsResult result = staged.create(folder, unnamed, before.st_mode & 0777);
    if (!result.ok())
        return result;
    result = copyContent(in.get(), staged.fd(), before);
    if (!result.ok())
        return result;
    if (!staged.modeSet() && ::fchmod(staged.fd(), before.st_mode & 0777) != 0)
        return lastError();
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    if (::futimens(staged.fd(), times) != 0)
        return lastError();
    if (flush == Flush::Wait) {
        if (::fsync(staged.fd()) != 0)
            return lastError();
        reached(PosixFileSystem::Step::FileSynced, source);
    }

    struct stat after;
    if (::fstat(in.get(), &after) != 0)
        return lastError();
    if (!sameContentState(before, after))
        return sourceChanged();
    copied = before;
    return FsResult::success();
}

// Stages a copy of source beside destination and puts it in place. Falls back
// to a named temporary file, once and then for good, when the file system
// cannot name an unnamed one.
FsResult copyInto(const QByteArray &source, const QByteArray &destination, struct stat &copied,
                  StagedFile &staged, std::optional<StagedFile> &fallback,
                  const FileSystem::Admission &admit)
{
    const QByteArray folder = folderOf(destination);
    const bool unnamed = unnamedUsable.load(std::memory_order_relaxed);
    FsResult result = stageCopy(source, folder, unnamed, staged, copied, Flush::None, admit);
    if (!result.ok())
        return result;
    reached(PosixFileSystem::Step::Staged, destination);
    result = staged.place(destination);
    if (result.ok() || !staged.unnamed() || !namingUnsupported(result.error))
        return result;
    unnamedUsable = false;
    fallback.emplace();
    result = stageCopy(source, folder, false, *fallback, copied, Flush::None);
    if (!result.ok())
        return result;
    reached(PosixFileSystem::Step::Staged, destination);
    return fallback->place(destination);
}

// A move across file systems on its way: staged, then completed.
struct PendingMove
{
    QByteArray source;
    QByteArray destination;
    StagedFile staged;
    std::optional<StagedFile> fallback;
    struct stat copied;
    FsResult result;
    bool placed = false;
};

// Has the disk start writing each staged copy, on a thread of its own: the
// writing costs processor time too, and so overlaps with copying the next
// file instead of following it. The batch's flush still waits for it all.
class WritebackStarter
{
public:
    WritebackStarter() = default;
    WritebackStarter(const WritebackStarter &) = delete;
    WritebackStarter &operator=(const WritebackStarter &) = delete;
    ~WritebackStarter() { finish(); }

    void add(int fd)
    {
        const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (copy < 0)
            return; // then the flush does all the writing
        {
            std::lock_guard lock(m_mutex);
            m_fds.push_back(copy);
        }
        if (!m_thread.joinable())
            m_thread = std::thread([this] { run(); });
        m_changed.notify_one();
    }

    // Returns once every file added so far has been handed to the disk.
    void finish()
    {
        {
            std::lock_guard lock(m_mutex);
            m_finishing = true;
        }
        m_changed.notify_one();
        if (m_thread.joinable())
            m_thread.join();
        m_finishing = false;
    }

private:
    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return m_finishing || !m_fds.empty(); });
            if (m_fds.empty())
                return;
            const int fd = m_fds.front();
            m_fds.pop_front();
            lock.unlock();
            // Only a head start: a failure shows in the flush.
            ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
            ::close(fd);
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<int> m_fds;
    bool m_finishing = false;
    std::thread m_thread;
};

class PosixMoveBatch : public MoveBatch
{
public:
    std::vector<std::unique_ptr<PendingMove>> moves;
    WritebackStarter writeback;
};

FsResult stageMove(PendingMove &move)
{
    return stageCopy(move.source, folderOf(move.destination),
                     unnamedUsable.load(std::memory_order_relaxed), move.staged, move.copied,
                     Flush::None);
}

// Makes the staged copies durable with one flush of their file system, or
// one per file where that cannot be had.
void syncStaged(const std::vector<PendingMove *> &moves)
{
    if (moves.empty())
        return;
    const bool whole = ::syncfs(moves.front()->staged.fd()) == 0;
    for (PendingMove *move : moves) {
        if (!whole && ::fsync(move->staged.fd()) != 0)
            move->result = lastError();
        else
            reached(PosixFileSystem::Step::FileSynced, move->source);
    }
}

// Completes staged moves: their copies are flushed to disk, then named, the
// names flushed, and only then does each source go, if it did not change
// since it was copied. Every failure takes the copy back and keeps the source.
void completeStaged(const std::vector<PendingMove *> &staged)
{
    syncStaged(staged);
    QList<QByteArray> folders;
    for (PendingMove *move : staged) {
        if (!move->result.ok())
            continue;
        reached(PosixFileSystem::Step::Staged, move->destination);
        move->result = move->staged.place(move->destination);
        if (!move->result.ok() && move->staged.unnamed() && namingUnsupported(move->result.error)) {
            unnamedUsable = false;
            move->fallback.emplace();
            move->result = stageCopy(move->source, folderOf(move->destination), false,
                                     *move->fallback, move->copied, Flush::Wait);
            if (move->result.ok()) {
                reached(PosixFileSystem::Step::Staged, move->destination);
                move->result = move->fallback->place(move->destination);
            }
        }
        move->placed = move->result.ok();
        if (move->placed && !folders.contains(folderOf(move->destination)))
            folders << folderOf(move->destination);
    }
    for (const QByteArray &folder : folders) {
        const FsResult synced = syncFolder(folder);
        for (PendingMove *move : staged)
            if (move->placed && !synced.ok() && folderOf(move->destination) == folder)
                move->result = synced;
    }
    for (PendingMove *move : staged) {
        if (!move->placed)
            continue;
        if (move->result.ok()) {
            struct stat now;
            if (::lstat(move->source.constData(), &now) != 0)
                move->result = lastError();
            else if (now.st_dev != move->copied.st_dev || now.st_ino != move->copied.st_ino ||
                     !sameContentState(now, move->copied))
                move->result = sourceChanged();
            else if (::unlink(move->source.constData()) != 0)
                move->result = lastError();
            else
                reached(PosixFileSystem::Step::SourceDeleted, move->source);
        }
        if (!move->result.ok())
            ::unlink(move->destination.constData());
    }
}

// The name of path's last component with letter case and Unicode
// normalisation changed, or "" when no such other spelling exists.
QByteArray otherSpelling(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    const QString name = FileNames::decode(path.mid(slash + 1));
    QString other;
    other.reserve(name.size());
    for (const QChar c : name)
        other += c.isUpper() ? c.toLower() : c.toUpper();
    const QString decomposed = other.normalized(QString::NormalizationForm_D);
    if (decomposed != other)
        other = decomposed;
    if (other == name)
        return {};
    return path.left(slash + 1) + FileNames::encode(other);
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
    const QByteArray bytes = encoded(path);
    const At where = at(bytes);
    struct stat st;
    if (::fstatat(where.dir, where.name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return FsValue<bool>::of(false);
        return FsValue<bool>::failed(lastError());
    }
    return FsValue<bool>::of(!S_ISDIR(st.st_mode));
}

FsValue<QStringList> PosixFileSystem::listPlainFiles(const QString &folder) const
{
    const Folder dir = openFolder(encoded(folder));
    if (!dir)
        return FsValue<QStringList>::failed(lastError());
    const int fd = ::dirfd(dir.get());

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

FsValue<bool> PosixFileSystem::nameExistsExactly(const QString &path) const
{
    const QByteArray bytes = encoded(path);
    struct stat st;
    if (::lstat(bytes.constData(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return FsValue<bool>::of(false);
        return FsValue<bool>::failed(lastError());
    }
    // Where another spelling does not lead to the same file, the folder tells
    // names apart and the lookup itself was exact.
    const QByteArray other = otherSpelling(bytes);
    struct stat alias;
    if (other.isEmpty() || ::lstat(other.constData(), &alias) != 0 || alias.st_dev != st.st_dev ||
        alias.st_ino != st.st_ino)
        return FsValue<bool>::of(true);

    // A folder that ignores case: only its listing knows the stored name.
    const QByteArray name = bytes.mid(bytes.lastIndexOf('/') + 1);
    const Folder dir = openFolder(folderOf(bytes));
    if (!dir)
        return FsValue<bool>::failed(lastError());
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir.get());
        if (!entry)
            return errno != 0 ? FsValue<bool>::failed(lastError()) : FsValue<bool>::of(false);
        if (name == entry->d_name)
            return FsValue<bool>::of(true);
    }
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
    const QByteArray bytes = encoded(path);
    const At where = at(bytes);
    if (::unlinkat(where.dir, where.name, 0) != 0)
        return lastError();
    return FsResult::success();
}

FsResult PosixFileSystem::copyFile(const QString &source, const QString &destination,
                                   const Admission &admit)
{
    StagedFile staged;
    std::optional<StagedFile> fallback;
    struct stat copied;
    // A copy keeps its source, so a crash can cost only the new copy, which
    // the next pass makes again: no fsync, and many small copies stay as fast
    // as cp. Only a complete file ever gets the final name.
    return copyInto(encoded(source), encoded(destination), copied, staged, fallback, admit);
}

FsResult PosixFileSystem::moveFile(const QString &source, const QString &destination,
                                   MoveBatch *batch)
{
    const QByteArray from = encoded(source);
    const QByteArray to = encoded(destination);
    // The no-replace rename reports an existing destination (EEXIST) and a
    // missing source (ENOENT) by itself.
    if (renameNoReplace(from, to) == 0)
        return FsResult::success();
    if (errno != EXDEV)
        return lastError();
    // Across file systems the kernel answers EXDEV before it looks at the
    // destination: refuse an existing one before copying anything.
    struct stat st;
    if (::lstat(to.constData(), &st) == 0)
        return FsResult::fromErrno(EEXIST);

    auto move = std::make_unique<PendingMove>();
    move->source = from;
    move->destination = to;
    FsResult result = stageMove(*move);
    if (!result.ok())
        return result;
    if (auto *pending = dynamic_cast<PosixMoveBatch *>(batch)) {
        pending->writeback.add(move->staged.fd());
        pending->moves.push_back(std::move(move));
        return FsResult::failure(Deferred, QString());
    }
    completeStaged({move.get()});
    return move->result;
}

std::unique_ptr<MoveBatch> PosixFileSystem::newMoveBatch()
{
    return std::make_unique<PosixMoveBatch>();
}

std::vector<FsResult> PosixFileSystem::completeMoves(MoveBatch &batch)
{
    auto &pending = static_cast<PosixMoveBatch &>(batch);
    pending.writeback.finish();
    std::vector<PendingMove *> moves;
    for (const auto &move : pending.moves)
        moves.push_back(move.get());
    completeStaged(moves);
    std::vector<FsResult> results;
    for (PendingMove *move : moves)
        results.push_back(move->result);
    pending.moves.clear();
    return results;
}

FsValue<int> PosixFileSystem::removeLeftoverTemporaries(const QString &folder)
{
    const Folder dir = openFolder(encoded(folder));
    if (!dir)
        return FsValue<int>::failed(lastError());
    const int fd = ::dirfd(dir.get());
    int removed = 0;
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir.get());
        if (!entry)
            break;
        if (!isTemporaryName(entry->d_name))
            continue;
        Fd temp(::openat(fd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st;
        if (!temp.valid() || ::fstat(temp.get(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        // A copy under way holds the lock: its file stays.
        if (::flock(temp.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        struct stat named;
        if (::fstatat(fd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_ino == st.st_ino && named.st_dev == st.st_dev &&
            ::unlinkat(fd, entry->d_name, 0) == 0)
            ++removed;
    }
    return FsValue<int>::of(removed);
}

void PosixFileSystem::setStepHook(StepHook hook)
{
    stepHook = std::move(hook);
}

void PosixFileSystem::setUnnamedTemporaries(bool allowed)
{
    unnamedUsable = allowed;
}

std::unique_ptr<FolderHold> PosixFileSystem::holdFolders(const QStringList &folders)
{
    auto hold = std::make_unique<PosixFolderHold>(heldFolders.size());
    for (const QString &folder : folders) {
        const QByteArray path = encoded(folder);
        // O_PATH: a folder that may only be searched, not read, can be held.
        const int fd = ::open(path.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0)
            heldFolders.push_back({path, fd});
    }
    return hold;
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
    if (path.isEmpty())
        return -1;
    const QByteArray bytes = encoded(path);
    const HeldFolder *held = heldFolder(bytes);
    struct statvfs info;
    if ((held ? ::fstatvfs(held->fd, &info) : ::statvfs(bytes.constData(), &info)) != 0)
        return -1;
    return qint64(info.f_bavail) * qint64(info.f_frsize);
}
