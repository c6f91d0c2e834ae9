// The main window at work: scheduler, folder check, settings at start-up and
// exit, layout. Ticks are driven by calling the handler; nothing waits.
#include "support/MemoryFileSystem.h"
#include "support/WindowFixture.h"

#include "dialogs/dlgOptionen.h"
#include "transfer/EventRounds.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <sys/file.h>
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

    WindowFixture f;

    static QString lastLine(frmMain &w) { return w.List1->item(w.List1->count() - 1)->text(); }
    static QColor textColor(QLineEdit *box) { return box->palette().color(QPalette::Text); }
    static QColor fill(QWidget *w) { return w->palette().color(w->backgroundRole()); }

    static void activate(QWidget *window)
    {
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
    }

    static void turnWheelDown(QWidget *widget)
    {
        QWheelEvent wheel({5, 5}, widget->mapToGlobal(QPoint(5, 5)), {}, {0, -120}, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(widget, &wheel);
    }

    // Typed key by key into the focused interval field, as a user does.
    static void typeInterval(frmMain &w, const QString &text)
    {
        w.Combo1->clearEditText();
        w.Combo1->lineEdit()->setFocus();
        QTest::keyClicks(w.Combo1->lineEdit(), text);
    }

    static QString waiting(int n)
    {
        return QStringLiteral("Pallwick Lite - Waiting (next in %1 %2)")
            .arg(n)
            .arg(n == 1 ? "minute" : "minutes");
    }

private slots:
    void init() { f.setUp("Test", LanguageFile); }
    void cleanup() { f.tearDown(); }

    // Steps: S = Start/Stop click, T = tick, O = Options saved, "V:<text>" =
    // type into the interval field and leave it, L/U = another pass (this
    // test's lock) takes/frees the source folder. After each step the title
    // shows the minutes given ("-": stopped); "*": a pass ran, "!": the due
    // pass found the folder held, wrote one line for all its tries, and the
    // next tick is due again.
    void scheduler_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("minutes");
        QTest::addColumn<bool>("file"); // src holds a file to copy
        const auto row = [](const char *name, const char *settings, const char *steps,
                            const char *minutes, bool file = false) {
            QTest::newRow(name) << "Interval=" + QByteArray(settings) + '\n'
                                << QString(steps) << QString(minutes) << file;
        };
        row("interval 5 fires on the fifth tick", "5", "S;T;T;T;T;T;T", "5 4 3 2 1 5* 4");
        row("stop then start restarts the count", "5", "S;T;S;T;S;T", "5 4 - - 5 4");
        row("new interval while waiting restarts at once", "5", "S;T;V:10 MINUTES;T", "5 4 10 9");
        row("a typed number is not completed to a listed one", "5", "V:6;S;V:12;V:4", "- 6 12 4");
        row("unusable interval keeps the last one", "5",
            "S;T;V:abc;V:0;V:40000;V:-3;V:", "5 4 5 5 5 5 5");
        // Saving the options reloads the stored interval; a count already
        // past it must still lead to a pass instead of never matching again.
        row("a lowered interval still fires", "2", "V:4;S;T;T;T;O;T", "- 4 3 2 1 1 2*");
        row("stored interval that is no number falls back to 5", "x7", "S", "5");
        row("typed 32767 is the largest", "5", "V:32767;S;V:32768", "- 32767 32767");
        row("stored 05 reads as 5", "05", "S", "5");
        row("held folder, due pass", "2", "L;S;T;T;T;U;T;L;T;T", "- 2 1 1! 1 1 2* 2 1 1!", true);
        row("held folder, run at Start", "3\nDoActionOnStart=1", "L;S;T;U;T;T", "- 1! 1 1 3* 2",
            true);
    }

    void scheduler()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QString, steps);
        QFETCH(QString, minutes);
        QFETCH(bool, file);
        const QStringList step = steps.split(';'), shown = minutes.split(' ');
        f.writeJob(settings + (file ? "Action=Copy\n" : ""));
        if (file)
            writeFile(f.path("src/a"), "data");
        auto w = f.open();
        activate(w.get()); // typing needs a focused field, as a user has it
        const QString stamp = logStamp(f.clock);
        int lock = -1;
        bool passed = false; // a pass has copied the file
        const auto unlock = qScopeGuard([&] { ::close(lock); });
        for (int i = 0; i < step.size(); ++i) {
            const int lines = w->List1->count();
            if (step[i] == "S") {
                w->cmdStopStart_Click();
            } else if (step[i] == "T") {
                w->Timer1_Timer();
                QVERIFY(w->Timer1->isActive());
            } else if (step[i] == "O") {
                w->SetMessages(false);
            } else if (step[i] == "L") {
                lock = ::open(QFile::encodeName(f.path("src")).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                QVERIFY(lock >= 0 && ::flock(lock, LOCK_EX | LOCK_NB) == 0);
            } else if (step[i] == "U") {
                ::close(std::exchange(lock, -1));
            } else { // typed, then the focus moves on
                typeInterval(*w, step[i].mid(2));
                w->Combo1_Validate();
            }
            const int added = (step[i] == "S") + shown[i].count('!') + shown[i].count('*');
            QCOMPARE(w->List1->count(), lines + added);
            if (step[i] == "S" && added == 1) {
                QCOMPARE(lastLine(*w), stamp + (w->Running ? " - started" : " - stopped"));
                QCOMPARE(w->List1->currentRow(), lines);
            }
            if (shown[i].endsWith('!'))
                QCOMPARE(lastLine(*w), stamp + " - Info: Another pass of the source folder is "
                                               "running; next try in 1 minute");
            // A pass over the empty source gives one no-files line.
            if (shown[i].endsWith('*'))
                QCOMPARE(lastLine(*w), stamp + (file ? " - copied: a" : " - Info: no files "));
            passed = passed || shown[i].endsWith('*');
            QCOMPARE(QFileInfo::exists(f.path("dst/a")), file && passed);
            const QString n = QString(shown[i]).remove('*').remove('!');
            QCOMPARE(w->windowTitle(), n == "-" ? "Pallwick Lite - Stopped" : waiting(n.toInt()));
        }
    }

    // The interval field from the keyboard: the list's entry follows the
    // value shown, so Up/Down and the wheel step to its neighbours, also from
    // a typed value that is not listed; only a move to another control (not
    // to another window) checks the value; Tab lands on the selected option
    // and leaves the pair at once, as a radio group does.
    void intervalFieldFromTheKeyboard()
    {
        auto w = f.openJob("Interval=60\n");
        activate(w.get());
        QLineEdit *field = w->Combo1->lineEdit();
        QCOMPARE(w->Combo1->currentIndex(), 9);
        field->setFocus();
        QTest::keyClick(field, Qt::Key_Down);
        QCOMPARE(w->Combo1->currentText(), "120 minutes");
        w->cmdStopStart_Click();
        w->Timer1_Timer();
        typeInterval(*w, "7");
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
        typeInterval(*w, "30");
        w->Combo1_Validate();
        typeInterval(*w, "abc"); // refused: the interval in force, on its entry
        w->Combo1_Validate();
        QCOMPARE(w->Combo1->currentText(), "30 minutes");
        QCOMPARE(w->Combo1->currentIndex(), 7);
        turnWheelDown(w->Combo1);
        QCOMPARE(w->Combo1->currentText(), "45 minutes");
        w->SetMessages(false); // Options saved: the stored interval again
        QCOMPARE(w->Combo1->currentIndex(), 9);
    }

    // A FIFO or a device under the name of the settings or the language file
    // must neither hang nor break start-up: the window opens with defaults
    // and no texts at all, where the Start caption equals the (empty) cancel
    // caption; Start must still start.
    void startsWhateverStandsUnderTheFileNames()
    {
        QCOMPARE(::mkfifo(qPrintable(f.ini()), 0600), 0);
        QVERIFY(QFile::link("/dev/zero", f.path("lang/Deutsch.dat")));
        alarm(20); // a blocking read ends the test instead of hanging it
        auto w = f.open();
        QCOMPARE(w->windowTitle(), "Pallwick Lite - ");
        QCOMPARE(w->Combo1->currentText(), "5 ");
        w->Text1->setText(f.path("src"));
        w->Text2->setText(f.path("dst"));
        w->cmdStopStart_Click();
        alarm(0);
        QVERIFY(w->Running);
    }

    // Inside a pass started by Start: a due tick starts no second pass but
    // restarts the count, a language reload keeps the cancel button, and the
    // locked field takes no wheel turn. Cancel, clicked before the first
    // file, ends the pass and leaves the schedule running.
    void passStartedByStartIsNotDisturbed()
    {
        f.writeJob("Interval=1\nDoActionOnStart=1\n");
        for (const char *name : {"a", "b", "c"})
            writeFile(f.path("src/") + name, "data");
        auto w = f.open();
        bool ran = false;
        f.whenBusy(*w, [&] {
            const int lines = w->activityLog().count();
            w->Timer1_Timer();
            QCOMPARE(w->activityLog().count(), lines);
            QCOMPARE(w->MinutesElapsed, qint16(0)); // the running pass counts as this one
            w->LoadLanguage();
            w->SetMessages(false);
            QCOMPARE(w->cmdStopStart->text(), "Cancel");
            QVERIFY(!w->cmdQuit->isEnabled());
            turnWheelDown(w->Combo1);
            QCOMPARE(w->Combo1->currentText(), "1 minute");
            w->cmdStopStart->click();
            ran = true;
        });
        w->cmdStopStart_Click();
        QVERIFY(ran);
        QVERIFY(w->Running && !w->Busy && !w->CancelRequested);
        QCOMPARE(w->cmdStopStart->text(), "Stop");
        QVERIFY(w->cmdQuit->isEnabled());
        QCOMPARE(w->windowTitle(), waiting(1));
        QCOMPARE(w->List1->count(), 2); // the start line, the result
        QCOMPARE(lastLine(*w), "Result:  0 files");
        QVERIFY(QDir(f.path("dst")).isEmpty());
    }

    // Locking the controls pushes the focus out of the field it is in; that
    // is no move of the user's, so the interval is not checked and neither
    // the title nor the count goes back to waiting.
    void passStartsWithTheFocusInAField_data()
    {
        QTest::addColumn<bool>("interval"); // or the source folder
        QTest::newRow("interval") << true;
        QTest::newRow("source folder") << false;
    }

    void passStartsWithTheFocusInAField()
    {
        QFETCH(bool, interval);
        f.writeJob("Interval=1\n");
        writeFile(f.path("src/a"), "data");
        auto w = f.open({"/s"});
        activate(w.get());
        (interval ? static_cast<QWidget *>(w->Combo1->lineEdit()) : w->Text1)->setFocus();
        QStringList titles;
        connect(w.get(), &QWidget::windowTitleChanged, [&](const QString &t) { titles << t; });
        w->Timer1_Timer();
        QCOMPARE(titles, (QStringList{"Pallwick Lite - Busy!", "Pallwick Lite - Busy ( 1 file)",
                                      waiting(1)}));
        QCOMPARE(w->MinutesElapsed, qint16(0));
        QCOMPARE(fileBytes(f.path("dst/a")), QByteArray("data"));
    }

    // Options or About opened during a pass hold it: the file in progress
    // is finished, no other starts until the dialog closes, a setting saved
    // there applies from the next file, and Cancel works at once after it.
    // A pass that falls due while a dialog is open runs.
    void dialogDuringAPass_data()
    {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("then"); // what is done as it closes
        for (const auto &[name, dialog, then] :
             {std::tuple{"About", "About", ""},
              {"Options, free-space check turned on", "Options", "check"},
              {"About, then Cancel", "About", "cancel"},
              {"pass due while About is open", "About", "due"}})
            QTest::newRow(name) << QString(dialog) << QString(then);
    }

    void dialogDuringAPass()
    {
        QFETCH(QString, dialog);
        QFETCH(QString, then);
        MemoryFileSystem fs;
        const int count = 40;
        for (int i = 0; i < count; ++i)
            fs.files[f.path("src/f%1").arg(i, 2, 10, QChar('0'))] = "x";
        fs.delayMs = 5;
        fs.freeBytes[f.path("dst")] = 0; // refused wherever the check is made
        f.fs = &fs;
        auto w = f.openJob("Interval=1\nCheckDestination=1\nDoActionOnStart=" +
                           QByteArray(then == "due" ? "0" : "1") + "\n");
        int atOpen = -1, beforeClose = -1;
        const auto inDialog = [&] {
            if (then == "due") {
                QVERIFY(!w->passRunning());
                w->Timer1_Timer();
                QVERIFY(!w->passRunning());
            }
            atOpen = fs.placed;
            QTimer::singleShot(20 * EventRounds::IntervalMs, [&] {
                beforeClose = fs.placed;
                if (auto *options = w->findChild<dlgOptionen *>()) {
                    options->findChild<QCheckBox *>("Check4")->setChecked(false);
                    options->findChild<QPushButton *>("cmdSave")->click();
                } else {
                    w->findChild<QDialog *>()->reject();
                }
                if (then == "cancel")
                    w->cmdStopStart->click();
            });
        };
        bool opened = false;
        QTimer open; // a click while a file is copied, not between two
        connect(&open, &QTimer::timeout, [&] {
            if (opened || (then != "due" && fs.placed < 3))
                return;
            opened = true;
            QTimer::singleShot(0, inDialog);
            (dialog == "About" ? w->cmdInfo : w->cmdOpt)->click();
        });
        open.start(1);
        w->cmdStopStart_Click();
        if (then == "due")
            QTRY_VERIFY(opened && beforeClose >= 0);
        QVERIFY(opened);

        if (then == "due") {
            QCOMPARE(atOpen, count);
        } else {
            QVERIFY2(beforeClose - atOpen <= 1,
                     qPrintable(QString("%1 files placed while open").arg(beforeClose - atOpen)));
            if (then == "cancel") // the file that may have started as it closed
                QVERIFY(fs.placed <= beforeClose + 1);
            else
                QCOMPARE(fs.placed.load(), then == "check" ? beforeClose : count);
        }
        QCOMPARE(lastLine(*w).startsWith("Result"), then == "cancel");
    }

    void saveDecision_data()
    {
        QTest::addColumn<QByteArray>("options");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("answer"); // -1: must not be asked
        QTest::addColumn<QByteArray>("interval");
        const auto row = [](const char *name, const char *options, const char *typed, int answer,
                            const char *interval) {
            QTest::newRow(name) << QByteArray(options) << QString(typed) << answer
                                << QByteArray(interval);
        };
        row("asked, yes", "Question=1\n", "1 MINUTE", 1, "1");
        row("asked, no beats Save", "Question=1\nSave=1\n", "7", 0, "");
        row("silent save", "Save=1\n", "10 MiNuTeS", -1, "10");
        row("neither", "", "7", -1, "");
        row("unusable interval saves the one in force", "Save=1\n", "abc", -1, "5");
        row("only exactly 1", "Question=yes\nSave=01\n", "7", -1, "");
    }

    void saveDecision()
    {
        QFETCH(QByteArray, options);
        QFETCH(int, answer);
        QFETCH(QByteArray, interval);
        f.writeJob(options);
        const QByteArray before = f.settings();
        int asked = 0;
        bool timerStopped = false; // no pass may start while the question waits
        std::unique_ptr<frmMain> w;
        Prompt::setHook([&](const QString &title, const QString &text) {
            ++asked;
            timerStopped = !w->Timer1->isActive();
            return title == "Pallwick Lite - Save?" && text == "Save settings?" && answer == 1;
        });
        w = f.open();
        w->Option1[0]->setChecked(true);
        w->Check1->setChecked(true); // log shown, overwrite off: kept apart
        QFETCH(QString, typed);
        w->Combo1->setEditText(typed);
        w->close();
        QCOMPARE(asked, answer < 0 ? 0 : 1);
        QCOMPARE(timerStopped, answer >= 0);
        if (interval.isEmpty())
            QCOMPARE(f.settings(), before);
        else
            QVERIFY(f.settings().endsWith("\nInterval=" + interval +
                                          "\nAction=Move\nShowLog=1\nOverwrite=0\n"));
    }

    // What was stored comes back, a 330-character path whole; the layout
    // follows the log box, also for a stored ShowLog that is neither 0 nor 1.
    void loadSettingsAndLayout()
    {
        QString deep = f.path("src");
        for (char c = 'a'; c < 'g'; ++c)
            deep += '/' + QString(54, QLatin1Char(c));
        QVERIFY(QDir().mkpath(deep));
        writeFile(f.ini(), "[Options]\nLanguage=Test\nFrom=" + deep.toUtf8() +
                               "\nAction=Move\nShowLog=1\nOverwrite=1\nInterval=7\n");
        auto w = f.open();
        QCOMPARE(w->Text1->text(), deep);
        QVERIFY(w->Option1[0]->isChecked() && w->Check1->isChecked() && w->Check2->isChecked());
        QCOMPARE(w->Combo1->currentText(), "7 minutes");
        QCOMPARE(w->Combo1->count(), 18);
        QCOMPARE(w->cmdOpt->text(), "&Options");
        for (const bool shown : {true, false}) {
            QCOMPARE(w->List1->isHidden(), !shown);
            QVERIFY(w->rect().contains(w->cmdQuit->geometry()));
            QCOMPARE(w->minimumSize(), w->maximumSize());
            w->Check1->click();
        }
        QVERIFY(!w->List1->isHidden()); // and back
        w->Check1->click();
        // "move" is not "Move": the design's move choice stays selected.
        auto other = f.openJob("Action=move\nShowLog=yes\n");
        QVERIFY(other->Option1[0]->isChecked() && !other->Check1->isChecked());
        QVERIFY(other->List1->isHidden());
        QCOMPARE(other->size(), w->size());
        other->Check1->click();
        QVERIFY(other->height() > w->height());
    }

    void folderCheckColoursAndStops()
    {
        f.writeJob();
        QVERIFY(QDir(f.path("dst")).removeRecursively());
        auto w = f.open();
        QVERIFY(!w->cmdStopStart->isEnabled());
        QCOMPARE(textColor(w->Text2), QColor(Qt::red));
        QCOMPARE(textColor(w->Text1), QColor(Qt::black));
        w->Text1->setText(f.path("nowhere"));
        w->Text1->setText(f.path("src")); // stays red until both exist
        QCOMPARE(textColor(w->Text1), QColor(Qt::red));
        QVERIFY(QDir().mkpath(f.path("dst")));
        w->Text2->setText(f.path("dst/"));
        QCOMPARE(textColor(w->Text1), QColor(Qt::black));
        QCOMPARE(textColor(w->Text2), QColor(Qt::black));

        // A folder that disappears while waiting stops the schedule silently.
        w->cmdStopStart_Click();
        const int lines = w->List1->count();
        QVERIFY(QDir(f.path("dst")).removeRecursively());
        w->Text1->setText(f.path("src/"));
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
            QVERIFY(QDir(f.path("dst")).removeRecursively());
        auto w = f.openJob({}, arguments);
        QCOMPARE(w->Running, running);
        QCOMPARE(w->windowTitle(), running ? waiting(5) : "Pallwick Lite - Stopped");
        QCOMPARE(w->List1->count(), running ? 1 : 0);
    }

    // The picker opens on the folder shown and hands its choice to the field;
    // a cancelled pick keeps what was typed. Enter presses a focused button,
    // elsewhere the Start/Stop button.
    void folderButtons()
    {
        auto w = f.openJob();
        QVERIFY(QDir().mkpath(f.path("picked")));
        QString seen;
        int asked = 0;
        modFolder::setBrowseHook([&](const QString &title, const QString &start) {
            seen = title + '|' + start;
            return ++asked == 1 ? f.path("picked") : QString();
        });
        w->cmdTo_Click();
        QCOMPARE(seen, "Target:|" + f.path("dst"));
        QCOMPARE(w->Text2->toolTip(), f.path("picked"));
        w->Text1->setText(f.path("typed"));
        w->cmdFrom_Click();
        QCOMPARE(w->Text1->text(), f.path("typed"));
        w->Text1->setText(f.path("src"));
        w->cmdFrom->setFocus();
        QTest::keyClick(w->cmdFrom, Qt::Key_Return);
        QCOMPARE(asked, 3);
        QVERIFY(!w->Running);
        w->Text1->setFocus();
        QTest::keyClick(w->Text1, Qt::Key_Return);
        QVERIFY(w->Running);
    }

    // F12 on Quit paints the window in the desktop's button colour, the next
    // window starts so, and F11 brings white back.
    void colourKeysPersist()
    {
        auto w = f.openJob();
        QCOMPARE(fill(w->Check1), QColor(Qt::white));
        w->cmdQuit_KeyDown(Qt::Key_F12);
        const QColor face = QApplication::palette().color(QPalette::Button);
        for (QWidget *part : {(QWidget *)w->Frame1, (QWidget *)w->Option1[1], w->Picture1})
            QCOMPARE(fill(part), face);
        auto next = f.open();
        QCOMPARE(fill(next->Check2), face);
        next->cmdQuit_KeyDown(Qt::Key_F11);
        QCOMPARE(fill(next->Picture1), QColor(Qt::white));
    }
};

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
