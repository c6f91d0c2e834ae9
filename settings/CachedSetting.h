#pragma once

#include "platform/FileStamp.h"

#include <QString>

#include <optional>

// One value of the settings file for a caller that needs it again and again
// (the pass, once per file): the file is read and parsed again only when it
// changed, so a value saved meanwhile still applies to the very next use.
class CachedSetting
{
public:
    CachedSetting(QString section, QString key, QString def);

    // ReadIni(section, key, def, 256), as the file is now.
    QString value();

private:
    QString m_section;
    QString m_key;
    QString m_default;
    std::optional<FileStamp> m_stamp; // of the file the value was read from
    QString m_value;
};
