// The main window at work: scheduler, folder check, settings at start-up and
// exit, layout. Ticks are driven by calling the handler; nothing waits.
#include "app/Prompt.h"
#include "app/frmMain.h"
#include "platform/Clock.h"
#include "platform/UserStore.h"
#include "settings/modFolder.h"
#include "support/TestFiles.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

// Distinct, short texts so every line and title can be checked exactly.
static const char LanguageFile[] =
    "[frmMain]\nt0=Source\nt1=Target\nt4=minute\nt5=minutes\nt11=Stop\nt12=Start\n"
    "t14=Waiting\nt15=Busy\nt16=Stopped\nt17=next in\nt18=Info\nt19=no files\nt25=copied\n"
    "t29=file\nt30=files\nt31=Result\nt32=Cancel\nt33=started\nt34=stopped\nt36=Save?\n"
    "t37=Save settings\nt38=&Options\n";

class tst_MainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    FixedClock m_clock{QDateTime(QDate(2026, 12, 6), QTime(10, 20, 30))};

    QString path(const QString &name) const { return m_dir->filePath(name); }
    QString ini() const { return path("Pallwick.ini"); }
    QString source() const { return path("src"); }
    QString target() const { return path("dst"); }
    QString lastLine(frmMain &w) const { return w.List1->item(w.List1->count() - 1)->text(); }
    static QColor textColor(QLineEdit *box) { return box->palette().color(QPalette::Text); }
    static QColor fill(QWidget *w) { return w->palette().color(w->backgroundRole()); }

    // Settings with both folders present and the test language.
    void writeJob(const QByteArray &extra = {})
    {
        writeFile(ini(), "[Options]\nLanguage=Test\nFrom=" + source().toUtf8() +
                             "\nTo=" + target().toUtf8() + "\n" + extra);
    }

    std::unique_ptr<frmMain> open(const QStringList &arguments = {})
    {
        frmMain::Environment env;
        env.programFolder = m_dir->path();
        env.clock = &m_clock;
        return std::make_unique<frmMain>(arguments, env);
    }

    static void activate(QWidget *window)
    {
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
    }

    // Runs action the first time the pass lets events run while busy with
    // its files (events may also run earlier, while it lists the folder).
    static void whenBusy(frmMain &w, std::function<void()> action)
    {
        QTimer::singleShot(0, &w, [&w, action] {
            if (w.Busy)
                action();
            else
                whenBusy(w, action);
        });
    }

    static void turnWheelDown(QWidget *widget)
    {
        QWheelEvent wheel({5, 5}, widget->mapToGlobal(QPoint(5, 5)), {}, {0, -120}, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(widget, &wheel);
    }

    static QString waiting(int n)
    {
        return QStringLiteral("Pallwick Lite - Waiting (next in %1 %2)")
            .arg(n)
            .arg(n == 1 ? "minute" : "minutes");
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        for (const char *folder : {"lang", "src", "dst", "store"})
            QVERIFY(QDir(m_dir->path()).mkpath(folder));
        writeFile(path("lang/Test.dat"), LanguageFile);
        UserStore::setLocation(path("store"));
    }

    void cleanup()
    {
        Prompt::setHook({});
        modFolder::setBrowseHook({});
        m_dir.reset();
    }

    static void schedulerRow(const char *name, const char *interval, const char *steps,
                             const char *minutes)
    {
        QStringList titles;
        for (const QString &n : QString(minutes).split(' '))
            titles << (n == "-" ? QStringLiteral("Pallwick Lite - Stopped") : waiting(n.toInt()));
        QTest::newRow(name) << QByteArray(interval) << QString(steps).split(';') << titles;
    }

    // Steps: S = Start/Stop click, T = tick, "V:<text>" = type into the
    // interval field and leave it. After each step the title must show the
    // minutes given ("-": stopped).
    void scheduler_data()
    {
        QTest::addColumn<QByteArray>("interval");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("titles");
        schedulerRow("interval 5 fires on the fifth tick", "5", "S;T;T;T;T;T;T", "5 4 3 2 1 5 4");
        schedulerRow("interval 1 fires on every tick", "1", "S;T;T", "1 1 1");
        schedulerRow("stop then start restarts the count", "5", "S;T;S;T;S;T", "5 4 - - 5 4");
        schedulerRow("new interval while waiting restarts at once", "5", "S;T;V:10 MINUTES;T",
                     "5 4 10 9");
        schedulerRow("new interval while stopped waits for Start", "5", "V:7;S", "- 7");
        schedulerRow("a typed number is not completed to a listed one", "5", "V:6;S;V:12;V:4",
                     "- 6 12 4");
        schedulerRow("unusable interval keeps the last one", "5",
                     "S;T;V:abc;V:0;V:40000;V:-3;V:", "5 4 5 5 5 5 5");
        schedulerRow("stored interval that is no number falls back to 5", "x7", "S", "5");
        schedulerRow("typed 32767 is the largest", "5", "V:32767;S;V:32768", "- 32767 32767");
        schedulerRow("stored 32767 is kept", "32767", "S", "32767");
        schedulerRow("stored 32768 falls back to 5", "32768", "S", "5");
        schedulerRow("stored 05 reads as 5", "05", "S", "5");
    }

    void scheduler()
    {
        QFETCH(QByteArray, interval);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, titles);
        writeJob("Interval=" + interval + "\n");
        auto w = open();
        activate(w.get()); // typing needs a focused field, as a user has it
        const QString stamp = logStamp(m_clock);
        for (int i = 0; i < steps.size(); ++i) {
            const int lines = w->List1->count();
            if (steps[i] == "S") {
                w->cmdStopStart_Click();
                QCOMPARE(lastLine(*w), stamp + (w->Running ? " - started" : " - stopped"));
                QCOMPARE(w->List1->currentRow(), lines);
            } else if (steps[i] == "T") {
                const bool due = w->Running && w->MinutesElapsed + 1 == w->IntervalMinutes;
                w->Timer1_Timer();
                // A due tick runs a pass: the empty source gives one no-files line.
                QCOMPARE(w->List1->count(), lines + (due ? 1 : 0));
                if (due)
                    QCOMPARE(lastLine(*w), stamp + " - Info: no files ");
                QVERIFY(w->Timer1->isActive());
            } else { // typed key by key, then the focus moves on
                w->Combo1->clearEditText();
                w->Combo1->lineEdit()->setFocus();
                QTest::keyClicks(w->Combo1->lineEdit(), steps[i].mid(2));
                w->Combo1_Validate();
            }
            QCOMPARE(w->windowTitle(), titles[i]);
        }
    }

    // The interval field from the keyboard: the list's entry follows the
    // value shown, so Up/Down and the wheel step to its neighbours, also from
    // a typed value that is not listed; only a move to another control (not
    // to another window) checks the value; Tab lands on the selected option
    // and leaves the pair at once, as a radio group does.
    void intervalFieldFromTheKeyboard()
    {
        writeJob("Interval=60\n");
        auto w = open();
        activate(w.get());
        QLineEdit *field = w->Combo1->lineEdit();
        const auto type = [&](const QString &text) {
            w->Combo1->clearEditText();
            field->setFocus();
            QTest::keyClicks(field, text);
        };
        QCOMPARE(w->Combo1->currentIndex(), 9);
        field->setFocus();
        QTest::keyClick(field, Qt::Key_Down);
        QCOMPARE(w->Combo1->currentText(), "120 minutes");
        w->cmdStopStart_Click();
        w->Timer1_Timer();
        type("7");
        QWidget other;
        activate(&other);
        QCOMPARE(w->MinutesElapsed, qint16(1));
        activate(w.get());
        field->setFocus();
        QTest::keyClick(field, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), w->Option1[1]); // Copy, the selected one
        QCOMPARE(w->windowTitle(), waiting(7));
        QCOMPARE(w->Combo1->currentIndex(), -1);
        QTest::keyClick(w->Option1[1], Qt::Key_Up);
        QVERIFY(w->Option1[0]->isChecked() && w->Option1[0]->hasFocus());
        QTest::keyClick(w->Option1[0], Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), w->Check2);
        QTest::keyClick(w->Check2, Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), w->Option1[0]);
        field->setFocus();
        QTest::keyClick(field, Qt::Key_Up);
        QCOMPARE(w->Combo1->currentText(), "5 minutes");
        type("30");
        w->Combo1_Validate();
        type("abc"); // refused: the interval in force, on its entry
        w->Combo1_Validate();
        QCOMPARE(w->Combo1->currentText(), "30 minutes");
        QCOMPARE(w->Combo1->currentIndex(), 7);
        turnWheelDown(w->Combo1);
        QCOMPARE(w->Combo1->currentText(), "45 minutes");
        w->SetMessages(false); // Options saved: the stored interval again
        QCOMPARE(w->Combo1->currentIndex(), 9);
    }

    // A FIFO or a device under the name of the settings or the language file
    // must neither hang nor break start-up: the window opens with defaults.
    void startsWhateverStandsUnderTheFileNames()
    {
        QCOMPARE(::mkfifo(qPrintable(ini()), 0600), 0);
        QVERIFY(QFile::link("/dev/zero", path("lang/Deutsch.dat")));
        alarm(20); // a blocking read ends the test instead of hanging it
        auto w = open();
        alarm(0);
        QCOMPARE(w->windowTitle(), "Pallwick Lite - ");
        QCOMPARE(w->Combo1->currentText(), "5 ");
    }

    // Saving the options reloads the stored interval; a count already past
    // it must still lead to a pass instead of never matching again.
    void lowerStoredIntervalStillFires()
    {
        writeJob("Interval=5\n");
        auto w = open();
        w->Combo1->setEditText("10");
        w->cmdStopStart_Click();
        for (int i = 0; i < 7; ++i)
            w->Timer1_Timer();
        w->SetMessages(false);
        QCOMPARE(w->IntervalMinutes, 5);
        w->Timer1_Timer();
        QCOMPARE(lastLine(*w), logStamp(m_clock) + " - Info: no files ");
        QCOMPARE(w->windowTitle(), waiting(5));
    }

    void cancelDuringTimedPassKeepsScheduleRunning()
    {
        writeJob("Interval=1\n");
        for (const char *name : {"/a", "/b", "/c"})
            writeFile(source() + name, "data");
        auto w = open();
        w->cmdStopStart_Click();
        // The pass lets events run before its first file: the click lands there.
        whenBusy(*w, [&] {
            QCOMPARE(w->cmdStopStart->text(), "Cancel");
            QVERIFY(!w->cmdQuit->isEnabled());
            w->cmdStopStart->click();
        });
        w->Timer1_Timer();
        QVERIFY(w->Running && !w->Busy && !w->CancelRequested);
        QCOMPARE(w->cmdStopStart->text(), "Stop");
        QVERIFY(w->cmdQuit->isEnabled());
        QCOMPARE(w->windowTitle(), waiting(1));
        QCOMPARE(lastLine(*w), "Result:  0 files");
        QVERIFY(QDir(target()).isEmpty());
    }

    // With no texts at all the Start caption equals the (empty) cancel
    // caption: Start must still start.
    void startsWithoutTexts()
    {
        writeFile(path("lang/Test.dat"), "[frmMain]\n");
        writeJob();
        auto w = open();
        QCOMPARE(w->windowTitle(), "Pallwick Lite - ");
        w->cmdStopStart_Click();
        QVERIFY(w->Running);
    }

    // Inside a pass started by Start: a due tick starts no second pass, and a
    // language reload keeps the button the cancel button.
    void startPassIsNotDisturbed()
    {
        writeJob("Interval=1\nDoActionOnStart=1\n");
        writeFile(source() + "/a", "a");
        auto w = open();
        bool ran = false;
        whenBusy(*w, [&] {
            const int lines = w->activityLog().count();
            w->Timer1_Timer();
            QCOMPARE(w->activityLog().count(), lines);
            QCOMPARE(w->MinutesElapsed, qint16(0)); // the running pass counts as this one
            w->LoadLanguage();
            w->SetMessages(false);
            QCOMPARE(w->cmdStopStart->text(), "Cancel");
            turnWheelDown(w->Combo1); // the locked field takes no wheel turn
            QCOMPARE(w->Combo1->currentText(), "1 minute");
            ran = true;
        });
        w->cmdStopStart_Click();
        QVERIFY(ran);
        QCOMPARE(w->List1->count(), 2); // start line, the file's line
        QCOMPARE(lastLine(*w), logStamp(m_clock) + " - copied: a");
        QCOMPARE(w->cmdStopStart->text(), "Stop");
    }

    void closingDuringPassFinishesThenSaves()
    {
        writeJob("DoActionOnStart=1\nSave=1\n");
        writeFile(source() + "/a", "data");
        auto w = open();
        w->show();
        QTimer::singleShot(0, w.get(), [&] { QVERIFY(!w->close()); });
        w->cmdStopStart_Click();
        QCOMPARE(lastLine(*w), "Result:  0 files");
        QVERIFY(w->isVisible());
        QVERIFY(!fileBytes(ini()).contains("Action="));
        QTRY_VERIFY(!w->isVisible()); // then it closes by itself and saves
        QVERIFY(fileBytes(ini()).contains("\nAction=Copy\n"));
    }

    void saveDecision_data()
    {
        QTest::addColumn<QByteArray>("options");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("answer"); // -1: must not be asked
        QTest::addColumn<QByteArray>("interval");
        QTest::newRow("asked, yes")
            << QByteArray("Question=1\n") << "1 MINUTE" << 1 << QByteArray("1");
        QTest::newRow("asked, no beats Save")
            << QByteArray("Question=1\nSave=1\n") << "7" << 0 << QByteArray();
        QTest::newRow("silent save")
            << QByteArray("Save=1\n") << "10 MiNuTeS" << -1 << QByteArray("10");
        QTest::newRow("neither") << QByteArray() << "7" << -1 << QByteArray();
        QTest::newRow("unusable interval saves the one in force")
            << QByteArray("Save=1\n") << "abc" << -1 << QByteArray("5");
        QTest::newRow("only exactly 1")
            << QByteArray("Question=yes\nSave=01\n") << "7" << -1 << QByteArray();
    }

    void saveDecision()
    {
        QFETCH(QByteArray, options);
        QFETCH(QString, typed);
        QFETCH(int, answer);
        QFETCH(QByteArray, interval);
        writeJob(options);
        const QByteArray before = fileBytes(ini());
        int asked = 0;
        bool timerStopped = false; // no pass may start while the question waits
        std::unique_ptr<frmMain> w;
        Prompt::setHook([&](const QString &title, const QString &text) {
            ++asked;
            timerStopped = !w->Timer1->isActive();
            return title == "Pallwick Lite - Save?" && text == "Save settings?" && answer == 1;
        });
        w = open();
        w->Option1[0]->setChecked(true);
        w->Check1->setChecked(true); // log shown, overwrite off: kept apart
        w->Combo1->setEditText(typed);
        w->close();
        QCOMPARE(asked, answer < 0 ? 0 : 1);
        QCOMPARE(timerStopped, answer >= 0);
        const QByteArray after = fileBytes(ini());
        if (interval.isEmpty()) {
            QCOMPARE(after, before);
        } else {
            QVERIFY(after.endsWith("\nInterval=" + interval +
                                   "\nAction=Move\nShowLog=1\nOverwrite=0\n"));
        }
    }

    void loadSettings()
    {
        // A 330-character path must come back whole.
        QString deep = source();
        for (char c = 'a'; c < 'g'; ++c)
            deep += '/' + QString(54, QLatin1Char(c));
        QVERIFY(QDir().mkpath(deep));
        writeFile(ini(), "[Options]\nLanguage=Test\nFrom=" + deep.toUtf8() +
                             "\nAction=Move\nShowLog=1\nOverwrite=1\nInterval=7\n");
        auto w = open();
        QCOMPARE(w->Text1->text(), deep);
        QVERIFY(w->Option1[0]->isChecked() && w->Check1->isChecked() && w->Check2->isChecked());
        QCOMPARE(w->Combo1->currentText(), "7 minutes");
        QCOMPARE(w->Combo1->count(), 18);
        QCOMPARE(w->Combo1->itemText(0), "1 minute");
        QCOMPARE(w->Combo1->itemText(17), "560 minutes");
        QCOMPARE(w->cmdOpt->text(), "&Options");
        // "move" is not "Move": the design's move choice stays selected. Any
        // other ShowLog leaves the box clear, and the layout follows the box.
        writeJob("Action=move\nShowLog=yes\n");
        auto other = open();
        QVERIFY(other->Option1[0]->isChecked() && !other->Check1->isChecked());
        QVERIFY(other->List1->isHidden());
        QCOMPARE(other->height(), twipsToPixels(2685 + 30));
    }

    void folderCheckColoursAndStops()
    {
        writeFile(ini(), "[Options]\nLanguage=Test\nFrom=" + source().toUtf8() +
                             "\nTo=" + path("missing").toUtf8() + "\n");
        auto w = open();
        QVERIFY(!w->cmdStopStart->isEnabled());
        QCOMPARE(textColor(w->Text2), QColor(Qt::red));
        QCOMPARE(textColor(w->Text1), QColor(Qt::black));
        w->Text1->setText(path("nowhere"));
        w->Text1->setText(source()); // stays red until both exist
        QCOMPARE(textColor(w->Text1), QColor(Qt::red));
        w->Text2->setText(target());
        QCOMPARE(textColor(w->Text1), QColor(Qt::black));
        QCOMPARE(textColor(w->Text2), QColor(Qt::black));

        // A folder that disappears while waiting stops the schedule silently.
        w->cmdStopStart_Click();
        const int lines = w->List1->count();
        QVERIFY(QDir(target()).removeRecursively());
        w->Text1->setText(source() + '/');
        QVERIFY(!w->Running && !w->cmdStopStart->isEnabled());
        QCOMPARE(w->cmdStopStart->text(), "Start");
        QCOMPARE(w->windowTitle(), "Pallwick Lite - Stopped");
        QCOMPARE(w->List1->count(), lines);
    }

    void startSwitch_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("destinationPresent");
        QTest::addColumn<bool>("running");
        QTest::newRow("/s") << QStringList{"/s"} << true << true;
        QTest::newRow("/S") << QStringList{"/S"} << true << false;
        QTest::newRow("/s and more") << QStringList{"/s", "x"} << true << false;
        QTest::newRow("/s, destination missing") << QStringList{"/s"} << false << false;
    }

    void startSwitch()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, destinationPresent);
        QFETCH(bool, running);
        if (!destinationPresent)
            QVERIFY(QDir(target()).removeRecursively());
        writeJob();
        auto w = open(arguments);
        QCOMPARE(w->Running, running);
        QCOMPARE(w->windowTitle(), running ? waiting(5) : "Pallwick Lite - Stopped");
        QCOMPARE(w->List1->count(), running ? 1 : 0);
    }

    void layouts()
    {
        writeJob();
        auto w = open();
        const QSize withLog(twipsToPixels(6090), twipsToPixels(3705 + 30));
        const QSize withoutLog(twipsToPixels(6090), twipsToPixels(2685 + 30));
        for (const bool shown : {true, false}) {
            w->Check1->click();
            QCOMPARE(w->Check1->isChecked(), shown);
            QCOMPARE(w->List1->isHidden(), !shown);
            QCOMPARE(w->size(), shown ? withLog : withoutLog);
            QVERIFY(w->rect().contains(w->cmdQuit->geometry()));
        }
        QCOMPARE(w->minimumSize(), w->maximumSize());
    }

    void folderButtons()
    {
        writeJob();
        auto w = open();
        QVERIFY(QDir(m_dir->path()).mkpath("picked"));
        QString seen;
        modFolder::setBrowseHook([&](const QString &title, const QString &start) {
            seen = title + '|' + start;
            return path("picked");
        });
        w->cmdTo_Click();
        QCOMPARE(seen, "Target:|" + target());
        QCOMPARE(w->Text2->toolTip(), path("picked"));
        w->Text1->setText(path("typed"));
        int asked = 0;
        modFolder::setBrowseHook([&](const QString &, const QString &) {
            ++asked;
            return QString();
        });
        w->cmdFrom_Click();
        QCOMPARE(w->Text1->text(), path("typed"));

        // Enter presses a focused button, elsewhere the Start/Stop button.
        w->Text1->setText(source());
        w->cmdFrom->setFocus();
        QTest::keyClick(w->cmdFrom, Qt::Key_Return);
        QCOMPARE(asked, 2);
        QVERIFY(!w->Running);
        w->Text1->setFocus();
        QTest::keyClick(w->Text1, Qt::Key_Return);
        QVERIFY(w->Running);
    }

    void colourKeysPersist()
    {
        writeJob();
        auto w = open();
        QCOMPARE(fill(w->Check1), QColor(Qt::white));
        w->cmdQuit_KeyDown(Qt::Key_F12);
        const QColor face = QApplication::palette().color(QPalette::Button);
        for (QWidget *part : {(QWidget *)w->Frame1, (QWidget *)w->Check1, w->Picture1,
                              (QWidget *)w->Option1[1], (QWidget *)w.get()})
            QCOMPARE(fill(part), face);
        auto next = open();
        QCOMPARE(fill(next->Check2), face);
        next->cmdQuit_KeyDown(Qt::Key_F11);
        QCOMPARE(fill(next->Picture1), QColor(Qt::white));
    }
};

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
