#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <sys/mount.h>
#include <unistd.h>

// A small tmpfs on folder while this lives, as root only: a full disk the
// test can reach quickly. mounted() says whether it could be made.
class TmpfsMount
{
public:
    TmpfsMount(const QString &folder, const char *options)
        : m_folder(QFile::encodeName(folder)),
          m_mounted(::geteuid() == 0 &&
                    ::mount("tmpfs", m_folder.constData(), "tmpfs", 0, options) == 0)
    {
    }
    ~TmpfsMount()
    {
        if (m_mounted)
            ::umount2(m_folder.constData(), MNT_DETACH);
    }
    TmpfsMount(const TmpfsMount &) = delete;
    TmpfsMount &operator=(const TmpfsMount &) = delete;

    bool mounted() const { return m_mounted; }

private:
    QByteArray m_folder;
    bool m_mounted;
};
