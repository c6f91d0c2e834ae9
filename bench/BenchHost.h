#pragma once

#include "transfer/ActivityLog.h"
#include "transfer/EventRounds.h"
#include "transfer/PassHost.h"

#include <QCoreApplication>

// The pass without a window: the real texts, a log in memory, and event
// processing as the window does it, so only the widgets' share of the cost
// is left out.
class BenchHost : public PassHost
{
public:
    BenchHost(QString source, QString destination, bool move, const MessageTable &texts)
        : m_source(std::move(source)), m_destination(std::move(destination)), m_move(move),
          m_texts(texts)
    {
    }

    QString sourceFolder() const override { return m_source; }
    QString destinationFolder() const override { return m_destination; }
    bool moveSelected() const override { return m_move; }
    bool overwriteTicked() const override { return false; }
    const MessageTable &messages() const override { return m_texts; }
    ActivityLog &log() override { return m_log; }
    void enableControls(bool, const QString &, const QString &) override {}
    // Like the window: events run at most every few milliseconds.
    void processEvents() override { m_eventRounds.run(); }
    bool cancelRequested() const override { return m_cancel; }
    void setCancelRequested(bool requested) override { m_cancel = requested; }
    void setBusy(bool) override {}
    void setBusyPointer(bool) override {}

    const MemoryLog &memoryLog() const { return m_log; }

private:
    EventRounds m_eventRounds;
    QString m_source;
    QString m_destination;
    bool m_move;
    const MessageTable &m_texts;
    MemoryLog m_log;
    bool m_cancel = false;
};
