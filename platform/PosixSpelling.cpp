#include "platform/PosixFileSystem.h"

#include "platform/PosixInternals.h"

namespace {

using namespace posixfs;

// The name of path's last component with letter case and Unicode
// normalisation changed, or "" when no such other spelling exists.
QByteArray otherSpelling(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    const QString name = FileNames::decode(path.mid(slash + 1));
    QString other;
    other.reserve(name.size());
    for (const QChar c : name)
        other += c.isUpper() ? c.toLower() : c.toUpper();
    const QString decomposed = other.normalized(QString::NormalizationForm_D);
    if (decomposed != other)
        other = decomposed;
    if (other == name)
        return {};
    return path.left(slash + 1) + FileNames::encode(other);
}

} // namespace

FsValue<bool> PosixFileSystem::nameExistsExactly(const QString &path) const
{
    const QByteArray bytes = encoded(path);
    struct stat st;
    if (::lstat(bytes.constData(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return FsValue<bool>::of(false);
        return FsValue<bool>::failed(lastError());
    }
    // Where another spelling does not lead to the same file, the folder tells
    // names apart and the lookup itself was exact.
    const QByteArray other = otherSpelling(bytes);
    struct stat alias;
    if (other.isEmpty() || ::lstat(other.constData(), &alias) != 0 || alias.st_dev != st.st_dev ||
        alias.st_ino != st.st_ino)
        return FsValue<bool>::of(true);

    // A folder that ignores case: only its listing knows the stored name.
    const QByteArray name = bytes.mid(bytes.lastIndexOf('/') + 1);
    const Folder dir = openFolder(folderOf(bytes));
    if (!dir)
        return FsValue<bool>::failed(lastError());
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir.get());
        if (!entry)
            return errno != 0 ? FsValue<bool>::failed(lastError()) : FsValue<bool>::of(false);
        if (name == entry->d_name)
            return FsValue<bool>::of(true);
    }
}
