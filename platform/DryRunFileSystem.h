#pragma once

#include "platform/FileSystem.h"

#include <QHash>
#include <QMutex>
#include <QSet>

#include <optional>

// A file system that answers as if the changes asked of it had been made,
// and makes none: everything is read from the real one, and copies, moves,
// deletions and trash links are only noted. A pass run on it says what it
// would do (pallwick --once --dry-run). Free space shrinks by the files it
// would place on another file system.
class DryRunFileSystem : public FileSystem
{
public:
    explicit DryRunFileSystem(FileSystem &real) : m_real(real) {}

    bool folderExists(const QString &path) const override { return m_real.folderExists(path); }
    FsValue<bool> fileExists(const QString &path) const override;
    FsValue<bool> nameExistsExactly(const QString &path) const override;
    FsValue<QStringList> listPlainFiles(const QString &folder) const override
    {
        return m_real.listPlainFiles(folder);
    }
    FsValue<qint64> fileLength(const QString &path) const override;
    bool sameFile(const QString &a, const QString &b) const override;
    FsValue<qint64> lastChangeNs(const QString &path) const override;
    FsValue<bool> sameContent(const QString &a, const QString &b) const override;

    FsResult deleteFile(const QString &path) override;
    FsResult copyFile(const QString &source, const QString &destination,
                      const Admission &admit = {}, MoveBatch *batch = nullptr) override;
    FsResult moveFile(const QString &source, const QString &destination,
                      MoveBatch *batch = nullptr) override;
    FsResult replaceFile(const QString &source, const QString &destination, bool move) override;
    FsResult deleteDuplicate(const QString &source, const QString &copy) override;
    FsResult linkToTrash(const QString &path, qint64 nowSecs) override;
    // Nothing is cleaned up; none is counted.
    FsValue<int> removeLeftoverTemporaries(const QString &) override { return FsValue<int>::of(0); }
    std::unique_ptr<FolderHold> holdFolders(const QStringList &folders) override
    {
        return m_real.holdFolders(folders);
    }
    // The real lock: a dry run says so when another pass holds the folder,
    // and a lock changes nothing on disk.
    FsValue<std::unique_ptr<FolderLock>> lockFolder(const QString &folder) override
    {
        return m_real.lockFolder(folder);
    }

    QString driveName(const QString &path) const override { return m_real.driveName(path); }
    qint64 freeSpace(const QString &path) const override;

private:
    enum class State
    {
        Real,
        Placed,
        Gone
    };
    State state(const QString &path, QString *from = nullptr) const;
    // The real file whose content path would have.
    QString contentOf(const QString &path) const;
    // Whether path would exist after what was noted; none where it is the
    // real file system's to say.
    std::optional<bool> notedExistence(const QString &path) const;
    // Called with the mutex held.
    void noteGone(const QString &path);
    FsResult place(const QString &source, const QString &destination, bool move,
                   const Admission &admit);

    FileSystem &m_real;
    mutable QMutex m_mutex;
    QHash<QString, QString> m_placed; // destination -> the real file it would hold
    QSet<QString> m_gone;
    qint64 m_placedBytes = 0; // that take room on the destination's file system
};
