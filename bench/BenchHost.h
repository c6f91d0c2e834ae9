#pragma once

#include "transfer/ActivityLog.h"
#include "transfer/HeadlessPassHost.h"

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

// The pass as `pallwick --once` runs it, with the real texts and event
// processing as the window does it, so only the widgets' share of the cost is
// left out; its log also counts the outcome lines.
class BenchHost : public HeadlessPassHost
{
public:
    BenchHost(QString source, QString destination, bool move, const MessageTable &texts)
        : HeadlessPassHost(std::move(source), std::move(destination), move, false, texts),
          m_log(QStringLiteral(" - ") + texts[move ? msgMoved : msgCopied] + QStringLiteral(": "),
                QStringLiteral(" - ") + texts[msgError] + QStringLiteral(": "))
    {
    }

    ActivityLog &log() override { return m_log; }
    const CountingLog &countingLog() const { return m_log; }

private:
    CountingLog m_log;
};
