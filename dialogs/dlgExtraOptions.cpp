#include "dialogs/dlgExtraOptions.h"

#include "app/AccessibleNames.h"
#include "app/DesignLook.h"
#include "dialogs/AppIcon.h"
#include "settings/Messages.h"
#include "transfer/NamePatterns.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {
QString text(const char *key, const char *english)
{
    return languageText(QLatin1String(key), QLatin1String(english));
}

constexpr int MaxQuietSeconds = 31 * 24 * 3600;
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
    lblProblem = new QLabel(this);
    named(lblProblem, "lblProblem");
    lblProblem->setStyleSheet(QStringLiteral("color: #c00000"));
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

    LoadLanguage();
    spnQuiet->setValue(m_read.quietSeconds);
    txtInclude->setText(m_read.include);
    txtExclude->setText(m_read.exclude);
    cboNameTaken->setCurrentIndex(int(m_read.nameTaken));
    chkTrash->setChecked(m_read.replaceToTrash);
    chkLogFile->setChecked(m_read.logFile);
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
    chosen.write(m_read);
    emit saved(m_read, chosen);
    accept();
}
