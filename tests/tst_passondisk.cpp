// The pass against a real full disk, where the kernel allows mounting one.
#include "support/TestFiles.h"
#include "support/TestPassHost.h"

#include "platform/Clock.h"
#include "platform/PosixFileSystem.h"
#include "settings/modGlobal.h"
#include "transfer/EventRounds.h"
#include "transfer/TransferPass.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cstring>
#include <sys/mount.h>
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
    // batches after, and the file under way stays in the folder it began in.
    void destinationReplacedDuringAPass()
    {
        for (const QString name : {"a", "b", "c"})
            writeFile(path("src/") + name, name.toUtf8());
        QString first;
        PosixFileSystem::setStepHook([&](PosixFileSystem::Step step, const QByteArray &to) {
            if (step != PosixFileSystem::Step::Staged || !first.isEmpty())
                return;
            first = QFile::decodeName(to).section('/', -1);
            QVERIFY(QDir().rename(path("dst"), path("old")) && QDir().mkpath(path("dst")));
            QThread::msleep(2 * EventRounds::IntervalMs); // the batch's time is up
        });
        const auto unhook = qScopeGuard([] { PosixFileSystem::setStepHook({}); });
        QStringList lines = run();
        lines.sort();
        QCOMPARE(lines,
                 (QStringList{stamped("COPIED: a"), stamped("COPIED: b"), stamped("COPIED: c")}));
        QCOMPARE(QDir(path("old")).entryList(QDir::Files), QStringList{first});
        QStringList later = {"a", "b", "c"};
        later.removeOne(first);
        QCOMPARE(QDir(path("dst")).entryList(QDir::Files), later);
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
        if (::geteuid() != 0 || !QFile::exists("/dev/fuse"))
            QSKIP("needs root and FUSE");
        QVERIFY(QDir().mkpath(path("backing")));
        QProcess fs;
        fs.setProcessChannelMode(QProcess::ForwardedChannels);
        fs.start("/usr/bin/python3",
                 {QStringLiteral(PALLWICK_SOURCE_DIR "/tests/support/casefold_fs.py"),
                  path("backing"), path("dst")});
        const auto unmount = qScopeGuard([&] {
            cleanup();
            fs.waitForFinished(5000);
        });
        QElapsedTimer waited;
        waited.start();
        while (!fileBytes("/proc/self/mounts").contains(QFile::encodeName(path("dst")) + " ")) {
            if (fs.state() == QProcess::NotRunning || waited.elapsed() > 10000)
                QSKIP("the FUSE folder does not mount (python3-fusepy missing?)");
            QThread::msleep(20);
        }

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
