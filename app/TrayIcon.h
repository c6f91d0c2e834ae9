#pragma once

#include <QObject>
#include <QString>

class frmMain;
class PassNotifier;
class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;

// The program's icon in the desktop's system tray. It only observes and
// drives the window: its tool tip is the window title (with the share done of
// a big file being copied), its menu offers Start/Stop through the window's
// button, Show window, and Quit through the window's close, and a pass that
// leaves error lines or refusals raises one notification, through the
// desktop's notification service or as the icon's balloon. Where the desktop
// has no tray, the window creates none.
class TrayIcon : public QObject
{
    Q_OBJECT

public:
    static bool available();

    explicit TrayIcon(frmMain &window);
    ~TrayIcon() override;

    QString toolTip() const;
    QMenu *menu() const { return m_menu; }
    QAction *startStopAction() const { return m_startStop; }
    QAction *showAction() const { return m_show; }
    QAction *extraOptionsAction() const { return m_extraOptions; }
    QAction *quitAction() const { return m_quit; }
    // The title and text of the latest notification, "" before the first.
    QString lastNotification() const;

    // The menu's texts and Start/Stop's state, as the window has them now;
    // done whenever the menu opens.
    void updateMenu();
    void updateToolTip();

private:
    void showWindow();

    frmMain &m_window;
    QMenu *m_menu;
    QAction *m_startStop;
    QAction *m_show;
    QAction *m_extraOptions;
    QAction *m_quit;
    QSystemTrayIcon *m_icon;
    QTimer *m_progressTimer; // refreshes the tool tip during a pass
    PassNotifier *m_notifier;
};
