// The pass against the real file system: what a user's folders hold, and a
// real full disk where the kernel allows mounting one.
#include "support/TestFiles.h"
#include "support/TestPassHost.h"

#include "platform/Clock.h"
#include "platform/PosixFileSystem.h"
#include "settings/modGlobal.h"
#include "transfer/TransferPass.h"

#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>

class PassOnDiskTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    FixedClock m_clock{QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9))};
    PosixFileSystem m_fs;

    QString path(const QString &name) const { return m_dir.filePath(name); }
    QStringList run(TestPassHost &host)
    {
        TransferPass(host, m_fs, m_clock).run();
        return host.memoryLog.lines();
    }
    QString stamped(const QString &text) const { return logStamp(m_clock) + " - " + text; }

private slots:
    void init()
    {
        QVERIFY(QDir(m_dir.path()).removeRecursively() && QDir().mkpath(path("src")) &&
                QDir().mkpath(path("dst")));
        modGlobal::IniFile = path("Pallwick.ini");
    }

    // Only plain files travel; odd names arrive unchanged; a destination that
    // names the source folder loses nothing.
    void userFolders()
    {
        writeFile(path("src/a b"), "blank");
        writeFile(path("src/new\nline"), "newline");
        writeFile(path("src/.hidden"), "hidden");
        QVERIFY(::mkfifo(QFile::encodeName(path("src/pipe")).constData(), 0644) == 0);
        QVERIFY(QFile::link(path("src/a b"), path("src/link")));
        QVERIFY(QDir().mkpath(path("src/sub")));

        TestPassHost host;
        host.source = path("src");
        host.destination = path("dst");
        QStringList log = run(host);
        log.sort();
        QCOMPARE(log, (QStringList{stamped("COPIED: a b"), stamped("COPIED: new\nline")}));
        QCOMPARE(
            QDir(path("dst")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            (QStringList{"a b", "new\nline"}));
        QCOMPARE(fileBytes(path("dst/new\nline")), QByteArray("newline"));

        TestPassHost same;
        same.source = path("src");
        same.destination = path("src") + "//";
        same.move = same.overwrite = true;
        QCOMPARE(run(same).size(), 2);
        QCOMPARE(same.memoryLog.line(0).left(stamped("NOTMOVED (EXISTS)").size()),
                 stamped("NOTMOVED (EXISTS)"));
        QCOMPARE(fileBytes(path("src/a b")), QByteArray("blank"));
    }

    void fullDisk()
    {
        const QByteArray mount = QFile::encodeName(path("dst"));
        if (::mount("tmpfs", mount.constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("needs root and a working tmpfs mount");
        const auto unmount = qScopeGuard([&] { ::umount2(mount.constData(), MNT_DETACH); });
        writeFile(path("src/big"), QByteArray(1 << 20, 'x'));
        TestPassHost host;
        host.source = path("src");
        host.destination = path("dst");

        // With the check the file is refused; without it the kernel refuses
        // it, and no partial or temporary file stays behind.
        QCOMPARE(run(host), QStringList{stamped("NOTCOPIED - NOSPACE: big")});
        writeFile(modGlobal::IniFile, "[Options]\nCheckDestination=1\n");
        host.memoryLog.removeLast();
        QCOMPARE(run(host),
                 QStringList{stamped("ERROR: " + QString::fromLocal8Bit(std::strerror(ENOSPC)) +
                                     " - big")});
        QVERIFY(QDir(path("dst")).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
        QCOMPARE(QFileInfo(path("src/big")).size(), 1 << 20);

        // A move across file systems arrives whole and only then leaves.
        writeFile(path("src/big"), "small now");
        host.move = true;
        host.memoryLog.removeLast();
        QCOMPARE(run(host), QStringList{stamped("MOVED: big")});
        QVERIFY(!QFile::exists(path("src/big")));
        QCOMPARE(fileBytes(path("dst/big")), QByteArray("small now"));
    }
};

QTEST_GUILESS_MAIN(PassOnDiskTest)
#include "tst_passondisk.moc"
