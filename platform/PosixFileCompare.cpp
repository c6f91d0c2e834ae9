// The file-system service's looks at file times and contents: the quiet time
// and the test for a file that is already in the destination.
#include "platform/FileNames.h"
#include "platform/PosixFileSystem.h"
#include "platform/PosixHeldFolders.h"
#include "platform/PosixInternals.h"
#include "platform/PosixStagedFile.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using posixfs::Fd;
using posixfs::lastError;

// Opened from a held folder where path lies in one.
int openFile(const QByteArray &path)
{
    const posixfs::At where = posixfs::at(path);
    return ::openat(where.dir, where.name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
}

qint64 nanoseconds(const struct timespec &t)
{
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

FsResult different()
{
    return FsResult::failure(FileSystem::Different, QString());
}

// Both files as open descriptors with their status, or the failure.
struct Pair
{
    Fd a, b;
    struct stat stA, stB;
    Pair(const QString &pathA, const QString &pathB)
        : a(openFile(FileNames::encode(pathA))), b(openFile(FileNames::encode(pathB)))
    {
    }
    FsResult open()
    {
        if (!a.valid() || ::fstat(a.get(), &stA) != 0 || !b.valid() || ::fstat(b.get(), &stB) != 0)
            return lastError();
        if (!S_ISREG(stA.st_mode) || !S_ISREG(stB.st_mode))
            return FsResult::failure(EINVAL, QStringLiteral("Not a regular file"));
        return {};
    }
    bool oneFile() const { return stA.st_dev == stB.st_dev && stA.st_ino == stB.st_ino; }
};

// Byte for byte, sizes first.
FsValue<bool> equalBytes(const Pair &pair)
{
    if (pair.stA.st_size != pair.stB.st_size)
        return FsValue<bool>::of(false);
    constexpr size_t Chunk = 128 * 1024;
    std::vector<char> left(Chunk), right(Chunk);
    for (off_t offset = 0; offset < pair.stA.st_size;) {
        const ssize_t got = ::pread(pair.a.get(), left.data(), Chunk, offset);
        if (got < 0)
            return FsValue<bool>::failed(lastError());
        if (got == 0) // shorter than its size said: it changed
            return FsValue<bool>::of(false);
        ssize_t have = 0;
        while (have < got) {
            const ssize_t more =
                ::pread(pair.b.get(), right.data() + have, size_t(got - have), offset + have);
            if (more < 0)
                return FsValue<bool>::failed(lastError());
            if (more == 0)
                return FsValue<bool>::of(false);
            have += more;
        }
        if (std::memcmp(left.data(), right.data(), size_t(got)) != 0)
            return FsValue<bool>::of(false);
        offset += got;
    }
    return FsValue<bool>::of(true);
}

} // namespace

FsValue<qint64> PosixFileSystem::lastChangeNs(const QString &path) const
{
    struct stat st;
    const QByteArray bytes = FileNames::encode(path);
    const posixfs::At where = posixfs::at(bytes);
    if (::fstatat(where.dir, where.name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return FsValue<qint64>::failed(lastError());
    return FsValue<qint64>::of(posixfs::lastChange(st));
}

FsValue<bool> PosixFileSystem::sameContent(const QString &a, const QString &b) const
{
    Pair pair(a, b);
    if (const FsResult opened = pair.open(); !opened.ok())
        return FsValue<bool>::failed(opened);
    return pair.oneFile() ? FsValue<bool>::of(true) : equalBytes(pair);
}

FsResult PosixFileSystem::deleteDuplicate(const QString &source, const QString &copy)
{
    Pair pair(source, copy);
    if (const FsResult opened = pair.open(); !opened.ok())
        return opened;
    // One file under two names is no second copy.
    if (pair.oneFile())
        return different();
    const FsValue<bool> same = equalBytes(pair);
    if (!same.ok())
        return same.status();
    if (!same.value)
        return different();
    // The copy, with its name, is on disk before the source goes.
    if (::fsync(pair.b.get()) != 0)
        return lastError();
    if (const FsResult synced = posixfs::syncFolder(posixfs::folderOf(FileNames::encode(copy)));
        !synced.ok())
        return synced;
    struct stat now, named;
    const QByteArray sourcePath = FileNames::encode(source);
    if (::fstat(pair.a.get(), &now) != 0)
        return lastError();
    if (now.st_size != pair.stA.st_size ||
        nanoseconds(now.st_mtim) != nanoseconds(pair.stA.st_mtim) ||
        nanoseconds(now.st_ctim) != nanoseconds(pair.stA.st_ctim) ||
        ::fstatat(posixfs::at(sourcePath).dir, posixfs::at(sourcePath).name, &named,
                  AT_SYMLINK_NOFOLLOW) != 0 ||
        named.st_dev != now.st_dev || named.st_ino != now.st_ino)
        return FsResult::failure(SourceChangedError, sourceChangedText());
    if (::unlinkat(posixfs::at(sourcePath).dir, posixfs::at(sourcePath).name, 0) != 0)
        return lastError();
    return {};
}
