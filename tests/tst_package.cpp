// The Debian package, built from this build tree and unpacked into a
// temporary root, holds a complete program that runs there in installed mode,
// with what Debian and the desktops ask beside it; cmake --install makes the
// self-contained folder.
#include "support/Program.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

static const char AppId[] = "example.pallwick.PallwickLite";

class tst_Package : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_deb;

    QString root(const QString &path = {}) const { return m_dir.filePath("root" + path); }

    // Standard output and error together, or only the output.
    static QString run(const QString &program, const QStringList &arguments,
                       int *exitCode = nullptr, bool merged = true, QString *errors = nullptr)
    {
        QProcess process;
        if (merged)
            process.setProcessChannelMode(QProcess::MergedChannels);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("MANWIDTH", "80");
        process.setProcessEnvironment(env);
        process.start(program, arguments);
        if (!process.waitForFinished(300000))
            return "did not finish: " + program;
        if (exitCode)
            *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        if (errors)
            *errors = QString::fromLocal8Bit(process.readAllStandardError());
        return QString::fromLocal8Bit(process.readAllStandardOutput());
    }

    // The lines of a tool's verdict that are errors or warnings.
    static QStringList complaints(const QString &verdict)
    {
        QStringList lines;
        for (const QString &line : verdict.split('\n'))
            if (line.startsWith("E:") || line.startsWith("W:"))
                lines << line;
        return lines;
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
                                 "/usr/share/icons/hicolor/scalable/apps/pallwick.svg",
                                 "/usr/share/doc/pallwick/copyright"})
            QVERIFY2(QFileInfo::exists(root(file)), file);
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
            const QString icon =
                root(QString("/usr/share/icons/hicolor/%1x%1/apps/pallwick.png").arg(size));
            QCOMPARE(QImage(icon).size(), QSize(size, size));
        }
        // Nothing of the self-contained folder install.
        QVERIFY(!QFileInfo::exists(root("/usr/pallwick.desktop")) &&
                !QFileInfo::exists(root("/usr/bin/lang")) &&
                !QFileInfo::exists(root("/usr/share/applications/pallwick.desktop")));

        int status = -1;
        const QString entry = root(QString("/usr/share/applications/%1.desktop").arg(AppId));
        const QString verdict = run("desktop-file-validate", {entry}, &status);
        QVERIFY2(status == 0 && verdict.isEmpty(), qPrintable(verdict));
        QVERIFY(fileBytes(entry).contains("\nExec=pallwick\n"));
        QVERIFY(fileBytes(entry).contains("\nIcon=pallwick\n"));

        const QString depends = run("dpkg-deb", {"-f", m_deb, "Depends"}, &status);
        QCOMPARE(status, 0);
        QVERIFY2(depends.contains("libqt6widgets6"), qPrintable(depends));
    }

    // lintian with its default profile and appstreamcli find no error and
    // no warning; the changelog is the one of this version.
    void passesDebianAndAppStreamChecks()
    {
        int status = -1;
        QString errors;
        const QString lintian = run("lintian", {m_deb}, &status, false, &errors);
        QVERIFY2(status == 0, qPrintable(lintian + errors));
        QCOMPARE(complaints(lintian), QStringList());

        const QString metainfo = root(QString("/usr/share/metainfo/%1.metainfo.xml").arg(AppId));
        const QString verdict = run("appstreamcli", {"validate", "--no-net", metainfo}, &status);
        QVERIFY2(status == 0, qPrintable(verdict));
        QCOMPARE(complaints(verdict), QStringList());
        QVERIFY(fileBytes(metainfo).contains(QByteArray("<launchable type=\"desktop-id\">") +
                                             AppId + ".desktop<"));

        const QString version = run("dpkg-deb", {"-f", m_deb, "Version"}).trimmed();
        const QString changelog =
            run("gzip", {"-dc", root("/usr/share/doc/pallwick/changelog.gz")}, &status);
        QVERIFY2(changelog.startsWith("pallwick (" + version + ") "), qPrintable(changelog));
        QVERIFY(fileBytes(metainfo).contains("<release version=\"" + version.toUtf8() + "\""));
        QVERIFY(fileBytes(root("/usr/share/doc/pallwick/copyright")).contains("\nLicense: MIT\n"));
    }

    // The manual page renders without a warning and names every option of
    // --help.
    void manualPageCoversTheOptions()
    {
        int status = -1;
        QString warnings;
        QString page = run("man",
                           {"--warnings", "--nh", "--nj", "-E", "UTF-8", "-l",
                            root("/usr/share/man/man1/pallwick.1.gz")},
                           &status, false, &warnings);
        QVERIFY2(status == 0 && warnings.isEmpty(), qPrintable(warnings));
        // groff may print a hyphen as a minus sign or a hyphen character.
        page.replace(QChar(0x2212), '-').replace(QChar(0x2010), '-');

        const QString help = run(root("/usr/bin/pallwick"), {"--help"}, &status);
        QCOMPARE(status, 0);
        // The options are in the usage line and at the start of the lines
        // that list them; elsewhere a path may look like one.
        const QRegularExpression option("(?<![\\w-])(--?[a-z][a-z-]*|/[a-z])\\b");
        QStringList options, missing;
        for (const QString &line : help.split('\n'))
            if (line.startsWith("Usage:") || QRegularExpression("^  [-/]").match(line).hasMatch())
                for (auto m = option.globalMatch(line); m.hasNext();)
                    options << m.next().captured(1);
        options.removeDuplicates();
        QVERIFY2(options.contains("--once") && options.contains("/s"), qPrintable(help));
        for (const QString &name : options)
            if (!QRegularExpression("(?<![\\w-])" + QRegularExpression::escape(name) + "\\b")
                     .match(page)
                     .hasMatch())
                missing << name;
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(' ')));
    }

    // cmake --install: the program folder with its licence, manual page and
    // desktop entry, and nothing of the system layout.
    void installsSelfContainedFolder()
    {
        const QString folder = m_dir.filePath("folder");
        int status = -1;
        const QString log =
            run(PALLWICK_CMAKE, {"--install", PALLWICK_BUILD_DIR, "--prefix", folder}, &status);
        QVERIFY2(status == 0, qPrintable(log));
        for (const char *file :
             {"pallwick", "lang/English.dat", "pallwick.png", "LICENSE", "pallwick.1"})
            QVERIFY2(QFileInfo::exists(folder + '/' + file), file);
        const QString entry = folder + '/' + AppId + ".desktop";
        QVERIFY(fileBytes(entry).contains("\nExec=\"" + folder.toUtf8() + "/pallwick\"\n"));
        QVERIFY(!QFileInfo::exists(folder + "/pallwick.desktop") &&
                !QFileInfo::exists(folder + "/share"));
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

        writeFile(config + "/pallwick/Pallwick.ini", ("[Options]\nLanguage=English\nFrom=" +
                                                      source + "\nTo=" + target + "\nAction=Copy\n")
                                                         .toUtf8());
        QProcess program;
        Program::start(program, root("/usr/bin/pallwick"), {"--once"},
                       {{"XDG_CONFIG_HOME", config}, {"XDG_DATA_HOME", m_dir.filePath("data")}});
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
