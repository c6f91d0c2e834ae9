#include "app/DesignLook.h"

#include <QFont>
#include <QPalette>
#include <QWidget>

QFont designFont(QFont font)
{
    font.setPixelSize(11);
    return font;
}

void paintBackground(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(widget->backgroundRole(), color);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}
