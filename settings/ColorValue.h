#pragma once

#include <QColor>
#include <QString>

#include <optional>

// The background-colour preference is stored as a Windows colour literal
// ("&H8000000F", "&H00FFFFFF"), because that is the form the settings have
// always had. The main window and the Options dialog both turn it into a
// colour here.
namespace ColorValue {

// The text as a signed 32-bit number: "&H" with 1 to 8 hex digits (the 32
// bits of the value, so "&H8000000F" is -2147483633) or a decimal whole
// number. No value when the text is neither.
std::optional<qint32> numberFromText(const QString &text);

// A Windows colour number as a colour: &H00BBGGRR is a plain colour; with the
// high bit set the low byte indexes the system colours, taken from the
// application palette (15, the button face, is QPalette::Button). No value
// for an unknown system index or another high byte.
std::optional<QColor> colorFromNumber(qint32 number);

} // namespace ColorValue

// Both steps at once; no value when the text does not convert.
std::optional<QColor> colorFromStoredText(const QString &text);

// The background colour the user chose (F12/F11), from the per-user store:
// no value when none is stored (one character or less) or the text is no
// colour, so the windows keep their white rather than turn black.
std::optional<QColor> storedBackColor();
