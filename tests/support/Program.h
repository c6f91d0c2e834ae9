#pragma once

#include "support/TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>

// The built program run as its users run it, in a process of its own.
namespace Program {

// The built program and one language file in folder, so that it reads the
// settings file there.
inline void install(const QString &folder,
                    const QString &languageFile = PALLWICK_SOURCE_DIR "/lang/English.dat")
{
    QVERIFY(QDir().mkpath(folder + "/lang"));
    QVERIFY(QFile::copy(PALLWICK_BINARY, folder + "/pallwick"));
    writeFile(folder + "/lang/" + QFileInfo(languageFile).fileName(), fileBytes(languageFile));
}

// Started as cron would, with no X, no Wayland and no platform plugin
// chosen, then with the variables of set.
inline void start(QProcess &process, const QString &program, const QStringList &arguments,
                  const QMap<QString, QString> &set = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    for (auto it = set.cbegin(); it != set.cend(); ++it)
        env.insert(it.key(), it.value());
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    QVERIFY2(process.waitForStarted(10000), qPrintable(process.errorString()));
}

} // namespace Program
