// The tray icon observes and drives the main window: its tool tip, its menu
// (Start/Stop, Show window, Quit) and the notification after a pass with
// failures. Offscreen there is no tray, so the icon is made here by hand.
#include "app/Prompt.h"
#include "app/TrayIcon.h"
#include "app/frmMain.h"
#include "platform/Clock.h"
#include "platform/CopyProgress.h"
#include "platform/PosixFileSystem.h"
#include "platform/UserStore.h"
#include "support/MemoryFileSystem.h"
#include "support/TestFiles.h"

#include <QAction>
#include <QCheckBox>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <vector>

static const char LanguageFile[] =
    "[frmMain]\nt4=minute\nt5=minutes\nt11=Stop\nt12=Start\nt13=Quit\nt14=Waiting\nt15=Busy\n"
    "t16=Stopped\nt17=next in\nt20=no room\nt22=not copied\nt25=copied\nt27=copying\n"
    "t29=file\nt30=files\nt32=Cancel\nt35=Error\n"
    "[Tray]\nAffected=files hit:\n";

class tst_Tray : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    MemoryFileSystem m_fs;
    FixedClock m_clock{QDateTime(QDate(2026, 12, 6), QTime(10, 20, 30))};

    QString path(const QString &name) const { return m_dir->filePath(name); }

    void writeJob(const QByteArray &extra = {})
    {
        writeFile(path("Pallwick.ini"),
                  "[Options]\nLanguage=Test\nFrom=/src\nTo=/dst\nInterval=3\n" + extra);
    }

    std::unique_ptr<frmMain> open()
    {
        frmMain::Environment env;
        env.programFolder = m_dir->path();
        env.fs = &m_fs;
        env.clock = &m_clock;
        return std::make_unique<frmMain>(QStringList{}, env);
    }

    static void whenBusy(frmMain &w, std::function<void()> action)
    {
        QTimer::singleShot(0, &w, [&w, action] {
            if (w.Busy)
                action();
            else
                whenBusy(w, action);
        });
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir(m_dir->path()).mkpath("lang"));
        QVERIFY(QDir(m_dir->path()).mkpath("store"));
        writeFile(path("lang/Test.dat"), LanguageFile);
        UserStore::setLocation(path("store"));
        m_fs.files.clear();
        m_fs.failures.clear();
        m_fs.freeBytes.clear();
        m_fs.copyDelayMs = 0;
    }

    void cleanup()
    {
        Prompt::setHook({});
        CopyProgress::end();
        m_dir.reset();
    }

    void toolTipIsTheWindowTitle()
    {
        writeJob();
        auto w = open();
        TrayIcon tray(*w);
        QCOMPARE(tray.toolTip(), QStringLiteral("Pallwick Lite - Stopped"));
        tray.startStopAction()->trigger();
        QCOMPARE(tray.toolTip(), QStringLiteral("Pallwick Lite - Waiting (next in 3 minutes)"));
        w->Timer1_Timer();
        QCOMPARE(tray.toolTip(), QStringLiteral("Pallwick Lite - Waiting (next in 2 minutes)"));
        QCOMPARE(tray.toolTip(), w->windowTitle());
    }

    // The menu item is the button: its text, its state and its handler.
    void startStopFollowsTheButton()
    {
        writeJob();
        auto w = open();
        TrayIcon tray(*w);
        QAction *item = tray.startStopAction();
        QCOMPARE(item->text(), QStringLiteral("Start"));
        QCOMPARE(tray.quitAction()->text(), QStringLiteral("Quit"));
        QCOMPARE(tray.showAction()->text(), QStringLiteral("&Show window"));

        item->trigger();
        QVERIFY(w->Running);
        emit tray.menu()->aboutToShow();
        QCOMPARE(item->text(), QStringLiteral("Stop"));
        item->trigger();
        QVERIFY(!w->Running);
        QVERIFY(w->activityLog().line(w->activityLog().count() - 1).endsWith(" - "));

        // A missing folder disables the button, and so the item.
        w->cmdStopStart->setEnabled(false);
        tray.updateMenu();
        QVERIFY(!item->isEnabled());
        item->setEnabled(true); // even when triggered anyway, the rules hold
        item->trigger();
        QVERIFY(!w->Running);
    }

    // During a pass the item cancels, and the tool tip shows the share done
    // of a big file only.
    void duringAPass()
    {
        writeJob("DoActionOnStart=1\n");
        m_fs.files["/src/a"] = "1";
        m_fs.files["/src/b"] = "2";
        m_fs.copyDelayMs = 20;
        auto w = open();
        TrayIcon tray(*w);
        QString menuText, smallTip, bigTip;
        whenBusy(*w, [&] {
            CopyProgress::begin(CopyProgress::ShownAbove);
            CopyProgress::advance(CopyProgress::ShownAbove / 2);
            tray.updateToolTip();
            smallTip = tray.toolTip();
            CopyProgress::begin(400 << 20);
            CopyProgress::advance(100 << 20);
            tray.updateToolTip();
            bigTip = tray.toolTip();
            CopyProgress::end();
            tray.updateMenu();
            menuText = tray.startStopAction()->text();
            tray.startStopAction()->trigger();
        });
        w->cmdStopStart->click();
        const QString busyTitle = QStringLiteral("Pallwick Lite - Busy (copying 2 files)");
        QCOMPARE(smallTip, busyTitle);
        QCOMPARE(bigTip, busyTitle + " - 25%");
        QCOMPARE(menuText, QStringLiteral("Cancel"));
        QVERIFY(m_fs.files.size() < 4); // cancelled before the last file
        QVERIFY(w->Running);
    }

    void quitUsesTheSaveDecision_data()
    {
        QTest::addColumn<QByteArray>("options");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("saved");
        QTest::newRow("save silently") << QByteArray("Save=1\n") << false << true;
        QTest::newRow("do not save") << QByteArray("Save=0\n") << false << false;
        QTest::newRow("asked, yes") << QByteArray("Question=1\n") << true << true;
        QTest::newRow("asked, no") << QByteArray("Question=1\nSave=1\n") << false << false;
    }

    void quitUsesTheSaveDecision()
    {
        QFETCH(QByteArray, options);
        QFETCH(bool, answer);
        QFETCH(bool, saved);
        writeJob(options);
        int asked = 0;
        Prompt::setHook([&](const QString &, const QString &) {
            ++asked;
            return answer;
        });
        auto w = open();
        TrayIcon tray(*w);
        w->show();
        w->Check2->setChecked(true);
        tray.quitAction()->trigger();
        QVERIFY(!w->isVisible());
        QCOMPARE(asked, options.contains("Question=1") ? 1 : 0);
        QCOMPARE(fileBytes(path("Pallwick.ini")).contains("Overwrite=1"), saved);
    }

    void showWindowBringsItBack()
    {
        writeJob();
        auto w = open();
        TrayIcon tray(*w);
        w->showMinimized();
        tray.showAction()->trigger();
        QVERIFY(w->isVisible());
        QVERIFY(!w->isMinimized());
    }

    void notificationCountsAffectedFiles_data()
    {
        QTest::addColumn<QStringList>("failing");
        QTest::addColumn<qint64>("freeBytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("all well") << QStringList{} << (qint64(1) << 40) << QString();
        QTest::newRow("one error")
            << QStringList{"/src/b"} << (qint64(1) << 40) << "Pallwick Lite - Error\nfiles hit: 1";
        QTest::newRow("refused and failed")
            << QStringList{"/src/a"} << qint64(100) << "Pallwick Lite - Error\nfiles hit: 3";
    }

    void notificationCountsAffectedFiles()
    {
        QFETCH(QStringList, failing);
        QFETCH(qint64, freeBytes);
        QFETCH(QString, expected);
        writeJob("CheckDestination=0\n");
        for (const char *name : {"/src/a", "/src/b", "/src/c"})
            m_fs.files[name] = QByteArray(2000, 'x');
        for (const QString &name : failing)
            m_fs.failures[{"copy", name}] = FsResult::failure(EIO, "Input/output error");
        m_fs.freeBytes["/dst"] = freeBytes;
        auto w = open();
        TrayIcon tray(*w);
        w->DoAction();
        QCOMPARE(tray.lastNotification(), expected);
    }

    void notificationForAnUnreadableSource()
    {
        writeJob();
        m_fs.failures[{"list", "/src"}] = FsResult::failure(EACCES, "Permission denied");
        auto w = open();
        TrayIcon tray(*w);
        w->DoAction();
        QCOMPARE(tray.lastNotification(), QStringLiteral("Pallwick Lite - Error\nError: /src"));
    }

    // The real copy reports its way through a big file, step by step.
    void bigCopyReportsProgress()
    {
        static std::vector<std::pair<qint64, qint64>> steps;
        steps.clear();
        const qint64 size = CopyProgress::ShownAbove + 1000;
        writeFile(path("big"), QByteArray(size, 'b'));
        CopyProgress::setObserver([](qint64 done, qint64 total) {
            steps.push_back({done, total});
        });
        PosixFileSystem fs;
        const FsResult copied = fs.copyFile(path("big"), path("copy"));
        CopyProgress::setObserver(nullptr);
        QVERIFY2(copied.ok(), qPrintable(copied.description));
        QVERIFY(steps.size() >= 3);
        QCOMPARE(steps.front(), std::make_pair(qint64(0), size));
        QCOMPARE(steps.back(), std::make_pair(size, size));
        for (size_t i = 1; i < steps.size(); ++i)
            QVERIFY(steps[i].first > steps[i - 1].first);
        QCOMPARE(CopyProgress::percent(), -1); // over: nothing to show any more
    }
};

QTEST_MAIN(tst_Tray)
#include "tst_tray.moc"
