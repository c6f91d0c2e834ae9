#include "platform/UserStore.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace {
QString &storeFolder()
{
    static QString folder;
    return folder;
}

QString storeFile(const QString &appName)
{
    return UserStore::location() + QLatin1Char('/') + appName + QStringLiteral(".ini");
}
} // namespace

namespace UserStore {

QString read(const QString &appName, const QString &section, const QString &key, const QString &def)
{
    QSettings store(storeFile(appName), QSettings::IniFormat);
    return store.value(section + QLatin1Char('/') + key, def).toString();
}

void save(const QString &appName, const QString &section, const QString &key, const QString &value)
{
    QSettings store(storeFile(appName), QSettings::IniFormat);
    store.setValue(section + QLatin1Char('/') + key, value);
    store.sync();
}

void setLocation(const QString &folder)
{
    storeFolder() = folder;
}

QString location()
{
    if (!storeFolder().isEmpty())
        return storeFolder();
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

QString appName()
{
    const QString path = QCoreApplication::applicationFilePath();
    const QString name = QFileInfo(path).completeBaseName();
    return name.isEmpty() ? QStringLiteral("pallwick") : name;
}

} // namespace UserStore
