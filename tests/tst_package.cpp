// The Debian package, built from this build tree and unpacked into a
// temporary root, holds a complete program that runs there in installed mode.
#include "support/TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class tst_Package : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_deb;

    QString root(const QString &path = {}) const { return m_dir.filePath("root" + path); }

    static QString run(const QString &program, const QStringList &arguments,
                       int *exitCode = nullptr)
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, arguments);
        if (!process.waitForFinished(300000))
            return "did not finish: " + program;
        if (exitCode)
            *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        return QString::fromLocal8Bit(process.readAll());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        int status = -1;
        const QString out = m_dir.filePath("out");
        const QString log = run(
            PALLWICK_CPACK,
            {"-G", "DEB", "-B", out, "--config", PALLWICK_BUILD_DIR "/CPackConfig.cmake"}, &status);
        QVERIFY2(status == 0, qPrintable(log));
        const QStringList debs = QDir(out).entryList({"pallwick_*.deb"}, QDir::Files);
        QCOMPARE(debs.size(), 1);
        m_deb = QDir(out).filePath(debs.first());
        const QString unpacked = run("dpkg-deb", {"-x", m_deb, root()}, &status);
        QVERIFY2(status == 0, qPrintable(unpacked));
    }

    void holdsTheProgramLaidOutForLinux()
    {
        for (const char *file : {"/usr/bin/pallwick", "/usr/share/pallwick/lang/Deutsch.dat",
                                 "/usr/share/pallwick/lang/English.dat",
                                 "/usr/share/icons/hicolor/256x256/apps/pallwick.png"})
            QVERIFY2(QFileInfo::exists(root(file)), file);
        // Nothing of the self-contained folder install.
        QVERIFY(!QFileInfo::exists(root("/usr/pallwick.desktop")) &&
                !QFileInfo::exists(root("/usr/bin/lang")));

        int status = -1;
        const QString entry = root("/usr/share/applications/pallwick.desktop");
        const QString verdict = run("desktop-file-validate", {entry}, &status);
        QVERIFY2(status == 0 && verdict.isEmpty(), qPrintable(verdict));
        QVERIFY(fileBytes(entry).contains("\nExec=pallwick\n"));
        QVERIFY(fileBytes(entry).contains("\nIcon=pallwick\n"));

        const QString depends = run("dpkg-deb", {"-f", m_deb, "Depends"}, &status);
        QCOMPARE(status, 0);
        QVERIFY2(depends.contains("libqt6widgets6"), qPrintable(depends));
    }

    // Started from the unpacked root without a display, --once takes its job
    // from the user's config folder and its texts from the package, and
    // writes nothing beside itself.
    void runsOnceInInstalledMode()
    {
        const QString config = m_dir.filePath("config"), source = m_dir.filePath("src"),
                      target = m_dir.filePath("dst");
        for (const QString &folder : {source, target, config + "/pallwick"})
            QVERIFY(QDir().mkpath(folder));
        writeFile(source + "/report.txt", "content");

        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", config);
        env.insert("XDG_DATA_HOME", m_dir.filePath("data"));
        for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(name);
        program.setProcessEnvironment(env);
        writeFile(config + "/pallwick/Pallwick.ini", ("[Options]\nLanguage=English\nFrom=" +
                                                      source + "\nTo=" + target + "\nAction=Copy\n")
                                                         .toUtf8());
        program.start(root("/usr/bin/pallwick"), {"--once"});
        QVERIFY(program.waitForFinished(60000));
        QCOMPARE(program.exitCode(), 0);
        const QByteArray lines = program.readAllStandardOutput();
        QVERIFY2(lines.contains(" - Copied: report.txt\n"), lines.constData());
        QCOMPARE(fileBytes(target + "/report.txt"), QByteArray("content"));
        QCOMPARE(QDir(root("/usr/bin")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{"pallwick"});
    }
};

QTEST_GUILESS_MAIN(tst_Package)
#include "tst_package.moc"
