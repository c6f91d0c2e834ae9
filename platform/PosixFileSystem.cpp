#include "platform/PosixFileSystem.h"

#include "platform/PosixHeldFolders.h"
#include "platform/PosixInternals.h"

#include <cstdlib>

#include <fcntl.h>
#include <sys/statvfs.h>

namespace posixfs {

PosixFileSystem::StepHook stepHook;
std::atomic<bool> unnamedUsable{true};

void reached(PosixFileSystem::Step step, const QByteArray &path)
{
    if (stepHook)
        stepHook(step, path);
}

} // namespace posixfs

using namespace posixfs;

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

void PosixFileSystem::setStepHook(StepHook hook)
{
    stepHook = std::move(hook);
}

void PosixFileSystem::setUnnamedTemporaries(bool allowed)
{
    unnamedUsable = allowed;
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
