// Signals close the window as the close box does: a pass is cancelled after
// its file, an open dialog goes, then the save decision runs.
#include "support/TestFiles.h"

#include "app/Prompt.h"
#include "app/frmMain.h"
#include "platform/Clock.h"
#include "platform/UserStore.h"
#include "settings/SavedJob.h"
#include "transfer/ActivityLog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>

class tst_Shutdown : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    FixedClock m_clock{QDateTime(QDate(2026, 12, 6), QTime(10, 20, 30))};

    QString path(const QString &name) const { return m_dir->filePath(name); }
    QByteArray settings() const { return fileBytes(path("Pallwick.ini")); }

    void writeJob(const QByteArray &extra)
    {
        writeFile(path("Pallwick.ini"),
                  "[Options]\nLanguage=English\nAction=Copy\nFrom=" + path("src").toUtf8() +
                      "\nTo=" + path("dst").toUtf8() + "\n" + extra);
    }

    std::unique_ptr<frmMain> open()
    {
        frmMain::Environment env;
        env.programFolder = m_dir->path();
        env.clock = &m_clock;
        env.closeOnRequests = true;
        auto w = std::make_unique<frmMain>(QStringList(), env);
        w->show();
        return w;
    }

    // Runs action once the pass works on its files.
    static void whenBusy(frmMain &w, std::function<void()> action)
    {
        QTimer::singleShot(0, &w, [&w, action] {
            if (w.Busy)
                action();
            else
                whenBusy(w, action);
        });
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        for (const char *folder : {"lang", "src", "dst", "store"})
            QVERIFY(QDir(m_dir->path()).mkpath(folder));
        QVERIFY(QFile::copy(PALLWICK_SOURCE_DIR "/lang/English.dat", path("lang/English.dat")));
        UserStore::setLocation(path("store"));
    }

    void cleanup()
    {
        Prompt::setHook({});
        m_dir.reset();
    }

    // SIGTERM in the middle of a pass over many files.
    void terminateDuringAPass()
    {
        writeJob("Save=1\n");
        const int count = 40;
        const qsizetype size = 2 << 20;
        for (int i = 0; i < count; ++i)
            writeFile(path("src/f%1").arg(i), QByteArray(size, 'x'));
        auto w = open();
        whenBusy(*w, [] { ::raise(SIGTERM); });
        w->DoAction();
        QTRY_VERIFY(!w->isVisible());

        const QStringList copied = QDir(path("dst")).entryList(QDir::Files | QDir::Hidden);
        QVERIFY2(copied.size() < count, "the pass was not cancelled");
        for (const QString &name : copied)
            QCOMPARE(QFileInfo(path("dst/" + name)).size(), size); // no temporary file either
        const ActivityLog &log = w->activityLog();
        QCOMPARE(log.line(log.count() - 1),
                 QString("Cancelled: Copied %1 files").arg(copied.size()));
        QVERIFY2(settings().contains("\nShowLog=0") && settings().contains("\nInterval=5"),
                 settings().constData());
    }

    // SIGHUP while the Options dialog is open: the dialog closes unsaved,
    // and the exit question is asked as at any close.
    void hangUpWithADialogOpen()
    {
        writeJob("Question=1\n");
        QStringList asked;
        Prompt::setHook([&asked](const QString &, const QString &text) {
            asked << text;
            return true;
        });
        auto w = open();
        QTimer::singleShot(0, [] { ::raise(SIGHUP); });
        w->cmdOpt_Click(); // returns when the dialog is gone
        QTRY_VERIFY(!w->isVisible());
        QCOMPARE(asked, QStringList{"Save settings?"});
        QVERIFY(settings().contains("\nShowLog=0"));
        QVERIFY2(!settings().contains("CheckDestination"), "the dialog saved");
    }

    // A second signal while the exit question waits leaves the question to
    // the user: Yes still saves.
    void signalDuringTheExitQuestion()
    {
        writeJob("Question=1\n");
        auto w = open();
        bool answered = false;
        QTimer::singleShot(50, [&answered] {
            ::raise(SIGINT);
            QTimer::singleShot(50, [&answered] {
                auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                if (box && box->isVisible()) {
                    box->button(QMessageBox::Yes)->click();
                    answered = true;
                }
            });
        });
        ::raise(SIGINT);
        QTRY_VERIFY(!w->isVisible());
        QVERIFY(answered);
        QVERIFY(settings().contains("\nShowLog=0"));
    }

    // pallwick --once takes the job by the rules of the window's load.
    void savedJobReadsAsTheWindowLoads_data()
    {
        QTest::addColumn<QByteArray>("values");
        QTest::newRow("defaults") << QByteArray();
        QTest::newRow("move, overwrite") << QByteArray("Action=Move\nOverwrite=1\n");
        QTest::newRow("copy, keep") << QByteArray("Action=Copy\nOverwrite=0\n");
        QTest::newRow("unknown texts") << QByteArray("Action=move\nOverwrite=yes\n");
        QTest::newRow("empty texts") << QByteArray("Action=\nOverwrite=\n");
    }

    void savedJobReadsAsTheWindowLoads()
    {
        QFETCH(QByteArray, values);
        writeFile(path("Pallwick.ini"),
                  "[Options]\nFrom=/some where\nTo=" + path("dst").toUtf8() + "\n" + values);
        auto w = open();
        const SavedJob job = SavedJob::read();
        QCOMPARE(job.source, w->Text1->text());
        QCOMPARE(job.destination, w->Text2->text());
        QCOMPARE(job.move, w->Option1[0]->isChecked());
        QCOMPARE(job.overwrite, w->Check2->isChecked());
    }
};

QTEST_MAIN(tst_Shutdown)
#include "tst_shutdown.moc"
