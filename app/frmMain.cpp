#include "app/frmMain.h"

#include "app/AccessibleNames.h"
#include "app/ArrivalTrigger.h"
#include "app/FolderDrop.h"
#include "app/PassNotifier.h"
#include "app/Prompt.h"
#include "app/TrayIcon.h"
#include "dialogs/AppIcon.h"
#include "dialogs/dlgAbout.h"
#include "dialogs/dlgExtraOptions.h"
#include "dialogs/dlgOptionen.h"
#include "platform/Clock.h"
#include "platform/PosixFileSystem.h"
#include "platform/ShutdownSignals.h"
#include "platform/TrustedFile.h"
#include "platform/UserStore.h"
#include "settings/ColorValue.h"
#include "settings/modFolder.h"
#include "settings/modGlobal.h"
#include "settings/modIniHandler.h"
#include "transfer/ActivityLogFile.h"
#include "transfer/TransferPass.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QSessionManager>
#include <QStyle>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>

namespace {

const QString Options = QStringLiteral("Options");

template <typename W>
W *place(QWidget *parent, const char *name, int left, int top, int width, int height)
{
    auto *w = new W(parent);
    w->setObjectName(QLatin1String(name));
    w->setGeometry(designRect(left, top, width, height));
    return w;
}

// Client area of the two layouts (the design's window heights less the frame).
constexpr int ClientWidth = 6090;
constexpr int ClientHeightWithLog = 3705 + 30;
constexpr int ClientHeightWithoutLog = 2685 + 30;

// The entries of the interval list, in minutes.
constexpr int IntervalChoices[] = {1,  2,   3,   5,   10,  15,  20,  30,  45,
                                   60, 120, 180, 240, 300, 360, 420, 480, 560};

// The texts drawn straight on the window's own background.
QList<QWidget *> captionsOn(const frmMain &w)
{
    return {w.Label1,     w.Label2,     w.Label3, w.Label4, w.Picture1,
            w.Option1[0], w.Option1[1], w.Check1, w.Check2};
}

} // namespace

frmMain::frmMain(const QStringList &arguments, QWidget *parent)
    : frmMain(arguments, Environment{}, parent)
{
}

frmMain::frmMain(const QStringList &arguments, const Environment &environment, QWidget *parent)
    : QWidget(parent)
{
    if (!environment.programFolder.isEmpty())
        modGlobal::setProgramFolder(environment.programFolder);
    m_clock = environment.clock ? environment.clock : &Clock::system();
    if (environment.fs) {
        m_fs = environment.fs;
    } else {
        m_ownFs = std::make_unique<PosixFileSystem>();
        m_fs = m_ownFs.get();
    }
    createControls();
    if (environment.closeOnRequests) {
        // Before the load: a pass that "/s" starts must already be cancellable.
        auto *shutdown = new ShutdownSignals(this);
        connect(shutdown, &ShutdownSignals::received, this, &frmMain::closeOnRequest);
        connect(qApp, &QGuiApplication::commitDataRequest, this, &frmMain::commitData);
    }
    // Before the load, which may already run a pass (/s).
    if (TrayIcon::available())
        m_tray = new TrayIcon(*this);
    else
        new PassNotifier(*this, {}, this);
    Form_Load(arguments);
}

frmMain::~frmMain()
{
    // Its thread may still hand a failure to this window.
    m_logFile.reset();
    if (modGlobal::Fso == m_fs)
        modGlobal::Fso = nullptr;
}

void frmMain::createControls()
{
    AccessibleNames::install();
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Pallwick Lite"));
    setWindowFlags(Qt::Window | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::WindowTitleHint | Qt::WindowSystemMenuHint);
    setFixedSize(twipsToPixels(ClientWidth), twipsToPixels(3660));
    setFont(designFont(font()));
    setWindowIcon(appIcon());
    paintBackground(this, Qt::white);

    // Additive: the Extra options dialog from the context menu and Ctrl+,.
    actExtraOptions = new QAction(this);
    actExtraOptions->setObjectName(QStringLiteral("actExtraOptions"));
    actExtraOptions->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    actExtraOptions->setShortcutContext(Qt::WindowShortcut);
    connect(actExtraOptions, &QAction::triggered, this, [this] { ExtraOptions_Click(); });
    addAction(actExtraOptions);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    Frame1 = place<QFrame>(this, "Frame1", 45, -30, 6000, 3675);
    Frame1->setFrameStyle(QFrame::Box | QFrame::Plain);
    QPalette framePalette = Frame1->palette();
    framePalette.setColor(QPalette::WindowText, QColor(0xA0, 0xA0, 0xA0));
    Frame1->setPalette(framePalette);
    paintBackground(Frame1, Qt::white);

    Label1 = place<QLabel>(Frame1, "Label1", 135, 240, 4185, 255);
    Text1 = place<QLineEdit>(Frame1, "Text1", 135, 480, 5355, 285);
    Label2 = place<QLabel>(Frame1, "Label2", 135, 840, 4275, 255);
    Text2 = place<QLineEdit>(Frame1, "Text2", 135, 1080, 5355, 285);
    Label3 = place<QLabel>(Frame1, "Label3", 135, 1410, 1395, 255);
    Combo1 = place<QComboBox>(Frame1, "Combo1", 135, 1650, 1275, 315);
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    Combo1->setMaxVisibleItems(18);
    // A typed "6" means six minutes, not the first entry that starts with 6.
    Combo1->setCompleter(nullptr);
    Combo1->installEventFilter(this);

    Picture1 = place<QWidget>(Frame1, "Picture1", 1530, 1530, 2025, 645);
    paintBackground(Picture1, Qt::white);
    Option1[0] = place<QRadioButton>(Picture1, "Option1(0)", 0, 30, 1875, 255);
    Option1[1] = place<QRadioButton>(Picture1, "Option1(1)", 0, 270, 1995, 255);
    Option1[0]->setChecked(true);
    // One tab stop for the pair, as radio groups have: the selected option.
    // The arrow keys still move between the two.
    const auto tabStopOnSelected = [this] {
        for (QRadioButton *option : Option1)
            option->setFocusPolicy(option->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
    };
    for (QRadioButton *option : Option1)
        connect(option, &QRadioButton::toggled, this, tabStopOnSelected);
    tabStopOnSelected();

    Check2 = place<QCheckBox>(Frame1, "Check2", 3630, 1590, 2265, 195);
    Check1 = place<QCheckBox>(Frame1, "Check1", 3630, 1830, 2295, 195);
    for (QWidget *w : {static_cast<QWidget *>(Option1[0]), static_cast<QWidget *>(Option1[1]),
                       static_cast<QWidget *>(Check1), static_cast<QWidget *>(Check2)})
        paintBackground(w, Qt::white);

    Label4 = place<QLabel>(Frame1, "Label4", 135, 2010, 4095, 225);
    List1 = place<QListWidget>(Frame1, "List1", 135, 2250, 5730, 840);
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    List1->setUniformItemSizes(true);
    // Long lines are cut, not scrolled: the tool tip shows them in full, and a
    // scroll bar would hide one of the four visible lines.
    List1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    List1->viewport()->setMouseTracking(true);
    List1->viewport()->installEventFilter(this);
    m_log = std::make_unique<ListWidgetLog>(List1);

    // The frame's grey line colour must not reach the captions inside it,
    // nor a dark theme's light text the white background.
    for (QWidget *w : captionsOn(*this))
        setCaptionColors(w, Qt::white);
    // The paths are black or red: on white, whatever the theme's fields are.
    for (QLineEdit *box : {Text1, Text2}) {
        QPalette field = box->palette();
        field.setColor(QPalette::Base, Qt::white);
        box->setPalette(field);
        new FolderDrop(box, [this](const QString &path) { return m_fs->folderExists(path); });
    }

    cmdFrom = place<QPushButton>(this, "cmdFrom", 5610, 435, 315, 315);
    cmdFrom->setText(QStringLiteral("..."));
    cmdTo = place<QPushButton>(this, "cmdTo", 5610, 1035, 315, 315);
    cmdTo->setText(QStringLiteral("..."));
    cmdInfo = place<QPushButton>(this, "cmdInfo", 180, 3150, 1365, 345);
    cmdInfo->setText(QStringLiteral("&Info"));
    cmdOpt = place<QPushButton>(this, "cmdOpt", 1605, 3150, 1395, 345);
    cmdStopStart = place<QPushButton>(this, "cmdStopStart", 3075, 3150, 1395, 345);
    cmdStopStart->setDefault(true);
    cmdQuit = place<QPushButton>(this, "cmdQuit", 4545, 3150, 1365, 345);
    cmdQuit->installEventFilter(this);
    for (QPushButton *b : {cmdFrom, cmdTo, cmdInfo, cmdOpt, cmdStopStart, cmdQuit}) {
        b->setCursor(Qt::PointingHandCursor);
        b->raise();
    }

    // Tab order of the design.
    const QList<QWidget *> tabs = {Text1,        cmdFrom,    Text2,  cmdTo,  Combo1,
                                   Option1[0],   Option1[1], Check2, Check1, cmdOpt,
                                   cmdStopStart, cmdQuit,    List1,  cmdInfo};
    for (qsizetype i = 1; i < tabs.size(); ++i)
        setTabOrder(tabs[i - 1], tabs[i]);

    applyDesignStyle(this);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(60000);

    connect(cmdStopStart, &QPushButton::clicked, this, &frmMain::cmdStopStart_Click);
    connect(cmdQuit, &QPushButton::clicked, this, &frmMain::cmdQuit_Click);
    connect(cmdOpt, &QPushButton::clicked, this, &frmMain::cmdOpt_Click);
    connect(cmdInfo, &QPushButton::clicked, this, &frmMain::cmdInfo_Click);
    connect(cmdFrom, &QPushButton::clicked, this, &frmMain::cmdFrom_Click);
    connect(cmdTo, &QPushButton::clicked, this, &frmMain::cmdTo_Click);
    connect(Check1, &QCheckBox::clicked, this, &frmMain::Check1_Click);
    connect(Text1, &QLineEdit::textChanged, this, &frmMain::CheckFolders);
    connect(Text2, &QLineEdit::textChanged, this, &frmMain::CheckFolders);
    connect(Timer1, &QTimer::timeout, this, &frmMain::Timer1_Timer);
    Timer1->start();

    m_arrival = new ArrivalTrigger(this);
    connect(m_arrival, &ArrivalTrigger::due, this, &frmMain::filesArrived);
}

// ---------------------------------------------------------------- start-up

void frmMain::Form_Load(const QStringList &arguments)
{
    Loading = true;
    MinutesElapsed = 0;
    CancelRequested = false;
    modGlobal::IniFile = modGlobal::decideLayout().settingsFile;
    modGlobal::LangFile = modGlobal::languageFilePath(
        ReadIni(Options, QStringLiteral("Language"), QStringLiteral("Deutsch"), 256));
    modGlobal::LanguageName =
        ReadIni(Options, QStringLiteral("Language"), QStringLiteral("Deutsch"), 256);
    LoadLanguage();
    setWindowTitle(titleStopped());
    modGlobal::Fso = m_fs;
    Busy = false;
    LoadSettings();
    CheckFolders();
    Loading = false;
    UpdatePathTips();
    // Files refused (run as root, another user could have written them) read
    // as missing: the window runs on the defaults and says why.
    const std::pair<QString, QString> checked[] = {
        {modGlobal::IniFile, textOr(QStringLiteral("t95"), "Settings file not used (%1): %2")},
        {modGlobal::LangFile, textOr(QStringLiteral("t96"), "Language file not used (%1): %2")}};
    for (const auto &[file, line] : checked) {
        if (const QString why = TrustedFile::refusal(file); !why.isEmpty())
            appendStampedLine(line.arg(why, file));
    }
    // Before "/s": the lines of a pass it starts belong in the file too.
    startLogFile();
    if (arguments == QStringList{QStringLiteral("/s")} && cmdStopStart->isEnabled())
        cmdStopStart_Click();
    ApplyBackColor();
}

void frmMain::LoadLanguage()
{
    Msg = loadMessageTable();
    actExtraOptions->setText(
        languageText(QStringLiteral("t88"), QStringLiteral("E&xtra options...")));
    Label1->setText(Msg[msgSourceFolder]);
    Label2->setText(Msg[msgDestFolder]);
    Label3->setText(Msg[msgInterval]);
    Label4->setText(Msg[msgLog]);
    Option1[0]->setText(Msg[msgMoveFiles]);
    Option1[1]->setText(Msg[msgCopyFiles]);
    Check2->setText(Msg[msgOverwrite]);
    Check1->setText(Msg[msgShowLog]);
    // Inside a pass the button must stay the cancel button.
    cmdStopStart->setText(Busy ? Msg[msgCancel] : Msg[msgStart]);
    cmdQuit->setText(Msg[msgQuit]);
    cmdOpt->setText(Msg[msgSettings]);
    AccessibleNames::nameMainWindow(*this);
}

void frmMain::LoadSettings()
{
    FillIntervalList();
    Text1->setText(ReadIniPath(Options, QStringLiteral("From")));
    Text2->setText(ReadIniPath(Options, QStringLiteral("To")));

    const QString action = ReadIni(Options, QStringLiteral("Action"), QStringLiteral("Copy"), 256);
    if (action == QLatin1String("Copy"))
        Option1[1]->setChecked(true);
    else if (action == QLatin1String("Move"))
        Option1[0]->setChecked(true);

    const QString showLog = ReadIni(Options, QStringLiteral("ShowLog"), QStringLiteral("0"), 256);
    if (showLog == QLatin1String("0")) {
        Check1->setChecked(false);
        HideLogArea();
    } else if (showLog == QLatin1String("1")) {
        Check1->setChecked(true);
        ShowLogArea();
    } else {
        // Any other value leaves the box as it is; the layout must match it.
        setLogLayout(Check1->isChecked());
    }

    const QString overwrite =
        ReadIni(Options, QStringLiteral("Overwrite"), QStringLiteral("0"), 256);
    if (overwrite == QLatin1String("0"))
        Check2->setChecked(false);
    else if (overwrite == QLatin1String("1"))
        Check2->setChecked(true);
}

// ---------------------------------------------------------------- shutdown

void frmMain::closeEvent(QCloseEvent *event)
{
    if (m_passRunning) {
        // Finish the current file, then close: the window must outlive the pass.
        requestCancel();
        m_closeAfterPass = true;
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

void frmMain::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    // No pass may start while the exit question waits for its answer.
    Timer1->stop();
    m_arrival->stop();
    bool save;
    if (ReadIni(Options, QStringLiteral("Question"), QStringLiteral("0"), 256) ==
        QLatin1String("1"))
        save = Prompt::askYesNo(this, appTitle(Msg[msgSaveTitle]),
                                Msg[msgSaveSettings] + QLatin1Char('?'));
    else
        save = ReadIni(Options, QStringLiteral("Save"), QStringLiteral("0"), 256) ==
               QLatin1String("1");
    if (save)
        SaveSettings();
}

void frmMain::SaveSettings()
{
    WriteIni(Options, QStringLiteral("From"), Text1->text());
    WriteIni(Options, QStringLiteral("To"), Text2->text());
    // A text that is no usable interval is stored as the interval in force.
    const QString typed = Combo1->currentText();
    WriteIni(Options, QStringLiteral("Interval"),
             intervalFromText(typed) ? withoutUnitWords(typed)
                                     : QString::number(m_lastValidInterval));
    WriteIni(Options, QStringLiteral("Action"),
             Option1[0]->isChecked() ? QStringLiteral("Move") : QStringLiteral("Copy"));
    WriteIni(Options, QStringLiteral("ShowLog"),
             Check1->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    WriteIni(Options, QStringLiteral("Overwrite"),
             Check2->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
}

void frmMain::cmdQuit_Click()
{
    close();
}

void frmMain::closeOnRequest()
{
    // Already closing: the exit question waits for its answer.
    if (m_unloaded)
        return;
    // A dialog would hold a pass, and the close, until someone answers it.
    if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
        dialog->reject();
    // After the dialog's own loop has ended; a pass defers it to its end.
    QTimer::singleShot(0, this, &QWidget::close);
}

void frmMain::commitData(QSessionManager &manager)
{
    // Saved before the session manager goes on, unless a pass or a dialog
    // is in the way: then as for a signal.
    if (m_passRunning || QApplication::activeModalWidget()) {
        closeOnRequest();
        return;
    }
    // The exit question may be asked (Question=1).
    const bool interacting = manager.allowsInteraction();
    close();
    if (interacting)
        manager.release();
}

// ---------------------------------------------------------------- scheduler

QString frmMain::titleStopped() const
{
    return appTitle(Msg[msgTitleStopped]);
}

QString frmMain::titleWaiting(int minutes) const
{
    return appTitle(Msg[msgTitleWaiting] + QStringLiteral(" (") + Msg[msgNextIn] +
                    QLatin1Char(' ') + QString::number(minutes) + QLatin1Char(' ') +
                    (minutes == 1 ? Msg[msgMinute] : Msg[msgMinutes]) + QLatin1Char(')'));
}

int frmMain::remainingMinutes() const
{
    // Never below zero: a lowered interval makes the next tick due at once.
    return qMax(0, IntervalMinutes - MinutesElapsed);
}

QString frmMain::titleDue() const
{
    return appTitle(Msg[msgTitleBusy] + QLatin1Char('!'));
}

QString frmMain::withoutUnitWords(const QString &text) const
{
    // The plural first, so a singular that begins the plural leaves no rest.
    QString bare = text;
    bare.remove(QLatin1Char(' ') + Msg[msgMinutes], Qt::CaseInsensitive);
    bare.remove(QLatin1Char(' ') + Msg[msgMinute], Qt::CaseInsensitive);
    return bare;
}

std::optional<int> frmMain::intervalFromText(const QString &text) const
{
    const QString bare = withoutUnitWords(text).trimmed();
    // Only plain digits: no sign, no fraction, nothing the count can't reach.
    if (bare.isEmpty() || bare.size() > 9)
        return std::nullopt;
    for (QChar c : bare)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    const int minutes = bare.toInt();
    if (minutes < 1 || minutes > 32767)
        return std::nullopt;
    return minutes;
}

QString frmMain::intervalText(int minutes) const
{
    const QString number = QString::number(minutes);
    return number == QLatin1String("1") ? number + QLatin1Char(' ') + Msg[msgMinute]
                                        : number + QLatin1Char(' ') + Msg[msgMinutes];
}

void frmMain::FillIntervalList()
{
    Combo1->clear();
    QStringList entries;
    for (int minutes : IntervalChoices)
        entries << QString::number(minutes) + QLatin1Char(' ') +
                       (minutes == 1 ? Msg[msgMinute] : Msg[msgMinutes]);
    Combo1->addItems(entries);

    const QString stored = ReadIni(Options, QStringLiteral("Interval"), QStringLiteral("5"), 256);
    // A stored interval that is no usable number falls back to the default.
    IntervalMinutes = intervalFromText(stored).value_or(5);
    m_lastValidInterval = IntervalMinutes;
    Combo1->setEditText(intervalText(IntervalMinutes));
    followIntervalEntry(IntervalMinutes);
}

// The list's current entry stays on the interval shown, so the opened list
// highlights it and the arrow keys and the wheel step from it. The text
// stays as it is; a value that is not listed leaves no entry current.
void frmMain::followIntervalEntry(int minutes)
{
    const QString text = Combo1->currentText();
    const auto *entry = std::find(std::begin(IntervalChoices), std::end(IntervalChoices), minutes);
    Combo1->setCurrentIndex(entry == std::end(IntervalChoices)
                                ? -1
                                : static_cast<int>(entry - std::begin(IntervalChoices)));
    Combo1->setEditText(text);
}

// Up and Down go to the listed interval next to the one shown, also when
// that one was typed and is not in the list.
void frmMain::stepInterval(bool up)
{
    const int shown = intervalFromText(Combo1->currentText()).value_or(m_lastValidInterval);
    int next = -1;
    for (int i = 0; i < static_cast<int>(std::size(IntervalChoices)); ++i) {
        if (up ? IntervalChoices[i] < shown : IntervalChoices[i] > shown) {
            next = i;
            if (!up)
                break;
        }
    }
    if (next >= 0)
        Combo1->setCurrentIndex(next);
}

void frmMain::cmdStopStart_Click()
{
    // Decided by the pass, not by the caption: with a missing language file
    // every caption is empty and would look like the cancel caption.
    if (Busy) {
        requestCancel();
        return;
    }
    if (Running)
        stopSchedule();
    else
        startSchedule();
    m_log->selectLast();
}

void frmMain::stopSchedule()
{
    MinutesElapsed = 0;
    cmdStopStart->setText(Msg[msgStart]);
    setWindowTitle(titleStopped());
    appendStampedLine(Msg[msgStopped]);
    Running = false;
    followArrivals();
    m_arrivalAfterPass = false;
}

void frmMain::startSchedule()
{
    cmdStopStart->setText(Msg[msgStop]);
    if (const auto minutes = intervalFromText(Combo1->currentText())) {
        m_lastValidInterval = *minutes;
    } else {
        // Refused: the last valid interval stays in force and is shown again.
        Combo1->setEditText(intervalText(m_lastValidInterval));
    }
    followIntervalEntry(m_lastValidInterval);
    IntervalMinutes = m_lastValidInterval;
    setWindowTitle(titleWaiting(remainingMinutes()));
    appendStampedLine(Msg[msgStarted]);
    Running = true;
    // Before the pass at Start: what arrives during it gets a pass after it.
    followArrivals();
    if (ReadIni(Options, QStringLiteral("DoActionOnStart"), QStringLiteral("0"), 256) ==
            QLatin1String("1") &&
        DoAction() == PassOutcome::FolderBusy)
        retryNextMinute();
}

// Another pass holds the source folder: the next tick is due again.
void frmMain::retryNextMinute()
{
    MinutesElapsed = static_cast<qint16>(IntervalMinutes - 1);
    setWindowTitle(titleWaiting(remainingMinutes()));
}

void frmMain::Timer1_Timer()
{
    if (!Running)
        return;
    followArrivals();
    ++MinutesElapsed;
    // At or past the interval: saving the options may have lowered the
    // interval below a count already made, and such a schedule must still fire.
    if (MinutesElapsed >= IntervalMinutes) {
        if (m_passRunning && m_arrivalPass) {
            // An arrival pass never stands in for the count's pass: that
            // one runs right after it.
            m_tickAfterPass = true;
            return;
        }
        if (m_passRunning) {
            // The pass that Start began is still working: it stands in for
            // this one, and the count starts again.
            MinutesElapsed = 0;
            return;
        }
        runTimedPass();
    } else {
        setWindowTitle(titleWaiting(remainingMinutes()));
    }
}

void frmMain::runTimedPass()
{
    setWindowTitle(titleDue());
    Timer1->stop();
    const PassOutcome outcome = DoAction();
    Timer1->start();
    MinutesElapsed = 0;
    setWindowTitle(titleWaiting(IntervalMinutes));
    if (outcome == PassOutcome::FolderBusy)
        retryNextMinute();
}

void frmMain::followArrivals()
{
    const auto option = [](const char *key, const char *fallback) {
        return ReadIni(Options, QLatin1String(key), QLatin1String(fallback), 256);
    };
    if (!Running || m_unloaded || option("RunOnArrival", "0") != QLatin1String("1")) {
        m_arrival->stop();
        return;
    }
    // The quiet time the pass gives files that are still arriving; without
    // one, five seconds.
    const int quiet = option("QuietSeconds", "0").toInt();
    // A folder that cannot be watched (missing, a full watch table) is left
    // to the minute count; the next tick tries again.
    // The margin keeps the file times, which the kernel takes from a coarser
    // clock, safely older than the quiet time when the pass looks at them.
    (void)m_arrival->follow(Text1->text(), (quiet > 0 ? qMin(quiet, 86400) : 5) * 1000 + 100);
}

void frmMain::filesArrived()
{
    if (!Running || m_unloaded || m_closeAfterPass)
        return;
    // Never a pass inside a pass: it follows the running one.
    if (m_passRunning) {
        m_arrivalAfterPass = true;
        return;
    }
    appendStampedLine(ReadLang(QStringLiteral("frmMain"), QStringLiteral("t90"),
                               QStringLiteral("Info: files arrived"), 256));
    m_arrivalPass = true;
    DoAction();
    m_arrivalPass = false;
    // The count went on untouched; the title shows it again.
    if (Running)
        setWindowTitle(titleWaiting(remainingMinutes()));
    if (std::exchange(m_tickAfterPass, false) && Running && !m_closeAfterPass)
        runTimedPass();
}

void frmMain::Combo1_Validate()
{
    if (Loading)
        return;
    const auto minutes = intervalFromText(Combo1->currentText());
    if (minutes)
        m_lastValidInterval = *minutes;
    else
        Combo1->setEditText(intervalText(m_lastValidInterval));
    followIntervalEntry(m_lastValidInterval);
    MinutesElapsed = 0;
    if (Running) {
        IntervalMinutes = m_lastValidInterval;
        setWindowTitle(titleWaiting(IntervalMinutes));
    }
}

void frmMain::SetMessages(bool languageChanged)
{
    if (Running) {
        cmdStopStart->setText(Msg[msgStop]);
        setWindowTitle(titleWaiting(remainingMinutes()));
    } else {
        setWindowTitle(titleStopped());
        cmdStopStart->setText(Msg[msgStart]);
    }
    if (Busy)
        cmdStopStart->setText(Msg[msgCancel]);
    // A saved RunOnArrival or quiet time applies at once.
    followArrivals();
    FillIntervalList();
    if (languageChanged) {
        appendStampedLine(languageText(QStringLiteral("t44")) + QLatin1Char(' ') +
                          modGlobal::LanguageName);
        m_log->selectLast();
    }
}

void frmMain::appendStampedLine(const QString &text)
{
    m_log->append(logStamp(*m_clock) + QStringLiteral(" - ") + text);
    // Inside a pass the pass's next line may still replace this one.
    if (!m_passRunning)
        m_log->flushFinal();
}

void frmMain::startLogFile()
{
    if (m_logFile || !ActivityLogFile::wanted())
        return;
    m_logFile = std::make_unique<ActivityLogFile>(
        ActivityLogFile::defaultPath(), *m_clock, [this](const QString &reason) {
            QMetaObject::invokeMethod(
                this, [this, reason] { logFileFailed(reason); }, Qt::QueuedConnection);
        });
    m_log->setFinalLineSink([this](const QString &line) { m_logFile->write(line); });
}

void frmMain::stopLogFile()
{
    m_log->setFinalLineSink({});
    m_logFile.reset();
}

void frmMain::logFileFailed(const QString &reason)
{
    const QString notice =
        QStringLiteral("Activity log file not written (%1): %2").arg(reason, m_logFile->path());
    // A line added inside a pass would be taken for the pass's newest line.
    if (m_passRunning)
        m_logFileNotice = notice;
    else
        appendStampedLine(notice);
}

// ---------------------------------------------------------------- the pass

frmMain::PassOutcome frmMain::DoAction()
{
    if (m_passRunning)
        return PassOutcome::NotStarted;
    m_passRunning = true;
    m_eventRounds.restart();
    m_log->setDeferred(true);
    TransferPass pass(*this, *m_fs, *m_clock);
    pass.run();
    m_log->flushFinal();
    m_log->setDeferred(false);
    m_passRunning = false;
    if (!m_logFileNotice.isEmpty())
        appendStampedLine(std::exchange(m_logFileNotice, QString()));
    // One line for a folder held by another pass, however many tries it
    // takes, until a pass runs.
    if (pass.folderBusy() && !m_folderBusyNoticed)
        appendStampedLine(Msg[msgInfo] + QStringLiteral(": ") + folderBusyText());
    m_folderBusyNoticed = pass.folderBusy();
    emit passEnded(pass.filesAffected(), pass.listingFailed(), pass.filesTransferred());
    if (m_closeAfterPass)
        QTimer::singleShot(0, this, &QWidget::close);
    else if (std::exchange(m_arrivalAfterPass, false))
        // After the caller has finished with this pass (a timed pass resets
        // its count first).
        QTimer::singleShot(0, this, &frmMain::filesArrived);
    return pass.folderBusy() ? PassOutcome::FolderBusy : PassOutcome::Ran;
}

QString frmMain::folderBusyText()
{
    return textOr(QStringLiteral("t54"),
                  "Another pass of the source folder is running; next try in 1 minute");
}

QString frmMain::textOr(const QString &key, const char *english)
{
    const QString text = languageText(key);
    return text.isEmpty() ? QString::fromUtf8(english) : text;
}

void frmMain::EnableControls(bool enabled, const QString &noun, const QString &count)
{
    // Disabling the focused field moves the focus on.
    const QScopedValueRollback locking(m_lockingControls, true);
    for (QWidget *w : {static_cast<QWidget *>(Text1), static_cast<QWidget *>(Text2),
                       static_cast<QWidget *>(cmdFrom), static_cast<QWidget *>(cmdTo),
                       static_cast<QWidget *>(cmdQuit)})
        w->setEnabled(enabled);
    cmdStopStart->setText(!enabled ? Msg[msgCancel] : Running ? Msg[msgStop] : Msg[msgStart]);
    Combo1->setEnabled(enabled);
    Check1->setEnabled(enabled);
    Check2->setEnabled(enabled);
    if (!enabled) {
        const QString verb = Option1[0]->isChecked() ? Msg[msgMoving] : Msg[msgCopying];
        setWindowTitle(appTitle(Msg[msgTitleBusy] + QStringLiteral(" (") + verb + QLatin1Char(' ') +
                                count + QLatin1Char(' ') + noun + QLatin1Char(')')));
    }
}

QString frmMain::sourceFolder() const
{
    return Text1->text();
}
QString frmMain::destinationFolder() const
{
    return Text2->text();
}
bool frmMain::moveSelected() const
{
    return Option1[0]->isChecked();
}
bool frmMain::overwriteTicked() const
{
    return Check2->isChecked();
}

void frmMain::enableControls(bool enabled, const QString &noun, const QString &count)
{
    EnableControls(enabled, noun, count);
}

void frmMain::processEvents()
{
    m_eventRounds.run();
}

void frmMain::setBusyPointer(bool busy)
{
    if (busy)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

// ---------------------------------------------------------------- presentation

void frmMain::CheckFolders()
{
    const bool both = modGlobal::Fso && modGlobal::Fso->folderExists(Text1->text()) &&
                      modGlobal::Fso->folderExists(Text2->text());
    if (both) {
        cmdStopStart->setEnabled(true);
        setTextColor(Text1, Qt::black);
        setTextColor(Text2, Qt::black);
        return;
    }
    if (Running) {
        cmdStopStart->setText(Msg[msgStart]);
        setWindowTitle(titleStopped());
        Running = false;
        followArrivals();
    }
    cmdStopStart->setEnabled(false);
    for (QLineEdit *box : {Text1, Text2})
        if (!modGlobal::Fso || !modGlobal::Fso->folderExists(box->text()))
            setTextColor(box, Qt::red);
}

void frmMain::setTextColor(QLineEdit *box, const QColor &color)
{
    QPalette palette = box->palette();
    palette.setColor(QPalette::Text, color);
    box->setPalette(palette);
}

void frmMain::UpdatePathTips()
{
    Text1->setToolTip(Text1->text());
    Text2->setToolTip(Text2->text());
}

void frmMain::bringToFront()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void frmMain::Check1_Click()
{
    if (Check1->isChecked())
        ShowLogArea();
    else
        HideLogArea();
}

void frmMain::ShowLogArea()
{
    setLogLayout(true);
}
void frmMain::HideLogArea()
{
    setLogLayout(false);
}

void frmMain::setLogLayout(bool shown)
{
    List1->setVisible(shown);
    Label4->setVisible(shown);
    // The window keeps one fixed size per layout; the user cannot drag it.
    const int clientHeight = shown ? ClientHeightWithLog : ClientHeightWithoutLog;
    setFixedSize(twipsToPixels(ClientWidth), twipsToPixels(clientHeight));
    const int buttonTop = twipsToPixels(shown ? 3210 : 2190);
    for (QPushButton *b : {cmdStopStart, cmdQuit, cmdOpt, cmdInfo})
        b->move(b->x(), buttonTop);
    Frame1->resize(Frame1->width(), height() - twipsToPixels(30));
}

void frmMain::browseInto(QLineEdit *box, MsgId caption)
{
    const QString result = modFolder::BrowseFolder(Msg[caption] + QLatin1Char(':'), box->text(),
                                                   this, true, QString(), true, false);
    if (!result.isEmpty()) {
        box->setText(result);
        UpdatePathTips();
    }
    CheckFolders();
}

void frmMain::cmdFrom_Click()
{
    browseInto(Text1, msgSourceFolder);
}
void frmMain::cmdTo_Click()
{
    browseInto(Text2, msgDestFolder);
}

void frmMain::cmdQuit_KeyDown(int key)
{
    if (key == Qt::Key_F12)
        UserStore::save(UserStore::appName(), Options, QStringLiteral("BGColor"),
                        QStringLiteral("&H8000000F"));
    else if (key == Qt::Key_F11)
        UserStore::save(UserStore::appName(), Options, QStringLiteral("BGColor"),
                        QStringLiteral("&H00FFFFFF"));
    ApplyBackColor();
}

void frmMain::ApplyBackColor()
{
    const std::optional<QColor> color = storedBackColor();
    if (!color)
        return;
    for (QWidget *w : {static_cast<QWidget *>(Frame1), static_cast<QWidget *>(Option1[0]),
                       static_cast<QWidget *>(Option1[1]), static_cast<QWidget *>(Check1),
                       static_cast<QWidget *>(Check2), Picture1, static_cast<QWidget *>(this)})
        paintBackground(w, *color);
    for (QWidget *w : captionsOn(*this))
        setCaptionColors(w, *color);
}

void frmMain::List1_MouseMove(const QPoint &position, Qt::MouseButtons buttons)
{
    if (buttons != Qt::NoButton)
        return;
    const QListWidgetItem *item = List1->itemAt(position);
    List1->setToolTip(item ? item->text() : QString());
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    // The interval is checked when the focus moves to another control, not
    // when another window or the field's own list takes it.
    // Nor when locking the controls for a pass pushes it out.
    if (watched == Combo1 && event->type() == QEvent::FocusOut && !m_lockingControls) {
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            Combo1_Validate();
    }
    // Up, Down and the wheel step the interval as the list would, but from
    // the value shown. Alt+Down still opens the list; a disabled field (during
    // a pass) takes nothing.
    if (watched == Combo1 && Combo1->isEnabled() && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) &&
            !(key->modifiers() & Qt::AltModifier)) {
            stepInterval(key->key() == Qt::Key_Up);
            return true;
        }
    }
    if (watched == Combo1 && Combo1->isEnabled() && event->type() == QEvent::Wheel &&
        Combo1->style()->styleHint(QStyle::SH_ComboBox_AllowWheelScrolling, nullptr, Combo1)) {
        const int delta = static_cast<QWheelEvent *>(event)->angleDelta().y();
        if (delta != 0)
            stepInterval(delta > 0);
        return true;
    }
    if (watched == cmdQuit && event->type() == QEvent::KeyPress)
        cmdQuit_KeyDown(static_cast<QKeyEvent *>(event)->key());
    else if (watched == List1->viewport() && event->type() == QEvent::MouseMove) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        List1_MouseMove(mouse->position().toPoint(), mouse->buttons());
    }
    return QWidget::eventFilter(watched, event);
}

void frmMain::keyPressEvent(QKeyEvent *event)
{
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) {
        QWidget::keyPressEvent(event);
        return;
    }
    // Enter presses the focused button; anywhere else it presses Start/Stop,
    // the window's default button.
    if (auto *focused = qobject_cast<QPushButton *>(focusWidget()))
        focused->click();
    else if (cmdStopStart->isEnabled())
        cmdStopStart->click();
}

// A dialog opened during a pass holds it until closed: no file is started
// meanwhile, and a setting saved in Options applies from the next file.
void frmMain::cmdOpt_Click()
{
    const PassGate::Hold hold(gate(), m_passRunning);
    dlgOptionen dialog(*this, this);
    dialog.exec();
}

void frmMain::ExtraOptions_Click()
{
    dlgExtraOptions dialog(this);
    connect(&dialog, &dlgExtraOptions::saved, this,
            [this](const ExtraOptions &before, const ExtraOptions &after) {
                if (after.logFile && !before.logFile)
                    startLogFile();
                else if (!after.logFile && before.logFile)
                    stopLogFile();
                // A saved RunOnArrival or quiet time applies at once.
                followArrivals();
            });
    dialog.exec();
}

void frmMain::cmdInfo_Click()
{
    const PassGate::Hold hold(gate(), m_passRunning);
    dlgAbout dialog(this);
    dialog.exec();
}
