#include "platform/QuietTime.h"

#include "platform/Clock.h"

bool QuietTime::holds(qint64 changedNs) const
{
    if (!isOn())
        return false;
    const qint64 now = m_clock->nanosecondsSinceEpoch();
    return changedNs > now - qint64(m_seconds) * 1000000000 && changedNs <= now;
}
