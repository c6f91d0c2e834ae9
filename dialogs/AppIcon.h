#pragma once

#include <QIcon>
#include <QPixmap>

// The program's pictures live in resources/pallwick.qrc, compiled into the
// static core library; these accessors make sure it is registered first.
void ensurePallwickResources();

// The program icon, for every window.
QIcon appIcon();

// The About dialog's 293 x 52 banner.
QPixmap aboutBanner();
