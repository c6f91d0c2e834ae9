#include "settings/modGlobal.h"

#include <QCoreApplication>

#include <optional>

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

std::optional<InstallLayout> &decided()
{
    static std::optional<InstallLayout> layout;
    return layout;
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
    decided().reset();
}

const InstallLayout &decideLayout()
{
    decided() = InstallLayout::decide(programFolder(), InstallLayout::Environment::fromSystem());
    return *decided();
}

const InstallLayout &layout()
{
    return decided() ? *decided() : decideLayout();
}

QString languageFilePath(const QString &languageName)
{
    return layout().languageFile(languageName);
}

} // namespace modGlobal
