#include "platform/ProfileFile.h"
#include "settings/modGlobal.h"
#include "settings/modIniHandler.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

// Every read looks up key "Key" in section "Sec"; every write sets k=v.
class TestProfileFile : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString path(const QString &name = "test.ini") const { return dir.filePath(name); }
    // Only the file itself: a leftover temporary would show here.
    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden); }

private slots:
    void init() { QFile::remove(path()); }

    void read_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file at all
        QTest::addColumn<QString>("def");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const QByteArray &content, const QString &def,
                            const QString &expected) {
            QTest::newRow(name) << content << def << expected;
        };
        row("names ignore case and blanks", "  [ sEC ]  \n\t kEY \t=  va lue \t\n", "", "va lue");
        row("outer quotes removed, inner blanks kept", "[Sec]\nKey= \" a b \" \n", "", " a b ");
        row("comment and line without equals are no keys", "[Sec]\n ;Key=1\nKey\nKey=2\n", "", "2");
        row("empty value is a value; first duplicate wins", "[Sec]\nKey=\nKEY=2\n", "d", "");
        row("key before any section; first duplicate section wins",
            "Key=1\n[Sec]\na=1\n[SEC]\nKey=2\n", "d", "d");
        row("CRLF", "[Sec]\r\na=1\r\nKey=2\r\n", "", "2");
        row("CR only", "[Sec]\ra=1\rKey=2\r", "", "2");
        row("UTF-8", "[Sec]\nKey=Gr\xC3\xB6\xC3\x9F\x65\n", "", QStringLiteral("Größe"));
        row("8-bit file read as Latin-1", "[Sec]\nKey=Gr\xF6\xDF\x65\n", "", "Größe");
        row("cut to 255", "[Sec]\nKey=" + QByteArray(300, 'p') + "\n", "", QString(255, u'p'));
        row("missing file, default loses trailing blanks only", QByteArray(), "  a b \t ", "  a b");
        row("missing key; key in a later section", "[Sec]\nOther=1\n[b]\nKey=2\n", "d ", "d");
    }
    void read()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, def);
        if (!content.isNull())
            writeFile(path(), content);
        QTEST(ProfileFile::read(path(), "Sec", "Key", def, 256), "expected");
    }

    void write_data()
    {
        QTest::addColumn<QByteArray>("before"); // null: no file yet
        QTest::addColumn<QString>("section");
        QTest::addColumn<QByteArray>("after");
        const auto row = [](const char *name, const QByteArray &before, const QString &section,
                            const QByteArray &after) {
            QTest::newRow(name) << before << section << after;
        };
        row("new file", QByteArray(), "a", "[a]\nk=v\n");
        row("replace in place, key spelling kept", "; top\n[A]\nK=old\nx=1\n\n[b]\nk=2\n", "a",
            "; top\n[A]\nK=v\nx=1\n\n[b]\nk=2\n");
        row("replace first of duplicate keys", "[a]\nk=1\nk=2\n", "a", "[a]\nk=v\nk=2\n");
        row("new key after last key, before blank and comment",
            "[a]\nx=1\n; note\ny=2\n\n; about b\n[b]\nz=3\n", "a",
            "[a]\nx=1\n; note\ny=2\nk=v\n\n; about b\n[b]\nz=3\n");
        row("new section at end", "[a]\nx=1\n", "b", "[a]\nx=1\n[b]\nk=v\n");
        row("new section, last line lacked line end", "[a]\nx=1", "b", "[a]\nx=1\n[b]\nk=v\n");
        row("CRLF stays CRLF", "[a]\r\nx=1\r\n[b]\r\n", "a", "[a]\r\nx=1\r\nk=v\r\n[b]\r\n");
    }
    void write()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, section);
        if (!before.isNull())
            writeFile(path(), before);
        QVERIFY(ProfileFile::write(path(), section, "k", "v"));
        QTEST(fileBytes(path()), "after");
        QCOMPARE(files(), QStringList{"test.ini"});
    }

    // Folder names may start or end with blanks or quotes, and may hold a
    // line break: what is written must read back the same, or not be written.
    void valuesSurviveTheRoundTrip()
    {
        for (const QString value : {" /lead", "/tmp/a b  ", "\"/q\"", "'/s'", "\""}) {
            QVERIFY(ProfileFile::write(path(), "s", "k", value));
            QCOMPARE(ProfileFile::read(path(), "s", "k", "", 256), value);
        }
    }

    // Neither a refused value nor a write that breaks off half way (here: the
    // file-size limit, which holds even for root) may touch the old file.
    void refusedOrFailedWriteKeepsOldFile()
    {
        writeFile(path(), "[s]\nk=old\n");
        QVERIFY(!ProfileFile::write(path(), "s", "k", "/a\nCheckDestination=1"));
        QVERIFY(!ProfileFile::write(path(), "s", "k", "/a\rb"));
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const rlimit small{64, saved.rlim_max};
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool written = ProfileFile::write(path(), "s", "k", QString(200, u'x'));
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(!written);
        QCOMPARE(fileBytes(path()), QByteArray("[s]\nk=old\n"));
        QCOMPARE(files(), QStringList{"test.ini"});
    }

    void iniHandler()
    {
        modGlobal::IniFile = path("Pallwick.ini");
        modGlobal::LangFile = path("English.dat");
        writeFile(modGlobal::LangFile, "[frmMain]\nt12=&Start\n");
        // Saved folder paths are read with a buffer that never cuts them.
        WriteIni("Options", "To", QString(300, u't'));
        QCOMPARE(ReadIni("Options", "To", "", modIniHandler::PathSize), QString(300, u't'));
        // Each reader goes to its own file.
        QCOMPARE(ReadLang("frmMain", "t12", "", 256), QStringLiteral("&Start"));
        QCOMPARE(ReadIni("frmMain", "t12", "none", 256), QStringLiteral("none"));
    }
};

QTEST_GUILESS_MAIN(TestProfileFile)
#include "tst_profilefile.moc"
