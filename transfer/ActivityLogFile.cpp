#include "transfer/ActivityLogFile.h"

#include "platform/Clock.h"
#include "platform/RecordText.h"
#include "settings/modIniHandler.h"

#include <QDir>

bool ActivityLogFile::wanted()
{
    return ReadIni(QStringLiteral("Options"), QStringLiteral("LogFile"), QStringLiteral("0"),
                   256) == QLatin1String("1");
}

QString ActivityLogFile::defaultPath()
{
    // A relative XDG_STATE_HOME is to be ignored, as the XDG base directory rules say.
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/pallwick/activity.log");
}

ActivityLogFile::ActivityLogFile(const QString &path, const Clock &clock,
                                 std::function<void(const QString &)> failed, qint64 rotateBytes)
    : m_file(path, rotateBytes, KeptFiles), m_clock(clock), m_failed(std::move(failed)),
      m_thread([this] { writerLoop(); })
{
}

ActivityLogFile::~ActivityLogFile()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void ActivityLogFile::write(const QString &line)
{
    const QDateTime now = m_clock.now();
    const QString stamp = now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate);
    QByteArray bytes = RecordText::encode(stamp + QLatin1Char(' ') + line);
    bytes += '\n';
    {
        std::lock_guard lock(m_mutex);
        // A disk that hangs for days must not fill the memory instead.
        if (m_queue.size() >= MaxQueuedLines)
            return;
        m_queue.append(std::move(bytes));
    }
    m_wake.notify_one();
}

void ActivityLogFile::waitUntilWritten()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_queue.isEmpty() && !m_writing; });
}

void ActivityLogFile::writerLoop()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_queue.isEmpty(); });
        if (m_queue.isEmpty()) // and stopping
            return;
        const QByteArrayList lines = std::exchange(m_queue, {});
        m_writing = true;
        lock.unlock();
        const FsResult written = m_file.append(lines);
        if (!written.ok() && !m_failing && m_failed)
            m_failed(written.description);
        m_failing = !written.ok();
        lock.lock();
        m_writing = false;
        if (m_queue.isEmpty())
            m_idle.notify_all();
    }
}
