#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class Clock;
class FileSystem;

// pallwick --once: one pass of the saved job without a window, for cron and
// timers. Needs a QCoreApplication (for its event loop), never a display.
namespace OnceRun {

enum ExitStatus : int
{
    AllDone = 0,    // every file transferred or kept, or no files
    SomeFailed = 1, // an error line, a file refused for space, or cancelled
    CannotRun = 2,  // no settings file or a folder missing
    FolderBusy = 3  // another pass of the source folder is running
};

// What tests substitute. Unset members take the real thing.
struct Environment
{
    QString programFolder;
    FileSystem *fs = nullptr;
    const Clock *clock = nullptr;
    std::function<void(const QByteArray &)> out; // default: standard output
    std::function<void(const QByteArray &)> err; // default: standard error
    // Says what the pass would do, each line behind "[dry run] ", and
    // changes nothing: no transfer, no cleanup, no activity log file.
    bool dryRun = false;
};

// Every final log line goes to out as it comes, in the window's words and
// stamp; with LogFile=1 also to the activity log file. SIGINT, SIGTERM and
// SIGHUP cancel after the file in progress. The settings file is only read.
// A dry run answers AllDone whenever it could run.
int run(const Environment &environment = {});

} // namespace OnceRun
