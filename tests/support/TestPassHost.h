#pragma once

#include "transfer/ActivityLog.h"
#include "transfer/PassHost.h"

#include <QCoreApplication>
#include <QList>

#include <functional>

// A memory log that also keeps every line ever appended, so the short-lived
// placeholder and progress lines can be checked.
class RecordingLog : public MemoryLog
{
public:
    QStringList appended;

protected:
    void doAppend(const QString &line) override
    {
        appended.append(line);
        MemoryLog::doAppend(line);
    }
};

// A window for the pass without a window: fixed short texts, an in-memory log,
// and a record of everything the pass asked of its host.
class TestPassHost : public PassHost
{
public:
    struct EnableCall
    {
        bool enabled;
        QString noun;
        QString count;
        bool operator==(const EnableCall &) const = default;
    };

    TestPassHost() : table(fixedMessages()) {}

    // Every entry distinct and easy to read in a failing comparison.
    static MessageTable fixedMessages()
    {
        MessageTable t;
        for (int i = 0; i < MessageCount; ++i)
            t[i] = QStringLiteral("t%1").arg(i);
        t[msgInfo] = QStringLiteral("INFO");
        t[msgNoFiles] = QStringLiteral("NOFILES");
        t[msgNoSpace] = QStringLiteral("NOSPACE");
        t[msgNotMoved] = QStringLiteral("NOTMOVED");
        t[msgNotCopied] = QStringLiteral("NOTCOPIED");
        t[msgOverwritten] = QStringLiteral("OVERWRITTEN");
        t[msgFileExists] = QStringLiteral("EXISTS");
        t[msgCopied] = QStringLiteral("COPIED");
        t[msgMoved] = QStringLiteral("MOVED");
        t[msgCopying] = QStringLiteral("COPYING");
        t[msgMoving] = QStringLiteral("MOVING");
        t[msgFile] = QStringLiteral("FILE");
        t[msgFiles] = QStringLiteral("FILES");
        t[msgResult] = QStringLiteral("RESULT");
        t[msgError] = QStringLiteral("ERROR");
        return t;
    }

    QString sourceFolder() const override { return source; }
    QString destinationFolder() const override { return destination; }
    bool moveSelected() const override { return move; }
    bool overwriteTicked() const override { return overwrite; }
    const MessageTable &messages() const override { return table; }
    ActivityLog &log() override { return memoryLog; }

    void enableControls(bool enabled, const QString &noun, const QString &count) override
    {
        enableCalls.append({enabled, noun, count});
    }
    void processEvents() override
    {
        ++processEventsCalls;
        if (onProcessEvents)
            onProcessEvents();
        QCoreApplication::processEvents();
    }
    bool cancelRequested() const override { return cancel; }
    void setCancelRequested(bool requested) override { cancel = requested; }
    void setBusy(bool busy) override { busyCalls.append(busy); }
    void setBusyPointer(bool busy) override { pointerCalls.append(busy); }

    QStringList lines() const { return memoryLog.lines(); }
    QString lastLine() const { return memoryLog.line(memoryLog.count() - 1); }

    QString source = QStringLiteral("/src");
    QString destination = QStringLiteral("/dst");
    bool move = false;
    bool overwrite = false;
    bool cancel = false;
    MessageTable table;
    RecordingLog memoryLog;

    QList<EnableCall> enableCalls;
    QList<bool> busyCalls;
    QList<bool> pointerCalls;
    int processEventsCalls = 0;
    std::function<void()> onProcessEvents;
};
