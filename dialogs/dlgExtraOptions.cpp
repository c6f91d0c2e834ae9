#include "dialogs/dlgExtraOptions.h"

#include "app/AccessibleNames.h"
#include "app/AutostartEntry.h"
#include "app/DesignLook.h"
#include "dialogs/AppIcon.h"
#include "settings/ColorValue.h"
#include "settings/Messages.h"
#include "settings/modGlobal.h"
#include "settings/modIniHandler.h"
#include "transfer/NamePatterns.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {
QString text(const char *key, const char *english)
{
    return languageText(QLatin1String(key), QLatin1String(english));
}

constexpr int MaxQuietSeconds = 31 * 24 * 3600;

bool switchedOn(const char *key)
{
    return ReadIni(QStringLiteral("Options"), QLatin1String(key), QStringLiteral("0"), 256) ==
           QLatin1String("1");
}

AutostartEntry loginEntry()
{
    return AutostartEntry::forJob(modGlobal::IniFile);
}

// The program as installed (/usr/bin/pallwick for the package) or as it
// lies in its portable folder, and the icon beside it where there is one.
FsResult writeLoginEntry()
{
    const QString program = QCoreApplication::applicationFilePath();
    const QString icon = QCoreApplication::applicationDirPath() + QStringLiteral("/pallwick.png");
    return loginEntry().write(program, QFileInfo::exists(icon) ? icon : QStringLiteral("pallwick"));
}
} // namespace

// Partial files of browsers (Firefox *.part, Chrome and Edge *.crdownload,
// Safari *.download, Opera *.opdownload), of download managers and torrent
// clients (*.partial, *.!qB, *.!ut, *.aria2), of WinSCP (*.filepart), and
// the owner files Microsoft Office keeps beside an open document (~$*).
const QString dlgExtraOptions::DownloadPatterns =
    QStringLiteral("*.part;*.partial;*.crdownload;*.download;*.opdownload;*.!qB;*.!ut;*.aria2;"
                   "*.filepart;~$*");

dlgExtraOptions::dlgExtraOptions(QWidget *parent) : QDialog(parent), m_read(ExtraOptions::read())
{
    AccessibleNames::install();
    setObjectName(QStringLiteral("dlgExtraOptions"));
    setWindowIcon(appIcon());
    setFont(designFont(font()));

    const auto named = [](QWidget *widget, const char *name) {
        widget->setObjectName(QString::fromLatin1(name));
        return widget;
    };
    spnQuiet = new QSpinBox(this);
    named(spnQuiet, "spnQuiet");
    spnQuiet->setRange(0, MaxQuietSeconds);
    txtInclude = new QLineEdit(this);
    named(txtInclude, "txtInclude");
    txtExclude = new QLineEdit(this);
    named(txtExclude, "txtExclude");
    for (QLineEdit *box : {txtInclude, txtExclude})
        box->setMaxLength(ExtraOptions::PatternListSize);
    cmdDownloads = new QPushButton(this);
    named(cmdDownloads, "cmdDownloads");
    cboNameTaken = new QComboBox(this);
    named(cboNameTaken, "cboNameTaken");
    cboNameTaken->addItems({QString(), QString(), QString()});
    chkTrash = new QCheckBox(this);
    named(chkTrash, "chkTrash");
    chkLogFile = new QCheckBox(this);
    named(chkLogFile, "chkLogFile");
    chkArrival = new QCheckBox(this);
    named(chkArrival, "chkArrival");
    chkLogin = new QCheckBox(this);
    named(chkLogin, "chkLogin");
    chkNotify = new QCheckBox(this);
    named(chkNotify, "chkNotify");
    lblProblem = new QLabel(this);
    named(lblProblem, "lblProblem");
    lblProblem->setWordWrap(true);
    cmdCancel = new QPushButton(this);
    named(cmdCancel, "cmdCancel");
    cmdSave = new QPushButton(this);
    named(cmdSave, "cmdSave");
    cmdSave->setDefault(true);
    m_lblQuiet = new QLabel(this);
    m_lblInclude = new QLabel(this);
    m_lblExclude = new QLabel(this);
    m_lblNameTaken = new QLabel(this);
    m_lblHint = new QLabel(this);
    m_lblQuiet->setBuddy(spnQuiet);
    m_lblInclude->setBuddy(txtInclude);
    m_lblExclude->setBuddy(txtExclude);
    m_lblNameTaken->setBuddy(cboNameTaken);

    auto *form = new QFormLayout;
    form->addRow(m_lblQuiet, spnQuiet);
    form->addRow(m_lblInclude, txtInclude);
    auto *exclude = new QHBoxLayout;
    exclude->addWidget(txtExclude, 1);
    exclude->addWidget(cmdDownloads);
    form->addRow(m_lblExclude, exclude);
    form->addRow(QString(), m_lblHint);
    form->addRow(m_lblNameTaken, cboNameTaken);
    m_checkRows = new QVBoxLayout;
    m_checkRows->addWidget(chkTrash);
    m_checkRows->addWidget(chkLogFile);
    m_checkRows->addWidget(chkArrival);
    m_checkRows->addWidget(chkLogin);
    m_checkRows->addWidget(chkNotify);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdCancel);
    buttons->addWidget(cmdSave);
    auto *rows = new QVBoxLayout(this);
    rows->addLayout(form);
    rows->addLayout(m_checkRows);
    rows->addWidget(lblProblem);
    rows->addStretch(1);
    rows->addLayout(buttons);
    setMinimumWidth(560);

    connect(cmdDownloads, &QPushButton::clicked, this, [this] { cmdDownloads_Click(); });
    connect(cmdSave, &QPushButton::clicked, this, [this] { cmdSave_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);

    // The look of the other dialogs: the window's white, or the colour
    // chosen with F12, and captions in black or white, whichever reads on
    // it under any desktop theme. The problem line keeps a red that does.
    const QColor background = storedBackColor().value_or(QColor(Qt::white));
    paintBackground(this, background);
    const QList<QWidget *> captions = {m_lblQuiet, m_lblInclude, m_lblExclude, m_lblNameTaken,
                                       m_lblHint,  chkTrash,     chkLogFile,   chkArrival,
                                       chkLogin,   chkNotify};
    for (QWidget *caption : captions)
        setCaptionColors(caption, background);
    QPalette problem = lblProblem->palette();
    problem.setColor(QPalette::WindowText, contrastingText(background) == QColor(Qt::black)
                                               ? QColor(0xc0, 0x00, 0x00)
                                               : QColor(0xff, 0x8a, 0x8a));
    lblProblem->setPalette(problem);

    LoadLanguage();
    spnQuiet->setValue(m_read.quietSeconds);
    txtInclude->setText(m_read.include);
    txtExclude->setText(m_read.exclude);
    cboNameTaken->setCurrentIndex(int(m_read.nameTaken));
    chkTrash->setChecked(m_read.replaceToTrash);
    chkLogFile->setChecked(m_read.logFile);
    m_arrivalRead = switchedOn("RunOnArrival");
    m_loginRead = loginEntry().exists();
    m_notifyRead = switchedOn("NotifyEveryPass");
    chkArrival->setChecked(m_arrivalRead);
    chkLogin->setChecked(m_loginRead);
    chkNotify->setChecked(m_notifyRead);
}

void dlgExtraOptions::LoadLanguage()
{
    setWindowTitle(appTitle(text("t73", "Extra options")));
    m_lblQuiet->setText(text("t74", "&Quiet time in seconds (0 = off):"));
    spnQuiet->setToolTip(text("t75", "A file changed within this time is left for a later pass: "
                                     "it may still be being written."));
    m_lblInclude->setText(text("t76", "&Only files matching:"));
    m_lblExclude->setText(text("t77", "&Leave out files matching:"));
    m_lblHint->setText(text("t78", "Patterns such as *.pdf, separated by ; - an empty "
                                   "first list takes every file."));
    cmdDownloads->setText(text("t79", "&Downloads"));
    cmdDownloads->setToolTip(text("t80", "Adds the files browsers and download programs are "
                                         "still writing, and office lock files."));
    m_lblNameTaken->setText(text("t81", "&Name taken (Overwrite off):"));
    cboNameTaken->setItemText(0, text("t82", "leave the file where it is"));
    cboNameTaken->setItemText(1, text("t83", "keep both: \"name (1).ext\""));
    cboNameTaken->setItemText(2, text("t84", "keep both, unless the same file is there"));
    AccessibleNames::nameComboBox(cboNameTaken, AccessibleNames::spoken(m_lblNameTaken->text()));
    chkTrash->setText(text("t85", "&Overwrite: the replaced file goes to the trash"));
    chkLogFile->setText(text("t86", "&Write the activity log to a file"));
    chkArrival->setText(text("t91", "&Run a pass when files arrive"));
    chkLogin->setText(text("t92", "Start at lo&gin"));
    chkNotify->setText(text("t93", "Noti&fy after every pass"));
    cmdCancel->setText(languageText(QStringLiteral("t41")));
    cmdSave->setText(languageText(QStringLiteral("t42")));
}

void dlgExtraOptions::cmdDownloads_Click()
{
    QStringList patterns;
    for (const QString &entry : txtExclude->text().split(QLatin1Char(';'), Qt::SkipEmptyParts))
        if (!entry.trimmed().isEmpty())
            patterns << entry.trimmed();
    for (const QString &pattern : DownloadPatterns.split(QLatin1Char(';')))
        if (!patterns.contains(pattern))
            patterns << pattern;
    txtExclude->setText(patterns.join(QLatin1Char(';')));
}

void dlgExtraOptions::cmdSave_Click()
{
    for (QLineEdit *box : {txtInclude, txtExclude}) {
        const QStringList malformed = NamePatterns(box->text()).malformed();
        if (!malformed.isEmpty()) {
            lblProblem->setText(text("t87", "Malformed pattern: %1").arg(malformed.first()));
            box->setFocus();
            return;
        }
    }
    ExtraOptions chosen = m_read;
    chosen.quietSeconds = spnQuiet->value();
    chosen.include = txtInclude->text();
    chosen.exclude = txtExclude->text();
    chosen.nameTaken = ExtraOptions::NameTaken(cboNameTaken->currentIndex());
    chosen.replaceToTrash = chkTrash->isChecked();
    chosen.logFile = chkLogFile->isChecked();
    if (chkLogin->isChecked() != m_loginRead) {
        const FsResult done = chkLogin->isChecked() ? writeLoginEntry() : loginEntry().remove();
        if (!done.ok()) {
            lblProblem->setText(done.description);
            chkLogin->setFocus();
            return;
        }
    }
    chosen.write(m_read);
    writeSwitch("RunOnArrival", m_arrivalRead, chkArrival->isChecked());
    writeSwitch("NotifyEveryPass", m_notifyRead, chkNotify->isChecked());
    emit saved(m_read, chosen);
    accept();
}

void dlgExtraOptions::writeSwitch(const char *key, bool was, bool now)
{
    if (was != now)
        WriteIni(QStringLiteral("Options"), QLatin1String(key),
                 now ? QStringLiteral("1") : QStringLiteral("0"));
}
