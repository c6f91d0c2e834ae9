#include "platform/StandardOutput.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
bool outputClosedAtStart = false;
}

void StandardOutput::openClosedOnDevNull()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        if (fd == STDOUT_FILENO)
            outputClosedAtStart = true;
        // open() takes the lowest free number, which is fd.
        const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened != fd && opened >= 0)
            ::close(opened);
    }
}

StandardOutput::StandardOutput(FILE *out, FILE *err) : m_out(out), m_err(err)
{
    if (out == stdout && outputClosedAtStart)
        fail(EBADF);
}

void StandardOutput::write(const QByteArray &bytes)
{
    if (m_closed)
        return;
    // A reader sees each line when it is final.
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_out) != size_t(bytes.size()) ||
        std::fflush(m_out) != 0) {
        fail(errno);
        std::clearerr(m_out);
    }
}

bool StandardOutput::close()
{
    if (!m_closed) {
        m_closed = true;
        errno = 0;
        const bool flushed = std::fflush(m_out) == 0 && !std::ferror(m_out);
        const int flushError = errno;
        if (!flushed)
            fail(flushError);
        if (std::fclose(m_out) != 0)
            fail(errno);
    }
    return !m_failed;
}

void StandardOutput::fail(int error)
{
    if (m_failed)
        return;
    m_failed = true;
    std::fprintf(m_err, "pallwick: write error: %s\n",
                 error ? std::strerror(error) : "unknown error");
    std::fflush(m_err);
}
