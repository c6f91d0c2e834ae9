#pragma once

#include "transfer/ActivityLog.h"
#include "transfer/PassHost.h"

#include <QCoreApplication>

#include <functional>

// A window for the pass without a window: short fixed texts that read well in
// a failing comparison, a memory log, and a record of the lock and busy calls.
class TestPassHost : public PassHost
{
public:
    TestPassHost()
    {
        int id = msgInfo; // t18 to t31, then t35: every text of the pass's lines
        for (const char *text :
             {"INFO", "NOFILES", "NOSPACE", "NOTMOVED", "NOTCOPIED", "OVERWRITTEN", "EXISTS",
              "COPIED", "MOVED", "COPYING", "MOVING", "FILE", "FILES", "RESULT"})
            table[id++] = QString::fromLatin1(text);
        table[msgError] = QStringLiteral("ERROR");
    }

    QString sourceFolder() const override { return source; }
    QString destinationFolder() const override { return destination; }
    bool moveSelected() const override { return move; }
    bool overwriteTicked() const override { return overwrite; }
    const MessageTable &messages() const override { return table; }
    ActivityLog &log() override { return memoryLog; }
    void enableControls(bool enabled, const QString &noun, const QString &count) override
    {
        calls << QStringList{enabled ? "on" : "off", noun, count}.join(QLatin1Char('|'));
    }
    void processEvents() override
    {
        if (onEventRound)
            onEventRound();
        QCoreApplication::processEvents();
    }
    // The pass asks at each of its event rounds: a click may come just before.
    bool cancelRequested() const override
    {
        if (onEventRound)
            onEventRound();
        return cancel;
    }
    void setCancelRequested(bool requested) override { cancel = requested; }
    void setBusy(bool busy) override { calls << QString::fromLatin1(busy ? "busy" : "idle"); }
    void setBusyPointer(bool) override {}
    void problemLogged() override { ++problems; }

    QString source = QStringLiteral("/src"), destination = QStringLiteral("/dst");
    bool move = false, overwrite = false, cancel = false;
    MessageTable table;
    MemoryLog memoryLog;
    int problems = 0;  // problemLogged() calls
    QStringList calls; // "busy", "idle", and "on|noun|count" or "off|..." for enableControls
    std::function<void()> onEventRound; // where a click or a save could come in
};
