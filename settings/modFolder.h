#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace modFolder {

// Shows the modal folder chooser and returns the chosen folder's full path,
// or "" when cancelled. A title of exactly "$" with statusText on is shown
// empty. root (optional) limits the tree to that folder.
QString BrowseFolder(QString title, const QString &startPath, QWidget *ownerWindow, bool statusText,
                     const QString &root, bool newStyle, bool includeFiles);

// Tests answer the chooser instead of a user: the hook gets the title and the
// start path and returns what the chooser would. An empty hook restores it.
using BrowseHook = std::function<QString(const QString &title, const QString &startPath)>;
void setBrowseHook(BrowseHook hook);

} // namespace modFolder
