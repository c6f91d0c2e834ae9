#include "app/Prompt.h"

#include <QMessageBox>

namespace {
// Set by tests only; empty means the real thing.
Prompt::Hook currentHook;
} // namespace

namespace Prompt {

bool askYesNo(QWidget *parent, const QString &title, const QString &text)
{
    if (currentHook)
        return currentHook(title, text);
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    return box.exec() == QMessageBox::Yes;
}

void setHook(Hook hook)
{
    currentHook = std::move(hook);
}

} // namespace Prompt
