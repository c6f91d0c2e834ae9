#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Where the settings file and the language files are. A self-contained
// (portable) folder keeps both beside the program. An installed program keeps
// the settings in the user's configuration folder and reads the language
// files from the user's data folder first, then from the package's folder.
struct InstallLayout
{
    enum class Mode
    {
        Portable,
        Installed
    };

    // What the decision looks at besides the program folder; tests supply
    // their own.
    struct Environment
    {
        QString xdgConfigHome;
        QString xdgDataHome;
        QString home;
        std::function<bool(const QString &)> writable; // may the user create files there?

        static Environment fromSystem();
    };

    Mode mode = Mode::Portable;
    QString settingsFile;
    // Searched in this order: on equal names the first folder wins.
    QStringList languageFolders;

    static InstallLayout decide(const QString &programFolder, const Environment &environment);

    // The language package's folder for a program in programFolder
    // (<prefix>/bin -> <prefix>/share/pallwick/lang).
    static QString installedLanguageFolder(const QString &programFolder);

    // The file of the language name: the first folder that holds it, else
    // the path in the last folder (a missing file reads as empty texts); an
    // empty path for a name with "/" or "..", a language that cannot exist.
    QString languageFile(const QString &name) const;
};
