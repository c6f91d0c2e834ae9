#include "settings/modIniHandler.h"

#include "platform/ProfileFile.h"
#include "settings/modGlobal.h"

namespace modIniHandler {

QString ReadIni(const QString &section, const QString &key, const QString &def, int size)
{
    return ProfileFile::read(modGlobal::IniFile, section, key, def, size);
}

void WriteIni(const QString &section, const QString &key, const QString &value)
{
    // Write failures are silent by design; the value is simply not stored.
    (void)ProfileFile::write(modGlobal::IniFile, section, key, value);
}

QString ReadLang(const QString &section, const QString &key, const QString &def, int size)
{
    return ProfileFile::read(modGlobal::LangFile, section, key, def, size);
}

} // namespace modIniHandler
