#pragma once

#include "platform/Result.h"

#include <QByteArrayList>
#include <QString>

// A log file that only grows by whole lines: before a line would take the
// file past its limit, the file is renamed to path.1 (path.1 to path.2, and
// so on; the oldest beyond `kept` is dropped) and a new one is begun. Every
// call opens and closes the file, so a file moved or deleted by the user is
// simply begun again.
class RotatingFile
{
public:
    RotatingFile(QString path, qint64 limitBytes, int kept);

    // Appends the lines (each with its line end), creating the folder (mode
    // 0700) and the file (0600) as needed. The folder and the file (and the
    // older files) must be the user's own and writable by no one else, and a
    // link is never followed. A line that cannot be written in full is taken
    // back out, so the file never ends in half a line.
    FsResult append(const QByteArrayList &lines);

    const QString &path() const { return m_path; }

private:
    FsResult rotate(int folder, const QByteArray &name);

    QString m_path;
    qint64 m_limit;
    int m_kept;
};
