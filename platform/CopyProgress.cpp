#include "platform/CopyProgress.h"

#include <atomic>

namespace CopyProgress {

namespace {
std::atomic<qint64> g_total{0};
std::atomic<qint64> g_done{0};
std::atomic<Observer> g_observer{nullptr};
} // namespace

void begin(qint64 total)
{
    g_done.store(0, std::memory_order_relaxed);
    g_total.store(total, std::memory_order_relaxed);
    if (const Observer observer = g_observer.load())
        observer(0, total);
}

void advance(qint64 done)
{
    g_done.store(done, std::memory_order_relaxed);
    if (const Observer observer = g_observer.load())
        observer(done, g_total.load(std::memory_order_relaxed));
}

void end()
{
    g_total.store(0, std::memory_order_relaxed);
    g_done.store(0, std::memory_order_relaxed);
}

int percent()
{
    const qint64 total = g_total.load(std::memory_order_relaxed);
    if (total <= ShownAbove)
        return -1;
    const qint64 done = qBound(qint64(0), g_done.load(std::memory_order_relaxed), total);
    return int(done * 100 / total);
}

void setObserver(Observer observer)
{
    g_observer.store(observer);
}

} // namespace CopyProgress
