#include "platform/PosixContentCopy.h"

#include "platform/CopyProgress.h"
#include "platform/PosixInternals.h"

#include <algorithm>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace posixfs {

namespace {

// Errors with which copy_file_range says "not for these files" (older kernels,
// sandboxes, some file systems). A real failure shows again in read/write.
bool kernelCopyUnsupported(int error)
{
    return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP ||
           error == EPERM || error == EBADF || error == ETXTBSY;
}

// Copies bytes [offset, end) of in to the same offsets of out. Starts with
// copy_file_range (no round trip through user space, reflinks where the file
// system offers them) and falls back to pread/pwrite for good once the kernel
// refuses it for this pair of files.
FsResult copyRange(int in, int out, off_t offset, off_t end, bool &kernelCopy,
                   std::vector<char> &buffer)
{
    // Small enough steps for a big file to show how far its copy has come.
    constexpr off_t maxChunk = off_t(16) << 20;
    while (offset < end) {
        const size_t chunk = size_t(std::min(end - offset, maxChunk));
        if (kernelCopy) {
            off_t inOffset = offset;
            off_t outOffset = offset;
            const ssize_t n = ::copy_file_range(in, &inOffset, out, &outOffset, chunk, 0);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                if (!kernelCopyUnsupported(errno))
                    return lastError();
                kernelCopy = false;
                continue;
            }
            if (n == 0) {
                // Some file systems copy nothing this way; read/write decides
                // whether the source really ended early.
                kernelCopy = false;
                continue;
            }
            offset += n;
            CopyProgress::advance(offset);
            continue;
        }
        // Small enough to stay in the processor's cache between the read and
        // the write, which matters more than the number of calls.
        if (buffer.empty())
            buffer.resize(128 << 10);
        const ssize_t n = ::pread(in, buffer.data(), std::min(chunk, buffer.size()), offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return lastError();
        }
        if (n == 0)
            return sourceChanged();
        for (ssize_t written = 0; written < n;) {
            const ssize_t w =
                ::pwrite(out, buffer.data() + written, size_t(n - written), offset + written);
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                return lastError();
            }
            written += w;
        }
        offset += n;
        CopyProgress::advance(offset);
    }
    return FsResult::success();
}

} // namespace

FsResult copyContent(int in, int out, const struct stat &source)
{
    const off_t size = source.st_size;
    bool kernelCopy = true;
    std::vector<char> buffer;
    // Blocks covering the whole size mean no holes: no need to look for them.
    if (off_t(source.st_blocks) * 512 >= size)
        return copyRange(in, out, 0, size, kernelCopy, buffer);
    off_t offset = 0;
    while (offset < size) {
        off_t data = ::lseek(in, offset, SEEK_DATA);
        off_t hole = size;
        if (data < 0) {
            if (errno == ENXIO) // nothing but a hole up to the end
                break;
            data = offset; // no hole support: copy everything
        } else {
            hole = ::lseek(in, data, SEEK_HOLE);
            if (hole < 0 || hole > size)
                hole = size;
        }
        if (data >= size)
            break;
        const FsResult copied = copyRange(in, out, data, hole, kernelCopy, buffer);
        if (!copied.ok())
            return copied;
        offset = hole;
    }
    if (::ftruncate(out, size) != 0)
        return lastError();
    return FsResult::success();
}

} // namespace posixfs
