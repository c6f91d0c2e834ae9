#pragma once

#include "platform/FileSystem.h"

#include <cerrno>

// The file-system service on Linux, built on plain POSIX calls so that every
// failure keeps its errno. Holds no state, so one instance may be used from
// the UI thread and the transfer worker at the same time.
class PosixFileSystem : public FileSystem
{
public:
    bool folderExists(const QString &path) const override;
    FsValue<bool> fileExists(const QString &path) const override;
    FsValue<QStringList> listPlainFiles(const QString &folder) const override;
    FsValue<qint64> fileLength(const QString &path) const override;
    bool sameFile(const QString &a, const QString &b) const override;

    FsResult deleteFile(const QString &path) override;
    FsResult copyFile(const QString &source, const QString &destination) override;
    FsResult moveFile(const QString &source, const QString &destination) override;

    // The mount point of the file system holding path.
    QString driveName(const QString &path) const override;
    qint64 freeSpace(const QString &path) const override;

    // The number a failed copy or move reports when the source was written
    // to while it was being copied; the copy is then discarded.
    static constexpr int SourceChangedError = EAGAIN;
    static QString sourceChangedText();
};
