#include "platform/PosixDurability.h"

#include <fcntl.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace posixfs {

FlushPolicy flushPolicyForType(unsigned long type)
{
    switch (type) {
    // Local block-device file systems whose syncfs() writes back every dirty
    // file and then commits the journal or checkpoint with a cache flush of
    // the device, as fsync() would for each file:
    case 0xEF53:     // ext2/3/4: the ext4 driver flushes the device in sync_fs
    case 0x58465342: // xfs: sync_fs forces the log to stable storage
    case 0x9123683E: // btrfs: sync_fs commits the transaction
    case 0xF2F52010: // f2fs: sync_fs writes a checkpoint
        return FlushPolicy::WholeFileSystem;
    // Memory only: there is nothing to flush, and nothing survives a power
    // loss whatever is done.
    case 0x01021994: // tmpfs
    case 0x858458F6: // ramfs
        return FlushPolicy::Nothing;
    // Everything else, among them FUSE (ntfs-3g, sshfs, rclone: syncfs()
    // returns 0 without asking the file system), NFS, CIFS/SMB, 9p, overlay
    // (whose syncfs depends on what lies beneath), vfat and exfat (no journal
    // to commit), and types this list does not know.
    default:
        return FlushPolicy::EachFile;
    }
}

FlushPolicy flushPolicyOf(int fd)
{
    struct statfs info;
    if (::fstatfs(fd, &info) != 0)
        return FlushPolicy::EachFile;
    return flushPolicyForType(static_cast<unsigned long>(info.f_type));
}

bool flushFile(int fd)
{
    if (::fsync(fd) != 0)
        return false;
    const int second = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    return second < 0 || ::close(second) == 0;
}

} // namespace posixfs
