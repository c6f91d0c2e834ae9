#pragma once

#include "platform/FileSystem.h"
#include "platform/FolderLock.h"

#include <cerrno>
#include <functional>

// The file-system service on Linux, built on plain POSIX calls so that every
// failure keeps its errno. Holds no state of its own (held folders belong to
// the thread that holds them), so one instance may be used from the UI
// thread and the transfer worker at the same time.
class PosixFileSystem : public FileSystem
{
public:
    bool folderExists(const QString &path) const override;
    FsValue<bool> fileExists(const QString &path) const override;
    FsValue<QStringList> listPlainFiles(const QString &folder) const override;
    FsValue<bool> nameExistsExactly(const QString &path) const override;
    FsValue<qint64> fileLength(const QString &path) const override;
    bool sameFile(const QString &a, const QString &b) const override;
    FsValue<qint64> lastChangeNs(const QString &path) const override;
    FsValue<bool> sameContent(const QString &a, const QString &b) const override;
    FsResult deleteDuplicate(const QString &source, const QString &copy) override;
    FsResult linkToTrash(const QString &path, qint64 nowSecs) override;

    FsResult deleteFile(const QString &path) override;
    FsResult copyFile(const QString &source, const QString &destination,
                      const Admission &admit = {}, MoveBatch *batch = nullptr) override;
    FsResult moveFile(const QString &source, const QString &destination,
                      MoveBatch *batch = nullptr) override;
    FsResult copyUnlessChanging(const QString &source, const QString &destination,
                                const QuietTime &quiet, const Admission &admit = {},
                                MoveBatch *batch = nullptr) override;
    FsResult moveUnlessChanging(const QString &source, const QString &destination,
                                const QuietTime &quiet, MoveBatch *batch = nullptr) override;
    FsResult replaceFile(const QString &source, const QString &destination, bool move) override;
    std::unique_ptr<MoveBatch> newMoveBatch() override;
    std::vector<FsResult> completeMoves(MoveBatch &batch) override;
    FsValue<int> removeLeftoverTemporaries(const QString &folder) override;
    std::unique_ptr<FolderHold> holdFolders(const QStringList &folders) override;
    FsValue<std::unique_ptr<FolderLock>> lockFolder(const QString &folder) override
    {
        return PosixFolderLock::take(folder);
    }

    // The mount point of the file system holding path.
    QString driveName(const QString &path) const override;
    qint64 freeSpace(const QString &path) const override;

    // The number a failed copy or move reports when the source was written
    // to while it was being copied; the copy is then discarded.
    static constexpr int SourceChangedError = EAGAIN;
    static QString sourceChangedText();

    // Points a copy or move passes, in this order; tests watch them.
    enum class Step
    {
        FileSynced,   // the staged copy is durable
        Staged,       // the copy is complete, not yet under its final name
        FolderSynced, // the new name is on disk
        SourceDeleted,
        Renaming, // a move within one file system checked its source and renames it now
        Replacing // the copy, under a temporary name, takes the old file's place now
    };
    using StepHook = std::function<void(Step step, const QByteArray &path)>;
    // Test seams: watch the steps; turn the unnamed temporary files off (or
    // on again) to exercise the named fallback.
    static void setStepHook(StepHook hook);
    static void setUnnamedTemporaries(bool allowed);
};
