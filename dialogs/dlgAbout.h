#pragma once

#include <QDialog>
#include <QUrl>

class QLabel;
class QPushButton;

// The About dialog: version, links to the maker's site, the product page and
// support, and an information text. Writes nothing; links go to Shell::open.
class dlgAbout : public QDialog
{
    Q_OBJECT

public:
    explicit dlgAbout(QWidget *parent = nullptr);

    // The link targets, fixed at build time (PALLWICK_WEB_HOST,
    // PALLWICK_SUPPORT_MAIL) and not localized.
    static QUrl makerUrl();
    static QUrl productUrl();
    static QUrl supportUrl();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Form_Load();
    void LoadLanguage();
    void Image1_Click();
    void lblWeburl_Click();
    void lblSupport_Click();
    void cmdQuit_Click();

    QLabel *Image1;
    QLabel *lblVers;
    QLabel *lblVersion;
    QLabel *lblWeb;
    QLabel *lblWeburl;
    QLabel *lblSupp;
    QLabel *lblSupport;
    QLabel *lblFreeware;
    QLabel *lblInfo;
    QPushButton *cmdQuit;
};
