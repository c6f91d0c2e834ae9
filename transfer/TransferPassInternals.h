#pragma once

// What the source files of TransferPass share; not for use elsewhere.

#include "settings/Messages.h"

#include <QString>

namespace transferpass {

inline QString joinPath(const QString &folder, const QString &name)
{
    return folder + QLatin1Char('/') + name;
}

// Texts of the optional settings' lines, looked up when a line is written.
inline QString text(const char *key, const char *english)
{
    return languageText(QLatin1String(key), QLatin1String(english));
}

constexpr int LastNumber = 999; // of "name (N).ext"

} // namespace transferpass
