#include "app/TrayIcon.h"

#include "app/PassNotifier.h"
#include "app/frmMain.h"
#include "dialogs/AppIcon.h"
#include "platform/CopyProgress.h"
#include "settings/modIniHandler.h"

#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {

// Texts of the tray live in a section of their own, so a language file
// without it still serves the window; English stands in for a missing one.
QString trayText(const char *key, const char *fallback)
{
    return ReadLang(QStringLiteral("Tray"), QLatin1String(key), QLatin1String(fallback), 256);
}

} // namespace

bool TrayIcon::available()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

TrayIcon::TrayIcon(frmMain &window)
    : QObject(&window), m_window(window), m_menu(new QMenu),
      m_icon(new QSystemTrayIcon(appIcon(), this)), m_progressTimer(new QTimer(this))
{
    m_menu->setObjectName(QStringLiteral("TrayMenu"));
    m_startStop = m_menu->addAction(QString());
    m_show = m_menu->addAction(QString());
    m_extraOptions = m_menu->addAction(QString());
    m_menu->addSeparator();
    m_quit = m_menu->addAction(QString());
    m_startStop->setObjectName(QStringLiteral("TrayStartStop"));
    m_show->setObjectName(QStringLiteral("TrayShow"));
    m_extraOptions->setObjectName(QStringLiteral("TrayExtraOptions"));
    m_quit->setObjectName(QStringLiteral("TrayQuit"));

    // Through the button itself: the same handler, and nothing when it is
    // disabled.
    connect(m_startStop, &QAction::triggered, &window, [this] { m_window.cmdStopStart->click(); });
    connect(m_show, &QAction::triggered, this, &TrayIcon::showWindow);
    connect(m_extraOptions, &QAction::triggered, &window, [this] {
        showWindow();
        m_window.ExtraOptions_Click();
    });
    // A close as by the close box: the same save decision, and a running pass
    // is cancelled after its file first.
    connect(m_quit, &QAction::triggered, &window, [this] { m_window.close(); });
    connect(m_menu, &QMenu::aboutToShow, this, &TrayIcon::updateMenu);

    m_icon->setContextMenu(m_menu);
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::Trigger)
            showWindow();
    });

    connect(&window, &QWidget::windowTitleChanged, this, &TrayIcon::updateToolTip);
    connect(&window, &frmMain::passEnded, this, &TrayIcon::updateToolTip);
    // The balloon only where the desktop has no notification service.
    m_notifier = new PassNotifier(
        window,
        [this](const QString &title, const QString &text, bool warning) {
            m_icon->showMessage(title, text,
                                warning ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information);
        },
        this);
    m_progressTimer->setInterval(1000);
    connect(m_progressTimer, &QTimer::timeout, this, &TrayIcon::updateToolTip);

    updateMenu();
    updateToolTip();
    if (available())
        m_icon->show();
}

TrayIcon::~TrayIcon()
{
    delete m_menu;
}

QString TrayIcon::toolTip() const
{
    return m_icon->toolTip();
}

void TrayIcon::updateToolTip()
{
    QString tip = m_window.windowTitle();
    // The window title shows no progress within a file; the tip does for a
    // big one.
    const int percent = m_window.Busy ? CopyProgress::percent() : -1;
    if (percent >= 0)
        tip += QStringLiteral(" - ") + QString::number(percent) + QLatin1Char('%');
    m_icon->setToolTip(tip);
    if (m_window.Busy && !m_progressTimer->isActive())
        m_progressTimer->start();
    else if (!m_window.Busy)
        m_progressTimer->stop();
}

void TrayIcon::updateMenu()
{
    m_startStop->setText(m_window.cmdStopStart->text());
    m_startStop->setEnabled(m_window.cmdStopStart->isEnabled());
    m_show->setText(trayText("Show", "&Show window"));
    m_extraOptions->setText(m_window.actExtraOptions->text());
    m_quit->setText(m_window.Msg[msgQuit]);
}

void TrayIcon::showWindow()
{
    m_window.showNormal();
    m_window.raise();
    m_window.activateWindow();
}

QString TrayIcon::lastNotification() const
{
    return m_notifier->lastNotification();
}
