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

FsValue<std::unique_ptr<FolderLock>> PosixFolderLock::take(const QString &folder)
{
    using Value = FsValue<std::unique_ptr<FolderLock>>;
    // Close-on-exec: a program the window starts must not keep the lock.
    const int fd =
        ::open(FileNames::encode(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return Value::failed(FsResult::fromErrno(errno));
    int locked;
    do
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const int error = errno;
        ::close(fd);
        return Value::failed(FsResult::fromErrno(error));
    }
    return Value::of(std::make_unique<PosixFolderLock>(fd));
}
