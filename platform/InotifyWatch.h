#pragma once

#include "platform/Result.h"

#include <QObject>
#include <QString>

#include <sys/types.h>

class QSocketNotifier;

// The kernel's word that files arrived in one folder: a file written and
// closed there, or one moved in. Nothing else is asked for, so the removals
// of a move pass and a file growing while it is written stay silent, and an
// idle folder costs no wake-up at all (no polling).
class InotifyWatch : public QObject
{
    Q_OBJECT

public:
    explicit InotifyWatch(QObject *parent = nullptr);
    ~InotifyWatch() override;

    // Watches folder. Kept as it is when it already watches that folder;
    // set up anew when the folder was removed or replaced since (the kernel's
    // watch follows the old folder, or is gone).
    FsResult watch(const QString &folder);
    void unwatch();
    bool watching() const { return m_wd >= 0; }

signals:
    // Once for every read of the kernel's queue that held an arrival, or
    // that found the queue overflowed (events were lost).
    void arrived();

private:
    void readEvents();
    bool sameFolder(const QString &folder) const;

    int m_fd = -1;
    int m_wd = -1;
    QString m_folder;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    QSocketNotifier *m_notifier = nullptr;
};
