#include "platform/PosixFileSystem.h"

#include "platform/PosixDurability.h"
#include "platform/PosixHeldFolders.h"
#include "platform/PosixInternals.h"
#include "platform/PosixStagedFile.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>

namespace {

using namespace posixfs;

// How many staged files a batch may hold open. Each takes a descriptor, and
// the writeback thread may take a second, so a batch keeps to a quarter of
// what this process may open. The soft limit is raised towards the hard one
// first: it is low only for programs that use select(), and this one does not.
size_t stagedFileCapacity()
{
    static std::once_flag raised;
    std::call_once(raised, [] {
        struct rlimit limit;
        constexpr rlim_t Wanted = 4096;
        if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < Wanted &&
            limit.rlim_cur < limit.rlim_max) {
            limit.rlim_cur = std::min(limit.rlim_max, Wanted);
            (void)::setrlimit(RLIMIT_NOFILE, &limit);
        }
    });
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 64;
    return size_t(std::clamp<rlim_t>(limit.rlim_cur / 4, 8, 512));
}

// A copy, or a move across file systems, on its way: staged, then completed.
struct PendingMove
{
    QByteArray source;
    QByteArray destination;
    bool keepSource = false; // a copy
    bool replace = false;    // puts the copy over the entry of that name
    StagedFile staged;
    std::optional<StagedFile> fallback;
    struct stat copied;
    FsResult result;
    FlushPolicy flush = FlushPolicy::EachFile;
    // Set by the writeback thread where it flushed the file itself.
    bool flushed = false;
    int flushError = 0;
    bool placed = false;
};

// Has the disk start writing each staged copy, on a thread of its own: the
// writing costs processor time too, and so overlaps with copying the next
// file instead of following it. Where each file needs its own fsync, that
// thread does it, so that the file system works while the next file is
// copied. The batch's flush waits for it all.
class WritebackStarter
{
public:
    WritebackStarter() = default;
    WritebackStarter(const WritebackStarter &) = delete;
    WritebackStarter &operator=(const WritebackStarter &) = delete;
    ~WritebackStarter() { finish(); }

    void add(PendingMove &move)
    {
        // Where one syncfs() flushes the batch, it writes a small file with
        // the rest; starting that early costs more than it saves.
        if (move.flush == FlushPolicy::Nothing ||
            (move.flush == FlushPolicy::WholeFileSystem && move.copied.st_size < HeadStartSize))
            return;
        const int copy = ::fcntl(move.staged.fd(), F_DUPFD_CLOEXEC, 0);
        if (copy < 0)
            return; // then the batch's flush does all the writing
        {
            std::lock_guard lock(m_mutex);
            m_work.push_back({copy, &move});
        }
        if (!m_thread.joinable())
            m_thread = std::thread([this] { run(); });
        m_changed.notify_one();
    }

    // Returns once every file added so far has been handed to the disk, or
    // flushed where it needs its own flush.
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

    static constexpr off_t HeadStartSize = 256 * 1024;

private:
    struct Work
    {
        int fd;
        PendingMove *move;
    };

    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return m_finishing || !m_work.empty(); });
            if (m_work.empty())
                return;
            const Work work = m_work.front();
            m_work.pop_front();
            lock.unlock();
            if (work.move->flush == FlushPolicy::EachFile) {
                // The close of this second descriptor reports what a network
                // or FUSE file system saves for the close; finish() orders
                // these writes before the batch reads them.
                const bool synced = ::fsync(work.fd) == 0;
                const int syncError = errno;
                const bool closed = ::close(work.fd) == 0;
                work.move->flushError = !synced ? syncError : closed ? 0 : errno;
                work.move->flushed = true;
            } else {
                // Only a head start: a failure shows in the flush.
                ::sync_file_range(work.fd, 0, 0, SYNC_FILE_RANGE_WRITE);
                ::close(work.fd);
            }
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Work> m_work;
    bool m_finishing = false;
    std::thread m_thread;
};

class PosixMoveBatch : public MoveBatch
{
public:
    std::vector<std::unique_ptr<PendingMove>> moves;
    WritebackStarter writeback;
    // The flush policy of each destination folder, looked up once a batch.
    std::vector<std::pair<QByteArray, FlushPolicy>> policies;

    size_t capacity() const override { return stagedFileCapacity(); }
    bool flushesWholeFileSystem() const override { return m_wholeFileSystem; }

    FlushPolicy policyFor(const QByteArray &folder, int fd)
    {
        for (const auto &[known, policy] : policies)
            if (known == folder)
                return policy;
        policies.emplace_back(folder, flushPolicyOf(fd));
        m_wholeFileSystem |= policies.back().second == FlushPolicy::WholeFileSystem;
        return policies.back().second;
    }

private:
    bool m_wholeFileSystem = false;
};

// Stages the copy of a pending move and decides how it is to be flushed.
FsResult stagePending(PendingMove &move, PosixMoveBatch *batch,
                      const FileSystem::Admission &admit = {}, const QuietTime &quiet = {})
{
    const QByteArray folder = folderOf(move.destination);
    const FsResult result =
        stageCopy(move.source, folder, unnamedUsable.load(std::memory_order_relaxed), move.staged,
                  move.copied, Flush::None, admit, quiet);
    if (result.ok())
        move.flush =
            batch ? batch->policyFor(folder, move.staged.fd()) : flushPolicyOf(move.staged.fd());
    return result;
}

// Success when the source of a move is still the file it was copied from,
// in the state it was copied in.
FsResult sourceAsCopied(const PendingMove &move)
{
    struct stat now;
    if (::lstat(move.source.constData(), &now) != 0)
        return lastError();
    if (now.st_dev != move.copied.st_dev || now.st_ino != move.copied.st_ino ||
        !sameContentState(now, move.copied))
        return sourceChanged();
    return FsResult::success();
}

// Makes the staged copies durable: one syncfs() per folder where the file
// system is trusted with it, an fsync() of each file everywhere else (done
// by the writeback thread where it could), nothing in memory.
void syncStaged(const std::vector<PendingMove *> &moves)
{
    std::vector<std::pair<QByteArray, bool>> synced; // folder, syncfs() worked
    for (PendingMove *move : moves) {
        if (!move->result.ok())
            continue;
        const int fd = move->staged.fd();
        bool each = move->flush == FlushPolicy::EachFile;
        if (move->flush == FlushPolicy::WholeFileSystem) {
            const QByteArray folder = folderOf(move->destination);
            auto known = std::find_if(synced.begin(), synced.end(),
                                      [&](const auto &entry) { return entry.first == folder; });
            if (known == synced.end())
                known = synced.insert(synced.end(), {folder, ::syncfs(fd) == 0});
            each = !known->second;
        }
        if (each && move->flushed && move->flushError != 0)
            move->result = FsResult::fromErrno(move->flushError);
        else if (each && !move->flushed && !flushFile(fd))
            move->result = lastError();
        if (move->result.ok())
            reached(PosixFileSystem::Step::FileSynced, move->source);
    }
}

// Completes staged copies and moves: their copies are made durable, then
// named, the names flushed, and only then does each moved source go, if it
// did not change since it was copied. Every failure takes the copy back and
// keeps the source.
void completeStaged(const std::vector<PendingMove *> &staged)
{
    syncStaged(staged);
    QList<QByteArray> folders;
    for (PendingMove *move : staged) {
        // A replaced file cannot be had back: a moved source must still be
        // as it was copied before its copy takes the old file's place.
        if (move->result.ok() && move->replace && !move->keepSource)
            move->result = sourceAsCopied(*move);
        if (!move->result.ok())
            continue;
        const auto name = [&](StagedFile &file) {
            reached(PosixFileSystem::Step::Staged, move->destination);
            return move->replace ? file.replace(move->destination) : file.place(move->destination);
        };
        move->result = name(move->staged);
        if (!move->result.ok() && move->staged.unnamed() && namingUnsupported(move->result.error)) {
            unnamedUsable = false;
            move->fallback.emplace();
            move->result = stageCopy(move->source, folderOf(move->destination), false,
                                     *move->fallback, move->copied, Flush::Wait);
            if (move->result.ok() && move->replace && !move->keepSource)
                move->result = sourceAsCopied(*move);
            if (move->result.ok())
                move->result = name(*move->fallback);
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
        if (move->result.ok() && !move->keepSource) {
            move->result = sourceAsCopied(*move);
            if (move->result.ok() && ::unlink(move->source.constData()) != 0)
                move->result = lastError();
            if (move->result.ok())
                reached(PosixFileSystem::Step::SourceDeleted, move->source);
        }
        // A copy put in place of an old file stays: taking it back would
        // leave neither. Its source stays too.
        if (!move->result.ok() && !move->replace)
            ::unlink(move->destination.constData());
    }
}

// Finishes a staged copy or move now, or defers it into batch.
FsResult finishOrDefer(std::unique_ptr<PendingMove> move, PosixMoveBatch *batch)
{
    if (batch) {
        batch->writeback.add(*move);
        batch->moves.push_back(std::move(move));
        return FsResult::failure(FileSystem::Deferred, QString());
    }
    completeStaged({move.get()});
    return move->result;
}

FsResult notRegularFile()
{
    return FsResult::failure(EINVAL, QStringLiteral("Not a regular file"));
}

// A rename moves whatever stands under the name at that instant, and in a
// folder others may write (a 1777 drop) that can be a link, a FIFO or a
// folder put there after the listing. So the name must hold the regular file
// the listing saw right before the rename, and the moved entry is looked at
// again right after it: anything else goes back, never replacing what took
// its place meanwhile. What stays racy is the instant between the rename and
// the look after it, when the foreign entry stands in the destination; it
// never gets written to or read through, and a link or a FIFO grants nothing
// that its owner could not reach without it.
// A source the quiet time holds is StillChanging, before its type is looked at.
FsResult checkedSource(const QByteArray &path, struct stat &st, const QuietTime &quiet)
{
    const At where = at(path);
    if (::fstatat(where.dir, where.name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return lastError();
    if (quiet.holds(lastChange(st)))
        return FsResult::failure(FileSystem::StillChanging, QString());
    if (!S_ISREG(st.st_mode) || !asListed(path, st))
        return notRegularFile();
    return FsResult::success();
}

FsResult checkMoved(const QByteArray &from, const QByteArray &to, const struct stat &checked)
{
    const At where = at(to);
    struct stat st;
    if (::fstatat(where.dir, where.name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        st.st_dev == checked.st_dev && st.st_ino == checked.st_ino)
        return FsResult::success();
    (void)renameNoReplace(to, from);
    return notRegularFile();
}

} // namespace

FsResult PosixFileSystem::copyFile(const QString &source, const QString &destination,
                                   const Admission &admit, MoveBatch *batch)
{
    return copyUnlessChanging(source, destination, QuietTime(), admit, batch);
}

FsResult PosixFileSystem::copyUnlessChanging(const QString &source, const QString &destination,
                                             const QuietTime &quiet, const Admission &admit,
                                             MoveBatch *batch)
{
    // Only a complete and durable copy ever gets the final name, so a file
    // logged as copied outlives a power loss wherever the file system
    // honours fsync.
    auto move = std::make_unique<PendingMove>();
    move->source = encoded(source);
    move->destination = encoded(destination);
    move->keepSource = true;
    auto *pending = dynamic_cast<PosixMoveBatch *>(batch);
    const FsResult result = stagePending(*move, pending, admit, quiet);
    if (!result.ok())
        return result;
    return finishOrDefer(std::move(move), pending);
}

FsResult PosixFileSystem::moveFile(const QString &source, const QString &destination,
                                   MoveBatch *batch)
{
    return moveUnlessChanging(source, destination, QuietTime(), batch);
}

// The quiet time is asked of the status the move reads to check its source:
// within one file system the move is a rename, and no other status is read.
FsResult PosixFileSystem::moveUnlessChanging(const QString &source, const QString &destination,
                                             const QuietTime &quiet, MoveBatch *batch)
{
    const QByteArray from = encoded(source);
    const QByteArray to = encoded(destination);
    struct stat checked;
    if (const FsResult result = checkedSource(from, checked, quiet); !result.ok())
        return result;
    reached(PosixFileSystem::Step::Renaming, from);
    // The no-replace rename reports an existing destination (EEXIST) by itself.
    if (renameNoReplace(from, to) == 0)
        return checkMoved(from, to, checked);
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
    auto *pending = dynamic_cast<PosixMoveBatch *>(batch);
    const FsResult result = stagePending(*move, pending);
    if (!result.ok())
        return result;
    return finishOrDefer(std::move(move), pending);
}

FsResult PosixFileSystem::replaceFile(const QString &source, const QString &destination, bool move)
{
    const QByteArray from = encoded(source);
    const QByteArray to = encoded(destination);
    // On one file system a move is one rename over the old entry.
    if (move) {
        const At a = at(from), b = at(to);
        if (::renameat(a.dir, a.name, b.dir, b.name) == 0)
            return FsResult::success();
        if (errno != EXDEV)
            return lastError();
    }
    auto pending = std::make_unique<PendingMove>();
    pending->source = from;
    pending->destination = to;
    pending->keepSource = !move;
    pending->replace = true;
    const FsResult result = stagePending(*pending, nullptr);
    if (!result.ok())
        return result;
    return finishOrDefer(std::move(pending), nullptr);
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
