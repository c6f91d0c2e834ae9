#include "platform/ProfileFile.h"
#include "settings/modGlobal.h"
#include "settings/modIniHandler.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

namespace {

} // namespace

class TestProfileFile : public QObject
{
    Q_OBJECT

private slots:
    // A fresh folder for every row, so no row sees another's file.
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
    }

    void read_data();
    void read();
    void readMissingFile();
    void readSeesEveryChange();
    void write_data();
    void write();
    void failedWrite_data();
    void failedWrite();
    void failedWriteKeepsOldFile();
    void iniHandler();

private:
    QString path(const QString &name = QStringLiteral("test.ini")) const
    {
        return dir->filePath(name);
    }
    std::unique_ptr<QTemporaryDir> dir;
};

void TestProfileFile::read_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("def");
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("expected");

    const QByteArray opts = "[Options]\nFrom=/src\nTo=/dst\n";
    QTest::newRow("plain") << opts << "Options"
                           << "To"
                           << "x" << 256 << "/dst";
    QTest::newRow("section and key ignore case") << opts << "OPTIONS"
                                                 << "from"
                                                 << "x" << 256 << "/src";
    QTest::newRow("missing key gives default") << opts << "Options"
                                               << "Action"
                                               << "Copy" << 256 << "Copy";
    QTest::newRow("missing section gives default") << opts << "Other"
                                                   << "From"
                                                   << "d" << 256 << "d";
    QTest::newRow("default loses trailing blanks only") << opts << "Options"
                                                        << "Nope"
                                                        << "  a b \t " << 256 << "  a b";
    QTest::newRow("default cut to size - 1") << opts << "Options"
                                             << "Nope"
                                             << "abcdef" << 4 << "abc";
    QTest::newRow("blanks around names and value")
        << QByteArray("  [ Options ]  \n\t Key \t=  va lue \t\n") << "Options"
        << "Key"
        << "" << 256 << "va lue";
    QTest::newRow("double quotes removed, inner blanks kept")
        << QByteArray("[s]\nk= \" a b \" \n") << "s"
        << "k"
        << "" << 256 << " a b ";
    QTest::newRow("single quotes removed") << QByteArray("[s]\nk='x'\n") << "s"
                                           << "k"
                                           << "" << 256 << "x";
    QTest::newRow("unmatched quotes kept") << QByteArray("[s]\nk=\"x'\n") << "s"
                                           << "k"
                                           << "" << 256 << "\"x'";
    QTest::newRow("one quote character kept") << QByteArray("[s]\nk=\"\n") << "s"
                                              << "k"
                                              << "" << 256 << "\"";
    QTest::newRow("only the outer pair removed") << QByteArray("[s]\nk=\"\"x\"\"\n") << "s"
                                                 << "k"
                                                 << "" << 256 << "\"x\"";
    QTest::newRow("empty value is a value") << QByteArray("[s]\nk=\n") << "s"
                                            << "k"
                                            << "def" << 256 << "";
    QTest::newRow("value keeps later equals signs") << QByteArray("[s]\nk=a=b\n") << "s"
                                                    << "k"
                                                    << "" << 256 << "a=b";
    QTest::newRow("comment never matches") << QByteArray("[s]\n ;k=1\nk=2\n") << "s"
                                           << "k"
                                           << "" << 256 << "2";
    QTest::newRow("commented section is no section") << QByteArray(";[s]\nk=1\n[t]\nk=2\n") << "s"
                                                     << "k"
                                                     << "d" << 256 << "d";
    QTest::newRow("line without equals is no key") << QByteArray("[s]\nk\nk=2\n") << "s"
                                                   << "k"
                                                   << "" << 256 << "2";
    QTest::newRow("first duplicate key wins") << QByteArray("[s]\nk=1\nK=2\n") << "s"
                                              << "k"
                                              << "" << 256 << "1";
    QTest::newRow("first duplicate section wins") << QByteArray("[s]\na=1\n[S]\nk=2\n") << "s"
                                                  << "k"
                                                  << "d" << 256 << "d";
    QTest::newRow("key in another section not found") << QByteArray("[a]\nk=1\n[b]\nx=2\n") << "b"
                                                      << "k"
                                                      << "d" << 256 << "d";
    QTest::newRow("key before any section not found") << QByteArray("k=1\n[s]\n") << "s"
                                                      << "k"
                                                      << "d" << 256 << "d";
    QTest::newRow("blank lines skipped") << QByteArray("\n\n[s]\n\n  \nk=1\n") << "s"
                                         << "k"
                                         << "" << 256 << "1";
    QTest::newRow("CRLF") << QByteArray("[s]\r\na=1\r\nk=2\r\n") << "s"
                          << "k"
                          << "" << 256 << "2";
    QTest::newRow("CR only") << QByteArray("[s]\ra=1\rk=2\r") << "s"
                             << "k"
                             << "" << 256 << "2";
    QTest::newRow("last line without line end") << QByteArray("[s]\nk=2") << "s"
                                                << "k"
                                                << "" << 256 << "2";
    QTest::newRow("UTF-8 byte-order mark") << QByteArray("\xEF\xBB\xBF[s]\nk=1\n") << "s"
                                           << "k"
                                           << "" << 256 << "1";
    QTest::newRow("UTF-8 text") << QByteArray("[s]\nk=Gr\xC3\xB6\xC3\x9F\x65\n") << "s"
                                << "k"
                                << "" << 256 << QStringLiteral("Größe");
    QTest::newRow("8-bit file read as Latin-1")
        << QByteArray("[s]\r\nk=Gr\xF6\xDF\x65 \xC4nderung\r\n") << "s"
        << "k"
        << "" << 256 << QStringLiteral("Größe Änderung");

    const QByteArray longValue(300, 'p');
    QTest::newRow("300 chars read with 256") << QByteArray("[s]\nk=" + longValue + "\n") << "s"
                                             << "k"
                                             << "" << 256 << QString(255, u'p');
    QTest::newRow("exactly size - 1 chars kept") << QByteArray("[s]\nk=abc\n") << "s"
                                                 << "k"
                                                 << "" << 4 << "abc";
    QTest::newRow("one more than size - 1 cut") << QByteArray("[s]\nk=abcd\n") << "s"
                                                << "k"
                                                << "" << 4 << "abc";
    QTest::newRow("cut after quotes removed") << QByteArray("[s]\nk=\"abcd\"\n") << "s"
                                              << "k"
                                              << "" << 3 << "ab";
    QTest::newRow("size 1 gives nothing") << QByteArray("[s]\nk=abc\n") << "s"
                                          << "k"
                                          << "" << 1 << "";
}

void TestProfileFile::read()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, def);
    QFETCH(int, size);
    QFETCH(QString, expected);

    writeFile(path(), content);
    QCOMPARE(ProfileFile::read(path(), section, key, def, size), expected);
}

void TestProfileFile::readMissingFile()
{
    QCOMPARE(ProfileFile::read(path("none.ini"), "s", "k", "Deutsch  ", 256),
             QStringLiteral("Deutsch"));
    QCOMPARE(ProfileFile::read(path("none/x.ini"), "s", "k", "", 256), QString());
}

void TestProfileFile::readSeesEveryChange()
{
    writeFile(path(), "[s]\nk=1\n");
    QCOMPARE(ProfileFile::read(path(), "s", "k", "", 256), QStringLiteral("1"));
    writeFile(path(), "[s]\nk=2\n");
    QCOMPARE(ProfileFile::read(path(), "s", "k", "", 256), QStringLiteral("2"));
    QFile::remove(path());
    QCOMPARE(ProfileFile::read(path(), "s", "k", "gone", 256), QStringLiteral("gone"));
}

void TestProfileFile::write_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("new file, LF") << false << QByteArray() << "Options"
                                  << "From"
                                  << "/a" << QByteArray("[Options]\nFrom=/a\n");
    QTest::newRow("empty file") << true << QByteArray() << "Options"
                                << "From"
                                << "/a" << QByteArray("[Options]\nFrom=/a\n");
    QTest::newRow("replace in place, key spelling kept")
        << true << QByteArray("; top\n[options]\nFROM=/old\nTo=/t\n\n[Other]\nx=1\n") << "Options"
        << "from"
        << "/new" << QByteArray("; top\n[options]\nFROM=/new\nTo=/t\n\n[Other]\nx=1\n");
    QTest::newRow("replace keeps blanks before value")
        << true << QByteArray("[s]\n  k = \"old\"  \n") << "s"
        << "k"
        << "new" << QByteArray("[s]\n  k = new\n");
    QTest::newRow("replace with empty value") << true << QByteArray("[s]\nk=1\n") << "s"
                                              << "k"
                                              << "" << QByteArray("[s]\nk=\n");
    QTest::newRow("replace first of duplicate keys") << true << QByteArray("[s]\nk=1\nk=2\n") << "s"
                                                     << "k"
                                                     << "3" << QByteArray("[s]\nk=3\nk=2\n");
    QTest::newRow("new key after last key, before blank and comment")
        << true << QByteArray("[a]\nx=1\n; note\ny=2\n\n; about b\n[b]\nz=3\n") << "a"
        << "k"
        << "v" << QByteArray("[a]\nx=1\n; note\ny=2\nk=v\n\n; about b\n[b]\nz=3\n");
    QTest::newRow("new key in section without keys") << true << QByteArray("[a]\n\n[b]\n") << "a"
                                                     << "k"
                                                     << "v" << QByteArray("[a]\nk=v\n\n[b]\n");
    QTest::newRow("new key in first of duplicate sections")
        << true << QByteArray("[a]\nx=1\n[A]\ny=2\n") << "a"
        << "y"
        << "3" << QByteArray("[a]\nx=1\ny=3\n[A]\ny=2\n");
    QTest::newRow("new key after last line without line end")
        << true << QByteArray("[a]\nx=1") << "a"
        << "k"
        << "v" << QByteArray("[a]\nx=1\nk=v");
    QTest::newRow("new section at end") << true << QByteArray("[a]\nx=1\n") << "b"
                                        << "k"
                                        << "v" << QByteArray("[a]\nx=1\n[b]\nk=v\n");
    QTest::newRow("new section, last line lacked line end")
        << true << QByteArray("[a]\nx=1") << "b"
        << "k"
        << "v" << QByteArray("[a]\nx=1\n[b]\nk=v\n");
    QTest::newRow("new section keeps trailing blank lines and comments")
        << true << QByteArray("[a]\nx=1\n\n; end\n") << "b"
        << "k"
        << "v" << QByteArray("[a]\nx=1\n\n; end\n[b]\nk=v\n");
    QTest::newRow("CRLF file stays CRLF") << true << QByteArray("[a]\r\nx=1\r\n") << "b"
                                          << "k"
                                          << "v" << QByteArray("[a]\r\nx=1\r\n[b]\r\nk=v\r\n");
    QTest::newRow("CRLF new key") << true << QByteArray("[a]\r\nx=1\r\n[b]\r\n") << "a"
                                  << "k"
                                  << "v" << QByteArray("[a]\r\nx=1\r\nk=v\r\n[b]\r\n");
    QTest::newRow("byte-order mark kept") << true << QByteArray("\xEF\xBB\xBF[a]\nx=1\n") << "a"
                                          << "x"
                                          << "2" << QByteArray("\xEF\xBB\xBF[a]\nx=2\n");
    QTest::newRow("UTF-8 value") << true << QByteArray("[a]\nx=1\n") << "a"
                                 << "x" << QStringLiteral("Größe €")
                                 << QByteArray("[a]\nx=Gr\xC3\xB6\xC3\x9F\x65 \xE2\x82\xAC\n");
    QTest::newRow("Latin-1 file stays Latin-1 when the value fits")
        << true << QByteArray("; \xE4nderbar\r\n[a]\r\nx=1\r\n") << "a"
        << "x" << QStringLiteral("Größe")
        << QByteArray("; \xE4nderbar\r\n[a]\r\nx=Gr\xF6\xDF\x65\r\n");
    QTest::newRow("Latin-1 file becomes UTF-8 when the value does not fit")
        << true << QByteArray("; \xE4nderbar\n[a]\nx=1\n") << "a"
        << "x" << QStringLiteral("€") << QByteArray("; \xC3\xA4nderbar\n[a]\nx=\xE2\x82\xAC\n");
}

void TestProfileFile::write()
{
    QFETCH(bool, exists);
    QFETCH(QByteArray, before);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QByteArray, after);

    if (exists)
        writeFile(path(), before);
    QVERIFY(ProfileFile::write(path(), section, key, value));
    QCOMPARE(fileBytes(path()), after);
    // What was written reads back (values given here carry no outer blanks).
    QCOMPARE(ProfileFile::read(path(), section, key, "missing", 256), value);
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList{"test.ini"});
}

void TestProfileFile::failedWrite_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("missing folder") << QStringLiteral("missing/dir/test.ini");
    QTest::newRow("parent is a regular file") << QStringLiteral("plain.txt/test.ini");
}

void TestProfileFile::failedWrite()
{
    QFETCH(QString, target);
    writeFile(path("plain.txt"), "not a folder\n");
    QVERIFY(!ProfileFile::write(path(target), "s", "k", "v"));
    QCOMPARE(fileBytes(path("plain.txt")), QByteArray("not a folder\n"));
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot),
             QStringList{"plain.txt"});
}

// A write that breaks off half way (here: the file-size limit, which holds
// even for root) must leave the old file as it was and no temporary behind.
void TestProfileFile::failedWriteKeepsOldFile()
{
    const QByteArray old = "[s]\nk=old\n";
    writeFile(path(), old);

    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = ProfileFile::write(path(), "s", "k", QString(200, u'x'));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY(!written);
    QCOMPARE(fileBytes(path()), old);
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"test.ini"});
}

void TestProfileFile::iniHandler()
{
    modGlobal::IniFile = path("Pallwick.ini");
    modGlobal::LangFile = path("English.dat");
    writeFile(modGlobal::LangFile, "[frmMain]\nt12=&Start\n");

    QCOMPARE(ReadIni("Options", "Interval", "5", 256), QStringLiteral("5"));
    WriteIni("Options", "From", QString(300, u'f'));
    WriteIni("Options", "Interval", "10");
    WriteIni("Options", "From", "/src");
    QCOMPARE(fileBytes(modGlobal::IniFile), QByteArray("[Options]\nFrom=/src\nInterval=10\n"));
    QCOMPARE(ReadIni("options", "INTERVAL", "5", 256), QStringLiteral("10"));

    WriteIni("Options", "To", QString(300, u't'));
    QCOMPARE(ReadIni("Options", "To", "", 256), QString(255, u't'));
    QCOMPARE(ReadIni("Options", "To", "", modIniHandler::PathSize), QString(300, u't'));

    // Each reader goes to its own file.
    QCOMPARE(ReadLang("frmMain", "t12", "", 256), QStringLiteral("&Start"));
    QCOMPARE(ReadIni("frmMain", "t12", "", 256), QString());
    QCOMPARE(ReadLang("Options", "Interval", "", 256), QString());

    // Writing into a missing folder is silent and stores nothing.
    modGlobal::IniFile = path("missing/Pallwick.ini");
    WriteIni("Options", "From", "/x");
    QCOMPARE(ReadIni("Options", "From", "none", 256), QStringLiteral("none"));
}

QTEST_GUILESS_MAIN(TestProfileFile)
#include "tst_profilefile.moc"
