#pragma once

#include "transfer/ActivityLog.h"
#include "transfer/EventRounds.h"
#include "transfer/PassHost.h"

// The pass without a window (pallwick --once): the job is fixed for the
// whole pass and the log lives in memory; a cancel comes from a signal.
class HeadlessPassHost : public PassHost
{
public:
    HeadlessPassHost(QString source, QString destination, bool move, bool overwrite,
                     MessageTable texts);

    QString sourceFolder() const override { return m_source; }
    QString destinationFolder() const override { return m_destination; }
    bool moveSelected() const override { return m_move; }
    bool overwriteTicked() const override { return m_overwrite; }
    const MessageTable &messages() const override { return m_texts; }
    ActivityLog &log() override { return m_log; }
    void enableControls(bool, const QString &, const QString &) override {}
    void processEvents() override { m_eventRounds.run(); }
    bool cancelRequested() const override { return m_cancel; }
    void setCancelRequested(bool requested) override;
    void setBusy(bool) override {}
    void setBusyPointer(bool) override {}
    void problemLogged() override { m_problems = true; }

    // Some file got an error line or was refused for lack of space.
    bool problems() const { return m_problems; }
    // The pass stopped early on a cancel (and logged its result line).
    bool cancelled() const { return m_cancelled; }

private:
    EventRounds m_eventRounds;
    QString m_source;
    QString m_destination;
    bool m_move;
    bool m_overwrite;
    MessageTable m_texts;
    MemoryLog m_log;
    bool m_cancel = false;
    bool m_cancelled = false;
    bool m_problems = false;
};
