#include "transfer/EventRounds.h"

#include <QCoreApplication>

void EventRounds::run()
{
    if (m_last.isValid() && m_last.elapsed() < IntervalMs)
        return;
    QCoreApplication::processEvents();
    m_last.start();
}
