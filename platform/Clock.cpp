#include "platform/Clock.h"

#include <time.h>

Clock &Clock::system()
{
    static Clock clock;
    return clock;
}

qint64 Clock::nanosecondsSinceEpoch() const
{
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}
