#pragma once

#include <QElapsedTimer>

// Lets pending events run, but at most one round every few milliseconds:
// repainting the window twice per file would cost far more than copying a
// small file, while a round every 10 ms keeps the window live and still sees
// a Cancel click before the next file.
class EventRounds
{
public:
    static constexpr int IntervalMs = 10;

    // The next call lets events run whatever the time.
    void restart() { m_last.invalidate(); }
    void run();

private:
    QElapsedTimer m_last;
};
