#include "support/MemoryFileSystem.h"
#include "support/TestPassHost.h"

#include "platform/Clock.h"
#include "settings/modGlobal.h"
#include "transfer/TransferPass.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using Op = MemoryFileSystem::Op;

class TransferPassTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void emptyFolderWritesOneNoFilesLine();
    void failingListingReplacesLastLine();
    void oneFile_data();
    void oneFile();
    void severalFilesInListingOrder();
    void cancel_data();
    void cancel();
    void existingDestination_data();
    void existingDestination();
    void sameFolderNeverLosesAFile_data();
    void sameFolderNeverLosesAFile();
    void freeSpaceRules_data();
    void freeSpaceRules();
    void checkDestinationSetting_data();
    void checkDestinationSetting();
    void checkDestinationIsReadForEachFile();
    void failingStepGivesErrorLineOnly_data();
    void failingStepGivesErrorLineOnly();
    void unknownFreeSpaceNeverTransfers();
    void fileOperationsRunOffTheCallingThread();
    void eventsAreHandledDuringASlowCopy();
    void copyEndingInsideAModalLoopIsNotLost();

private:
    void runPass() { TransferPass(*m_host, *m_fs, m_clock).run(); }
    void writeSetting(const QString &value);

    QString stamp() const { return logStamp(m_clock); }
    QString done(const QString &text, const QString &name) const
    {
        return stamp() + " - " + text + ": " + name;
    }
    QString remark(const QString &text, const QString &why, const QString &name) const
    {
        return stamp() + " - " + text + " (" + why + "): " + name;
    }
    QString refusal(const QString &text, const QString &name) const
    {
        return stamp() + " - " + text + " - NOSPACE: " + name;
    }
    QString error(const QString &description, const QString &name) const
    {
        return stamp() + " - ERROR: " + description + " - " + name;
    }

    QTemporaryDir m_dir;
    FixedClock m_clock{QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9))};
    std::unique_ptr<TestPassHost> m_host;
    std::unique_ptr<MemoryFileSystem> m_fs;
};

void TransferPassTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    modGlobal::IniFile = m_dir.filePath(QStringLiteral("Pallwick.ini"));
}

void TransferPassTest::init()
{
    QFile::remove(modGlobal::IniFile);
    m_host = std::make_unique<TestPassHost>();
    m_fs = std::make_unique<MemoryFileSystem>();
    m_fs->addFolder("/src");
    m_fs->addFolder("/dst");
}

void TransferPassTest::writeSetting(const QString &value)
{
    QFile file(modGlobal::IniFile);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[Options]\nCheckDestination=" + value.toUtf8() + "\n");
}

void TransferPassTest::emptyFolderWritesOneNoFilesLine()
{
    runPass();
    QCOMPARE(m_host->lines(), QStringList{stamp() + " - INFO: NOFILES "});
    QVERIFY(m_host->enableCalls.isEmpty());
    QVERIFY(m_host->busyCalls.isEmpty());
    QCOMPARE(m_host->pointerCalls, (QList<bool>{true, false}));
    QCOMPARE(m_host->memoryLog.selectedIndex(), 0);
}

void TransferPassTest::failingListingReplacesLastLine()
{
    m_host->memoryLog.append("earlier line");
    m_fs->failOn(Op::List, "/src", EIO, "Input/output error");
    runPass();
    QCOMPARE(m_host->lines(), QStringList{error("Input/output error", "")});
    QVERIFY(m_host->enableCalls.isEmpty());
    QVERIFY(m_host->busyCalls.isEmpty());
}

void TransferPassTest::oneFile_data()
{
    QTest::addColumn<bool>("move");
    QTest::addColumn<QString>("progress");
    QTest::addColumn<QString>("doneText");
    QTest::newRow("copy") << false << "COPYING"
                          << "COPIED";
    QTest::newRow("move") << true << "MOVING"
                          << "MOVED";
}

void TransferPassTest::oneFile()
{
    QFETCH(bool, move);
    QFETCH(QString, progress);
    QFETCH(QString, doneText);
    const QString name = "a b.txt"; // blanks are written as they are
    m_fs->addFile("/src", name, "payload");
    m_host->move = move;

    QStringList lastLineAtEvents;
    m_host->onProcessEvents = [&] { lastLineAtEvents << m_host->memoryLog.line(0); };
    runPass();

    QCOMPARE(m_host->lines(), QStringList{done(doneText, name)});
    QCOMPARE(m_host->memoryLog.appended,
             (QStringList{"Do Action", progress + ": " + name, done(doneText, name)}));
    // Events run before the placeholder and again while the progress line shows.
    QCOMPARE(lastLineAtEvents, (QStringList{QString(), progress + ": " + name}));
    QCOMPARE(m_host->enableCalls,
             (QList<TestPassHost::EnableCall>{{false, "FILE", "1"}, {true, QString(), QString()}}));
    QCOMPARE(m_host->busyCalls, (QList<bool>{true, false}));
    QCOMPARE(m_host->pointerCalls, (QList<bool>{true, false}));
    QCOMPARE(m_host->memoryLog.selectedIndex(), 0);
    QCOMPARE(m_fs->content("/dst", name), QByteArray("payload"));
    QCOMPARE(m_fs->has("/src", name), !move);
}

void TransferPassTest::severalFilesInListingOrder()
{
    for (const char *name : {"a", "b", "c"})
        m_fs->addFile("/src", name, name);
    runPass();
    QCOMPARE(m_host->lines(),
             (QStringList{done("COPIED", "a"), done("COPIED", "b"), done("COPIED", "c")}));
    QCOMPARE(m_host->enableCalls.value(0), (TestPassHost::EnableCall{false, "FILES", "3"}));
    QCOMPARE(m_host->memoryLog.selectedIndex(), 2);
}

void TransferPassTest::cancel_data()
{
    QTest::addColumn<bool>("move");
    QTest::addColumn<QString>("cancelDuring"); // "" = already set when the pass starts
    QTest::addColumn<int>("treated");
    QTest::addColumn<QString>("cancelLine");
    QTest::newRow("before the first file") << false << "" << 0 << "RESULT:  0 FILES";
    QTest::newRow("during the first") << false << "a" << 1 << "RESULT: COPIED 1 FILE";
    QTest::newRow("during the second") << false << "b" << 2 << "RESULT: COPIED 2 FILES";
    QTest::newRow("during the second, moving") << true << "b" << 2 << "RESULT: MOVED 2 FILES";
    QTest::newRow("during the last") << false << "e" << 5 << "RESULT: COPIED 5 FILES";
}

void TransferPassTest::cancel()
{
    QFETCH(bool, move);
    QFETCH(QString, cancelDuring);
    QFETCH(int, treated);
    QFETCH(QString, cancelLine);
    const QStringList names{"a", "b", "c", "d", "e"};
    for (const QString &name : names)
        m_fs->addFile("/src", name, name.toUtf8());
    m_host->move = move;
    const QString progress = move ? "MOVING: " : "COPYING: ";
    if (cancelDuring.isEmpty())
        m_host->cancel = true;
    m_host->onProcessEvents = [&] {
        if (m_host->lastLine() == progress + cancelDuring)
            m_host->cancel = true;
    };
    runPass();

    QStringList expected;
    for (int i = 0; i < treated; ++i)
        expected << done(move ? "MOVED" : "COPIED", names[i]);
    expected << cancelLine;
    QCOMPARE(m_host->lines(), expected);
    QVERIFY(!m_host->cancel);
    for (int i = 0; i < names.size(); ++i)
        QCOMPARE(m_fs->has("/dst", names[i]), i < treated);
    QCOMPARE(m_host->enableCalls.size(), 2);
    QCOMPARE(m_host->busyCalls, (QList<bool>{true, false}));
}

void TransferPassTest::existingDestination_data()
{
    QTest::addColumn<bool>("move");
    QTest::addColumn<bool>("overwrite");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QByteArray>("destAfter");
    QTest::addColumn<bool>("sourceAfter");
    QTest::newRow("copy, kept") << false << false << "NOTCOPIED (EXISTS)" << QByteArray("old")
                                << true;
    QTest::newRow("move, kept") << true << false << "NOTMOVED (EXISTS)" << QByteArray("old")
                                << true;
    QTest::newRow("copy, overwritten")
        << false << true << "COPIED (OVERWRITTEN)" << QByteArray("new") << true;
    QTest::newRow("move, overwritten")
        << true << true << "MOVED (OVERWRITTEN)" << QByteArray("new") << false;
}

void TransferPassTest::existingDestination()
{
    QFETCH(bool, move);
    QFETCH(bool, overwrite);
    QFETCH(QString, line);
    QFETCH(QByteArray, destAfter);
    QFETCH(bool, sourceAfter);
    m_fs->addFile("/src", "f", "new");
    m_fs->addFile("/dst", "f", "old");
    m_fs->setFreeSpace("/dst", 0); // existing files never meet the space check
    m_host->move = move;
    m_host->overwrite = overwrite;
    runPass();

    QCOMPARE(m_host->lines(), QStringList{stamp() + " - " + line + ": f"});
    QCOMPARE(m_fs->content("/dst", "f"), destAfter);
    QCOMPARE(m_fs->has("/src", "f"), sourceAfter);
    if (overwrite)
        QCOMPARE(m_fs->changes().value(0), QString("delete /dst/f"));
    else
        QVERIFY(m_fs->changes().isEmpty());
}

void TransferPassTest::sameFolderNeverLosesAFile_data()
{
    QTest::addColumn<QString>("destination");
    QTest::addColumn<bool>("move");
    QTest::newRow("trailing separator, copy") << "/src/" << false;
    QTest::newRow("doubled separator, move") << "//src" << true;
    QTest::newRow("through a link, move") << "/srclink" << true;
    QTest::newRow("through a link, copy") << "/srclink" << false;
}

void TransferPassTest::sameFolderNeverLosesAFile()
{
    QFETCH(QString, destination);
    QFETCH(bool, move);
    m_fs->addLink("/srclink", "/src");
    m_fs->addFile("/src", "f", "only copy");
    m_host->destination = destination;
    m_host->move = move;
    m_host->overwrite = true;
    runPass();

    QCOMPARE(m_host->lines(), QStringList{remark(move ? "NOTMOVED" : "NOTCOPIED", "EXISTS", "f")});
    QVERIFY(m_fs->changes().isEmpty());
    QCOMPARE(m_fs->content("/src", "f"), QByteArray("only copy"));
}

void TransferPassTest::freeSpaceRules_data()
{
    QTest::addColumn<bool>("move");
    QTest::addColumn<QString>("sourceDrive");
    QTest::addColumn<QString>("destDrive");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("free");
    QTest::addColumn<bool>("allowed");
    const qint64 gib = qint64(1) << 30;
    QTest::newRow("same-drive move, 1024 free") << true << "d"
                                                << "d" << 5000LL << 1024LL << false;
    QTest::newRow("same-drive move, 1025 free") << true << "d"
                                                << "d" << 5000LL << 1025LL << true;
    QTest::newRow("copy, 1025 to spare") << false << "d"
                                         << "d" << 1023LL << 2048LL << true;
    QTest::newRow("copy, 1024 to spare") << false << "d"
                                         << "d" << 1024LL << 2048LL << false;
    QTest::newRow("copy, empty file, 1025 free") << false << "d"
                                                 << "d" << 0LL << 1025LL << true;
    QTest::newRow("copy, empty file, 1024 free") << false << "d"
                                                 << "d" << 0LL << 1024LL << false;
    QTest::newRow("move across drives, fits") << true << "d"
                                              << "e" << 1023LL << 2048LL << true;
    QTest::newRow("move across drives, too big") << true << "d"
                                                 << "e" << 1024LL << 2048LL << false;
    QTest::newRow("drive names differ only in case") << true << "d"
                                                     << "D" << 1024LL << 2048LL << false;
    QTest::newRow("undeterminable drives take the size rule") << true << ""
                                                              << "" << 5000LL << 2048LL << false;
    QTest::newRow("5 GiB file, fits") << false << "d"
                                      << "d" << 5 * gib << 5 * gib + 1025 << true;
    QTest::newRow("5 GiB file, one byte short") << false << "d"
                                                << "d" << 5 * gib << 5 * gib + 1024 << false;
    QTest::newRow("3 GiB file, 2 GiB free") << false << "d"
                                            << "d" << 3 * gib << 2 * gib << false;
    QTest::newRow("4 GiB + 1 file, 8 GiB free") << false << "d"
                                                << "d" << 4 * gib + 1 << 8 * gib << true;
}

void TransferPassTest::freeSpaceRules()
{
    QFETCH(bool, move);
    QFETCH(QString, sourceDrive);
    QFETCH(QString, destDrive);
    QFETCH(qint64, size);
    QFETCH(qint64, free);
    QFETCH(bool, allowed);
    m_fs->addFolder("/src", sourceDrive);
    m_fs->addFolder("/dst", destDrive);
    m_fs->addFileOfSize("/src", "f", size);
    m_fs->setFreeSpace("/dst", free);
    m_host->move = move;
    runPass();

    const QString line = allowed ? done(move ? "MOVED" : "COPIED", "f")
                                 : refusal(move ? "NOTMOVED" : "NOTCOPIED", "f");
    QCOMPARE(m_host->lines(), QStringList{line});
    QCOMPARE(m_fs->has("/dst", "f"), allowed);
    QCOMPARE(m_fs->has("/src", "f"), !(allowed && move));
}

void TransferPassTest::checkDestinationSetting_data()
{
    QTest::addColumn<QString>("setting"); // "<none>": no settings file
    QTest::addColumn<bool>("transferred");
    QTest::addColumn<bool>("errorLine");
    QTest::newRow("missing means check") << "<none>" << false << false;
    QTest::newRow("0 checks") << "0" << false << false;
    QTest::newRow("1 transfers unchecked") << "1" << true << false;
    QTest::newRow("not a number") << "abc" << false << true;
    QTest::newRow("empty") << "" << false << true;
}

void TransferPassTest::checkDestinationSetting()
{
    QFETCH(QString, setting);
    QFETCH(bool, transferred);
    QFETCH(bool, errorLine);
    if (setting != "<none>")
        writeSetting(setting);
    m_fs->addFile("/src", "f", "x");
    m_fs->setFreeSpace("/dst", 1000); // too little for anything: only "not checked" passes
    runPass();

    QCOMPARE(m_fs->has("/dst", "f"), transferred);
    if (errorLine) {
        QCOMPARE(m_host->lines().size(), 1);
        const QString line = m_host->lines().value(0);
        QVERIFY2(line.startsWith(stamp() + " - ERROR: ") && line.contains('"' + setting + '"') &&
                     line.endsWith(" - f"),
                 qPrintable(line));
    } else {
        QCOMPARE(m_host->lines(),
                 QStringList{transferred ? done("COPIED", "f") : refusal("NOTCOPIED", "f")});
    }
}

void TransferPassTest::checkDestinationIsReadForEachFile()
{
    // A bad setting is logged and then read as 0: the file still goes when it fits.
    writeSetting("abc");
    m_fs->addFile("/src", "a", "x");
    m_fs->addFile("/src", "b", "x");
    m_host->onProcessEvents = [&] {
        if (m_host->lastLine() == "COPYING: b") {
            writeSetting("0");
            m_fs->setFreeSpace("/dst", 0);
        }
    };
    runPass();

    QCOMPARE(m_host->lines().size(), 2);
    QVERIFY(m_host->lines().at(0).startsWith(stamp() + " - ERROR: "));
    QVERIFY(m_fs->has("/dst", "a"));
    QCOMPARE(m_host->lines().at(1), refusal("NOTCOPIED", "b"));
    QVERIFY(!m_fs->has("/dst", "b"));
}

void TransferPassTest::failingStepGivesErrorLineOnly_data()
{
    QTest::addColumn<int>("op");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("move");
    QTest::addColumn<bool>("bInDestination"); // an older "b" already there, overwrite on
    QTest::addColumn<QByteArray>("destBAfter");
    QTest::newRow("exists") << int(Op::Exists) << "/dst/b" << false << false << QByteArray();
    QTest::newRow("exists, old file kept")
        << int(Op::Exists) << "/dst/b" << false << true << QByteArray("old");
    QTest::newRow("size") << int(Op::Length) << "/src/b" << false << false << QByteArray();
    QTest::newRow("copy") << int(Op::Copy) << "/src/b" << false << false << QByteArray();
    QTest::newRow("move") << int(Op::Move) << "/src/b" << true << false << QByteArray();
    QTest::newRow("copy after delete")
        << int(Op::Copy) << "/src/b" << false << true << QByteArray();
    QTest::newRow("delete, copy") << int(Op::Delete) << "/dst/b" << false << true
                                  << QByteArray("old");
    QTest::newRow("delete, move") << int(Op::Delete) << "/dst/b" << true << true
                                  << QByteArray("old");
}

void TransferPassTest::failingStepGivesErrorLineOnly()
{
    QFETCH(int, op);
    QFETCH(QString, path);
    QFETCH(bool, move);
    QFETCH(bool, bInDestination);
    QFETCH(QByteArray, destBAfter);
    for (const char *name : {"a", "b", "c"})
        m_fs->addFile("/src", name, "new");
    if (bInDestination)
        m_fs->addFile("/dst", "b", "old");
    m_fs->failOn(Op(op), path, EACCES, "Permission denied (injected)");
    m_host->move = move;
    m_host->overwrite = true;
    runPass();

    const QString doneText = move ? "MOVED" : "COPIED";
    QCOMPARE(m_host->lines(),
             (QStringList{done(doneText, "a"), error("Permission denied (injected)", "b"),
                          done(doneText, "c")}));
    QCOMPARE(m_fs->content("/dst", "b"), destBAfter);
    QVERIFY(m_fs->has("/src", "b")); // the source is never lost
    // A failed delete or test is not followed by a transfer of that file.
    if (op == int(Op::Delete) || op == int(Op::Exists) || op == int(Op::Length)) {
        for (const QString &change : m_fs->changes())
            QVERIFY2(!change.contains("/src/b"), qPrintable(change));
    }
}

void TransferPassTest::unknownFreeSpaceNeverTransfers()
{
    m_fs->addFile("/src", "new", "x");
    m_fs->addFile("/src", "old", "x");
    m_fs->addFile("/dst", "old", "y");
    m_fs->setFreeSpace("/dst", -1);
    m_host->overwrite = true;
    runPass();

    QCOMPARE(m_host->lines().size(), 2);
    QVERIFY2(m_host->lines().at(0).startsWith(stamp() + " - ERROR: ") &&
                 m_host->lines().at(0).endsWith(" - new"),
             qPrintable(m_host->lines().at(0)));
    QVERIFY(!m_fs->has("/dst", "new"));
    // A file already in the destination needs no space check: still replaced.
    QCOMPARE(m_host->lines().at(1), remark("COPIED", "OVERWRITTEN", "old"));
    QCOMPARE(m_fs->content("/dst", "old"), QByteArray("x"));
}

void TransferPassTest::fileOperationsRunOffTheCallingThread()
{
    m_fs->addFile("/src", "a", "x");
    m_fs->addFile("/src", "b", "x");
    m_fs->addFile("/dst", "b", "old");
    m_host->overwrite = true;
    runPass();

    QCOMPARE(m_fs->changes().size(), 3); // copy a, delete b, copy b
    const QSet<QThread *> threads = m_fs->changeThreads();
    QCOMPARE(threads.size(), 1); // one worker for the whole pass
    QVERIFY(!threads.contains(QThread::currentThread()));
}

void TransferPassTest::eventsAreHandledDuringASlowCopy()
{
    for (const char *name : {"a", "b", "c"})
        m_fs->addFile("/src", name, "x");
    m_fs->setCopyDelay(400);
    bool seenDuringCopy = false;
    // Not a processEvents point of the pass: only the wait for the worker
    // can deliver this timer while the first copy is still running.
    QTimer::singleShot(150, [&] {
        seenDuringCopy = m_fs->copyInProgress();
        m_host->cancel = true; // a Cancel click
    });
    runPass();

    QVERIFY(seenDuringCopy);
    // The file under way is finished; the cancel takes effect before the next.
    QCOMPARE(m_host->lines(), (QStringList{done("COPIED", "a"), "RESULT: COPIED 1 FILE"}));
}

void TransferPassTest::copyEndingInsideAModalLoopIsNotLost()
{
    m_fs->addFile("/src", "a", "x");
    m_fs->addFile("/src", "b", "x");
    m_fs->setCopyDelay(100);
    bool modalRan = false;
    // Like a dialog opened during the first copy and closed after it ended:
    // the pass must notice the finished copy once the dialog's loop is left.
    QTimer::singleShot(30, [&] {
        QEventLoop modal;
        QTimer::singleShot(300, &modal, &QEventLoop::quit);
        modal.exec();
        modalRan = true;
    });
    QElapsedTimer elapsed;
    elapsed.start();
    runPass();

    QVERIFY(modalRan);
    QVERIFY(elapsed.elapsed() < 5000);
    QCOMPARE(m_host->lines(), (QStringList{done("COPIED", "a"), done("COPIED", "b")}));
}

QTEST_GUILESS_MAIN(TransferPassTest)
#include "tst_transferpass.moc"
