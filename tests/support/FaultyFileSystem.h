#pragma once

#include "platform/FileSystem.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>

#include <optional>

// A FileSystem for tests that forwards every call to a real one, except where
// the test told it to fail or to answer with a fixed value. It drives the
// error paths of the transfer pass without a full disk or a locked file:
//
//     PosixFileSystem real;
//     FaultyFileSystem fs(real);
//     fs.failNext(FaultyFileSystem::Op::Copy, ENOSPC, "No space left on device");
//     fs.failAlways(FaultyFileSystem::Op::Delete, EACCES, "Permission denied", "/src/b.txt");
//     fs.setFreeSpace(1024);
//     fs.setDriveName("/src", "A");   // source and destination look like
//     fs.setDriveName("/dst", "B");   // two different file systems
//
// A failure armed for a path matches when the call's first or second path is
// exactly that text; an empty path matches every call. failNext fires once,
// failAlways until clearFailures. A failing operation does not reach the
// wrapped service. folderExists and sameFile cannot fail (they have no error
// value) and always forward. calls() records every call as "op path[ path]".
// Safe to use from the pass's worker thread.
class FaultyFileSystem : public FileSystem
{
public:
    enum class Op
    {
        FileExists,
        List,
        Length,
        Delete,
        Copy,
        Move
    };

    explicit FaultyFileSystem(FileSystem &inner) : m_inner(inner) {}

    void failNext(Op op, int error, const QString &text, const QString &path = {})
    {
        QMutexLocker lock(&m_mutex);
        m_failures.append({op, path, FsResult::failure(error, text), true});
    }
    void failAlways(Op op, int error, const QString &text, const QString &path = {})
    {
        QMutexLocker lock(&m_mutex);
        m_failures.append({op, path, FsResult::failure(error, text), false});
    }
    void clearFailures()
    {
        QMutexLocker lock(&m_mutex);
        m_failures.clear();
    }

    // Fixed answers instead of the wrapped service's; reset() drops them.
    void setFreeSpace(qint64 bytes)
    {
        QMutexLocker lock(&m_mutex);
        m_freeSpace = bytes;
    }
    void setFileLength(qint64 bytes)
    {
        QMutexLocker lock(&m_mutex);
        m_fileLength = bytes;
    }
    // The drive name for exactly this path text.
    void setDriveName(const QString &path, const QString &name)
    {
        QMutexLocker lock(&m_mutex);
        m_driveNames.insert(path, name);
    }
    void reset()
    {
        QMutexLocker lock(&m_mutex);
        m_failures.clear();
        m_freeSpace.reset();
        m_fileLength.reset();
        m_driveNames.clear();
        m_calls.clear();
    }

    QStringList calls() const
    {
        QMutexLocker lock(&m_mutex);
        return m_calls;
    }

    bool folderExists(const QString &path) const override
    {
        record(QStringLiteral("folderExists"), path);
        return m_inner.folderExists(path);
    }
    FsValue<bool> fileExists(const QString &path) const override
    {
        if (const auto failure = take(Op::FileExists, path))
            return FsValue<bool>::failed(*failure);
        return m_inner.fileExists(path);
    }
    FsValue<QStringList> listPlainFiles(const QString &folder) const override
    {
        if (const auto failure = take(Op::List, folder))
            return FsValue<QStringList>::failed(*failure);
        return m_inner.listPlainFiles(folder);
    }
    FsValue<qint64> fileLength(const QString &path) const override
    {
        if (const auto failure = take(Op::Length, path))
            return FsValue<qint64>::failed(*failure);
        {
            QMutexLocker lock(&m_mutex);
            if (m_fileLength)
                return FsValue<qint64>::of(*m_fileLength);
        }
        return m_inner.fileLength(path);
    }
    bool sameFile(const QString &a, const QString &b) const override
    {
        record(QStringLiteral("sameFile"), a, b);
        return m_inner.sameFile(a, b);
    }

    FsResult deleteFile(const QString &path) override
    {
        if (const auto failure = take(Op::Delete, path))
            return *failure;
        return m_inner.deleteFile(path);
    }
    FsResult copyFile(const QString &source, const QString &destination) override
    {
        if (const auto failure = take(Op::Copy, source, destination))
            return *failure;
        return m_inner.copyFile(source, destination);
    }
    FsResult moveFile(const QString &source, const QString &destination) override
    {
        if (const auto failure = take(Op::Move, source, destination))
            return *failure;
        return m_inner.moveFile(source, destination);
    }

    QString driveName(const QString &path) const override
    {
        record(QStringLiteral("driveName"), path);
        {
            QMutexLocker lock(&m_mutex);
            const auto fixed = m_driveNames.constFind(path);
            if (fixed != m_driveNames.constEnd())
                return *fixed;
        }
        return m_inner.driveName(path);
    }
    qint64 freeSpace(const QString &path) const override
    {
        record(QStringLiteral("freeSpace"), path);
        {
            QMutexLocker lock(&m_mutex);
            if (m_freeSpace)
                return *m_freeSpace;
        }
        return m_inner.freeSpace(path);
    }

private:
    struct Failure
    {
        Op op;
        QString path;
        FsResult result;
        bool once;
    };

    static QString opName(Op op)
    {
        switch (op) {
        case Op::FileExists:
            return QStringLiteral("fileExists");
        case Op::List:
            return QStringLiteral("listPlainFiles");
        case Op::Length:
            return QStringLiteral("fileLength");
        case Op::Delete:
            return QStringLiteral("deleteFile");
        case Op::Copy:
            return QStringLiteral("copyFile");
        case Op::Move:
            return QStringLiteral("moveFile");
        }
        return {};
    }

    void record(const QString &op, const QString &a, const QString &b = {}) const
    {
        QMutexLocker lock(&m_mutex);
        m_calls << (b.isEmpty() ? op + u' ' + a : op + u' ' + a + u' ' + b);
    }

    // Records the call and hands out the first armed failure that matches it.
    std::optional<FsResult> take(Op op, const QString &a, const QString &b = {}) const
    {
        record(opName(op), a, b);
        QMutexLocker lock(&m_mutex);
        for (qsizetype i = 0; i < m_failures.size(); ++i) {
            const Failure &f = m_failures.at(i);
            if (f.op != op || !(f.path.isEmpty() || f.path == a || f.path == b))
                continue;
            const FsResult result = f.result;
            if (f.once)
                m_failures.removeAt(i);
            return result;
        }
        return std::nullopt;
    }

    FileSystem &m_inner;
    mutable QMutex m_mutex;
    mutable QList<Failure> m_failures;
    mutable QStringList m_calls;
    std::optional<qint64> m_freeSpace;
    std::optional<qint64> m_fileLength;
    QHash<QString, QString> m_driveNames;
};
