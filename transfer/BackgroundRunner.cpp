#include "transfer/BackgroundRunner.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <atomic>
#include <memory>

namespace {
struct PendingJob
{
    std::atomic<bool> done{false};
    QEventLoop *loop = nullptr; // touched on the calling thread only
};
} // namespace

BackgroundRunner::BackgroundRunner()
{
    if (!QCoreApplication::instance())
        return;
    m_home = new QObject;
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("BackgroundRunner"));
    m_worker = new QObject;
    m_worker->moveToThread(m_thread);
    QObject::connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread->start();
}

BackgroundRunner::~BackgroundRunner()
{
    if (!m_thread)
        return;
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
    delete m_home; // drops any wake-up still queued to it
}

void BackgroundRunner::run(const std::function<void()> &job)
{
    if (!m_thread) {
        job();
        return;
    }

    auto pending = std::make_shared<PendingJob>();
    QEventLoop loop;
    pending->loop = &loop;
    QObject *home = m_home;
    QMetaObject::invokeMethod(
        m_worker,
        [&job, pending, home] {
            job();
            pending->done.store(true);
            QMetaObject::invokeMethod(
                home,
                [pending] {
                    if (pending->loop)
                        pending->loop->quit();
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);

    // The flag decides, not the wake-up: exec() may also return early (the
    // application quitting), and the job must not outlive this call.
    while (!pending->done.load())
        loop.exec();
    pending->loop = nullptr;
}
