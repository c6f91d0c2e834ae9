// The pass against a real full disk, where the kernel allows mounting one.
#include "support/FuseMount.h"
#include "support/TestFiles.h"
#include "support/TestPassHost.h"

#include "platform/Clock.h"
#include "platform/PosixFileSystem.h"
#include "settings/modGlobal.h"
#include "transfer/EventRounds.h"
#include "transfer/TransferPass.h"

#include <QDir>
#include <QMap>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

class PassOnDiskTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    FixedClock m_clock{QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9))};
    PosixFileSystem m_fs;

    std::unique_ptr<TestPassHost> m_host;

    QString path(const QString &name) const { return m_dir.filePath(name); }
    QStringList run()
    {
        TransferPass(*m_host, m_fs, m_clock).run();
        return m_host->memoryLog.lines();
    }
    bool mountTmpfs(const char *size)
    {
        return ::mount("tmpfs", QFile::encodeName(path("dst")).constData(), "tmpfs", 0, size) == 0;
    }
    QString stamped(const QString &text) const { return logStamp(m_clock) + " - " + text; }

    // Sources of distinct content: many small files and one larger.
    QMap<QString, QByteArray> writeSources(int small, int smallSize, int largeSize)
    {
        QMap<QString, QByteArray> files;
        for (int i = 0; i <= small; ++i) {
            const QString name = i < small ? QString::asprintf("f%03d", i) : QString("large");
            QByteArray bytes = name.toUtf8().repeated((i < small ? smallSize : largeSize) / 4);
            writeFile(path("src/") + name, bytes);
            files.insert(name, bytes);
        }
        return files;
    }
    // What a power failure leaves on the FUSE drive: the unsynced data goes.
    void powerOff() { QVERIFY(!QFile::exists(path("dst/.power-off"))); }

private slots:
    void init()
    {
        QVERIFY(QDir(m_dir.path()).removeRecursively() && QDir().mkpath(path("src")) &&
                QDir().mkpath(path("dst")));
        modGlobal::IniFile = path("Pallwick.ini");
        m_host = std::make_unique<TestPassHost>();
        m_host->source = path("src");
        m_host->destination = path("dst");
    }
    void cleanup() { ::umount2(QFile::encodeName(path("dst")).constData(), MNT_DETACH); }

    void fullDisk()
    {
        if (!mountTmpfs("size=64k"))
            QSKIP("needs root and a working tmpfs mount");
        writeFile(path("src/big"), QByteArray(1 << 20, 'x'));

        // With the check the file is refused; without it the kernel refuses
        // it, and no partial or temporary file stays behind.
        QCOMPARE(run(), QStringList{stamped("NOTCOPIED - NOSPACE: big")});
        writeFile(modGlobal::IniFile, "[Options]\nCheckDestination=1\n");
        m_host->memoryLog.removeLast();
        QCOMPARE(run(), QStringList{stamped(
                            "ERROR: " + QString::fromLocal8Bit(std::strerror(ENOSPC)) + " - big")});
        QVERIFY(QDir(path("dst")).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
        QCOMPARE(QFileInfo(path("src/big")).size(), 1 << 20);
    }

    // To another file system in gathered batches: every file arrives, every
    // source goes, each with its own line.
    void moveToAnotherFileSystem()
    {
        if (!mountTmpfs("size=16m"))
            QSKIP("needs root and a working tmpfs mount");
        QStringList expected;
        for (int i = 0; i < 300; ++i) {
            const QString name = QString::asprintf("f%03d", i);
            writeFile(path("src/") + name, name.toUtf8().repeated(100));
            expected << stamped("MOVED: " + name);
        }
        m_host->move = true;
        QStringList lines = run();
        lines.sort();
        QCOMPARE(lines, expected);
        QVERIFY(QDir(path("src")).isEmpty());
        QCOMPARE(QDir(path("dst")).count(), 302u); // with . and ..
        QCOMPARE(fileBytes(path("dst/f123")), QByteArray("f123").repeated(100));
    }

    // A pass keeps its folders open for one batch of files at a time: a
    // destination renamed and made anew during a pass gets the files of the
    // batches after, and the batch under way stays in the folder it began in.
    // A batch holds at most 512 files, so 520 make at least two.
    void destinationReplacedDuringAPass()
    {
        QStringList names;
        for (int i = 0; i < 520; ++i) {
            names << QString::asprintf("f%03d", i);
            writeFile(path("src/") + names.last(), names.last().toUtf8());
        }
        bool renamed = false;
        PosixFileSystem::setStepHook([&](PosixFileSystem::Step step, const QByteArray &) {
            if (step != PosixFileSystem::Step::Staged || renamed)
                return;
            renamed = true;
            QVERIFY(QDir().rename(path("dst"), path("old")) && QDir().mkpath(path("dst")));
        });
        const auto unhook = qScopeGuard([] { PosixFileSystem::setStepHook({}); });
        const QStringList lines = run();
        QStringList done = lines; // in the order the pass took the files
        done.replaceInStrings(stamped("COPIED: "), QString());
        QStringList sorted = done;
        sorted.sort();
        QCOMPARE(sorted, names);
        QStringList old = QDir(path("old")).entryList(QDir::Files);
        const QStringList later = QDir(path("dst")).entryList(QDir::Files);
        QVERIFY(!old.isEmpty() && !later.isEmpty());
        QCOMPARE(old.size() + later.size(), names.size());
        QStringList first = done.mid(0, old.size()), rest = done.mid(old.size());
        first.sort();
        rest.sort();
        QCOMPARE(old, first);
        QCOMPARE(later, rest);
    }

    // Staged copies stay open until their batch is flushed: however low the
    // limit of open files, a batch keeps within it.
    void batchKeepsWithinOpenFileLimit()
    {
        for (int i = 0; i < 300; ++i)
            writeFile(path("src/") + QString::asprintf("f%03d", i), "x");
        m_fs.newMoveBatch()->capacity(); // raises the limit once, before it is lowered here
        struct rlimit saved;
        QVERIFY(::getrlimit(RLIMIT_NOFILE, &saved) == 0);
        struct rlimit low = saved;
        low.rlim_cur = 160;
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &low) == 0);
        const auto restore = qScopeGuard([&] { ::setrlimit(RLIMIT_NOFILE, &saved); });
        const QStringList lines = run();
        QCOMPARE(lines.filter("COPIED: ").size(), 300);
        QCOMPARE(lines.size(), 300);
        QCOMPARE(QDir(path("dst")).entryList(QDir::Files).size(), 300);
    }

    void powerLossOnFuseDestination_data()
    {
        QTest::addColumn<bool>("move");
        QTest::newRow("copy") << false;
        QTest::newRow("move") << true;
    }
    // A drive that keeps written data in a cache until it is fsynced (FUSE,
    // network): after a pass and a power failure every file is whole in one
    // of the two folders, the destination holds no short copy, and every
    // file the log calls done is whole in the destination.
    void powerLossOnFuseDestination()
    {
        QFETCH(bool, move);
        FuseMount fs("volatile_fs.py", {}, path("backing"), path("dst"));
        if (!fs.skipReason.isEmpty())
            QSKIP(qPrintable(fs.skipReason));
        const QMap<QString, QByteArray> files = writeSources(40, 64 << 10, 4 << 20);
        m_host->move = move;
        const QStringList lines = run();
        powerOff();

        QCOMPARE(lines.size(), files.size());
        for (const QString &name : files.keys()) {
            QCOMPARE(lines.count(stamped((move ? "MOVED: " : "COPIED: ") + name)), 1);
            QCOMPARE(fileBytes(path("backing/") + name).size(), files[name].size());
            QVERIFY(fileBytes(path("backing/") + name) == files[name]);
            QCOMPARE(QFile::exists(path("src/") + name), !move);
        }
    }

    void flushErrorsOnFuseDestination_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("move");
        for (const bool move : {false, true}) {
            const char *action = move ? "move" : "copy";
            QTest::addRow("%s, full", action)
                << QStringList{"--capacity", "300000"} << ENOSPC << move;
            QTest::addRow("%s, fsync fails", action)
                << QStringList{"--fail", "fsync"} << EIO << move;
            QTest::addRow("%s, close fails", action)
                << QStringList{"--fail", "close"} << EIO << move;
            QTest::addRow("%s, only the first close fails", action)
                << QStringList{"--fail", "first-close"} << EIO << move;
            QTest::addRow("%s, only later closes fail", action)
                << QStringList{"--fail", "later-close"} << EIO << move;
            QTest::addRow("%s, folder flush fails", action)
                << QStringList{"--fail", "fsyncdir"} << EIO << move;
        }
    }
    // Errors that show only when the data is flushed (a full drive, a failing
    // fsync, close or folder flush): an error line for each file concerned,
    // its source stays, and no copy of it is left, whole or short, after a
    // power failure.
    void flushErrorsOnFuseDestination()
    {
        QFETCH(QStringList, options);
        QFETCH(int, error);
        QFETCH(bool, move);
        FuseMount fs("volatile_fs.py", options, path("backing"), path("dst"));
        if (!fs.skipReason.isEmpty())
            QSKIP(qPrintable(fs.skipReason));
        const QMap<QString, QByteArray> files = writeSources(6, 64 << 10, 1 << 20);
        m_host->move = move;
        const QStringList lines = run();
        powerOff();

        const QString failed = "ERROR: " + QString::fromLocal8Bit(std::strerror(error)) + " - ";
        int failures = 0;
        for (const QString &name : files.keys()) {
            const bool done = lines.contains(stamped((move ? "MOVED: " : "COPIED: ") + name));
            QCOMPARE(lines.contains(stamped(failed + name)), !done);
            failures += done ? 0 : 1;
            QCOMPARE(fileBytes(path("src/") + name), done && move ? QByteArray() : files[name]);
            QCOMPARE(fileBytes(path("backing/") + name), done ? files[name] : QByteArray());
            QCOMPARE(QFile::exists(path("backing/") + name), done);
        }
        QVERIFY(failures > 0);
        QCOMPARE(failures == files.size(), options.first() == "--fail");
        QCOMPARE(QDir(path("backing")).entryList(QDir::Files | QDir::Hidden).size(),
                 files.size() - failures);
    }

    void caseInsensitiveDestination_data()
    {
        QTest::addColumn<bool>("move");
        QTest::addColumn<bool>("overwrite");
        for (const bool move : {false, true})
            for (const bool overwrite : {false, true})
                QTest::addRow("%s%s", move ? "move" : "copy", overwrite ? ", overwrite" : "")
                    << move << overwrite;
    }
    // A folder that ignores letter case, as on a USB stick: of two source
    // files whose names differ only in case, the second stays where it is,
    // and an older file in another case is never deleted for it.
    void caseInsensitiveDestination()
    {
        QFETCH(bool, move);
        QFETCH(bool, overwrite);
        FuseMount fs("casefold_fs.py", {}, path("backing"), path("dst"));
        if (!fs.skipReason.isEmpty())
            QSKIP(qPrintable(fs.skipReason));

        writeFile(path("src/Photo.JPG"), "first");
        writeFile(path("src/photo.jpg"), "second");
        writeFile(path("src/NOTES.txt"), "new notes");
        writeFile(path("dst/notes.TXT"), "old notes");
        m_host->move = move;
        m_host->overwrite = overwrite;
        const QStringList lines = run();

        const QString done = move ? "MOVED" : "COPIED", notDone = move ? "NOTMOVED" : "NOTCOPIED";
        QVERIFY2(lines.contains(stamped(done + ": Photo.JPG")), qPrintable(lines.join('\n')));
        QVERIFY(lines.contains(stamped(notDone + " (EXISTS): NOTES.txt")));
        QVERIFY(lines.filter("ERROR:").size() == 1 &&
                lines.filter("ERROR:").first().endsWith("\"Photo.JPG\", which this pass has "
                                                        "just put there - photo.jpg"));
        QCOMPARE(QDir(path("backing")).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                 (QStringList{"Photo.JPG", "notes.TXT"}));
        QCOMPARE(fileBytes(path("backing/Photo.JPG")) + fileBytes(path("backing/notes.TXT")),
                 "firstold notes");
        QCOMPARE(fileBytes(path("src/photo.jpg")) + fileBytes(path("src/NOTES.txt")),
                 "secondnew notes");
    }
};

QTEST_GUILESS_MAIN(PassOnDiskTest)
#include "tst_passondisk.moc"
