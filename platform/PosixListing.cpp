#include "platform/PosixFileSystem.h"

#include "platform/PosixInternals.h"
#include "platform/PosixStagedFile.h"

#include <QHash>

#include <mutex>

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

namespace {

// The files of the latest listing, so that a move can tell the file it
// listed from one put under its name since.
struct Listing
{
    QByteArray folder;
    dev_t device = 0;
    QHash<QByteArray, ino_t> inodes;
};
std::mutex listingMutex;
Listing latestListing;

QByteArray withoutTrailingSlash(QByteArray folder)
{
    while (folder.size() > 1 && folder.endsWith('/'))
        folder.chop(1);
    return folder;
}

} // namespace

bool asListed(const QByteArray &path, const struct stat &st)
{
    const QByteArray folder = folderOf(path);
    std::lock_guard lock(listingMutex);
    if (folder != latestListing.folder)
        return true;
    const auto listed = latestListing.inodes.constFind(path.sliced(path.lastIndexOf('/') + 1));
    return listed == latestListing.inodes.cend() ||
           (st.st_dev == latestListing.device && st.st_ino == *listed);
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
    Listing listing;
    ino_t dotInode = 0;
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir.get());
        if (!entry) {
            if (errno != 0)
                return FsValue<QStringList>::failed(lastError());
            break;
        }
        if (entry->d_name[0] == '.') { // hidden, and the . and .. entries
            if (entry->d_name[1] == '\0')
                dotInode = entry->d_ino;
            continue;
        }
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st;
            // A file that vanished since readdir is simply not listed.
            regular =
                ::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
        }
        if (regular) {
            names << FileNames::decode(QByteArray(entry->d_name));
            listing.inodes.insert(QByteArray(entry->d_name), entry->d_ino);
        }
    }
    // The inodes in the folder's entries are the files' own where the
    // folder's own entry agrees with it (not on every FUSE or overlay file
    // system); elsewhere a move checks the type alone.
    struct stat self;
    if (::fstat(fd, &self) == 0 && self.st_ino == dotInode) {
        listing.folder = withoutTrailingSlash(encoded(folder));
        listing.device = self.st_dev;
    } else {
        listing.inodes.clear();
    }
    {
        std::lock_guard lock(listingMutex);
        latestListing = std::move(listing);
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
