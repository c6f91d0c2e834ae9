#include "settings/modIniHandler.h"

#include "platform/ProfileFile.h"
#include "settings/modGlobal.h"

#include <QDir>
#include <QFileInfo>

namespace modIniHandler {

QString ReadIni(const QString &section, const QString &key, const QString &def, int size)
{
    return ProfileFile::read(modGlobal::IniFile, section, key, def, size);
}

void WriteIni(const QString &section, const QString &key, const QString &value)
{
    // An installed program's settings folder appears with the first value.
    if (modGlobal::layout().mode == InstallLayout::Mode::Installed)
        QDir().mkpath(QFileInfo(modGlobal::IniFile).absolutePath());
    // Write failures are silent by design; the value is simply not stored.
    (void)ProfileFile::write(modGlobal::IniFile, section, key, value);
}

QString ReadLang(const QString &section, const QString &key, const QString &def, int size)
{
    return ProfileFile::read(modGlobal::LangFile, section, key, def, size);
}

} // namespace modIniHandler
