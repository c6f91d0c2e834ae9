#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into the Qt signal received(), delivered
// by the event loop of the thread that created the object. The handler only
// writes one byte to a pipe (async-signal-safe); everything else happens in
// ordinary code. One instance at a time; its end restores the previous
// handling of the three signals.
class ShutdownSignals : public QObject
{
    Q_OBJECT

public:
    explicit ShutdownSignals(QObject *parent = nullptr);
    ~ShutdownSignals() override;

    // False when the pipe or the handlers could not be set up.
    bool active() const { return m_active; }

signals:
    void received(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
    bool m_active = false;
};
