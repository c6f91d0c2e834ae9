#include "platform/InotifyWatch.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

InotifyWatch::InotifyWatch(QObject *parent) : QObject(parent) {}

InotifyWatch::~InotifyWatch()
{
    delete m_notifier;
    if (m_fd >= 0)
        ::close(m_fd);
}

bool InotifyWatch::sameFolder(const QString &folder) const
{
    struct stat st;
    return m_wd >= 0 && folder == m_folder &&
           ::stat(QFile::encodeName(folder).constData(), &st) == 0 && st.st_dev == m_device &&
           st.st_ino == m_inode;
}

FsResult InotifyWatch::watch(const QString &folder)
{
    if (sameFolder(folder))
        return FsResult::success();
    unwatch();
    if (m_fd < 0) {
        m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_fd < 0)
            return FsResult::fromErrno(errno);
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read);
        connect(m_notifier, &QSocketNotifier::activated, this, &InotifyWatch::readEvents);
    }
    const QByteArray path = QFile::encodeName(folder);
    struct stat st;
    if (::stat(path.constData(), &st) != 0)
        return FsResult::fromErrno(errno);
    const int wd =
        ::inotify_add_watch(m_fd, path.constData(), IN_CLOSE_WRITE | IN_MOVED_TO | IN_ONLYDIR);
    if (wd < 0)
        return FsResult::fromErrno(errno);
    m_wd = wd;
    m_folder = folder;
    m_device = st.st_dev;
    m_inode = st.st_ino;
    return FsResult::success();
}

void InotifyWatch::unwatch()
{
    if (m_wd >= 0)
        ::inotify_rm_watch(m_fd, m_wd);
    m_wd = -1;
    m_folder.clear();
}

void InotifyWatch::readEvents()
{
    alignas(struct inotify_event) char buffer[16384];
    bool arrival = false;
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            break;
        }
        for (ssize_t at = 0; at < n;) {
            struct inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            at += static_cast<ssize_t>(sizeof event) + event.len;
            if (event.mask & IN_Q_OVERFLOW) {
                arrival = true;
            } else if (event.wd == m_wd && m_wd >= 0) {
                // Gone with its folder (removed, or its file system unmounted):
                // the next watch() sets it up again.
                if (event.mask & IN_IGNORED)
                    m_wd = -1;
                else if ((event.mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) && !(event.mask & IN_ISDIR))
                    arrival = true;
            }
        }
    }
    if (arrival)
        emit arrived();
}
