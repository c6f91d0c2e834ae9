#include "platform/ShutdownSignals.h"

#include <QPointer>
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::array<int, 3> Watched = {SIGTERM, SIGINT, SIGHUP};

volatile sig_atomic_t writeEnd = -1;
int readEnd = -1;
struct sigaction previous[Watched.size()];

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds enough wake-ups; the byte may be dropped.
    [[maybe_unused]] const ssize_t n = ::write(writeEnd, &byte, 1);
    errno = savedErrno;
}

} // namespace

ShutdownSignals::ShutdownSignals(QObject *parent) : QObject(parent)
{
    if (readEnd >= 0)
        return; // another instance watches already
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    readEnd = fds[0];
    writeEnd = fds[1];
    m_notifier = new QSocketNotifier(readEnd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ShutdownSignals::readPipe);

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Restarted calls: the signal may land on the thread that copies a file.
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < Watched.size(); ++i)
        ::sigaction(Watched[i], &action, &previous[i]);
    m_active = true;
}

ShutdownSignals::~ShutdownSignals()
{
    if (!m_active)
        return;
    for (size_t i = 0; i < Watched.size(); ++i)
        ::sigaction(Watched[i], &previous[i], nullptr);
    delete m_notifier;
    ::close(readEnd);
    ::close(writeEnd);
    readEnd = -1;
    writeEnd = -1;
}

void ShutdownSignals::readPipe()
{
    // A receiver may end this object (the window closes at once).
    const QPointer<ShutdownSignals> self(this);
    unsigned char bytes[16];
    ssize_t n;
    while (self && (n = ::read(readEnd, bytes, sizeof bytes)) > 0)
        for (ssize_t i = 0; i < n && self; ++i)
            emit received(bytes[i]);
}
