#pragma once

#include "platform/QuietTime.h"
#include "platform/Result.h"

#include <QString>
#include <QStringList>

#include <cerrno>
#include <functional>
#include <memory>
#include <vector>

// Copies, and moves across file systems, gathered so that one flush of the
// disk makes all their copies durable; made by the file system that carries
// them out.
class MoveBatch
{
public:
    virtual ~MoveBatch() = default;

    // How many staged files may wait at once: each holds a file open.
    virtual size_t capacity() const { return 64; }
    // True once a staged file waits for a flush of its whole file system.
    // One such flush costs a journal commit whatever it carries, so a longer
    // batch then saves time.
    virtual bool flushesWholeFileSystem() const { return false; }
};

// Keeps folders at hand while it lives; made by the file system that uses
// them (holdFolders).
class FolderHold
{
public:
    virtual ~FolderHold() = default;
};

// Orders the passes over one folder while it lives; made by the file system
// that holds the folder (lockFolder).
class FolderLock
{
public:
    virtual ~FolderLock() = default;
};

// Everything the program does to files and folders goes through this
// interface, so tests can substitute a service that fails on demand.
// Implementations must be safe to call from a worker thread: the transfer
// pass runs copy, move and delete off the UI thread.
class FileSystem
{
public:
    virtual ~FileSystem() = default;

    // True when path names an existing folder; false for "" and on any error.
    virtual bool folderExists(const QString &path) const = 0;
    // True when something that is not a folder exists at path. A failing
    // test (other than "does not exist") is a failure, never a guess. On a
    // folder that ignores letter case this is also true when only a name
    // differing in case exists.
    virtual FsValue<bool> fileExists(const QString &path) const = 0;
    // True only when an entry of exactly this name (byte for byte) exists:
    // a folder that ignores case or Unicode normalisation answers a lookup
    // of "photo.jpg" with "Photo.JPG", which must never be taken for it.
    virtual FsValue<bool> nameExistsExactly(const QString &path) const = 0;
    // The regular, non-hidden files of folder, bare names, in directory order.
    // Folders, links, FIFOs, sockets and devices are never listed.
    virtual FsValue<QStringList> listPlainFiles(const QString &folder) const = 0;
    // Size in bytes of a file.
    virtual FsValue<qint64> fileLength(const QString &path) const = 0;
    // The newer of the file's modification and status-change times, in
    // nanoseconds since the epoch.
    virtual FsValue<qint64> lastChangeNs(const QString &path) const
    {
        return FsValue<qint64>::failed(unsupported(path));
    }
    // Whether two files hold the same bytes; sizes are compared first.
    virtual FsValue<bool> sameContent(const QString &a, const QString &b) const
    {
        return FsValue<bool>::failed(unsupported(a + b));
    }
    // Deletes source when copy holds the same bytes: only once copy is on
    // disk, and only when source did not change since it was compared.
    // Answers Different, with nothing done, when the contents differ.
    virtual FsResult deleteDuplicate(const QString &source, const QString &copy)
    {
        return unsupported(source + copy);
    }
    static constexpr int Different = -3;
    // Hard-links the file into the user's trash (the freedesktop trash of
    // its own file system) and writes the trash's record of where it was
    // and when it was trashed, nowSecs seconds since the epoch. The file
    // keeps its name; on any failure the trash holds nothing new.
    virtual FsResult linkToTrash(const QString &path, qint64 nowSecs)
    {
        (void)nowSecs;
        return unsupported(path);
    }
    // True when both paths name the same file (same device and inode).
    // False when either does not exist.
    virtual bool sameFile(const QString &a, const QString &b) const = 0;

    // Removes the file, also when it is read-only (force).
    virtual FsResult deleteFile(const QString &path) = 0;
    // Copies source to destination. Never replaces anything: when the name is
    // taken at the moment the complete copy is put in place, it fails with
    // EEXIST and the copy is discarded. Never leaves a partial file. Keeps
    // modification time and permission bits, and owner and group where the
    // process may set them (as cp -p; a move across file systems as mv).
    // The copy is durable before it gets its name.
    // With admit, the copy asks it, with the source's size, before it writes
    // anything, and answers NotAdmitted when it says no.
    // Given a batch, it may only stage the copy and answer Deferred;
    // completeMoves() then finishes it.
    using Admission = std::function<bool(qint64 size)>;
    virtual FsResult copyFile(const QString &source, const QString &destination,
                              const Admission &admit = {}, MoveBatch *batch = nullptr) = 0;
    static constexpr int NotAdmitted = -2;
    // Moves source to destination; fails with EEXIST when the destination
    // exists. Across file systems the source is deleted only after a
    // complete, synced copy, and only when it did not change meanwhile.
    // Given a batch, a move across file systems may only stage its copy and
    // answer Deferred; completeMoves() then finishes it.
    virtual FsResult moveFile(const QString &source, const QString &destination,
                              MoveBatch *batch = nullptr) = 0;
    static constexpr int Deferred = -1;
    // As copyFile and moveFile, except that a source the quiet time holds
    // stays as it is: StillChanging. A file system that reads the source's
    // status for the copy or move anyway decides on that status rather than
    // on one more.
    virtual FsResult copyUnlessChanging(const QString &source, const QString &destination,
                                        const QuietTime &quiet, const Admission &admit = {},
                                        MoveBatch *batch = nullptr)
    {
        const FsResult held = heldByQuietTime(source, quiet);
        return held.ok() ? copyFile(source, destination, admit, batch) : held;
    }
    virtual FsResult moveUnlessChanging(const QString &source, const QString &destination,
                                        const QuietTime &quiet, MoveBatch *batch = nullptr)
    {
        const FsResult held = heldByQuietTime(source, quiet);
        return held.ok() ? moveFile(source, destination, batch) : held;
    }
    static constexpr int StillChanging = -4;
    // Puts a copy of source (with move: source itself) in the place of the
    // entry named exactly destination, in one atomic step: the new file is
    // complete and durable before one rename puts it over that entry, so the
    // name holds the old file or the new one at every moment, also when the
    // program is killed. When source is missing or changes meanwhile, or
    // anything fails, the old file stays. Across file systems a moved source
    // is deleted only after that, and only when it did not change. The caller
    // decides that the entry is the one to replace (its exact name).
    virtual FsResult replaceFile(const QString &source, const QString &destination, bool move) = 0;
    // A batch for moveFile, or none where moves are not gathered.
    virtual std::unique_ptr<MoveBatch> newMoveBatch() { return nullptr; }
    // Finishes the deferred copies and moves of batch: the results in the
    // order they were deferred.
    virtual std::vector<FsResult> completeMoves(MoveBatch &) { return {}; }
    // Removes the temporary files that an interrupted copy (a killed
    // program, a power loss) left in folder, but none that a running copy
    // still writes. Returns how many went.
    virtual FsValue<int> removeLeftoverTemporaries(const QString &folder) = 0;

    // While the returned hold lives, the calling thread's operations on files
    // directly in these folders may find the folders without walking their
    // paths again. A folder renamed or replaced meanwhile may still be used
    // until the hold ends, so holds are kept short (one batch of a pass).
    virtual std::unique_ptr<FolderHold> holdFolders(const QStringList &) { return nullptr; }

    // Takes the exclusive lock of folder that keeps two passes, of any
    // process or user, from treating it at the same time; without waiting.
    // It ends with the returned lock, or with the process. Fails with
    // EWOULDBLOCK while another holds it; any other failure means the lock
    // cannot be had there (a network file system may refuse it).
    virtual FsValue<std::unique_ptr<FolderLock>> lockFolder(const QString &)
    {
        return FsValue<std::unique_ptr<FolderLock>>::failed(FsResult::fromErrno(ENOTSUP));
    }

    // A text naming the file system that holds path: equal for two paths on
    // one file system, "" when it cannot be determined.
    virtual QString driveName(const QString &path) const = 0;
    // Bytes available to the user on the file system holding path; -1 when
    // they cannot be determined.
    virtual qint64 freeSpace(const QString &path) const = 0;

private:
    // StillChanging when the quiet time holds path, or the failure to read
    // its times; success otherwise.
    FsResult heldByQuietTime(const QString &path, const QuietTime &quiet) const
    {
        if (!quiet.isOn())
            return {};
        const FsValue<qint64> changed = lastChangeNs(path);
        if (!changed.ok())
            return changed.status();
        return quiet.holds(changed.value) ? FsResult::failure(StillChanging, QString())
                                          : FsResult{};
    }
    static FsResult unsupported(const QString &)
    {
        return FsResult::failure(ENOTSUP, QStringLiteral("Operation not supported"));
    }
};
