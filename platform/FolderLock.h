#pragma once

#include "platform/FileSystem.h"

#include <QByteArray>

#include <sys/types.h>

// Opens path with flags (and mode, for a new file) and takes flock's
// exclusive lock on it without waiting: the descriptor, or the failure
// (EWOULDBLOCK when another descriptor holds the lock).
FsValue<int> openExclusivelyLocked(const QByteArray &path, int flags, mode_t mode = 0);

// The folder lock on Linux: flock on a descriptor of the folder itself. It
// needs no lock file, nothing is left behind by a killed process, and it
// holds across processes and users on local file systems. NFS may refuse it
// on a folder (a read-only descriptor takes no exclusive lock there) or keep
// it on the one machine, as SMB mounts may; the refusal is a failure other
// than EWOULDBLOCK.
class PosixFolderLock : public FolderLock
{
public:
    explicit PosixFolderLock(int fd) : m_fd(fd) {}
    ~PosixFolderLock() override;
    PosixFolderLock(const PosixFolderLock &) = delete;
    PosixFolderLock &operator=(const PosixFolderLock &) = delete;

    static FsValue<std::unique_ptr<FolderLock>> take(const QString &folder);

private:
    int m_fd;
};
