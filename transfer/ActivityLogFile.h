#pragma once

#include "platform/RotatingFile.h"

#include <QByteArrayList>
#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class Clock;

// The activity log's copy on disk, for those who ask for it with LogFile=1 in
// [Options]: every final line, behind an ISO 8601 stamp with its zone, goes to
// activity.log in the user's state folder. Lines are written by a thread of
// its own, so a slow or hung disk never holds up the window or a pass; a line
// that cannot be written is dropped.
class ActivityLogFile
{
public:
    static constexpr qint64 RotateBytes = 5 * 1024 * 1024;
    static constexpr int KeptFiles = 3; // activity.log.1 .. .3
    static constexpr qsizetype MaxQueuedLines = 100000;

    // LogFile is exactly "1" in [Options] of the settings file.
    static bool wanted();
    // $XDG_STATE_HOME/pallwick/activity.log, or ~/.local/state/pallwick/...
    static QString defaultPath();

    // failed: called on the writer thread with the reason when a write fails
    // after the start or after a write that worked, not again until one works.
    ActivityLogFile(const QString &path, const Clock &clock,
                    std::function<void(const QString &reason)> failed = {},
                    qint64 rotateBytes = RotateBytes);
    // Writes what is queued, then returns.
    ~ActivityLogFile();
    ActivityLogFile(const ActivityLogFile &) = delete;
    ActivityLogFile &operator=(const ActivityLogFile &) = delete;

    void write(const QString &line);
    // Returns when every line given so far has been written or dropped.
    void waitUntilWritten();

    const QString &path() const { return m_file.path(); }

private:
    void writerLoop();

    RotatingFile m_file;
    const Clock &m_clock;
    std::function<void(const QString &)> m_failed;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    QByteArrayList m_queue;
    bool m_writing = false;
    bool m_stop = false;
    bool m_failing = false; // writer thread only
    std::thread m_thread;
};
