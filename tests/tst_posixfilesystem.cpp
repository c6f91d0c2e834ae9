#include "platform/Clock.h"
#include "platform/FileNames.h"
#include "platform/PosixDurability.h"
#include "platform/PosixFileSystem.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <map>

#include <fcntl.h>
#include <ftw.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

static QByteArray enc(const QString &path)
{
    return QFile::encodeName(path);
}

static struct stat statOf(const QByteArray &path)
{
    struct stat st = {};
    ::lstat(path.constData(), &st);
    return st;
}

// Permission bits and modification time to the nanosecond, which a copy keeps.
static QString modeAndTime(const QString &path)
{
    const struct stat st = statOf(enc(path));
    return QString::asprintf("%o %lld.%09ld", st.st_mode & 07777, qint64(st.st_mtim.tv_sec),
                             st.st_mtim.tv_nsec);
}

// An old time with nanoseconds, so a copy made now cannot match it by chance.
static void writeWithModeAndTime(const QString &path, const QByteArray &content, mode_t mode)
{
    writeFile(path, content);
    const struct timespec times[2] = {{1000000000, 123456789}, {1000000000, 123456789}};
    QVERIFY(::chmod(enc(path).constData(), mode) == 0 &&
            ::utimensat(AT_FDCWD, enc(path).constData(), times, 0) == 0);
}

// Every entry of a folder, hidden ones included, so leftover temporaries show.
static QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

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
        QVERIFY(m_dir->isValid() && QDir().mkpath(path("src/sub")) && QDir().mkpath(path("dst")));
        writeFile(path("src/file"), "content");
        QCOMPARE(::mkfifo(enc(path("src/fifo")).constData(), 0644), 0); // opening it would hang
    }
    // Qt cannot remove names that are not UTF-8; the kernel's names can.
    void cleanup()
    {
        PosixFileSystem::setUnnamedTemporaries(true);
        PosixFileSystem::setStepHook({});
        const QByteArray top = enc(m_dir->path());
        ::nftw(
            top.constData(),
            [](const char *name, const struct stat *, int, FTW *) { return ::remove(name); }, 16,
            FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
        m_dir.reset();
    }

    // A name that is not UTF-8 (Latin-1 "café") still names its file after
    // the trip through the program's text, and arrives byte for byte.
    void listsPlainFilesWhateverTheirNames()
    {
        for (const QByteArray &bytes : {QByteArray("caf\xE9"), QByteArray("\xC0\x80x"),
                                        QByteArray("\xED\xA0\x80"), QByteArray("gr\xC3\xBC\xC3")})
            QCOMPARE(FileNames::encode(FileNames::decode(bytes)), bytes);
        QCOMPARE(FileNames::decode("gr\xC3\xBC\xC3\x9F"), QString::fromUtf8("grüß"));

        const int fd = ::open(enc(path("src")) + "/caf\xE9", O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0 && ::write(fd, "data", 4) == 4 && ::close(fd) == 0);
        for (const char *name : {"with blank", "new\nline", ".hidden"})
            writeFile(path("src/") + name, "x");
        QCOMPARE(::symlink("file", enc(path("src/link")).constData()), 0);
        FsValue<QStringList> listed = m_fs.listPlainFiles(path("src"));
        QVERIFY2(listed.ok(), qPrintable(listed.description));
        listed.value.sort();
        const QString cafe = FileNames::decode("caf\xE9");
        QCOMPARE(listed.value, (QStringList{cafe, "file", "new\nline", "with blank"}));

        QVERIFY(m_fs.copyFile(path("src/") + cafe, path("dst/") + cafe).ok());
        QVERIFY(m_fs.moveFile(path("src/") + cafe, path("src/moved")).ok());
        QCOMPARE(statOf(enc(path("dst")) + "/caf\xE9").st_size, 4);
    }

    void copyKeepsContentTimeAndMode_data()
    {
        QTest::addColumn<bool>("unnamed"); // O_TMPFILE, or the named fallback
        // Held folders give an unnamed copy its mode as it is made, where the
        // umask leaves that mode whole and no default ACL has a say.
        QTest::addColumn<QString>("held");
        QTest::newRow("unnamed temporary") << true << "";
        QTest::newRow("named temporary") << false << "";
        QTest::newRow("held folders") << true << "umask 022";
        QTest::newRow("held folders, narrow umask") << true << "umask 077";
        QTest::newRow("held folders, default ACL") << true << "acl";
    }
    // Empty into a new file, then each into the place of the one before, made
    // read-only: larger than one copy buffer, then shorter than what it
    // replaces. A name taken meanwhile is never replaced.
    void copyKeepsContentTimeAndMode()
    {
        QFETCH(bool, unnamed);
        QFETCH(QString, held);
        PosixFileSystem::setUnnamedTemporaries(unnamed);
        const mode_t oldMask = ::umask(held == "umask 077" ? 077 : 022);
        const auto restoreMask = qScopeGuard([oldMask] { ::umask(oldMask); });
        if (held == "acl") {
            // New files here get at most rw for their owner: u::rw-,g::---,o::---.
            const quint32 acl[] = {2, 0x00060001, ~0u, 0x00000004, ~0u, 0x00000020, ~0u};
            if (::setxattr(enc(path("dst")).constData(), "system.posix_acl_default", acl,
                           sizeof acl, 0) != 0)
                QSKIP("this file system keeps no ACLs");
        }
        const std::unique_ptr<FolderHold> hold =
            held.isEmpty() ? nullptr : m_fs.holdFolders({m_dir->path(), path("dst")});
        const std::pair<QByteArray, mode_t> copies[] = {
            {"", 0600}, {QByteArray((3 << 20) + 7, 'z'), 0755}, {"new", 0640}};
        for (const auto &[content, mode] : copies) {
            writeWithModeAndTime(path("a b"), content, mode);
            QVERIFY(!QFile::exists(path("dst/a b")) || m_fs.deleteFile(path("dst/a b")).ok());
            const FsResult result = m_fs.copyFile(path("a b"), path("dst/a b"));
            QVERIFY2(result.ok(), qPrintable(result.description));
            QCOMPARE(fileBytes(path("dst/a b")), content);
            QCOMPARE(modeAndTime(path("dst/a b")), modeAndTime(path("a b")));
            QCOMPARE(entries(path("dst")), QStringList{"a b"});
            QCOMPARE(::chmod(enc(path("dst/a b")).constData(), 0444), 0);
        }

        // Another program writes the name while the copy is under way.
        PosixFileSystem::setStepHook([&](PosixFileSystem::Step step, const QByteArray &) {
            if (step == PosixFileSystem::Step::Staged)
                writeFile(path("dst/report"), "theirs");
        });
        QCOMPARE(m_fs.copyFile(path("a b"), path("dst/report")).error, EEXIST);
        QCOMPARE(fileBytes(path("dst/report")), QByteArray("theirs"));
        QCOMPARE(m_fs.moveFile(path("a b"), path("dst/report")).error, EEXIST);
        QCOMPARE(entries(path("dst")), (QStringList{"a b", "report"}));
        QCOMPARE(fileBytes(path("a b")), QByteArray("new"));
    }

    // A move within one file system renames only the regular file it listed:
    // with a link, a FIFO, a folder or another file's hard link put under
    // its name after the listing, or between its check and the rename,
    // nothing moves and the name keeps what was put there.
    void moveRenamesOnlyWhatItListed_data()
    {
        QTest::addColumn<QString>("swap");
        QTest::addColumn<bool>("atRename");
        for (const char *swap : {"link", "fifo", "folder", "other file"}) {
            QTest::addRow("%s after the listing", swap) << swap << false;
            QTest::addRow("%s at the rename", swap) << swap << true;
        }
    }
    void moveRenamesOnlyWhatItListed()
    {
        QFETCH(QString, swap);
        QFETCH(bool, atRename);
        writeFile(path("secret"), "secret");
        QVERIFY(m_fs.listPlainFiles(path("src")).value.contains("file"));
        const QByteArray name = enc(path("src/file")), secret = enc(path("secret"));
        const std::map<QString, mode_t> types = {
            {"link", S_IFLNK}, {"fifo", S_IFIFO}, {"folder", S_IFDIR}, {"other file", S_IFREG}};
        const auto swapIn = [&] {
            QCOMPARE(::rename(name.constData(), enc(path("aside")).constData()), 0);
            const int made = swap == "link"     ? ::symlink(secret.constData(), name.constData())
                             : swap == "fifo"   ? ::mkfifo(name.constData(), 0644)
                             : swap == "folder" ? ::mkdir(name.constData(), 0755)
                                                : ::link(secret.constData(), name.constData());
            QCOMPARE(made, 0);
        };
        if (atRename)
            PosixFileSystem::setStepHook([&](PosixFileSystem::Step step, const QByteArray &) {
                if (step == PosixFileSystem::Step::Renaming)
                    swapIn();
            });
        else
            swapIn();
        const FsResult moved = m_fs.moveFile(path("src/file"), path("dst/file"));
        QCOMPARE(moved.description, QString("Not a regular file"));
        QCOMPARE(entries(path("dst")), QStringList());
        QCOMPARE(statOf(name).st_mode & S_IFMT, types.at(swap));
        QCOMPARE(fileBytes(path("aside")), QByteArray("content"));
        QCOMPARE(fileBytes(path("secret")), QByteArray("secret"));
    }

    // The quiet time is asked of the status a copy or move reads anyway: a
    // file changed within it stays, at the edge and after now it goes.
    void heldByQuietTime_data()
    {
        QTest::addColumn<bool>("move");
        QTest::addColumn<int>("seconds");
        QTest::addColumn<qint64>("sinceChange"); // from the file's newer time to now, in ns
        QTest::addColumn<bool>("held");
        const qint64 s = 1000000000;
        for (const bool move : {true, false}) {
            const char *what = move ? "move" : "copy";
            QTest::addRow("%s, just changed", what) << move << 10 << qint64(0) << true;
            QTest::addRow("%s, changed N-1 s ago", what) << move << 10 << 9 * s << true;
            QTest::addRow("%s, changed N s ago", what) << move << 10 << 10 * s << false;
            QTest::addRow("%s, changed after now", what) << move << 10 << qint64(-1) << false;
            QTest::addRow("%s, quiet time off", what) << move << 0 << qint64(0) << false;
        }
    }
    void heldByQuietTime()
    {
        QFETCH(bool, move);
        QFETCH(int, seconds);
        QFETCH(qint64, sinceChange);
        QFETCH(bool, held);
        struct : Clock
        {
            qint64 ns = 0;
            qint64 nanosecondsSinceEpoch() const override { return ns; }
        } clock;
        clock.ns = m_fs.lastChangeNs(path("src/file")).value + sinceChange;
        const QuietTime quiet(clock, seconds);
        const FsResult done =
            move ? m_fs.moveUnlessChanging(path("src/file"), path("dst/file"), quiet)
                 : m_fs.copyUnlessChanging(path("src/file"), path("dst/file"), quiet);
        QCOMPARE(done.error, held ? FileSystem::StillChanging : 0);
        QCOMPARE(QFile::exists(path("src/file")), held || !move);
        QCOMPARE(entries(path("dst")), held ? QStringList() : QStringList{"file"});
    }

    // A copy killed half-way leaves no named file where unnamed temporaries
    // work; a named one is removed by the cleanup, unless a copy still
    // writes it (and holds its lock).
    void leftoversOfAKilledCopy()
    {
        for (const bool unnamed : {true, false}) {
            PosixFileSystem::setUnnamedTemporaries(unnamed);
            const pid_t child = ::fork();
            if (child == 0) {
                PosixFileSystem::setStepHook(
                    [](PosixFileSystem::Step, const QByteArray &) { ::_exit(9); });
                (void)m_fs.copyFile(path("src/file"), path("dst/file"));
                ::_exit(0);
            }
            int status = 0;
            QCOMPARE(::waitpid(child, &status, 0), child);
            QCOMPARE(WEXITSTATUS(status), 9);
        }
        const QStringList left = entries(path("dst"));
        QCOMPARE(left.size(), 1);
        QVERIFY(left.first().startsWith(".pallwick-") && left.first().endsWith(".tmp"));

        writeFile(path("dst/.pallwick-live00.tmp"), "being written");
        writeFile(path("dst/.pallwick-other.tmp"), "not ours: another pattern");
        QCOMPARE(::mkdir(enc(path("dst/.pallwick-folder.tmp")).constData(), 0755), 0);
        const int live = ::open(enc(path("dst/.pallwick-live00.tmp")).constData(), O_RDONLY);
        QVERIFY(live >= 0 && ::flock(live, LOCK_EX) == 0);
        const auto unlock = qScopeGuard([&] { ::close(live); });
        // Another user's file of the name form in a shared folder stays theirs.
        QStringList kept = {".pallwick-folder.tmp", ".pallwick-live00.tmp", ".pallwick-other.tmp"};
        if (::geteuid() == 0) {
            writeFile(path("dst/.pallwick-nobody.tmp"), "another user's");
            QCOMPARE(::chown(enc(path("dst/.pallwick-nobody.tmp")).constData(), 65534, 65534), 0);
            kept.insert(2, ".pallwick-nobody.tmp");
        } else {
            qInfo("not root: no file of another user to leave alone");
        }
        const FsValue<int> removed = m_fs.removeLeftoverTemporaries(path("dst"));
        QVERIFY(removed.ok());
        QCOMPARE(removed.value, 1);
        QCOMPARE(entries(path("dst")), kept);
        QVERIFY(!m_fs.removeLeftoverTemporaries(path("missing")).ok());
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
        QTest::newRow("destination is a folder") << "src/file" << EEXIST << "dst";
    }
    void copyFailureLeavesNothing()
    {
        QFETCH(QString, source);
        QFETCH(QString, destination);
        const FsResult result = m_fs.copyFile(path(source), path(destination));
        QTEST(result.error, "error");
        QVERIFY(!result.description.isEmpty());
        QCOMPARE(entries(m_dir->path()) + entries(path("dst")), (QStringList{"dst", "src"}));
    }

    void copyLargeSparseFile()
    {
        // 5 GiB, mostly hole, data beyond 4 GiB and a hole at the end: offsets
        // beyond 32 bits and the trailing hole must survive the copy.
        const qint64 size = 5LL << 30;
        QFile source(path("sparse")), copy(path("copy"));
        if (!source.open(QIODevice::WriteOnly) || !source.seek(size - (1 << 20)) ||
            source.write("data") != 4 || !source.resize(size))
            QSKIP("the file system refuses a 5 GiB sparse file");
        source.close();
        QVERIFY(m_fs.copyFile(path("sparse"), path("copy")).ok());
        QVERIFY(copy.open(QIODevice::ReadOnly) && copy.size() == size &&
                copy.seek(size - (1 << 20)));
        QCOMPARE(copy.read(4), QByteArray("data"));
        QVERIFY(statOf(enc(path("copy"))).st_blocks < 1024); // still sparse
    }

    // The space an ordinary user may fill, not the blocks kept for root.
    void freeSpaceIsWhatAUserMayWrite()
    {
        struct statvfs info;
        QCOMPARE(::statvfs(enc(m_dir->path()).constData(), &info), 0);
        const qint64 reserved = qint64(info.f_bfree - info.f_bavail) * qint64(info.f_frsize);
        if (reserved < (64 << 20))
            QSKIP("the temporary folder's file system keeps no blocks for root");
        const qint64 available = qint64(info.f_bavail) * qint64(info.f_frsize);
        QVERIFY(qAbs(m_fs.freeSpace(m_dir->path()) - available) < reserved / 2);
    }

    void moveDeleteSameFileAndDriveName()
    {
        writeFile(path("src/copy"), "content");
        QCOMPARE(::symlink("src", enc(path("linked")).constData()), 0);
        QVERIFY(m_fs.sameFile(path("src/file"), path("linked/file")));
        QVERIFY(!m_fs.sameFile(path("src/file"), path("src/copy"))); // equal content only
        QVERIFY(!m_fs.sameFile(path("src/file"), path("src/missing")));

        const ino_t inode = statOf(enc(path("src/file"))).st_ino;
        QVERIFY(m_fs.moveFile(path("src/file"), path("dst/file")).ok());
        QVERIFY(!QFile::exists(path("src/file")));
        QCOMPARE(statOf(enc(path("dst/file"))).st_ino, inode); // renamed, not copied

        writeFile(path("src/file"), "second");
        QCOMPARE(::chmod(enc(path("src/file")).constData(), 0444), 0);
        QVERIFY(m_fs.deleteFile(path("src/file")).ok());
        QCOMPARE(entries(path("src")), (QStringList{"copy", "fifo", "sub"}));

        const QString drive = m_fs.driveName(path("dst"));
        QVERIFY(!drive.isEmpty() && drive == m_fs.driveName(m_dir->path()));
    }

    void overwriteIsOneStep_data()
    {
        QTest::addColumn<bool>("move");
        QTest::addColumn<bool>("cross"); // the destination on another file system
        // "new", "missing", or "changes" after its copy or "changes late", once
        // the copy has taken the old file's place
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("error");
        for (const bool cross : {false, true})
            for (const bool move : {false, true}) {
                const char *where = cross ? "other file system" : "same file system";
                const char *action = move ? "move" : "copy";
                QTest::addRow("%s, %s", action, where) << move << cross << "new" << 0;
                QTest::addRow("%s, %s, source gone", action, where)
                    << move << cross << "missing" << ENOENT;
            }
        QTest::newRow("move, other file system, source changes")
            << true << true << "changes" << int(PosixFileSystem::SourceChangedError);
        QTest::newRow("move, other file system, source changes late")
            << true << true << "changes late" << int(PosixFileSystem::SourceChangedError);
    }
    // The old file stays under its name until the complete new one takes its
    // place in one rename, and stays for good when the source is gone or
    // changes after its copy. A copy that has taken its place is never taken
    // back: that would leave neither. On one file system a move is that rename.
    void overwriteIsOneStep()
    {
        QFETCH(bool, move);
        QFETCH(bool, cross);
        QFETCH(QString, source);
        const QByteArray mnt = enc(path("dst"));
        if (cross && ::mount("tmpfs", mnt.constData(), "tmpfs", 0, "size=4m") != 0)
            QSKIP("needs root and a working tmpfs mount");
        const auto unmount = qScopeGuard([&] { ::umount2(mnt.constData(), MNT_DETACH); });
        writeFile(path("dst/f"), "old");
        if (source != "missing")
            writeFile(path("src/f"), "new");
        PosixFileSystem::setStepHook([&](PosixFileSystem::Step step, const QByteArray &) {
            if (step == PosixFileSystem::Step::FileSynced || step == PosixFileSystem::Step::Staged)
                QCOMPARE(fileBytes(path("dst/f")), QByteArray("old")); // until the rename
            if ((step == PosixFileSystem::Step::FileSynced && source == "changes") ||
                (step == PosixFileSystem::Step::FolderSynced && source == "changes late"))
                writeFile(path("src/f"), "changed");
        });
        const ino_t inode = statOf(enc(path("src/f"))).st_ino;
        const FsResult result = m_fs.replaceFile(path("src/f"), path("dst/f"), move);
        PosixFileSystem::setStepHook({});
        QTEST(result.error, "error");
        const bool done = result.ok();
        QCOMPARE(fileBytes(path("dst/f")),
                 QByteArray(done || source == "changes late" ? "new" : "old"));
        QCOMPARE(QFile::exists(path("src/f")),
                 source.startsWith("changes") || (!move && source == "new"));
        if (done && move && !cross)
            QCOMPARE(statOf(enc(path("dst/f"))).st_ino, inode);
        QCOMPARE(entries(path("dst")), QStringList{"f"});
    }

    // A program killed at any step of an overwrite leaves the old or the new
    // file whole under the name, and a moved file whole in one of the two
    // places; what it leaves besides goes with the next leftover cleanup.
    void overwriteKilledAtEachStep()
    {
        const QByteArray mnt = enc(path("dst"));
        if (::mount("tmpfs", mnt.constData(), "tmpfs", 0, "size=4m") != 0)
            QSKIP("needs root and a working tmpfs mount");
        const auto unmount = qScopeGuard([&] { ::umount2(mnt.constData(), MNT_DETACH); });
        const QByteArray oldBytes(300000, 'o'), newBytes(200000, 'n');
        for (const bool unnamed : {true, false})
            for (const bool move : {false, true})
                for (int killAt = 0;; ++killAt) {
                    PosixFileSystem::setUnnamedTemporaries(unnamed);
                    writeFile(path("dst/f"), oldBytes);
                    writeFile(path("src/f"), newBytes);
                    const pid_t child = ::fork();
                    if (child == 0) {
                        int steps = 0;
                        PosixFileSystem::setStepHook(
                            [&](PosixFileSystem::Step, const QByteArray &) {
                                if (steps++ == killAt)
                                    ::_exit(9);
                            });
                        ::_exit(m_fs.replaceFile(path("src/f"), path("dst/f"), move).ok() ? 0 : 1);
                    }
                    int status = 0;
                    QCOMPARE(::waitpid(child, &status, 0), child);
                    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) != 1);
                    const QByteArray named = fileBytes(path("dst/f"));
                    QVERIFY2(named == oldBytes || named == newBytes,
                             qPrintable(QString::number(killAt)));
                    if (move)
                        QVERIFY(named == newBytes || fileBytes(path("src/f")) == newBytes);
                    QVERIFY(m_fs.removeLeftoverTemporaries(path("dst")).ok());
                    QCOMPARE(entries(path("dst")), QStringList{"f"});
                    if (WEXITSTATUS(status) == 0) {
                        QCOMPARE(named, newBytes);
                        QVERIFY(killAt >= 3); // every step was passed
                        break;
                    }
                }
    }

    // Which file systems one syncfs() may serve for a whole batch: only local
    // block devices whose syncfs() reaches the device; memory needs nothing;
    // everything else gets an fsync() per file.
    void flushDecisionPerFileSystemType_data()
    {
        using posixfs::FlushPolicy;
        QTest::addColumn<qulonglong>("type");
        QTest::addColumn<FlushPolicy>("policy");
        const std::pair<const char *, std::pair<qulonglong, FlushPolicy>> rows[] = {
            {"ext4", {0xEF53, FlushPolicy::WholeFileSystem}},
            {"xfs", {0x58465342, FlushPolicy::WholeFileSystem}},
            {"btrfs", {0x9123683E, FlushPolicy::WholeFileSystem}},
            {"f2fs", {0xF2F52010, FlushPolicy::WholeFileSystem}},
            {"tmpfs", {0x01021994, FlushPolicy::Nothing}},
            {"ramfs", {0x858458F6, FlushPolicy::Nothing}},
            {"fuse", {0x65735546, FlushPolicy::EachFile}},
            {"nfs", {0x6969, FlushPolicy::EachFile}},
            {"cifs", {0xFF534D42, FlushPolicy::EachFile}},
            {"smb2", {0xFE534D42, FlushPolicy::EachFile}},
            {"9p", {0x01021997, FlushPolicy::EachFile}},
            {"overlay", {0x794C7630, FlushPolicy::EachFile}},
            {"vfat", {0x4D44, FlushPolicy::EachFile}},
            {"unknown", {0x12345678, FlushPolicy::EachFile}},
        };
        for (const auto &[name, row] : rows)
            QTest::newRow(name) << row.first << row.second;
    }
    void flushDecisionPerFileSystemType()
    {
        QFETCH(qulonglong, type);
        QTEST(posixfs::flushPolicyForType(static_cast<unsigned long>(type)), "policy");
    }

    void otherAndFullFileSystem()
    {
        // A small tmpfs stands in for a second, and a full, file system.
        const QByteArray mnt = enc(path("dst"));
        if (::mount("tmpfs", mnt.constData(), "tmpfs", 0, "size=4m") != 0)
            QSKIP("needs root and a working tmpfs mount");
        const auto unmount = qScopeGuard([&] { ::umount2(mnt.constData(), MNT_DETACH); });
        QVERIFY(m_fs.driveName(path("dst")) != m_fs.driveName(m_dir->path()));
        const int dstFd = ::open(mnt.constData(), O_RDONLY | O_DIRECTORY);
        QCOMPARE(posixfs::flushPolicyOf(dstFd), posixfs::FlushPolicy::Nothing);
        ::close(dstFd);

        // Gathered moves across file systems: each copy keeps time and mode,
        // one flush for all copies, then the names, then the sources. A source
        // written to after its copy, or between the flush and the delete,
        // stays and its copy is taken back; one whose name was taken stays.
        const QByteArray small(1024 * 1024, 'm'), big(5 * 1024 * 1024, 'f');
        writeWithModeAndTime(path("one"), small, 0640);
        const QString kept = modeAndTime(path("one"));
        for (const char *name : {"changes", "changing", "taken"})
            writeFile(path(name), name);
        QByteArray steps; // F: file synced, S: staged, D: folder synced, X: source deleted
        PosixFileSystem::setStepHook([&](PosixFileSystem::Step step, const QByteArray &file) {
            if (step !=
                PosixFileSystem::Step::Renaming) // before any rename, not a step of the copy
                steps += "FSDX"[int(step)];
            if (step == PosixFileSystem::Step::FileSynced && file.endsWith("/changes"))
                writeFile(path("changes"), "changed after its copy");
            if (step == PosixFileSystem::Step::FolderSynced)
                writeFile(path("changing"), "changed before the delete");
            if (step == PosixFileSystem::Step::Staged && file.endsWith("/taken"))
                writeFile(path("dst/taken"), "theirs");
        });
        const std::unique_ptr<MoveBatch> batch = m_fs.newMoveBatch();
        for (const char *name : {"one", "changes", "changing", "taken"})
            QCOMPARE(m_fs.moveFile(path(name), path("dst/") + name, batch.get()).error,
                     FileSystem::Deferred);
        QCOMPARE(entries(path("dst")), QStringList{}); // nothing named yet
        const std::vector<FsResult> results = m_fs.completeMoves(*batch);
        QCOMPARE(results.size(), size_t(4));
        QVERIFY(results[0].ok() && !QFile::exists(path("one")));
        QCOMPARE(results[1].error, PosixFileSystem::SourceChangedError);
        QCOMPARE(results[2].error, PosixFileSystem::SourceChangedError);
        QCOMPARE(results[3].error, EEXIST);
        QCOMPARE(steps, "FFFFSSSSDX");
        QCOMPARE(fileBytes(path("dst/one")), small);
        QCOMPARE(modeAndTime(path("dst/one")), kept);
        QCOMPARE(fileBytes(path("dst/taken")) + fileBytes(path("taken")), "theirstaken");
        QCOMPARE(fileBytes(path("changes")), QByteArray("changed after its copy"));
        QCOMPARE(fileBytes(path("changing")), QByteArray("changed before the delete"));

        // Full: the old destination and the source stay, nothing partial is left.
        writeFile(path("big"), big);
        QCOMPARE(m_fs.copyFile(path("big"), path("dst/one")).error, ENOSPC);
        QCOMPARE(fileBytes(path("dst/one")), small);
        QCOMPARE(m_fs.moveFile(path("big"), path("dst/big")).error, ENOSPC);
        QCOMPARE(fileBytes(path("big")), big);
        QCOMPARE(entries(path("dst")), (QStringList{"one", "taken"}));
    }
};

QTEST_GUILESS_MAIN(tst_PosixFileSystem)
#include "tst_posixfilesystem.moc"
