#include "platform/PosixFileSystem.h"
#include "support/FaultyFileSystem.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The wrapper other tests use to reach error paths: it must fail exactly the
// calls it was armed for and pass everything else through untouched.
class tst_FaultyFileSystem : public QObject
{
    Q_OBJECT

private slots:
    void armedFailures_data();
    void armedFailures();
    void fixedAnswers();
};

void tst_FaultyFileSystem::armedFailures_data()
{
    QTest::addColumn<bool>("once");
    QTest::addColumn<QString>("armedPath"); // relative; "" for any path
    QTest::addColumn<QList<int>>("errors"); // of copying a, b, a in this order

    QTest::newRow("next, any path") << true << "" << QList<int>{ENOSPC, 0, 0};
    QTest::newRow("always, any path") << false << "" << QList<int>{ENOSPC, ENOSPC, ENOSPC};
    QTest::newRow("next, for b") << true << "b" << QList<int>{0, ENOSPC, 0};
    QTest::newRow("always, for a") << false << "a" << QList<int>{ENOSPC, 0, ENOSPC};
    QTest::newRow("always, for a destination")
        << false << "a.copy" << QList<int>{ENOSPC, 0, ENOSPC};
}

void tst_FaultyFileSystem::armedFailures()
{
    QFETCH(bool, once);
    QFETCH(QString, armedPath);
    QFETCH(QList<int>, errors);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const char *name : {"a", "b"}) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(name);
    }
    PosixFileSystem real;
    FaultyFileSystem fs(real);
    const QString armed = armedPath.isEmpty() ? armedPath : dir.filePath(armedPath);
    if (once)
        fs.failNext(FaultyFileSystem::Op::Copy, ENOSPC, "No space left on device", armed);
    else
        fs.failAlways(FaultyFileSystem::Op::Copy, ENOSPC, "No space left on device", armed);
    fs.failAlways(FaultyFileSystem::Op::Move, EACCES, "Permission denied");

    const QStringList names{"a", "b", "a"};
    for (int i = 0; i < names.size(); ++i) {
        const QString source = dir.filePath(names[i]);
        QFile::remove(source + ".copy");
        const FsResult result = fs.copyFile(source, source + ".copy");
        QCOMPARE(result.error, errors[i]);
        QCOMPARE(QFile::exists(source + ".copy"), errors[i] == 0);
        if (!result.ok())
            QCOMPARE(result.description, QString("No space left on device"));
    }
    QCOMPARE(fs.moveFile(dir.filePath("a"), dir.filePath("c")).error, EACCES);
    QVERIFY(QFile::exists(dir.filePath("a")));
    QVERIFY(fs.deleteFile(dir.filePath("b")).ok());
    QVERIFY(!QFile::exists(dir.filePath("b")));
    QCOMPARE(fs.calls().size(), 5);
}

void tst_FaultyFileSystem::fixedAnswers()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    PosixFileSystem real;
    FaultyFileSystem fs(real);
    const QString drive = real.driveName(dir.path());

    fs.setFreeSpace(2048);
    fs.setFileLength(1LL << 33);
    fs.setDriveName("/src", "A:");
    QCOMPARE(fs.freeSpace(dir.path()), qint64(2048));
    QCOMPARE(fs.fileLength(dir.filePath("missing")).value, qint64(1) << 33);
    QCOMPARE(fs.driveName("/src"), QString("A:"));
    QCOMPARE(fs.driveName(dir.path()), drive);

    fs.reset();
    QCOMPARE(fs.freeSpace(dir.path()), real.freeSpace(dir.path()));
    QCOMPARE(fs.fileLength(dir.filePath("missing")).error, ENOENT);
    QCOMPARE(fs.driveName("/src"), real.driveName("/src"));
}

QTEST_GUILESS_MAIN(tst_FaultyFileSystem)
#include "tst_faultyfilesystem.moc"
