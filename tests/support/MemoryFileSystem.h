#pragma once

#include "platform/FileSystem.h"

#include <QDir>
#include <QMap>
#include <QSet>
#include <QThread>

#include <atomic>
#include <cerrno>

// Files in memory by cleaned path (so "/a//b" and "/a/b/" name one file),
// drive names and free space by folder, and failures injected by operation
// ("list", "exists", "length", "delete", "copy", "move") and path. The pass
// waits for each worker call, so only the copy-under-way flag is shared live.
class MemoryFileSystem : public FileSystem
{
public:
    bool folderExists(const QString &path) const override { return !path.isEmpty(); }
    FsValue<bool> fileExists(const QString &path) const override
    {
        const FsResult f = failure("exists", path);
        return f.ok() ? FsValue<bool>::of(has(path)) : FsValue<bool>::failed(f);
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
        return has(a) && clean(a) == clean(b);
    }
    FsResult deleteFile(const QString &path) override
    {
        threads.insert(QThread::currentThread());
        const FsResult f = has(path) ? failure("delete", path) : missing();
        if (f.ok())
            files.remove(clean(path));
        return f;
    }
    FsResult copyFile(const QString &source, const QString &destination) override
    {
        copying = true;
        QThread::msleep(copyDelayMs);
        copying = false;
        threads.insert(QThread::currentThread());
        const FsResult f = has(source) ? failure("copy", source) : missing();
        if (f.ok())
            files[clean(destination)] = files.value(clean(source));
        return f;
    }
    // Never replaces: an old destination file must be deleted first.
    FsResult moveFile(const QString &source, const QString &destination) override
    {
        threads.insert(QThread::currentThread());
        FsResult f = has(source) ? failure("move", source) : missing();
        if (f.ok() && has(destination))
            f = FsResult::failure(EEXIST, "File exists");
        if (f.ok())
            files.insert(clean(destination), files.take(clean(source)));
        return f;
    }
    QString driveName(const QString &path) const override { return drives.value(clean(path), "d"); }
    qint64 freeSpace(const QString &path) const override
    {
        return freeBytes.value(clean(path), qint64(1) << 40);
    }

    QMap<QString, QByteArray> files; // contents by path
    QMap<QString, qint64> sizes;     // of files held without their bytes
    QMap<QString, QString> drives;   // by folder; "d" when not set
    QMap<QString, qint64> freeBytes; // by folder; 1 TiB when not set
    QMap<std::pair<QString, QString>, FsResult> failures;
    QSet<QThread *> threads; // where delete, copy and move ran
    int copyDelayMs = 0;
    std::atomic<bool> copying{false};

private:
    static QString clean(const QString &path) { return QDir::cleanPath(path); }
    static FsResult missing() { return FsResult::failure(ENOENT, "No such file or directory"); }
    bool has(const QString &path) const { return files.contains(clean(path)); }
    FsResult failure(const char *op, const QString &path) const
    {
        return failures.value({QString::fromLatin1(op), clean(path)});
    }
};
