#pragma once

#include <QString>

#include <optional>

class QApplication;

// The program's command line. Without arguments, or with "/s" (or any other
// text that is no option), the window opens as it always has; options that
// start with "-" are the command-line face: --once, --help, --version.
namespace CommandLine {

// Runs what needs no window and returns its exit status; nothing when the
// window is to open. Qt's own window options (-platform, -style, ...) are
// left for QApplication.
std::optional<int> runWithoutWindow(int &argc, char **argv);

// Opens the main window with the arguments QApplication left, closes it on
// SIGTERM, SIGINT, SIGHUP and at logout, and runs until it is gone.
int runWindow(QApplication &app);

QString usage();
QString help();

} // namespace CommandLine
