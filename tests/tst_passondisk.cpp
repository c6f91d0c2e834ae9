// The pass against a real full disk, where the kernel allows mounting one.
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
    }
};

QTEST_GUILESS_MAIN(PassOnDiskTest)
#include "tst_passondisk.moc"
