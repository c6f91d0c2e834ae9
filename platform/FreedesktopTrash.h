#pragma once

#include "platform/Result.h"

#include <QByteArray>

#include <sys/types.h>

// The user's trash as desktops and file managers share it: a
// folder with files/ and info/, the home trash under $XDG_DATA_HOME/Trash for
// files on its file system, $topdir/.Trash/$uid or $topdir/.Trash-$uid on
// other file systems.
namespace FreedesktopTrash {

// Hard-links the regular file at path into the trash of its own file system
// and writes its .trashinfo (the original path and nowSecs as the deletion
// time). The file keeps its name. On failure the trash holds nothing new.
FsResult link(const QByteArray &path, qint64 nowSecs);

// The trash folder for a file on device, or the failure. Made when missing.
FsValue<QByteArray> folderFor(const QByteArray &path, dev_t device, QByteArray &topdir);

} // namespace FreedesktopTrash
