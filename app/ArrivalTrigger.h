#pragma once

#include "platform/InotifyWatch.h"

#include <QObject>
#include <QTimer>

// Runs a pass when files arrive in the source folder: after an arrival it
// waits until the folder has been quiet for the quiet time, so a burst of
// files, or a file copied in several steps, gives one pass and not one per
// file.
class ArrivalTrigger : public QObject
{
    Q_OBJECT

public:
    explicit ArrivalTrigger(QObject *parent = nullptr);

    // Watches folder with the given quiet time; keeps a working watch, sets
    // up one that was lost with its folder.
    FsResult follow(const QString &folder, int quietMs);
    // No watch, and an arrival that waits for quiet is forgotten.
    void stop();
    bool watching() const { return m_watch.watching(); }
    bool waitingForQuiet() const { return m_quiet.isActive(); }

signals:
    // Files arrived and the folder has been quiet since for the quiet time.
    void due();

private:
    InotifyWatch m_watch;
    QTimer m_quiet;
};
