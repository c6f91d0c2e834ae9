#include "transfer/modSize.h"

#include "platform/FileSystem.h"

namespace modSize {

qint64 GetDriveFreeSpace(const FileSystem &fs, const QString &folder)
{
    const qint64 free = fs.freeSpace(folder);
    return free < 0 ? -1 : free;
}

} // namespace modSize
