#pragma once

#include <QByteArray>

namespace posixfs {

// How the staged copies on one file system are made durable before they are
// named and before their sources go.
enum class FlushPolicy
{
    Nothing,         // held in memory only: nothing outlives a power loss anyway
    WholeFileSystem, // one syncfs() writes every file of the batch to the device
    EachFile         // fsync() on each file: syncfs() may not reach the storage
};

// The policy for a file system of this statfs f_type.
FlushPolicy flushPolicyForType(unsigned long type);
// The policy for the file system holding fd; EachFile when it cannot be told.
FlushPolicy flushPolicyOf(int fd);

// fsync, then a close of a second descriptor: network and FUSE file systems
// report some write errors (EIO, ENOSPC, EDQUOT) only when a descriptor is
// closed, and this one closes before the copy is named.
bool flushFile(int fd);

} // namespace posixfs
