// The activity log's copy on disk: which lines are final, the window's lines
// in the file, a file that cannot be written, and rotation.
#include "support/MemoryFileSystem.h"
#include "support/TestFiles.h"
#include "support/TestPassHost.h"

#include "app/frmMain.h"
#include "platform/Clock.h"
#include "platform/UserStore.h"
#include "settings/modGlobal.h"
#include "transfer/ActivityLogFile.h"
#include "transfer/TransferPass.h"

#include <QApplication>
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class tst_ActivityLogFile : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    FixedClock m_clock{QDateTime(QDate(2026, 12, 6), QTime(10, 20, 30))};

    QString path(const QString &name) const { return m_dir->filePath(name); }
    QString logFile() const { return path("state/pallwick/activity.log"); }

    void writeJob(const QByteArray &extra)
    {
        writeFile(path("Pallwick.ini"),
                  "[Options]\nLanguage=English\nAction=Copy\nFrom=" + path("src").toUtf8() +
                      "\nTo=" + path("dst").toUtf8() + "\n" + extra);
    }

    std::unique_ptr<frmMain> open()
    {
        frmMain::Environment env;
        env.programFolder = m_dir->path();
        env.clock = &m_clock;
        return std::make_unique<frmMain>(QStringList(), env);
    }

    static QStringList windowLines(frmMain &w)
    {
        QStringList lines;
        for (int i = 0; i < w.activityLog().count(); ++i)
            lines << w.activityLog().line(i);
        return lines;
    }

    // The file's lines without their ISO 8601 stamps, which must be there.
    QStringList fileLines() const
    {
        static const QRegularExpression iso(
            "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d(Z|[+-]\\d\\d:\\d\\d) ");
        QStringList lines = QString::fromUtf8(fileBytes(logFile())).split('\n');
        if (lines.last().isEmpty())
            lines.removeLast();
        for (QString &line : lines) {
            const QRegularExpressionMatch m = iso.match(line);
            if (!m.hasMatch())
                return {"no stamp: " + line};
            line.remove(0, m.capturedLength());
        }
        return lines;
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        for (const char *folder : {"lang", "src", "dst", "store"})
            QVERIFY(QDir(m_dir->path()).mkpath(folder));
        QVERIFY(QFile::copy(PALLWICK_SOURCE_DIR "/lang/English.dat", path("lang/English.dat")));
        UserStore::setLocation(path("store"));
        qputenv("XDG_STATE_HOME", QFile::encodeName(path("state")));
    }

    void cleanup() { m_dir.reset(); }

    // The pass replaces its newest line (placeholder, progress, a first
    // error); only the lines that stay in the log are handed on, in order.
    void finalLinesOfAPass_data()
    {
        QTest::addColumn<QString>("failing"); // file whose copy fails
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QString>("cancelAt"); // progress line that cancels
        QTest::newRow("all copied") << "" << QByteArray() << "";
        QTest::newRow("one fails") << "b" << QByteArray() << "";
        QTest::newRow("second error replaces the first")
            << "b" << QByteArray("[Options]\nCheckDestination=x\n") << "";
        QTest::newRow("cancelled") << "" << QByteArray() << "COPYING: b";
        QTest::newRow("source unreadable") << "*" << QByteArray() << "";
    }

    void finalLinesOfAPass()
    {
        QFETCH(QString, failing);
        QFETCH(QByteArray, settings);
        QFETCH(QString, cancelAt);
        modGlobal::IniFile = path("Pallwick.ini");
        writeFile(modGlobal::IniFile, settings);
        MemoryFileSystem fs;
        for (const char *name : {"/src/a", "/src/b", "/src/c"})
            fs.files[name] = "x";
        if (failing == "*")
            fs.failures[{"list", "/src"}] = FsResult::failure(EACCES, "Permission denied");
        else if (!failing.isEmpty())
            fs.failures[{"copy", "/src/" + failing}] = FsResult::failure(EIO, "I/O error");
        TestPassHost host;
        host.memoryLog.append("earlier line");
        QStringList handedOn;
        host.memoryLog.setFinalLineSink([&](const QString &line) { handedOn << line; });
        host.onProcessEvents = [&] {
            if (!cancelAt.isEmpty() && host.memoryLog.line(host.memoryLog.count() - 1) == cancelAt)
                host.cancel = true;
        };

        TransferPass(host, fs, m_clock).run();
        host.memoryLog.flushFinal();
        host.memoryLog.flushFinal(); // nothing twice

        QStringList expected = host.memoryLog.lines();
        if (expected.first() == "earlier line")
            expected.removeFirst(); // given before the sink was set
        QCOMPARE(handedOn, expected);
        QVERIFY(!handedOn.join('\n').contains("COPYING"));
    }

    // Start, a pass and Stop: the file holds the window's lines, each once.
    void windowLinesGoToTheFile()
    {
        writeJob("LogFile=1\n");
        writeFile(path("src/a"), "1");
        writeFile(path("src/b"), "2");
        auto w = open();
        QVERIFY(w->activityLogFile());
        w->cmdStopStart_Click();
        w->DoAction();
        // The pass's last line is in the file when the pass has ended.
        w->activityLogFile()->waitUntilWritten();
        QCOMPARE(windowLines(*w).size(), 3);
        QCOMPARE(fileLines(), windowLines(*w));
        w->cmdStopStart_Click();
        w->activityLogFile()->waitUntilWritten();
        QCOMPARE(fileLines(), windowLines(*w));
    }

    void noFileWithoutTheOption_data()
    {
        QTest::addColumn<QByteArray>("option");
        QTest::newRow("absent") << QByteArray();
        QTest::newRow("0") << QByteArray("LogFile=0\n");
        QTest::newRow("yes") << QByteArray("LogFile=yes\n");
    }

    void noFileWithoutTheOption()
    {
        QFETCH(QByteArray, option);
        writeJob(option);
        writeFile(path("src/a"), "1");
        auto w = open();
        QVERIFY(!w->activityLogFile());
        w->cmdStopStart_Click();
        w->DoAction();
        QCOMPARE(windowLines(*w).size(), 2);
        QVERIFY(!QFileInfo::exists(path("state")));
    }

    // The state folder cannot be made: the pass's lines are untouched, and
    // the window says so once, after the pass, however many lines fail.
    void unwritableFileIsReportedOnce()
    {
        writeFile(path("state"), "a file where the folder should be");
        writeJob("LogFile=1\n");
        writeFile(path("src/a"), "1");
        auto w = open();
        w->DoAction();
        QTRY_COMPARE(windowLines(*w).size(), 2);
        w->DoAction();
        w->activityLogFile()->waitUntilWritten();
        QTest::qWait(20); // a second notice would be queued by now
        const QStringList lines = windowLines(*w);
        QCOMPARE(lines.size(), 3);
        QVERIFY2(lines[0].endsWith(" - Copied: a"), qPrintable(lines[0]));
        QVERIFY2(lines[1].contains(" - Activity log file not written (") &&
                     lines[1].endsWith(logFile()),
                 qPrintable(lines[1]));
        QVERIFY2(lines[2].endsWith(" - Not copied (file already exists): a"), qPrintable(lines[2]));
    }

    // A small limit: every file stays within it, three old files are kept,
    // and together they hold the newest lines in order.
    void rotationKeepsThreeOldFiles()
    {
        {
            ActivityLogFile file(logFile(), m_clock, {}, 100);
            for (int i = 0; i < 30; ++i)
                file.write(QString("line %1").arg(i, 2, 10, QLatin1Char('0')));
        }
        QByteArray all;
        for (const QString suffix : {".3", ".2", ".1", ""}) {
            const QByteArray bytes = fileBytes(logFile() + suffix);
            QVERIFY2(!bytes.isEmpty() && bytes.size() <= 100 && bytes.endsWith('\n'),
                     qPrintable(suffix));
            all += bytes;
        }
        QVERIFY(!QFileInfo::exists(logFile() + ".4"));
        const QStringList lines = QString::fromUtf8(all).trimmed().split('\n');
        QVERIFY(lines.size() >= 4);
        for (int i = 0; i < lines.size(); ++i)
            QVERIFY2(lines[i].endsWith(
                         QString(" line %1").arg(30 - lines.size() + i, 2, 10, QLatin1Char('0'))),
                     qPrintable(lines[i]));
        QCOMPARE(QFileInfo(logFile()).permissions() & (QFile::ReadOther | QFile::ReadGroup),
                 QFileDevice::Permissions());
    }
};

QTEST_MAIN(tst_ActivityLogFile)
#include "tst_activitylogfile.moc"
