// The window with nobody at it: signals close it as the close box does (a
// pass is cancelled after its file, an open dialog goes, then the save
// decision runs), its final log lines go to the log file, and --once reads
// the job it saved.
#include "support/MemoryFileSystem.h"
#include "support/TestFiles.h"
#include "support/TestPassHost.h"

#include "app/Prompt.h"
#include "app/frmMain.h"
#include "platform/Clock.h"
#include "platform/UserStore.h"
#include "settings/SavedJob.h"
#include "settings/modGlobal.h"
#include "transfer/ActivityLog.h"
#include "transfer/ActivityLogFile.h"
#include "transfer/TransferPass.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>

class tst_Unattended : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    FixedClock m_clock{QDateTime(QDate(2026, 12, 6), QTime(10, 20, 30))};

    QString path(const QString &name) const { return m_dir->filePath(name); }
    QByteArray settings() const { return fileBytes(path("Pallwick.ini")); }
    QString logFile() const { return path("state/pallwick/activity.log"); }

    void writeJob(const QByteArray &extra)
    {
        writeFile(path("Pallwick.ini"),
                  "[Options]\nLanguage=English\nAction=Copy\nFrom=" + path("src").toUtf8() +
                      "\nTo=" + path("dst").toUtf8() + "\n" + extra);
    }

    std::unique_ptr<frmMain> open()
    {
        frmMain::Environment env;
        env.programFolder = m_dir->path();
        env.clock = &m_clock;
        env.closeOnRequests = true;
        auto w = std::make_unique<frmMain>(QStringList(), env);
        w->show();
        return w;
    }

    // Runs action once the pass works on its files.
    static void whenBusy(frmMain &w, std::function<void()> action)
    {
        QTimer::singleShot(0, &w, [&w, action] {
            if (w.Busy)
                action();
            else
                whenBusy(w, action);
        });
    }

    static QStringList windowLines(frmMain &w)
    {
        QStringList lines;
        for (int i = 0; i < w.activityLog().count(); ++i)
            lines << w.activityLog().line(i);
        return lines;
    }

    // The file's lines without their ISO 8601 stamps, which must be there.
    QStringList fileLines() const
    {
        static const QRegularExpression iso(
            "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d(Z|[+-]\\d\\d:\\d\\d) ");
        QStringList lines = QString::fromUtf8(fileBytes(logFile())).split('\n');
        if (lines.last().isEmpty())
            lines.removeLast();
        for (QString &line : lines) {
            const QRegularExpressionMatch m = iso.match(line);
            if (!m.hasMatch())
                return {"no stamp: " + line};
            line.remove(0, m.capturedLength());
        }
        return lines;
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        for (const char *folder : {"lang", "src", "dst", "store"})
            QVERIFY(QDir(m_dir->path()).mkpath(folder));
        QVERIFY(QFile::copy(PALLWICK_SOURCE_DIR "/lang/English.dat", path("lang/English.dat")));
        UserStore::setLocation(path("store"));
        qputenv("XDG_STATE_HOME", QFile::encodeName(path("state")));
    }

    void cleanup()
    {
        Prompt::setHook({});
        m_dir.reset();
    }

    // SIGTERM in the middle of a pass over many files.
    void terminateDuringAPass()
    {
        writeJob("Save=1\n");
        const int count = 200;
        const qsizetype size = 512 << 10;
        for (int i = 0; i < count; ++i)
            writeFile(path("src/f%1").arg(i), QByteArray(size, 'x'));
        auto w = open();
        whenBusy(*w, [] { ::raise(SIGTERM); });
        w->DoAction();
        QTRY_VERIFY(!w->isVisible());

        const QStringList copied = QDir(path("dst")).entryList(QDir::Files | QDir::Hidden);
        QVERIFY2(copied.size() < count, "the pass was not cancelled");
        for (const QString &name : copied)
            QCOMPARE(QFileInfo(path("dst/" + name)).size(), size); // no temporary file either
        const ActivityLog &log = w->activityLog();
        QCOMPARE(log.line(log.count() - 1),
                 QString("Cancelled: Copied %1 files").arg(copied.size()));
        QVERIFY2(settings().contains("\nShowLog=0") && settings().contains("\nInterval=5"),
                 settings().constData());
    }

    // SIGHUP while the Options dialog is open: the dialog closes unsaved,
    // and the exit question is asked as at any close.
    void hangUpWithADialogOpen()
    {
        writeJob("Question=1\n");
        QStringList asked;
        Prompt::setHook([&asked](const QString &, const QString &text) {
            asked << text;
            return true;
        });
        auto w = open();
        QTimer::singleShot(0, [] { ::raise(SIGHUP); });
        w->cmdOpt_Click(); // returns when the dialog is gone
        QTRY_VERIFY(!w->isVisible());
        QCOMPARE(asked, QStringList{"Save settings?"});
        QVERIFY(settings().contains("\nShowLog=0"));
        QVERIFY2(!settings().contains("CheckDestination"), "the dialog saved");
    }

    // A second signal while the exit question waits leaves the question to
    // the user: Yes still saves.
    void signalDuringTheExitQuestion()
    {
        writeJob("Question=1\n");
        auto w = open();
        bool answered = false;
        QTimer::singleShot(50, [&answered] {
            ::raise(SIGINT);
            QTimer::singleShot(50, [&answered] {
                auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                if (box && box->isVisible()) {
                    box->button(QMessageBox::Yes)->click();
                    answered = true;
                }
            });
        });
        ::raise(SIGINT);
        QTRY_VERIFY(!w->isVisible());
        QVERIFY(answered);
        QVERIFY(settings().contains("\nShowLog=0"));
    }

    // pallwick --once takes the job by the rules of the window's load.
    void savedJobReadsAsTheWindowLoads_data()
    {
        QTest::addColumn<QByteArray>("values");
        QTest::newRow("defaults") << QByteArray();
        QTest::newRow("move, overwrite") << QByteArray("Action=Move\nOverwrite=1\n");
        QTest::newRow("copy, keep") << QByteArray("Action=Copy\nOverwrite=0\n");
        QTest::newRow("unknown texts") << QByteArray("Action=move\nOverwrite=yes\n");
        QTest::newRow("empty texts") << QByteArray("Action=\nOverwrite=\n");
    }

    void savedJobReadsAsTheWindowLoads()
    {
        QFETCH(QByteArray, values);
        writeFile(path("Pallwick.ini"),
                  "[Options]\nFrom=/some where\nTo=" + path("dst").toUtf8() + "\n" + values);
        auto w = open();
        const SavedJob job = SavedJob::read();
        QCOMPARE(job.source, w->Text1->text());
        QCOMPARE(job.destination, w->Text2->text());
        QCOMPARE(job.move, w->Option1[0]->isChecked());
        QCOMPARE(job.overwrite, w->Check2->isChecked());
    }

    // The pass replaces its newest line (placeholder, progress, a first
    // error); only the lines that stay in the log are handed on, in order.
    void finalLinesOfAPass_data()
    {
        QTest::addColumn<QString>("failing"); // file whose copy fails
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QString>("cancelAt"); // progress line that cancels
        QTest::newRow("all copied") << "" << QByteArray() << "";
        QTest::newRow("one fails") << "b" << QByteArray() << "";
        QTest::newRow("second error replaces the first")
            << "b" << QByteArray("[Options]\nCheckDestination=x\n") << "";
        QTest::newRow("cancelled") << "" << QByteArray() << "COPYING: b";
        QTest::newRow("source unreadable") << "*" << QByteArray() << "";
    }

    void finalLinesOfAPass()
    {
        QFETCH(QString, failing);
        QFETCH(QByteArray, settings);
        QFETCH(QString, cancelAt);
        modGlobal::IniFile = path("Pallwick.ini");
        writeFile(modGlobal::IniFile, settings);
        MemoryFileSystem fs;
        for (const char *name : {"/src/a", "/src/b", "/src/c"})
            fs.files[name] = "x";
        if (failing == "*")
            fs.failures[{"list", "/src"}] = FsResult::failure(EACCES, "Permission denied");
        else if (!failing.isEmpty())
            fs.failures[{"copy", "/src/" + failing}] = FsResult::failure(EIO, "I/O error");
        TestPassHost host;
        host.memoryLog.append("earlier line");
        QStringList handedOn;
        host.memoryLog.setFinalLineSink([&](const QString &line) { handedOn << line; });
        host.onProcessEvents = [&] {
            if (!cancelAt.isEmpty() && host.memoryLog.line(host.memoryLog.count() - 1) == cancelAt)
                host.cancel = true;
        };

        TransferPass(host, fs, m_clock).run();
        host.memoryLog.flushFinal();
        host.memoryLog.flushFinal(); // nothing twice

        QStringList expected = host.memoryLog.lines();
        if (expected.first() == "earlier line")
            expected.removeFirst(); // given before the sink was set
        QCOMPARE(handedOn, expected);
        QVERIFY(!handedOn.join('\n').contains("COPYING"));
    }

    // Start, a pass and Stop: the file holds the window's lines, each once.
    void windowLinesGoToTheFile()
    {
        writeJob("LogFile=1\n");
        writeFile(path("src/a"), "1");
        writeFile(path("src/b"), "2");
        auto w = open();
        QVERIFY(w->activityLogFile());
        w->cmdStopStart_Click();
        w->DoAction();
        // The pass's last line is in the file when the pass has ended.
        w->activityLogFile()->waitUntilWritten();
        QCOMPARE(windowLines(*w).size(), 3);
        QCOMPARE(fileLines(), windowLines(*w));
        w->cmdStopStart_Click();
        w->activityLogFile()->waitUntilWritten();
        QCOMPARE(fileLines(), windowLines(*w));
    }

    // The state folder cannot be made: the pass's lines are untouched, and
    // the window says so once, after the pass, however many lines fail.
    void unwritableFileIsReportedOnce()
    {
        writeFile(path("state"), "a file where the folder should be");
        writeJob("LogFile=1\n");
        writeFile(path("src/a"), "1");
        auto w = open();
        w->DoAction();
        QTRY_COMPARE(windowLines(*w).size(), 2);
        w->DoAction();
        w->activityLogFile()->waitUntilWritten();
        QTest::qWait(20); // a second notice would be queued by now
        const QStringList lines = windowLines(*w);
        QCOMPARE(lines.size(), 3);
        QVERIFY2(lines[0].endsWith(" - Copied: a"), qPrintable(lines[0]));
        QVERIFY2(lines[1].contains(" - Activity log file not written (") &&
                     lines[1].endsWith(logFile()),
                 qPrintable(lines[1]));
        QVERIFY2(lines[2].endsWith(" - Not copied (file already exists): a"), qPrintable(lines[2]));
    }
};

QTEST_MAIN(tst_Unattended)
#include "tst_unattended.moc"
