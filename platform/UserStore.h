#pragma once

#include <QString>

// The per-user settings store (the background colour lives here): an INI file
// named after the application in the user's configuration folder.
namespace UserStore {

QString read(const QString &appName, const QString &section, const QString &key,
             const QString &def);
void save(const QString &appName, const QString &section, const QString &key, const QString &value);

// Folder that holds the store; tests point it at a temporary folder.
// An empty folder means the user's configuration folder.
void setLocation(const QString &folder);
QString location();

// The executable's file name without extension.
QString appName();

} // namespace UserStore
