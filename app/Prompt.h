#pragma once

#include <QString>

#include <functional>

class QWidget;

// The program's one message box: a Yes/No question without icon.
namespace Prompt {

bool askYesNo(QWidget *parent, const QString &title, const QString &text);

// Tests answer the question; the hook gets title and text. Empty: real box.
using Hook = std::function<bool(const QString &title, const QString &text)>;
void setHook(Hook hook);

} // namespace Prompt
