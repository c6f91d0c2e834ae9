#include "app/OnceRun.h"

#include "platform/Clock.h"
#include "platform/DryRunFileSystem.h"
#include "platform/PosixFileSystem.h"
#include "platform/RecordText.h"
#include "platform/ShutdownSignals.h"
#include "platform/TrustedFile.h"
#include "settings/Messages.h"
#include "settings/SavedJob.h"
#include "settings/modGlobal.h"
#include "settings/modIniHandler.h"
#include "transfer/ActivityLogFile.h"
#include "transfer/HeadlessPassHost.h"
#include "transfer/TransferPass.h"

#include <QFileInfo>
#include <QScopeGuard>

#include <csignal>
#include <cstdio>
#include <memory>

namespace OnceRun {

namespace {
std::function<void(const QByteArray &)> writerTo(FILE *stream)
{
    // Unbuffered in effect: a reader sees each line when it is final.
    return [stream](const QByteArray &bytes) {
        std::fwrite(bytes.constData(), 1, bytes.size(), stream);
        std::fflush(stream);
    };
}
} // namespace

int run(const Environment &environment)
{
    const auto out = environment.out ? environment.out : writerTo(stdout);
    const auto err = environment.err ? environment.err : writerTo(stderr);
    const auto reason = [&err](const QString &text) {
        err(QByteArrayLiteral("pallwick: ") + RecordText::encode(text) + '\n');
    };

    if (!environment.programFolder.isEmpty())
        modGlobal::setProgramFolder(environment.programFolder);
    std::unique_ptr<FileSystem> ownFs;
    FileSystem *fs = environment.fs;
    if (!fs) {
        ownFs = std::make_unique<PosixFileSystem>();
        fs = ownFs.get();
    }
    const Clock &clock = environment.clock ? *environment.clock : Clock::system();

    // The window's load: settings file, language, file-system service.
    const QString options = QStringLiteral("Options");
    modGlobal::IniFile = modGlobal::decideLayout().settingsFile;
    modGlobal::LangFile = modGlobal::languageFilePath(
        ReadIni(options, QStringLiteral("Language"), QStringLiteral("Deutsch"), 256));
    modGlobal::LanguageName =
        ReadIni(options, QStringLiteral("Language"), QStringLiteral("Deutsch"), 256);
    FileSystem *previousFso = std::exchange(modGlobal::Fso, fs);
    const auto restoreFso = qScopeGuard([previousFso] { modGlobal::Fso = previousFso; });

    if (!QFileInfo(modGlobal::IniFile).isFile()) {
        reason(QStringLiteral("no settings file: %1").arg(modGlobal::IniFile));
        return CannotRun;
    }
    // Run as root, settings or texts that another user could have written are
    // not used, and the job does not run on a guess.
    for (const auto &[file, what] :
         {std::pair{modGlobal::IniFile, "settings"}, std::pair{modGlobal::LangFile, "language"}}) {
        if (const QString why = TrustedFile::refusal(file); !why.isEmpty()) {
            reason(QStringLiteral("%1 file not used (%2): %3").arg(QLatin1String(what), why, file));
            return CannotRun;
        }
    }
    const SavedJob job = SavedJob::read();
    for (const auto &[folder, what] :
         {std::pair{job.source, "source"}, std::pair{job.destination, "destination"}}) {
        if (folder.isEmpty()) {
            reason(
                QStringLiteral("no %1 folder in %2").arg(QLatin1String(what), modGlobal::IniFile));
            return CannotRun;
        }
        if (!fs->folderExists(folder)) {
            reason(QStringLiteral("%1 folder missing: %2").arg(QLatin1String(what), folder));
            return CannotRun;
        }
    }

    std::unique_ptr<DryRunFileSystem> dryRun;
    if (environment.dryRun) {
        dryRun = std::make_unique<DryRunFileSystem>(*fs);
        fs = dryRun.get();
    }
    const QByteArray prefix = environment.dryRun ? QByteArrayLiteral("[dry run] ") : QByteArray();

    HeadlessPassHost host(job.source, job.destination, job.move, job.overwrite, loadMessageTable());
    std::unique_ptr<ActivityLogFile> logFile;
    if (!environment.dryRun && ActivityLogFile::wanted()) {
        const QString path = ActivityLogFile::defaultPath();
        logFile =
            std::make_unique<ActivityLogFile>(path, clock, [reason, path](const QString &why) {
                reason(QStringLiteral("activity log file not written (%1): %2").arg(why, path));
            });
    }
    host.log().setFinalLineSink([&out, &logFile, &prefix](const QString &line) {
        out(prefix + RecordText::encode(line) + '\n');
        if (logFile)
            logFile->write(line);
    });

    // A closed standard output (pallwick --once | head) must not kill the
    // pass in the middle of a file.
    const auto previousPipe = std::signal(SIGPIPE, SIG_IGN);
    const auto restorePipe = qScopeGuard([previousPipe] { std::signal(SIGPIPE, previousPipe); });
    ShutdownSignals shutdown;
    QObject::connect(&shutdown, &ShutdownSignals::received, [&host] { host.requestCancel(); });

    TransferPass pass(host, *fs, clock);
    pass.run();
    if (pass.folderBusy()) {
        reason(QStringLiteral("another pass of this folder is running: %1").arg(job.source));
        return FolderBusy;
    }
    host.log().flushFinal();
    logFile.reset(); // every line written before the exit
    if (environment.dryRun)
        return AllDone;
    return host.problems() || host.cancelled() ? SomeFailed : AllDone;
}

} // namespace OnceRun
