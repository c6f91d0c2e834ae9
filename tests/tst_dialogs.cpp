#include "app/MainWindowApi.h"
#include "dialogs/dlgAbout.h"
#include "dialogs/dlgOptionen.h"
#include "platform/QtTranslations.h"
#include "platform/Shell.h"
#include "platform/UserStore.h"
#include "settings/ColorValue.h"
#include "settings/FolderChooser.h"
#include "settings/modFolder.h"
#include "settings/modGlobal.h"
#include "support/TestFiles.h"

#include <QTemporaryDir>
#include <QTest>
#include <QtWidgets>
#include <sys/stat.h>

// Records each call as "call LangFile LanguageName" at that moment, because
// the dialog must set both variables in a particular order around the calls.
struct FakeMainWindow : MainWindowApi
{
    QStringList calls;
    void record(const QString &call)
    {
        const QString file = QString(modGlobal::LangFile).remove(modGlobal::programFolder());
        calls << QStringList{call, file, modGlobal::LanguageName}.join(' ');
    }
    void LoadLanguage() override { record("LoadLanguage"); }
    void SetMessages(bool changed) override { record(changed ? "Set(changed)" : "Set"); }
};

const QColor ButtonFace(0x12, 0x34, 0x56);

template <typename T> T *child(QWidget &parent, const char *name)
{
    T *widget = parent.findChild<T *>(name);
    return widget ? widget : (qFatal("no control %s", name), nullptr);
}

class tst_dialogs : public QObject
{
    Q_OBJECT

    std::optional<QTemporaryDir> m_dir;
    FakeMainWindow m_main;
    QTemporaryDir m_pickerDir;
    QString m_longPath =
        m_pickerDir.path() + QString("/folder-with-a-rather-long-name").repeated(8);

    void writeLang(const QString &name, const QByteArray &body = {})
    {
        writeFile(modGlobal::programFolder() + "/lang/" + name, "[frmMain]\r\n" + body);
    }
    static void saveRow(const char *row, QByteArray ini, QString typed, QString file,
                        QStringList calls, QString button = "cmdSave")
    {
        QTest::newRow(row) << ini << typed << file << calls << button;
    }

private slots:
    // A button face unlike white, so the system-colour mapping shows.
    void initTestCase()
    {
        QApplication::setPalette(QPalette(ButtonFace));
        QVERIFY(QDir().mkpath(m_longPath));
    }
    void init()
    {
        const QString root = m_dir.emplace().path();
        modGlobal::setProgramFolder(root);
        modGlobal::IniFile = root + "/Pallwick.ini";
        UserStore::setLocation(root + "/store");
        QVERIFY(QDir(root).mkpath("lang") && QDir(root).mkpath("store"));
        writeLang("Deutsch.dat");
        modGlobal::LangFile = modGlobal::languageFilePath("Deutsch");
        m_main.calls.clear();
    }
    void cleanup() { Shell::setOpener({}); }

    void save_data()
    {
        QTest::addColumn<QByteArray>("settings"); // null: no settings file
        QTest::addColumn<QString>("typed");       // null: the language as shown
        QTest::addColumn<QString>("file");        // whitespace simplified
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QString>("button");
        const QString options = " Save=1 Question=0 DoActionOnStart=0 CheckDestination=1";
        const QString english = "[Options] Language=English";
        const QStringList keep{"Set /lang/English.dat English"};
        const QStringList reload{"LoadLanguage /lang/English.dat stale",
                                 "Set(changed) /lang/English.dat English"};
        saveRow("no file", {}, {}, "[Options]" + options, {"Set /lang/Deutsch.dat Deutsch"});
        saveRow("any non-zero number is on", "DoActionOnStart=2", "English",
                english + " DoActionOnStart=1 Save=1 Question=0 CheckDestination=1", keep);
        saveRow("changed", "", "Deutsch", "[Options] Language=Deutsch" + options,
                {"LoadLanguage /lang/Deutsch.dat stale", "Set(changed) /lang/Deutsch.dat Deutsch"});
        saveRow("cleared", "", "", english + options, reload);
        saveRow("typed unknown", "", "Klingon", english + options, keep);
        saveRow("typed part of a name", "", "Deu", english + options, keep);
        saveRow("cancel", "", "Deutsch", english, {}, "cmdCancel");
    }
    void save()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QString, typed);
        writeLang("English.dat");
        if (!settings.isNull())
            writeFile(modGlobal::IniFile, "[Options]\r\nLanguage=English\r\n" + settings);
        dlgOptionen dlg(m_main);
        modGlobal::LangFile = modGlobal::LanguageName = "stale"; // both must be set again
        if (!typed.isNull()) { // typed key by key, as a user would
            auto *combo = child<QComboBox>(dlg, "Combo1");
            dlg.show();
            dlg.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&dlg));
            combo->clearEditText();
            combo->lineEdit()->setFocus();
            QTest::keyClicks(combo->lineEdit(), typed);
        }
        QFETCH(QString, button);
        child<QPushButton>(dlg, qPrintable(button))->click();
        QTEST(QString(fileBytes(modGlobal::IniFile)).simplified(), "file");
        QTEST(m_main.calls, "calls");
    }

    void questionDisablesSaveCheckBox()
    {
        for (const QByteArray save : {"0", "1"}) {
            writeFile(modGlobal::IniFile, "[Options]\r\nQuestion=1\r\nSave=" + save + "\r\n");
            dlgOptionen dlg(m_main);
            auto *check1 = child<QCheckBox>(dlg, "Check1");
            QVERIFY(!check1->isEnabled());
            child<QCheckBox>(dlg, "Check2")->click();
            QVERIFY(check1->isEnabled());
            QCOMPARE(check1->isChecked(), save == "1");
        }
    }

    void languageList()
    {
        for (const char *name : {"English.dat", "English.DAT", "Old.dat.bak", ".Hidden.dat"})
            writeLang(name);
        const QDir lang(modGlobal::programFolder() + "/lang");
        QVERIFY(lang.mkdir("Folder.dat") && lang.mkdir(".Hidden"));
        // A link to a language file is one; links to anything else are not.
        QVERIFY(QFile::link("English.dat", lang.filePath("Linked.dat")));
        QVERIFY(QFile::link("Folder.dat", lang.filePath("ToFolder.dat")));
        QVERIFY(QFile::link("nowhere.dat", lang.filePath("Dangling.dat")));
        QVERIFY(QFile::link("/dev/null", lang.filePath("Device.dat")));
        QCOMPARE(::mkfifo(qPrintable(lang.filePath("Fifo.dat")), 0600), 0);
        dlgOptionen dlg(m_main);
        QStringList names = dlg.languageNames(), shownReversed;
        auto *combo = child<QComboBox>(dlg, "Combo1");
        for (int i = combo->count() - 1; i >= 0; --i)
            shownReversed << combo->itemText(i);
        QCOMPARE(shownReversed, names);
        names.sort();
        QCOMPARE(names, QStringList({"Deutsch", "English", "English.DAT", "Linked", "Old.bak"}));
    }

    void backColor_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<QColor>>("expected");
        using C = std::optional<QColor>;
        QTest::newRow("system button face") << "&H8000000F" << C(ButtonFace);
        QTest::newRow("red, stored BGR") << "&H000000FF" << C(Qt::red);
        QTest::newRow("decimal system colour") << "-2147483633" << C(ButtonFace);
        QTest::newRow("one character") << "7" << C(QColor(7, 0, 0));
        QTest::newRow("letters") << "zz" << C();
        QTest::newRow("unknown system index") << "&H8000001F" << C();
    }
    void backColor()
    {
        QFETCH(QString, text);
        QFETCH(std::optional<QColor>, expected);
        QCOMPARE(colorFromStoredText(text), expected);
        UserStore::save(UserStore::appName(), "Options", "BGColor", text);
        dlgOptionen dlg(m_main);
        // A single character is no colour setting; white is the dialog's own.
        const QColor shown = text.size() > 1 ? expected.value_or(Qt::white) : Qt::white;
        QCOMPARE(child<QWidget>(dlg, "Frame1")->palette().color(QPalette::Window), shown);
        QCOMPARE(dlg.palette().color(QPalette::Window), shown);
    }

    // Qt's standard buttons speak the language asked for, and English again
    // once that is asked for.
    void qtTranslations()
    {
        const auto buttons = [] {
            QDialogButtonBox box(QDialogButtonBox::Yes | QDialogButtonBox::No |
                                 QDialogButtonBox::Cancel);
            return box.button(QDialogButtonBox::Yes)->text() +
                   box.button(QDialogButtonBox::No)->text() +
                   box.button(QDialogButtonBox::Cancel)->text();
        };
        QVERIFY2(QtTranslations::install(QLocale(QLocale::German, QLocale::Germany)),
                 "Qt's German translations are not installed");
        QCOMPARE(buttons(), "&Ja&NeinAbbrechen");
        QtTranslations::install(QLocale(QLocale::C));
        QCOMPARE(buttons(), "&Yes&NoCancel");
    }

    // Missing texts stay empty; the links still work, even where the desktop
    // has no browser (the opener fails), and the dialog stays open.
    void about()
    {
        writeLang("Deutsch.dat", "t44=x\r\nt53=y\r\n");
        QList<QUrl> opened;
        Shell::setOpener([&opened](const QUrl &url) { return opened << url, false; });
        dlgAbout dlg;
        dlg.show();
        QCOMPARE(dlg.windowTitle() + child<QPushButton>(dlg, "cmdQuit")->text(), "");
        for (const char *link : {"Image1", "lblWeburl", "lblSupport"})
            QTest::mouseClick(child<QLabel>(dlg, link), Qt::LeftButton);
        const QString maker = "https://" + dlgAbout::makerUrl().host() + "/";
        QCOMPARE(opened, (QList<QUrl>{maker, maker + "pallwick/", dlgAbout::supportUrl()}));
        QVERIFY(dlg.isVisible());
    }

    void startFolder_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<bool>("elided");
        QTest::newRow("long path") << m_longPath + "/" << m_longPath << true;
        QTest::newRow("short path") << m_pickerDir.path() << m_pickerDir.path() << false;
        QTest::newRow("empty") << QString() << QString() << false;
        QTest::newRow("missing") << m_pickerDir.filePath("no-such-folder") << QString() << false;
    }
    void startFolder()
    {
        QFETCH(QString, start);
        QFETCH(QString, selected);
        FolderChooser chooser("Quellordner:", start);
        chooser.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chooser));
        QCOMPARE(chooser.selectedPath(), selected); // the current item's path
        auto *tree = chooser.findChild<QTreeView *>("tree");
        auto *selection = tree->selectionModel();
        QCOMPARE(selection->selectedRows().value(0), selection->currentIndex());
        QCOMPARE(selection->hasSelection(), !selected.isEmpty());
        auto *status = chooser.findChild<QLabel *>("status");
        const QString text = status->text();
        QVERIFY(status->fontMetrics().horizontalAdvance(text) <= status->contentsRect().width());
        const QString full = selected.isEmpty() ? "" : "Auswahl: " + selected;
        const QStringList ends = text.split(QChar(0x2026)); // head and tail when shortened
        QTEST(ends.size() == 2, "elided");
        QVERIFY(full.startsWith(ends.first()) && full.endsWith(ends.last()));
        QVERIFY(full.isEmpty() || (ends.first().size() > 9 && !ends.last().isEmpty()));
        // Without a start folder the user's own folder is in view, once the
        // tree has loaded and sorted its rows.
        if (selected.isEmpty()) {
            const auto homeShown = [tree] {
                const auto *model = static_cast<QFileSystemModel *>(tree->model());
                const QRect home = tree->visualRect(model->index(QDir::homePath()));
                return !home.isEmpty() && tree->viewport()->rect().contains(home);
            };
            QTest::qWait(300);
            QTRY_VERIFY(homeShown());
        }
    }

    void browse_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("statusLine");
        QTest::addColumn<bool>("accept");
        QTest::addColumn<QString>("shown");
        QTest::newRow("dollar with status, OK") << "$" << true << true << "";
        QTest::newRow("dollar without status, cancel") << "$" << false << false << "$";
    }
    void browse()
    {
        QFETCH(QString, title);
        QFETCH(bool, statusLine);
        QFETCH(bool, accept);
        QFETCH(QString, shown);
        QString seen = "<not opened>";
        QTimer answer; // looks at, then closes the chooser once it is shown
        connect(&answer, &QTimer::timeout, [&] {
            if (auto *c = qobject_cast<FolderChooser *>(QApplication::activeModalWidget())) {
                c->selectPath(m_longPath);
                seen = c->titleText();
                accept ? c->accept() : c->reject();
            }
        });
        answer.start(10);
        QCOMPARE(modFolder::BrowseFolder(title, {}, nullptr, statusLine, {}, true, false),
                 accept ? m_longPath : QString()); // the full path, not the shortened text
        QCOMPARE(seen, shown);
    }
};

QTEST_MAIN(tst_dialogs)
#include "tst_dialogs.moc"
