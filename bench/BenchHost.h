#pragma once

#include "transfer/ActivityLog.h"
#include "transfer/EventRounds.h"
#include "transfer/PassHost.h"

#include <QCoreApplication>

// A log that also counts the outcome lines as they come: the log itself
// keeps only its last MaxLines lines, and a pass over more files than that
// must still show that every file was done and none failed.
class CountingLog : public MemoryLog
{
public:
    CountingLog(QString doneMarker, QString errorMarker)
        : m_doneMarker(std::move(doneMarker)), m_errorMarker(std::move(errorMarker))
    {
    }

    qint64 doneLines() const { return m_done; }
    qint64 errorLines() const { return m_errors; }
    QString firstError() const { return m_firstError; }

protected:
    void doAppend(const QString &line) override
    {
        // A file's lines are replaced by removing and appending, never
        // changed in place, so each outcome line is appended exactly once.
        if (line.contains(m_doneMarker)) {
            ++m_done;
        } else if (line.contains(m_errorMarker)) {
            if (m_errors++ == 0)
                m_firstError = line;
        }
        MemoryLog::doAppend(line);
    }

private:
    QString m_doneMarker;
    QString m_errorMarker;
    qint64 m_done = 0;
    qint64 m_errors = 0;
    QString m_firstError;
};

// The pass without a window: the real texts, a log in memory, and event
// processing as the window does it, so only the widgets' share of the cost
// is left out.
class BenchHost : public PassHost
{
public:
    BenchHost(QString source, QString destination, bool move, const MessageTable &texts)
        : m_source(std::move(source)), m_destination(std::move(destination)), m_move(move),
          m_texts(texts),
          m_log(QStringLiteral(" - ") + texts[move ? msgMoved : msgCopied] + QStringLiteral(": "),
                QStringLiteral(" - ") + texts[msgError] + QStringLiteral(": "))
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

    const CountingLog &countingLog() const { return m_log; }

private:
    EventRounds m_eventRounds;
    QString m_source;
    QString m_destination;
    bool m_move;
    const MessageTable &m_texts;
    CountingLog m_log;
    bool m_cancel = false;
};
