#pragma once

#include <QString>

#include <optional>

// The free-space rules the pass applies to a file that is not yet in the
// destination. Every comparison is strict and keeps a safety margin, so a
// drive is never filled to the last byte.
namespace DestinationCheck {

constexpr qint64 SafetyMargin = 1024;

// Copy, or move across drives: the whole file must fit, with the margin.
inline bool sizeRuleAllows(qint64 fileSize, qint64 freeBytes)
{
    return freeBytes >= 0 && fileSize < freeBytes - SafetyMargin;
}

// Move within one drive: only the margin must be free (no data is written).
inline bool spaceRuleAllows(qint64 freeBytes)
{
    return freeBytes > SafetyMargin;
}

// The CheckDestination setting as a number; nothing when the text is not one.
// The user's regional form is tried first, then the plain C form.
std::optional<double> settingValue(const QString &text);

} // namespace DestinationCheck
