#pragma once

#include <QString>

class FileSystem;

namespace modSize {

// Bytes available to the user on the file system that holds folder, or -1
// when they cannot be determined. Full 64-bit: a destination with more than
// 2 GiB free is not capped.
qint64 GetDriveFreeSpace(const FileSystem &fs, const QString &folder);

} // namespace modSize

using modSize::GetDriveFreeSpace;
