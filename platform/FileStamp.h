#pragma once

#include <QString>

#include <optional>

// What tells one state of a file from the next: its identity, size and
// modification and change times to the nanosecond.
struct FileStamp
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;

    bool operator==(const FileStamp &) const = default;

    // The file's stamp; nothing when it is missing or cannot be examined.
    static std::optional<FileStamp> of(const QString &path);
    // True when the file has been left alone for a while: file systems keep
    // times with a coarse clock, so two writes in quick succession can leave
    // equal stamps, and only a stamp older than that clock's step is proof
    // that the content it was read with is still the content.
    bool settled() const;
};
