// The window with nobody at it: signals close it as the close box does (a
// pass is cancelled after its file, an open dialog goes, then the save
// decision runs), its final log lines go to the log file, and --once reads
// the job it saved.
#include "support/WindowFixture.h"

#include "platform/FileNames.h"
#include "settings/SavedJob.h"
#include "transfer/ActivityLogFile.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

class tst_Unattended : public QObject
{
    Q_OBJECT

    WindowFixture f;

    QString logFile() const { return f.path("state/pallwick/activity.log"); }

    std::unique_ptr<frmMain> open()
    {
        auto w = f.open({}, true);
        w->show();
        return w;
    }

    QStringList fileLines() const { return isoUnstamped(fileBytes(logFile())); }

private slots:
    void init()
    {
        f.setUp("English", fileBytes(PALLWICK_SOURCE_DIR "/lang/English.dat"));
        qputenv("XDG_STATE_HOME", QFile::encodeName(f.path("state")));
    }

    void cleanup() { f.tearDown(); }

    // SIGTERM in the middle of a pass over many files.
    void terminateDuringAPass()
    {
        f.writeJob("Save=1\n");
        const int count = 200;
        const qsizetype size = 512 << 10;
        for (int i = 0; i < count; ++i)
            writeFile(f.path("src/f%1").arg(i), QByteArray(size, 'x'));
        auto w = open();
        f.whenBusy(*w, [] { ::raise(SIGTERM); });
        w->DoAction();
        QTRY_VERIFY(!w->isVisible());

        const QStringList copied = QDir(f.path("dst")).entryList(QDir::Files | QDir::Hidden);
        QVERIFY2(copied.size() < count, "the pass was not cancelled");
        for (const QString &name : copied)
            QCOMPARE(QFileInfo(f.path("dst/" + name)).size(), size); // no temporary file either
        QCOMPARE(f.lines(*w).last(),
                 copied.size() == 1 ? QString("Cancelled: Copied 1 file")
                                    : QString("Cancelled: Copied %1 files").arg(copied.size()));
        QVERIFY2(f.settings().contains("\nShowLog=0") && f.settings().contains("\nInterval=5"),
                 f.settings().constData());
    }

    // SIGHUP while the Options dialog is open: the dialog closes unsaved and
    // the exit question is asked, once, as at any close. A second signal
    // while the question waits leaves it to the user: Yes still saves.
    void signalsWithDialogsOpen()
    {
        f.writeJob("Question=1\n");
        auto w = open();
        QStringList seen;
        QTimer answer;
        connect(&answer, &QTimer::timeout, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            seen << box->text();
            if (seen.size() == 1)
                ::raise(SIGINT);
            else
                box->button(QMessageBox::Yes)->click();
        });
        answer.start(20);
        QTimer::singleShot(0, [] { ::raise(SIGHUP); });
        w->cmdOpt_Click(); // returns when the dialog is gone
        QTRY_VERIFY(!w->isVisible());
        QCOMPARE(seen, QStringList({"Save settings?", "Save settings?"})); // one box, seen twice
        QVERIFY(f.settings().contains("\nShowLog=0"));
        QVERIFY2(!f.settings().contains("CheckDestination"), "the dialog saved");
    }

    // pallwick --once takes the job by the rules of the window's load.
    void savedJobReadsAsTheWindowLoads_data()
    {
        QTest::addColumn<QByteArray>("values");
        for (const char *values : {"", "Action=Move;Overwrite=1", "Action=Copy;Overwrite=0",
                                   "Action=move;Overwrite=yes", "Action=;Overwrite="})
            QTest::newRow(*values ? values : "defaults") << QByteArray(values).replace(';', '\n');
    }

    void savedJobReadsAsTheWindowLoads()
    {
        QFETCH(QByteArray, values);
        writeFile(f.ini(), "[Options]\nFrom=/some where" + QByteArray(300, 'x') +
                               "\nTo=" + f.path("dst").toUtf8() + "\n" + values + "\n");
        auto w = open();
        const SavedJob job = SavedJob::read();
        QCOMPARE(job.source, w->Text1->text());
        QCOMPARE(job.destination, w->Text2->text());
        QCOMPARE(job.move, w->Option1[0]->isChecked());
        QCOMPARE(job.overwrite, w->Check2->isChecked());
    }

    // Start, a pass and Stop: the file holds the window's lines, each once,
    // and none that the pass replaced (placeholder, progress).
    void windowLinesGoToTheFile()
    {
        f.writeJob("LogFile=1\n");
        writeFile(f.path("src/a"), "1");
        writeFile(f.path("src/b"), "2");
        auto w = open();
        QVERIFY(w->activityLogFile());
        w->cmdStopStart_Click();
        w->DoAction();
        // The pass's last line is in the file when the pass has ended.
        w->activityLogFile()->waitUntilWritten();
        QCOMPARE(f.lines(*w).size(), 3);
        QCOMPARE(fileLines(), f.lines(*w));
        w->cmdStopStart_Click();
        w->activityLogFile()->waitUntilWritten();
        QCOMPARE(fileLines(), f.lines(*w));
    }

    // The state folder cannot be made: the pass's lines are untouched, and
    // the window says so once, after the pass, however many lines fail.
    void unwritableFileIsReportedOnce()
    {
        writeFile(f.path("state"), "a file where the folder should be");
        f.writeJob("LogFile=1\n");
        writeFile(f.path("src/a"), "1");
        auto w = open();
        w->DoAction();
        QTRY_COMPARE(f.lines(*w).size(), 2);
        w->DoAction();
        w->activityLogFile()->waitUntilWritten();
        QTest::qWait(20); // a second notice would be queued by now
        const QStringList lines = f.lines(*w);
        QCOMPARE(lines.size(), 3);
        QVERIFY2(lines[0].endsWith(" - Copied: a"), qPrintable(lines[0]));
        QVERIFY2(lines[1].contains(" - Activity log file not written (") &&
                     lines[1].endsWith(logFile()),
                 qPrintable(lines[1]));
        QVERIFY2(lines[2].endsWith(" - Not copied (file already exists): a"), qPrintable(lines[2]));
    }

    // Run as root, a settings file anybody may write is not used: the window
    // says so in its log, in the default language where it has the line,
    // shows the defaults, and a save leaves the file.
    void settingsWritableByOthersAreNotUsed_data()
    {
        QTest::addColumn<bool>("german");
        QTest::addColumn<QString>("line");
        QTest::newRow("no default language file") << false << "Settings file not used";
        QTest::newRow("default language") << true << "Einstellungsdatei nicht verwendet";
    }

    void settingsWritableByOthersAreNotUsed()
    {
        QFETCH(bool, german);
        QFETCH(QString, line);
        if (::geteuid() != 0)
            QSKIP("only root refuses files others may write");
        if (german)
            writeFile(f.path("lang/Deutsch.dat"),
                      fileBytes(PALLWICK_SOURCE_DIR "/lang/Deutsch.dat"));
        f.writeJob("Overwrite=1\n");
        QCOMPARE(::chmod(QFile::encodeName(f.ini()).constData(), 0666), 0);
        const QByteArray before = f.settings();
        auto w = open();
        QCOMPARE(f.lines(*w).size(), 1);
        QVERIFY2(
            f.lines(*w)[0].endsWith(" - " + line + " (File is writable by others): " + f.ini()),
            qPrintable(f.lines(*w)[0]));
        QCOMPARE(w->Text1->text(), QString());
        QVERIFY(!w->Check2->isChecked());
        w->SaveSettings();
        QCOMPARE(f.settings(), before);
    }

    // The window keeps the bytes of a path line that is not UTF-8: it checks
    // the folder of those bytes and writes them back unchanged.
    void pathKeepsItsBytes()
    {
        const QByteArray bytes = QFile::encodeName(f.path("caf")) + "\xE9";
        QCOMPARE(::mkdir(bytes.constData(), 0755), 0);
        const QByteArray line = "\nFrom=" + bytes + "\n";
        writeFile(f.ini(),
                  "[Options]\nLanguage=English" + line + "To=" + f.path("dst").toUtf8() + "\n");
        auto w = open();
        QCOMPARE(FileNames::encode(w->Text1->text()), bytes);
        QVERIFY(w->cmdStopStart->isEnabled()); // both folders exist
        w->SaveSettings();
        QVERIFY2(f.settings().contains(line), f.settings().constData());
    }
};

QTEST_MAIN(tst_Unattended)
#include "tst_unattended.moc"
