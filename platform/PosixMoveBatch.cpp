#include "platform/PosixFileSystem.h"

#include "platform/PosixInternals.h"
#include "platform/PosixStagedFile.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <fcntl.h>

namespace {

using namespace posixfs;

// A move across file systems on its way: staged, then completed.
struct PendingMove
{
    QByteArray source;
    QByteArray destination;
    StagedFile staged;
    std::optional<StagedFile> fallback;
    struct stat copied;
    FsResult result;
    bool placed = false;
};

// Has the disk start writing each staged copy, on a thread of its own: the
// writing costs processor time too, and so overlaps with copying the next
// file instead of following it. The batch's flush still waits for it all.
class WritebackStarter
{
public:
    WritebackStarter() = default;
    WritebackStarter(const WritebackStarter &) = delete;
    WritebackStarter &operator=(const WritebackStarter &) = delete;
    ~WritebackStarter() { finish(); }

    void add(int fd)
    {
        const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (copy < 0)
            return; // then the flush does all the writing
        {
            std::lock_guard lock(m_mutex);
            m_fds.push_back(copy);
        }
        if (!m_thread.joinable())
            m_thread = std::thread([this] { run(); });
        m_changed.notify_one();
    }

    // Returns once every file added so far has been handed to the disk.
    void finish()
    {
        {
            std::lock_guard lock(m_mutex);
            m_finishing = true;
        }
        m_changed.notify_one();
        if (m_thread.joinable())
            m_thread.join();
        m_finishing = false;
    }

private:
    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return m_finishing || !m_fds.empty(); });
            if (m_fds.empty())
                return;
            const int fd = m_fds.front();
            m_fds.pop_front();
            lock.unlock();
            // Only a head start: a failure shows in the flush.
            ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
            ::close(fd);
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<int> m_fds;
    bool m_finishing = false;
    std::thread m_thread;
};

class PosixMoveBatch : public MoveBatch
{
public:
    std::vector<std::unique_ptr<PendingMove>> moves;
    WritebackStarter writeback;
};

FsResult stageMove(PendingMove &move)
{
    return stageCopy(move.source, folderOf(move.destination),
                     unnamedUsable.load(std::memory_order_relaxed), move.staged, move.copied,
                     Flush::None);
}

// Makes the staged copies durable with one flush of their file system, or
// one per file where that cannot be had.
void syncStaged(const std::vector<PendingMove *> &moves)
{
    if (moves.empty())
        return;
    const bool whole = ::syncfs(moves.front()->staged.fd()) == 0;
    for (PendingMove *move : moves) {
        if (!whole && ::fsync(move->staged.fd()) != 0)
            move->result = lastError();
        else
            reached(PosixFileSystem::Step::FileSynced, move->source);
    }
}

// Completes staged moves: their copies are flushed to disk, then named, the
// names flushed, and only then does each source go, if it did not change
// since it was copied. Every failure takes the copy back and keeps the source.
void completeStaged(const std::vector<PendingMove *> &staged)
{
    syncStaged(staged);
    QList<QByteArray> folders;
    for (PendingMove *move : staged) {
        if (!move->result.ok())
            continue;
        reached(PosixFileSystem::Step::Staged, move->destination);
        move->result = move->staged.place(move->destination);
        if (!move->result.ok() && move->staged.unnamed() && namingUnsupported(move->result.error)) {
            unnamedUsable = false;
            move->fallback.emplace();
            move->result = stageCopy(move->source, folderOf(move->destination), false,
                                     *move->fallback, move->copied, Flush::Wait);
            if (move->result.ok()) {
                reached(PosixFileSystem::Step::Staged, move->destination);
                move->result = move->fallback->place(move->destination);
            }
        }
        move->placed = move->result.ok();
        if (move->placed && !folders.contains(folderOf(move->destination)))
            folders << folderOf(move->destination);
    }
    for (const QByteArray &folder : folders) {
        const FsResult synced = syncFolder(folder);
        for (PendingMove *move : staged)
            if (move->placed && !synced.ok() && folderOf(move->destination) == folder)
                move->result = synced;
    }
    for (PendingMove *move : staged) {
        if (!move->placed)
            continue;
        if (move->result.ok()) {
            struct stat now;
            if (::lstat(move->source.constData(), &now) != 0)
                move->result = lastError();
            else if (now.st_dev != move->copied.st_dev || now.st_ino != move->copied.st_ino ||
                     !sameContentState(now, move->copied))
                move->result = sourceChanged();
            else if (::unlink(move->source.constData()) != 0)
                move->result = lastError();
            else
                reached(PosixFileSystem::Step::SourceDeleted, move->source);
        }
        if (!move->result.ok())
            ::unlink(move->destination.constData());
    }
}

} // namespace

FsResult PosixFileSystem::moveFile(const QString &source, const QString &destination,
                                   MoveBatch *batch)
{
    const QByteArray from = encoded(source);
    const QByteArray to = encoded(destination);
    // The no-replace rename reports an existing destination (EEXIST) and a
    // missing source (ENOENT) by itself.
    if (renameNoReplace(from, to) == 0)
        return FsResult::success();
    if (errno != EXDEV)
        return lastError();
    // Across file systems the kernel answers EXDEV before it looks at the
    // destination: refuse an existing one before copying anything.
    struct stat st;
    if (::lstat(to.constData(), &st) == 0)
        return FsResult::fromErrno(EEXIST);

    auto move = std::make_unique<PendingMove>();
    move->source = from;
    move->destination = to;
    FsResult result = stageMove(*move);
    if (!result.ok())
        return result;
    if (auto *pending = dynamic_cast<PosixMoveBatch *>(batch)) {
        pending->writeback.add(move->staged.fd());
        pending->moves.push_back(std::move(move));
        return FsResult::failure(Deferred, QString());
    }
    completeStaged({move.get()});
    return move->result;
}

std::unique_ptr<MoveBatch> PosixFileSystem::newMoveBatch()
{
    return std::make_unique<PosixMoveBatch>();
}

std::vector<FsResult> PosixFileSystem::completeMoves(MoveBatch &batch)
{
    auto &pending = static_cast<PosixMoveBatch &>(batch);
    pending.writeback.finish();
    std::vector<PendingMove *> moves;
    for (const auto &move : pending.moves)
        moves.push_back(move.get());
    completeStaged(moves);
    std::vector<FsResult> results;
    for (PendingMove *move : moves)
        results.push_back(move->result);
    pending.moves.clear();
    return results;
}
