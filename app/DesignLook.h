#pragma once

#include <QColor>
#include <QRect>

class QFont;
class QWidget;

// The windows were laid out in twips: 15 twips are one pixel at 96 dpi
// (Qt scales device-independent pixels for denser screens).
constexpr int twipsToPixels(int twips)
{
    return twips >= 0 ? (twips + 7) / 15 : -((-twips + 7) / 15);
}

constexpr QRect designRect(int left, int top, int width, int height)
{
    return {twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height)};
}

// The fixed layouts were made for a narrow 8-point font (11 pixels at 96 dpi);
// a larger or wider desktop font would cut the captions off.
QFont designFont(QFont font);

// The fixed layouts leave 13 pixels of height for a check box and 85 pixels
// of width for the interval list; the desktop style's check marks and
// drop-down buttons are bigger. Gives window and every control in it a style
// whose indicators and drop-down buttons fit those boxes.
void applyDesignStyle(QWidget *window);

// Fills a widget's background with color, in the role that widget paints
// with (check boxes and radio buttons use Button, panels Window).
void paintBackground(QWidget *widget, const QColor &color);

// Black on a light background, white on a dark one.
QColor contrastingText(const QColor &background);

// A caption (label, check box, option button) drawn on background: its text
// takes the contrasting colour, dimmed when disabled, whatever the desktop
// theme's text colour is.
void setCaptionColors(QWidget *widget, const QColor &background);
