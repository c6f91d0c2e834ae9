#include "app/AccessibleNames.h"

#include "app/frmMain.h"
#include "settings/Messages.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace {

constexpr auto LinkProperty = "pallwickLink";

std::optional<bool> &activeOverride()
{
    static std::optional<bool> active;
    return active;
}

// A key the language file may lack: then the English text.
QString optionalText(const char *key, const char *english)
{
    const QString text = languageText(QLatin1String(key));
    return text.isEmpty() ? QString::fromLatin1(english) : text;
}

class AccessibleLink : public QAccessibleWidget
{
public:
    explicit AccessibleLink(QWidget *label) : QAccessibleWidget(label, QAccessible::Link) {}

    QString text(QAccessible::Text t) const override
    {
        QString text = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && text.isEmpty())
            text = static_cast<QLabel *>(widget())->text();
        return text;
    }

    QStringList actionNames() const override
    {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString &actionName) override
    {
        if (actionName != pressAction()) {
            QAccessibleWidget::doAction(actionName);
            return;
        }
        QCoreApplication::postEvent(widget(),
                                    new QKeyEvent(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier));
    }
};

// A combo box as Qt presents it (its list and its text field as children,
// the value as text, a menu to open), but named by its accessible name when
// it has one: on Linux Qt 6.4 would name it by the value it shows.
class AccessibleCombo : public QAccessibleWidget
{
public:
    explicit AccessibleCombo(QComboBox *box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

    QComboBox *box() const { return static_cast<QComboBox *>(widget()); }

    int childCount() const override { return box()->isEditable() ? 2 : 1; }

    QAccessibleInterface *child(int index) const override
    {
        if (index == 0)
            return QAccessible::queryAccessibleInterface(box()->view());
        if (index == 1 && box()->isEditable())
            return QAccessible::queryAccessibleInterface(box()->lineEdit());
        return nullptr;
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        if (box()->view() == child->object())
            return 0;
        if (box()->isEditable() && box()->lineEdit() == child->object())
            return 1;
        return -1;
    }

    QAccessibleInterface *childAt(int x, int y) const override
    {
        if (box()->isEditable() &&
            box()->lineEdit()->rect().contains(box()->lineEdit()->mapFromGlobal(QPoint(x, y))))
            return child(1);
        return nullptr;
    }

    QString text(QAccessible::Text t) const override
    {
        const QString value =
            box()->isEditable() ? box()->lineEdit()->text() : box()->currentText();
        switch (t) {
        case QAccessible::Name:
            return box()->accessibleName().isEmpty() ? value : box()->accessibleName();
        case QAccessible::Value:
            return value;
        default:
            return QAccessibleWidget::text(t);
        }
    }

    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }

    void doAction(const QString &actionName) override
    {
        if (actionName != showMenuAction() && actionName != pressAction())
            return;
        if (box()->view()->isVisible())
            box()->hidePopup();
        else
            box()->showPopup();
    }

    QStringList keyBindingsForAction(const QString &) const override { return {}; }
};

QAccessibleInterface *factory(const QString &, QObject *object)
{
    if (auto *box = qobject_cast<QComboBox *>(object))
        return new AccessibleCombo(box);
    if (auto *label = qobject_cast<QLabel *>(object);
        label && label->property(LinkProperty).toBool())
        return new AccessibleLink(label);
    return nullptr;
}

} // namespace

namespace AccessibleNames {

void install()
{
    // After QApplication's own factory, so this one is asked first.
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    (void)installed;
}

QString spoken(const QString &caption)
{
    // "&&" stands for one "&"; a single "&" only marks the access key.
    QString text;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&') && ++i == caption.size())
            break;
        text += caption[i];
    }
    return text;
}

void nameMainWindow(frmMain &window)
{
    // The buddies name the two path fields (Qt reads the label's text).
    window.Label1->setBuddy(window.Text1);
    window.Label2->setBuddy(window.Text2);
    window.Label3->setBuddy(window.Combo1);
    window.Label4->setBuddy(window.List1);
    // The interval box would be named by the interval it shows, the list by
    // nothing.
    nameComboBox(window.Combo1, spoken(window.Msg[msgInterval]));
    window.List1->setAccessibleName(spoken(window.Msg[msgLog]));
    window.cmdFrom->setAccessibleName(optionalText("t62", "Choose source folder"));
    window.cmdTo->setAccessibleName(optionalText("t63", "Choose destination folder"));
}

void nameComboBox(QComboBox *box, const QString &name)
{
    box->setAccessibleName(name);
    // The text field inside takes the focus for the box.
    if (box->lineEdit())
        box->lineEdit()->setAccessibleName(name);
}

void markAsLink(QWidget *label)
{
    label->setProperty(LinkProperty, true);
}

bool assistiveTechnologyActive()
{
    return activeOverride().value_or(QAccessible::isActive());
}

void setAssistiveTechnologyActive(std::optional<bool> active)
{
    activeOverride() = active;
}

} // namespace AccessibleNames
