#include "platform/FileNames.h"
#include "platform/PosixFileSystem.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray enc(const QString &path)
{
    return QFile::encodeName(path);
}

struct stat statOf(const QString &path)
{
    struct stat st = {};
    ::lstat(enc(path).constData(), &st);
    return st;
}

// Every entry of a folder, hidden ones included, so leftover temporaries show.
QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

void writeWithModeAndTime(const QString &path, const QByteArray &content, mode_t mode)
{
    writeFile(path, content);
    QCOMPARE(::chmod(enc(path).constData(), mode), 0);
    const struct timespec times[2] = {{1000000000, 123456789}, {1000000000, 123456789}};
    QCOMPARE(::utimensat(AT_FDCWD, enc(path).constData(), times, 0), 0);
}

void checkModeAndTime(const QString &path, mode_t mode)
{
    const struct stat st = statOf(path);
    QCOMPARE(st.st_mode & 07777, mode);
    QCOMPARE(st.st_mtim.tv_sec, time_t(1000000000));
    QCOMPARE(st.st_mtim.tv_nsec, 123456789L);
}

} // namespace

class tst_PosixFileSystem : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    PosixFileSystem m_fs;
    QString path(const QString &name) const { return m_dir->filePath(name); }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    // A name that is not UTF-8 (Latin-1 "café") still names its file after
    // the trip through the program's text, and arrives byte for byte.
    void namesThatAreNotUtf8()
    {
        for (const QByteArray &bytes : {QByteArray("caf\xE9"), QByteArray("\xC0\x80x"),
                                        QByteArray("\xED\xA0\x80"), QByteArray("gr\xC3\xBC\xC3")})
            QCOMPARE(FileNames::encode(FileNames::decode(bytes)), bytes);
        QCOMPARE(FileNames::decode("gr\xC3\xBC\xC3\x9F"), QString::fromUtf8("grüß"));

        QVERIFY(QDir().mkpath(path("from")) && QDir().mkpath(path("to")));
        const QByteArray raw = enc(path("from")) + "/caf\xE9";
        const int fd = ::open(raw.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0 && ::write(fd, "data", 4) == 4 && ::close(fd) == 0);
        const FsValue<QStringList> listed = m_fs.listPlainFiles(path("from"));
        QVERIFY(listed.ok() && listed.value.size() == 1);
        const QString name = listed.value.first();
        QVERIFY(m_fs.copyFile(path("from/") + name, path("to/") + name).ok());
        QVERIFY(m_fs.moveFile(path("from/") + name, path("from/moved")).ok());
        struct stat st;
        QCOMPARE(::stat((enc(path("to")) + "/caf\xE9").constData(), &st), 0);
        QCOMPARE(qint64(st.st_size), qint64(4));
    }

    void listsOnlyPlainFiles()
    {
        const QString folder = path("src");
        QVERIFY(QDir().mkpath(folder + "/sub"));
        for (const char *name : {"a.txt", "with blank.txt", "new\nline", ".hidden"})
            writeFile(folder + '/' + name, "x");
        QCOMPARE(::symlink("a.txt", enc(folder + "/link").constData()), 0);
        QCOMPARE(::mkfifo(enc(folder + "/fifo").constData(), 0644), 0); // opening it would hang

        FsValue<QStringList> listed = m_fs.listPlainFiles(folder);
        QVERIFY2(listed.ok(), qPrintable(listed.description));
        listed.value.sort();
        QCOMPARE(listed.value, (QStringList{"a.txt", "new\nline", "with blank.txt"}));
    }

    void copyKeepsContentTimeAndMode_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("existing"); // null: no destination file before
        QTest::newRow("plain") << QByteArray("hello") << 0640 << QByteArray();
        QTest::newRow("empty") << QByteArray("") << 0600 << QByteArray();
        QTest::newRow("larger than one buffer")
            << QByteArray(3 * 1024 * 1024 + 7, 'z') << 0755 << QByteArray();
        QTest::newRow("replaces a longer read-only file")
            << QByteArray("new") << 0644 << QByteArray(100000, 'o');
    }
    void copyKeepsContentTimeAndMode()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, mode);
        QFETCH(QByteArray, existing);
        QVERIFY(QDir().mkdir(path("dst")));
        writeWithModeAndTime(path("a b"), content, mode_t(mode));
        if (!existing.isNull())
            writeWithModeAndTime(path("dst/a b"), existing, 0444);

        const FsResult result = m_fs.copyFile(path("a b"), path("dst/a b"));
        QVERIFY2(result.ok(), qPrintable(result.description));
        QCOMPARE(fileBytes(path("dst/a b")), content);
        checkModeAndTime(path("dst/a b"), mode_t(mode));
        QCOMPARE(entries(path("dst")), QStringList{"a b"});
    }

    void copyFailureLeavesNothing_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("destination");
        QTest::newRow("destination folder missing") << "src/file" << ENOENT << "gone/file";
        QTest::newRow("source missing") << "src/missing" << ENOENT << "dst/file";
        QTest::newRow("source is a folder") << "src" << EISDIR << "dst/file";
        QTest::newRow("source is a fifo") << "src/fifo" << EINVAL << "dst/file";
        QTest::newRow("destination is a folder") << "src/file" << EISDIR << "dst/folder";
    }
    void copyFailureLeavesNothing()
    {
        QFETCH(QString, source);
        QFETCH(int, error);
        QFETCH(QString, destination);
        QVERIFY(QDir().mkdir(path("src")) && QDir().mkpath(path("dst/folder")));
        writeFile(path("src/file"), "content");
        QCOMPARE(::mkfifo(enc(path("src/fifo")).constData(), 0644), 0);

        const FsResult result = m_fs.copyFile(path(source), path(destination));
        QCOMPARE(result.error, error);
        QVERIFY(!result.description.isEmpty());
        QCOMPARE(entries(path("dst")), QStringList{"folder"});
    }

    void copyLargeSparseFile()
    {
        // 5 GiB, mostly hole: offsets beyond 32 bits must survive the copy.
        const qint64 size = 5LL * 1024 * 1024 * 1024;
        QFile source(path("sparse"));
        if (!source.open(QIODevice::WriteOnly) || !source.seek(size - 4) ||
            source.write("tail") != 4)
            QSKIP("the file system refuses a 5 GiB sparse file");
        source.close();

        QVERIFY(m_fs.copyFile(path("sparse"), path("copy")).ok());
        QFile copy(path("copy"));
        QVERIFY(copy.open(QIODevice::ReadOnly) && copy.seek(size - 4));
        QCOMPARE(copy.size(), size);
        QCOMPARE(copy.read(4), QByteArray("tail"));
    }

    void moveDeleteAndDriveName()
    {
        QVERIFY(QDir().mkdir(path("dst")));
        writeFile(path("a b"), "moved");
        const ino_t inode = statOf(path("a b")).st_ino;
        QVERIFY(m_fs.moveFile(path("a b"), path("dst/a b")).ok());
        QVERIFY(!QFile::exists(path("a b")));
        QCOMPARE(statOf(path("dst/a b")).st_ino, inode); // renamed, not copied

        writeFile(path("a b"), "second"); // onto an existing file: fails, keeps both
        QCOMPARE(m_fs.moveFile(path("a b"), path("dst/a b")).error, EEXIST);
        QCOMPARE(fileBytes(path("a b")), QByteArray("second"));
        QCOMPARE(fileBytes(path("dst/a b")), QByteArray("moved"));

        QCOMPARE(::chmod(enc(path("a b")).constData(), 0444), 0);
        QVERIFY(m_fs.deleteFile(path("a b")).ok());
        QCOMPARE(entries(m_dir->path()), QStringList{"dst"});

        const QString drive = m_fs.driveName(path("dst"));
        QVERIFY(!drive.isEmpty() && drive == m_fs.driveName(m_dir->path()));
    }

    void sameFile()
    {
        QVERIFY(QDir().mkdir(path("dir")));
        writeFile(path("dir/f"), "same");
        writeFile(path("dir/g"), "same");
        QCOMPARE(::symlink("dir", enc(path("linked")).constData()), 0);
        QVERIFY(m_fs.sameFile(path("dir/f"), path("linked/f")));
        QVERIFY(m_fs.sameFile(path("dir/f"), m_dir->path() + "/dir//f"));
        QVERIFY(!m_fs.sameFile(path("dir/f"), path("dir/g"))); // equal content only
        QVERIFY(!m_fs.sameFile(path("dir/f"), path("dir/missing")));
    }

    void otherAndFullFileSystem()
    {
        // A small tmpfs stands in for a second, and a full, file system.
        QVERIFY(QDir().mkdir(path("mnt")));
        const QByteArray mnt = enc(path("mnt"));
        if (::mount("tmpfs", mnt.constData(), "tmpfs", 0, "size=4m") != 0)
            QSKIP("needs root and a working tmpfs mount");
        const auto unmount = qScopeGuard([&] { ::umount2(mnt.constData(), MNT_DETACH); });
        QVERIFY(m_fs.driveName(path("mnt")) != m_fs.driveName(m_dir->path()));

        // Across file systems: a full copy keeping time and mode, then the source goes.
        const QByteArray small(1024 * 1024, 'm');
        writeWithModeAndTime(path("small"), small, 0640);
        QVERIFY(m_fs.moveFile(path("small"), path("mnt/small")).ok());
        QVERIFY(!QFile::exists(path("small")));
        QCOMPARE(fileBytes(path("mnt/small")), small);
        checkModeAndTime(path("mnt/small"), 0640);

        // Full: the old destination and the source stay, nothing partial is left.
        const QByteArray big(5 * 1024 * 1024, 'f');
        writeFile(path("big"), big);
        QCOMPARE(m_fs.copyFile(path("big"), path("mnt/small")).error, ENOSPC);
        QCOMPARE(fileBytes(path("mnt/small")), small);
        QCOMPARE(m_fs.moveFile(path("big"), path("mnt/big")).error, ENOSPC);
        QCOMPARE(fileBytes(path("big")), big);
        QCOMPARE(entries(path("mnt")), QStringList{"small"});
    }
};

QTEST_GUILESS_MAIN(tst_PosixFileSystem)
#include "tst_posixfilesystem.moc"
