#pragma once

#include <QObject>

#include <functional>
#include <optional>
#include <utility>

class QThread;

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
    // calling thread are processed meanwhile (also user input, so handlers may
    // run). Without an application object the job simply runs inline.
    void run(const std::function<void()> &job);

    // The same for a job with a result.
    template <typename F> auto call(F &&job) -> decltype(job())
    {
        std::optional<decltype(job())> result;
        run([&] { result.emplace(job()); });
        return std::move(*result);
    }

private:
    QThread *m_thread = nullptr;
    QObject *m_worker = nullptr; // lives in m_thread; jobs are queued to it
    QObject *m_home = nullptr;   // lives in the calling thread; receives "done"
};
