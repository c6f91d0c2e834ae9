// Renders every window of the program and the tray menu to PNG files, offscreen, so the look of
// the captions in each delivered language can be checked without a display.
//
//   pallwick_screenshots OUTDIR
//
// Everything the windows read (program folder with Pallwick.ini and lang/,
// the two job folders, the per-user store) lives in a temporary folder; the
// user's own settings are never touched.

#include "app/TrayIcon.h"
#include "app/frmMain.h"
#include "dialogs/dlgAbout.h"
#include "dialogs/dlgExtraOptions.h"
#include "dialogs/dlgOptionen.h"
#include "platform/QtTranslations.h"
#include "platform/UserStore.h"
#include "settings/modIniHandler.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

namespace {

struct Workspace
{
    QTemporaryDir root;
    QString program() const { return root.filePath(QStringLiteral("program")); }
    QString source() const { return root.filePath(QStringLiteral("source")); }
    QString destination() const { return root.filePath(QStringLiteral("destination")); }
    QString store() const { return root.filePath(QStringLiteral("store")); }
};

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(content) == content.size();
}

bool prepare(const Workspace &ws)
{
    QDir root(ws.root.path());
    for (const char *folder : {"program/lang", "source", "destination", "store"})
        if (!root.mkpath(QLatin1String(folder)))
            return false;
    const QDir lang(QStringLiteral(PALLWICK_LANG_DIR));
    for (const QString &name : lang.entryList({QStringLiteral("*.dat")}, QDir::Files))
        if (!QFile::copy(lang.filePath(name), ws.program() + QStringLiteral("/lang/") + name))
            return false;
    // A few files of different kinds, and one the destination already holds,
    // so the log shows copied and kept lines; a long name shows the cut-off.
    // Each is large enough that its copy takes a while: the window lets events
    // run only every few milliseconds, and the busy picture needs one such
    // round while a file is on its way.
    const QStringList names = {QStringLiteral("invoice-2024-03.pdf"),
                               QStringLiteral("holiday photo 017.jpg"), QStringLiteral("notes.txt"),
                               QStringLiteral("a rather long file name that does not fit the "
                                              "activity log of the window.docx")};
    for (const QString &name : names)
        if (!writeFile(ws.source() + QLatin1Char('/') + name, QByteArray(32 << 20, 'x')))
            return false;
    return writeFile(ws.destination() + QStringLiteral("/notes.txt"), "old");
}

bool writeIni(const Workspace &ws, const QString &language, bool showLog, bool foldersExist)
{
    const QString missing = ws.root.filePath(QStringLiteral("no such folder"));
    QString ini;
    QTextStream out(&ini);
    out << "[Options]\n"
        << "Language=" << language << '\n'
        << "From=" << (foldersExist ? ws.source() : missing) << '\n'
        << "To=" << (foldersExist ? ws.destination() : missing + QStringLiteral("/either"))
        << '\n'
        // The widest entry of the interval list where the folders are missing.
        << "Interval=" << (foldersExist ? 15 : 560) << '\n'
        << "Action=Copy\n"
        << "ShowLog=" << (showLog ? 1 : 0) << '\n'
        << "Overwrite=0\n"
        << "Save=0\nQuestion=0\nDoActionOnStart=1\nCheckDestination=1\n";
    out.flush();
    return writeFile(ws.program() + QStringLiteral("/Pallwick.ini"), ini.toUtf8());
}

void settle(QWidget *window)
{
    window->show();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

// The window title is drawn by the window manager, not by grab(): a plain bar
// above the picture stands in for it.
QImage withTitleBar(const QPixmap &content, const QString &title)
{
    constexpr int BarHeight = 22;
    QFont font;
    font.setPixelSize(12);
    // A title wider than the picture (the tray menu's tool tip) widens it.
    const int width = qMax(content.width(), QFontMetrics(font).horizontalAdvance(title) + 12);
    QImage image(width, content.height() + BarHeight, QImage::Format_RGB32);
    image.fill(QColor(0x3C, 0x3C, 0x3C));
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(6, 0, width - 12, BarHeight), Qt::AlignVCenter | Qt::AlignLeft, title);
    painter.drawPixmap(0, BarHeight, content);
    return image;
}

class Shooter
{
public:
    explicit Shooter(const QString &outDir) : m_dir(outDir) {}

    bool shoot(QWidget *window, const QString &name)
    {
        return save(window->grab(), window->windowTitle(), name);
    }

    bool save(const QPixmap &picture, const QString &title, const QString &name)
    {
        const QString path = m_dir.filePath(name + QStringLiteral(".png"));
        if (!withTitleBar(picture, title).save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            m_ok = false;
            return false;
        }
        m_titles << name + QStringLiteral(".png: ") + title;
        std::printf("%s\n", qPrintable(path));
        return true;
    }

    bool finish()
    {
        m_ok = writeFile(m_dir.filePath(QStringLiteral("titles.txt")),
                         (m_titles.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8()) &&
               m_ok;
        return m_ok;
    }

private:
    QDir m_dir;
    QStringList m_titles;
    bool m_ok = true;
};

// Takes a picture of the next modal window the program opens, once it has
// had a moment to fill itself (the folder tree loads in the background),
// then closes it as Cancel or No would.
void shootNextModal(Shooter &shooter, const QString &name)
{
    auto *timer = new QTimer;
    auto rounds = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, rounds, name, &shooter] {
        auto *modal = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!modal || ++*rounds < 15)
            return;
        timer->stop();
        timer->deleteLater();
        shooter.shoot(modal, name);
        modal->reject();
    });
    timer->start(20);
}

std::unique_ptr<frmMain> openMain(const Workspace &ws)
{
    frmMain::Environment environment;
    environment.programFolder = ws.program();
    return std::make_unique<frmMain>(QStringList{}, environment);
}

void shootLanguage(const Workspace &ws, Shooter &shooter, const QString &language,
                   const QString &prefix)
{
    // Log shown, after a Start that ran one pass at once.
    writeIni(ws, language, true, true);
    {
        auto window = openMain(ws);
        settle(window.get());
        window->cmdStopStart_Click();
        settle(window.get());
        shooter.shoot(window.get(), prefix + QStringLiteral("-main-log"));

        // The same window with the log hidden, as a click on the box does it.
        window->Check1->setChecked(false);
        window->Check1_Click();
        settle(window.get());
        shooter.shoot(window.get(), prefix + QStringLiteral("-main-nolog"));

        // The tray menu while the schedule runs; its bar shows the tool tip.
        {
            TrayIcon tray(*window);
            tray.updateMenu();
            tray.menu()->popup(QPoint(0, 0));
            settle(tray.menu());
            shooter.save(tray.menu()->grab(), tray.toolTip(),
                         prefix + QStringLiteral("-tray-menu"));
            tray.menu()->hide();
        }

        window->Check1->setChecked(true);
        window->Check1_Click();
        settle(window.get());
        window->cmdStopStart_Click(); // Stop, so the dialogs show a quiet window behind

        dlgOptionen options(*window, window.get());
        settle(&options);
        shooter.shoot(&options, prefix + QStringLiteral("-options"));
        options.hide();

        dlgExtraOptions extra(window.get());
        extra.txtExclude->setText(dlgExtraOptions::DownloadPatterns);
        extra.spnQuiet->setValue(30);
        extra.cboNameTaken->setCurrentIndex(2);
        settle(&extra);
        shooter.shoot(&extra, prefix + QStringLiteral("-extraoptions"));
        extra.hide();

        dlgAbout about(window.get());
        settle(&about);
        shooter.shoot(&about, prefix + QStringLiteral("-about"));
        about.hide();

        // The standard buttons of the folder picker and of the exit question.
        shootNextModal(shooter, prefix + QStringLiteral("-folderpicker"));
        window->cmdFrom_Click();
        WriteIni(QStringLiteral("Options"), QStringLiteral("Question"), QStringLiteral("1"));
        shootNextModal(shooter, prefix + QStringLiteral("-exitquestion"));
        window->close();
    }

    // During a pass: Start runs one at once, and the pass lets events run
    // while it works; the picture is taken once the first file's progress
    // line is in the log. The destination is emptied first, or the pass
    // would only keep what the earlier one copied.
    {
        for (const QFileInfo &copied : QDir(ws.destination()).entryInfoList(QDir::Files))
            if (copied.fileName() != QLatin1String("notes.txt"))
                QFile::remove(copied.filePath());
        auto window = openMain(ws);
        settle(window.get());
        bool taken = false;
        std::function<void()> grabWhenBusy = [&] {
            if (!window->Busy)
                return;
            if (window->activityLog().count() < 2) {
                QTimer::singleShot(0, window.get(), grabWhenBusy);
                return;
            }
            // During a pass the list catches up with the log in posted events,
            // and lays its new lines out on a timer of its own.
            QCoreApplication::sendPostedEvents();
            window->List1->doItemsLayout();
            taken = shooter.save(window->grab(), window->windowTitle(),
                                 prefix + QStringLiteral("-main-busy"));
        };
        QTimer::singleShot(0, window.get(), grabWhenBusy);
        window->cmdStopStart_Click();
        if (!taken)
            std::fprintf(stderr, "%s-main-busy: the pass ended before a picture was taken\n",
                         qPrintable(prefix));
        window->hide();
    }

    // Both folders missing: red paths, Start disabled.
    writeIni(ws, language, false, false);
    {
        auto window = openMain(ws);
        settle(window.get());
        shooter.shoot(window.get(), prefix + QStringLiteral("-main-missing"));
        window->hide();
    }
}

// A dark desktop theme, as Adwaita-dark gives it: light text on dark grey.
QPalette darkPalette()
{
    QPalette dark(QColor(0x35, 0x35, 0x35), QColor(0x24, 0x24, 0x24));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(role, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    dark.setColor(QPalette::AlternateBase, QColor(0x2a, 0x2a, 0x2a));
    dark.setColor(QPalette::Highlight, QColor(0x35, 0x84, 0xe4));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(QPalette::Disabled, role, QColor(0x80, 0x80, 0x80));
    return dark;
}

// The window, Options and Extra options under a dark theme, on white and on
// the theme's button face (F12).
void shootDark(const Workspace &ws, Shooter &shooter)
{
    const QPalette light = QApplication::palette();
    QApplication::setPalette(darkPalette());
    writeIni(ws, QStringLiteral("English"), true, true);
    for (const char *color : {"&H00FFFFFF", "&H8000000F"}) {
        UserStore::save(UserStore::appName(), QStringLiteral("Options"), QStringLiteral("BGColor"),
                        QLatin1String(color));
        const QString suffix = color[2] == '8' ? QStringLiteral("-buttonface") : QString();
        auto window = openMain(ws);
        settle(window.get());
        window->cmdStopStart_Click();
        settle(window.get());
        // One path missing, to show the red text on its white field.
        window->Text2->setText(ws.root.filePath(QStringLiteral("no such folder")));
        settle(window.get());
        shooter.shoot(window.get(), QStringLiteral("en-main-dark") + suffix);
        dlgOptionen options(*window, window.get());
        settle(&options);
        shooter.shoot(&options, QStringLiteral("en-options-dark") + suffix);
        options.hide();
        dlgExtraOptions extra(window.get());
        settle(&extra);
        shooter.shoot(&extra, QStringLiteral("en-extraoptions-dark") + suffix);
        extra.hide();
        window->hide();
    }
    QApplication::setPalette(light);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", qPrintable(args.value(0)));
        return 2;
    }
    if (!QDir().mkpath(args[1])) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(args[1]));
        return 1;
    }

    Workspace ws;
    if (!ws.root.isValid() || !prepare(ws)) {
        std::fprintf(stderr, "cannot prepare the temporary folders\n");
        return 1;
    }
    UserStore::setLocation(ws.store());

    Shooter shooter(args[1]);
    // Qt's own texts follow the language shown, as they follow the desktop's.
    QtTranslations::install(QLocale(QLocale::German, QLocale::Germany));
    shootLanguage(ws, shooter, QStringLiteral("Deutsch"), QStringLiteral("de"));
    QtTranslations::install(QLocale(QLocale::English, QLocale::UnitedStates));
    shootLanguage(ws, shooter, QStringLiteral("English"), QStringLiteral("en"));

    // The desktop's button colour instead of white (F12 on the Quit button).
    UserStore::save(UserStore::appName(), QStringLiteral("Options"), QStringLiteral("BGColor"),
                    QStringLiteral("&H8000000F"));
    writeIni(ws, QStringLiteral("Deutsch"), true, true);
    {
        auto window = openMain(ws);
        settle(window.get());
        window->cmdStopStart_Click();
        settle(window.get());
        shooter.shoot(window.get(), QStringLiteral("de-main-buttonface"));
        window->hide();
    }
    shootDark(ws, shooter);

    return shooter.finish() ? 0 : 1;
}
