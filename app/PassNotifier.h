#pragma once

#include "app/DesktopNotifier.h"

#include <QObject>
#include <QString>

#include <functional>

class frmMain;

// The notice after a pass: always after one that left error lines or files
// refused for lack of space (or could not list its source folder), and with
// NotifyEveryPass=1 also after one that moved or copied files, with their
// number. At most one notice per pass; none for a pass with nothing to do.
// The desktop's notification service shows it; balloon, where set, stands in
// where that service is absent.
class PassNotifier : public QObject
{
    Q_OBJECT

public:
    using Balloon = std::function<void(const QString &title, const QString &text, bool warning)>;
    PassNotifier(frmMain &window, Balloon balloon, QObject *parent);

    // The title and text of the latest notice, "" before the first.
    QString lastNotification() const { return m_last; }

private:
    void passEnded(int filesAffected, bool listingFailed, int filesTransferred);

    frmMain &m_window;
    Balloon m_balloon;
    DesktopNotifier m_desktop;
    QString m_last;
};
