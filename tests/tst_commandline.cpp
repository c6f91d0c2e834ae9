// The built program from the command line, without a display: the options,
// one pass with --once and its exit status, a cancel by Ctrl+C, and the
// activity log file.
#include "support/TestFiles.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/mount.h>
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

    // Started as cron would: no X, no Wayland, no platform plugin chosen.
    void start(QProcess &process, const QStringList &arguments,
               const QString &timeZone = QStringLiteral("UTC"))
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        env.insert("XDG_STATE_HOME", path("state"));
        env.insert("TZ", timeZone);
        process.setProcessEnvironment(env);
        process.start(path("prog/pallwick"), arguments);
        QVERIFY2(process.waitForStarted(10000), qPrintable(process.errorString()));
    }

    struct Outcome
    {
        int status = -1;
        QStringList out; // lines
        QString err;
    };

    Outcome run(const QStringList &arguments, const QString &timeZone = QStringLiteral("UTC"))
    {
        QProcess process;
        start(process, arguments, timeZone);
        Outcome o;
        if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
            return o;
        o.status = process.exitCode();
        o.out = QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        o.err = QString::fromUtf8(process.readAllStandardError());
        return o;
    }

    void makeFiles(int count, qsizetype size)
    {
        for (int i = 0; i < count; ++i)
            writeFile(path("src/f%1").arg(i, 4, 10, QLatin1Char('0')),
                      QByteArray(size, 'a' + i % 26));
    }

    static QStringList entries(const QString &folder)
    {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    // "<short date> <time> - text", as the window shows it.
    static bool isLine(const QString &line, const QString &text)
    {
        static const QRegularExpression stamp("^\\S+ \\S+ \\S+ \\d\\d:\\d\\d:\\d\\d - ");
        return stamp.match(line).hasMatch() && line.endsWith(" - " + text);
    }

    static bool hasLine(const QStringList &lines, const QString &text)
    {
        for (const QString &line : lines)
            if (isLine(line, text))
                return true;
        return false;
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        for (const char *folder : {"prog/lang", "src", "dst"})
            QVERIFY(QDir(m_dir->path()).mkpath(folder));
        QVERIFY(QFile::copy(PALLWICK_BINARY, path("prog/pallwick")));
        QVERIFY(
            QFile::copy(PALLWICK_SOURCE_DIR "/lang/English.dat", path("prog/lang/English.dat")));
    }

    void cleanup() { m_dir.reset(); }

    void options_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out"); // start of standard output
        QTest::addColumn<QString>("err"); // standard error ends so
        const QString usage = "Usage: pallwick [/s | --once | --help | --version]\n";
        QTest::newRow("help") << QStringList{"--help"} << 0 << usage << "";
        QTest::newRow("version") << QStringList{"--version"} << 0 << "pallwick 1.4\n"
                                 << "";
        QTest::newRow("unknown") << QStringList{"--onse"} << 2 << "" << usage;
        QTest::newRow("unknown after /s") << QStringList{"/s", "-x"} << 2 << "" << usage;
        QTest::newRow("two options") << QStringList{"--once", "--help"} << 2 << "" << usage;
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

    void onceCopiesAndMoves_data()
    {
        QTest::addColumn<QByteArray>("action");
        QTest::newRow("copy") << QByteArray("Copy");
        QTest::newRow("move") << QByteArray("Move");
    }

    // Without LogFile=1: lines on standard output only, no file, no folder;
    // the settings file keeps every byte.
    void onceCopiesAndMoves()
    {
        QFETCH(QByteArray, action);
        const bool move = action == "Move";
        writeJob("Action=" + action + "\n");
        const QByteArray settings = fileBytes(ini());
        writeFile(path("src/a b.txt"), "one");
        writeFile(path("src/c"), "two");

        const Outcome first = run({"--once"});
        QCOMPARE(first.status, 0);
        QCOMPARE(first.err, QString());
        QCOMPARE(first.out.size(), 2);
        const QString verb = move ? "Moved" : "Copied";
        QVERIFY2(hasLine(first.out, verb + ": a b.txt") && hasLine(first.out, verb + ": c"),
                 qPrintable(first.out.join('\n')));
        QCOMPARE(fileBytes(path("dst/a b.txt")), QByteArray("one"));
        QCOMPARE(fileBytes(path("dst/c")), QByteArray("two"));
        QCOMPARE(entries(path("src")).size(), move ? 0 : 2);

        // A second pass: copies are kept (status 0), after a move there is nothing.
        const Outcome second = run({"--once"});
        QCOMPARE(second.status, 0);
        if (move) {
            QVERIFY(second.out.size() == 1 &&
                    hasLine(second.out, "Info: No files found in the source folder "));
        } else {
            QCOMPARE(second.out.size(), 2);
            QVERIFY(hasLine(second.out, "Not copied (file already exists): a b.txt"));
            QVERIFY(hasLine(second.out, "Not copied (file already exists): c"));
        }

        QCOMPARE(fileBytes(ini()), settings);
        QVERIFY(!QFileInfo::exists(path("state")));
    }

    void exitStatus_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("err"); // the reason's beginning
        QTest::newRow("no settings file") << "noini" << 2 << "pallwick: no settings file: ";
        QTest::newRow("destination missing")
            << "nodst" << 2 << "pallwick: destination folder missing: ";
        QTest::newRow("no source saved") << "nofrom" << 2 << "pallwick: no source folder in ";
        QTest::newRow("a file fails") << "fail" << 1 << "";
        QTest::newRow("nothing to do") << "empty" << 0 << "";
    }

    void exitStatus()
    {
        QFETCH(QString, setup);
        QFETCH(int, status);
        QFETCH(QString, err);
        writeJob("Action=Copy\n");
        if (setup == "noini")
            QVERIFY(QFile::remove(ini()));
        if (setup == "nodst")
            QVERIFY(QDir(path("dst")).removeRecursively());
        if (setup == "nofrom")
            writeFile(ini(), "[Options]\nTo=" + path("dst").toUtf8() + "\n");
        if (setup == "fail") {
            // A folder where the copy must go: the copy fails, the next file goes on.
            writeFile(path("src/blocked"), "x");
            writeFile(path("src/free"), "y");
            QVERIFY(QDir(path("dst")).mkdir("blocked"));
        }
        const Outcome o = run({"--once"});
        QCOMPARE(o.status, status);
        if (status == 2) {
            QVERIFY2(o.err.startsWith(err) && o.err.count('\n') == 1, qPrintable(o.err));
            QVERIFY(o.out.isEmpty());
        } else {
            QCOMPARE(o.err, QString());
        }
        if (setup == "fail") {
            QCOMPARE(o.out.size(), 2);
            const QString error = o.out.filter(" - Error: ").value(0);
            QVERIFY2(isLine(error, error.section(" - ", 1)) && error.endsWith(" - blocked"),
                     qPrintable(o.out.join('\n')));
            QVERIFY(hasLine(o.out, "Copied: free"));
            QCOMPARE(fileBytes(path("dst/free")), QByteArray("y"));
        }
        if (setup == "empty")
            QVERIFY(o.out.size() == 1 &&
                    hasLine(o.out, "Info: No files found in the source folder "));
    }

    // Ctrl+C after the first file: the file in progress is finished, the
    // cancel line comes last, and every file in the destination is whole.
    void interruptCancelsAfterTheFileInProgress()
    {
        const int count = 300;
        const qsizetype size = 1 << 20;
        writeJob("Action=Copy\n");
        makeFiles(count, size);
        QProcess process;
        start(process, {"--once"});
        QVERIFY(process.waitForReadyRead(30000));
        QVERIFY(::kill(process.processId(), SIGINT) == 0);
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);

        const QStringList out =
            QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        const QStringList copied = entries(path("dst"));
        QVERIFY2(copied.size() < count, "the pass ended before the signal came");
        QCOMPARE(out.last(), QString("Cancelled: Copied %1 files").arg(copied.size()));
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

        const Outcome o = run({"--once"}, "Asia/Kolkata");
        QCOMPARE(o.status, 0);
        QCOMPARE(o.out.size(), 2);
        QCOMPARE(fileBytes(logFile() + ".1"), full);
        QCOMPARE(fileBytes(logFile() + ".2"), QByteArray("1"));
        QCOMPARE(fileBytes(logFile() + ".3"), QByteArray("2"));
        QVERIFY(!QFileInfo::exists(logFile() + ".4"));
        const QStringList lines = QString::fromUtf8(fileBytes(logFile())).split('\n');
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines.last(), QString());
        static const QRegularExpression iso("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\+05:30 ");
        for (int i = 0; i < 2; ++i) {
            QVERIFY2(iso.match(lines[i]).hasMatch(), qPrintable(lines[i]));
            QCOMPARE(lines[i].section(' ', 1), o.out[i]);
        }
        QCOMPARE(fileBytes(ini()), "[Options]\nLanguage=English\nFrom=" + path("src").toUtf8() +
                                       "\nTo=" + path("dst").toUtf8() +
                                       "\nAction=Copy\nLogFile=1\n");
    }

    // A full disk under the log file: the pass does its work and ends with
    // status 0, one line on standard error says so, and the file never ends
    // in half a line.
    void logFileOnFullDisk()
    {
        writeJob("Action=Copy\nLogFile=1\n");
        makeFiles(5, 10);
        QVERIFY(QDir().mkpath(path("state")));
        const QByteArray mount = QFile::encodeName(path("state"));
        if (::geteuid() != 0 || ::mount("tmpfs", mount.constData(), "tmpfs", 0, "size=8k") != 0)
            QSKIP("needs root and a working tmpfs mount");
        const auto unmount = qScopeGuard([&] { ::umount2(mount.constData(), MNT_DETACH); });
        QVERIFY(QDir().mkpath(path("state/pallwick")));
        // Room for a few bytes only: the first line is cut short by the disk.
        const QByteArray nearlyFull(8192 - 10, 'x');
        writeFile(logFile(), nearlyFull);

        const Outcome o = run({"--once"});
        QCOMPARE(o.status, 0);
        QCOMPARE(o.out.size(), 5);
        QCOMPARE(entries(path("dst")).size(), 5);
        QVERIFY2(o.err.startsWith("pallwick: activity log file not written (") &&
                     o.err.count('\n') == 1,
                 qPrintable(o.err));
        QCOMPARE(fileBytes(logFile()), nearlyFull);
    }
};

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
