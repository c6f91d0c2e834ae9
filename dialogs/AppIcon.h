#pragma once

#include <QIcon>
#include <QPixmap>

// The program's pictures live in resources/pallwick.qrc, compiled into the
// static core library; these accessors make sure it is registered first.
void ensurePallwickResources();

// The program icon, for every window.
QIcon appIcon();

// The icon as the desktop names it in notices and desktop entries: the
// theme's "pallwick" of an installed program, or the icon file beside a
// portable one.
QString desktopIconName();

// The About dialog's 293 x 52 banner.
QPixmap aboutBanner();
