#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QThread>

#include <sys/mount.h>
#include <unistd.h>

// A FUSE file system of tests/support (a Python script) mounted on
// mountpoint over the folder backing while this lives.
class FuseMount
{
public:
    FuseMount(const char *script, const QStringList &options, const QString &backing,
              const QString &mountpoint)
        : m_mountpoint(QFile::encodeName(mountpoint))
    {
        if (::geteuid() != 0 || !QFile::exists("/dev/fuse")) {
            skipReason = "needs root and FUSE";
            return;
        }
        if (!QDir().mkpath(backing) || !QDir().mkpath(mountpoint)) {
            skipReason = "cannot make the folders to mount";
            return;
        }
        m_fs.setProcessChannelMode(QProcess::ForwardedChannels);
        m_fs.start("/usr/bin/python3",
                   QStringList{PALLWICK_SOURCE_DIR "/tests/support/" + QString(script)} + options +
                       QStringList{backing, mountpoint});
        QElapsedTimer waited;
        waited.start();
        while (!mounted()) {
            if (m_fs.state() == QProcess::NotRunning || waited.elapsed() > 10000) {
                skipReason = "the FUSE folder does not mount (python3-fusepy missing?)";
                return;
            }
            QThread::msleep(20);
        }
    }
    ~FuseMount()
    {
        ::umount2(m_mountpoint.constData(), MNT_DETACH);
        if (!m_fs.waitForFinished(5000))
            m_fs.kill();
    }
    FuseMount(const FuseMount &) = delete;
    FuseMount &operator=(const FuseMount &) = delete;

    // Why it could not be mounted here; empty once it is.
    QString skipReason;

private:
    bool mounted() const
    {
        QFile mounts("/proc/self/mounts");
        return mounts.open(QIODevice::ReadOnly) &&
               mounts.readAll().contains(" " + m_mountpoint + " ");
    }

    QByteArray m_mountpoint;
    QProcess m_fs;
};
