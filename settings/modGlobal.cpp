#include "settings/modGlobal.h"

#include <QCoreApplication>

namespace modGlobal {

QString IniFile;
QString LangFile;
QString LanguageName;
FileSystem *Fso = nullptr;

namespace {
QString &folderOverride()
{
    static QString folder;
    return folder;
}
} // namespace

QString programFolder()
{
    if (!folderOverride().isEmpty())
        return folderOverride();
    return QCoreApplication::applicationDirPath();
}

void setProgramFolder(const QString &folder)
{
    folderOverride() = folder;
}

QString languageFilePath(const QString &languageName)
{
    return programFolder() + QStringLiteral("/lang/") + languageName + QStringLiteral(".dat");
}

} // namespace modGlobal
