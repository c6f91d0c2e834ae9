#pragma once

#include <QByteArray>

#include <vector>

namespace posixfs {

// Folders the calling thread holds open (holdFolders): a file in one is
// looked up from the folder's descriptor instead of walking its whole path,
// which for small files is a good part of what each call costs.
struct HeldFolder
{
    QByteArray path;
    int fd;
    // What the process's umask takes from a new file's mode here; -1 where a
    // default ACL (or anything unknown) decides instead. Looked up when a
    // file is first made here.
    int createMask = Unknown;
    static constexpr int Unknown = -2;
};
extern thread_local std::vector<HeldFolder> heldFolders;

HeldFolder *heldFolder(const QByteArray &folder);

// The umask where it alone shapes a new file's mode in folder.
int createMaskOf(const QByteArray &folder);

// A path as a folder descriptor and a name in it: a held folder and the last
// component where path lies directly in one, else the path itself.
struct At
{
    int dir;
    const char *name;
};

At at(const QByteArray &path);

} // namespace posixfs
