// Portable or installed: where the settings and the language files are, as
// decided once at start-up, and how the windows use that.
#include "app/frmMain.h"
#include "dialogs/dlgOptionen.h"
#include "platform/InstallLayout.h"
#include "platform/UserStore.h"
#include "settings/modGlobal.h"
#include "support/TestFiles.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

class tst_InstallLayout : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    const QByteArray m_configHome = qgetenv("XDG_CONFIG_HOME");

    QString path(const QString &name) const { return m_dir->filePath(name); }
    void makeFolders(const QStringList &folders)
    {
        for (const QString &folder : folders)
            QVERIFY(QDir().mkpath(path(folder)));
    }
    InstallLayout::Environment environment(bool writable) const
    {
        InstallLayout::Environment env;
        env.home = path("home");
        env.xdgConfigHome = path("config");
        env.xdgDataHome = path("data");
        env.writable = [writable](const QString &) { return writable; };
        return env;
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        UserStore::setLocation(path("store"));
    }
    void cleanup()
    {
        modGlobal::setProgramFolder({});
        qunsetenv("XDG_DATA_HOME");
        qputenv("XDG_CONFIG_HOME", m_configHome);
        m_dir.reset();
    }

    void decide_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<bool>("writable");
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QString>("languages"); // of an installed program
        const QString ini = "usr/bin/Pallwick.ini", besideLang = "usr/bin/lang/Deutsch.dat",
                      packageLang = "usr/share/pallwick/lang/Deutsch.dat";
        const QString package = "usr/share/pallwick/lang", own = "usr/bin/lang";
        QTest::newRow("settings beside, read-only")
            << QStringList{ini, packageLang} << false << false << QString();
        QTest::newRow("writable, lang beside")
            << QStringList{besideLang, packageLang} << true << false << QString();
        QTest::newRow("writable, nothing anywhere") << QStringList{} << true << false << QString();
        QTest::newRow("read-only, nothing beside") << QStringList{} << false << true << package;
        QTest::newRow("read-only package") << QStringList{packageLang} << false << true << package;
        // As root, or unpacked into a prefix the user owns.
        QTest::newRow("writable package") << QStringList{packageLang} << true << true << package;
        // A self-contained folder of root's: settings in the home, texts beside.
        QTest::newRow("read-only, lang beside") << QStringList{besideLang} << false << true << own;
    }

    void decide()
    {
        QFETCH(QStringList, files);
        QFETCH(bool, writable);
        QFETCH(bool, installed);
        QFETCH(QString, languages);
        makeFolders({"usr/bin"});
        for (const QString &file : files) {
            makeFolders({QFileInfo(file).path()});
            writeFile(path(file), "");
        }
        const QString bin = path("usr/bin");
        const InstallLayout layout = InstallLayout::decide(bin, environment(writable));
        if (installed) {
            QCOMPARE(layout.mode, InstallLayout::Mode::Installed);
            QCOMPARE(layout.settingsFile, path("config/pallwick/Pallwick.ini"));
            QCOMPARE(layout.languageFolders,
                     (QStringList{path("data/pallwick/lang"), path(languages)}));
        } else {
            QCOMPARE(layout.mode, InstallLayout::Mode::Portable);
            QCOMPARE(layout.settingsFile, bin + "/Pallwick.ini");
            QCOMPARE(layout.languageFolders, QStringList{bin + "/lang"});
            QCOMPARE(layout.languageFile("Deutsch"), bin + "/lang/Deutsch.dat");
        }
    }

    // The XDG rule: unset, empty or relative values fall back to the home.
    void userFolders()
    {
        makeFolders({"usr/bin"});
        InstallLayout::Environment env = environment(false);
        env.xdgConfigHome = "relative/config";
        env.xdgDataHome.clear();
        const InstallLayout layout = InstallLayout::decide(path("usr/bin"), env);
        QCOMPARE(layout.settingsFile, path("home/.config/pallwick/Pallwick.ini"));
        QCOMPARE(layout.languageFolders.first(), path("home/.local/share/pallwick/lang"));
    }

    // An installed program as the user meets it: the window takes its texts
    // from the package, Options lists both folders, the user's file wins on
    // equal names, and saving creates the user's settings folder; nothing is
    // written beside the program.
    void installedProgramAtWork()
    {
        makeFolders({"usr/bin", "usr/share/pallwick/lang", "data/pallwick/lang"});
        writeFile(path("usr/share/pallwick/lang/Deutsch.dat"), "[frmMain]\nt12=Start-de\n");
        writeFile(path("usr/share/pallwick/lang/English.dat"), "[frmMain]\nt12=Start-pkg\n");
        writeFile(path("data/pallwick/lang/English.dat"), "[frmMain]\nt12=Start-mine\n");
        writeFile(path("data/pallwick/lang/Klingon.dat"), "[frmMain]\nt12=Start-tlh\n");
        qputenv("XDG_CONFIG_HOME", path("config").toUtf8());
        qputenv("XDG_DATA_HOME", path("data").toUtf8());

        frmMain::Environment env;
        env.programFolder = path("usr/bin");
        frmMain window({}, env);
        QCOMPARE(modGlobal::IniFile, path("config/pallwick/Pallwick.ini"));
        QCOMPARE(window.cmdStopStart->text(), QStringLiteral("Start-de"));

        dlgOptionen options(window);
        QStringList listed = options.languageNames();
        listed.sort();
        QCOMPARE(listed, (QStringList{"Deutsch", "English", "Klingon"}));
        auto *language = options.findChild<QComboBox *>("Combo1");
        language->setEditText("English");
        options.findChild<QPushButton *>("cmdSave")->click();
        QCOMPARE(modGlobal::LangFile, path("data/pallwick/lang/English.dat"));
        QVERIFY(fileBytes(path("config/pallwick/Pallwick.ini")).contains("Language=English"));
        QCOMPARE(window.cmdStopStart->text(), QStringLiteral("Start-mine"));
        QCOMPARE(QDir(path("usr/bin")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{});
    }
};

QTEST_MAIN(tst_InstallLayout)
#include "tst_installlayout.moc"
