#pragma once

#include "platform/Result.h"

#include <QString>

// The desktop session's autostart entry that starts this program's job at
// login ("/s"). Its file name holds a short hash of the settings file's path,
// so every program folder (every job) has an entry of its own, and a line in
// it names that settings file: an entry is only ever removed by the job that
// wrote it, never one the user wrote.
class AutostartEntry
{
public:
    // folder: where the session looks for autostart entries.
    AutostartEntry(const QString &folder, const QString &settingsFile);

    // $XDG_CONFIG_HOME/autostart, or ~/.config/autostart.
    static QString defaultFolder();
    // The entry of the job in settingsFile, in the default folder.
    static AutostartEntry forJob(const QString &settingsFile);

    QString path() const { return m_path; }
    // There is an entry of this job.
    bool exists() const;
    // Writes the entry (replacing this job's own) that runs program "/s";
    // icon: an icon name of the theme or an absolute path.
    FsResult write(const QString &program, const QString &icon) const;
    // Removes this job's entry; a file under its name that it did not write
    // stays.
    FsResult remove() const;

    // Exec's program argument: quoted where the desktop entry rules ask for
    // it, then escaped as every string value is (and % doubled).
    static QString execProgram(const QString &program);

private:
    QString markerLine() const;

    QString m_folder;
    QString m_settingsFile;
    QString m_path;
};
