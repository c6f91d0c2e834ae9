#pragma once

#include "app/DesignLook.h"
#include "app/MainWindowApi.h"
#include "settings/Messages.h"
#include "transfer/ActivityLog.h"
#include "transfer/EventRounds.h"
#include "transfer/PassHost.h"

#include <QStringList>
#include <QWidget>

#include <memory>
#include <optional>

class ActivityLogFile;
class ArrivalTrigger;
class Clock;
class FileSystem;
class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSessionManager;
class QTimer;
class TrayIcon;

// The program's one permanent window: the job's controls, the minute
// scheduler, the activity log, start-up and the save decision at exit.
class frmMain : public QWidget, public PassHost, public MainWindowApi
{
    Q_OBJECT

public:
    // What tests and tools substitute. Unset members take the real thing.
    struct Environment
    {
        QString programFolder;        // settings file and lang/; default: beside the executable
        FileSystem *fs = nullptr;     // default: the POSIX service
        const Clock *clock = nullptr; // default: the system clock
        // SIGTERM, SIGINT, SIGHUP and a logout close the window (the program
        // sets it; a test window would otherwise take the test's signals).
        bool closeOnRequests = false;
    };

    // arguments: the command line after the program name ("/s" starts the job).
    explicit frmMain(const QStringList &arguments, QWidget *parent = nullptr);
    frmMain(const QStringList &arguments, const Environment &environment,
            QWidget *parent = nullptr);
    ~frmMain() override;

    // Window state
    bool Running = false;         // the schedule is started
    bool Busy = false;            // a pass works through its file list
    bool CancelRequested = false; // the user asked to end the running pass
    bool Loading = false;         // start-up has not reached its folder check
    qint16 MinutesElapsed = 0;    // minutes counted since the count last started
    qint32 IntervalMinutes = 0;   // the interval the count is compared with
    MessageTable Msg;

    // MainWindowApi
    void LoadLanguage() override;
    void SetMessages(bool languageChanged) override;

    // The transfer pass and the locking of the job controls around it.
    enum class PassOutcome
    {
        Ran,
        FolderBusy, // another pass held the source folder: nothing was done
        NotStarted  // a pass of this window was running already
    };
    PassOutcome DoAction();
    void EnableControls(bool enabled, const QString &noun, const QString &count);

    void FillIntervalList();
    void LoadSettings();
    void SaveSettings();
    void CheckFolders();
    void UpdatePathTips();
    void ApplyBackColor();
    void ShowLogArea();
    void HideLogArea();
    // Shown, restored from minimised, raised, and activation asked for (a
    // Wayland desktop may refuse it): for a second start of the program.
    void bringToFront();

    // Event handlers, public so tests drive them as the toolkit would.
    void cmdStopStart_Click();
    void Timer1_Timer();
    void Combo1_Validate();
    void Check1_Click();
    void cmdFrom_Click();
    void cmdTo_Click();
    void cmdOpt_Click();
    // The Extra options dialog (context menu, tray menu, Ctrl+,).
    void ExtraOptions_Click();
    void cmdInfo_Click();
    void cmdQuit_Click();
    void cmdQuit_KeyDown(int key);
    void List1_MouseMove(const QPoint &position, Qt::MouseButtons buttons);

    // Title texts of the scheduler.
    QString titleStopped() const;
    QString titleWaiting(int minutes) const;
    QString titleDue() const;
    int remainingMinutes() const;

    // The interval text as a number of minutes: unit words removed, then a
    // whole number from 1 to 32767, or nothing.
    std::optional<int> intervalFromText(const QString &text) const;
    QString withoutUnitWords(const QString &text) const;
    // "1 <minute>" / "N <minutes>"
    QString intervalText(int minutes) const;

    ActivityLog &activityLog() { return *m_log; }
    // A close the user did not click (a signal, a logout): a running pass is
    // cancelled after its file, an open dialog is closed, then the window
    // closes with the save decision as for any close.
    void closeOnRequest();
    // The log's copy on disk; null unless LogFile=1.
    ActivityLogFile *activityLogFile() const { return m_logFile.get(); }
    bool passRunning() const { return m_passRunning; }
    // Watches the source folder while the schedule runs and RunOnArrival=1,
    // else watches nothing; a watch lost with its folder is set up again.
    // Done at Start, Stop, every tick and when the options are saved.
    void followArrivals();
    ArrivalTrigger *arrivalTrigger() const { return m_arrival; }

    // PassHost
    QString sourceFolder() const override;
    QString destinationFolder() const override;
    bool moveSelected() const override;
    bool overwriteTicked() const override;
    const MessageTable &messages() const override { return Msg; }
    ActivityLog &log() override { return *m_log; }
    void enableControls(bool enabled, const QString &noun, const QString &count) override;
    void processEvents() override;
    bool cancelRequested() const override { return CancelRequested; }
    void setCancelRequested(bool requested) override { CancelRequested = requested; }
    void setBusy(bool busy) override { Busy = busy; }
    void setBusyPointer(bool busy) override;

signals:
    // After every pass, for observers such as the tray icon.
    void passEnded(int filesAffected, bool listingFailed, int filesTransferred);

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createControls();
    void Form_Load(const QStringList &arguments);
    void Form_Unload();
    void startSchedule();
    void retryNextMinute();
    static QString folderBusyText();
    // A line of the language file, or its English text where the file lacks it.
    static QString textOr(const QString &key, const char *english);
    void stopSchedule();
    void appendStampedLine(const QString &text);
    void browseInto(QLineEdit *box, MsgId caption);
    void setLogLayout(bool shown);
    void followIntervalEntry(int minutes);
    void stepInterval(bool up);
    void setTextColor(QLineEdit *box, const QColor &color);
    void startLogFile();
    void stopLogFile();
    void logFileFailed(const QString &reason);
    void commitData(QSessionManager &manager);
    void runTimedPass();
    void filesArrived();

    std::unique_ptr<FileSystem> m_ownFs;
    FileSystem *m_fs = nullptr;
    const Clock *m_clock = nullptr;
    bool m_passRunning = false;
    bool m_folderBusyNoticed = false; // its line is written; cleared by a pass that runs
    bool m_closeAfterPass = false;
    bool m_unloaded = false;
    bool m_lockingControls = false; // EnableControls is at work
    int m_lastValidInterval = 5;
    EventRounds m_eventRounds;
    std::unique_ptr<ActivityLogFile> m_logFile;
    QString m_logFileNotice;    // waits for the end of a pass
    TrayIcon *m_tray = nullptr; // only where the desktop has a system tray
    ArrivalTrigger *m_arrival = nullptr;
    bool m_arrivalPass = false;      // the running pass was started by arrivals
    bool m_arrivalAfterPass = false; // arrivals became due while a pass ran
    bool m_tickAfterPass = false;    // the count fell due during an arrival pass

public:
    QAction *actExtraOptions = nullptr; // in the context menu, with Ctrl+,
    // Controls, named as in the design.
    QFrame *Frame1 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QLineEdit *Text1 = nullptr;
    QLineEdit *Text2 = nullptr;
    QPushButton *cmdFrom = nullptr;
    QPushButton *cmdTo = nullptr;
    QComboBox *Combo1 = nullptr;
    QWidget *Picture1 = nullptr;
    QRadioButton *Option1[2] = {nullptr, nullptr};
    QCheckBox *Check1 = nullptr;
    QCheckBox *Check2 = nullptr;
    QListWidget *List1 = nullptr;
    QPushButton *cmdInfo = nullptr;
    QPushButton *cmdOpt = nullptr;
    QPushButton *cmdStopStart = nullptr;
    QPushButton *cmdQuit = nullptr;
    QTimer *Timer1 = nullptr;

private:
    std::unique_ptr<ListWidgetLog> m_log;
};
