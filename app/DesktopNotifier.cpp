#include "app/DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QVariantMap>

namespace {

// A service that does not answer within this time counts as absent.
constexpr int AnswerMs = 5000;

} // namespace

DesktopNotifier::DesktopNotifier(QObject *parent) : QObject(parent) {}

void DesktopNotifier::notify(const QString &summary, const QString &body, const QString &icon,
                             std::function<void()> fallback)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (fallback)
            fallback();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // The desktop entry's name lets the daemon group our notices and apply
    // the user's settings for this program.
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral(PALLWICK_APP_ID)}};
    call << QStringLiteral("Pallwick Lite") << 0u << icon << summary << body << QStringList()
         << hints << -1;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, AnswerMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [fallback = std::move(fallback)](QDBusPendingCallWatcher *finished) {
                finished->deleteLater();
                if (finished->isError() && fallback)
                    fallback();
            });
}
