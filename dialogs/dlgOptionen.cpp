#include "dialogs/dlgOptionen.h"

#include "app/AccessibleNames.h"
#include "app/DesignLook.h"
#include "app/MainWindowApi.h"
#include "dialogs/AppIcon.h"
#include "settings/ColorValue.h"
#include "settings/Messages.h"
#include "settings/modGlobal.h"
#include "settings/modIniHandler.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include <sys/stat.h>

namespace {

// Any non-zero number ticks the box, so a hand-edited "-1" or "2" still reads
// as "on"; text that is no number reads as "off".
Qt::CheckState checkStateFromSetting(const QString &text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    return ok && value != 0 ? Qt::Checked : Qt::Unchecked;
}

QString settingFromCheckBox(const QCheckBox *box)
{
    return box->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
}

QString storedLanguage()
{
    return ReadIni(QStringLiteral("Options"), QStringLiteral("Language"), QStringLiteral("Deutsch"),
                   256);
}

} // namespace

dlgOptionen::dlgOptionen(MainWindowApi &mainWindow, QWidget *parent)
    : QDialog(parent), m_mainWindow(mainWindow)
{
    AccessibleNames::install();
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setWindowIcon(appIcon());
    setFixedSize(designRect(0, 0, 3885, 2700).size());
    setFont(designFont(font()));
    paintBackground(this, Qt::white);

    Frame1 = new QFrame(this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(designRect(60, -30, 3765, 2685));
    Frame1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    paintBackground(Frame1, Qt::white);

    Label1 = new QLabel(Frame1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(designRect(120, 180, 3555, 225));

    Combo1 = new QComboBox(Frame1);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setGeometry(designRect(120, 420, 3555, 315));
    Combo1->setEditable(true);
    // A typed name must stay a typed name, not become a list entry.
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    // Only what the user typed counts: no completion to a listed name.
    Combo1->setCompleter(nullptr);

    const auto makeCheck = [this](const char *name, int top) {
        auto *box = new QCheckBox(Frame1);
        box->setObjectName(QString::fromLatin1(name));
        box->setGeometry(designRect(120, top, 3585, 195));
        paintBackground(box, Qt::white);
        return box;
    };
    Check1 = makeCheck("Check1", 930);
    Check2 = makeCheck("Check2", 1200);
    Check3 = makeCheck("Check3", 1470);
    Check4 = makeCheck("Check4", 1740);

    const auto makeButton = [this](const char *name, const QRect &geometry) {
        auto *button = new QPushButton(this);
        button->setObjectName(QString::fromLatin1(name));
        button->setGeometry(geometry);
        button->setCursor(Qt::PointingHandCursor);
        return button;
    };
    cmdCancel = makeButton("cmdCancel", designRect(150, 2160, 1755, 345));
    cmdSave = makeButton("cmdSave", designRect(1980, 2160, 1725, 345));
    cmdSave->setDefault(true);

    // Captions on the dialog's own white, readable under a dark theme too.
    for (QWidget *caption : captions())
        setCaptionColors(caption, Qt::white);
    // The language field is named by its caption.
    Label1->setBuddy(Combo1);

    applyDesignStyle(this);

    setTabOrder(Combo1, Check1);
    setTabOrder(Check1, Check2);
    setTabOrder(Check2, Check3);
    setTabOrder(Check3, cmdCancel);
    setTabOrder(cmdCancel, cmdSave);
    setTabOrder(cmdSave, Check4);

    connect(Check2, &QCheckBox::toggled, this, [this] { Check2_Click(); });
    connect(cmdSave, &QPushButton::clicked, this, [this] { cmdSave_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });

    Form_Load();
}

void dlgOptionen::Form_Load()
{
    LoadLanguage();
    FillLanguageList();
    Check1->setCheckState(checkStateFromSetting(
        ReadIni(QStringLiteral("Options"), QStringLiteral("Save"), QStringLiteral("1"), 256)));
    Check2->setCheckState(checkStateFromSetting(
        ReadIni(QStringLiteral("Options"), QStringLiteral("Question"), QStringLiteral("0"), 256)));
    Check3->setCheckState(checkStateFromSetting(ReadIni(
        QStringLiteral("Options"), QStringLiteral("DoActionOnStart"), QStringLiteral("0"), 256)));
    Check4->setCheckState(checkStateFromSetting(ReadIni(
        QStringLiteral("Options"), QStringLiteral("CheckDestination"), QStringLiteral("1"), 256)));
    ApplyBackColor();
}

void dlgOptionen::LoadLanguage()
{
    setWindowTitle(appTitle(languageText(QStringLiteral("t38")).remove(QLatin1Char('&'))));
    Check1->setText(languageText(QStringLiteral("t37")));
    Check2->setText(languageText(QStringLiteral("t39")));
    Check3->setText(languageText(QStringLiteral("t40")));
    Check4->setText(languageText(QStringLiteral("t50")));
    cmdCancel->setText(languageText(QStringLiteral("t41")));
    cmdSave->setText(languageText(QStringLiteral("t42")));
    Label1->setText(languageText(QStringLiteral("t43")));
    // An editable combo box would be named by its text.
    AccessibleNames::nameComboBox(Combo1, AccessibleNames::spoken(Label1->text()));
}

void dlgOptionen::FillLanguageList()
{
    // Regular files and links to regular files, hidden ones left out, in the
    // order the file system yields them; the list shows the newest-listed
    // name on top. A link to a folder, a FIFO or nothing is no language. An
    // installed program lists the user's folder and the package's, each name
    // once.
    for (const QString &path : modGlobal::layout().languageFolders) {
        const QDir folder(path);
        const QStringList entries =
            folder.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
        const QStringList earlier = LanguageNames;
        for (QString name : entries) {
            struct stat info = {};
            if (::stat(QFile::encodeName(folder.filePath(name)).constData(), &info) != 0 ||
                !S_ISREG(info.st_mode))
                continue;
            name.remove(QStringLiteral(".dat"), Qt::CaseSensitive);
            if (earlier.contains(name))
                continue;
            Combo1->insertItem(0, name);
            LanguageNames.append(name);
        }
    }
    Combo1->setEditText(storedLanguage());
}

void dlgOptionen::ApplyBackColor()
{
    const std::optional<QColor> color = storedBackColor();
    if (!color)
        return;
    for (QWidget *widget : {static_cast<QWidget *>(Frame1), static_cast<QWidget *>(Check1),
                            static_cast<QWidget *>(Check2), static_cast<QWidget *>(Check3),
                            static_cast<QWidget *>(Check4), static_cast<QWidget *>(this)})
        paintBackground(widget, *color);
    for (QWidget *caption : captions())
        setCaptionColors(caption, *color);
}

QList<QWidget *> dlgOptionen::captions() const
{
    return {Label1, Check1, Check2, Check3, Check4};
}

void dlgOptionen::Check2_Click()
{
    // A disabled Check1 keeps its tick and is still saved.
    Check1->setEnabled(!Check2->isChecked());
}

void dlgOptionen::cmdSave_Click()
{
    const QString chosen = Combo1->currentText();
    bool languageChanged = storedLanguage() != chosen;

    WriteIni(QStringLiteral("Options"), QStringLiteral("Save"), settingFromCheckBox(Check1));
    WriteIni(QStringLiteral("Options"), QStringLiteral("Question"), settingFromCheckBox(Check2));
    WriteIni(QStringLiteral("Options"), QStringLiteral("DoActionOnStart"),
             settingFromCheckBox(Check3));
    WriteIni(QStringLiteral("Options"), QStringLiteral("CheckDestination"),
             settingFromCheckBox(Check4));

    if (languageChanged) {
        // Only a listed language is stored; a cleared text stores nothing but
        // still counts as a change, so the main window reloads its texts.
        if (!chosen.isEmpty()) {
            bool found = false;
            for (const QString &entry : std::as_const(LanguageNames)) {
                if (entry == chosen) {
                    WriteIni(QStringLiteral("Options"), QStringLiteral("Language"), entry);
                    found = true;
                }
            }
            if (!found)
                languageChanged = false;
        }
        if (languageChanged) {
            modGlobal::LangFile = modGlobal::languageFilePath(storedLanguage());
            m_mainWindow.LoadLanguage();
        }
    }

    modGlobal::LangFile = modGlobal::languageFilePath(storedLanguage());
    modGlobal::LanguageName = storedLanguage();
    m_mainWindow.SetMessages(languageChanged);

    LanguageNames.clear();
    accept();
}

void dlgOptionen::cmdCancel_Click()
{
    reject();
}
