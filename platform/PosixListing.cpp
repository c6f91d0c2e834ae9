#include "platform/PosixFileSystem.h"

#include "platform/PosixInternals.h"
#include "platform/PosixStagedFile.h"

#include <fcntl.h>
#include <sys/file.h>

namespace posixfs {

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

} // namespace posixfs

using namespace posixfs;

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
        // Only our own: in a shared folder another user's file of this name
        // is theirs to keep, whatever it is.
        if (!temp.valid() || ::fstat(temp.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::geteuid())
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
