#include "settings/modIniHandler.h"

#include "platform/ProfileFile.h"
#include "platform/TrustedFile.h"
#include "settings/modGlobal.h"

#include <QDir>
#include <QFileInfo>

namespace modIniHandler {

namespace {
// A file refused (see TrustedFile) reads as a missing one: the defaults.
QString usable(const QString &file)
{
    return TrustedFile::refusal(file).isEmpty() ? file : QString();
}
} // namespace

QString ReadIni(const QString &section, const QString &key, const QString &def, int size)
{
    return ProfileFile::read(usable(modGlobal::IniFile), section, key, def, size);
}

QString ReadIniPath(const QString &section, const QString &key)
{
    return ProfileFile::readPath(usable(modGlobal::IniFile), section, key, PathSize);
}

void WriteIni(const QString &section, const QString &key, const QString &value)
{
    // An installed program's settings folder appears with the first value.
    if (modGlobal::layout().mode == InstallLayout::Mode::Installed)
        QDir().mkpath(QFileInfo(modGlobal::IniFile).absolutePath());
    // Write failures are silent by design; the value is simply not stored.
    // A refused file is never rewritten either.
    if (!TrustedFile::refusal(modGlobal::IniFile).isEmpty())
        return;
    (void)ProfileFile::write(modGlobal::IniFile, section, key, value);
}

QString ReadLang(const QString &section, const QString &key, const QString &def, int size)
{
    return ProfileFile::read(usable(modGlobal::LangFile), section, key, def, size);
}

} // namespace modIniHandler
