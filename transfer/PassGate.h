#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

// What the window tells the worker of a running pass between two files: stop
// (a Cancel) or wait (a modal dialog opened during the pass). Both reach the
// worker the moment they are given, not at the pass's next event round, so
// no file is started after a Cancel click or while such a dialog is open.
class PassGate
{
public:
    // The worker finishes its file and starts no other; a held worker stops
    // waiting.
    void cancel();
    bool cancelled() const { return m_cancel.load(std::memory_order_acquire); }
    // A pass begins with no Cancel pending. Holds stay: they belong to
    // dialogs that are still open.
    void clearCancel() { m_cancel.store(false, std::memory_order_release); }

    // Holds nest; the worker goes on when the last one is released.
    void hold();
    void release();

    // While a dialog lives: holds the worker when the pass was running as the
    // dialog opened, so a pass that starts while it is open runs freely.
    class Hold
    {
    public:
        Hold(PassGate &gate, bool passRunning) : m_gate(passRunning ? &gate : nullptr)
        {
            if (m_gate)
                m_gate->hold();
        }
        ~Hold()
        {
            if (m_gate)
                m_gate->release();
        }
        Hold(const Hold &) = delete;
        Hold &operator=(const Hold &) = delete;

    private:
        PassGate *m_gate;
    };

    // Worker, between two files of a batch: true when it must not go on
    // without asking passOpen().
    bool closed() const
    {
        return m_cancel.load(std::memory_order_acquire) ||
               m_holds.load(std::memory_order_acquire) > 0;
    }
    // Worker, before a new batch: waits while held. False on a Cancel.
    bool passOpen();

private:
    std::atomic<bool> m_cancel{false};
    std::atomic<int> m_holds{0};
    std::mutex m_mutex;
    std::condition_variable m_changed;
};
