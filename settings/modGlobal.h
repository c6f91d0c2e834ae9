#pragma once

#include "platform/InstallLayout.h"

#include <QString>

class FileSystem;

// Values shared by all windows, set during the main window's load.
namespace modGlobal {

extern QString IniFile;      // the settings file (see layout())
extern QString LangFile;     // the language file in use
extern QString LanguageName; // its name, as stored in the settings
extern FileSystem *Fso;      // the one file-system service

// The folder that holds the program (no trailing separator). Defaults to the
// executable's folder; tests set their own.
QString programFolder();
void setProgramFolder(const QString &folder);

// Portable (beside the program) or installed (the user's folders): decided
// once at start-up by decideLayout(), from the program folder; a new program
// folder undoes the decision.
const InstallLayout &layout();
const InstallLayout &decideLayout();

// The language file of that name in layout(): portable, program folder +
// "/lang/" + name + ".dat".
QString languageFilePath(const QString &languageName);

} // namespace modGlobal
