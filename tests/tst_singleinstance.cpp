// One window per settings file: a second start of the built program brings
// the running window to the front and ends; two starts at one moment leave
// one window; --once and a window of another program folder are not held up.
#include "app/SingleInstance.h"
#include "support/Program.h"
#include "support/WindowFixture.h"

#include <QProcess>
#include <QTest>

class tst_SingleInstance : public QObject
{
    Q_OBJECT

    WindowFixture f;
    QString m_runtime; // the runtime folder every start here uses

    void install(const QString &folder) { Program::install(folder, f.path("lang/Test.dat")); }

    void start(QProcess &process, const QString &folder, const QStringList &arguments)
    {
        Program::start(process, folder + "/pallwick", arguments,
                       {{"XDG_RUNTIME_DIR", m_runtime}, {"QT_QPA_PLATFORM", "offscreen"}});
    }

    static void stop(QProcess &process)
    {
        process.terminate();
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 0);
    }

private slots:
    void init()
    {
        f.setUp("Test", "[frmMain]\nt16=Stopped\n");
        m_runtime = f.path("run");
        QVERIFY(QDir().mkpath(m_runtime));
        QVERIFY(QFile::setPermissions(m_runtime,
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        f.writeJob("Action=Copy\nDoActionOnStart=1\n");
        writeFile(f.path("src/a"), "data");
    }
    void cleanup() { f.tearDown(); }

    // This test's window is the first; the program started with "/s" is the
    // second. It ends with status 0 before it could start the job, and the
    // window, minimised or behind another one, is shown, restored and active.
    void secondStartBringsTheWindowToTheFront()
    {
        SingleInstance first(f.ini(), m_runtime);
        QCOMPARE(first.role(), SingleInstance::Role::First);
        auto w = f.open();
        first.setFrontHandler([&w] { w->bringToFront(); });
        install(f.dir->path());
        QWidget other;
        for (const bool minimised : {true, false}) {
            w->show();
            other.show();
            other.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&other));
            if (minimised)
                w->showMinimized();
            QVERIFY(!w->isActiveWindow());

            QProcess second;
            start(second, f.dir->path(), {"/s"});
            // Events run meanwhile: this window answers the second start.
            QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 20000);
            QCOMPARE(second.exitStatus(), QProcess::NormalExit);
            QCOMPARE(second.exitCode(), 0);
            QVERIFY(w->isVisible() && !w->isMinimized());
            QTRY_VERIFY(w->isActiveWindow());
        }
        QVERIFY(!w->Running);
        QVERIFY(QDir(f.path("dst")).isEmpty()); // no "/s" of a second start ran a pass
    }

    // Two starts at one moment, in a few rounds: one ends with status 0,
    // the other keeps its window, and it ran its "/s". A --once of the same
    // job and a window of another program folder run beside it.
    void startsAtOneMomentLeaveOneWindow()
    {
        install(f.dir->path());
        for (int round = 0; round < 3; ++round) {
            QProcess a, b;
            start(a, f.dir->path(), {"/s"});
            start(b, f.dir->path(), {"/s"});
            QTRY_VERIFY_WITH_TIMEOUT(
                a.state() == QProcess::NotRunning || b.state() == QProcess::NotRunning, 20000);
            QProcess &ended = a.state() == QProcess::NotRunning ? a : b;
            QProcess &window = &ended == &a ? b : a;
            QCOMPARE(ended.exitStatus(), QProcess::NormalExit);
            QCOMPARE(ended.exitCode(), 0);
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(f.path("dst/a")), 20000);
            QVERIFY(!window.waitForFinished(500));
            if (round == 0) {
                QProcess once;
                start(once, f.dir->path(), {"--once"});
                QVERIFY(once.waitForFinished(20000));
                QCOMPARE(once.exitCode(), 0);
                QVERIFY(once.readAllStandardOutput().contains("a\n"));

                const QString elsewhere = f.path("elsewhere");
                install(elsewhere);
                QVERIFY(QFile::copy(f.ini(), elsewhere + "/Pallwick.ini"));
                QProcess another;
                start(another, elsewhere, {});
                QVERIFY(!another.waitForFinished(1000));
                stop(another);
            }
            stop(window);
            QVERIFY(QFile::remove(f.path("dst/a")));
        }
        // The last window took its socket and lock with it.
        QCOMPARE(QDir(m_runtime).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
                 QStringList());
    }
};

QTEST_MAIN(tst_SingleInstance)
#include "tst_singleinstance.moc"
