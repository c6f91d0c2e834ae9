// The main window at work: scheduler, folder check, settings at start-up and
// exit, layout. Ticks are driven by calling the handler; nothing waits.
#include "app/Prompt.h"
#include "app/frmMain.h"
#include "platform/Clock.h"
#include "platform/UserStore.h"
#include "settings/modFolder.h"
#include "settings/modGlobal.h"
#include "support/TestFiles.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

// Distinct, short texts so every line and title can be checked exactly.
const char *const LanguageFile = "[frmMain]\n"
                                 "t0=Source\nt1=Target\nt2=Every\nt3=Log\nt4=minute\nt5=minutes\n"
                                 "t6=Move\nt7=Copy\nt8=Overwrite\nt9=Show log\nt11=Stop\n"
                                 "t12=Start\nt13=Quit\nt14=Waiting\nt15=Busy\nt16=Stopped\n"
                                 "t17=next in\nt18=Info\nt19=no files\nt20=no space\n"
                                 "t21=not moved\nt22=not copied\nt23=overwritten\nt24=exists\n"
                                 "t25=copied\nt26=moved\nt27=copying\nt28=moving\nt29=file\n"
                                 "t30=files\nt31=Result\nt32=Cancel\nt33=started\nt34=stopped\n"
                                 "t35=Error\nt36=Save?\nt37=Save settings\nt38=&Options\n"
                                 "t44=Language now\n";

} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir *m_dir = nullptr;
    FixedClock m_clock{QDateTime(QDate(2026, 12, 6), QTime(10, 20, 30))};

    QString path(const QString &name) const { return m_dir->filePath(name); }
    QString ini() const { return path(QStringLiteral("Pallwick.ini")); }
    QString source() const { return path(QStringLiteral("src")); }
    QString target() const { return path(QStringLiteral("dst")); }

    // Settings with both folders present, copy, English-like test texts.
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

    QString stamp() const { return logStamp(m_clock); }

private slots:
    void init()
    {
        m_dir = new QTemporaryDir;
        QVERIFY(m_dir->isValid());
        QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("lang")));
        QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("src")));
        QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("dst")));
        QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("store")));
        writeFile(path(QStringLiteral("lang/Test.dat")), LanguageFile);
        UserStore::setLocation(path(QStringLiteral("store")));
    }

    void cleanup()
    {
        Prompt::setHook({});
        modFolder::setBrowseHook({});
        delete m_dir;
        m_dir = nullptr;
    }

    // Steps: S = Start/Stop click, T = tick, "V:<text>" = type into the
    // interval field and leave it. After each step the title must match.
    void scheduler_data()
    {
        QTest::addColumn<QByteArray>("interval");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("titles");
        const QString w = QStringLiteral("Pallwick Lite - Waiting (next in %1)");
        const QString stopped = QStringLiteral("Pallwick Lite - Stopped");
        auto m = [&](int n) {
            return w.arg(QString::number(n) + (n == 1 ? " minute" : " minutes"));
        };
        QTest::newRow("interval 5 counts down and fires on the fifth tick")
            << QByteArray("5") << QStringList{"S", "T", "T", "T", "T", "T", "T"}
            << QStringList{m(5), m(4), m(3), m(2), m(1), m(5), m(4)};
        QTest::newRow("interval 1 fires on every tick")
            << QByteArray("1") << QStringList{"S", "T", "T"} << QStringList{m(1), m(1), m(1)};
        QTest::newRow("stop then start restarts the count")
            << QByteArray("5") << QStringList{"S", "T", "T", "S", "T", "S", "T"}
            << QStringList{m(5), m(4), m(3), stopped, stopped, m(5), m(4)};
        QTest::newRow("new interval while waiting restarts at once")
            << QByteArray("5") << QStringList{"S", "T", "V:10 MINUTES", "T"}
            << QStringList{m(5), m(4), m(10), m(9)};
        QTest::newRow("new interval while stopped shows nothing until Start")
            << QByteArray("5") << QStringList{"V:7", "T", "S", "T"}
            << QStringList{stopped, stopped, m(7), m(6)};
        QTest::newRow("unusable interval keeps the last one")
            << QByteArray("5")
            << QStringList{"S", "T", "V:abc", "T", "V:0", "V:40000", "V:-3", "V:"}
            << QStringList{m(5), m(4), m(5), m(4), m(5), m(5), m(5), m(5)};
        QTest::newRow("stored interval that is no number falls back to 5")
            << QByteArray("x7") << QStringList{"S"} << QStringList{m(5)};
        QTest::newRow("stored 05 reads as 5")
            << QByteArray("05") << QStringList{"S"} << QStringList{m(5)};
    }

    void scheduler()
    {
        QFETCH(QByteArray, interval);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, titles);
        writeJob("Interval=" + interval + "\n");
        auto w = open();
        QCOMPARE(w->windowTitle(), QStringLiteral("Pallwick Lite - Stopped"));
        int passes = 0;
        for (int i = 0; i < steps.size(); ++i) {
            const QString &step = steps[i];
            const int linesBefore = w->List1->count();
            if (step == QLatin1String("S")) {
                w->cmdStopStart_Click();
            } else if (step == QLatin1String("T")) {
                const bool due = w->Running && w->MinutesElapsed + 1 == w->IntervalMinutes;
                w->Timer1_Timer();
                if (due) {
                    ++passes;
                    // The empty source folder gives exactly one no-files line.
                    QCOMPARE(w->List1->count(), linesBefore + 1);
                    QCOMPARE(w->List1->item(w->List1->count() - 1)->text(),
                             stamp() + " - Info: no files ");
                    QVERIFY(w->Timer1->isActive());
                } else {
                    QCOMPARE(w->List1->count(), linesBefore);
                }
            } else {
                w->Combo1->setEditText(step.mid(2));
                w->Combo1_Validate();
            }
            QCOMPARE(w->windowTitle(), titles[i]);
        }
        // Every Start and Stop logged a line and selected it.
        const int clicks = static_cast<int>(steps.count(QStringLiteral("S")));
        QCOMPARE(w->List1->count(), clicks + passes);
        if (clicks > 0)
            QCOMPARE(w->List1->currentRow(), w->List1->count() - 1);
    }

    void startAndStopLines()
    {
        writeJob();
        auto w = open();
        w->cmdStopStart_Click();
        QCOMPARE(w->cmdStopStart->text(), QStringLiteral("Stop"));
        w->cmdStopStart_Click();
        QCOMPARE(w->cmdStopStart->text(), QStringLiteral("Start"));
        QCOMPARE(w->List1->count(), 2);
        QCOMPARE(w->List1->item(0)->text(), stamp() + " - started");
        QCOMPARE(w->List1->item(1)->text(), stamp() + " - stopped");
    }

    void cancelDuringTimedPassKeepsScheduleRunning()
    {
        writeJob("Interval=1\n");
        for (int i = 0; i < 3; ++i)
            writeFile(source() + QStringLiteral("/f%1").arg(i), "data");
        auto w = open();
        w->cmdStopStart_Click();
        // The pass lets events run before its first file: the click lands there.
        QTimer::singleShot(0, w.get(), [&] {
            QCOMPARE(w->cmdStopStart->text(), QStringLiteral("Cancel"));
            QVERIFY(!w->cmdQuit->isEnabled());
            w->cmdStopStart->click();
        });
        w->Timer1_Timer();
        QVERIFY(w->Running);
        QVERIFY(!w->Busy);
        QVERIFY(!w->CancelRequested);
        QCOMPARE(w->cmdStopStart->text(), QStringLiteral("Stop"));
        QVERIFY(w->cmdQuit->isEnabled());
        QCOMPARE(w->windowTitle(), QStringLiteral("Pallwick Lite - Waiting (next in 1 minute)"));
        QCOMPARE(w->List1->item(w->List1->count() - 1)->text(), QStringLiteral("Result:  0 files"));
        QCOMPARE(QDir(target()).entryList(QDir::Files).size(), 0);
    }

    void emptyCaptionsDoNotTurnStartIntoCancel()
    {
        // A language file without the button texts: Start must still start.
        writeFile(path(QStringLiteral("lang/Test.dat")), "[frmMain]\nt12=\n");
        writeJob();
        auto w = open();
        QCOMPARE(w->windowTitle(), QStringLiteral("Pallwick Lite - "));
        w->cmdStopStart_Click();
        QVERIFY(w->Running);
    }

    void languageChangeInsidePassKeepsCancelButton()
    {
        writeJob("DoActionOnStart=1\n");
        writeFile(source() + QStringLiteral("/a"), "a");
        auto w = open();
        bool checked = false;
        QTimer::singleShot(0, w.get(), [&] {
            w->LoadLanguage();
            w->SetMessages(false);
            QCOMPARE(w->cmdStopStart->text(), QStringLiteral("Cancel"));
            checked = true;
        });
        w->cmdStopStart_Click();
        QVERIFY(checked);
        QCOMPARE(w->cmdStopStart->text(), QStringLiteral("Stop"));
        QVERIFY(QFile::exists(target() + QStringLiteral("/a")));
    }

    void dueTickDuringStartPassStartsNoSecondPass()
    {
        writeJob("Interval=1\nDoActionOnStart=1\n");
        writeFile(source() + QStringLiteral("/a"), "a");
        auto w = open();
        int ticksInside = 0;
        QTimer::singleShot(0, w.get(), [&] {
            const int lines = w->List1->count();
            w->Timer1_Timer();
            ++ticksInside;
            QCOMPARE(w->List1->count(), lines);
            QCOMPARE(w->MinutesElapsed, qint16(0));
        });
        w->cmdStopStart_Click();
        QCOMPARE(ticksInside, 1);
        // start line, then the file's done line and nothing more
        QCOMPARE(w->List1->count(), 2);
        QCOMPARE(w->List1->item(1)->text(), stamp() + " - copied: a");
    }

    void closingDuringPassFinishesFileThenSaves()
    {
        writeJob("DoActionOnStart=1\nSave=1\n");
        for (int i = 0; i < 4; ++i)
            writeFile(source() + QStringLiteral("/f%1").arg(i), "data");
        auto w = open();
        w->show();
        int closeAttempts = 0;
        QTimer::singleShot(0, w.get(), [&] {
            ++closeAttempts;
            QVERIFY(!w->close()); // refused while the pass runs
        });
        w->cmdStopStart_Click();
        QCOMPARE(closeAttempts, 1);
        // The pass stopped between files; nothing half-done, nothing saved yet.
        QCOMPARE(w->List1->item(w->List1->count() - 1)->text(), QStringLiteral("Result:  0 files"));
        QVERIFY(!fileBytes(ini()).contains("Action="));
        QVERIFY(w->isVisible());
        // Then the window closes by itself and the save decision runs.
        QTRY_VERIFY(!w->isVisible());
        QVERIFY(fileBytes(ini()).contains("\nAction=Copy\n"));
    }

    void saveSettingsStripsUnitWords_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("singular") << "1 minute" << QByteArray("1");
        QTest::newRow("singular in capitals") << "1 MINUTE" << QByteArray("1");
        QTest::newRow("plural mixed case") << "10 MiNuTeS" << QByteArray("10");
        QTest::newRow("bare number") << "7" << QByteArray("7");
    }

    void saveSettingsStripsUnitWords()
    {
        QFETCH(QString, typed);
        QFETCH(QByteArray, stored);
        writeJob("Save=1\n");
        auto w = open();
        w->Combo1->setEditText(typed);
        w->close();
        const QByteArray content = fileBytes(ini());
        QVERIFY2(content.contains("\nInterval=" + stored + "\n"), content.constData());
        QVERIFY(content.contains("\nAction=Copy\n"));
        QVERIFY(content.contains("\nShowLog=0\n"));
        QVERIFY(content.contains("\nOverwrite=0\n"));
    }

    void saveDecision_data()
    {
        QTest::addColumn<QByteArray>("options");
        QTest::addColumn<int>("answer"); // -1: the question must not be asked
        QTest::addColumn<bool>("saved");
        QTest::newRow("asked, yes") << QByteArray("Question=1\nSave=0\n") << 1 << true;
        QTest::newRow("asked, no beats Save") << QByteArray("Question=1\nSave=1\n") << 0 << false;
        QTest::newRow("silent save") << QByteArray("Question=0\nSave=1\n") << -1 << true;
        QTest::newRow("neither") << QByteArray() << -1 << false;
        QTest::newRow("only exactly 1 counts")
            << QByteArray("Question=yes\nSave=01\n") << -1 << false;
    }

    void saveDecision()
    {
        QFETCH(QByteArray, options);
        QFETCH(int, answer);
        QFETCH(bool, saved);
        writeJob(options);
        const QByteArray before = fileBytes(ini());
        int asked = 0;
        Prompt::setHook([&](const QString &title, const QString &text) {
            ++asked;
            if (title != QLatin1String("Pallwick Lite - Save?") ||
                text != QLatin1String("Save settings?"))
                return false;
            return answer == 1;
        });
        auto w = open();
        w->Option1[0]->setChecked(true);
        w->close();
        QCOMPARE(asked, answer < 0 ? 0 : 1);
        QCOMPARE(fileBytes(ini()) != before, saved);
        QCOMPARE(fileBytes(ini()).contains("Action=Move"), saved);
    }

    void loadSettingsRestoresJob()
    {
        writeJob("Action=Move\nShowLog=1\nOverwrite=1\nInterval=7\n");
        auto w = open();
        QCOMPARE(w->Text1->text(), source());
        QCOMPARE(w->Text2->text(), target());
        QVERIFY(w->Option1[0]->isChecked());
        QVERIFY(w->Check1->isChecked());
        QVERIFY(w->Check2->isChecked());
        QCOMPARE(w->Combo1->currentText(), QStringLiteral("7 minutes"));
        QCOMPARE(w->Combo1->count(), 18);
        QCOMPARE(w->Combo1->itemText(0), QStringLiteral("1 minute"));
        QCOMPARE(w->Combo1->itemText(17), QStringLiteral("560 minutes"));
        QVERIFY(!w->List1->isHidden());
    }

    void loadSettingsIgnoresUnknownValues()
    {
        // "move" is not "Move": the design's move choice stays selected.
        writeJob("Action=move\nShowLog=yes\n");
        auto w = open();
        QVERIFY(w->Option1[0]->isChecked());
        QVERIFY(!w->Check1->isChecked());
    }

    void longPathsSurviveARoundTrip()
    {
        QString deep = source();
        for (int i = 0; i < 6; ++i) // longer than the 255 characters of a short read
            deep += QLatin1Char('/') + QString(60, QLatin1Char('a' + i));
        QVERIFY(QDir().mkpath(deep));
        writeFile(ini(), "[Options]\nLanguage=Test\nSave=1\nFrom=" + deep.toUtf8() + "\n");
        auto w = open();
        QCOMPARE(w->Text1->text(), deep);
        w->close();
        auto again = open();
        QCOMPARE(again->Text1->text(), deep);
    }

    void folderCheckColoursAndStops()
    {
        writeFile(ini(), "[Options]\nLanguage=Test\nFrom=" + source().toUtf8() +
                             "\nTo=" + path("missing").toUtf8() + "\n");
        auto w = open();
        const auto color = [](QLineEdit *box) { return box->palette().color(QPalette::Text); };
        QVERIFY(!w->cmdStopStart->isEnabled());
        QCOMPARE(color(w->Text2), QColor(Qt::red));
        QCOMPARE(color(w->Text1), QColor(Qt::black));

        w->Text1->setText(path("nowhere"));
        QCOMPARE(color(w->Text1), QColor(Qt::red));
        // A box whose folder exists keeps its colour until both exist.
        w->Text1->setText(source());
        QCOMPARE(color(w->Text1), QColor(Qt::red));
        w->Text2->setText(target());
        QCOMPARE(color(w->Text1), QColor(Qt::black));
        QCOMPARE(color(w->Text2), QColor(Qt::black));
        QVERIFY(w->cmdStopStart->isEnabled());

        // A folder that disappears while waiting stops the schedule silently.
        w->cmdStopStart_Click();
        QVERIFY(w->Running);
        const int lines = w->List1->count();
        QVERIFY(QDir(target()).removeRecursively());
        w->Text1->setText(source() + QLatin1Char('/'));
        QVERIFY(!w->Running);
        QVERIFY(!w->cmdStopStart->isEnabled());
        QCOMPARE(w->cmdStopStart->text(), QStringLiteral("Start"));
        QCOMPARE(w->windowTitle(), QStringLiteral("Pallwick Lite - Stopped"));
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
        QTest::newRow("/sx") << QStringList{"/sx"} << true << false;
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
        QCOMPARE(w->cmdStopStart->text(),
                 running ? QStringLiteral("Stop") : QStringLiteral("Start"));
        QCOMPARE(w->windowTitle(),
                 running ? QStringLiteral("Pallwick Lite - Waiting (next in 5 minutes)")
                         : QStringLiteral("Pallwick Lite - Stopped"));
        QCOMPARE(w->List1->count(), running ? 1 : 0);
        if (!destinationPresent)
            QCOMPARE(w->Text2->palette().color(QPalette::Text), QColor(Qt::red));
    }

    void layoutsFollowTheDesign()
    {
        writeJob();
        auto w = open();
        const auto rect = [](int l, int t, int wd, int h) {
            return QRect(twipsToPixels(l), twipsToPixels(t), twipsToPixels(wd), twipsToPixels(h));
        };
        QCOMPARE(w->Text1->geometry(), rect(135, 480, 5355, 285));
        QCOMPARE(w->Text1->parentWidget(), w->Frame1);
        QCOMPARE(w->cmdFrom->geometry(), rect(5610, 435, 315, 315));
        QCOMPARE(w->cmdFrom->parentWidget(), w.get());
        QCOMPARE(w->Option1[1]->geometry(), rect(0, 270, 1995, 255));
        QCOMPARE(w->List1->geometry(), rect(135, 2250, 5730, 840));

        w->Check1->click();
        QVERIFY(!w->List1->isHidden());
        QCOMPARE(w->size(), QSize(twipsToPixels(6090), twipsToPixels(3735)));
        QCOMPARE(w->cmdQuit->geometry(), rect(4545, 3210, 1365, 345));
        QCOMPARE(w->Frame1->height(), w->height() - twipsToPixels(30));
        QVERIFY(w->cmdQuit->geometry().bottom() < w->height());

        w->Check1->click();
        QVERIFY(w->List1->isHidden() && w->Label4->isHidden());
        QCOMPARE(w->size(), QSize(twipsToPixels(6090), twipsToPixels(2715)));
        QCOMPARE(w->cmdInfo->geometry(), rect(180, 2190, 1365, 345));
        QCOMPARE(w->minimumSize(), w->maximumSize());
    }

    void folderButtonsPickAndUpdateTips()
    {
        writeJob();
        auto w = open();
        QString seenTitle, seenStart;
        modFolder::setBrowseHook([&](const QString &title, const QString &start) {
            seenTitle = title;
            seenStart = start;
            return path("picked");
        });
        QVERIFY(QDir(m_dir->path()).mkpath("picked"));
        w->cmdTo_Click();
        QCOMPARE(seenTitle, QStringLiteral("Target:"));
        QCOMPARE(seenStart, target());
        QCOMPARE(w->Text2->text(), path("picked"));
        QCOMPARE(w->Text2->toolTip(), path("picked"));
        // Typing does not update the tip; cancelling changes nothing.
        w->Text1->setText(path("src2"));
        QCOMPARE(w->Text1->toolTip(), source());
        modFolder::setBrowseHook([](const QString &, const QString &) { return QString(); });
        w->cmdFrom_Click();
        QCOMPARE(w->Text1->text(), path("src2"));
    }

    void colourKeysPersist()
    {
        writeJob();
        const auto fill = [](QWidget *w) { return w->palette().color(w->backgroundRole()); };
        auto w = open();
        QCOMPARE(fill(w->Frame1), QColor(Qt::white));
        QCOMPARE(fill(w->Check1), QColor(Qt::white));
        w->cmdQuit_KeyDown(Qt::Key_F12);
        const QColor face = QApplication::palette().color(QPalette::Button);
        QVERIFY(face != QColor(Qt::white));
        for (QWidget *part :
             {static_cast<QWidget *>(w->Frame1), static_cast<QWidget *>(w->Check1),
              static_cast<QWidget *>(w->Option1[1]), w->Picture1, static_cast<QWidget *>(w.get())})
            QCOMPARE(fill(part), face);
        auto next = open();
        QCOMPARE(fill(next->Check2), face);
        next->cmdQuit_KeyDown(Qt::Key_A); // other keys save nothing
        QCOMPARE(fill(next->Check2), face);
        next->cmdQuit_KeyDown(Qt::Key_F11);
        QCOMPARE(fill(next->Picture1), QColor(Qt::white));
        // A stored text that is no colour leaves the colours alone.
        UserStore::save(UserStore::appName(), "Options", "BGColor", "&Hxyz");
        auto third = open();
        QCOMPARE(fill(third->Frame1), QColor(Qt::white));
    }

    void logLineTooltip()
    {
        writeJob();
        auto w = open();
        w->Check1->click();
        w->show();
        w->cmdStopStart_Click();
        const QRect first = w->List1->visualItemRect(w->List1->item(0));
        w->List1_MouseMove(first.center(), Qt::NoButton);
        QCOMPARE(w->List1->toolTip(), w->List1->item(0)->text());
        w->List1_MouseMove(QPoint(first.center().x(), w->List1->viewport()->height() - 2),
                           Qt::NoButton);
        QCOMPARE(w->List1->toolTip(), QString());
    }
};

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
