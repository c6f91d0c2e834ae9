#pragma once

#include <QtGlobal>

class Clock;

// A file whose newer of modification and status-change time lies within the
// last seconds before now may still be being written: a pass leaves it for
// later. A time after now holds nothing, or a wrong clock would hold a file
// for ever.
class QuietTime
{
public:
    QuietTime() = default; // off: holds nothing
    QuietTime(const Clock &clock, int seconds) : m_clock(&clock), m_seconds(seconds) {}

    bool isOn() const { return m_clock && m_seconds > 0; }
    // Asked right after the times were read: now is taken here, so a file
    // changed a moment before the question is never "in the future".
    bool holds(qint64 changedNs) const;

private:
    const Clock *m_clock = nullptr;
    int m_seconds = 0;
};
