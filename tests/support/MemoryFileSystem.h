#pragma once

#include "platform/FileSystem.h"

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <optional>

// A file system held in memory: named folders of files (name -> content or
// bare size), per-folder drive names and free space, and failures injected
// per operation and path. Safe to call from the pass's worker thread.
class MemoryFileSystem : public FileSystem
{
public:
    enum class Op
    {
        List,
        Exists,
        Length,
        Delete,
        Copy,
        Move
    };

    static constexpr qint64 PlentyFree = qint64(1) << 40;

    void addFolder(const QString &folder, const QString &drive = QStringLiteral("disk1"))
    {
        QMutexLocker lock(&m_mutex);
        Folder &f = m_folders[normalized(folder)];
        f.drive = drive;
    }
    // Another folder text for an existing folder, as a symbolic link gives.
    void addLink(const QString &link, const QString &folder)
    {
        QMutexLocker lock(&m_mutex);
        m_links.insert(normalized(link), normalized(folder));
    }
    void addFile(const QString &folder, const QString &name, const QByteArray &content)
    {
        QMutexLocker lock(&m_mutex);
        m_folders[canonical(folder)].files.insert(name, {content, content.size()});
    }
    // A file known only by its size (a large file without its bytes).
    void addFileOfSize(const QString &folder, const QString &name, qint64 size)
    {
        QMutexLocker lock(&m_mutex);
        m_folders[canonical(folder)].files.insert(name, {QByteArray(), size});
    }
    bool has(const QString &folder, const QString &name) const
    {
        QMutexLocker lock(&m_mutex);
        return m_folders.value(canonical(folder)).files.contains(name);
    }
    QByteArray content(const QString &folder, const QString &name) const
    {
        QMutexLocker lock(&m_mutex);
        return m_folders.value(canonical(folder)).files.value(name).content;
    }
    void setFreeSpace(const QString &folder, qint64 bytes)
    {
        QMutexLocker lock(&m_mutex);
        m_folders[canonical(folder)].free = bytes;
    }
    void failOn(Op op, const QString &path, int error, const QString &description)
    {
        QMutexLocker lock(&m_mutex);
        m_failures.insert({op, normalized(path)}, FsResult::failure(error, description));
    }
    // Each copy then takes at least this long (to watch the UI during it).
    void setCopyDelay(int ms) { m_copyDelayMs = ms; }

    // What the fake saw: "delete <path>", "copy <from> > <to>", "move ...".
    QStringList changes() const
    {
        QMutexLocker lock(&m_mutex);
        return m_changes;
    }
    QThread *lastChangeThread() const
    {
        QMutexLocker lock(&m_mutex);
        return m_lastChangeThread;
    }
    QSet<QThread *> changeThreads() const
    {
        QMutexLocker lock(&m_mutex);
        return m_changeThreads;
    }
    bool copyInProgress() const { return m_copying.load(); }

    bool folderExists(const QString &path) const override
    {
        QMutexLocker lock(&m_mutex);
        return !path.isEmpty() && m_folders.contains(canonical(path));
    }
    FsValue<bool> fileExists(const QString &path) const override
    {
        QMutexLocker lock(&m_mutex);
        if (auto f = failure(Op::Exists, path))
            return FsValue<bool>::failed(*f);
        return FsValue<bool>::of(find(path) != nullptr);
    }
    FsValue<QStringList> listPlainFiles(const QString &folder) const override
    {
        QMutexLocker lock(&m_mutex);
        if (auto f = failure(Op::List, folder))
            return FsValue<QStringList>::failed(*f);
        const auto it = m_folders.constFind(canonical(folder));
        if (it == m_folders.cend())
            return FsValue<QStringList>::failed(FsResult::failure(ENOENT, noSuchFile()));
        return FsValue<QStringList>::of(it->files.keys());
    }
    FsValue<qint64> fileLength(const QString &path) const override
    {
        QMutexLocker lock(&m_mutex);
        if (auto f = failure(Op::Length, path))
            return FsValue<qint64>::failed(*f);
        const File *file = find(path);
        if (!file)
            return FsValue<qint64>::failed(FsResult::failure(ENOENT, noSuchFile()));
        return FsValue<qint64>::of(file->size);
    }
    bool sameFile(const QString &a, const QString &b) const override
    {
        QMutexLocker lock(&m_mutex);
        return find(a) && find(b) && canonical(a) == canonical(b);
    }

    FsResult deleteFile(const QString &path) override
    {
        QMutexLocker lock(&m_mutex);
        record(QStringLiteral("delete ") + path);
        if (auto f = failure(Op::Delete, path))
            return *f;
        if (!find(path))
            return FsResult::failure(ENOENT, noSuchFile());
        m_folders[folderOf(path)].files.remove(nameOf(path));
        return {};
    }
    FsResult copyFile(const QString &source, const QString &destination) override
    {
        m_copying.store(true);
        if (m_copyDelayMs > 0)
            QThread::msleep(m_copyDelayMs);
        m_copying.store(false);
        QMutexLocker lock(&m_mutex);
        record(QStringLiteral("copy ") + source + QStringLiteral(" > ") + destination);
        if (auto f = failure(Op::Copy, source))
            return *f;
        const File *file = find(source);
        if (!file)
            return FsResult::failure(ENOENT, noSuchFile());
        if (!m_folders.contains(folderOf(destination)))
            return FsResult::failure(ENOENT, noSuchFile());
        const File copy = *file;
        m_folders[folderOf(destination)].files.insert(nameOf(destination), copy);
        return {};
    }
    FsResult moveFile(const QString &source, const QString &destination) override
    {
        QMutexLocker lock(&m_mutex);
        record(QStringLiteral("move ") + source + QStringLiteral(" > ") + destination);
        if (auto f = failure(Op::Move, source))
            return *f;
        const File *file = find(source);
        if (!file || !m_folders.contains(folderOf(destination)))
            return FsResult::failure(ENOENT, noSuchFile());
        if (find(destination))
            return FsResult::failure(EEXIST, QStringLiteral("File exists"));
        const File moved = *file;
        m_folders[folderOf(source)].files.remove(nameOf(source));
        m_folders[folderOf(destination)].files.insert(nameOf(destination), moved);
        return {};
    }

    QString driveName(const QString &path) const override
    {
        QMutexLocker lock(&m_mutex);
        return m_folders.value(canonical(path)).drive;
    }
    qint64 freeSpace(const QString &path) const override
    {
        QMutexLocker lock(&m_mutex);
        const auto it = m_folders.constFind(canonical(path));
        return it == m_folders.cend() ? -1 : it->free;
    }

private:
    struct File
    {
        QByteArray content;
        qint64 size = 0;
    };
    struct Folder
    {
        QString drive;
        qint64 free = PlentyFree;
        QMap<QString, File> files;
    };

    static QString noSuchFile() { return QStringLiteral("No such file or directory"); }

    // Doubled and trailing separators mean nothing, as on a real file system.
    static QString normalized(QString path)
    {
        while (path.contains(QStringLiteral("//")))
            path.replace(QStringLiteral("//"), QStringLiteral("/"));
        if (path.size() > 1 && path.endsWith(QLatin1Char('/')))
            path.chop(1);
        return path;
    }
    QString canonical(const QString &path) const
    {
        QString p = normalized(path);
        for (auto it = m_links.cbegin(); it != m_links.cend(); ++it) {
            if (p == it.key() || p.startsWith(it.key() + QLatin1Char('/')))
                return it.value() + p.mid(it.key().size());
        }
        return p;
    }
    QString folderOf(const QString &path) const
    {
        const QString p = canonical(path);
        return p.left(p.lastIndexOf(QLatin1Char('/')));
    }
    static QString nameOf(const QString &path)
    {
        const QString p = normalized(path);
        return p.mid(p.lastIndexOf(QLatin1Char('/')) + 1);
    }
    const File *find(const QString &path) const
    {
        const auto folder = m_folders.constFind(folderOf(path));
        if (folder == m_folders.cend())
            return nullptr;
        const auto file = folder->files.constFind(nameOf(path));
        return file == folder->files.cend() ? nullptr : &*file;
    }
    std::optional<FsResult> failure(Op op, const QString &path) const
    {
        const auto it = m_failures.constFind({op, normalized(path)});
        if (it == m_failures.cend())
            return std::nullopt;
        return *it;
    }
    void record(const QString &change)
    {
        m_changes.append(change);
        m_lastChangeThread = QThread::currentThread();
        m_changeThreads.insert(m_lastChangeThread);
    }

    mutable QMutex m_mutex;
    QHash<QString, Folder> m_folders;
    QMap<QString, QString> m_links;
    QMap<std::pair<Op, QString>, FsResult> m_failures;
    QStringList m_changes;
    QThread *m_lastChangeThread = nullptr;
    QSet<QThread *> m_changeThreads;
    std::atomic<int> m_copyDelayMs{0};
    std::atomic<bool> m_copying{false};
};
