#include "platform/Shell.h"

#include <QDesktopServices>

namespace {
Shell::Opener &currentOpener()
{
    static Shell::Opener opener;
    return opener;
}
} // namespace

namespace Shell {

bool open(const QUrl &url)
{
    if (currentOpener())
        return currentOpener()(url);
    return QDesktopServices::openUrl(url);
}

void setOpener(Opener opener)
{
    currentOpener() = std::move(opener);
}

} // namespace Shell
