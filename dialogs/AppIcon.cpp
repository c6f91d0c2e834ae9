#include "dialogs/AppIcon.h"

#include "settings/modGlobal.h"

#include <QFileInfo>

// Q_INIT_RESOURCE must be used outside any namespace.
static void registerResources()
{
    Q_INIT_RESOURCE(pallwick);
}

void ensurePallwickResources()
{
    // A static library's resources are only linked in and registered when
    // referenced; once is enough.
    static const bool registered = (registerResources(), true);
    (void)registered;
}

QIcon appIcon()
{
    ensurePallwickResources();
    return QIcon(QStringLiteral(":/pallwick/pallwick.png"));
}

QPixmap aboutBanner()
{
    ensurePallwickResources();
    return QPixmap(QStringLiteral(":/pallwick/banner.png"));
}

QString desktopIconName()
{
    const QString beside = modGlobal::programFolder() + QStringLiteral("/pallwick.png");
    if (modGlobal::layout().mode == InstallLayout::Mode::Portable && QFileInfo(beside).isFile())
        return beside;
    return QStringLiteral("pallwick");
}
