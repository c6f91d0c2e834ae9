#pragma once

#include <QUrl>

#include <functional>

// Hands an address to the desktop (browser, mail program). Tests replace the
// opener to record what would have been opened.
namespace Shell {

using Opener = std::function<bool(const QUrl &)>;

bool open(const QUrl &url);
// An empty opener restores the desktop's.
void setOpener(Opener opener);

} // namespace Shell
