// A pass when files arrive in the source folder: the kernel's events, the
// quiet time that gathers them into one pass, and how such passes fit
// between the minute count's own. The quiet time is cut to a fraction of a
// second; nothing waits for a minute.
#include "app/ArrivalTrigger.h"
#include "support/WindowFixture.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

static const char LanguageFile[] =
    "[frmMain]\nt4=minute\nt5=minutes\nt11=Stop\nt12=Start\nt14=Waiting\nt15=Busy\n"
    "t16=Stopped\nt17=next in\nt18=Info\nt19=no files\nt25=copied\nt29=file\nt30=files\n"
    "t31=Result\nt32=Cancel\nt33=started\nt34=stopped\n";

class tst_Arrival : public QObject
{
    Q_OBJECT

    static constexpr int QuietMs = 300;
    WindowFixture f;

    // Waits long enough for any quiet time under way to end.
    static void settle() { QTest::qWait(3 * QuietMs); }

    std::unique_ptr<frmMain> startedWindow(const QByteArray &options)
    {
        auto w = f.openJob("QuietSeconds=1\n" + options);
        w->cmdStopStart_Click();
        return w;
    }

    static int count(const QStringList &lines, const QString &part)
    {
        return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                              [&](const QString &l) { return l.contains(part); }));
    }

private slots:
    void init() { f.setUp("Test", LanguageFile); }
    void cleanup() { f.tearDown(); }

    // A file written in several steps over 3 s is one arrival, when closed.
    void slowWriteGivesOnePass()
    {
        ArrivalTrigger trigger;
        QSignalSpy due(&trigger, &ArrivalTrigger::due);
        QVERIFY(trigger.follow(f.path("src"), QuietMs).ok());
        QFile file(f.path("src/slow.dat"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        for (int step = 0; step < 4; ++step) {
            QVERIFY(file.write(QByteArray(4096, 'x')) == 4096);
            QVERIFY(file.flush());
            QTest::qWait(750);
        }
        QCOMPARE(due.count(), 0);
        file.close();
        QTRY_COMPARE_WITH_TIMEOUT(due.count(), 1, 5000);
        settle();
        QCOMPARE(due.count(), 1);
    }

    void burstGivesOneOrTwoPasses()
    {
        ArrivalTrigger trigger;
        QSignalSpy due(&trigger, &ArrivalTrigger::due);
        QVERIFY(trigger.follow(f.path("src"), QuietMs).ok());
        for (int i = 0; i < 1000; ++i) {
            writeFile(f.path("src/f%1").arg(i), "data");
            if (i % 50 == 0)
                QCoreApplication::processEvents();
        }
        QTRY_VERIFY_WITH_TIMEOUT(due.count() >= 1, 5000);
        settle();
        QVERIFY2(due.count() <= 2, qPrintable(QString::number(due.count())));
    }

    // What a move pass does to the source, and what is no finished file,
    // never starts a pass.
    void otherChangesAreSilent_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("file removed") << "remove";
        QTest::newRow("file renamed out") << "rename-out";
        QTest::newRow("file only read") << "read";
        QTest::newRow("folder made") << "mkdir";
        QTest::newRow("folder moved in") << "folder-in";
    }

    void otherChangesAreSilent()
    {
        QFETCH(QString, change);
        writeFile(f.path("src/old"), "x");
        QVERIFY(QDir().mkpath(f.path("elsewhere/sub")));
        ArrivalTrigger trigger;
        QSignalSpy due(&trigger, &ArrivalTrigger::due);
        QVERIFY(trigger.follow(f.path("src"), QuietMs).ok());
        if (change == "remove")
            QVERIFY(QFile::remove(f.path("src/old")));
        else if (change == "rename-out")
            QVERIFY(QFile::rename(f.path("src/old"), f.path("dst/old")));
        else if (change == "read")
            QCOMPARE(fileBytes(f.path("src/old")), QByteArray("x"));
        else if (change == "mkdir")
            QVERIFY(QDir().mkdir(f.path("src/new")));
        else
            QVERIFY(QDir().rename(f.path("elsewhere/sub"), f.path("src/sub")));
        settle();
        QCOMPARE(due.count(), 0);
        // The watch still works.
        writeFile(f.path("src/fresh"), "y");
        QTRY_COMPARE(due.count(), 1);
    }

    // A folder removed or replaced takes the kernel's watch with it; the next
    // follow() (at the minute tick) watches the folder now under the name.
    void lostWatchIsSetUpAgain_data()
    {
        QTest::addColumn<bool>("renamedAway");
        QTest::newRow("removed") << false;
        QTest::newRow("renamed away") << true;
    }

    void lostWatchIsSetUpAgain()
    {
        QFETCH(bool, renamedAway);
        ArrivalTrigger trigger;
        QSignalSpy due(&trigger, &ArrivalTrigger::due);
        QVERIFY(trigger.follow(f.path("src"), QuietMs).ok());
        if (renamedAway)
            QVERIFY(QDir().rename(f.path("src"), f.path("old-src")));
        else
            QVERIFY(QDir(f.path("src")).removeRecursively());
        QVERIFY(QDir().mkdir(f.path("src")));
        writeFile(f.path("src/a"), "a");
        settle();
        QCOMPARE(due.count(), 0);
        QVERIFY(trigger.follow(f.path("src"), QuietMs).ok());
        QVERIFY(trigger.watching());
        writeFile(f.path("src/b"), "b");
        QTRY_COMPARE(due.count(), 1);
    }

    // One pass after the quiet time, with its line first; the count and its
    // title go on as they were.
    void arrivalRunsOnePassLeavingTheCount()
    {
        auto w = startedWindow("RunOnArrival=1\nInterval=30\n");
        w->Timer1_Timer();
        QCOMPARE(w->MinutesElapsed, 1);
        writeFile(f.path("src/a"), "a");
        writeFile(f.path("src/b"), "b");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(f.path("dst/b")), 5000);
        QVERIFY(QFile::exists(f.path("dst/a")));
        const QStringList lines = WindowFixture::lines(*w);
        QCOMPARE(count(lines, "Info: files arrived"), 1);
        QVERIFY(lines.indexOf(QRegularExpression(".*Info: files arrived")) <
                lines.indexOf(QRegularExpression(".*copied: a")));
        QCOMPARE(w->MinutesElapsed, 1);
        QCOMPARE(w->windowTitle(), w->titleWaiting(29));
        QVERIFY(w->Timer1->isActive());
    }

    // Without the option, and after Stop, a file waits for the count.
    void withoutTheOptionNothingHappensUntilTheTick_data()
    {
        QTest::addColumn<QByteArray>("options");
        QTest::addColumn<bool>("stopped");
        QTest::newRow("option absent") << QByteArray() << false;
        QTest::newRow("option 0") << QByteArray("RunOnArrival=0\n") << false;
        QTest::newRow("stopped") << QByteArray("RunOnArrival=1\n") << true;
    }

    void withoutTheOptionNothingHappensUntilTheTick()
    {
        QFETCH(QByteArray, options);
        QFETCH(bool, stopped);
        auto w = startedWindow(options + "Interval=1\n");
        if (stopped)
            w->cmdStopStart_Click();
        QVERIFY(!w->arrivalTrigger()->watching());
        writeFile(f.path("src/a"), "a");
        QTest::qWait(1500);
        QVERIFY(!QFile::exists(f.path("dst/a")));
        if (stopped)
            w->cmdStopStart_Click();
        w->Timer1_Timer();
        QVERIFY(QFile::exists(f.path("dst/a")));
    }

    // Files that arrive while a pass runs get one more pass after it, not
    // one inside it.
    void arrivalsDuringAPassGiveOneMore()
    {
        auto w = startedWindow("RunOnArrival=1\nInterval=30\n");
        writeFile(f.path("src/a"), "a");
        writeFile(f.path("src/b"), "b");
        bool nested = false;
        WindowFixture::whenBusy(*w, [&] {
            writeFile(f.path("src/late1"), "l");
            writeFile(f.path("src/late2"), "l");
            // The quiet time ends while this pass still runs.
            QTest::qWait(1500);
        });
        connect(w.get(), &frmMain::passEnded, this, [&] { nested = nested || w->passRunning(); });
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(f.path("dst/late2")), 8000);
        QVERIFY(QFile::exists(f.path("dst/late1")));
        settle();
        QCOMPARE(count(WindowFixture::lines(*w), "Info: files arrived"), 2);
        QVERIFY(!nested);
    }

    // The count's pass, due during an arrival pass, runs right after it and
    // starts the count again.
    void tickDueDuringAnArrivalPassRunsRightAfter()
    {
        auto w = startedWindow("RunOnArrival=1\nInterval=1\nAction=Move\n");
        writeFile(f.path("src/a"), "a");
        WindowFixture::whenBusy(*w, [&] {
            w->Timer1_Timer();
            writeFile(f.path("src/late"), "l");
        });
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(f.path("dst/a")), 5000);
        // The timed pass right after the arrival pass took the late file.
        QVERIFY(QFile::exists(f.path("dst/late")));
        QCOMPARE(w->MinutesElapsed, 0);
        QCOMPARE(w->windowTitle(), w->titleWaiting(1));
        QVERIFY(w->Timer1->isActive());
        settle();
        QTest::qWait(1000);
        // The late file's own arrival pass found nothing left to move.
        const QStringList lines = WindowFixture::lines(*w);
        QCOMPARE(count(lines, "Info: files arrived"), 2);
        QVERIFY2(lines.last().contains("no files"), qPrintable(lines.join('\n')));
    }
};

QTEST_MAIN(tst_Arrival)
#include "tst_arrival.moc"
