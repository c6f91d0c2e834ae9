#include "dialogs/dlgAbout.h"

#include "app/AccessibleNames.h"
#include "app/DesignLook.h"
#include "dialogs/AppIcon.h"
#include "platform/Shell.h"
#include "settings/Messages.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

#ifndef PALLWICK_WEB_HOST
#define PALLWICK_WEB_HOST "www.pallwick.example"
#endif
#ifndef PALLWICK_SUPPORT_MAIL
#define PALLWICK_SUPPORT_MAIL "support@pallwick.example"
#endif

namespace {

constexpr auto MakerName = "Pallwick Software";

} // namespace

QUrl dlgAbout::makerUrl()
{
    return QUrl(QStringLiteral("https://" PALLWICK_WEB_HOST "/"));
}

QUrl dlgAbout::productUrl()
{
    return QUrl(QStringLiteral("https://" PALLWICK_WEB_HOST "/pallwick/"));
}

QUrl dlgAbout::supportUrl()
{
    return QUrl(QStringLiteral("mailto:" PALLWICK_SUPPORT_MAIL));
}

dlgAbout::dlgAbout(QWidget *parent) : QDialog(parent)
{
    AccessibleNames::install();
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setWindowIcon(appIcon());
    setFixedSize(designRect(0, 0, 4395, 3180).size());
    setFont(designFont(font()));

    const auto makeLabel = [this](const char *name, const QRect &geometry) {
        auto *label = new QLabel(this);
        label->setObjectName(QString::fromLatin1(name));
        label->setGeometry(geometry);
        return label;
    };
    // The addresses come from the build and may be longer than the design
    // allowed for; such a label grows, at most to the dialog's edge.
    const auto fitWidth = [this](QLabel *label) {
        const int wanted = qMax(label->width(), label->sizeHint().width());
        label->resize(qMin(wanted, width() - label->x()), label->height());
    };
    const auto makeLink = [fitWidth](QLabel *label) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, Qt::red);
        label->setPalette(palette);
        label->setCursor(Qt::PointingHandCursor);
        fitWidth(label);
    };

    // Created first so the version labels lie on top of it.
    Image1 = makeLabel("Image1", designRect(0, 0, 4395, 780));
    AccessibleNames::markAsLink(Image1);
    Image1->setPixmap(aboutBanner());
    Image1->setToolTip(QString::fromLatin1(MakerName));
    Image1->setCursor(Qt::PointingHandCursor);

    lblVers = makeLabel("lblVers", designRect(3360, 45, 705, 195));
    lblVersion = makeLabel("lblVersion", designRect(4140, 45, 195, 225));
    lblWeb = makeLabel("lblWeb", designRect(60, 900, 1095, 195));
    lblWeburl = makeLabel("lblWeburl", designRect(1260, 900, 2565, 195));
    AccessibleNames::markAsLink(lblWeburl);
    // Shown the way people type it, without the scheme.
    lblWeburl->setText(productUrl().toString(QUrl::RemoveScheme).mid(2));
    makeLink(lblWeburl);
    lblSupp = makeLabel("lblSupp", designRect(60, 1200, 1095, 195));
    lblSupport = makeLabel("lblSupport", designRect(1260, 1200, 1695, 195));
    AccessibleNames::markAsLink(lblSupport);
    lblSupport->setText(QStringLiteral(PALLWICK_SUPPORT_MAIL));
    makeLink(lblSupport);
    lblFreeware = makeLabel("lblFreeware", designRect(60, 1515, 2685, 225));
    lblInfo = makeLabel("lblInfo", designRect(60, 1830, 4305, 825));
    lblInfo->setWordWrap(true);
    lblInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    cmdQuit = new QPushButton(this);
    cmdQuit->setObjectName(QStringLiteral("cmdQuit"));
    cmdQuit->setGeometry(designRect(2940, 2730, 1365, 345));
    cmdQuit->setCursor(Qt::PointingHandCursor);
    cmdQuit->setFocus();
    connect(cmdQuit, &QPushButton::clicked, this, [this] { cmdQuit_Click(); });

    Image1->setAccessibleName(QString::fromLatin1(MakerName));
    Image1->setAccessibleDescription(makerUrl().toString());
    for (QLabel *link : {Image1, lblWeburl, lblSupport})
        link->installEventFilter(this);
    // With a screen reader at work the three links take the focus after
    // Close and open on Enter or Space; for everyone else Close stays the
    // only control that takes the focus.
    if (AccessibleNames::assistiveTechnologyActive()) {
        for (QLabel *link : {Image1, lblWeburl, lblSupport})
            link->setFocusPolicy(Qt::TabFocus);
        setTabOrder(cmdQuit, Image1);
        setTabOrder(Image1, lblWeburl);
        setTabOrder(lblWeburl, lblSupport);
    }

    Form_Load();
    // The design left the version number less room than the font needs.
    fitWidth(lblVersion);
}

bool dlgAbout::eventFilter(QObject *watched, QEvent *event)
{
    const auto click = [this, watched] {
        if (watched == Image1)
            Image1_Click();
        else if (watched == lblWeburl)
            lblWeburl_Click();
        else if (watched == lblSupport)
            lblSupport_Click();
    };
    auto *label = qobject_cast<QLabel *>(watched);
    if (!label)
        return QDialog::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonRelease: {
        // Labels have no click signal; a left-button release over the label
        // is the click.
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton &&
            label->rect().contains(mouse->position().toPoint())) {
            click();
            return true;
        }
        break;
    }
    case QEvent::KeyPress: {
        // Enter or Space on a link is its click, not the dialog's Close.
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
            click();
            return true;
        }
        break;
    }
    case QEvent::FocusIn:
    case QEvent::FocusOut:
        // A box around the link that has the focus.
        label->setFrameStyle(event->type() == QEvent::FocusIn ? QFrame::Box | QFrame::Plain
                                                              : QFrame::NoFrame);
        break;
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

void dlgAbout::Form_Load()
{
    LoadLanguage();
    lblVersion->setText(QStringLiteral("1.4"));
    lblVersion->resize(qMax(lblVersion->width(), lblVersion->sizeHint().width()),
                       lblVersion->height());
}

void dlgAbout::LoadLanguage()
{
    setWindowTitle(languageText(QStringLiteral("t45")));
    lblVers->setText(languageText(QStringLiteral("t46")));
    lblWeb->setText(languageText(QStringLiteral("t47")));
    lblSupp->setText(languageText(QStringLiteral("t48")));
    cmdQuit->setText(languageText(QStringLiteral("t49")));
    lblFreeware->setText(languageText(QStringLiteral("t51")));
    lblInfo->setText(languageText(QStringLiteral("t52")));
    // The headings tell what the two addresses are.
    lblWeburl->setAccessibleDescription(AccessibleNames::spoken(lblWeb->text()));
    lblSupport->setAccessibleDescription(AccessibleNames::spoken(lblSupp->text()));
}

// The shell's answer is not looked at: with no browser or mail program the
// dialog simply stays as it is.
void dlgAbout::Image1_Click()
{
    (void)Shell::open(makerUrl());
}

void dlgAbout::lblWeburl_Click()
{
    (void)Shell::open(productUrl());
}

void dlgAbout::lblSupport_Click()
{
    (void)Shell::open(supportUrl());
}

void dlgAbout::cmdQuit_Click()
{
    accept();
}
