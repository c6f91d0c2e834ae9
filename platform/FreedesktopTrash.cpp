#include "platform/FreedesktopTrash.h"

#include "platform/FileNames.h"
#include "platform/PosixFileSystem.h"

#include <QDir>
#include <QUrl>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FreedesktopTrash {

namespace {

FsResult lastError()
{
    return FsResult::fromErrno(errno);
}

QByteArray parentOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

// A folder that is the user's own: made with mode 0700 when missing, never a
// link, never another user's.
bool ownFolder(const QByteArray &path)
{
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st;
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

bool trashFolder(const QByteArray &folder)
{
    return ownFolder(folder) && ownFolder(folder + "/files") && ownFolder(folder + "/info");
}

// The highest folder above path on the same file system.
QByteArray topdirOf(const QByteArray &folder, dev_t device)
{
    QByteArray top = folder;
    while (top != "/") {
        const QByteArray parent = parentOf(top);
        struct stat st;
        if (::stat(parent.constData(), &st) != 0 || st.st_dev != device)
            break;
        top = parent;
    }
    return top;
}

QByteArray dataHome()
{
    const QByteArray data = qgetenv("XDG_DATA_HOME");
    if (data.startsWith('/'))
        return data;
    return qgetenv("HOME") + "/.local/share";
}

QByteArray deletionDate(qint64 nowSecs)
{
    const time_t now = time_t(nowSecs);
    struct tm local;
    char text[32];
    ::localtime_r(&now, &local);
    ::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

FsResult writeAll(int fd, const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t written = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return lastError();
        done += written;
    }
    return {};
}

// Makes the names in folder durable; a file system that cannot sync a
// folder at all has nothing more to do.
FsResult syncFolder(const QByteArray &folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return lastError();
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
    const int error = errno;
    ::close(fd);
    return synced ? FsResult{} : FsResult::fromErrno(error);
}

} // namespace

FsValue<QByteArray> folderFor(const QByteArray &path, dev_t device, QByteArray &topdir)
{
    const QByteArray home = dataHome();
    struct stat st;
    if (::stat(home.constData(), &st) != 0 && errno == ENOENT)
        QDir().mkpath(QString::fromLocal8Bit(home));
    if (::stat(home.constData(), &st) == 0 && st.st_dev == device) {
        topdir.clear();
        const QByteArray folder = home + "/Trash";
        if (trashFolder(folder))
            return FsValue<QByteArray>::of(folder);
        return FsValue<QByteArray>::failed(lastError());
    }
    topdir = topdirOf(parentOf(path), device);
    const QByteArray uid = QByteArray::number(::getuid());
    const QByteArray base = topdir == "/" ? QByteArray() : topdir;
    // $topdir/.Trash only when the administrator made it as desktops
    // expect it: a real folder with the sticky bit.
    const QByteArray shared = base + "/.Trash";
    if (::lstat(shared.constData(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) &&
        trashFolder(shared + '/' + uid))
        return FsValue<QByteArray>::of(shared + '/' + uid);
    const QByteArray own = base + "/.Trash-" + uid;
    if (trashFolder(own))
        return FsValue<QByteArray>::of(own);
    return FsValue<QByteArray>::failed(lastError());
}

FsResult link(const QByteArray &path, qint64 nowSecs)
{
    char resolved[PATH_MAX];
    if (!::realpath(parentOf(path).constData(), resolved))
        return lastError();
    const QByteArray folder = resolved;
    const QByteArray name = path.mid(path.lastIndexOf('/') + 1);
    const QByteArray absolute = (folder == "/" ? QByteArray() : folder) + '/' + name;
    struct stat st;
    if (::lstat(absolute.constData(), &st) != 0)
        return lastError();
    if (!S_ISREG(st.st_mode))
        return FsResult::failure(EINVAL, QStringLiteral("Not a regular file"));

    QByteArray topdir;
    const FsValue<QByteArray> trash = folderFor(absolute, st.st_dev, topdir);
    if (!trash.ok())
        return trash.status();
    struct stat trashSt;
    if (::stat(trash.value.constData(), &trashSt) != 0)
        return lastError();
    if (trashSt.st_dev != st.st_dev)
        return FsResult::fromErrno(EXDEV);
    // In a trash on the file's own file system the path is relative to its top.
    const QByteArray original =
        topdir.isEmpty() ? absolute : absolute.mid(topdir == "/" ? 1 : topdir.size() + 1);
    const QByteArray info = "[Trash Info]\nPath=" + QUrl::toPercentEncoding(original, "/") +
                            "\nDeletionDate=" + deletionDate(nowSecs) + '\n';

    for (int n = 1; n <= 1000; ++n) {
        const QByteArray entry = n == 1 ? name : name + '.' + QByteArray::number(n);
        const QByteArray infoPath = trash.value + "/info/" + entry + ".trashinfo";
        // The .trashinfo is made first and exclusively: it reserves the name.
        const int fd = ::open(infoPath.constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return lastError();
        FsResult written = writeAll(fd, info);
        if (written.ok() && ::fsync(fd) != 0)
            written = lastError();
        if (::close(fd) != 0 && written.ok())
            written = lastError();
        const QByteArray file = trash.value + "/files/" + entry;
        if (written.ok() && ::link(absolute.constData(), file.constData()) == 0) {
            // The old file's own name is replaced next: its name in the
            // trash, and the record of it, must be on disk first.
            written = syncFolder(trash.value + "/info");
            if (written.ok())
                written = syncFolder(trash.value + "/files");
            if (written.ok())
                return {};
            ::unlink(file.constData());
        }
        const int error = errno;
        ::unlink(infoPath.constData());
        if (!written.ok())
            return written;
        if (error != EEXIST) // a leftover in files/ without its record
            return FsResult::fromErrno(error);
    }
    return FsResult::fromErrno(EEXIST);
}

} // namespace FreedesktopTrash

FsResult PosixFileSystem::linkToTrash(const QString &path, qint64 nowSecs)
{
    return FreedesktopTrash::link(FileNames::encode(path), nowSecs);
}
