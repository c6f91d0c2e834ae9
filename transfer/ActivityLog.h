#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class Clock;
class QListWidget;

// The activity log: one-line texts, oldest first. Appending at the cap drops
// the oldest line first, so the log stays bounded over weeks of running.
class ActivityLog
{
public:
    static constexpr int MaxLines = 32767;

    virtual ~ActivityLog() = default;

    void append(const QString &line);
    // Removes the newest line; nothing on an empty log.
    void removeLast();
    // Selects the newest line (clears the selection on an empty log).
    void selectLast();

    virtual int count() const = 0;
    virtual QString line(int index) const = 0;
    virtual int selectedIndex() const = 0;

    // Receives every line once it is final. The pass replaces its newest line
    // (placeholder, progress, a first error) by the next, so a line counts as
    // final when a line is appended after it, or at flushFinal().
    using FinalLineSink = std::function<void(const QString &line)>;
    void setFinalLineSink(FinalLineSink sink);
    // Hands the newest line to the sink unless it already has it; called
    // where nothing can replace that line any more (a pass has ended).
    void flushFinal();

protected:
    virtual void doAppend(const QString &line) = 0;
    virtual void doRemoveAt(int index) = 0;
    virtual void doSelect(int index) = 0;

private:
    FinalLineSink m_sink;
    std::optional<QString> m_pending; // the newest line, not yet handed on
};

// A log kept in memory only: for the headless pass and for tests.
class MemoryLog : public ActivityLog
{
public:
    int count() const override { return static_cast<int>(m_lines.size()); }
    QString line(int index) const override { return m_lines.value(index); }
    int selectedIndex() const override { return m_selected; }
    const QStringList &lines() const { return m_lines; }

protected:
    void doAppend(const QString &line) override { m_lines.append(line); }
    void doRemoveAt(int index) override;
    void doSelect(int index) override { m_selected = index; }

private:
    QStringList m_lines;
    int m_selected = -1;
};

// The log shown in the main window's list. The lines themselves live here;
// while deferred (during a pass) the list is brought up to date once per
// event round instead of at every change, because each change makes the list
// lay out all its lines again.
class ListWidgetLog : public MemoryLog
{
public:
    explicit ListWidgetLog(QListWidget *list);

    // Off: the list follows at once (and catches up now).
    void setDeferred(bool deferred);
    // Brings the list up to date.
    void flush();

protected:
    void doAppend(const QString &line) override;
    void doRemoveAt(int index) override;
    void doSelect(int index) override;

private:
    void changed();

    QListWidget *m_list;
    int m_droppedFront = 0; // lines gone from the front that the list still shows
    int m_synced = 0;       // leading lines the list already shows correctly
    bool m_deferred = false;
    bool m_flushQueued = false;
};

// "<regional short date> <regional long time>", the stamp in front of most
// log lines. The time has no time-zone name.
QString logStamp(const Clock &clock, const QLocale &locale = QLocale::system());
