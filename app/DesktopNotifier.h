#pragma once

#include <QObject>
#include <QString>

#include <functional>

// Speaks through the desktop's notification service
// (org.freedesktop.Notifications on the session bus), so the desktop shows,
// groups and keeps our notices as it does every program's. Never waits for
// the service: the call is sent, and where it finds no service (no session
// bus, nothing registered or startable under the name) the fallback shows the
// notice instead.
class DesktopNotifier : public QObject
{
    Q_OBJECT

public:
    explicit DesktopNotifier(QObject *parent = nullptr);

    // icon: a theme icon name or an absolute file path.
    void notify(const QString &summary, const QString &body, const QString &icon,
                std::function<void()> fallback);
};
