#include "platform/PosixFileSystem.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

QByteArray enc(const QString &path)
{
    return QFile::encodeName(path);
}

void writeFile(const QString &path, const QByteArray &content, mode_t mode = 0644)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(content), content.size());
    file.close();
    QCOMPARE(::chmod(enc(path).constData(), mode), 0);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

struct stat statOf(const QString &path)
{
    struct stat st
    {
    };
    ::lstat(enc(path).constData(), &st);
    return st;
}

// Every entry of a folder, hidden ones included, so leftovers show up.
QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

void setMtime(const QString &path, time_t seconds, long nanoseconds)
{
    const struct timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    QCOMPARE(::utimensat(AT_FDCWD, enc(path).constData(), times, AT_SYMLINK_NOFOLLOW), 0);
}

// A small tmpfs for tests that need a second file system or a full one.
// Unmounts on every way out of the test, failed checks included.
class TmpfsMount
{
public:
    TmpfsMount(const QString &where, const char *options) : m_where(enc(where))
    {
        m_mounted =
            ::geteuid() == 0 && ::mount("tmpfs", m_where.constData(), "tmpfs", 0, options) == 0;
    }
    ~TmpfsMount()
    {
        if (m_mounted)
            ::umount2(m_where.constData(), MNT_DETACH);
    }
    TmpfsMount(const TmpfsMount &) = delete;
    TmpfsMount &operator=(const TmpfsMount &) = delete;

    bool mounted() const { return m_mounted; }
    bool makeReadOnly()
    {
        return ::mount("tmpfs", m_where.constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    QByteArray m_where;
    bool m_mounted = false;
};

#define REQUIRE_TMPFS(guard)                                                                       \
    do {                                                                                           \
        if (!(guard).mounted())                                                                    \
            QSKIP("needs root and a working tmpfs mount");                                         \
    } while (false)

} // namespace

class tst_PosixFileSystem : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void listsOnlyPlainFiles();
    void listFailures_data();
    void listFailures();
    void probes_data();
    void probes();

    void copyKeepsContentTimeAndMode_data();
    void copyKeepsContentTimeAndMode();
    void copyFailureLeavesNothing_data();
    void copyFailureLeavesNothing();
    void copyLargeSparseFile();

    void moveWithinFileSystem();
    void moveFailures_data();
    void moveFailures();
    void deleteFile_data();
    void deleteFile();

    void sameFile_data();
    void sameFile();
    void driveNameAndFreeSpace();

    void crossFileSystemMove();
    void crossFileSystemMoveKeepsSourceWhenItCannotBeRemoved();
    void fullDisk();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    PosixFileSystem m_fs;
    QString path(const QString &name) const { return m_dir->filePath(name); }
};

void tst_PosixFileSystem::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void tst_PosixFileSystem::listsOnlyPlainFiles()
{
    const QString folder = path("src");
    QVERIFY(QDir().mkpath(folder + "/sub"));
    writeFile(folder + "/a.txt", "a");
    writeFile(folder + "/with blank.txt", "b");
    writeFile(folder + "/new\nline", "c");
    writeFile(folder + "/read-only", "d", 0444);
    writeFile(folder + "/.hidden", "e");
    QCOMPARE(::symlink("a.txt", enc(folder + "/link-to-file").constData()), 0);
    QCOMPARE(::symlink("sub", enc(folder + "/link-to-folder").constData()), 0);
    QCOMPARE(::mkfifo(enc(folder + "/fifo").constData(), 0644), 0);

    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(sock >= 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketPath = enc(folder + "/socket");
    QVERIFY(size_t(socketPath.size()) < sizeof(address.sun_path));
    qstrcpy(address.sun_path, socketPath.constData());
    const bool bound = ::bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(sock);
    QVERIFY(bound);

    const FsValue<QStringList> listed = m_fs.listPlainFiles(folder);
    QVERIFY2(listed.ok(), qPrintable(listed.description));
    const QStringList expected{"a.txt", "with blank.txt", "new\nline", "read-only"};
    QCOMPARE(listed.value.size(), expected.size());
    QCOMPARE(QSet<QString>(listed.value.begin(), listed.value.end()),
             QSet<QString>(expected.begin(), expected.end()));
}

void tst_PosixFileSystem::listFailures_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("error");
    QTest::newRow("missing folder") << "missing" << ENOENT;
    QTest::newRow("a file") << "file" << ENOTDIR;
    QTest::newRow("empty path") << "" << ENOENT;
}

void tst_PosixFileSystem::listFailures()
{
    QFETCH(QString, folder);
    QFETCH(int, error);
    writeFile(path("file"), "x");
    const FsValue<QStringList> listed =
        m_fs.listPlainFiles(folder.isEmpty() ? folder : path(folder));
    QCOMPARE(listed.error, error);
    QVERIFY(!listed.description.isEmpty());
}

void tst_PosixFileSystem::probes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("isFile");
    QTest::addColumn<bool>("isFolder");
    QTest::addColumn<qint64>("length"); // -1: fileLength must fail

    QTest::newRow("file") << "file" << true << false << qint64(5);
    QTest::newRow("folder") << "folder" << false << true << qint64(-1);
    QTest::newRow("missing") << "missing" << false << false << qint64(-1);
    QTest::newRow("below a file") << "file/below" << false << false << qint64(-1);
    QTest::newRow("link to file") << "link" << true << false << qint64(5);
    QTest::newRow("dangling link") << "dangling" << true << false << qint64(-1);
    QTest::newRow("fifo") << "fifo" << true << false << qint64(0);
    QTest::newRow("empty path") << "" << false << false << qint64(-1);
}

void tst_PosixFileSystem::probes()
{
    QFETCH(QString, name);
    QFETCH(bool, isFile);
    QFETCH(bool, isFolder);
    QFETCH(qint64, length);

    writeFile(path("file"), "12345");
    QVERIFY(QDir().mkdir(path("folder")));
    QCOMPARE(::symlink("file", enc(path("link")).constData()), 0);
    QCOMPARE(::symlink("nowhere", enc(path("dangling")).constData()), 0);
    QCOMPARE(::mkfifo(enc(path("fifo")).constData(), 0644), 0);

    const QString target = name.isEmpty() ? name : path(name);
    const FsValue<bool> exists = m_fs.fileExists(target);
    QVERIFY2(exists.ok(), qPrintable(exists.description));
    QCOMPARE(exists.value, isFile);
    QCOMPARE(m_fs.folderExists(target), isFolder);
    const FsValue<qint64> size = m_fs.fileLength(target);
    QCOMPARE(size.ok(), length >= 0);
    if (size.ok())
        QCOMPARE(size.value, length);
    else
        QVERIFY(!size.description.isEmpty());
}

void tst_PosixFileSystem::copyKeepsContentTimeAndMode_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("existing"); // null: no destination file before

    QTest::newRow("plain") << "a.txt" << QByteArray("hello") << 0640 << QByteArray();
    QTest::newRow("read-only source") << "ro.txt" << QByteArray("locked") << 0444 << QByteArray();
    QTest::newRow("empty") << "empty" << QByteArray("") << 0600 << QByteArray();
    QTest::newRow("blanks") << "a b  c.txt" << QByteArray("x") << 0644 << QByteArray();
    QTest::newRow("newline") << "a\nb" << QByteArray("y") << 0644 << QByteArray();
    QTest::newRow("replaces a longer file")
        << "a.txt" << QByteArray("new") << 0644 << QByteArray(100000, 'o');
    QTest::newRow("replaces a read-only file")
        << "a.txt" << QByteArray("new") << 0644 << QByteArray("old");
    QTest::newRow("larger than one buffer")
        << "big" << QByteArray(3 * 1024 * 1024 + 7, 'z') << 0755 << QByteArray();
}

void tst_PosixFileSystem::copyKeepsContentTimeAndMode()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(int, mode);
    QFETCH(QByteArray, existing);

    QVERIFY(QDir().mkdir(path("src")));
    QVERIFY(QDir().mkdir(path("dst")));
    const QString source = path("src/" + name);
    const QString destination = path("dst/" + name);
    writeFile(source, content, mode_t(mode));
    setMtime(source, 1000000000, 123456789);
    if (!existing.isNull())
        writeFile(destination, existing, 0444);

    const FsResult result = m_fs.copyFile(source, destination);
    QVERIFY2(result.ok(), qPrintable(result.description));

    QCOMPARE(readFile(destination), content);
    const struct stat copied = statOf(destination);
    QCOMPARE(copied.st_mode & 07777, mode_t(mode));
    QCOMPARE(copied.st_mtim.tv_sec, time_t(1000000000));
    QCOMPARE(copied.st_mtim.tv_nsec, 123456789L);
    QCOMPARE(entries(path("dst")), QStringList{name});
    QCOMPARE(readFile(source), content);
}

void tst_PosixFileSystem::copyFailureLeavesNothing_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<int>("error");

    QTest::newRow("destination folder missing") << "src/file"
                                                << "gone/file" << ENOENT;
    QTest::newRow("source missing") << "src/missing"
                                    << "dst/file" << ENOENT;
    QTest::newRow("source is a folder") << "src"
                                        << "dst/file" << EISDIR;
    QTest::newRow("source is a fifo") << "src/fifo"
                                      << "dst/file" << EINVAL;
    QTest::newRow("source is a link") << "src/link"
                                      << "dst/file" << EINVAL;
    QTest::newRow("destination is a folder") << "src/file"
                                             << "dst/folder" << EISDIR;
}

void tst_PosixFileSystem::copyFailureLeavesNothing()
{
    QFETCH(QString, source);
    QFETCH(QString, destination);
    QFETCH(int, error);

    QVERIFY(QDir().mkdir(path("src")));
    QVERIFY(QDir().mkpath(path("dst/folder")));
    writeFile(path("src/file"), "content");
    QCOMPARE(::mkfifo(enc(path("src/fifo")).constData(), 0644), 0);
    QCOMPARE(::symlink("file", enc(path("src/link")).constData()), 0);

    const FsResult result = m_fs.copyFile(path(source), path(destination));
    QCOMPARE(result.error, error);
    QVERIFY(!result.description.isEmpty());
    QCOMPARE(entries(path("dst")), QStringList{"folder"});
    QVERIFY(entries(path("dst/folder")).isEmpty());
    QCOMPARE(entries(path("src")), (QStringList{"fifo", "file", "link"}));
    QCOMPARE(readFile(path("src/file")), QByteArray("content"));
}

void tst_PosixFileSystem::copyLargeSparseFile()
{
    // 5 GiB, mostly hole: offsets beyond 32 bits must survive the copy.
    const qint64 size = 5LL * 1024 * 1024 * 1024;
    const QString source = path("sparse");
    {
        QFile file(source);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write("head"), qint64(4));
        if (!file.resize(size))
            QSKIP("the file system refuses a 5 GiB sparse file");
        QVERIFY(file.seek(size - 4));
        QCOMPARE(file.write("tail"), qint64(4));
    }
    const FsResult result = m_fs.copyFile(source, path("copy"));
    QVERIFY2(result.ok(), qPrintable(result.description));

    const FsValue<qint64> length = m_fs.fileLength(path("copy"));
    QVERIFY(length.ok());
    QCOMPARE(length.value, size);
    QFile copy(path("copy"));
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.read(4), QByteArray("head"));
    QVERIFY(copy.seek(size - 4));
    QCOMPARE(copy.read(4), QByteArray("tail"));
    QVERIFY(copy.seek(size / 2));
    QCOMPARE(copy.read(4), QByteArray(4, '\0'));
    // Where the source is stored sparse, the copy must not fill in its holes.
    if (statOf(source).st_blocks * 512 < 64 * 1024 * 1024)
        QVERIFY(statOf(path("copy")).st_blocks * 512 < 64 * 1024 * 1024);
}

void tst_PosixFileSystem::moveWithinFileSystem()
{
    QVERIFY(QDir().mkdir(path("dst")));
    writeFile(path("a b"), "moved", 0600);
    setMtime(path("a b"), 1200000000, 0);
    const ino_t inode = statOf(path("a b")).st_ino;

    const FsResult result = m_fs.moveFile(path("a b"), path("dst/a b"));
    QVERIFY2(result.ok(), qPrintable(result.description));
    QVERIFY(!QFile::exists(path("a b")));
    QCOMPARE(readFile(path("dst/a b")), QByteArray("moved"));
    QCOMPARE(statOf(path("dst/a b")).st_ino, inode);
    QCOMPARE(entries(path("dst")), QStringList{"a b"});
}

void tst_PosixFileSystem::moveFailures_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<int>("error");

    QTest::newRow("destination exists") << "src"
                                        << "dst/existing" << EEXIST;
    QTest::newRow("destination is a dangling link") << "src"
                                                    << "dst/dangling" << EEXIST;
    QTest::newRow("destination is a folder") << "src"
                                             << "dst" << EEXIST;
    QTest::newRow("source missing") << "missing"
                                    << "dst/new" << ENOENT;
    QTest::newRow("destination folder missing") << "src"
                                                << "gone/new" << ENOENT;
}

void tst_PosixFileSystem::moveFailures()
{
    QFETCH(QString, source);
    QFETCH(QString, destination);
    QFETCH(int, error);

    QVERIFY(QDir().mkdir(path("dst")));
    writeFile(path("src"), "source");
    writeFile(path("dst/existing"), "existing");
    QCOMPARE(::symlink("nowhere", enc(path("dst/dangling")).constData()), 0);

    const FsResult result = m_fs.moveFile(path(source), path(destination));
    QCOMPARE(result.error, error);
    QVERIFY(!result.description.isEmpty());
    QCOMPARE(readFile(path("src")), QByteArray("source"));
    QCOMPARE(readFile(path("dst/existing")), QByteArray("existing"));
    QCOMPARE(entries(path("dst")), (QStringList{"dangling", "existing"}));
}

void tst_PosixFileSystem::deleteFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("error");

    QTest::newRow("read-only file") << "ro" << 0;
    QTest::newRow("name with newline") << "new\nline" << 0;
    QTest::newRow("folder") << "folder" << EISDIR;
    QTest::newRow("missing") << "missing" << ENOENT;
}

void tst_PosixFileSystem::deleteFile()
{
    QFETCH(QString, name);
    QFETCH(int, error);

    writeFile(path("ro"), "x", 0444);
    writeFile(path("new\nline"), "x");
    QVERIFY(QDir().mkdir(path("folder")));
    const QStringList before = entries(m_dir->path());

    const FsResult result = m_fs.deleteFile(path(name));
    QCOMPARE(result.error, error);
    QStringList expected = before;
    if (error == 0)
        expected.removeOne(name);
    else
        QVERIFY(!result.description.isEmpty());
    QCOMPARE(entries(m_dir->path()), expected);
}

void tst_PosixFileSystem::sameFile_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("same");

    QTest::newRow("itself") << "dir/f"
                            << "dir/f" << true;
    QTest::newRow("through a linked folder") << "dir/f"
                                             << "linked/f" << true;
    QTest::newRow("doubled separator") << "dir/f"
                                       << "dir//f" << true;
    QTest::newRow("dot and dot-dot") << "dir/f"
                                     << "./dir/../dir/f" << true;
    QTest::newRow("hard link") << "dir/f"
                               << "hard" << true;
    QTest::newRow("equal copy") << "dir/f"
                                << "dir/g" << false;
    QTest::newRow("one missing") << "dir/f"
                                 << "dir/missing" << false;
    QTest::newRow("both missing") << "x"
                                  << "x" << false;
}

void tst_PosixFileSystem::sameFile()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(bool, same);

    QVERIFY(QDir().mkdir(path("dir")));
    writeFile(path("dir/f"), "same");
    writeFile(path("dir/g"), "same");
    QCOMPARE(::symlink("dir", enc(path("linked")).constData()), 0);
    QCOMPARE(::link(enc(path("dir/f")).constData(), enc(path("hard")).constData()), 0);

    QCOMPARE(m_fs.sameFile(m_dir->path() + '/' + a, m_dir->path() + '/' + b), same);
}

void tst_PosixFileSystem::driveNameAndFreeSpace()
{
    QVERIFY(QDir().mkpath(path("a/deeper")));
    QVERIFY(QDir().mkdir(path("b")));
    const QString drive = m_fs.driveName(path("a/deeper"));
    QVERIFY(!drive.isEmpty());
    QCOMPARE(m_fs.driveName(path("b")), drive);
    QCOMPARE(m_fs.driveName(path("b") + "/../a"), drive);
    QVERIFY(path("a").startsWith(drive) || drive == "/");
    QCOMPARE(m_fs.driveName(path("missing")), QString());
    QCOMPARE(m_fs.driveName(QString()), QString());

    QVERIFY(m_fs.freeSpace(path("a")) > 0);
    QCOMPARE(m_fs.freeSpace(path("missing")), qint64(-1));
    QCOMPARE(m_fs.freeSpace(QString()), qint64(-1));
}

void tst_PosixFileSystem::crossFileSystemMove()
{
    QVERIFY(QDir().mkdir(path("mnt")));
    TmpfsMount mount(path("mnt"), "size=8m");
    REQUIRE_TMPFS(mount);

    const QByteArray content(3 * 1024 * 1024, 'm');
    writeFile(path("file one"), content, 0640);
    setMtime(path("file one"), 1300000000, 5);

    QVERIFY(m_fs.driveName(path("mnt")) != m_fs.driveName(m_dir->path()));
    QCOMPARE(m_fs.driveName(path("mnt")), QDir(path("mnt")).canonicalPath());
    QVERIFY(m_fs.freeSpace(path("mnt")) <= 8 * 1024 * 1024);

    const FsResult result = m_fs.moveFile(path("file one"), path("mnt/file one"));
    QVERIFY2(result.ok(), qPrintable(result.description));
    QVERIFY(!QFile::exists(path("file one")));
    QCOMPARE(readFile(path("mnt/file one")), content);
    const struct stat moved = statOf(path("mnt/file one"));
    QCOMPARE(moved.st_mode & 07777, mode_t(0640));
    QCOMPARE(moved.st_mtim.tv_sec, time_t(1300000000));
    QCOMPARE(moved.st_nlink, nlink_t(1));
    QCOMPARE(entries(path("mnt")), QStringList{"file one"});

    // Back again, onto a name that now exists on the other side.
    writeFile(path("file one"), "new");
    QCOMPARE(m_fs.moveFile(path("mnt/file one"), path("file one")).error, EEXIST);
    QCOMPARE(readFile(path("mnt/file one")), content);
    QCOMPARE(readFile(path("file one")), QByteArray("new"));
}

void tst_PosixFileSystem::crossFileSystemMoveKeepsSourceWhenItCannotBeRemoved()
{
    QVERIFY(QDir().mkdir(path("mnt")));
    QVERIFY(QDir().mkdir(path("dst")));
    TmpfsMount mount(path("mnt"), "size=1m");
    REQUIRE_TMPFS(mount);
    writeFile(path("mnt/file"), "stays");
    QVERIFY(mount.makeReadOnly());

    const FsResult result = m_fs.moveFile(path("mnt/file"), path("dst/file"));
    QCOMPARE(result.error, EROFS);
    QCOMPARE(readFile(path("mnt/file")), QByteArray("stays"));
    QVERIFY(entries(path("dst")).isEmpty());
}

void tst_PosixFileSystem::fullDisk()
{
    QVERIFY(QDir().mkdir(path("mnt")));
    TmpfsMount mount(path("mnt"), "size=1m");
    REQUIRE_TMPFS(mount);
    const QByteArray content(2 * 1024 * 1024, 'f');
    writeFile(path("big"), content);
    writeFile(path("mnt/big"), "old");

    FsResult result = m_fs.copyFile(path("big"), path("mnt/big"));
    QCOMPARE(result.error, ENOSPC);
    QVERIFY(!result.description.isEmpty());
    QCOMPARE(entries(path("mnt")), QStringList{"big"});
    QCOMPARE(readFile(path("mnt/big")), QByteArray("old"));

    result = m_fs.moveFile(path("big"), path("mnt/other"));
    QCOMPARE(result.error, ENOSPC);
    QCOMPARE(entries(path("mnt")), QStringList{"big"});
    QCOMPARE(readFile(path("big")), content);
    QVERIFY(m_fs.freeSpace(path("mnt")) > 1024 * 1024 - 64 * 1024);
}

QTEST_GUILESS_MAIN(tst_PosixFileSystem)
#include "tst_posixfilesystem.moc"
