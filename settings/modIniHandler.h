#pragma once

#include <QString>

// The only access to the settings file (modGlobal::IniFile) and, with the same
// reader, to the language file (modGlobal::LangFile).
namespace modIniHandler {

// Every caller passes 256, except for folder paths (see PathSize).
QString ReadIni(const QString &section, const QString &key, const QString &def, int size);
// A saved folder path (From, To): the bytes of a line that is not UTF-8 are
// kept, so the path names the folder they name; "" when missing.
QString ReadIniPath(const QString &section, const QString &key);
void WriteIni(const QString &section, const QString &key, const QString &value);
QString ReadLang(const QString &section, const QString &key, const QString &def, int size);

// Buffer for the saved folder paths: the longest path Linux allows, so a long
// path is never cut short.
constexpr int PathSize = 4096 + 1;

} // namespace modIniHandler

using modIniHandler::ReadIni;
using modIniHandler::ReadIniPath;
using modIniHandler::ReadLang;
using modIniHandler::WriteIni;
