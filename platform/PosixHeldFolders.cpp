#include "platform/PosixHeldFolders.h"

#include "platform/PosixInternals.h"

#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/xattr.h>

namespace posixfs {

thread_local std::vector<HeldFolder> heldFolders;

namespace {

class PosixFolderHold : public FolderHold
{
public:
    explicit PosixFolderHold(size_t first) : m_first(first) {}
    ~PosixFolderHold() override
    {
        while (heldFolders.size() > m_first) {
            ::close(heldFolders.back().fd);
            heldFolders.pop_back();
        }
    }

private:
    size_t m_first;
};

} // namespace

HeldFolder *heldFolder(const QByteArray &folder)
{
    for (HeldFolder &held : heldFolders)
        if (held.path == folder)
            return &held;
    return nullptr;
}

namespace {

// The process's umask, read without changing it (umask() would, for a moment,
// for every thread); -1 when it cannot be read.
int currentUmask()
{
    Fd status(::open("/proc/self/status", O_RDONLY | O_CLOEXEC));
    char text[4096];
    const ssize_t length = status.valid() ? ::read(status.get(), text, sizeof text - 1) : -1;
    if (length <= 0)
        return -1;
    text[length] = '\0';
    const char *line = std::strstr(text, "\nUmask:");
    return line ? int(std::strtol(line + 7, nullptr, 8)) : -1;
}

} // namespace

int createMaskOf(const QByteArray &folder)
{
    if (::getxattr(folder.constData(), "system.posix_acl_default", nullptr, 0) >= 0 ||
        (errno != ENODATA && errno != EOPNOTSUPP))
        return -1;
    return currentUmask();
}

At at(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash >= 0 && !heldFolders.empty()) {
        const qsizetype length = slash == 0 ? 1 : slash; // as folderOf() has it
        for (const HeldFolder &held : heldFolders)
            if (held.path.size() == length &&
                std::memcmp(held.path.constData(), path.constData(), size_t(length)) == 0)
                return {held.fd, path.constData() + slash + 1};
    }
    return {AT_FDCWD, path.constData()};
}

} // namespace posixfs

using namespace posixfs;

std::unique_ptr<FolderHold> PosixFileSystem::holdFolders(const QStringList &folders)
{
    auto hold = std::make_unique<PosixFolderHold>(heldFolders.size());
    for (const QString &folder : folders) {
        const QByteArray path = encoded(folder);
        // O_PATH: a folder that may only be searched, not read, can be held.
        const int fd = ::open(path.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0)
            heldFolders.push_back({path, fd});
    }
    return hold;
}
