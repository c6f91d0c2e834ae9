#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;

// One window per settings file. The first start of the window for a settings
// file holds a lock and listens on a local socket, both named from the
// file's canonical path; a later start asks that window to come to the front
// and ends, so its "/s" is never carried out. Two starts at the same moment
// are ordered by the lock (flock), so exactly one window remains. The lock
// ends with the process; a program folder with a settings file of its own
// has a window of its own.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum class Role
    {
        First,      // this start opens the window
        HandedOver, // the running window was asked to come to the front
        NoAnswer    // a window runs but did not answer in time
    };

    // runtimeFolder: where the socket and the lock live.
    explicit SingleInstance(const QString &settingsFile,
                            const QString &runtimeFolder = defaultRuntimeFolder());
    ~SingleInstance() override;

    Role role() const { return m_role; }
    // Called for each later start; at once for one that came before.
    void setFrontHandler(std::function<void()> handler);

    // $XDG_RUNTIME_DIR, or the temporary folder where it is unset.
    static QString defaultRuntimeFolder();
    // The socket's path for settingsFile: the same for every spelling of
    // the file's path (links, "..", a file not yet made).
    static QString socketPath(const QString &settingsFile, const QString &runtimeFolder);

private:
    enum class Lock
    {
        Taken,
        Held,   // by another start
        Refused // the folder has no room for it or no flock: go on without
    };
    Lock takeLock();
    bool askToFront();
    void listen();
    void serve();
    void front();

    QString m_socketPath;
    QString m_lockPath;
    int m_lockFd = -1;
    Role m_role = Role::First;
    QLocalServer *m_server = nullptr;
    std::function<void()> m_frontHandler;
    bool m_frontPending = false;
};
