#include "transfer/BackgroundRunner.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <chrono>

namespace {
using std::chrono::microseconds;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Waking a sleeping thread on another core can take longer than copying a
// small file, and a pass hands one job per file to the worker. So each side
// first spins briefly for the other before it sleeps.
constexpr microseconds WorkerSpin{200};
constexpr microseconds CallerSpin{300};
// Then the caller sleeps a little without an event loop, which saves the
// loop's set-up and a cross-thread event; too short for a user to notice.
constexpr milliseconds CallerQuietWait{2};

inline void cpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

template <typename Pred> bool spinFor(microseconds limit, Pred ready)
{
    const auto deadline = steady_clock::now() + limit;
    for (;;) {
        for (int i = 0; i < 64; ++i) {
            if (ready())
                return true;
            cpuRelax();
        }
        if (steady_clock::now() >= deadline)
            return ready();
    }
}
} // namespace

BackgroundRunner::BackgroundRunner() : m_home(new QObject)
{
    m_thread = std::thread([this] { workerLoop(); });
}

BackgroundRunner::~BackgroundRunner()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop.store(true);
    }
    m_jobPosted.notify_one();
    m_thread.join();
    delete m_home; // drops a wake-up still queued to it
}

void BackgroundRunner::workerLoop()
{
    const auto jobOrStop = [this] { return m_job.load() || m_stop.load(); };
    for (;;) {
        if (!spinFor(WorkerSpin, jobOrStop)) {
            std::unique_lock lock(m_mutex);
            m_jobPosted.wait(lock, jobOrStop);
        }
        const std::function<void()> *job = m_job.exchange(nullptr);
        if (!job)
            return; // stop
        (*job)();

        bool wakeLoop = false;
        {
            std::lock_guard lock(m_mutex);
            m_done.store(true);
            wakeLoop = m_loopWaiting;
        }
        m_jobDone.notify_one();
        if (wakeLoop) {
            QMetaObject::invokeMethod(
                m_home,
                [this] {
                    if (m_loop)
                        m_loop->quit();
                },
                Qt::QueuedConnection);
        }
    }
}

void BackgroundRunner::run(const std::function<void()> &job, QEventLoop::ProcessEventsFlags flags)
{
    const auto done = [this] { return m_done.load(); };
    {
        std::lock_guard lock(m_mutex);
        m_done.store(false);
        m_job.store(&job);
    }
    m_jobPosted.notify_one();
    if (spinFor(CallerSpin, done))
        return;

    std::unique_lock lock(m_mutex);
    if (m_jobDone.wait_for(lock, CallerQuietWait, done))
        return;
    if (!QCoreApplication::instance()) {
        m_jobDone.wait(lock, done);
        return;
    }

    QEventLoop loop;
    m_loop = &loop;
    m_loopWaiting = true;
    // The flag decides, not the wake-up: exec() may return for other reasons
    // (a stale wake-up, the application quitting), and the job must not
    // outlive this call. A wake-up that arrives while a nested loop (a modal
    // dialog) runs ends exec() once that loop is left.
    while (!m_done.load()) {
        lock.unlock();
        loop.exec(flags);
        lock.lock();
    }
    m_loopWaiting = false;
    m_loop = nullptr;
}
