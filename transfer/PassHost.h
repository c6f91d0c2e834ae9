#pragma once

#include "settings/Messages.h"
#include "transfer/PassGate.h"

#include <QString>

class ActivityLog;

// What the transfer pass needs of the window that runs it. The main window
// implements it; tests and the benchmark use a headless one.
class PassHost
{
public:
    virtual ~PassHost() = default;

    // Read once, at the start of a pass.
    virtual QString sourceFolder() const = 0;      // Text1, unchanged
    virtual QString destinationFolder() const = 0; // Text2, unchanged
    virtual bool moveSelected() const = 0;         // Option1(0)
    // Read afresh for every file.
    virtual bool overwriteTicked() const = 0; // Check2
    virtual const MessageTable &messages() const = 0;

    virtual ActivityLog &log() = 0;
    // Locks (false) or unlocks (true) the job controls; see the main window.
    virtual void enableControls(bool enabled, const QString &noun, const QString &count) = 0;
    // Lets pending window events run (a Cancel click is seen here).
    virtual void processEvents() = 0;
    virtual bool cancelRequested() const = 0;
    virtual void setCancelRequested(bool requested) = 0;
    // A Cancel click or a signal: sets the flag and tells the worker of a
    // running pass at once, so it starts no file after the one in progress.
    void requestCancel()
    {
        setCancelRequested(true);
        m_gate.cancel();
    }
    // The running pass's worker listens here (Cancel, and holds while a
    // modal dialog opened during the pass is shown).
    PassGate &gate() { return m_gate; }
    virtual void setBusy(bool busy) = 0;
    virtual void setBusyPointer(bool busy) = 0;
    // A file got an error line or was refused for lack of space.
    virtual void problemLogged() {}

private:
    PassGate m_gate;
};
