// The optional rules end to end: --once --dry-run on real folders, keep both
// on a folder that ignores case, the trash under a temporary XDG_DATA_HOME,
// and the Extra options dialog from the window.
#include "support/FuseMount.h"
#include "support/TmpfsMount.h"
#include "support/WindowFixture.h"

#include "app/OnceRun.h"
#include "dialogs/dlgExtraOptions.h"
#include "platform/PosixFileSystem.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSpinBox>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

class tst_ExtraOptionsRun : public QObject
{
    Q_OBJECT

    WindowFixture f;

    // Every entry below the fixture's folders, with its bytes, mode and times.
    QStringList tree() const
    {
        QStringList entries;
        for (const char *top : {"src", "dst", "state", "data"}) {
            QDirIterator it(f.path(top), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                            QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString path = it.next();
                struct stat st = {};
                if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
                    entries << "vanished " + path;
                entries << QStringLiteral("%1 %2 %3.%4 %5")
                               .arg(path)
                               .arg(st.st_mode)
                               .arg(st.st_mtim.tv_sec)
                               .arg(st.st_mtim.tv_nsec)
                               .arg(QString::fromLatin1(fileBytes(path).toHex()));
            }
        }
        entries.sort();
        return entries;
    }

    int once(bool dryRun, QStringList &lines)
    {
        OnceRun::Environment environment;
        environment.programFolder = f.path("");
        environment.clock = &f.clock;
        environment.dryRun = dryRun;
        QByteArray out;
        environment.out = [&out](const QByteArray &bytes) { out += bytes; };
        environment.err = [&out](const QByteArray &bytes) { out += "stderr: " + bytes; };
        const int status = OnceRun::run(environment);
        lines = QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts);
        for (QString &line : lines) // the stamp is the fixture's clock's
            line.remove(logStamp(f.clock) + " - ");
        return status;
    }

private slots:
    void init()
    {
        f.setUp("English", fileBytes(PALLWICK_SOURCE_DIR "/lang/English.dat"));
        qputenv("XDG_STATE_HOME", QFile::encodeName(f.path("state")));
        qputenv("XDG_DATA_HOME", QFile::encodeName(f.path("data")));
    }
    void cleanup() { f.tearDown(); }

    // Every rule at work, and nothing changes on disk: no transfer, no
    // trash, no cleanup of a leftover, no activity log file.
    void dryRunChangesNothing()
    {
        f.writeJob("Action=Move\nOverwrite=1\nReplaceToTrash=1\nLogFile=1\nExclude=*.part\n");
        writeFile(f.path("src/new.txt"), "new");
        writeFile(f.path("src/old.txt"), "newer");
        writeFile(f.path("src/skip.part"), "partial");
        writeFile(f.path("dst/old.txt"), "old");
        writeFile(f.path("dst/.pallwick-abcdef.tmp"), "leftover");
        const QStringList before = tree();
        QStringList lines;
        QCOMPARE(once(true, lines), 0);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(
            QSet<QString>(lines.cbegin(), lines.cend()),
            (QSet<QString>{"[dry run] Moved: new.txt", "[dry run] Moved (overwritten): old.txt"}));
        QCOMPARE(tree(), before);
        {
            PosixFileSystem other; // another pass holds the folder
            const auto held = other.lockFolder(f.path("src"));
            QVERIFY(held.ok());
            QCOMPARE(once(true, lines), 3);
            QCOMPARE(tree(), before);
        }

        // The same job for real: the lines without the prefix.
        QCOMPARE(once(false, lines), 0);
        QVERIFY2(lines.contains("Moved (overwritten): old.txt"), qPrintable(lines.join('\n')));
        QCOMPARE(fileBytes(f.path("dst/old.txt")), "newer");
    }

    // A dry run that places more than the room there is says so, as the
    // real pass would only after the first files had filled the disk.
    void dryRunAddsUpTheRoomTaken()
    {
        const TmpfsMount small(f.path("dst"), "size=64k");
        if (!small.mounted())
            QSKIP("needs root and a working tmpfs mount");
        f.writeJob("Action=Copy\nCheckDestination=0\n");
        for (const char *name : {"a", "b", "c"})
            writeFile(f.path("src/") + name, QByteArray(24 << 10, 'x'));
        QStringList lines;
        QCOMPARE(once(true, lines), 0);
        // Whichever comes last finds no room.
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines.filter(QRegularExpression("^\\[dry run\\] Copied: [abc]$")).size(), 2);
        QVERIFY(lines.constLast().startsWith(
            "[dry run] Not copied - Not enough space at the destination: "));
        QVERIFY(QDir(f.path("dst")).isEmpty());
    }

    // A folder that ignores case: "free" means free in its sense.
    void keepBothIgnoringCase()
    {
        FuseMount fs("casefold_fs.py", {}, f.path("backing"), f.path("dst"));
        if (!fs.skipReason.isEmpty())
            QSKIP(qPrintable(fs.skipReason));
        writeFile(f.path("dst/REPORT.txt"), "theirs");
        writeFile(f.path("dst/Report (1).TXT"), "theirs too");
        writeFile(f.path("src/report.txt"), "mine");
        writeFile(f.path("src/Same.txt"), "same");
        writeFile(f.path("dst/same.TXT"), "same");
        f.writeJob("Action=Move\nNameTaken=2\n");
        QStringList lines;
        QCOMPARE(once(false, lines), 0);
        lines.sort();
        QCOMPARE(lines, (QStringList{"Already in the destination (identical file): Same.txt",
                                     "Moved as \"report (2).txt\": report.txt"}));
        QCOMPARE(QDir(f.path("backing")).entryList(QDir::Files, QDir::Name),
                 (QStringList{"REPORT.txt", "Report (1).TXT", "report (2).txt", "same.TXT"}));
        QCOMPARE(fileBytes(f.path("backing/report (2).txt")), "mine");
        QVERIFY(QDir(f.path("src")).isEmpty());
    }

    // The home trash under XDG_DATA_HOME: the old file linked into files/,
    // its record in info/, a second one under another name, and none for a
    // file replaced by the same bytes.
    void trash()
    {
        f.writeJob("Action=Copy\nOverwrite=1\nReplaceToTrash=1\n");
        const QString name = "a b%.txt";
        writeFile(f.path("dst/") + name, "first");
        QStringList lines;
        for (const char *content : {"second", "third", "third"}) {
            writeFile(f.path("src/") + name, content);
            QCOMPARE(once(false, lines), 0);
            QCOMPARE(lines, QStringList{"Copied (overwritten): " + name});
            QCOMPARE(fileBytes(f.path("dst/") + name), content);
        }
        const QString trash = f.path("data/Trash/");
        QCOMPARE(QDir(trash + "files").entryList(QDir::Files, QDir::Name),
                 (QStringList{name, name + ".2"}));
        QCOMPARE(fileBytes(trash + "files/" + name) + fileBytes(trash + "files/" + name + ".2"),
                 "firstsecond");
        const QByteArray path = QFile::encodeName(QFileInfo(f.path("dst")).canonicalFilePath());
        QCOMPARE(fileBytes(trash + "info/" + name + ".trashinfo"),
                 "[Trash Info]\nPath=" + QUrl::toPercentEncoding(path, "/") +
                     "/a%20b%25.txt\nDeletionDate=2026-12-06T10:20:30\n");
        QCOMPARE(QFileInfo(trash).permissions() & (QFile::ReadOther | QFile::ReadGroup),
                 QFile::Permissions());
    }

    // From the window: Ctrl+, opens it; a malformed pattern is refused
    // naming it; a save writes only what changed, and LogFile applies at once.
    void dialog()
    {
        auto w = f.openJob();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        const QByteArray before = f.settings();
        QTimer::singleShot(0, [&] {
            auto *d = qobject_cast<dlgExtraOptions *>(QApplication::activeModalWidget());
            QVERIFY(d);
            d->txtExclude->setText("*.tmp");
            d->cmdDownloads->click();
            QVERIFY(d->txtExclude->text().startsWith("*.tmp;*.part;"));
            d->txtInclude->setText("*.txt;[oops");
            d->cmdSave->click();
            QCOMPARE(d->lblProblem->text(), "Malformed pattern: [oops");
            QVERIFY(d->isVisible());
            d->txtInclude->clear();
            d->spnQuiet->setValue(30);
            d->cboNameTaken->setCurrentIndex(1);
            d->chkLogFile->setChecked(true);
            d->cmdSave->click();
        });
        QTest::keyClick(w.get(), Qt::Key_Comma, Qt::ControlModifier);
        const QByteArray after = f.settings();
        QVERIFY2(after.startsWith(before), after.constData());
        QCOMPARE(after.mid(before.size()), "QuietSeconds=30\nExclude=*.tmp;" +
                                               dlgExtraOptions::DownloadPatterns.toUtf8() +
                                               "\nNameTaken=1\nLogFile=1\n");
        QVERIFY(w->activityLogFile());
    }

    // The arrival and notice boxes write their keys only when changed; the
    // login box writes and removes this job's autostart entry, and shows
    // whether it is there.
    void switchesAndLoginEntry()
    {
        const QByteArray config = qgetenv("XDG_CONFIG_HOME");
        const auto restore = qScopeGuard([&] { qputenv("XDG_CONFIG_HOME", config); });
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(f.path("config")));
        auto w = f.openJob();
        const QString entries = f.path("config/autostart");
        const auto save = [&](bool on, bool untouched = false) {
            QTimer::singleShot(0, [&, on, untouched] {
                auto *d = qobject_cast<dlgExtraOptions *>(QApplication::activeModalWidget());
                QVERIFY(d);
                QCOMPARE(d->chkLogin->isChecked(), !on && !untouched);
                QCOMPARE(d->chkArrival->isChecked(), !on && !untouched);
                if (!untouched)
                    for (QCheckBox *box : {d->chkArrival, d->chkLogin, d->chkNotify})
                        box->setChecked(on);
                d->cmdSave->click();
            });
            w->ExtraOptions_Click();
        };
        const QByteArray before = f.settings();
        save(false, true);
        QCOMPARE(f.settings(), before);
        QVERIFY(!QDir(entries).exists() || QDir(entries).isEmpty());
        save(true);
        QCOMPARE(f.settings().mid(before.size()), "RunOnArrival=1\nNotifyEveryPass=1\n");
        const QStringList written = QDir(entries).entryList(QDir::Files);
        QCOMPARE(written.size(), 1);
        QVERIFY(fileBytes(entries + "/" + written[0]).contains(" /s\n"));
        save(false);
        QVERIFY(QDir(entries).isEmpty());
        QVERIFY(f.settings().contains("RunOnArrival=0\n"));
    }
};

QTEST_MAIN(tst_ExtraOptionsRun)
#include "tst_extraoptionsrun.moc"
