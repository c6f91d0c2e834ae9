#pragma once

#include "platform/FileSystem.h"

#include <QDir>
#include <QMap>
#include <QSet>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <functional>
#include <utility>
#include <vector>

// Files in memory by cleaned path (so "/a//b" and "/a/b/" name one file),
// drive names and free space by folder, and failures injected by operation
// ("list", "exists", "length", "delete", "copy", "move", "replace", "lock",
// "times", "compare", "trash") and path. With
// ignoreCase a lookup finds a name in any letter case, as on a USB stick.
// The pass waits for each worker call, so only the copy-under-way flag is
// shared live.
class MemoryFileSystem : public FileSystem
{
public:
    // Every path names a folder, except those of files.
    bool folderExists(const QString &path) const override { return !path.isEmpty() && !has(path); }
    FsValue<bool> fileExists(const QString &path) const override
    {
        const FsResult f = failure("exists", path);
        return f.ok() ? FsValue<bool>::of(has(path)) : FsValue<bool>::failed(f);
    }
    FsValue<bool> nameExistsExactly(const QString &path) const override
    {
        return FsValue<bool>::of(files.contains(clean(path)));
    }
    FsValue<QStringList> listPlainFiles(const QString &folder) const override
    {
        QStringList names;
        for (const QString &path : files.keys())
            if (path.section(QLatin1Char('/'), 0, -2) == clean(folder))
                names << path.section(QLatin1Char('/'), -1);
        const FsResult f = failure("list", folder);
        return f.ok() ? FsValue<QStringList>::of(names) : FsValue<QStringList>::failed(f);
    }
    FsValue<qint64> fileLength(const QString &path) const override
    {
        const FsResult f = has(path) ? failure("length", path) : missing();
        const qint64 size = sizes.value(clean(path), files.value(clean(path)).size());
        return f.ok() ? FsValue<qint64>::of(size) : FsValue<qint64>::failed(f);
    }
    bool sameFile(const QString &a, const QString &b) const override
    {
        return has(a) && stored(a) == stored(b);
    }
    FsValue<qint64> lastChangeNs(const QString &path) const override
    {
        const FsResult f = has(path) ? failure("times", path) : missing();
        return f.ok() ? FsValue<qint64>::of(changedNs.value(stored(path)))
                      : FsValue<qint64>::failed(f);
    }
    FsValue<bool> sameContent(const QString &a, const QString &b) const override
    {
        const FsResult f = has(a) && has(b) ? failure("compare", b) : missing();
        return f.ok() ? FsValue<bool>::of(files.value(stored(a)) == files.value(stored(b)))
                      : FsValue<bool>::failed(f);
    }
    FsResult deleteDuplicate(const QString &source, const QString &copy) override
    {
        const FsValue<bool> same = sameContent(source, copy);
        if (!same.ok())
            return same.status();
        if (!same.value || stored(source) == stored(copy))
            return FsResult::failure(Different, QString());
        files.remove(stored(source));
        return {};
    }
    FsResult linkToTrash(const QString &path, qint64) override
    {
        const FsResult f = has(path) ? failure("trash", path) : missing();
        if (f.ok())
            trash << files.value(stored(path));
        return f;
    }
    FsResult deleteFile(const QString &path) override
    {
        threads.insert(QThread::currentThread());
        const FsResult f = has(path) ? failure("delete", path) : missing();
        if (f.ok())
            files.remove(stored(path));
        return f;
    }
    // Neither replaces an old destination file; replaceFile does.
    FsResult copyFile(const QString &source, const QString &destination, const Admission &admit,
                      MoveBatch * = nullptr) override
    {
        // A copy measures its source first: "length" fails it there.
        if (admit && has(source) && !failure("length", source).ok())
            return failure("length", source);
        if (admit && has(source) &&
            !admit(sizes.value(stored(source), files.value(stored(source)).size())))
            return FsResult::failure(NotAdmitted, QString());
        copying = true;
        QThread::msleep(delayMs);
        copying = false;
        return place("copy", source, destination, false);
    }
    // With gatherMoves, moves wait for completeMoves(), as across file systems.
    FsResult moveFile(const QString &source, const QString &destination, MoveBatch *batch) override
    {
        QThread::msleep(delayMs);
        if (!batch)
            return place("move", source, destination, true);
        static_cast<Batch *>(batch)->moves.push_back({source, destination});
        if (staged)
            staged(destination);
        return FsResult::failure(Deferred, QString());
    }
    std::unique_ptr<MoveBatch> newMoveBatch() override
    {
        ++batchesAsked;
        return gatherMoves ? std::make_unique<Batch>() : nullptr;
    }
    std::vector<FsResult> completeMoves(MoveBatch &batch) override
    {
        std::vector<FsResult> results;
        for (const auto &[source, destination] : static_cast<Batch &>(batch).moves)
            results.push_back(place("move", source, destination, true));
        return results;
    }
    // Puts source (or a copy) over the entry that destination finds.
    FsResult replaceFile(const QString &source, const QString &destination, bool move) override
    {
        threads.insert(QThread::currentThread());
        copying = !move;
        QThread::msleep(delayMs);
        copying = false;
        FsResult f = has(source) ? failure(move ? "move" : "copy", source) : missing();
        if (f.ok())
            f = failure("replace", destination);
        if (!f.ok())
            return f;
        if (beforePlacing)
            beforePlacing(destination);
        const QString target = has(destination) ? stored(destination) : clean(destination);
        files[target] = move ? files.take(stored(source)) : files.value(stored(source));
        return f;
    }
    // A "lock" failure stands for another pass holding the folder
    // (EWOULDBLOCK) or a file system that refuses the lock.
    FsValue<std::unique_ptr<FolderLock>> lockFolder(const QString &folder) override
    {
        struct Held : FolderLock
        {
            QStringList &held;
            QString folder;
            Held(QStringList &list, QString name) : held(list), folder(std::move(name))
            {
                held << folder;
            }
            ~Held() override { held.removeOne(folder); }
        };
        const FsResult f = failure("lock", folder);
        if (!f.ok())
            return FsValue<std::unique_ptr<FolderLock>>::failed(f);
        return FsValue<std::unique_ptr<FolderLock>>::of(
            std::make_unique<Held>(lockedFolders, clean(folder)));
    }
    FsValue<int> removeLeftoverTemporaries(const QString &) override
    {
        return FsValue<int>::of(std::exchange(leftovers, 0));
    }
    QString driveName(const QString &path) const override { return drives.value(clean(path), "d"); }
    qint64 freeSpace(const QString &path) const override
    {
        return freeBytes.value(clean(path), qint64(1) << 40);
    }

    QMap<QString, QByteArray> files; // contents by path
    QMap<QString, qint64> sizes;     // of files held without their bytes
    QMap<QString, QString> drives;   // by folder; "d" when not set
    QMap<QString, qint64> changedNs; // newer file time by path; 0 when not set
    QList<QByteArray> trash;         // contents linked into the trash
    QMap<QString, qint64> freeBytes; // by folder; 1 TiB when not set
    QMap<std::pair<QString, QString>, FsResult> failures;
    QSet<QThread *> threads;   // where delete, copy and move ran
    QStringList lockedFolders; // whose locks are held now
    int delayMs = 0;           // of every copy and move
    int leftovers = 0;         // temporary files an interrupted run left
    bool ignoreCase = false;
    bool gatherMoves = false;
    std::atomic<int> batchesAsked{0};                       // one per round of the worker
    std::function<void(const QString &destination)> staged; // a gathered move waits
    // Runs when a copy or move is complete, just before it takes its name.
    std::function<void(const QString &destination)> beforePlacing;
    std::atomic<bool> copying{false};
    std::atomic<int> placed{0}; // files copied or moved, counted as they go

private:
    struct Batch : MoveBatch
    {
        std::vector<std::pair<QString, QString>> moves;
    };
    static QString clean(const QString &path) { return QDir::cleanPath(path); }
    static FsResult missing() { return FsResult::failure(ENOENT, "No such file or directory"); }
    // The stored path that path finds, or "" when none.
    QString stored(const QString &path) const
    {
        if (files.contains(clean(path)))
            return clean(path);
        if (ignoreCase)
            for (const QString &key : files.keys())
                if (key.compare(clean(path), Qt::CaseInsensitive) == 0)
                    return key;
        return {};
    }
    bool has(const QString &path) const { return !stored(path).isEmpty(); }
    FsResult place(const char *op, const QString &source, const QString &destination, bool move)
    {
        threads.insert(QThread::currentThread());
        FsResult f = has(source) ? failure(op, source) : missing();
        if (!f.ok())
            return f;
        if (beforePlacing)
            beforePlacing(destination);
        if (has(destination))
            return FsResult::failure(EEXIST, "File exists");
        files[clean(destination)] = move ? files.take(stored(source)) : files.value(stored(source));
        ++placed;
        return f;
    }
    FsResult failure(const char *op, const QString &path) const
    {
        return failures.value({QString::fromLatin1(op), clean(path)});
    }
};
