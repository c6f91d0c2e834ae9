#include "platform/DryRunFileSystem.h"

#include <QDir>

#include <cerrno>

namespace {
QString clean(const QString &path)
{
    return QDir::cleanPath(path);
}
FsResult missing()
{
    return FsResult::fromErrno(ENOENT);
}
} // namespace

DryRunFileSystem::State DryRunFileSystem::state(const QString &path, QString *from) const
{
    const QMutexLocker lock(&m_mutex);
    const QString key = clean(path);
    if (const auto placed = m_placed.constFind(key); placed != m_placed.cend()) {
        if (from)
            *from = *placed;
        return State::Placed;
    }
    return m_gone.contains(key) ? State::Gone : State::Real;
}

QString DryRunFileSystem::contentOf(const QString &path) const
{
    QString from;
    return state(path, &from) == State::Placed ? from : path;
}

std::optional<bool> DryRunFileSystem::notedExistence(const QString &path) const
{
    switch (state(path)) {
    case State::Placed:
        return true;
    case State::Gone:
        return false;
    case State::Real:
        break;
    }
    return std::nullopt;
}

void DryRunFileSystem::noteGone(const QString &path)
{
    m_placed.remove(clean(path));
    m_gone.insert(clean(path));
}

FsValue<bool> DryRunFileSystem::fileExists(const QString &path) const
{
    const std::optional<bool> noted = notedExistence(path);
    return noted ? FsValue<bool>::of(*noted) : m_real.fileExists(path);
}

FsValue<bool> DryRunFileSystem::nameExistsExactly(const QString &path) const
{
    const std::optional<bool> noted = notedExistence(path);
    return noted ? FsValue<bool>::of(*noted) : m_real.nameExistsExactly(path);
}

FsValue<qint64> DryRunFileSystem::fileLength(const QString &path) const
{
    if (state(path) == State::Gone)
        return FsValue<qint64>::failed(missing());
    return m_real.fileLength(contentOf(path));
}

bool DryRunFileSystem::sameFile(const QString &a, const QString &b) const
{
    return state(a) == State::Real && state(b) == State::Real && m_real.sameFile(a, b);
}

FsValue<qint64> DryRunFileSystem::lastChangeNs(const QString &path) const
{
    if (state(path) == State::Gone)
        return FsValue<qint64>::failed(missing());
    return m_real.lastChangeNs(contentOf(path));
}

FsValue<bool> DryRunFileSystem::sameContent(const QString &a, const QString &b) const
{
    if (state(a) == State::Gone || state(b) == State::Gone)
        return FsValue<bool>::failed(missing());
    return m_real.sameContent(contentOf(a), contentOf(b));
}

FsResult DryRunFileSystem::deleteFile(const QString &path)
{
    const FsValue<bool> exists = fileExists(path);
    if (!exists.ok())
        return exists.status();
    if (!exists.value)
        return missing();
    const QMutexLocker lock(&m_mutex);
    noteGone(path);
    return {};
}

FsResult DryRunFileSystem::place(const QString &source, const QString &destination, bool move,
                                 const Admission &admit)
{
    const FsValue<qint64> length = fileLength(source);
    if (!length.ok())
        return length.status();
    if (admit && !admit(length.value))
        return FsResult::failure(NotAdmitted, QString());
    const FsValue<bool> taken = fileExists(destination);
    if (!taken.ok())
        return taken.status();
    if (taken.value)
        return FsResult::fromErrno(EEXIST);
    const bool takesRoom =
        !move || m_real.driveName(source).isEmpty() ||
        m_real.driveName(source) != m_real.driveName(QDir::cleanPath(destination + "/.."));
    const QString content = contentOf(source);
    const QMutexLocker lock(&m_mutex);
    m_placed.insert(clean(destination), content);
    m_gone.remove(clean(destination));
    if (move)
        noteGone(source);
    if (takesRoom)
        m_placedBytes += length.value;
    return {};
}

FsResult DryRunFileSystem::copyFile(const QString &source, const QString &destination,
                                    const Admission &admit, MoveBatch *)
{
    return place(source, destination, false, admit);
}

FsResult DryRunFileSystem::moveFile(const QString &source, const QString &destination, MoveBatch *)
{
    return place(source, destination, true, {});
}

FsResult DryRunFileSystem::replaceFile(const QString &source, const QString &destination, bool move)
{
    const FsValue<bool> exists = fileExists(destination);
    if (!exists.ok())
        return exists.status();
    {
        const QMutexLocker lock(&m_mutex);
        noteGone(destination);
    }
    return place(source, destination, move, {});
}

FsResult DryRunFileSystem::deleteDuplicate(const QString &source, const QString &copy)
{
    if (sameFile(source, copy))
        return FsResult::failure(Different, QString());
    const FsValue<bool> same = sameContent(source, copy);
    if (!same.ok())
        return same.status();
    if (!same.value)
        return FsResult::failure(Different, QString());
    return deleteFile(source);
}

FsResult DryRunFileSystem::linkToTrash(const QString &path, qint64)
{
    const FsValue<bool> exists = fileExists(path);
    return !exists.ok() ? exists.status() : exists.value ? FsResult{} : missing();
}

qint64 DryRunFileSystem::freeSpace(const QString &path) const
{
    const qint64 free = m_real.freeSpace(path);
    if (free < 0)
        return free;
    const QMutexLocker lock(&m_mutex);
    return std::max<qint64>(0, free - m_placedBytes);
}
