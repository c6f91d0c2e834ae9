// The built program from the command line, without a display: the options,
// one pass with --once and its exit status, a cancel by Ctrl+C, and the
// activity log file.
#include "support/Program.h"
#include "support/TestFiles.h"
#include "support/TmpfsMount.h"

#include <QDir>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

class tst_CommandLine : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

    QString path(const QString &name) const { return m_dir->filePath(name); }
    QString ini() const { return path("prog/Pallwick.ini"); }
    QString logFile() const { return path("state/pallwick/activity.log"); }

    void writeJob(const QByteArray &extra)
    {
        writeFile(ini(), "[Options]\nLanguage=English\nFrom=" + path("src").toUtf8() +
                             "\nTo=" + path("dst").toUtf8() + "\n" + extra);
    }

    // Without a display; the window only where a platform is given.
    void start(QProcess &process, const QStringList &arguments, const char *zone = "UTC",
               const char *platform = nullptr)
    {
        QMap<QString, QString> env{{"XDG_STATE_HOME", path("state")}, {"TZ", zone}};
        if (platform)
            env.insert("QT_QPA_PLATFORM", platform);
        Program::start(process, path("prog/pallwick"), arguments, env);
    }

    struct Outcome
    {
        int status = -1;
        QStringList out; // the lines, without their window stamps
        QString err;
    };

    Outcome runOnce(const char *zone = "UTC")
    {
        QProcess process;
        start(process, {"--once"}, zone);
        if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
            return {};
        return {process.exitCode(), unstamped(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

    // "<short date> <time> - text" as in the window; a line without the
    // stamp is marked, so the comparison shows it.
    static QStringList unstamped(const QByteArray &bytes)
    {
        static const QRegularExpression stamp("^\\S+ \\S+ \\S+ \\d\\d:\\d\\d:\\d\\d - ");
        QStringList lines = QString::fromUtf8(bytes).split('\n', Qt::SkipEmptyParts);
        for (QString &line : lines) {
            const QRegularExpressionMatch m = stamp.match(line);
            line = m.hasMatch() ? line.mid(m.capturedLength()) : "no stamp: " + line;
        }
        return lines;
    }

    static QStringList entries(const QString &folder)
    {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir(m_dir->path()).mkpath("src") && QDir(m_dir->path()).mkpath("dst"));
        Program::install(path("prog"));
    }

    void cleanup() { m_dir.reset(); }

    void options_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out"); // standard output starts so
        QTest::addColumn<QString>("err"); // standard error ends so
        const QString usage = "Usage: pallwick [/s | --once | --help | --version]\n";
        QTest::newRow("help") << QStringList{"--help"} << 0 << usage << "";
        QTest::newRow("version") << QStringList{"--version"} << 0 << "pallwick 1.4\n"
                                 << "";
        QTest::newRow("unknown") << QStringList{"--onse"} << 2 << "" << usage;
        QTest::newRow("unknown after /s") << QStringList{"/s", "-x"} << 2 << "" << usage;
        QTest::newRow("two options") << QStringList{"--once", "--help"} << 2 << "" << usage;
        QTest::newRow("dry run without --once") << QStringList{"--dry-run"} << 2 << ""
                                                << "--dry-run goes with --once\n" + usage;
    }

    void options()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QProcess process;
        start(process, arguments);
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitCode(), status);
        const QString stdOut = QString::fromUtf8(process.readAllStandardOutput());
        const QString stdErr = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(out.isEmpty() ? stdOut.isEmpty() : stdOut.startsWith(out), qPrintable(stdOut));
        QVERIFY2(err.isEmpty() ? stdErr.isEmpty() : stdErr.endsWith(err), qPrintable(stdErr));
    }

    // A failed write on standard output, also one closed at start, is said
    // once on standard error and makes the status 1; the pass still does
    // all its work, and no line lands in a file it opens.
    void failedWritesOnStandardOutput_data()
    {
        QTest::addColumn<QString>("command"); // as a shell runs it
        QTest::addColumn<QString>("reason");
        const QString full = QString::fromLocal8Bit(strerror(ENOSPC)),
                      closed = QString::fromLocal8Bit(strerror(EBADF));
        QTest::newRow("--once, full disk") << "--once >/dev/full" << full;
        QTest::newRow("--once, closed") << "--once >&-" << closed;
        QTest::newRow("--help, closed") << "--help >&-" << closed;
        QTest::newRow("--version, full disk") << "--version >/dev/full" << full;
    }

    void failedWritesOnStandardOutput()
    {
        QFETCH(QString, command);
        QFETCH(QString, reason);
        writeJob("Action=Copy\n");
        for (int i = 0; i < 20; ++i)
            writeFile(path("src/f%1").arg(i), QByteArray::number(i));
        QProcess process;
        process.start("/bin/sh", {"-c", "exec \"$0\" " + command, path("prog/pallwick")});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 1);
        QCOMPARE(QString::fromLocal8Bit(process.readAllStandardError()),
                 "pallwick: write error: " + reason + "\n");
        if (command.startsWith("--once")) {
            QCOMPARE(entries(path("dst")).size(), 20);
            for (int i = 0; i < 20; ++i)
                QCOMPARE(fileBytes(path("dst/f%1").arg(i)), QByteArray::number(i));
        }
    }

    // A name with a line break and an escape sequence stays one record, on
    // standard output and in the log file alike.
    void controlCharactersInNamesAreEscaped()
    {
        writeJob("Action=Copy\nLogFile=1\n");
        writeFile(path("src/a\nb\x1b[2J"), "1");
        const Outcome o = runOnce();
        QCOMPARE(o.status, 0);
        QCOMPARE(o.out, QStringList{"Copied: a\\nb\\x1b[2J"});
        const QByteArray logged = fileBytes(logFile());
        QVERIFY2(logged.endsWith(" - Copied: a\\nb\\x1b[2J\n") && logged.count('\n') == 1,
                 logged.constData());
    }

    // --help names the settings file that this run reads, beside the
    // program or, installed, in the user's config folder.
    void helpNamesTheSettingsFile()
    {
        QProcess process;
        start(process, {"--help"});
        QVERIFY(process.waitForFinished(20000));
        QVERIFY(process.readAllStandardOutput().endsWith("read from " + QFile::encodeName(ini()) +
                                                         ".\n"));

        QVERIFY(QDir().mkpath(path("usr/bin")) && QDir().mkpath(path("usr/share/pallwick/lang")));
        QVERIFY(QFile::copy(path("prog/pallwick"), path("usr/bin/pallwick")));
        QVERIFY(QFile::copy(path("prog/lang/English.dat"),
                            path("usr/share/pallwick/lang/English.dat")));
        Program::start(process, path("usr/bin/pallwick"), {"--help"},
                       {{"XDG_CONFIG_HOME", path("config")}});
        QVERIFY(process.waitForFinished(20000));
        QVERIFY(process.readAllStandardOutput().endsWith(
            "read from " + QFile::encodeName(path("config/pallwick/Pallwick.ini")) + ".\n"));
    }

    // Without LogFile=1, so no log file and no folder for it either; the
    // settings file keeps every byte.
    void once_data()
    {
        QTest::addColumn<QByteArray>("job");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("lines"); // standard output, in any order
        QTest::addColumn<QString>("err");       // one line on standard error starts so
        QTest::addColumn<QString>("after");     // files left in src | dst
        const auto row = [](const char *name, const char *job, const char *setup, int status,
                            const QStringList &lines, const char *err, const char *after) {
            QTest::newRow(name) << QByteArray(job) << QString(setup) << status << lines
                                << QString(err) << QString(after);
        };
        const char *copy = "Action=Copy\n";
        row("copy", copy, "", 0, {"Copied: a b", "Copied: c"}, "", "a b c|a b c");
        row("move", "Action=Move\n", "", 0, {"Moved: a b", "Moved: c"}, "", "|a b c");
        row("kept", copy, "old c", 0, {"Copied: a b", "Not copied (file already exists): c"}, "",
            "a b c|a b c");
        row("nothing to do", copy, "empty", 0, {"Info: No files found in the source folder "}, "",
            "|");
        // A folder where c's copy must go: c fails, the pass goes on.
        row("a file fails", copy, "folder c", 1, {"Copied: a b", "Error: * - c"}, "", "a b c|a b");
        row("no settings file", "", "", 2, {}, "pallwick: no settings file: ", "a b c|");
        row("destination missing", copy, "no dst", 2, {},
            "pallwick: destination folder missing: ", "a b c|");
    }

    void once()
    {
        QFETCH(QByteArray, job);
        QFETCH(QString, setup);
        QFETCH(int, status);
        QFETCH(QStringList, lines);
        QFETCH(QString, err);
        QFETCH(QString, after);
        if (!job.isEmpty())
            writeJob(job);
        const QByteArray settings = fileBytes(ini());
        if (setup != "empty") {
            writeFile(path("src/a b"), "1");
            writeFile(path("src/c"), "2");
        }
        if (setup == "old c")
            writeFile(path("dst/c"), "old");
        if (setup == "folder c")
            QVERIFY(QDir(path("dst")).mkdir("c"));
        if (setup == "no dst")
            QVERIFY(QDir(path("dst")).removeRecursively());

        const Outcome o = runOnce();
        QCOMPARE(o.status, status);
        QStringList out = o.out;
        out.replaceInStrings(QRegularExpression("^Error: .* - c$"), "Error: * - c");
        out.sort();
        QCOMPARE(out, lines);
        QVERIFY2(err.isEmpty() ? o.err.isEmpty() : o.err.startsWith(err) && o.err.count('\n') == 1,
                 qPrintable(o.err));
        QCOMPARE(entries(path("src")).join(' ') + '|' + entries(path("dst")).join(' '), after);
        if (after.endsWith("a b c"))
            QCOMPARE(fileBytes(path("dst/a b")), QByteArray("1"));
        QCOMPARE(fileBytes(ini()), settings);
        QVERIFY(!QFileInfo::exists(path("state")));
    }

    // Two passes of one job at once. The first is held in the middle of its
    // pass: its output goes into a pipe of one page that nobody reads until
    // the second has ended. The second finds the folder locked, touches
    // nothing and ends with status 3; the first then treats every file once.
    void twoPassesAtOnce_data()
    {
        QTest::addColumn<bool>("move");
        QTest::addColumn<bool>("overwrite");
        QTest::addColumn<bool>("cross"); // source and destination on two tmpfs mounts
        for (const bool cross : {false, true})
            for (const bool move : {false, true})
                for (const bool overwrite : {false, true})
                    QTest::addRow("%s, %s, overwrite %s", cross ? "cross" : "same",
                                  move ? "move" : "copy", overwrite ? "on" : "off")
                        << move << overwrite << cross;
    }

    void twoPassesAtOnce()
    {
        QFETCH(bool, move);
        QFETCH(bool, overwrite);
        QFETCH(bool, cross);
        std::optional<TmpfsMount> src, dst;
        if (cross && !(src.emplace(path("src"), "size=64m").mounted() &&
                       dst.emplace(path("dst"), "size=64m").mounted()))
            QSKIP("needs root and two tmpfs mounts");
        writeJob(QByteArray("Action=") + (move ? "Move" : "Copy") +
                 "\nOverwrite=" + (overwrite ? "1" : "0") + "\n");
        const int count = 600, old = 50; // the first old ones wait in the destination
        QStringList names;
        for (int i = 0; i < count; ++i) {
            names << QString("f%1").arg(i, 3, 10, QLatin1Char('0'));
            writeFile(path("src/") + names.last(), "new " + names.last().toUtf8());
            if (i < old)
                writeFile(path("dst/") + names.last(), "old");
        }

        const QString fifo = path("first.out");
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);
        const auto closeReader = qScopeGuard([reader] { ::close(reader); });
        const int room = ::fcntl(reader, F_SETPIPE_SZ, 4096);
        QVERIFY(room > 0);
        QProcess first;
        first.setStandardOutputFile(fifo);
        start(first, {"--once"});
        // Full: the first waits to write a line, far from its last file.
        int waiting = 0;
        QTRY_VERIFY_WITH_TIMEOUT(::ioctl(reader, FIONREAD, &waiting) == 0 && waiting > room - 100,
                                 30000);

        const Outcome second = runOnce();
        QCOMPARE(second.status, 3);
        QCOMPARE(second.out, QStringList());
        QCOMPARE(second.err,
                 "pallwick: another pass of this folder is running: " + path("src") + "\n");

        QByteArray firstOut;
        QVERIFY(::fcntl(reader, F_SETFL, 0) == 0);
        char buffer[4096];
        for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;)
            firstOut.append(buffer, n);
        QVERIFY(first.waitForFinished(60000));
        QCOMPARE(first.exitCode(), 0);

        // Every file once, nothing lost, and every name holds the file it should.
        const QString done = move ? "Moved" : "Copied";
        QStringList lines, expectedSource;
        for (int i = 0; i < count; ++i) {
            const bool kept = i < old && !overwrite;
            lines << (kept      ? "Not " + done.toLower() + " (file already exists): "
                      : i < old ? done + " (overwritten): "
                                : done + ": ") +
                         names[i];
            QCOMPARE(fileBytes(path("dst/") + names[i]),
                     kept ? QByteArray("old") : "new " + names[i].toUtf8());
            if (!move || kept)
                expectedSource << names[i];
        }
        QStringList reported = unstamped(firstOut);
        reported.sort();
        lines.sort();
        QCOMPARE(reported, lines);
        QCOMPARE(entries(path("src")), expectedSource);
        QCOMPARE(entries(path("dst")), names);
    }

    // The window started as an autostart entry would: "/s" runs the saved job
    // at once and waits for the next run; SIGTERM closes it as the close box
    // does, so the job is saved.
    void startSwitchRunsTheSavedJobUntilTerminated()
    {
        writeJob("Action=Move\nDoActionOnStart=1\nSave=1\n");
        for (const char *name : {"one.txt", "two words.txt", "three"})
            writeFile(path("src/") + name, QByteArray(1000, 'x'));
        QProcess process;
        start(process, {"/s"}, "UTC", "offscreen");
        QTRY_COMPARE_WITH_TIMEOUT(entries(path("dst")).size(), 3, 20000);
        QVERIFY(entries(path("src")).isEmpty());
        QCOMPARE(fileBytes(path("dst/two words.txt")), QByteArray(1000, 'x'));
        QCOMPARE(process.state(), QProcess::Running);
        process.terminate();
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QVERIFY(fileBytes(ini()).contains("\nShowLog=0"));
    }

    // Ctrl+C after the first file: the file in progress is finished, the
    // cancel line comes last, and every file in the destination is whole.
    void interruptCancelsAfterTheFileInProgress()
    {
        // Enough files that the pass outlasts the signal on any disk.
        const int count = 2000;
        const qsizetype size = 128 << 10;
        writeJob("Action=Copy\n");
        for (int i = 0; i < count; ++i)
            writeFile(path("src/f%1").arg(i), QByteArray(size, 'x'));
        QProcess process;
        start(process, {"--once"});
        QVERIFY(process.waitForReadyRead(30000));
        QVERIFY(::kill(process.processId(), SIGINT) == 0);
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);

        const QStringList out = unstamped(process.readAllStandardOutput());
        const QStringList copied = entries(path("dst"));
        QVERIFY2(copied.size() < count, "the pass ended before the signal came");
        // The summary has no stamp, as in the window.
        QCOMPARE(out.last(), QString("no stamp: Cancelled: Copied %1 files").arg(copied.size()));
        QCOMPARE(out.size(), copied.size() + 1);
        for (const QString &name : copied)
            QCOMPARE(QFileInfo(path("dst/" + name)).size(), size);
    }

    // Every line behind an ISO 8601 stamp with its zone; a full file is
    // moved to .1, .1 to .2, .2 to .3, and the old .3 is gone.
    void logFileLinesAndRotation()
    {
        writeJob("Action=Copy\nLogFile=1\n");
        writeFile(path("src/a"), "1");
        writeFile(path("src/b"), "2");
        QVERIFY(QDir().mkpath(path("state/pallwick")));
        const QByteArray full(5 * 1024 * 1024 - 20, 'x');
        writeFile(logFile(), full);
        for (int n = 1; n <= 3; ++n)
            writeFile(logFile() + QString(".%1").arg(n), QByteArray::number(n));

        const Outcome o = runOnce("IST-5:30");
        QCOMPARE(o.status, 0);
        QCOMPARE(fileBytes(logFile() + ".1"), full);
        QCOMPARE(fileBytes(logFile() + ".2"), QByteArray("1"));
        QCOMPARE(fileBytes(logFile() + ".3"), QByteArray("2"));
        QVERIFY(!QFileInfo::exists(logFile() + ".4"));
        const QStringList lines = isoUnstamped(fileBytes(logFile()), "\\+05:30");
        QCOMPARE(unstamped(lines.join('\n').toUtf8()), o.out);
        QCOMPARE(o.out.size(), 2);
    }

    // A full disk under the log file: the pass does its work and ends with
    // status 0, one line on standard error says so, and the file never ends
    // in half a line.
    void logFileOnFullDisk()
    {
        writeJob("Action=Copy\nLogFile=1\n");
        for (int i = 0; i < 5; ++i)
            writeFile(path("src/f%1").arg(i), "x");
        QVERIFY(QDir().mkpath(path("state")));
        const TmpfsMount small(path("state"), "size=8k");
        if (!small.mounted())
            QSKIP("needs root and a working tmpfs mount");
        QVERIFY(QDir().mkpath(path("state/pallwick")));
        // Room for a few bytes only: the first line is cut short by the disk.
        const QByteArray nearlyFull(8192 - 10, 'x');
        writeFile(logFile(), nearlyFull);

        const Outcome o = runOnce();
        QCOMPARE(o.status, 0);
        QCOMPARE(o.out.size(), 5);
        QCOMPARE(entries(path("dst")).size(), 5);
        QVERIFY2(o.err.startsWith("pallwick: activity log file not written (") &&
                     o.err.count('\n') == 1,
                 qPrintable(o.err));
        QCOMPARE(fileBytes(logFile()), nearlyFull);
    }

    // Files another user could have written. Run as root, settings or texts
    // are not used: status 2, and nothing is transferred. The log folder may
    // lie where another user can reach it (sudo -E): a planted link, a folder
    // or a file of another user, or one anybody may write, gets no line, and
    // the pass runs. One line on standard error says why. Another user is
    // uid 65534, made with chown, so only as root.
    void filesOthersCouldWrite_data()
    {
        QTest::addColumn<QString>("change"); // "<file> <mode, owner or link>"
        QTest::addColumn<QString>("line");   // on standard error, after "pallwick: "
        const QString settings = "settings file not used (%1): <ini>",
                      log = "activity log file not written (%1): <log>";
        const auto row = [](const char *name, const char *change, const QString &line) {
            QTest::newRow(name) << QString(change) << line;
        };
        row("settings 0666", "ini 0666", settings.arg("File is writable by others"));
        row("settings of another user", "ini owner", settings.arg("File belongs to another user"));
        row("folder writable by group", "prog 0775", settings.arg("Folder is writable by others"));
        row("link to another user's file", "ini link",
            settings.arg("Link to a file of another user"));
        row("language file 0666", "lang 0666",
            "language file not used (File is writable by others): <lang>");
        row("log link", "log link", log.arg("Too many levels of symbolic links"));
        row("log folder of another user", "logdir owner",
            log.arg("Folder belongs to another user"));
        row("log folder writable by all", "logdir 0777", log.arg("Folder is writable by others"));
        row("log file of another user", "log owner", log.arg("File belongs to another user"));
        row("log file writable by group", "log 0660", log.arg("File is writable by others"));
        row("older log file of another user", "log.1 owner",
            log.arg("File belongs to another user"));
    }

    void filesOthersCouldWrite()
    {
        QFETCH(QString, change);
        QFETCH(QString, line);
        const bool logged = line.startsWith("activity");
        if ((!logged || change.endsWith("owner")) && ::geteuid() != 0)
            QSKIP("only root refuses files of other users");
        writeJob(logged ? "Action=Copy\nLogFile=1\n" : "Action=Copy\n");
        writeFile(path("src/a"), "1");
        QVERIFY(QDir().mkpath(path("state/pallwick")));
        const QByteArray victim = "root:x:0:0:root:/root:/bin/bash\n";
        writeFile(path("victim"), victim);
        QByteArray kept;
        if (change == "log link")
            QVERIFY(QFile::link(path("victim"), logFile()));
        else if (change.startsWith("log ") || change.startsWith("log.1"))
            writeFile(logFile(), kept = "an earlier line\n");
        if (change == "log.1 owner") { // the next line turns the file over
            writeFile(logFile(), kept = QByteArray(5 * 1024 * 1024, 'x'));
            writeFile(logFile() + ".1", "");
        }
        const QString lang = path("prog/lang/English.dat");
        const QByteArray target = QFile::encodeName(QMap<QString, QString>{
            {"ini", ini()},
            {"prog", path("prog")},
            {"lang", lang},
            {"logdir", path("state/pallwick")},
            {"log", logFile()},
            {"log.1", logFile() + ".1"}}.value(change.section(' ', 0, 0)));
        const QString op = change.section(' ', 1);
        if (change == "ini link") { // another user's private file, as settings
            QVERIFY(QFile::rename(ini(), path("private")));
            QCOMPARE(::chown(QFile::encodeName(path("private")).constData(), 65534, 65534), 0);
            QVERIFY(QFile::link(path("private"), ini()));
        } else if (op == "owner") {
            QCOMPARE(::chown(target.constData(), 65534, 65534), 0);
        } else if (op != "link") {
            QCOMPARE(::chmod(target.constData(), op.toUInt(nullptr, 8)), 0);
        }

        const Outcome o = runOnce();
        QCOMPARE(o.status, logged ? 0 : 2);
        // One line, and no From= value of the file.
        QCOMPARE(
            o.err,
            "pallwick: " +
                line.replace("<ini>", ini()).replace("<lang>", lang).replace("<log>", logFile()) +
                "\n");
        QCOMPARE(o.out.size(), logged ? 1 : 0);
        QCOMPARE(entries(path("dst")), logged ? QStringList{"a"} : QStringList());
        QCOMPARE(fileBytes(path("victim")), victim);
        if (logged && change != "log link")
            QCOMPARE(fileBytes(logFile()), change.startsWith("logdir") ? QByteArray() : kept);
    }

    // The language is a file name: "../x" cannot reach a file beside the
    // language folder, and counts as a language that does not exist.
    void languageIsAFileName()
    {
        writeFile(ini(), "[Options]\nLanguage=../x\nAction=Copy\nFrom=" + path("src").toUtf8() +
                             "\nTo=" + path("dst").toUtf8() + "\n");
        writeFile(path("prog/x.dat"), "[frmMain]\nt25=Planted\n");
        writeFile(path("src/a"), "1");
        const Outcome o = runOnce();
        QCOMPARE(o.status, 0);
        QCOMPARE(o.out.size(), 1);
        QVERIFY2(!o.out[0].contains("Planted"), qPrintable(o.out[0]));
    }

    // A folder path that is not UTF-8 names the folder of exactly its bytes,
    // not the one its Latin-1 reading names, which is there as well.
    void pathKeepsItsBytes()
    {
        const QByteArray bytes = QFile::encodeName(m_dir->path()) + "/caf\xE9";
        const QByteArray latin1Reading = QFile::encodeName(m_dir->path()) + "/caf\xC3\xA9";
        for (const QByteArray &folder : {bytes, latin1Reading}) {
            QCOMPARE(::mkdir(folder.constData(), 0755), 0);
            const QByteArray file = folder + (folder == bytes ? "/right" : "/wrong");
            const int fd = ::open(file.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            QVERIFY(fd >= 0 && ::close(fd) == 0);
        }
        writeFile(ini(), "[Options]\nLanguage=English\nAction=Copy\nFrom=" + bytes +
                             "\nTo=" + path("dst").toUtf8() + "\n");
        const Outcome o = runOnce();
        QCOMPARE(o.status, 0);
        QCOMPARE(entries(path("dst")), QStringList{"right"});
    }
};

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
