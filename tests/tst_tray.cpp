// The tray icon observes and drives the main window: its tool tip, its menu
// (Start/Stop, Show window, Quit) and the notification after a pass with
// failures. Offscreen there is no tray, so the icon is made here by hand.
#include "app/TrayIcon.h"
#include "platform/CopyProgress.h"
#include "platform/PosixFileSystem.h"
#include "support/MemoryFileSystem.h"
#include "support/WindowFixture.h"

#include <QAction>
#include <QCheckBox>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <vector>

static const char LanguageFile[] =
    "[frmMain]\nt5=minutes\nt11=Stop\nt12=Start\nt13=Quit\nt14=Waiting\nt15=Busy\nt16=Stopped\n"
    "t17=next in\nt27=copying\nt30=files\nt32=Cancel\nt35=Error\n[Tray]\nAffected=files hit:\n";

class tst_Tray : public QObject
{
    Q_OBJECT

    WindowFixture f;
    std::unique_ptr<MemoryFileSystem> m_fs;

    std::unique_ptr<frmMain> open(const QByteArray &options = {})
    {
        writeFile(f.ini(), "[Options]\nLanguage=Test\nFrom=/src\nTo=/dst\nInterval=3\n" + options);
        return f.open();
    }

private slots:
    void init()
    {
        f.setUp("Test", LanguageFile);
        m_fs = std::make_unique<MemoryFileSystem>();
        f.fs = m_fs.get();
    }

    void cleanup()
    {
        CopyProgress::end();
        f.tearDown();
    }

    // The menu item is the button (text, state, handler); the tool tip is
    // the title.
    void startStopAndToolTip()
    {
        auto w = open();
        TrayIcon tray(*w);
        QAction *item = tray.startStopAction();
        QCOMPARE(item->text(), QStringLiteral("Start"));
        QCOMPARE(tray.toolTip(), QStringLiteral("Pallwick Lite - Stopped"));

        item->trigger();
        QVERIFY(w->Running);
        w->Timer1_Timer();
        QCOMPARE(tray.toolTip(), QStringLiteral("Pallwick Lite - Waiting (next in 2 minutes)"));
        emit tray.menu()->aboutToShow();
        QCOMPARE(item->text(), QStringLiteral("Stop"));
        item->trigger();
        QVERIFY(!w->Running);

        // A missing folder disables the button: the item neither offers nor
        // does a start.
        w->cmdStopStart->setEnabled(false);
        tray.updateMenu();
        QVERIFY(!item->isEnabled());
        item->setEnabled(true);
        item->trigger();
        QVERIFY(!w->Running);
    }

    // During a pass the item cancels, and the tool tip shows the share done
    // of a file above 64 MiB only.
    void duringAPass()
    {
        m_fs->files["/src/a"] = "1";
        m_fs->files["/src/b"] = "2";
        auto w = open("DoActionOnStart=1\n");
        TrayIcon tray(*w);
        QStringList seen;
        std::function<void()> whenBusy = [&] {
            if (!w->Busy)
                return QTimer::singleShot(0, w.get(), whenBusy);
            for (qint64 size : {CopyProgress::ShownAbove, CopyProgress::ShownAbove * 4}) {
                CopyProgress::begin(size);
                CopyProgress::advance(size / 4);
                tray.updateToolTip();
                seen << tray.toolTip();
            }
            tray.updateMenu();
            seen << tray.startStopAction()->text();
            tray.startStopAction()->trigger();
        };
        QTimer::singleShot(0, w.get(), whenBusy);
        w->cmdStopStart->click();
        const QString busy = QStringLiteral("Pallwick Lite - Busy (copying 2 files)");
        QCOMPARE(seen, (QStringList{busy, busy + " - 25%", "Cancel"}));
        QVERIFY(m_fs->files.size() < 4); // cancelled before the last file
    }

    // Quit closes as the close box does: through the save decision, here a
    // question answered No, so nothing is saved.
    void quitUsesTheSaveDecision()
    {
        int asked = 0;
        Prompt::setHook([&](const QString &, const QString &) { return ++asked, false; });
        auto w = open("Question=1\nSave=1\n");
        TrayIcon tray(*w);
        w->showMinimized();
        tray.showAction()->trigger();
        QVERIFY(w->isVisible() && !w->isMinimized());
        w->Check2->setChecked(true);
        tray.quitAction()->trigger();
        QVERIFY(!w->isVisible());
        QCOMPARE(asked, 1);
        QVERIFY(!f.settings().contains("Overwrite=1"));
    }

    void notification_data()
    {
        QTest::addColumn<QString>("failing"); // "op:path"
        QTest::addColumn<qint64>("freeBytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("all well") << "" << (qint64(1) << 40) << QString();
        QTest::newRow("one error") << "copy:/src/b" << (qint64(1) << 40) << "files hit: 1";
        QTest::newRow("refused and failed") << "copy:/src/a" << qint64(100) << "files hit: 3";
        QTest::newRow("source unreadable") << "list:/src" << (qint64(1) << 40) << "Error: /src";
    }

    void notification()
    {
        QFETCH(QString, failing);
        QFETCH(qint64, freeBytes);
        QFETCH(QString, expected);
        for (const char *name : {"/src/a", "/src/b", "/src/c"})
            m_fs->files[name] = QByteArray(2000, 'x');
        if (!failing.isEmpty())
            m_fs->failures[{failing.section(':', 0, 0), failing.section(':', 1)}] =
                FsResult::failure(EIO, "Input/output error");
        m_fs->freeBytes["/dst"] = freeBytes;
        auto w = open("CheckDestination=0\n");
        TrayIcon tray(*w);
        w->DoAction();
        QCOMPARE(tray.lastNotification(),
                 expected.isEmpty() ? QString() : "Pallwick Lite - Error\n" + expected);
    }

    // The real copy reports its way through a big file, step by step.
    void bigCopyReportsProgress()
    {
        static std::vector<std::pair<qint64, qint64>> steps;
        const qint64 size = CopyProgress::ShownAbove + 1000;
        writeFile(f.path("big"), QByteArray(size, 'b'));
        CopyProgress::setObserver([](qint64 done, qint64 total) {
            steps.push_back({done, total});
        });
        const FsResult copied = PosixFileSystem().copyFile(f.path("big"), f.path("copy"));
        CopyProgress::setObserver(nullptr);
        QVERIFY2(copied.ok(), qPrintable(copied.description));
        QVERIFY(steps.size() >= 3);
        QCOMPARE(steps.front(), std::make_pair(qint64(0), size));
        QCOMPARE(steps.back(), std::make_pair(size, size));
        QCOMPARE(CopyProgress::percent(), -1); // over: nothing to show any more
    }
};

QTEST_MAIN(tst_Tray)
#include "tst_tray.moc"
