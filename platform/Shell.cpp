#include "platform/Shell.h"

#include <QDesktopServices>

namespace {
// Set by tests only; empty means the real thing.
Shell::Opener currentOpener;
} // namespace

namespace Shell {

bool open(const QUrl &url)
{
    if (currentOpener)
        return currentOpener(url);
    return QDesktopServices::openUrl(url);
}

void setOpener(Opener opener)
{
    currentOpener = std::move(opener);
}

} // namespace Shell
