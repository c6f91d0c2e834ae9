#include "platform/PosixStagedFile.h"

#include "platform/CopyProgress.h"
#include "platform/PosixContentCopy.h"
#include "platform/PosixDurability.h"
#include "platform/PosixHeldFolders.h"

#include <QRandomGenerator>

#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/syscall.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace posixfs {

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

namespace {

constexpr char TempPrefix[] = ".pallwick-";
constexpr char TempSuffix[] = ".tmp";
constexpr int TempRandomChars = 6; // the XXXXXX of mkostemps

} // namespace

bool isTemporaryName(const char *name)
{
    const size_t prefix = sizeof(TempPrefix) - 1, suffix = sizeof(TempSuffix) - 1;
    const size_t length = std::strlen(name);
    return length == prefix + TempRandomChars + suffix &&
           std::strncmp(name, TempPrefix, prefix) == 0 &&
           std::strcmp(name + length - suffix, TempSuffix) == 0;
}

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

bool namingUnsupported(int error)
{
    return error != EEXIST && error != ENOSPC && error != EDQUOT && error != EIO &&
           error != EROFS && error != ENAMETOOLONG && error != ENOENT;
}

StagedFile::~StagedFile()
{
    if (!m_tempPath.isEmpty())
        ::unlink(m_tempPath.constData());
}

FsResult StagedFile::create(const QByteArray &folder, bool unnamed, mode_t mode)
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

FsResult StagedFile::place(const QByteArray &destination)
{
    // A write error that only the close reports (NFS, FUSE) takes the name
    // back; a named file's lock lasts until the name is given.
    FsResult result = link(destination);
    if (result.ok() && m_fd.close() != 0) {
        result = lastError();
        ::unlink(destination.constData());
    }
    return result;
}

FsResult StagedFile::replace(const QByteArray &destination)
{
    if (unnamed()) {
        // An unnamed file cannot be renamed: it gets a hidden temporary name
        // first, locked as a named copy's is, which the leftover cleanup
        // removes should the program die before the rename.
        if (::flock(m_fd.get(), LOCK_EX) != 0)
            return lastError();
        const QByteArray folder = destination.left(destination.lastIndexOf('/') + 1);
        FsResult linked = FsResult::fromErrno(EEXIST);
        for (int attempt = 0; attempt < 100 && linked.error == EEXIST; ++attempt) {
            QByteArray random;
            for (int i = 0; i < TempRandomChars; ++i)
                random += "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                    [QRandomGenerator::global()->bounded(62)];
            const QByteArray temp = folder + TempPrefix + random + TempSuffix;
            linked = link(temp);
            if (linked.ok())
                m_tempPath = temp;
        }
        if (!linked.ok())
            return linked;
    }
    reached(PosixFileSystem::Step::Replacing, destination);
    const At from = at(m_tempPath), to = at(destination);
    if (::renameat(from.dir, from.name, to.dir, to.name) != 0)
        return lastError();
    m_tempPath.clear();
    // The data was flushed and checked before; an error only the close
    // reports now is still a failure, though the old file is gone.
    if (m_fd.close() != 0)
        return lastError();
    return FsResult::success();
}

FsResult StagedFile::link(const QByteArray &destination)
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

namespace {

// Owner and group as mv and cp -p leave them: the source's where this process
// may set them (root; for others a group they belong to), else the defaults
// (this user, and the group the folder gives, a setgid folder's own). Set
// before the permission bits, so no group ever holds bits meant for another;
// a group other than the source's gets no more than everybody else has, so
// a setgid folder's group cannot read a copy of a 0600 or 0640 file. Returns
// the permission bits the copy is to have.
mode_t takeOwner(int fd, const struct stat &source)
{
    mode_t mode = source.st_mode & 0777;
    const uid_t owner = ::geteuid() == 0 ? source.st_uid : uid_t(-1);
    if (::fchown(fd, owner, source.st_gid) == 0)
        return mode;
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_gid != source.st_gid)
        mode &= ~(S_IRWXG & ~((mode & S_IRWXO) << 3));
    return mode;
}

} // namespace

FsResult stageCopy(const QByteArray &source, const QByteArray &folder, bool unnamed,
                   StagedFile &staged, struct stat &copied, Flush flush,
                   const FileSystem::Admission &admit, const QuietTime &quiet)
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
    if (quiet.holds(lastChange(before)))
        return FsResult::failure(FileSystem::StillChanging, QString());
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
    const mode_t mode = takeOwner(staged.fd(), before);
    if ((!staged.modeSet() || mode != (before.st_mode & 0777)) && ::fchmod(staged.fd(), mode) != 0)
        return lastError();
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    if (::futimens(staged.fd(), times) != 0)
        return lastError();
    if (flush == Flush::Wait) {
        if (!flushFile(staged.fd()))
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

} // namespace posixfs
