#include "transfer/PassGate.h"

// Changes are made under the mutex so a worker about to sleep cannot miss
// the wake-up.
void PassGate::cancel()
{
    {
        std::lock_guard lock(m_mutex);
        m_cancel.store(true, std::memory_order_release);
    }
    m_changed.notify_all();
}

void PassGate::hold()
{
    std::lock_guard lock(m_mutex);
    m_holds.fetch_add(1, std::memory_order_acq_rel);
}

void PassGate::release()
{
    {
        std::lock_guard lock(m_mutex);
        m_holds.fetch_sub(1, std::memory_order_acq_rel);
    }
    m_changed.notify_all();
}

bool PassGate::passOpen()
{
    if (!closed())
        return true;
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_cancel.load() || m_holds.load() == 0; });
    return !m_cancel.load();
}
