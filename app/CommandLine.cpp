#include "app/CommandLine.h"

#include "app/OnceRun.h"
#include "app/SingleInstance.h"
#include "app/frmMain.h"
#include "platform/StandardOutput.h"
#include "settings/modGlobal.h"

#include <QApplication>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace CommandLine {

namespace {

// QApplication's own options, taken from the command line before the window
// sees it; the first group is followed by a value.
const QStringList QtOptionsWithValue = {
    QStringLiteral("-platform"),        QStringLiteral("-platformpluginpath"),
    QStringLiteral("-platformtheme"),   QStringLiteral("-plugin"),
    QStringLiteral("-qwindowgeometry"), QStringLiteral("-qwindowtitle"),
    QStringLiteral("-qwindowicon"),     QStringLiteral("-style"),
    QStringLiteral("-stylesheet"),      QStringLiteral("-session"),
    QStringLiteral("-display"),         QStringLiteral("-geometry"),
    QStringLiteral("-title"),           QStringLiteral("-name"),
    QStringLiteral("-visual")};
const QStringList QtSwitches = {QStringLiteral("-reverse"), QStringLiteral("-widgetcount"),
                                QStringLiteral("-nograb"), QStringLiteral("-dograb"),
                                QStringLiteral("-sync")};

bool isQtOption(const QString &argument)
{
    const QString name = argument.section(QLatin1Char('='), 0, 0);
    return QtSwitches.contains(argument) || QtOptionsWithValue.contains(name) ||
           argument.startsWith(QLatin1String("-qmljsdebugger="));
}

void print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, bytes.size(), stream);
}

// What goes to standard output must arrive: a failed write makes the
// status at least 1.
int withOutput(const std::function<int(StandardOutput &)> &run)
{
    StandardOutput out;
    const int status = run(out);
    return out.close() ? status : std::max(status, int(OnceRun::SomeFailed));
}

} // namespace

QString usage()
{
    return QStringLiteral("Usage: pallwick [/s | --once | --help | --version]\n");
}

QString help()
{
    return usage() +
           QStringLiteral(
               "Moves or copies the files of one folder into another, again and again.\n"
               "\n"
               "  (nothing)   open the window with the saved job\n"
               "  /s          open the window and start the saved job\n"
               "  --once      run one pass of the saved job without a window and exit;\n"
               "              each log line goes to standard output. Exit status:\n"
               "              0 every file transferred or kept (or none there),\n"
               "              1 a file failed or was refused for lack of space, or\n"
               "                the pass was cancelled (Ctrl+C, SIGTERM), or standard\n"
               "                output could not be written,\n"
               "              2 the job cannot run (no settings file, a folder "
               "missing)\n"
               "              3 another pass of this folder is running\n"
               "  --once --dry-run\n"
               "              say what one pass would do, each line behind \"[dry run] \",\n"
               "              and change nothing; exit status 0, or 2 or 3 as above\n"
               "  --help      show this help and exit\n"
               "  --version   show the version and exit\n"
               "\n"
               "Quiet time, name patterns, names already taken, the trash for replaced\n"
               "files and the activity log file are set in the window's Extra options\n"
               "dialog (its context menu, the tray menu, or Ctrl+,).\n"
               "The job and the options are read from %1.\n")
               .arg(modGlobal::decideLayout().settingsFile);
}

std::optional<int> runWithoutWindow(int &argc, char **argv)
{
    QStringList own;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (isQtOption(argument)) {
            if (QtOptionsWithValue.contains(argument))
                ++i;
            continue;
        }
        own << argument;
    }
    bool options = false;
    for (const QString &argument : own)
        options = options || (argument.startsWith(QLatin1Char('-')) && argument.size() > 1);
    if (!options)
        return std::nullopt; // "/s", nothing, or a text the window ignores

    if (own == QStringList{QStringLiteral("--help")} || own == QStringList{QStringLiteral("-h")}) {
        QCoreApplication app(argc, argv); // where the program is decides the settings file
        return withOutput([](StandardOutput &out) {
            out.write(help().toLocal8Bit());
            return 0;
        });
    }
    if (own == QStringList{QStringLiteral("--version")}) {
        return withOutput([](StandardOutput &out) {
            out.write(QByteArrayLiteral("pallwick " PALLWICK_VERSION "\n"));
            return 0;
        });
    }
    if (own == QStringList{QStringLiteral("--once")}) {
        QCoreApplication app(argc, argv);
        return withOutput([](StandardOutput &out) {
            OnceRun::Environment environment;
            environment.out = [&out](const QByteArray &bytes) { out.write(bytes); };
            return OnceRun::run(environment);
        });
    }
    const QString once = QStringLiteral("--once"), dryRun = QStringLiteral("--dry-run");
    if (own == QStringList{once, dryRun} || own == QStringList{dryRun, once}) {
        QCoreApplication app(argc, argv);
        return withOutput([](StandardOutput &out) {
            OnceRun::Environment environment;
            environment.out = [&out](const QByteArray &bytes) { out.write(bytes); };
            environment.dryRun = true;
            return OnceRun::run(environment);
        });
    }
    const QStringList known = {QStringLiteral("--once"), QStringLiteral("--help"),
                               QStringLiteral("-h"), QStringLiteral("--version"), dryRun};
    QString complaint = own.contains(dryRun) && !own.contains(once)
                            ? QStringLiteral("pallwick: --dry-run goes with --once\n")
                            : QStringLiteral("pallwick: an option stands alone\n");
    for (const QString &argument : own) {
        if (argument.startsWith(QLatin1Char('-')) && argument.size() > 1 &&
            !known.contains(argument)) {
            complaint = QStringLiteral("pallwick: unknown option '%1'\n").arg(argument);
            break;
        }
    }
    print(stderr, complaint + usage());
    return 2;
}

int runWindow(QApplication &app)
{
    // Before the window is made: a second start must not carry out its "/s".
    SingleInstance instance(modGlobal::decideLayout().settingsFile);
    if (instance.role() == SingleInstance::Role::HandedOver)
        return 0;
    if (instance.role() == SingleInstance::Role::NoAnswer) {
        print(stderr,
              QStringLiteral("pallwick: the window of this settings file does not answer\n"));
        return 1;
    }
    frmMain::Environment environment;
    environment.closeOnRequests = true;
    frmMain window(QCoreApplication::arguments().mid(1), environment);
    window.show();
    instance.setFrontHandler([&window] { window.bringToFront(); });
    return app.exec();
}

} // namespace CommandLine
