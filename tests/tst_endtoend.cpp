// Starts the built program the way a user's autostart entry would and checks
// that the saved job runs by itself.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class tst_EndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void startSwitchRunsSavedJob()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString program = dir.filePath(QStringLiteral("prog"));
        const QString source = dir.filePath(QStringLiteral("from here"));
        const QString target = dir.filePath(QStringLiteral("to there"));
        for (const QString &d : {program + QStringLiteral("/lang"), source, target})
            QVERIFY(QDir().mkpath(d));
        // A program folder of its own: settings and languages beside the binary.
        QVERIFY(
            QFile::copy(QStringLiteral(PALLWICK_BINARY), program + QStringLiteral("/pallwick")));
        QVERIFY(QFile::copy(QStringLiteral(PALLWICK_SOURCE_DIR "/lang/Deutsch.dat"),
                            program + QStringLiteral("/lang/Deutsch.dat")));
        QFile ini(program + QStringLiteral("/Pallwick.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Options]\nFrom=" + source.toUtf8() + "\nTo=" + target.toUtf8() +
                  "\nAction=Move\nDoActionOnStart=1\nSave=1\n");
        ini.close();
        for (const char *name : {"one.txt", "two words.txt", "three"}) {
            QFile f(source + QLatin1Char('/') + QLatin1String(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(1000, 'x'));
        }

        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(env);
        process.start(program + QStringLiteral("/pallwick"), {QStringLiteral("/s")});
        QVERIFY2(process.waitForStarted(10000), qPrintable(process.errorString()));
        QTRY_COMPARE_WITH_TIMEOUT(QDir(target).entryList(QDir::Files).size(), 3, 20000);
        QCOMPARE(QDir(source).entryList(QDir::Files).size(), 0);
        QVERIFY(process.state() == QProcess::Running); // still waiting for the next run
        // SIGTERM closes the window as the close box does: the job is saved.
        process.terminate();
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QVERIFY(ini.open(QIODevice::ReadOnly));
        QVERIFY(ini.readAll().contains("\nShowLog=0"));
        ini.close();
        QFile moved(target + QStringLiteral("/two words.txt"));
        QVERIFY(moved.open(QIODevice::ReadOnly));
        QCOMPARE(moved.readAll(), QByteArray(1000, 'x'));
    }
};

QTEST_GUILESS_MAIN(tst_EndToEnd)
#include "tst_endtoend.moc"
