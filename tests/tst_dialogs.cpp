#include "app/MainWindowApi.h"
#include "dialogs/AppIcon.h"
#include "dialogs/dlgAbout.h"
#include "dialogs/dlgOptionen.h"
#include "platform/Shell.h"
#include "platform/UserStore.h"
#include "settings/ColorValue.h"
#include "settings/modGlobal.h"
#include "settings/modIniHandler.h"
#include "support/TestFiles.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

namespace {

// Records each call together with the language variables at that moment,
// because the dialog must set them in a particular order around the calls.
class FakeMainWindow : public MainWindowApi
{
public:
    struct Call
    {
        QString name;
        bool languageChanged = false;
        QString langFile;
        QString languageName;
    };
    QList<Call> calls;

    void LoadLanguage() override
    {
        calls.append(
            {QStringLiteral("LoadLanguage"), false, modGlobal::LangFile, modGlobal::LanguageName});
    }
    void SetMessages(bool languageChanged) override
    {
        calls.append({QStringLiteral("SetMessages"), languageChanged, modGlobal::LangFile,
                      modGlobal::LanguageName});
    }
};

const QColor ButtonFace(0x12, 0x34, 0x56);

// Keys of the settings file in the order they stand in it.
QStringList keysInFile(const QString &path)
{
    QStringList keys;
    static const QRegularExpression keyLine(QStringLiteral("^\\s*([^=\\[\\s]+)\\s*="));
    for (const QString &line : QString::fromLocal8Bit(fileBytes(path)).split(QLatin1Char('\n'))) {
        const auto match = keyLine.match(line);
        if (match.hasMatch())
            keys << match.captured(1);
    }
    return keys;
}

QString stored(const QString &key)
{
    return ReadIni(QStringLiteral("Options"), key, "<none>", 256);
}

template <typename T> T *child(QWidget &parent, const char *name)
{
    T *widget = parent.findChild<T *>(QString::fromLatin1(name));
    if (!widget)
        qFatal("no control %s", name);
    return widget;
}

} // namespace

class tst_dialogs : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_langDir;

    void writeLang(const QString &fileName, const QByteArray &body)
    {
        writeFile(m_langDir + QLatin1Char('/') + fileName, "[frmMain]\r\n" + body);
    }

private slots:
    void initTestCase()
    {
        // A button face that differs from white and from the window colour,
        // so the system-colour mapping is visible.
        QPalette palette = QApplication::palette();
        palette.setColor(QPalette::Button, ButtonFace);
        QApplication::setPalette(palette);
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        const QString root = m_dir->path();
        modGlobal::setProgramFolder(root);
        modGlobal::IniFile = root + QStringLiteral("/Pallwick.ini");
        m_langDir = root + QStringLiteral("/lang");
        QVERIFY(QDir().mkpath(m_langDir));
        writeLang(QStringLiteral("Deutsch.dat"), "t38=&Optionen\r\n");
        modGlobal::LangFile = modGlobal::languageFilePath(QStringLiteral("Deutsch"));
        modGlobal::LanguageName = QStringLiteral("Deutsch");
        QVERIFY(QDir().mkpath(root + QStringLiteral("/store")));
        UserStore::setLocation(root + QStringLiteral("/store"));
    }

    void cleanup()
    {
        Shell::setOpener({});
        UserStore::setLocation(QString());
        modGlobal::setProgramFolder(QString());
        m_dir.reset();
    }

    void optionsDefaultsWithoutSettingsFile()
    {
        FakeMainWindow main;
        dlgOptionen dlg(main);
        auto *check1 = child<QCheckBox>(dlg, "Check1");
        QCOMPARE(check1->isChecked(), true);
        QCOMPARE(child<QCheckBox>(dlg, "Check2")->isChecked(), false);
        QCOMPARE(child<QCheckBox>(dlg, "Check3")->isChecked(), false);
        QCOMPARE(child<QCheckBox>(dlg, "Check4")->isChecked(), true);
        QVERIFY(check1->isEnabled());
        QCOMPARE(child<QComboBox>(dlg, "Combo1")->currentText(), QStringLiteral("Deutsch"));

        dlg.show();
        QTest::mouseClick(child<QPushButton>(dlg, "cmdSave"), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QVERIFY(!dlg.isVisible());
        QCOMPARE(keysInFile(modGlobal::IniFile),
                 QStringList({"Save", "Question", "DoActionOnStart", "CheckDestination"}));
        QCOMPARE(stored("Save"), QStringLiteral("1"));
        QCOMPARE(stored("Question"), QStringLiteral("0"));
        QCOMPARE(stored("DoActionOnStart"), QStringLiteral("0"));
        QCOMPARE(stored("CheckDestination"), QStringLiteral("1"));
    }

    void optionsTextsFromLanguageFile()
    {
        writeLang(QStringLiteral("Deutsch.dat"), "t37=Save settings\r\nt38=&Op&tions\r\n"
                                                 "t39=Ask\r\nt40=Run at once\r\nt41=&Cancel\r\n"
                                                 "t42=&Save\r\nt43=Language\r\nt50=No check\r\n");
        FakeMainWindow main;
        dlgOptionen dlg(main);
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Pallwick Lite - Options"));
        QCOMPARE(child<QCheckBox>(dlg, "Check1")->text(), QStringLiteral("Save settings"));
        QCOMPARE(child<QCheckBox>(dlg, "Check2")->text(), QStringLiteral("Ask"));
        QCOMPARE(child<QCheckBox>(dlg, "Check3")->text(), QStringLiteral("Run at once"));
        QCOMPARE(child<QCheckBox>(dlg, "Check4")->text(), QStringLiteral("No check"));
        QCOMPARE(child<QPushButton>(dlg, "cmdCancel")->text(), QStringLiteral("&Cancel"));
        QCOMPARE(child<QPushButton>(dlg, "cmdSave")->text(), QStringLiteral("&Save"));
        QCOMPARE(child<QLabel>(dlg, "Label1")->text(), QStringLiteral("Language"));
    }

    void questionDisablesSaveCheckBox_data()
    {
        QTest::addColumn<QString>("saveValue");
        QTest::newRow("save on") << "1";
        QTest::newRow("save off") << "0";
    }
    void questionDisablesSaveCheckBox()
    {
        QFETCH(QString, saveValue);
        writeFile(modGlobal::IniFile,
                  "[Options]\r\nQuestion=1\r\nSave=" + saveValue.toLatin1() + "\r\n");
        FakeMainWindow main;
        dlgOptionen dlg(main);
        dlg.show();
        auto *check1 = child<QCheckBox>(dlg, "Check1");
        auto *check2 = child<QCheckBox>(dlg, "Check2");
        const bool ticked = saveValue == QLatin1String("1");
        QVERIFY(check2->isChecked());
        QVERIFY(!check1->isEnabled());
        QCOMPARE(check1->isChecked(), ticked);

        check2->click();
        QVERIFY(check1->isEnabled());
        QCOMPARE(check1->isChecked(), ticked);
        check2->click();
        QVERIFY(!check1->isEnabled());

        // A disabled Check1 is still saved.
        QTest::mouseClick(child<QPushButton>(dlg, "cmdSave"), Qt::LeftButton);
        QCOMPARE(stored("Save"), saveValue);
        QCOMPARE(stored("Question"), QStringLiteral("1"));
    }

    void storedOptionValues_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("ticked");
        QTest::addColumn<QString>("written");
        QTest::newRow("0") << QByteArray("0") << false << "0";
        QTest::newRow("1") << QByteArray("1") << true << "1";
        QTest::newRow("other number") << QByteArray("2") << true << "1";
        QTest::newRow("negative") << QByteArray("-1") << true << "1";
        QTest::newRow("text") << QByteArray("yes") << false << "0";
        QTest::newRow("empty value") << QByteArray("") << false << "0";
    }
    void storedOptionValues()
    {
        QFETCH(QByteArray, value);
        QFETCH(bool, ticked);
        QFETCH(QString, written);
        writeFile(modGlobal::IniFile, "[Options]\r\nDoActionOnStart=" + value + "\r\n");
        FakeMainWindow main;
        dlgOptionen dlg(main);
        QCOMPARE(child<QCheckBox>(dlg, "Check3")->isChecked(), ticked);
        dlg.show();
        QTest::mouseClick(child<QPushButton>(dlg, "cmdSave"), Qt::LeftButton);
        QCOMPARE(stored("DoActionOnStart"), written);
    }

    void languageListFromFolder()
    {
        for (const char *name : {"English.dat", "English.DAT", "notes.txt", "Old.dat.bak"})
            writeLang(QString::fromLatin1(name), "");
        // None of these is a plain visible file, so none is offered.
        writeLang(QStringLiteral(".Hidden.dat"), "");
        QVERIFY(QDir(m_langDir).mkdir(QStringLiteral("Folder.dat")));
        QVERIFY(QFile::link(m_langDir + QStringLiteral("/Deutsch.dat"),
                            m_langDir + QStringLiteral("/Link.dat")));
        writeFile(modGlobal::IniFile, "[Options]\r\nLanguage=Klingon\r\n");

        FakeMainWindow main;
        dlgOptionen dlg(main);
        const QStringList names = dlg.languageNames();
        QStringList sorted = names;
        sorted.sort();
        QCOMPARE(sorted,
                 QStringList({"Deutsch", "English", "English.DAT", "Old.bak", "notes.txt"}));

        auto *combo = child<QComboBox>(dlg, "Combo1");
        QStringList shown;
        for (int i = 0; i < combo->count(); ++i)
            shown << combo->itemText(i);
        QStringList reversed(names.crbegin(), names.crend());
        QCOMPARE(shown, reversed);
        // The stored name is shown even though no file bears it.
        QCOMPARE(combo->currentText(), QStringLiteral("Klingon"));
    }

    void saveLanguage_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("storedAfter"); // "<none>" = key absent
        QTest::addColumn<bool>("reloaded");
        QTest::addColumn<bool>("changed");
        QTest::addColumn<QString>("nameAfter");

        QTest::newRow("unchanged") << QByteArray() << "Deutsch"
                                   << "<none>" << false << false << "Deutsch";
        QTest::newRow("changed") << QByteArray() << "English"
                                 << "English" << true << true << "English";
        QTest::newRow("back to default")
            << QByteArray("[Options]\r\nLanguage=English\r\n") << "Deutsch"
            << "Deutsch" << true << true << "Deutsch";
        QTest::newRow("file name with other extension")
            << QByteArray() << "English.DAT"
            << "English.DAT" << true << true << "English.DAT";
        QTest::newRow("cleared") << QByteArray("[Options]\r\nLanguage=English\r\n") << ""
                                 << "English" << true << true << "English";
        QTest::newRow("typed unknown") << QByteArray() << "Klingon"
                                       << "<none>" << false << false << "Deutsch";
        QTest::newRow("other letter case") << QByteArray() << "english"
                                           << "<none>" << false << false << "Deutsch";
    }
    void saveLanguage()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QString, typed);
        QFETCH(QString, storedAfter);
        QFETCH(bool, reloaded);
        QFETCH(bool, changed);
        QFETCH(QString, nameAfter);

        writeLang(QStringLiteral("English.dat"), "");
        writeLang(QStringLiteral("English.DAT"), "");
        if (!settings.isEmpty())
            writeFile(modGlobal::IniFile, settings);

        FakeMainWindow main;
        dlgOptionen dlg(main);
        // Both variables must be set again from the settings file.
        modGlobal::LangFile = QStringLiteral("stale");
        modGlobal::LanguageName = QStringLiteral("stale");
        child<QComboBox>(dlg, "Combo1")->setEditText(typed);
        dlg.show();
        QTest::mouseClick(child<QPushButton>(dlg, "cmdSave"), Qt::LeftButton);

        QCOMPARE(stored(QStringLiteral("Language")), storedAfter);
        QStringList keys = keysInFile(modGlobal::IniFile);
        QCOMPARE(keys.mid(keys.indexOf(QStringLiteral("Save")), 4),
                 QStringList({"Save", "Question", "DoActionOnStart", "CheckDestination"}));

        const QString newPath = modGlobal::languageFilePath(nameAfter);
        QCOMPARE(main.calls.size(), reloaded ? 2 : 1);
        if (reloaded) {
            QCOMPARE(main.calls[0].name, QStringLiteral("LoadLanguage"));
            QCOMPARE(main.calls[0].langFile, newPath);
            QCOMPARE(main.calls[0].languageName, QStringLiteral("stale"));
        }
        const FakeMainWindow::Call &last = main.calls.last();
        QCOMPARE(last.name, QStringLiteral("SetMessages"));
        QCOMPARE(last.languageChanged, changed);
        QCOMPARE(last.langFile, newPath);
        QCOMPARE(last.languageName, nameAfter);
        QVERIFY(dlg.languageNames().isEmpty());
    }

    void enterKeySaves()
    {
        FakeMainWindow main;
        dlgOptionen dlg(main);
        dlg.show();
        QTest::keyClick(&dlg, Qt::Key_Return);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(stored("Save"), QStringLiteral("1"));
        QCOMPARE(main.calls.size(), 1);
    }

    void cancelWritesNothing_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("cancel button") << 0;
        QTest::newRow("close box") << 1;
        QTest::newRow("escape key") << 2;
    }
    void cancelWritesNothing()
    {
        QFETCH(int, how);
        writeLang(QStringLiteral("English.dat"), "");
        const QByteArray before = "[Options]\r\nSave=0\r\nLanguage=Deutsch\r\n";
        writeFile(modGlobal::IniFile, before);

        FakeMainWindow main;
        dlgOptionen dlg(main);
        dlg.show();
        child<QCheckBox>(dlg, "Check1")->click();
        child<QCheckBox>(dlg, "Check3")->click();
        child<QComboBox>(dlg, "Combo1")->setEditText(QStringLiteral("English"));
        if (how == 0)
            QTest::mouseClick(child<QPushButton>(dlg, "cmdCancel"), Qt::LeftButton);
        else if (how == 1)
            dlg.close();
        else
            QTest::keyClick(&dlg, Qt::Key_Escape);

        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QCOMPARE(fileBytes(modGlobal::IniFile), before);
        QVERIFY(main.calls.isEmpty());
        QCOMPARE(modGlobal::LanguageName, QStringLiteral("Deutsch"));
    }

    void optionsBackColor_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("button face") << "&H8000000F" << ButtonFace;
        QTest::newRow("white") << "&H00FFFFFF" << QColor(Qt::white);
        QTest::newRow("red, stored BGR") << "&H000000FF" << QColor(Qt::red);
        QTest::newRow("absent") << QString() << QColor(Qt::white);
        QTest::newRow("one character") << "7" << QColor(Qt::white);
        QTest::newRow("not a number") << "zz" << QColor(Qt::white);
    }
    void optionsBackColor()
    {
        QFETCH(QString, stored);
        QFETCH(QColor, expected);
        if (!stored.isNull())
            UserStore::save(UserStore::appName(), QStringLiteral("Options"),
                            QStringLiteral("BGColor"), stored);
        FakeMainWindow main;
        dlgOptionen dlg(main);
        for (const char *name : {"Frame1", "Check1", "Check2", "Check3", "Check4"}) {
            auto *widget = child<QWidget>(dlg, name);
            QVERIFY2(widget->autoFillBackground(), name);
            // The role the widget actually fills its background with.
            QCOMPARE(widget->palette().color(widget->backgroundRole()), expected);
        }
        QVERIFY(dlg.autoFillBackground());
        QCOMPARE(dlg.palette().color(QPalette::Window), expected);
    }

    void colorFromText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<QColor>>("expected");
        using C = std::optional<QColor>;
        QTest::newRow("system button face") << "&H8000000F" << C(ButtonFace);
        QTest::newRow("same as decimal") << "-2147483633" << C(ButtonFace);
        QTest::newRow("system window")
            << "&H80000005" << C(QApplication::palette().color(QPalette::Base));
        QTest::newRow("white") << "&H00FFFFFF" << C(Qt::white);
        QTest::newRow("short hex is red") << "&HFF" << C(Qt::red);
        QTest::newRow("lower-case prefix") << "&h0000ff00" << C(Qt::green);
        QTest::newRow("blue") << "&H00FF0000" << C(Qt::blue);
        QTest::newRow("decimal blue") << "16711680" << C(Qt::blue);
        QTest::newRow("prefix only") << "&H" << C();
        QTest::newRow("nine digits") << "&H123456789" << C();
        QTest::newRow("sign in hex") << "&H-1" << C();
        QTest::newRow("letters") << "zz" << C();
        QTest::newRow("empty") << "" << C();
        QTest::newRow("decimal too large") << "99999999999" << C();
        QTest::newRow("unknown system index") << "&H8000001F" << C();
        QTest::newRow("unused system index") << "&H80000019" << C();
        QTest::newRow("other high byte") << "&H01000000" << C();
    }
    void colorFromText()
    {
        QFETCH(QString, text);
        QFETCH(std::optional<QColor>, expected);
        QCOMPARE(colorFromStoredText(text), expected);
    }

    void aboutTexts_data()
    {
        QTest::addColumn<QByteArray>("keys");
        QTest::addColumn<QStringList>("texts"); // title, lblVers, lblWeb, lblSupp, cmdQuit,
                                                // lblFreeware, lblInfo
        QTest::newRow("all keys") << QByteArray("t44=x\r\nt45=About\r\nt46=Version\r\nt47=Web:\r\n"
                                                "t48=Support:\r\nt49=&Close\r\nt50=x\r\n"
                                                "t51=Free!\r\nt52=Visit us\r\n")
                                  << QStringList({"About", "Version", "Web:", "Support:", "&Close",
                                                  "Free!", "Visit us"});
        QTest::newRow("no keys") << QByteArray("t0=Source\r\n")
                                 << QStringList({"", "", "", "", "", "", ""});
    }
    void aboutTexts()
    {
        QFETCH(QByteArray, keys);
        QFETCH(QStringList, texts);
        writeLang(QStringLiteral("Deutsch.dat"), keys);
        dlgAbout dlg;
        QCOMPARE(dlg.windowTitle(), texts[0]);
        QCOMPARE(child<QLabel>(dlg, "lblVers")->text(), texts[1]);
        QCOMPARE(child<QLabel>(dlg, "lblWeb")->text(), texts[2]);
        QCOMPARE(child<QLabel>(dlg, "lblSupp")->text(), texts[3]);
        QCOMPARE(child<QPushButton>(dlg, "cmdQuit")->text(), texts[4]);
        QCOMPARE(child<QLabel>(dlg, "lblFreeware")->text(), texts[5]);
        QCOMPARE(child<QLabel>(dlg, "lblInfo")->text(), texts[6]);

        QCOMPARE(child<QLabel>(dlg, "lblVersion")->text(), QStringLiteral("1.4"));
        const QUrl product = dlgAbout::productUrl();
        QCOMPARE(child<QLabel>(dlg, "lblWeburl")->text(), product.host() + product.path());
        QCOMPARE(child<QLabel>(dlg, "lblSupport")->text(), dlgAbout::supportUrl().path());
    }

    void aboutLinksOpenThroughShell_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QString>("path");
        QTest::newRow("banner: maker's site") << "Image1"
                                              << "https"
                                              << "/";
        QTest::newRow("product page") << "lblWeburl"
                                      << "https"
                                      << "/pallwick/";
        QTest::newRow("support mail") << "lblSupport"
                                      << "mailto"
                                      << "";
    }
    void aboutLinksOpenThroughShell()
    {
        QFETCH(QString, control);
        QFETCH(QString, scheme);
        QFETCH(QString, path);
        QList<QUrl> opened;
        // Fails like a desktop without a browser: the dialog must not care.
        Shell::setOpener([&opened](const QUrl &url) {
            opened.append(url);
            return false;
        });
        dlgAbout dlg;
        dlg.show();
        auto *label = dlg.findChild<QLabel *>(control);
        QVERIFY(label);
        QCOMPARE(label->cursor().shape(), Qt::PointingHandCursor);
        QTest::mouseClick(label, Qt::LeftButton);
        QTest::mouseClick(label, Qt::LeftButton);
        QCOMPARE(opened.size(), 2);
        QCOMPARE(opened[1], opened[0]);
        QVERIFY(dlg.isVisible());
        // A right click is no click on a link.
        QTest::mouseClick(label, Qt::RightButton);
        QCOMPARE(opened.size(), 2);

        const QUrl &url = opened[0];
        QCOMPARE(url.scheme(), scheme);
        if (scheme == QLatin1String("mailto")) {
            QVERIFY(url.path().contains(QLatin1Char('@')));
            QCOMPARE(url, dlgAbout::supportUrl());
        } else {
            QCOMPARE(url.path(), path);
            QCOMPARE(url.host(), dlgAbout::makerUrl().host());
            QVERIFY(!url.host().isEmpty());
        }
    }

    void aboutLooks()
    {
        dlgAbout dlg;
        auto *banner = child<QLabel>(dlg, "Image1");
        QCOMPARE(banner->pixmap().size(), QSize(293, 52));
        QVERIFY(!banner->toolTip().isEmpty());
        for (const char *name : {"lblWeburl", "lblSupport"})
            QCOMPARE(child<QLabel>(dlg, name)->palette().color(QPalette::WindowText),
                     QColor(Qt::red));
        // Both pictures come from the library's resources, which must be
        // registered before use.
        QVERIFY(!appIcon().pixmap(32).isNull());
    }

    void aboutQuitCloses()
    {
        QList<QUrl> opened;
        Shell::setOpener([&opened](const QUrl &url) {
            opened.append(url);
            return true;
        });
        dlgAbout dlg;
        dlg.show();
        QTest::mouseClick(child<QPushButton>(dlg, "cmdQuit"), Qt::LeftButton);
        QVERIFY(!dlg.isVisible());
        QVERIFY(opened.isEmpty());
    }
};

QTEST_MAIN(tst_dialogs)
#include "tst_dialogs.moc"
