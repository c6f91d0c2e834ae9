#pragma once

#include <QString>

// The job as the main window's load restores it from the settings file
// (modGlobal::IniFile), for a pass without the window.
struct SavedJob
{
    QString source;      // From
    QString destination; // To
    // Action: "Copy" or "Move"; any other text leaves the window's initial
    // choice, which is Move.
    bool move = true;
    bool overwrite = false; // Overwrite: exactly "1"

    static SavedJob read();
};
