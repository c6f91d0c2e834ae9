#include "app/PassNotifier.h"

#include "app/frmMain.h"
#include "dialogs/AppIcon.h"
#include "settings/modIniHandler.h"

PassNotifier::PassNotifier(frmMain &window, Balloon balloon, QObject *parent)
    : QObject(parent), m_window(window), m_balloon(std::move(balloon))
{
    connect(&window, &frmMain::passEnded, this, &PassNotifier::passEnded);
}

void PassNotifier::passEnded(int filesAffected, bool listingFailed, int filesTransferred)
{
    const MessageTable &msg = m_window.Msg;
    QString title;
    QString text;
    const bool warning = filesAffected > 0 || listingFailed;
    if (listingFailed) {
        title = appTitle(msg[msgError]);
        text = msg[msgError] + QStringLiteral(": ") + m_window.sourceFolder();
    } else if (filesAffected > 0) {
        title = appTitle(msg[msgError]);
        text = ReadLang(QStringLiteral("Tray"), QStringLiteral("Affected"),
                        QStringLiteral("Files with an error or refused for lack of space:"), 256) +
               QLatin1Char(' ') + QString::number(filesAffected);
    } else if (filesTransferred > 0 &&
               ReadIni(QStringLiteral("Options"), QStringLiteral("NotifyEveryPass"),
                       QStringLiteral("0"), 256) == QLatin1String("1")) {
        title = QStringLiteral("Pallwick Lite");
        text = ReadLang(QStringLiteral("frmMain"), QStringLiteral("t94"),
                        QStringLiteral("Files moved or copied:"), 256) +
               QLatin1Char(' ') + QString::number(filesTransferred);
    } else {
        return;
    }
    m_last = title + QLatin1Char('\n') + text;
    Balloon balloon = m_balloon;
    m_desktop.notify(title, text, desktopIconName(), [balloon, title, text, warning] {
        if (balloon)
            balloon(title, text, warning);
    });
}
