#include "app/DesignLook.h"

#include <QApplication>
#include <QFont>
#include <QPalette>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOptionComplex>
#include <QWidget>

namespace {

// Size of the check mark box: fits the 13-pixel check boxes of the design.
constexpr int IndicatorSize = 13;
// Width of a drop-down button, as narrow as the design's.
constexpr int DropDownWidth = 15;

class DesignStyle : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;

    int pixelMetric(PixelMetric metric, const QStyleOption *option,
                    const QWidget *widget) const override
    {
        switch (metric) {
        case PM_IndicatorWidth:
        case PM_IndicatorHeight:
            return IndicatorSize;
        default:
            return QProxyStyle::pixelMetric(metric, option, widget);
        }
    }

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex *option, SubControl sub,
                         const QWidget *widget) const override
    {
        if (control == CC_ComboBox && (sub == SC_ComboBoxArrow || sub == SC_ComboBoxEditField)) {
            const QRect r = option->rect;
            if (sub == SC_ComboBoxArrow)
                return visualRect(
                    option->direction, r,
                    QRect(r.right() - DropDownWidth + 1, r.top(), DropDownWidth, r.height()));
            // One pixel of frame on three sides; the button takes the rest.
            return visualRect(
                option->direction, r,
                QRect(r.left() + 1, r.top() + 1, r.width() - DropDownWidth - 1, r.height() - 2));
        }
        return QProxyStyle::subControlRect(control, option, sub, widget);
    }
};

QStyle *designStyle()
{
    static QPointer<QStyle> style;
    if (!style) {
        // Built on a fresh copy of the desktop's style: a proxy takes its base.
        QStyle *base = QStyleFactory::create(QApplication::style()->name());
        style = new DesignStyle(base);
        style->setParent(qApp);
    }
    return style;
}

} // namespace

QFont designFont(QFont font)
{
    font.setPixelSize(11);
    // The design's font was a narrow one; common desktop fonts run about a
    // tenth wider, enough to cut "560 Minuten" in the interval list.
    font.setStretch(QFont::SemiCondensed);
    return font;
}

void applyDesignStyle(QWidget *window)
{
    QStyle *style = designStyle();
    window->setStyle(style);
    for (QWidget *child : window->findChildren<QWidget *>())
        child->setStyle(style);
}

void paintBackground(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(widget->backgroundRole(), color);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

QColor contrastingText(const QColor &background)
{
    // Perceived brightness (ITU-R BT.601 weights), 0 to 255.
    const int brightness =
        (299 * background.red() + 587 * background.green() + 114 * background.blue()) / 1000;
    return brightness >= 128 ? QColor(Qt::black) : QColor(Qt::white);
}

void setCaptionColors(QWidget *widget, const QColor &background)
{
    const QColor text = contrastingText(background);
    // Halfway to the background: still legible, plainly not enabled.
    const QColor dimmed((text.red() + background.red()) / 2,
                        (text.green() + background.green()) / 2,
                        (text.blue() + background.blue()) / 2);
    QPalette palette = widget->palette();
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText}) {
        palette.setColor(QPalette::Active, role, text);
        palette.setColor(QPalette::Inactive, role, text);
        palette.setColor(QPalette::Disabled, role, dimmed);
    }
    widget->setPalette(palette);
}
