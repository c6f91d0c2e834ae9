#include "support/MemoryFileSystem.h"
#include "support/TestPassHost.h"

#include "platform/Clock.h"
#include "settings/modGlobal.h"
#include "settings/modIniHandler.h"
#include "transfer/EventRounds.h"
#include "transfer/TransferPass.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>

class TransferPassTest : public QObject
{
    Q_OBJECT

    void runPass() { TransferPass(*m_host, *m_fs, m_clock).run(); }
    QStringList lines() const { return m_host->memoryLog.lines(); }
    QString stamped(const QString &text) const { return logStamp(m_clock) + " - " + text; }

    QTemporaryDir m_dir;
    FixedClock m_clock{QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9))};
    std::unique_ptr<TestPassHost> m_host;
    std::unique_ptr<MemoryFileSystem> m_fs;

private slots:
    void initTestCase() { modGlobal::IniFile = m_dir.filePath("Pallwick.ini"); }

    void init()
    {
        QFile::remove(modGlobal::IniFile);
        m_host = std::make_unique<TestPassHost>();
        m_fs = std::make_unique<MemoryFileSystem>();
    }

    // Every line form of the pass, and the files it leaves behind.
    void scenario_data()
    {
        QTest::addColumn<QString>("options"); // cancel:* before the first file, cancel:b during b
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<QString>("files"); // "path=content ..." before -> after
        QTest::newRow("copied") << "" << QStringList{stamped("COPIED: f")}
                                << "/src/f=new -> /dst/f=new /src/f=new";
        QTest::newRow("moved over an old file")
            << "move overwrite" << QStringList{stamped("MOVED (OVERWRITTEN): f")}
            << "/src/f=new /dst/f=old -> /dst/f=new";
        QTest::newRow("old file kept") << "" << QStringList{stamped("NOTCOPIED (EXISTS): f")}
                                       << "/src/f=new /dst/f=old -> /dst/f=old /src/f=new";
        QTest::newRow("no files") << "" << QStringList{stamped("INFO: NOFILES ")} << " -> ";
        QTest::newRow("cancel before the first file")
            << "cancel:*" << QStringList{"RESULT:  0 FILES"}
            << "/src/a=new /src/b=new -> /src/a=new /src/b=new";
        QTest::newRow("cancel during the second of three")
            << "move cancel:b"
            << QStringList{stamped("MOVED: a"), stamped("MOVED: b"), "RESULT: MOVED 2 FILES"}
            << "/src/a=new /src/b=new /src/c=new -> /dst/a=new /dst/b=new /src/c=new";
        // Deleting the "old" file there would delete the only copy.
        QTest::newRow("destination is the source folder")
            << "move overwrite same" << QStringList{stamped("NOTMOVED (EXISTS): f")}
            << "/src/f=new -> /src/f=new";
        // Another program writes the name while the copy is under way.
        QTest::newRow("appears during the copy")
            << "appear" << QStringList{stamped("NOTCOPIED (EXISTS): f")}
            << "/src/f=new -> /dst/f=theirs /src/f=new";
        // Overwriting is one step: the old file is there until the new one
        // takes the place of whatever is under its name then.
        QTest::newRow("written again just before the replace")
            << "move overwrite appear" << QStringList{stamped("MOVED (OVERWRITTEN): f")}
            << "/dst/f=old /src/f=new -> /dst/f=new";
        QTest::newRow("leftovers of a killed copy")
            << "leftovers"
            << QStringList{stamped("INFO: 2 temporary file(s) of an interrupted copy removed"),
                           stamped("COPIED: f")}
            << "/src/f=new -> /dst/f=new /src/f=new";
        // A USB stick: "photo.jpg" finds "Photo.JPG". Nothing is replaced by
        // or for a name in another letter case.
        const QString collision = "ERROR: the destination folder does not tell this name apart "
                                  "from \"Photo.JPG\", which this pass has just put there - "
                                  "photo.jpg";
        for (const QString options : {"ignorecase", "ignorecase overwrite"}) {
            QTest::addRow("copy, names differing in case, %s", qPrintable(options))
                << options << QStringList{stamped("COPIED: Photo.JPG"), stamped(collision)}
                << "/src/Photo.JPG=1 /src/photo.jpg=2 -> /dst/Photo.JPG=1 /src/Photo.JPG=1 "
                   "/src/photo.jpg=2";
            QTest::addRow("move, names differing in case, %s", qPrintable(options))
                << "move " + options << QStringList{stamped("MOVED: Photo.JPG"), stamped(collision)}
                << "/src/Photo.JPG=1 /src/photo.jpg=2 -> /dst/Photo.JPG=1 /src/photo.jpg=2";
        }
        QTest::newRow("older file in another case")
            << "ignorecase overwrite move" << QStringList{stamped("NOTMOVED (EXISTS): photo.jpg")}
            << "/dst/PHOTO.jpg=old /src/photo.jpg=new -> /dst/PHOTO.jpg=old /src/photo.jpg=new";
    }

    void scenario()
    {
        QFETCH(QString, options);
        QFETCH(QString, files);
        for (const QString &file : files.section(" -> ", 0, 0).split(' ', Qt::SkipEmptyParts))
            m_fs->files[file.section('=', 0, 0)] = file.section('=', 1).toUtf8();
        m_host->move = options.contains("move");
        m_host->overwrite = options.contains("overwrite");
        m_host->destination = options.contains("same") ? "/src/" : "/dst";
        m_fs->ignoreCase = options.contains("ignorecase");
        m_fs->leftovers = options.contains("leftovers") ? 2 : 0;
        if (options.contains("appear"))
            m_fs->beforePlacing = [&](const QString &destination) {
                m_fs->files[destination] = "theirs";
            };
        const QString cancelAt = options.section("cancel:", 1).section(' ', 0, 0);
        m_host->cancel = cancelAt == "*";
        // Files that last several event rounds: the Cancel comes while one is shown.
        m_fs->delayMs = cancelAt.isEmpty() ? 0 : 5 * EventRounds::IntervalMs;
        m_host->onEventRound = [&] {
            if (lines().endsWith((m_host->move ? "MOVING: " : "COPYING: ") + cancelAt))
                m_host->cancel = true;
        };
        runPass();

        QTEST(lines(), "log");
        QVERIFY(!m_host->cancel);
        QStringList after;
        for (auto it = m_fs->files.cbegin(); it != m_fs->files.cend(); ++it)
            after << it.key() + "=" + it.value();
        QCOMPARE(after.join(' '), files.section(" -> ", 1));
    }

    // The source folder's lock: held from the listing through the last file,
    // then let go. Held by another, the pass touches nothing and writes
    // nothing; refused by the file system, it runs without it and says so.
    void sourceFolderLock_data()
    {
        QTest::addColumn<int>("lockError");
        QTest::addColumn<bool>("listable");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<QString>("files"); // after
        const QString unlocked = "INFO: The source folder cannot be locked against other passes "
                                 "(%1); this pass runs without the lock";
        const QString leftover =
            stamped("INFO: 1 temporary file(s) of an interrupted copy removed");
        QTest::newRow("free") << 0 << true
                              << QStringList{leftover, stamped("MOVED (OVERWRITTEN): f")}
                              << "/dst/f=new";
        QTest::newRow("held by another")
            << EWOULDBLOCK << true << QStringList{} << "/dst/f=old /src/f=new";
        QTest::newRow("refused")
            << ENOLCK << true
            << QStringList{leftover, stamped(unlocked.arg(FsResult::fromErrno(ENOLCK).description)),
                           stamped("MOVED (OVERWRITTEN): f")}
            << "/dst/f=new";
        QTest::newRow("refused, not listable")
            << EACCES << false << QStringList{stamped("ERROR: denied - "), leftover}
            << "/dst/f=old /src/f=new";
    }

    void sourceFolderLock()
    {
        QFETCH(int, lockError);
        QFETCH(bool, listable);
        QFETCH(QString, files);
        m_fs->files = {{"/src/f", "new"}, {"/dst/f", "old"}};
        m_fs->leftovers = 1; // a held folder's pass leaves the destination alone too
        if (lockError)
            m_fs->failures[{"lock", "/src"}] = FsResult::fromErrno(lockError);
        if (!listable)
            m_fs->failures[{"list", "/src"}] = FsResult::failure(EACCES, "denied");
        m_host->move = m_host->overwrite = true;
        QStringList heldWhilePlacing;
        m_fs->beforePlacing = [&](const QString &) { heldWhilePlacing = m_fs->lockedFolders; };
        TransferPass pass(*m_host, *m_fs, m_clock);
        pass.run();

        QTEST(lines(), "log");
        QCOMPARE(pass.folderBusy(), lockError == EWOULDBLOCK);
        QCOMPARE(m_fs->leftovers, lockError == EWOULDBLOCK ? 1 : 0);
        QStringList after;
        for (auto it = m_fs->files.cbegin(); it != m_fs->files.cend(); ++it)
            after << it.key() + "=" + it.value();
        QCOMPARE(after.join(' '), files);
        QCOMPARE(heldWhilePlacing, lockError || !listable ? QStringList() : QStringList{"/src"});
        QVERIFY(m_fs->lockedFolders.isEmpty());
    }

    void destinationCheck_data()
    {
        QTest::addColumn<bool>("move");
        QTest::addColumn<QString>("drives"); // of source and destination
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("free");
        QTest::addColumn<QString>("setting"); // CheckDestination; "": none saved
        QTest::addColumn<bool>("allowed");
        const qint64 big = (qint64(4) << 30) + 1; // over 4 GiB
        QTest::newRow("move, 1024 free") << true << "d d" << 5000LL << 1024LL << "" << false;
        QTest::newRow("move, 1025 free") << true << "d d" << 5000LL << 1025LL << "" << true;
        QTest::newRow("copy, just fits") << false << "d d" << big << big + 1025 << "" << true;
        QTest::newRow("copy, just too big") << false << "d d" << big << big + 1024 << "" << false;
        QTest::newRow("move across drives") << true << "d e" << 4096LL << 5120LL << "" << false;
        QTest::newRow("unknown drives") << true << "" << 4096LL << 5120LL << "" << false;
        QTest::newRow("1: not checked") << false << "d d" << 4096LL << 0LL << "1" << true;
        QTest::newRow("2: not checked") << true << "d e" << 4096LL << 0LL << "2" << true;
        QTest::newRow("-1: not checked") << false << "d d" << 4096LL << -1LL << "-1" << true;
        QTest::newRow("not a number, room") << false << "d d" << 4096LL << 5121LL << "x" << true;
        QTest::newRow("not a number, full") << false << "d d" << 4096LL << 5120LL << "x" << false;
    }

    void destinationCheck()
    {
        QFETCH(bool, move);
        QFETCH(QString, drives);
        QFETCH(qint64, size);
        QFETCH(qint64, free);
        QFETCH(QString, setting);
        QFETCH(bool, allowed);
        if (!setting.isEmpty())
            WriteIni("Options", "CheckDestination", setting);
        m_fs->drives = {{"/src", drives.section(' ', 0, 0)}, {"/dst", drives.section(' ', 1)}};
        m_fs->freeBytes["/dst"] = free;
        m_fs->files["/src/f"] = "new";
        m_fs->sizes["/src/f"] = size;
        m_host->move = move;
        runPass();

        QCOMPARE(m_fs->files.contains("/dst/f"), allowed);
        QString line = allowed ? (move ? "MOVED: f" : "COPIED: f")
                               : (move ? "NOTMOVED - NOSPACE: f" : "NOTCOPIED - NOSPACE: f");
        if (setting == "x") // logged, then checked as 0: the error line is the file's only line
            line = "ERROR: CheckDestination is not a number: \"x\" - f";
        QCOMPARE(lines(), QStringList{stamped(line)});
    }

    // The setting is read for every file; a value saved while a file is
    // copied, even in place and at the same size, applies to the next file.
    void savedSettingAppliesToTheNextFile()
    {
        WriteIni("Options", "CheckDestination", "1");
        QThread::msleep(2100); // old enough for its stamp to be trusted
        m_fs->files = {{"/src/a", "new"}, {"/src/b", "new"}, {"/src/c", "new"}};
        m_fs->freeBytes["/dst"] = 0;
        m_fs->delayMs = 5 * EventRounds::IntervalMs;
        bool saved = false;
        m_host->onEventRound = [&] {
            if (saved || !m_fs->copying.load()) // a, past its check
                return;
            saved = true;
            QFile ini(modGlobal::IniFile);
            QVERIFY(ini.open(QIODevice::ReadWrite));
            const qint64 at = ini.readAll().indexOf("=1");
            QVERIFY(at > 0 && ini.seek(at + 1) && ini.write("0") == 1);
        };
        runPass();
        QCOMPARE(lines(), (QStringList{stamped("COPIED: a"), stamped("NOTCOPIED - NOSPACE: b"),
                                       stamped("NOTCOPIED - NOSPACE: c")}));
    }

    void failingOperation_data()
    {
        // Operation and path; "free": unknown free space. Overwrite is on, and an old "b" is
        // in the destination when the failing path is there. "trash": the old file is to go to
        // the trash first; "compare": a move that keeps both files unless they are identical.
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QStringList>("log");
        const auto run = [this](const QString &done) {
            return QStringList{stamped(done + ": a"), stamped("ERROR: Permission denied - b"),
                               stamped(done + ": c")};
        };
        const QString unknown = "ERROR: Free space of \"/dst\" cannot be determined - ";
        QTest::newRow("list") << "list /src" << QStringList{stamped("ERROR: Permission denied - ")};
        QTest::newRow("exists") << "exists /dst/b" << run("COPIED");
        QTest::newRow("replace") << "replace /dst/b" << run("COPIED");
        QTest::newRow("size") << "length /src/b" << run("COPIED");
        QTest::newRow("copy") << "copy /src/b" << run("COPIED");
        QTest::newRow("move") << "move /src/b" << run("MOVED");
        QTest::newRow("trash") << "trash /dst/b"
                               << QStringList{
                                      stamped("COPIED: a"),
                                      stamped("ERROR: the old file cannot go to the trash "
                                              "(Permission denied), so it is not replaced - b"),
                                      stamped("COPIED: c")};
        QTest::newRow("compare") << "compare /dst/b" << run("MOVED");
        QTest::newRow("free") << "free /dst"
                              << QStringList{stamped(unknown + "a"), stamped(unknown + "b"),
                                             stamped(unknown + "c")};
    }

    void failingOperation()
    {
        QFETCH(QString, failure);
        const QString op = failure.section(' ', 0, 0), path = failure.section(' ', 1);
        for (const char *file : {"/src/a", "/src/b", "/src/c"})
            m_fs->files[file] = "new";
        if (path == "/dst/b")
            m_fs->files[path] = "old";
        if (op == "free")
            m_fs->freeBytes[path] = -1;
        else
            m_fs->failures[{op, path}] = FsResult::failure(EACCES, "Permission denied");
        if (op == "trash")
            WriteIni("Options", "ReplaceToTrash", "1");
        if (op == "compare")
            WriteIni("Options", "NameTaken", "2");
        m_host->move = op == "move" || op == "compare";
        m_host->overwrite = op != "compare";
        m_host->memoryLog.append("earlier line"); // a failed listing replaces it
        runPass();

        QTEST(lines().mid(op == "list" ? 0 : 1), "log");
        QVERIFY(m_fs->files.contains("/src/b")); // never lost
        QCOMPARE(m_fs->files.value("/dst/b"), QByteArray(path == "/dst/b" ? "old" : ""));
    }

    // A Cancel clicked while a file is in progress reaches the worker at
    // once: it finishes that file and starts no other, also where the next
    // file belongs to the same batch (these take microseconds each). Moves
    // that wait for their batch's flush are completed and counted.
    void cancelStopsBeforeTheNextFile_data()
    {
        QTest::addColumn<QString>("action");
        QTest::newRow("copy") << "copy";
        QTest::newRow("move") << "move";
        QTest::newRow("gathered moves") << "gather";
    }

    void cancelStopsBeforeTheNextFile()
    {
        QFETCH(QString, action);
        for (char c = 'a'; c <= 'z'; ++c)
            m_fs->files[QString("/src/") + c] = "new";
        m_host->move = action != "copy";
        m_fs->gatherMoves = action == "gather";
        std::atomic<bool> atB{false}, clicked{false};
        // b waits on the worker until the click was handled on this thread.
        const auto waitForClick = [&](const QString &destination) {
            if (destination != "/dst/b")
                return;
            atB = true;
            QDeadlineTimer deadline(5000);
            while (!clicked && !deadline.hasExpired())
                QThread::usleep(50);
        };
        m_fs->beforePlacing = waitForClick;
        m_fs->staged = waitForClick;
        QTimer click;
        connect(&click, &QTimer::timeout, [&] {
            if (atB && !clicked) {
                m_host->requestCancel();
                clicked = true;
            }
        });
        click.start(0);
        runPass();

        const QString done = m_host->move ? "MOVED" : "COPIED";
        QCOMPARE(lines(), (QStringList{stamped(done + ": a"), stamped(done + ": b"),
                                       "RESULT: " + done + " 2 FILES"}));
        QCOMPARE(m_fs->files.keys().filter("/dst/"), (QStringList{"/dst/a", "/dst/b"}));
        QCOMPARE(m_fs->files.contains("/src/b"), !m_host->move);
        QVERIFY(!m_host->gate().cancelled()); // nothing left over for the next pass
    }

    // The controls are locked for files only, and the files are handled off
    // the UI thread.
    // A file system without batches still has many files to a round of the
    // worker, not one round (with its folder hold) per file.
    void roundsWithoutBatches()
    {
        for (int i = 0; i < 50; ++i)
            m_fs->files[QString("/src/f%1").arg(i, 2, 10, QChar('0'))] = "x";
        runPass();
        QCOMPARE(lines().filter("COPIED: ").size(), 50);
        QVERIFY2(m_fs->batchesAsked < 25, qPrintable(QString::number(m_fs->batchesAsked)));
    }

    void fileOperationsRunOffTheUiThread()
    {
        runPass(); // an empty folder
        QVERIFY(m_host->calls.isEmpty());
        m_fs->files = {{"/src/a", "new"}, {"/src/b", "new"}, {"/dst/a", "old"}};
        m_fs->delayMs = 300;
        m_host->overwrite = true;
        // Not one of the pass's own event points: only the wait for the worker
        // can see the copy under way and take a Cancel click meanwhile.
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] { m_host->cancel |= m_fs->copying.load(); });
        poll.start(10);
        runPass();

        QCOMPARE(lines().mid(1),
                 (QStringList{stamped("COPIED (OVERWRITTEN): a"), "RESULT: COPIED 1 FILE"}));
        QCOMPARE(m_host->calls, (QStringList{"busy", "off|FILES|2", "on||", "idle"}));
        QCOMPARE(m_fs->threads.size(), 1); // the replace's
        QVERIFY(!m_fs->threads.contains(QThread::currentThread()));
    }
};

QTEST_GUILESS_MAIN(TransferPassTest)
#include "tst_transferpass.moc"
