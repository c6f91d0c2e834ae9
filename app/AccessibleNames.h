#pragma once

#include <QString>

#include <optional>

class frmMain;
class QComboBox;
class QWidget;

// What a screen reader speaks for the controls. Qt takes a field's name from
// the label that is its buddy and a button's from its caption; the rest is
// named here from the same language texts.
namespace AccessibleNames {

// Makes the names below reach the screen reader: a combo box speaks its
// accessible name where one is set (Qt 6.4 gives its text instead), and a
// link label is presented as a link. Called before a window makes its
// controls; once is enough.
void install();

// A caption as spoken: without the "&" that marks its access key.
QString spoken(const QString &caption);

// Names the main window's controls that have no caption of their own: the
// "..." buttons, the interval and the log. Called again on a language change.
void nameMainWindow(frmMain &window);

// Names a combo box and the text field it holds.
void nameComboBox(QComboBox *box, const QString &name);

// A link label (About dialog), with a press action that opens it as a click
// does: the action reaches the label as the Space key. Called as soon as the
// label is made, before anything asks how to present it.
void markAsLink(QWidget *label);

// Whether an assistive technology is at work (QAccessible::isActive()), or
// what a test says.
bool assistiveTechnologyActive();
void setAssistiveTechnologyActive(std::optional<bool> active);

} // namespace AccessibleNames
