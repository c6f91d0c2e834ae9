#pragma once

#include <QDateTime>

// The source of "now" for the log's time stamps; tests substitute a fixed one.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const { return QDateTime::currentDateTime(); }
    // Whole seconds since the epoch: cheaper than now(), which looks up the
    // time zone each time.
    virtual qint64 secondsSinceEpoch() const { return QDateTime::currentSecsSinceEpoch(); }
    // Nanoseconds since the epoch, as precise as file times are.
    virtual qint64 nanosecondsSinceEpoch() const;

    static Clock &system();
};

class FixedClock : public Clock
{
public:
    explicit FixedClock(QDateTime at) : m_at(std::move(at)) {}
    QDateTime now() const override { return m_at; }
    qint64 secondsSinceEpoch() const override { return m_at.toSecsSinceEpoch(); }
    qint64 nanosecondsSinceEpoch() const override { return m_at.toMSecsSinceEpoch() * 1000000; }
    void set(QDateTime at) { m_at = std::move(at); }

private:
    QDateTime m_at;
};
