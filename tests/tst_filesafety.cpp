#include "platform/CopyProgress.h"
#include "platform/PosixFileSystem.h"
#include "support/FuseMount.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <optional>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// What no ordinary run shows: a source that changes while or after it is
// copied, another pass's cleanup reaching for a copy, a name taken on the
// other file system, files on two drives that look alike. The source and the
// destination folder are tmpfs mounts of their own, so every move crosses
// file systems.
class tst_FileSafety : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    PosixFileSystem m_fs;
    QStringList m_mounts;
    static inline std::function<void()> duringCopy;

    QString path(const QString &name) const { return m_dir->filePath(name); }
    QStringList entries(const QString &folder) const
    {
        return QDir(path(folder)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        for (const char *folder : {"src", "dst"}) {
            const QByteArray mnt = QFile::encodeName(path(folder));
            QVERIFY(QDir().mkpath(path(folder)));
            if (::mount("tmpfs", mnt.constData(), "tmpfs", 0, "size=8m") != 0)
                QSKIP("needs root and working tmpfs mounts");
            m_mounts << path(folder);
        }
        // Once a copy has begun: the fixed size lets the check see a change.
        CopyProgress::setObserver([](qint64, qint64) {
            if (duringCopy)
                std::exchange(duringCopy, nullptr)();
        });
    }
    void cleanup()
    {
        CopyProgress::setObserver(nullptr);
        duringCopy = nullptr;
        PosixFileSystem::setStepHook({});
        PosixFileSystem::setUnnamedTemporaries(true);
        for (const QString &mnt : std::exchange(m_mounts, {}))
            ::umount2(QFile::encodeName(mnt).constData(), MNT_DETACH);
        m_dir.reset();
    }

    // A source that changes during its copy, or between its flushed copy and
    // its delete, stays as it is now; its copy is taken back. Also a change
    // that keeps size and time (a tool that puts the old time back) and
    // another file of the same size and time renamed into its place. The
    // same for a source whose identical copy is already in the destination.
    void changedSourceStays_data()
    {
        QTest::addColumn<QString>("action"); // copy, move, or delete as a duplicate
        QTest::addColumn<bool>("afterCopy"); // else during it
        QTest::addColumn<QString>("change");
        for (const char *change : {"appended", "same size and time"}) {
            QTest::addRow("copy, %s during it", change) << "copy" << false << change;
            QTest::addRow("move, %s during it", change) << "move" << false << change;
        }
        for (const char *action : {"move", "duplicate"})
            for (const char *change : {"appended", "same size and time", "replaced alike"})
                QTest::addRow("%s, %s before the delete", action, change)
                    << action << true << change;
    }
    void changedSourceStays()
    {
        QFETCH(QString, action);
        QFETCH(bool, afterCopy);
        QFETCH(QString, change);
        const QString source = path("src/file");
        const QByteArray name = QFile::encodeName(source);
        writeFile(source, QByteArray(300000, 'a'));
        struct stat listed = {};
        QCOMPARE(::stat(name, &listed), 0);
        const struct timespec times[2] = {listed.st_atim, listed.st_mtim};
        QTest::qWait(20); // past one tick of a coarse file-system clock
        const auto changeIt = [&] {
            const QByteArray other = QByteArray(300000, 'b');
            if (change == "appended") {
                QFile file(source);
                QVERIFY(file.open(QIODevice::Append) && file.write("more") == 4);
            } else if (change == "same size and time") {
                const int fd = ::open(name, O_WRONLY);
                QVERIFY(fd >= 0 && ::pwrite(fd, other, other.size(), 0) == other.size());
                QVERIFY(::futimens(fd, times) == 0 && ::close(fd) == 0);
            } else {
                writeFile(path("src/other"), other);
                QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(path("src/other")), times, 0) == 0);
                QCOMPARE(::rename(QFile::encodeName(path("src/other")), name), 0);
            }
        };
        if (afterCopy)
            PosixFileSystem::setStepHook([&](PosixFileSystem::Step step, const QByteArray &) {
                if (step == PosixFileSystem::Step::FolderSynced)
                    changeIt();
            });
        else
            duringCopy = changeIt;
        const QByteArray now = (changeIt(), fileBytes(source)); // what it must hold after
        writeFile(source, QByteArray(300000, 'a'));
        QCOMPARE(::utimensat(AT_FDCWD, name, times, 0), 0);
        QTest::qWait(20);
        if (action == "duplicate")
            writeFile(path("dst/file"), QByteArray(300000, 'a'));

        const FsResult result = action == "copy"   ? m_fs.copyFile(source, path("dst/file"))
                                : action == "move" ? m_fs.moveFile(source, path("dst/file"))
                                                   : m_fs.deleteDuplicate(source, path("dst/file"));
        QCOMPARE(result.error, PosixFileSystem::SourceChangedError);
        QVERIFY(!duringCopy);
        QCOMPARE(fileBytes(source), now);
        QCOMPARE(entries("dst"), action == "duplicate" ? QStringList{"file"} : QStringList());
    }

    // A source on a drive that keeps no change time (sshfs shows the
    // modification time in its place): growth that leaves the time alone, and
    // another file of the same size and time renamed into its place, still
    // keep it from being deleted after its move, or as a duplicate of a copy
    // already in the destination.
    void changedSourceOnADriveWithoutChangeTimes_data()
    {
        QTest::addColumn<bool>("duplicate");
        QTest::addColumn<QString>("change");
        for (const bool duplicate : {false, true})
            for (const char *change : {"appended", "replaced alike"})
                QTest::addRow("%s, %s", duplicate ? "duplicate" : "move", change)
                    << duplicate << QString(change);
    }
    void changedSourceOnADriveWithoutChangeTimes()
    {
        QFETCH(bool, duplicate);
        QFETCH(QString, change);
        FuseMount fs("volatile_fs.py", {"--no-ctime"}, path("src/backing"), path("fuse"));
        if (!fs.skipReason.isEmpty())
            QSKIP(qPrintable(fs.skipReason));
        const QString source = path("fuse/file");
        const QByteArray content(300000, 'a'), other(300000, 'b');
        writeFile(source, content);
        struct stat listed = {};
        QCOMPARE(::stat(QFile::encodeName(source), &listed), 0);
        const struct timespec times[2] = {listed.st_atim, listed.st_mtim};
        // Written through the drive, which keeps new data to itself until
        // fsync: its backing folder, and so the file's time, stay as they are.
        PosixFileSystem::setStepHook([&](PosixFileSystem::Step step, const QByteArray &) {
            if (step != PosixFileSystem::Step::FolderSynced)
                return;
            if (change == "appended") {
                QFile file(source);
                QVERIFY(file.open(QIODevice::Append) && file.write("more") == 4);
                return;
            }
            writeFile(path("fuse/other"), other);
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path("fuse/other")), times, 0), 0);
            QCOMPARE(::rename(QFile::encodeName(path("fuse/other")), QFile::encodeName(source)), 0);
        });
        if (duplicate)
            writeFile(path("dst/file"), content);
        QCOMPARE((duplicate ? m_fs.deleteDuplicate(source, path("dst/file"))
                            : m_fs.moveFile(source, path("dst/file")))
                     .error,
                 PosixFileSystem::SourceChangedError);
        QCOMPARE(fileBytes(source), change == "appended" ? content + "more" : other);
        QCOMPARE(entries("dst"), duplicate ? QStringList{"file"} : QStringList());
    }

    // Outside a batch too, a copy, move or overwrite onto a drive whose
    // fsync, close or folder flush fails is an error, and the source stays.
    // No copy is left, and an old file stays, unless the error came only
    // after the new file had taken its place: that copy stays, the old file
    // being gone. A source whose copy is there already stays where that copy
    // cannot be flushed; a close of a file that was only read reports nothing.
    void flushErrorsOutsideABatch_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QString>("action");
        for (const char *failing : {"fsync", "close", "first-close", "later-close", "fsyncdir"})
            for (const char *action : {"copy", "move", "overwrite", "duplicate"})
                QTest::addRow("%s, %s fails", action, failing) << QString(failing) << action;
    }
    void flushErrorsOutsideABatch()
    {
        QFETCH(QString, failing);
        QFETCH(QString, action);
        QVERIFY(QDir().mkpath(path("dst/backing")));
        const bool existing = action == "overwrite" || action == "duplicate";
        if (existing)
            writeFile(path("dst/backing/file"), action == "overwrite" ? "old" : "content");
        FuseMount fs("volatile_fs.py", {"--fail", failing}, path("dst/backing"), path("fuse"));
        if (!fs.skipReason.isEmpty())
            QSKIP(qPrintable(fs.skipReason));
        writeFile(path("src/file"), "content");
        const QString from = path("src/file"), to = path("fuse/file");
        const FsResult result = action == "copy"        ? m_fs.copyFile(from, to)
                                : action == "move"      ? m_fs.moveFile(from, to)
                                : action == "overwrite" ? m_fs.replaceFile(from, to, true)
                                                        : m_fs.deleteDuplicate(from, to);
        const bool failed = action != "duplicate" || !failing.endsWith("close");
        QCOMPARE(result.error, failed ? EIO : 0);
        QCOMPARE(fileBytes(path("src/file")), failed ? QByteArray("content") : QByteArray());
        QCOMPARE(entries("dst/backing"), existing ? QStringList{"file"} : QStringList());
        const bool replaced =
            action == "overwrite" && (failing == "later-close" || failing == "fsyncdir");
        if (existing)
            QCOMPARE(fileBytes(path("dst/backing/file")),
                     action == "overwrite" && !replaced ? "old" : "content");
    }

    // A copy is locked while it has a temporary name: another pass cleaning
    // up leftovers in the same folder leaves it alone, also the name an
    // unnamed copy takes just before it replaces an old file.
    void cleanupSparesACopyUnderWay()
    {
        for (const bool unnamed : {false, true}) {
            PosixFileSystem::setUnnamedTemporaries(unnamed);
            int removed = -1;
            PosixFileSystem::setStepHook([&](PosixFileSystem::Step step, const QByteArray &) {
                if (step == PosixFileSystem::Step::Staged ||
                    step == PosixFileSystem::Step::Replacing)
                    removed = qMax(removed, m_fs.removeLeftoverTemporaries(path("dst")).value);
            });
            for (const QByteArray content : {"first", "second"}) { // new, then replacing
                writeFile(path("src/file"), content);
                const FsResult done =
                    content == "first"
                        ? m_fs.copyFile(path("src/file"), path("dst/file"))
                        : m_fs.replaceFile(path("src/file"), path("dst/file"), false);
                QVERIFY2(done.ok(), qPrintable(done.description));
                QCOMPARE(removed, 0);
                QCOMPARE(entries("dst"), QStringList{"file"});
                QCOMPARE(fileBytes(path("dst/file")), content);
            }
            QVERIFY(QFile::remove(path("dst/file")));
        }
    }

    // A move onto another file system whose name is taken there is refused
    // before anything is copied, also when the move would only be gathered.
    void takenNameOnTheOtherDriveRefusedAtOnce()
    {
        writeFile(path("src/file"), "mine");
        writeFile(path("dst/file"), "theirs");
        QByteArray steps;
        PosixFileSystem::setStepHook([&](PosixFileSystem::Step step, const QByteArray &) {
            if (step !=
                PosixFileSystem::Step::Renaming) // before any rename, not a step of the copy
                steps += "FSDX"[int(step)];
        });
        const std::unique_ptr<MoveBatch> batch = m_fs.newMoveBatch();
        QCOMPARE(m_fs.moveFile(path("src/file"), path("dst/file"), batch.get()).error, EEXIST);
        QCOMPARE(m_fs.moveFile(path("src/file"), path("dst/file")).error, EEXIST);
        QCOMPARE(steps, QByteArray());
        QCOMPARE(fileBytes(path("src/file")) + fileBytes(path("dst/file")), "minetheirs");
    }

    // A move whose source cannot be read to its end (a failing medium) or
    // cannot be deleted (a read-only drive) fails and takes its copy back;
    // so does an overwrite whose old file gave way to a folder at the last
    // moment, and its source stays.
    void failedMoveTakesItsCopyBack_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("error");
        QTest::newRow("source unreadable") << "unreadable" << EIO;
        QTest::newRow("source read-only") << "read-only" << EROFS;
        QTest::newRow("folder in the old file's place") << "folder" << EISDIR;
    }
    void failedMoveTakesItsCopyBack()
    {
        QFETCH(QString, fault);
        const QString folder = fault == "unreadable" ? path("fuse") : path("src");
        const QString stays = fault == "unreadable" ? path("src/backing/file") : path("src/file");
        QVERIFY(QDir().mkpath(path("src/backing")));
        writeFile(stays, QByteArray(300000, 'a'));
        std::optional<FuseMount> fs;
        if (fault == "unreadable") {
            fs.emplace("volatile_fs.py", QStringList{"--fail", "read"}, path("src/backing"),
                       folder);
            if (!fs->skipReason.isEmpty())
                QSKIP(qPrintable(fs->skipReason));
        } else if (fault == "read-only") {
            QCOMPARE(::mount(nullptr, QFile::encodeName(folder), nullptr, MS_REMOUNT | MS_RDONLY,
                             nullptr),
                     0);
        } else {
            writeFile(path("dst/file"), "old");
            PosixFileSystem::setStepHook([&](PosixFileSystem::Step step, const QByteArray &) {
                if (step == PosixFileSystem::Step::Replacing)
                    QVERIFY(QFile::remove(path("dst/file")) && QDir().mkdir(path("dst/file")));
            });
        }
        const FsResult result = fault == "folder"
                                    ? m_fs.replaceFile(folder + "/file", path("dst/file"), true)
                                    : m_fs.moveFile(folder + "/file", path("dst/file"));
        QTEST(result.error, "error");
        QCOMPARE(fileBytes(stays), QByteArray(300000, 'a'));
        QCOMPARE(entries("dst"), fault == "folder" ? QStringList{"file"} : QStringList());
    }

    // A pass's lock on its folder ends with the pass, not with a program
    // started meanwhile (the log opened in an editor).
    void folderLockEndsWithThePass()
    {
        FsValue<std::unique_ptr<FolderLock>> lock = m_fs.lockFolder(path("src"));
        QVERIFY(lock.ok());
        const pid_t child = ::fork();
        if (child == 0) {
            ::execlp("sleep", "sleep", "30", nullptr);
            ::_exit(127);
        }
        const auto end = qScopeGuard([child] {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        });
        QTest::qWait(100); // the program runs
        lock.value.reset();
        QVERIFY(m_fs.lockFolder(path("src")).ok());
    }

    // An old file goes into a trash only where that can be trusted: never
    // into a trash folder of another user, and not when the record beside
    // it or the trash's folders cannot be flushed (the old file's own name
    // is replaced next). It then stays under its own name alone.
    void untrustedTrashRefused_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("another user's trash") << "owner";
        QTest::newRow("record not flushed") << "fsync";
        QTest::newRow("folders not flushed") << "fsyncdir";
    }
    void untrustedTrashRefused()
    {
        QFETCH(QString, fault);
        if (::geteuid() != 0)
            QSKIP("a folder of another user needs root");
        QVERIFY(QDir().mkpath(path("src/backing")) && QDir().mkpath(path("src/data/Trash")));
        QCOMPARE(::chown(QFile::encodeName(path("src/data/Trash")), 65534, 65534), 0);
        const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(path("src/data")));
        const auto restore = qScopeGuard([&] { qputenv("XDG_DATA_HOME", dataHome); });
        std::optional<FuseMount> fs;
        const bool fuse = fault != "owner";
        if (fuse) {
            fs.emplace("volatile_fs.py", QStringList{"--fail", fault}, path("src/backing"),
                       path("fuse"));
            if (!fs->skipReason.isEmpty())
                QSKIP(qPrintable(fs->skipReason));
        }
        const QString folder = fuse ? path("src/backing") : path("src");
        writeFile(folder + "/file", "old");
        const FsResult trashed = m_fs.linkToTrash(fuse ? path("fuse/file") : path("src/file"), 0);
        QVERIFY(!trashed.ok());
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(folder + "/file"), &st), 0);
        QCOMPARE(st.st_nlink, nlink_t(1)); // no name in a trash
    }

    // The first file on each of two fresh mounts: equal inode numbers and
    // sizes, yet two files. Nor is a longer file that starts with the bytes
    // of another one the same content.
    void sameFileTellsDrivesApart()
    {
        writeFile(path("src/a"), "x");
        writeFile(path("dst/b"), "y");
        writeFile(path("dst/c"), "xy");
        QVERIFY(!m_fs.sameContent(path("src/a"), path("dst/c")).value);
        struct stat a = {}, b = {};
        QVERIFY(::stat(QFile::encodeName(path("src/a")), &a) == 0 &&
                ::stat(QFile::encodeName(path("dst/b")), &b) == 0);
        if (a.st_ino != b.st_ino)
            QSKIP("these mounts number their files differently");
        QVERIFY(!m_fs.sameFile(path("src/a"), path("dst/b")));
        QVERIFY(!m_fs.sameContent(path("src/a"), path("dst/b")).value);
        QVERIFY(m_fs.sameFile(path("src/a"), path("src/../src/a")));
    }

    // Owner and group follow mv and cp -p: run as root, a move and a copy to
    // another file system keep the source's, also in a setgid folder. A user
    // who may not set the source's group gets the setgid folder's, whose
    // members then get no more than everybody else.
    void ownerAndGroupAsMvKeepsThem()
    {
        if (::geteuid() != 0)
            QSKIP("files of another user need root");
        const auto ownership = [this](const QString &file) {
            struct stat st = {};
            ::lstat(QFile::encodeName(path(file)).constData(), &st);
            return QString::asprintf("%u %u %o", st.st_uid, st.st_gid, st.st_mode & 07777);
        };
        const auto plant = [this](const QString &file, gid_t group, mode_t mode) {
            writeFile(path(file), "x");
            const QByteArray name = QFile::encodeName(path(file));
            QVERIFY(::chown(name.constData(), 65534, group) == 0 &&
                    ::chmod(name.constData(), mode) == 0);
        };
        const QByteArray setgid = QFile::encodeName(path("dst/setgid"));
        QVERIFY(::mkdir(setgid.constData(), 0777) == 0 &&
                ::chown(setgid.constData(), 0, 4242) == 0 &&
                ::chmod(setgid.constData(), 02777) == 0);
        for (const QString folder : {"dst", "dst/setgid"}) {
            for (const mode_t mode : {0600, 0640}) {
                for (const bool move : {true, false}) {
                    const QString name =
                        QString("/%1-%2").arg(move ? "moved" : "copied").arg(mode, 0, 8);
                    plant("src" + name, 65534, mode);
                    plant("src" + name + ".peer", 65534, mode);
                    const FsResult done =
                        move ? m_fs.moveFile(path("src" + name), path(folder + name))
                             : m_fs.copyFile(path("src" + name), path(folder + name));
                    QVERIFY2(done.ok(), qPrintable(done.description));
                    const QStringList peer = {path("src" + name + ".peer"),
                                              path(folder + name + ".peer")};
                    QCOMPARE(QProcess::execute(move ? "mv" : "cp",
                                               move ? peer : QStringList{"-p"} + peer),
                             0);
                    QCOMPARE(ownership(folder + name), ownership(folder + name + ".peer"));
                    QCOMPARE(ownership(folder + name), QString("65534 65534 %1").arg(mode, 0, 8));
                }
            }
        }
        plant("src/narrowed", 4343, 0640);
        QCOMPARE(::chmod(QFile::encodeName(m_dir->path()).constData(), 0711), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            const bool asUser =
                ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
            ::_exit(asUser && m_fs.copyFile(path("src/narrowed"), path("dst/setgid/narrowed")).ok()
                        ? 0
                        : 1);
        }
        int status = -1;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QCOMPARE(status, 0);
        QCOMPARE(ownership("dst/setgid/narrowed"), QString("65534 4242 600"));
    }
};

QTEST_GUILESS_MAIN(tst_FileSafety)
#include "tst_filesafety.moc"
