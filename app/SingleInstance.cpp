#include "app/SingleInstance.h"

#include "platform/FileNames.h"
#include "platform/FolderLock.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray FrontRequest = "front\n";
const QByteArray FrontDone = "ok\n";
// A window that is starting or busy answers within this time.
constexpr int AnswerMs = 10000;

// The settings file's path with every link and ".." resolved, also when the
// file or its folder does not exist yet.
QString canonicalPath(const QString &file)
{
    const QFileInfo info(file);
    if (const QString path = info.canonicalFilePath(); !path.isEmpty())
        return path;
    if (const QString folder = info.absoluteDir().canonicalPath(); !folder.isEmpty())
        return folder + QLatin1Char('/') + info.fileName();
    return QDir::cleanPath(info.absoluteFilePath());
}

} // namespace

QString SingleInstance::defaultRuntimeFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return runtime.isEmpty() ? QDir::tempPath() : runtime;
}

QString SingleInstance::socketPath(const QString &settingsFile, const QString &runtimeFolder)
{
    const QByteArray hash = QCryptographicHash::hash(FileNames::encode(canonicalPath(settingsFile)),
                                                     QCryptographicHash::Sha256)
                                .toHex()
                                .left(32);
    // The user's number keeps users apart in a shared temporary folder.
    return runtimeFolder + QStringLiteral("/pallwick-%1-%2").arg(::getuid()).arg(hash);
}

SingleInstance::SingleInstance(const QString &settingsFile, const QString &runtimeFolder)
    : m_socketPath(socketPath(settingsFile, runtimeFolder)),
      m_lockPath(m_socketPath + QStringLiteral(".lock"))
{
    // The window that holds the lock may still be on its way to listening,
    // or closing: ask again until one of the two has happened.
    const QDeadlineTimer deadline(AnswerMs);
    for (;;) {
        const Lock lock = takeLock();
        if (lock != Lock::Held) {
            // Without a lock a start that finds a window still defers to it.
            if (lock == Lock::Refused && askToFront()) {
                m_role = Role::HandedOver;
                return;
            }
            listen();
            return;
        }
        if (askToFront()) {
            m_role = Role::HandedOver;
            return;
        }
        if (deadline.hasExpired()) {
            m_role = Role::NoAnswer;
            return;
        }
        QThread::msleep(50);
    }
}

SingleInstance::~SingleInstance()
{
    delete m_server; // removes the socket
    if (m_lockFd >= 0) {
        // Removed while still locked: a start that opened it meanwhile finds
        // it gone once it has the lock, and opens the name anew.
        ::unlink(FileNames::encode(m_lockPath).constData());
        ::close(m_lockFd);
    }
}

SingleInstance::Lock SingleInstance::takeLock()
{
    const QByteArray path = FileNames::encode(m_lockPath);
    for (;;) {
        const FsValue<int> locked = openExclusivelyLocked(
            path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
        if (!locked.ok())
            return locked.error == EWOULDBLOCK ? Lock::Held : Lock::Refused;
        const int fd = locked.value;
        // The lock counts only for the file that still has the name.
        struct stat opened, named;
        if (::fstat(fd, &opened) == 0 && ::lstat(path.constData(), &named) == 0 &&
            opened.st_dev == named.st_dev && opened.st_ino == named.st_ino) {
            m_lockFd = fd;
            return Lock::Taken;
        }
        ::close(fd);
    }
}

bool SingleInstance::askToFront()
{
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(1000))
        return false;
    socket.write(FrontRequest);
    QByteArray answer;
    const QDeadlineTimer deadline(AnswerMs);
    while (!answer.endsWith('\n') && socket.waitForReadyRead(int(deadline.remainingTime())))
        answer += socket.readAll();
    return answer == FrontDone;
}

void SingleInstance::listen()
{
    m_server = new QLocalServer;
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket left by a killed window: nobody listens there while we hold
    // the lock.
    if (m_lockFd >= 0)
        QLocalServer::removeServer(m_socketPath);
    if (!m_server->listen(m_socketPath))
        return; // the window still opens; later starts open their own
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::serve);
}

void SingleInstance::serve()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine())
                return;
            if (socket->readLine() == FrontRequest) {
                front();
                socket->write(FrontDone);
            }
            socket->disconnectFromServer();
        });
    }
}

void SingleInstance::front()
{
    if (m_frontHandler)
        m_frontHandler();
    else
        m_frontPending = true;
}

void SingleInstance::setFrontHandler(std::function<void()> handler)
{
    m_frontHandler = std::move(handler);
    if (std::exchange(m_frontPending, false) && m_frontHandler)
        m_frontHandler();
}
