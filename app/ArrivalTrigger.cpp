#include "app/ArrivalTrigger.h"

ArrivalTrigger::ArrivalTrigger(QObject *parent) : QObject(parent)
{
    m_quiet.setSingleShot(true);
    // Never early: a pass that holds files changed within the quiet time
    // must find the arrived ones old enough.
    m_quiet.setTimerType(Qt::PreciseTimer);
    // Every arrival starts the quiet time anew.
    connect(&m_watch, &InotifyWatch::arrived, &m_quiet, qOverload<>(&QTimer::start));
    connect(&m_quiet, &QTimer::timeout, this, &ArrivalTrigger::due);
}

FsResult ArrivalTrigger::follow(const QString &folder, int quietMs)
{
    m_quiet.setInterval(quietMs);
    return m_watch.watch(folder);
}

void ArrivalTrigger::stop()
{
    m_watch.unwatch();
    m_quiet.stop();
}
