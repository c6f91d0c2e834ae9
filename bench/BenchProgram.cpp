// The program's side of each case: a headless pass, or the whole window.
#include "Bench.h"

#include "platform/Clock.h"
#include "platform/PosixFileSystem.h"
#include "platform/UserStore.h"
#include "settings/modGlobal.h"
#include "transfer/TransferPass.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QListWidget>

#include <thread>

namespace bench {

double runHeadlessPass(const QString &source, const QString &destination, bool move,
                       const MessageTable &texts, int count, const QString &what)
{
    BenchHost host(source, destination, move, texts);
    PosixFileSystem fs;
    TransferPass pass(host, fs, Clock::system());
    const auto start = Clock_::now();
    pass.run();
    const double seconds = since(start);
    verifyCounts(what, host.countingLog(), count);
    return seconds;
}

bool g_extraOptions = false;
const QByteArray ExtraSettings = "QuietSeconds=1\nNameTaken=1\nExclude=*.part;*.partial;"
                                 "*.crdownload;*.download;*.opdownload;*.!qB;*.!ut;*.aria2;"
                                 "*.filepart;~$*\n";

void writeSettings(const QString &program, const QString &source, const QString &destination)
{
    QFile ini(program + QStringLiteral("/Pallwick.ini"));
    if (!ini.open(QIODevice::WriteOnly))
        die(QStringLiteral("cannot write %1").arg(ini.fileName()));
    ini.write("[Options]\nLanguage=Deutsch\nFrom=" + QFile::encodeName(source) +
              "\nTo=" + QFile::encodeName(destination) + "\nAction=Copy\nShowLog=1\nOverwrite=0\n");
    if (g_extraOptions)
        ini.write(ExtraSettings);
    ini.close();
    // A settings file changed within the last 2 s is read anew for every
    // file, as its stamp cannot be trusted yet; a user's file is older.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
}

MessageTable useProgramFolder(const QString &root)
{
    const QString program = root + QStringLiteral("/program");
    UserStore::setLocation(root + QStringLiteral("/userstore"));
    modGlobal::setProgramFolder(program);
    modGlobal::IniFile = program + QStringLiteral("/Pallwick.ini");
    modGlobal::LanguageName = QStringLiteral("Deutsch");
    modGlobal::LangFile = modGlobal::languageFilePath(modGlobal::LanguageName);
    const MessageTable texts = loadMessageTable();
    if (texts[msgCopied].isEmpty() || texts[msgMoved].isEmpty() || texts[msgError].isEmpty())
        die(QStringLiteral("the German texts did not load from %1").arg(modGlobal::LangFile));
    return texts;
}

std::unique_ptr<frmMain> openWindow(const QString &programFolder)
{
    frmMain::Environment env;
    env.programFolder = programFolder;
    auto window = std::make_unique<frmMain>(QStringList(), env);
    if (!window->Check1->isChecked()) {
        window->Check1->setChecked(true);
        window->ShowLogArea();
    }
    window->show();
    QCoreApplication::processEvents();
    if (!window->List1->isVisible())
        die(QStringLiteral("the window does not show its log"));
    return window;
}

int tracedCopy(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString root = QFile::decodeName(argv[2]);
    const MessageTable texts = useProgramFolder(root);
    const QString src = root + QStringLiteral("/src");
    BenchHost host(src, root + QStringLiteral("/dst"), false, texts);
    PosixFileSystem fs;
    TransferPass pass(host, fs, Clock::system());
    pass.run();
    const CountingLog &log = host.countingLog();
    if (log.errorLines() != 0) {
        std::fprintf(stderr, "pallwick_bench: %s\n", qPrintable(log.firstError()));
        return 1;
    }
    return 0;
}

} // namespace bench
