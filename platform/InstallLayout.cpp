#include "platform/InstallLayout.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString SettingsName = QStringLiteral("Pallwick.ini");

// The XDG rule: a relative or empty value counts as unset.
QString xdgFolder(const QString &value, const QString &home, const QString &fallback)
{
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::cleanPath(home + QLatin1Char('/') + fallback);
}

bool isFolder(const QString &path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool entryExists(const QString &path)
{
    // A dangling link is an entry too: the user put it there on purpose.
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

} // namespace

InstallLayout::Environment InstallLayout::Environment::fromSystem()
{
    Environment environment;
    environment.xdgConfigHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    environment.xdgDataHome = qEnvironmentVariable("XDG_DATA_HOME");
    environment.home = QDir::homePath();
    environment.writable = [](const QString &folder) {
        return ::access(QFile::encodeName(folder).constData(), W_OK) == 0;
    };
    return environment;
}

QString InstallLayout::installedLanguageFolder(const QString &programFolder)
{
    return QDir::cleanPath(programFolder + QStringLiteral("/../share/pallwick/lang"));
}

InstallLayout InstallLayout::decide(const QString &programFolder, const Environment &environment)
{
    const QString besideLang = programFolder + QStringLiteral("/lang");
    const QString packageLang = installedLanguageFolder(programFolder);

    bool portable = true;
    if (!entryExists(programFolder + QLatin1Char('/') + SettingsName)) {
        if (!environment.writable(programFolder))
            portable = false;
        // A writable folder counts as portable, except where it is plainly the
        // package's layout (run by root, or unpacked into a prefix the user
        // owns): there nothing beside the program would give it its texts.
        else if (!isFolder(besideLang) && isFolder(packageLang))
            portable = false;
    }

    InstallLayout layout;
    if (portable) {
        layout.mode = Mode::Portable;
        layout.settingsFile = programFolder + QLatin1Char('/') + SettingsName;
        layout.languageFolders = {besideLang};
        return layout;
    }
    layout.mode = Mode::Installed;
    layout.settingsFile =
        xdgFolder(environment.xdgConfigHome, environment.home, QStringLiteral(".config")) +
        QStringLiteral("/pallwick/") + SettingsName;
    // A self-contained folder the user may not write to keeps its own
    // language files beside the program.
    const bool ownLang = isFolder(besideLang) && !isFolder(packageLang);
    layout.languageFolders = {
        xdgFolder(environment.xdgDataHome, environment.home, QStringLiteral(".local/share")) +
            QStringLiteral("/pallwick/lang"),
        ownLang ? besideLang : packageLang};
    return layout;
}

QString InstallLayout::languageFile(const QString &name) const
{
    // A language is a file name in one of the folders, never a way out of them.
    if (name.contains(u'/') || name.contains(QStringLiteral("..")))
        return {};
    const QString fileName = name + QStringLiteral(".dat");
    for (const QString &folder : languageFolders) {
        const QString path = folder + QLatin1Char('/') + fileName;
        if (entryExists(path))
            return path;
    }
    return languageFolders.value(languageFolders.size() - 1) + QLatin1Char('/') + fileName;
}
