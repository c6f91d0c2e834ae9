// The optional rules of a pass, one table each, against the in-memory file
// system: quiet time, name patterns, names already taken, identical content
// and the trash for replaced files.
#include "support/MemoryFileSystem.h"
#include "support/TestFiles.h"
#include "support/TestPassHost.h"

#include "platform/Clock.h"
#include "settings/ExtraOptions.h"
#include "settings/modGlobal.h"
#include "transfer/EventRounds.h"
#include "transfer/NamePatterns.h"
#include "transfer/NumberedName.h"
#include "transfer/TransferPass.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class ExtraOptionsTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    FixedClock m_clock{QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9))};
    std::unique_ptr<TestPassHost> m_host;
    std::unique_ptr<MemoryFileSystem> m_fs;

    QString stamped(const QString &text) const { return logStamp(m_clock) + " - " + text; }

    // Columns of every pass table: the [Options] lines, "move" and
    // "overwrite", the files before -> after as "path=content" (a source
    // may add "@-S": changed S seconds before now), and the log.
    static void columns()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("options");
        QTest::addColumn<QString>("files");
        QTest::addColumn<QStringList>("log");
    }
    static QTestData &row(const char *name, const QString &settings, const QString &options,
                          const QString &files, const QStringList &log)
    {
        return QTest::newRow(name) << settings << options << files << log;
    }
    void runRow()
    {
        QFETCH(QString, settings);
        QFETCH(QString, options);
        QFETCH(QString, files);
        writeFile(modGlobal::IniFile,
                  "[Options]\n" + settings.replace(' ', '\n').replace('+', ' ').toUtf8() + '\n');
        for (const QString &file : files.section(" -> ", 0, 0).split(' ', Qt::SkipEmptyParts)) {
            const QString path = file.section('=', 0, 0).replace('+', ' ');
            const QString content = file.section('=', 1).section('@', 0, 0);
            m_fs->files[path] = content.toUtf8();
            if (file.contains('@'))
                m_fs->changedNs[path] = m_clock.nanosecondsSinceEpoch() +
                                        file.section('@', 1).toLongLong() * 1000000000;
        }
        m_host->move = options.contains("move");
        m_host->overwrite = options.contains("overwrite");
        TransferPass(*m_host, *m_fs, m_clock).run();
        QStringList after;
        for (auto it = m_fs->files.cbegin(); it != m_fs->files.cend(); ++it)
            after << QString(it.key()).replace(' ', '+') + "=" + it.value();
        QCOMPARE(after.join(' '), files.section(" -> ", 1));
        QStringList expected;
        QFETCH(QStringList, log);
        for (const QString &line : log)
            expected << (line.startsWith("RESULT") ? line : stamped(line));
        QCOMPARE(m_host->memoryLog.lines(), expected);
    }

private slots:
    void initTestCase() { modGlobal::IniFile = m_dir.filePath("Pallwick.ini"); }
    void init()
    {
        m_host = std::make_unique<TestPassHost>();
        m_fs = std::make_unique<MemoryFileSystem>();
    }

    // Held are files changed within the last N s: (now - N, now]. A time in
    // the future holds nothing, or a wrong clock would hold a file for ever.
    void quietTime_data()
    {
        columns();
        const QString held = "NOTMOVED (still being written): f";
        row("N-1 s old", "QuietSeconds=10", "move", "/src/f=a@-9 -> /src/f=a", {held});
        row("just now", "QuietSeconds=10", "move", "/src/f=a@0 -> /src/f=a", {held});
        row("N s old", "QuietSeconds=10", "move", "/src/f=a@-10 -> /dst/f=a", {"MOVED: f"});
        row("N+1 s old", "QuietSeconds=10", "move", "/src/f=a@-11 -> /dst/f=a", {"MOVED: f"});
        row("in the future", "QuietSeconds=10", "move", "/src/f=a@60 -> /dst/f=a", {"MOVED: f"});
        // A held file gets no line of the checks that come with the move.
        row("held, with a malformed CheckDestination", "QuietSeconds=10 CheckDestination=x", "move",
            "/src/f=a@0 -> /src/f=a", {held});
        row("copy", "QuietSeconds=10", "", "/src/f=a@-1 -> /src/f=a",
            {"NOTCOPIED (still being written): f"});
        row("copy, name taken", "QuietSeconds=10", "", "/dst/f=b /src/f=a@-1 -> /dst/f=b /src/f=a",
            {"NOTCOPIED (still being written): f"});
        for (const char *off : {"QuietSeconds=0", "QuietSeconds=x", "QuietSeconds=-5"})
            row(off, off, "move", "/src/f=a@0 -> /dst/f=a", {"MOVED: f"});
        // Neither an error nor a treated file: a cancel counts only the other.
        row("cancelled after a held file", "QuietSeconds=10", "move cancel",
            "/src/a=a@0 /src/b=b@-60 -> /dst/b=b /src/a=a",
            {"NOTMOVED (still being written): a", "MOVED: b", "RESULT: MOVED 1 FILE"});
    }
    void quietTime()
    {
        QFETCH(QString, options);
        if (options.contains("cancel")) { // asked while the last file is treated
            m_fs->delayMs = 5 * EventRounds::IntervalMs;
            m_host->onEventRound = [&] {
                if (m_host->memoryLog.lines().endsWith("MOVING: b"))
                    m_host->cancel = true;
            };
        }
        runRow();
        QCOMPARE(m_host->problems, 0);
    }

    void patterns_data()
    {
        columns();
        const QString both = "/src/a.txt=1 /src/b.part=2";
        row("include", "Include=*.txt", "move", both + " -> /dst/a.txt=1 /src/b.part=2",
            {"MOVED: a.txt"});
        row("exclude, blanks and empty entries", "Exclude=+*.part+;;~$*;", "move",
            both + " /src/~$doc=3 -> /dst/a.txt=1 /src/b.part=2 /src/~$doc=3", {"MOVED: a.txt"});
        row("a whole name, a prefix", "Include=b.par;a.txt Exclude=b.*", "move",
            both + " /src/b.par=3 -> /dst/a.txt=1 /src/b.par=3 /src/b.part=2", {"MOVED: a.txt"});
        row("matched with case", "Include=*.TXT", "move", both + " -> " + both, {"INFO: NOFILES "});
        row("include and exclude", "Include=*.txt;*.part Exclude=b*", "",
            both + " -> /dst/a.txt=1 " + both, {"COPIED: a.txt"});
        row("character classes", "Include=[[:digit:]]*;[]x]*", "",
            "/src/1=1 /src/]=2 /src/a=3 -> /dst/1=1 /dst/]=2 /src/1=1 /src/]=2 /src/a=3",
            {"COPIED: 1", "COPIED: ]"});
        // Ignoring a malformed Include could turn a narrow list into every file.
        for (const QString bad : {"[abc", "x\\", "a/b", "[[:nope:]]"})
            row(qPrintable("malformed include " + bad), "Include=*.txt;" + bad, "move",
                both + " -> " + both,
                {"ERROR: malformed Include pattern, no file taken: \"" + bad + "\" - "});
        row("malformed exclude", "Exclude=*.part;[x;a\\", "move",
            both + " -> /dst/a.txt=1 /src/b.part=2",
            {"INFO: malformed Exclude pattern ignored: \"[x\", \"a\\\"", "MOVED: a.txt"});
    }
    void patterns()
    {
        runRow();
        QFETCH(QStringList, log);
        QCOMPARE(m_host->problems, log.constFirst().startsWith("ERROR") ? 1 : 0);
    }

    void numberedNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("numbered");
        for (const auto &[name, numbered] : {std::pair{"report.txt", "report (2).txt"},
                                             {"a.tar.gz", "a.tar (2).gz"},
                                             {"README", "README (2)"},
                                             {".bashrc", ".bashrc (2)"},
                                             {".config.ini", ".config (2).ini"}})
            QTest::newRow(name) << QString(name) << QString(numbered);
    }
    void numberedNames()
    {
        QFETCH(QString, name);
        QTEST(numberedName(name, 2), "numbered");
    }

    // NameTaken=1 with Overwrite off: the first free "name (N).ext".
    void keepBoth_data()
    {
        columns();
        row("first number", "NameTaken=1", "move",
            "/dst/f.txt=old /src/f.txt=new -> /dst/f+(1).txt=new /dst/f.txt=old",
            {"MOVED as \"f (1).txt\": f.txt"});
        row("a gap", "NameTaken=1", "move",
            "/dst/f=o /dst/f+(1)=o /dst/f+(3)=o /src/f=n -> /dst/f=o /dst/f+(1)=o /dst/f+(2)=n "
            "/dst/f+(3)=o",
            {"MOVED as \"f (2)\": f"});
        row("taken meanwhile", "NameTaken=1", "move meanwhile",
            "/dst/f=o /src/f=n -> /dst/f=o /dst/f+(1)=theirs /dst/f+(2)=n",
            {"MOVED as \"f (2)\": f"});
        row("0: left alone", "NameTaken=0", "move", "/dst/f=o /src/f=n -> /dst/f=o /src/f=n",
            {"NOTMOVED (EXISTS): f"});
        row("overwrite wins", "NameTaken=1", "move overwrite", "/dst/f=o /src/f=n -> /dst/f=n",
            {"MOVED (OVERWRITTEN): f"});
        QStringList numbered; // in the order of their names
        for (int n = 1; n <= 999; ++n)
            numbered << QString("/dst/f+(%1)=o").arg(n);
        numbered.sort();
        const QString full = "/dst/f=o " + numbered.join(' ');
        row("999 taken", "NameTaken=1", "move", full + " /src/f=n -> " + full + " /src/f=n",
            {"ERROR: no free name up to \"f (999)\" - f"});
    }
    void keepBoth()
    {
        QFETCH(QString, options);
        if (options.contains("meanwhile"))
            m_fs->beforePlacing = [&](const QString &destination) {
                if (destination == "/dst/f (1)")
                    m_fs->files[destination] = "theirs";
            };
        runRow();
    }

    // NameTaken=2, and 1 with Copy (which would otherwise add a copy of the
    // same file at every pass): content already there counts as done.
    void identicalContent_data()
    {
        columns();
        const QStringList already{"Already in the destination (identical file): f"};
        row("move, same", "NameTaken=2", "move", "/dst/f=x /src/f=x -> /dst/f=x", already);
        row("move, same under a number", "NameTaken=2", "move",
            "/dst/f=o /dst/f+(1)=p /dst/f+(2)=x /src/f=x -> /dst/f=o /dst/f+(1)=p /dst/f+(2)=x",
            already);
        row("move, same size, other bytes", "NameTaken=2", "move",
            "/dst/f=y /src/f=x -> /dst/f=y /dst/f+(1)=x", {"MOVED as \"f (1)\": f"});
        row("move, 1 numbers even the same", "NameTaken=1", "move",
            "/dst/f=x /src/f=x -> /dst/f=x /dst/f+(1)=x", {"MOVED as \"f (1)\": f"});
        row("copy, 1 acts as 2", "NameTaken=1", "", "/dst/f=x /src/f=x -> /dst/f=x /src/f=x",
            already);
        row("copy, different", "NameTaken=2", "",
            "/dst/f=o /src/f=x -> /dst/f=o /dst/f+(1)=x /src/f=x", {"COPIED as \"f (1)\": f"});
        row("comparison fails", "NameTaken=2", "move fail",
            "/dst/f=x /src/f=x -> /dst/f=x /src/f=x", {"ERROR: Input/output error - f"});
    }
    void identicalContent()
    {
        QFETCH(QString, options);
        if (options.contains("fail"))
            m_fs->failures[{"compare", "/dst/f"}] = FsResult::fromErrno(EIO);
        runRow();
    }

    // ReplaceToTrash=1: the old file goes to the trash before it is
    // replaced; where it cannot, it is not replaced.
    void trash_data()
    {
        columns();
        QTest::addColumn<QStringList>("trashed");
        row("replaced", "ReplaceToTrash=1", "overwrite",
            "/dst/f=old /src/f=new -> /dst/f=new /src/f=new", {"COPIED (OVERWRITTEN): f"})
            << QStringList{"old"};
        row("trash refused", "ReplaceToTrash=1", "move overwrite refuse",
            "/dst/f=old /src/f=new -> /dst/f=old /src/f=new",
            {"ERROR: the old file cannot go to the trash (Invalid cross-device link), so it is "
             "not replaced - f"})
            << QStringList{};
        // With Copy every pass replaces the same files: the trash would fill.
        row("identical", "ReplaceToTrash=1", "overwrite",
            "/dst/f=same /src/f=same -> /dst/f=same /src/f=same", {"COPIED (OVERWRITTEN): f"})
            << QStringList{};
        row("off", "ReplaceToTrash=0", "move overwrite", "/dst/f=old /src/f=new -> /dst/f=new",
            {"MOVED (OVERWRITTEN): f"})
            << QStringList{};
    }
    void trash()
    {
        QFETCH(QString, options);
        if (options.contains("refuse"))
            m_fs->failures[{"trash", "/dst/f"}] = FsResult::fromErrno(EXDEV);
        runRow();
        QFETCH(QStringList, trashed);
        QList<QByteArray> expected;
        for (const QString &content : trashed)
            expected << content.toUtf8();
        QCOMPARE(m_fs->trash, expected);
    }
};

QTEST_GUILESS_MAIN(ExtraOptionsTest)
#include "tst_extraoptions.moc"
