// The windows for every user: names a screen reader speaks, the About links
// from the keyboard, captions that stay readable under a dark theme, and
// folders dropped from a file manager.
#include "app/AccessibleNames.h"
#include "dialogs/dlgAbout.h"
#include "dialogs/dlgExtraOptions.h"
#include "dialogs/dlgOptionen.h"
#include "platform/Shell.h"
#include "support/WindowFixture.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <cmath>
#include <functional>

static const char LanguageFile[] = "[frmMain]\nt0=Source\nt1=Target\nt2=Interval\nt3=Log\n"
                                   "t6=Move\nt7=Copy\nt8=Overwrite\nt9=Show log\nt12=S&tart\n"
                                   "t13=&Quit\nt37=Save\nt38=&Options\nt39=Ask\nt40=Run\n"
                                   "t41=&Cancel\nt42=&Save\nt43=Language\nt49=&Close\nt50=Skip\n";

namespace {

struct FakeMainWindow : MainWindowApi
{
    void LoadLanguage() override {}
    void SetMessages(bool) override {}
};

// Every control of window's accessible tree that takes the focus, as
// "object name: spoken name".
QStringList focusableControls(QWidget *window)
{
    QStringList found;
    std::function<void(QAccessibleInterface *)> walk = [&](QAccessibleInterface *node) {
        const QAccessible::State state = node->state();
        if (state.focusable && !state.invisible) {
            QObject *object = node->object();
            found << (object ? object->objectName() : QStringLiteral("?")) + ": " +
                         node->text(QAccessible::Name).trimmed();
        }
        for (int i = 0; i < node->childCount(); ++i)
            if (QAccessibleInterface *child = node->child(i))
                walk(child);
    };
    walk(QAccessible::queryAccessibleInterface(window));
    return found;
}

QStringList unnamed(const QStringList &controls)
{
    QStringList result;
    for (const QString &control : controls)
        if (control.endsWith(QLatin1String(": ")))
            result << control;
    return result;
}

// How far apart two colours are in brightness, 0 to 1 (WCAG relative
// luminance difference).
double luminance(const QColor &c)
{
    const auto channel = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}
double contrastRatio(const QColor &a, const QColor &b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QPalette darkPalette()
{
    QPalette dark(QColor(0x35, 0x35, 0x35), QColor(0x2d, 0x2d, 0x2d));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(role, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    return dark;
}

} // namespace

class tst_Accessibility : public QObject
{
    Q_OBJECT

    WindowFixture f;
    QPalette m_lightPalette;
    QTemporaryDir m_drops; // a folder and a file to drag

    // Text of each caption against the colour it is drawn on.
    static void checkReadable(const QList<QWidget *> &captions, const QColor &background)
    {
        for (QWidget *caption : captions)
            QVERIFY2(contrastRatio(caption->palette().color(QPalette::WindowText), background) >=
                         4.5,
                     qPrintable(caption->objectName()));
    }

private slots:
    void initTestCase()
    {
        m_lightPalette = QApplication::palette();
        QVERIFY(QDir(m_drops.path()).mkpath("drop target %41"));
        writeFile(m_drops.filePath("drop file"), "x");
    }
    void init() { f.setUp("Test", LanguageFile); }
    void cleanup()
    {
        f.tearDown();
        Shell::setOpener({});
        AccessibleNames::setAssistiveTechnologyActive(std::nullopt);
        QApplication::setPalette(m_lightPalette);
    }

    // The tree a screen reader sees: no control that takes the focus goes
    // unnamed, and the nameless ones are named by their captions.
    void everyFocusableControlHasAName()
    {
        // Shown, no control unnamed, and the expected ones among them.
        const auto check = [](QWidget &window, const QStringList &expected) {
            window.show();
            const QStringList controls = focusableControls(&window);
            QCOMPARE(unnamed(controls), QStringList());
            for (const QString &control : expected)
                QVERIFY2(controls.contains(control), qPrintable(controls.join('\n')));
        };
        auto w = f.openJob("ShowLog=1\n");
        check(*w, {"Text1: Source", "Text2: Target", "Combo1: Interval", "List1: Log",
                   "cmdFrom: Choose source folder", "cmdTo: Choose destination folder",
                   "cmdStopStart: Start", "Option1(1): Copy", "cmdInfo: Info"});
        QVERIFY(!QAccessible::queryAccessibleInterface(w->Text1)
                     ->text(QAccessible::Description)
                     .isEmpty());
        FakeMainWindow fake;
        dlgOptionen options(fake);
        check(options, {"Combo1: Language"});
        dlgExtraOptions extra;
        check(extra, {"cboNameTaken: Name taken (Overwrite off):",
                      "txtExclude: Leave out files matching:"});
        AccessibleNames::setAssistiveTechnologyActive(true);
        dlgAbout about;
        check(about, {});
        QCOMPARE(focusableControls(&about).size(), 4);
    }

    // The "..." buttons speak the language file's text where it has one.
    void folderButtonNamesFromTheLanguage()
    {
        writeFile(f.path("lang/Test.dat"),
                  QByteArray(LanguageFile) + "t62=Quelle wählen\nt63=Ziel wählen\n");
        auto w = f.openJob();
        QCOMPARE(w->cmdFrom->accessibleName(), "Quelle wählen");
        QCOMPARE(w->cmdTo->accessibleName(), "Ziel wählen");
        QCOMPARE(w->cmdFrom->text(), "...");
    }

    // Only with a screen reader at work do the links take the focus; then
    // Tab reaches them in order, and Enter, Space or the reader's press
    // action opens them.
    void aboutLinksFromTheKeyboard()
    {
        QList<QUrl> opened;
        Shell::setOpener([&opened](const QUrl &url) { return opened << url, true; });
        const auto focusable = [](QWidget &dialog) {
            QStringList names;
            for (QWidget *w : dialog.findChildren<QWidget *>())
                if (w->focusPolicy() & Qt::TabFocus)
                    names << w->objectName();
            return names;
        };
        {
            dlgAbout about;
            QCOMPARE(focusable(about), QStringList{"cmdQuit"});
        }

        AccessibleNames::setAssistiveTechnologyActive(true);
        dlgAbout about;
        about.show();
        about.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&about));
        QStringList order;
        for (int i = 0; i < 4; ++i) {
            order << QApplication::focusWidget()->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(order, (QStringList{"cmdQuit", "Image1", "lblWeburl", "lblSupport"}));
        QCOMPARE(QApplication::focusWidget()->objectName(), "cmdQuit");

        QTest::keyClick(about.findChild<QLabel *>("Image1"), Qt::Key_Return);
        QTest::keyClick(about.findChild<QLabel *>("lblWeburl"), Qt::Key_Space);
        QAccessibleInterface *support =
            QAccessible::queryAccessibleInterface(about.findChild<QLabel *>("lblSupport"));
        QCOMPARE(support->role(), QAccessible::Link);
        support->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCoreApplication::processEvents();
        QCOMPARE(opened, (QList<QUrl>{dlgAbout::makerUrl(), dlgAbout::productUrl(),
                                      dlgAbout::supportUrl()}));
        QVERIFY(about.isVisible());
    }

    // Under a dark theme the captions on the window's white, and on the
    // theme's dark button face after F12, stay readable; the path boxes keep
    // their black or red text on white.
    void darkThemeCaptionsReadable()
    {
        QApplication::setPalette(darkPalette());
        auto w = f.openJob("ShowLog=1\n");
        w->Text2->setText(f.path("missing"));
        const QList<QWidget *> captions = {w->Label1,     w->Label2,     w->Label3, w->Label4,
                                           w->Option1[0], w->Option1[1], w->Check1, w->Check2};
        checkReadable(captions, Qt::white);
        for (QLineEdit *box : {w->Text1, w->Text2}) {
            const QPalette palette = box->palette();
            QCOMPARE(palette.color(QPalette::Base), QColor(Qt::white));
            // Red on white is the given colour, at 4:1.
            QVERIFY(contrastRatio(palette.color(QPalette::Text), Qt::white) >= 3.9);
        }
        QCOMPARE(w->Text2->palette().color(QPalette::Text), QColor(Qt::red));

        w->cmdQuit_KeyDown(Qt::Key_F12);
        const QColor face = w->Frame1->palette().color(QPalette::Window);
        QCOMPARE(face, darkPalette().color(QPalette::Button));
        checkReadable(captions, face);
        w->cmdQuit_KeyDown(Qt::Key_F11);
        checkReadable(captions, Qt::white);

        FakeMainWindow fake;
        dlgOptionen options(fake);
        QList<QWidget *> optionCaptions = {options.findChild<QLabel *>("Label1")};
        for (const char *name : {"Check1", "Check2", "Check3", "Check4"})
            optionCaptions << options.findChild<QCheckBox *>(name);
        checkReadable(optionCaptions, Qt::white);

        dlgExtraOptions extra;
        QCOMPARE(extra.palette().color(extra.backgroundRole()), QColor(Qt::white));
        QList<QWidget *> extraCaptions;
        for (QLabel *label : extra.findChildren<QLabel *>())
            if (!label->text().isEmpty() || label == extra.lblProblem)
                extraCaptions << label;
        for (QCheckBox *box : extra.findChildren<QCheckBox *>())
            extraCaptions << box;
        checkReadable(extraCaptions, Qt::white);
    }

    // Each button and named field of the Extra options dialog has a key of
    // its own in each delivered language: of two on one key, Alt reaches
    // only the first.
    void extraOptionsAccelerators_data()
    {
        QTest::addColumn<QByteArray>("language");
        QTest::newRow("Deutsch") << QByteArray("Deutsch");
        QTest::newRow("English") << QByteArray("English");
    }
    void extraOptionsAccelerators()
    {
        QFETCH(QByteArray, language);
        f.setUp(language, fileBytes(PALLWICK_SOURCE_DIR "/lang/" + language + ".dat"));
        auto w = f.openJob();
        dlgExtraOptions extra(w.get());
        QStringList texts;
        for (QAbstractButton *button : extra.findChildren<QAbstractButton *>())
            texts << button->text();
        for (QLabel *label : extra.findChildren<QLabel *>())
            if (label->buddy())
                texts << label->text();
        QMap<QKeySequence, QString> taken;
        for (const QString &text : texts) {
            const QKeySequence key = QKeySequence::mnemonic(text);
            QVERIFY2(!key.isEmpty(), qPrintable(text));
            QVERIFY2(!taken.contains(key), qPrintable(taken.value(key) + " / " + text));
            taken.insert(key, text);
        }
    }

    // A folder dropped from a file manager replaces the path, decoded, and
    // is checked as if typed; anything but one local folder is refused.
    void folderDrop_data()
    {
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("path"); // the field's text afterwards, "" = unchanged

        const QString folder = m_drops.filePath("drop target %41");
        const QUrl url = QUrl::fromLocalFile(folder);
        const QString path = url.path(QUrl::FullyEncoded);
        const auto row = [](const char *name, const QList<QUrl> &urls, const QString &text,
                            const QString &taken) {
            QTest::newRow(name) << urls << text << !taken.isEmpty() << taken;
        };
        row("folder as uri-list", {url}, {}, folder);
        row("folder with text", {url}, url.toString(), folder);
        row("localhost", {QUrl("file://localhost" + path)}, {}, folder);
        row("file", {QUrl::fromLocalFile(m_drops.filePath("drop file"))}, {}, {});
        row("two folders", {url, url}, {}, {});
        row("remote", {QUrl("sftp://server/srv/data")}, {}, {});
        row("other host", {QUrl("file://fileserver" + path)}, {}, {});
    }
    void folderDrop()
    {
        QFETCH(QList<QUrl>, urls);
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        QFETCH(QString, path);
        auto w = f.openJob();
        const QString missing = f.path("missing");
        w->Text1->setText(missing);
        QCOMPARE(w->Text1->palette().color(QPalette::Text), QColor(Qt::red));

        QMimeData data;
        data.setUrls(urls);
        if (!text.isEmpty())
            data.setText(text);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, &data,
                              Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w->Text1, &enter);
        QCOMPARE(enter.isAccepted(), accepted);
        if (accepted) {
            // Only the name is taken: the source must not take it for a move.
            QCOMPARE(enter.dropAction(), Qt::LinkAction);
            QDropEvent drop(QPointF(5, 5), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                            Qt::NoModifier);
            QApplication::sendEvent(w->Text1, &drop);
            QVERIFY(drop.isAccepted());
            QCOMPARE(drop.dropAction(), Qt::CopyAction);
        }
        QCOMPARE(w->Text1->text(), path.isEmpty() ? missing : path);
        // The folder check ran as for a typed path; the tool tip stays.
        QCOMPARE(w->Text1->palette().color(QPalette::Text), QColor(accepted ? Qt::black : Qt::red));
        QCOMPARE(w->cmdStopStart->isEnabled(), accepted);
        QCOMPARE(w->Text1->toolTip(), f.path("src"));
    }

    // A drag of plain text alone is still the field's own: it is taken.
    void plainTextDropStillTaken()
    {
        auto w = f.openJob();
        QMimeData data;
        data.setText("typed");
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w->Text1, &enter);
        QVERIFY(enter.isAccepted());
    }
};

QTEST_MAIN(tst_Accessibility)
#include "tst_accessibility.moc"
