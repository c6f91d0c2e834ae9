#include "settings/CachedSetting.h"

#include "settings/modGlobal.h"
#include "settings/modIniHandler.h"

CachedSetting::CachedSetting(QString section, QString key, QString def)
    : m_section(std::move(section)), m_key(std::move(key)), m_default(std::move(def))
{
}

QString CachedSetting::value()
{
    const std::optional<FileStamp> stamp = FileStamp::of(modGlobal::IniFile);
    if (stamp && m_stamp && *stamp == *m_stamp)
        return m_value;
    m_value = ReadIni(m_section, m_key, m_default, 256);
    // A file changed a moment ago may change again within one tick of the
    // file system's clock without a new stamp: such a read is not kept.
    m_stamp = stamp && stamp->settled() ? stamp : std::nullopt;
    return m_value;
}
