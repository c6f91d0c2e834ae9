#include "platform/FolderLock.h"

#include "platform/FileNames.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

PosixFolderLock::~PosixFolderLock()
{
    // Closing the only descriptor of the open folder ends the lock.
    ::close(m_fd);
}

FsValue<int> openExclusivelyLocked(const QByteArray &path, int flags, mode_t mode)
{
    const int fd = ::open(path.constData(), flags, mode);
    if (fd < 0)
        return FsValue<int>::failed(FsResult::fromErrno(errno));
    int locked;
    do
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const int error = errno;
        ::close(fd);
        return FsValue<int>::failed(FsResult::fromErrno(error));
    }
    return FsValue<int>::of(fd);
}

FsValue<std::unique_ptr<FolderLock>> PosixFolderLock::take(const QString &folder)
{
    using Value = FsValue<std::unique_ptr<FolderLock>>;
    // Close-on-exec: a program the window starts must not keep the lock.
    const FsValue<int> fd =
        openExclusivelyLocked(FileNames::encode(folder), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (!fd.ok())
        return Value::failed(fd.status());
    return Value::of(std::make_unique<PosixFolderLock>(fd.value));
}
