#pragma once

#include <QEventLoop>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

class QObject;

// Runs one job at a time on a worker thread of its own while the calling
// (UI) thread keeps handling its events, so the window repaints and a click
// is seen during a long copy. The thread is started once and reused for
// every job: starting a thread per file would cost more than copying a small
// file.
class BackgroundRunner
{
public:
    BackgroundRunner();
    ~BackgroundRunner();
    BackgroundRunner(const BackgroundRunner &) = delete;
    BackgroundRunner &operator=(const BackgroundRunner &) = delete;

    // Runs job on the worker and returns when it has finished. Events of the
    // calling thread are processed meanwhile, as flags allow (with user input,
    // handlers may run). Must be called from the thread that created the
    // runner.
    void run(const std::function<void()> &job,
             QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents);

    // The same for a job with a result.
    template <typename F>
    auto call(F &&job, QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents)
        -> decltype(job())
    {
        std::optional<decltype(job())> result;
        run([&] { result.emplace(job()); }, flags);
        return std::move(*result);
    }

private:
    void workerLoop();

    // Job and done are atomics so either side can find them by a short spin
    // before it sleeps; they are changed under the mutex so no wake-up of a
    // sleeper is lost.
    std::mutex m_mutex;
    std::condition_variable m_jobPosted;
    std::condition_variable m_jobDone;
    std::atomic<const std::function<void()> *> m_job{nullptr};
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_stop{false};
    bool m_loopWaiting = false; // the caller waits in m_loop and needs a wake-up

    QEventLoop *m_loop = nullptr; // touched on the calling thread only
    QObject *m_home = nullptr;    // lives in the calling thread; wake-ups go here
    std::thread m_thread;
};
