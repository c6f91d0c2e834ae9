#include "platform/TrustedFile.h"

#include <QFile>
#include <QList>

#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace TrustedFile {

QString refusal(const QString &file)
{
    const QByteArray path = QFile::encodeName(file);
    struct stat entry = {};
    struct stat target = {};
    if (::lstat(path.constData(), &entry) != 0 || ::stat(path.constData(), &target) != 0)
        return {}; // missing, or a dangling link: read as missing
    if (S_ISLNK(entry.st_mode) && entry.st_uid != target.st_uid)
        return QStringLiteral("Link to a file of another user");
    if (::geteuid() != 0)
        return {};
    const auto unsafe = [](const struct stat &st, const char *what, bool stickyIsEnough) {
        if (st.st_uid != 0)
            return QStringLiteral("%1 belongs to another user").arg(QLatin1String(what));
        if ((st.st_mode & (S_IWGRP | S_IWOTH)) && !(stickyIsEnough && (st.st_mode & S_ISVTX)))
            return QStringLiteral("%1 is writable by others").arg(QLatin1String(what));
        return QString();
    };
    if (const QString why = unsafe(target, "File", false); !why.isEmpty())
        return why;
    // The folders of the name and, for a link, of the file it leads to:
    // whoever may write one of them may put another file in its place.
    char resolved[PATH_MAX];
    QList<QByteArray> files = {path};
    if (S_ISLNK(entry.st_mode) && ::realpath(path.constData(), resolved))
        files.append(QByteArray(resolved));
    for (const QByteArray &name : files) {
        const qsizetype slash = name.lastIndexOf('/');
        QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? "/" : name.left(slash);
        if (!::realpath(folder.constData(), resolved))
            return QStringLiteral("Folder cannot be examined");
        folder = resolved;
        for (bool first = true;; first = false) {
            struct stat st = {};
            if (::stat(folder.constData(), &st) != 0)
                return QStringLiteral("Folder cannot be examined");
            if (const QString why = unsafe(st, "Folder", !first); !why.isEmpty())
                return why;
            if (folder == "/")
                break;
            const qsizetype up = folder.lastIndexOf('/');
            folder = up <= 0 ? QByteArray("/") : folder.left(up);
        }
    }
    return {};
}

} // namespace TrustedFile
