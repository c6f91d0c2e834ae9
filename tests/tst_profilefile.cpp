#include "platform/FileStamp.h"
#include "platform/ProfileFile.h"
#include "support/FuseMount.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

// Every read looks up key "Key" in section "Sec"; every write sets k=v.
class TestProfileFile : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString path(const QString &name = "test.ini") const { return dir.filePath(name); }
    // Only the file itself: a leftover temporary would show here.
    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden); }

    // What the file held when a write first ran into the size limit: what a
    // process killed at that moment leaves.
    static inline QByteArray watched;
    static inline char heldAtLimit[512];
    static inline ssize_t heldAtLimitSize = -1;
    static void noteHeldAtLimit(int)
    {
        if (heldAtLimitSize >= 0)
            return;
        const int fd = ::open(watched.constData(), O_RDONLY | O_CLOEXEC);
        heldAtLimitSize = fd < 0 ? 0 : ::read(fd, heldAtLimit, sizeof heldAtLimit);
        ::close(fd);
    }

    // The result of write() under a file-size limit that holds even for root.
    static bool writeWithSizeLimit(const QString &file, const QString &value)
    {
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        const rlimit small{64, saved.rlim_max};
        watched = QFile::encodeName(file);
        heldAtLimitSize = -1;
        const auto oldHandler = std::signal(SIGXFSZ, noteHeldAtLimit);
        setrlimit(RLIMIT_FSIZE, &small);
        const bool written = ProfileFile::write(file, "s", "k", value);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        return written;
    }

private slots:
    void init()
    {
        for (const char *name : {"test.ini", "other", "link.ini"})
            QFile::remove(path(name));
    }

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
        row("8-bit line read as Latin-1", "[Sec]\nKey=Gr\xF6\xDF\x65\n", "", "Größe");
        row("a Latin-1 comment leaves UTF-8 lines UTF-8",
            "; Gr\xF6\xDF\x65\n[Sec]\nKey=Gr\xC3\xBC\xC3\x9F\x65\n", "", "Grüße");
        row("single quotes removed", "[Sec]\nKey='a b'\n", "", "a b");
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
        row("other lines keep indentation, blanks and encoding",
            "  [a]\n\t x = 1 \n; caf\xE9\n  k\t=\told  \n y = Gr\xC3\xBC\xC3\x9F\x65", "a",
            "  [a]\n\t x = 1 \n; caf\xE9\n  k\t=\tv\n y = Gr\xC3\xBC\xC3\x9F\x65");
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

    // Folder names may start or end with blanks or quotes: what is written
    // reads back the same. A changed line is UTF-8, whatever it was; writing
    // the value a Latin-1 line already holds leaves its bytes alone.
    void valuesSurviveTheRoundTrip()
    {
        for (const QString value : {" /lead", "/tmp/a b  ", "\"/q\"", "'/s'", "\""}) {
            QVERIFY(ProfileFile::write(path(), "s", "k", value));
            QCOMPARE(ProfileFile::read(path(), "s", "k", "", 256), value);
        }
        writeFile(path(), "[s]\nk=\xE4\nl=\xE4\n");
        QVERIFY(ProfileFile::write(path(), "s", "k", "ä"));
        QVERIFY(ProfileFile::write(path(), "s", "l", "ü"));
        QCOMPARE(fileBytes(path()), QByteArray("[s]\nk=\xE4\nl=\xC3\xBC\n"));
        QCOMPARE(ProfileFile::read(path(), "s", "l", "", 256), "ü");
    }

    // Neither a refused value nor a write that breaks off half way may touch
    // the old file, whether it is replaced or, having a second hard link,
    // rewritten in place. A write never splits a hard-linked file, follows a
    // symbolic link, and keeps the permission bits and (where it may be set)
    // the owner.
    void writeKeepsTheFileItsLinksAndPermissions()
    {
        writeFile(path(), "[s]\nk=old\n");
        QCOMPARE(::chmod(qPrintable(path()), 0604), 0);
        const uid_t owner = ::geteuid() == 0 ? 65534 : ::geteuid();
        QCOMPARE(::chown(qPrintable(path()), owner, -1), 0);
        for (const bool hardLinked : {false, true}) {
            if (hardLinked)
                QCOMPARE(::link(qPrintable(path()), qPrintable(path("other"))), 0);
            QVERIFY(!ProfileFile::write(path(), "s", "k", "/a\nCheckDestination=1"));
            QVERIFY(!ProfileFile::write(path(), "s", "k", "/a\rb"));
            QVERIFY(!writeWithSizeLimit(path(), QString(200, u'x')));
            QCOMPARE(fileBytes(path()), QByteArray("[s]\nk=old\n"));
            // In place, the room is claimed before the first byte changes.
            QCOMPARE(QByteArray(heldAtLimit, heldAtLimitSize), QByteArray("[s]\nk=old\n"));
            QCOMPARE(files().size(), hardLinked ? 2 : 1);
        }
        // Shorter, but still past the limit: the bytes written before it hit
        // are put back.
        const QByteArray longer = "[s]\nk=" + QByteArray(200, 'o') + "\n";
        writeFile(path(), longer);
        QVERIFY(!writeWithSizeLimit(path(), QString(100, u'x')));
        QCOMPARE(fileBytes(path()), longer);
        QCOMPARE(fileBytes(path("other")), longer);
        writeFile(path(), "[s]\nk=old\n");
        QVERIFY(ProfileFile::write(path(), "s", "k", "linked"));
        QCOMPARE(fileBytes(path("other")), QByteArray("[s]\nk=linked\n"));
        QFile::remove(path("other"));
        QVERIFY(QFile::link(path(), path("link.ini")));
        QVERIFY(ProfileFile::write(path("link.ini"), "s", "k", "replaced"));
        QVERIFY(QFileInfo(path("link.ini")).isSymLink());
        QCOMPARE(fileBytes(path()), QByteArray("[s]\nk=replaced\n"));
        struct stat info = {};
        QCOMPARE(::stat(qPrintable(path()), &info), 0);
        QCOMPARE(info.st_mode & 07777, 0604u);
        QCOMPARE(info.st_uid, owner);
        QCOMPARE(files(), QStringList({"link.ini", "test.ini"}));
    }

    // Whatever stands under the file's name, a read neither hangs nor floods
    // the memory, and only a readable regular file is ever rewritten.
    void onlySaneRegularFiles_data()
    {
        QTest::addColumn<QString>("kind");
        // pagemap: a regular file whose size says 0 and whose content has no end.
        for (const char *kind : {"FIFO", "link to /dev/zero", "link to /proc/self/pagemap",
                                 "folder", "too big", "at the limit"})
            QTest::newRow(kind) << QString(kind);
    }
    void onlySaneRegularFiles()
    {
        QFETCH(QString, kind);
        const bool sane = kind == "at the limit";
        const QString file = path("odd.ini");
        const QByteArray head = "[Sec]\nKey=1\n";
        QByteArray content = head + QByteArray(ProfileFile::MaxFileSize - head.size(), ';');
        if (kind == "FIFO")
            QCOMPARE(::mkfifo(qPrintable(file), 0600), 0);
        else if (kind.startsWith("link to "))
            QVERIFY(QFile::link(kind.sliced(8), file));
        else if (kind == "folder")
            QVERIFY(QDir(dir.path()).mkdir("odd.ini"));
        else
            writeFile(file, sane ? content : content + ';');
        const auto cleanup = qScopeGuard([&] {
            QFile::remove(file);
            QDir(dir.path()).rmdir("odd.ini");
        });
        alarm(20); // a blocking open or read ends the test instead of hanging it
        QCOMPARE(ProfileFile::read(file, "Sec", "Key", "d", 256), sane ? "1" : "d");
        QCOMPARE(ProfileFile::write(file, "Sec", "Key", "2"), sane);
        alarm(0);
        QCOMPARE(ProfileFile::read(file, "Sec", "Key", "d", 256), sane ? "2" : "d");
        if (kind == "too big")
            QCOMPARE(QFileInfo(file).size(), content.size() + 1);
    }

    // A folder that takes no new file (here: read-only) with a writable file
    // in it: the file is written in place. As root the permission bits do not
    // bite, so the folder becomes a read-only mount around a writable file.
    void readOnlyFolderWithWritableFile()
    {
        const QString folder = path("ro");
        const QString file = folder + "/Pallwick.ini";
        QVERIFY(QDir(dir.path()).mkdir("ro"));
        const QByteArray ro = QFile::encodeName(folder), rw = QFile::encodeName(file);
        if (::geteuid() != 0) {
            writeFile(file, "[s]\nk=old\n");
            QCOMPARE(::chmod(ro, 0555), 0);
        } else if (::mount("tmpfs", ro, "tmpfs", 0, "size=1m") != 0) {
            QSKIP("as root this needs a tmpfs mount, which failed here");
        } else {
            writeFile(file, "[s]\nk=old\n");
            QVERIFY(::mount(rw, rw, nullptr, MS_BIND, nullptr) == 0);
            QVERIFY(::mount(nullptr, ro, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0);
        }
        const auto restore = qScopeGuard([&] {
            ::umount2(rw, MNT_DETACH);
            ::umount2(ro, MNT_DETACH);
            ::chmod(ro, 0755);
        });
        QVERIFY2(!QFile(folder + "/probe").open(QIODevice::WriteOnly), "the folder is writable");
        QVERIFY(ProfileFile::write(file, "s", "k", "new"));
        QVERIFY(ProfileFile::write(file, "s", "added", "longer than before"));
        const QByteArray written = "[s]\nk=new\nadded=longer than before\n";
        QCOMPARE(fileBytes(file), written);
        // More than the 1 MiB mount holds: the room claimed for it is given back.
        if (::geteuid() == 0) {
            QVERIFY(!ProfileFile::write(file, "s", "k", QString(1200 * 1024, u'x')));
            QCOMPARE(fileBytes(file), written);
        }
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"Pallwick.ini"});
    }

    // Errors that only the flush or the close of the file reports, as on a
    // FUSE or network drive: the write says it failed, and the file keeps
    // its old content, whether it is replaced or, having a second name,
    // rewritten in place (except where only the close after the flush of
    // the new content failed: the bytes are then in place).
    void flushAndCloseErrors_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<bool>("hardLinked");
        for (const char *failing : {"fsync", "close"})
            for (const bool hardLinked : {false, true})
                QTest::addRow("%s fails, %s", failing, hardLinked ? "in place" : "replaced")
                    << QString(failing) << hardLinked;
    }
    void flushAndCloseErrors()
    {
        QFETCH(QString, failing);
        QFETCH(bool, hardLinked);
        const QByteArray old = "[s]\nk=old\n";
        QVERIFY(QDir().mkpath(path("backing")));
        writeFile(path("backing/Pallwick.ini"), old);
        if (hardLinked)
            QCOMPARE(::link(QFile::encodeName(path("backing/Pallwick.ini")),
                            QFile::encodeName(path("backing/other"))),
                     0);
        const auto removeBacking = qScopeGuard([&] { QDir(path("backing")).removeRecursively(); });
        FuseMount fs("volatile_fs.py", {"--fail", failing}, path("backing"), path("fuse"));
        if (!fs.skipReason.isEmpty())
            QSKIP(qPrintable(fs.skipReason));
        QVERIFY(!ProfileFile::write(path("fuse/Pallwick.ini"), "s", "k", "new"));
        const bool placed = hardLinked && failing == "close";
        QCOMPARE(fileBytes(path("fuse/Pallwick.ini")), placed ? "[s]\nk=new\n" : old);
        QCOMPARE(QDir(path("fuse")).entryList(QDir::Files | QDir::Hidden).size(),
                 hardLinked ? 2 : 1);
    }

    // The stamp that decides whether a setting must be read again sees a
    // rewrite that keeps size and time, and another file of the same size and
    // time put in the file's place. A stamp is trusted only once both its
    // times lie further back than one step of a coarse file-system clock.
    void stampShowsEveryChange()
    {
        const QByteArray name = QFile::encodeName(path());
        const struct timespec old[2] = {{1000000000, 5}, {1000000000, 5}};
        const auto rewrite = [&](const QString &file, const QByteArray &bytes) {
            QTest::qWait(20); // past one tick of a coarse clock
            writeFile(file, bytes);
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(file), old, 0), 0);
        };
        rewrite(path(), "[s]\nk=1\n");
        const std::optional<FileStamp> first = FileStamp::of(path());
        QVERIFY(first && FileStamp::of(path()) == first);
        rewrite(path(), "[s]\nk=2\n");
        const std::optional<FileStamp> inPlace = FileStamp::of(path());
        QVERIFY(inPlace && inPlace != first && inPlace->inode == first->inode);
        QVERIFY(!inPlace->settled()); // its time is old, its change is not
        rewrite(path("other"), "[s]\nk=3\n");
        QCOMPARE(::rename(QFile::encodeName(path("other")), name), 0);
        QVERIFY(FileStamp::of(path()) != inPlace);
        QVERIFY(!FileStamp::of(path("missing")));

        const qint64 now = QDateTime::currentMSecsSinceEpoch() * 1000000, past = now - 3000000000;
        QVERIFY((FileStamp{1, 2, 3, past, past}.settled()));
        QVERIFY(!(FileStamp{1, 2, 3, now, past}.settled())); // a server's clock ahead
    }

    // The delivered language files hold every text; t10 may be empty, and
    // the Options button needs its access key.
    void deliveredLanguageFiles()
    {
        for (const char *name : {"Deutsch", "English"}) {
            const QString file = PALLWICK_SOURCE_DIR "/lang/" + QString(name) + ".dat";
            QVERIFY(QFile::exists(file));
            for (int i = 0; i <= 52; ++i) {
                const QString text =
                    ProfileFile::read(file, "frmMain", QString("t%1").arg(i), "", 256);
                QVERIFY2(i == 10 || !text.isEmpty(), qPrintable(file + QString(" t%1").arg(i)));
                QVERIFY(i != 38 || text.contains(u'&'));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestProfileFile)
#include "tst_profilefile.moc"
