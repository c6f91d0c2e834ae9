#include "settings/modFolder.h"

#include "settings/FolderChooser.h"

namespace {
// Set by tests only; empty means the real thing.
modFolder::BrowseHook currentHook;
} // namespace

namespace modFolder {

QString BrowseFolder(QString title, const QString &startPath, QWidget *ownerWindow, bool statusText,
                     const QString &root, bool newStyle, bool includeFiles)
{
    // A lone "$" is the status line's marker, never a title to show.
    if (title == QLatin1String("$") && statusText)
        title.clear();
    if (currentHook)
        return currentHook(title, startPath);
    FolderChooser chooser(title, startPath, ownerWindow, statusText, root, newStyle, includeFiles);
    chooser.exec();
    return chooser.chosenPath();
}

void setBrowseHook(BrowseHook hook)
{
    currentHook = std::move(hook);
}

} // namespace modFolder
