#include "app/CommandLine.h"
#include "platform/QtTranslations.h"
#include "platform/StandardOutput.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    StandardOutput::openClosedOnDevNull();
    // --once, --help and --version run without a display.
    if (const std::optional<int> status = CommandLine::runWithoutWindow(argc, argv))
        return *status;
    QApplication app(argc, argv);
    QtTranslations::install();
    return CommandLine::runWindow(app);
}
