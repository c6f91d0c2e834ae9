// The autostart entry that starts the job at login: a valid desktop entry
// whose Exec names the program exactly, one entry per settings file, and
// only its own entry is ever removed.
#include "app/AutostartEntry.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString entryValue(const QString &path, const QString &key)
{
    for (const QString &line : QString::fromUtf8(fileBytes(path)).split('\n'))
        if (line.startsWith(key + '='))
            return line.mid(key.size() + 1);
    return {};
}

// The desktop entry rules read backwards: string escapes, then %%, then the
// quoting of one argument.
QStringList execArguments(const QString &value)
{
    QString text;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const QChar c = value[++i];
            text += c == 's' ? QChar(' ') : c == 'n' ? QChar('\n') : c == 't' ? QChar('\t') : c;
        } else {
            text += value[i];
        }
    }
    text.replace("%%", "%");
    QStringList arguments;
    QString current;
    bool quoted = false, any = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted && c == '\\' && i + 1 < text.size()) {
            current += text[++i];
        } else if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (c == ' ' && !quoted) {
            if (any || !current.isEmpty())
                arguments << current;
            current.clear();
            any = false;
        } else {
            current += c;
        }
    }
    if (any || !current.isEmpty())
        arguments << current;
    return arguments;
}

} // namespace

class tst_Autostart : public QObject
{
    Q_OBJECT

private slots:
    void writtenValidatedRemoved_data()
    {
        QTest::addColumn<QString>("program");
        QTest::newRow("package") << "/usr/bin/pallwick";
        QTest::newRow("folder with spaces") << "/home/ann/My Tools/pallwick/pallwick";
        QTest::newRow("reserved characters") << "/opt/a$b`c\"d\\e%f'g;h&i(j)/pallwick";
    }

    void writtenValidatedRemoved()
    {
        QFETCH(QString, program);
        QTemporaryDir dir;
        const AutostartEntry entry(dir.filePath("autostart"), dir.filePath("job/Pallwick.ini"));
        QVERIFY(!entry.exists());
        QVERIFY(entry.write(program, "/opt/x y/pallwick.png").ok());
        QVERIFY(entry.exists());
        QVERIFY(entry.path().startsWith(dir.filePath("autostart/pallwick-")));

        const QString exec = entryValue(entry.path(), "Exec");
        QCOMPARE(execArguments(exec), (QStringList{program, "/s"}));
        // A path with a blank is one quoted argument.
        if (program.contains(' '))
            QVERIFY(exec.startsWith('"'));
        const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
        if (validator.isEmpty())
            QSKIP("desktop-file-validate is not installed (desktop-file-utils)");
        QProcess validate;
        validate.start(validator, {entry.path()});
        QVERIFY(validate.waitForFinished());
        const QByteArray said = validate.readAllStandardOutput() + validate.readAllStandardError();
        QVERIFY2(validate.exitCode() == 0 && !said.contains("error"), said.constData());

        QVERIFY(entry.remove().ok());
        QVERIFY(!QFile::exists(entry.path()));
        QVERIFY(!entry.exists());
    }

    // Two program folders keep two entries; neither removes the other's, nor
    // a file under its own name that the user wrote.
    void removesOnlyItsOwnEntry()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath("autostart");
        const AutostartEntry first(folder, dir.filePath("one/Pallwick.ini"));
        const AutostartEntry second(folder, dir.filePath("two/Pallwick.ini"));
        QVERIFY(first.path() != second.path());
        QVERIFY(first.write("/one/pallwick", "pallwick").ok());
        QVERIFY(second.write("/two/pallwick", "pallwick").ok());
        QVERIFY(second.remove().ok());
        QVERIFY(first.exists());
        QVERIFY(!second.exists());

        const QByteArray users = "[Desktop Entry]\nType=Application\nName=Mine\nExec=mine\n";
        writeFile(second.path(), users);
        QVERIFY(!second.exists());
        QVERIFY(second.remove().ok());
        QCOMPARE(fileBytes(second.path()), users);
    }

    void folderFollowsXdgConfigHome()
    {
        qputenv("XDG_CONFIG_HOME", "/cfg/here");
        QCOMPARE(AutostartEntry::defaultFolder(), QString("/cfg/here/autostart"));
        qputenv("XDG_CONFIG_HOME", "relative");
        QCOMPARE(AutostartEntry::defaultFolder(), QDir::homePath() + "/.config/autostart");
    }
};

QTEST_MAIN(tst_Autostart)
#include "tst_autostart.moc"
