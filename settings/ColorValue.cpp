#include "settings/ColorValue.h"

#include "platform/UserStore.h"

#include <QGuiApplication>
#include <QPalette>

#include <cctype>

namespace {

struct SystemColor
{
    QPalette::ColorGroup group;
    QPalette::ColorRole role;
};

// The Windows system colour indexes (COLOR_SCROLLBAR = 0 ... COLOR_MENUBAR =
// 30) mapped to the nearest palette role; 25 is unused there.
std::optional<SystemColor> systemColor(int index)
{
    using P = QPalette;
    static const std::optional<SystemColor> table[] = {
        SystemColor{P::Active, P::Button},          // 0 scroll bar
        SystemColor{P::Active, P::Dark},            // 1 desktop
        SystemColor{P::Active, P::Highlight},       // 2 active caption
        SystemColor{P::Inactive, P::Mid},           // 3 inactive caption
        SystemColor{P::Active, P::Window},          // 4 menu
        SystemColor{P::Active, P::Base},            // 5 window
        SystemColor{P::Active, P::Shadow},          // 6 window frame
        SystemColor{P::Active, P::WindowText},      // 7 menu text
        SystemColor{P::Active, P::Text},            // 8 window text
        SystemColor{P::Active, P::HighlightedText}, // 9 caption text
        SystemColor{P::Active, P::Button},          // 10 active border
        SystemColor{P::Inactive, P::Button},        // 11 inactive border
        SystemColor{P::Active, P::Mid},             // 12 application workspace
        SystemColor{P::Active, P::Highlight},       // 13 highlight
        SystemColor{P::Active, P::HighlightedText}, // 14 highlighted text
        SystemColor{P::Active, P::Button},          // 15 button face
        SystemColor{P::Active, P::Dark},            // 16 button shadow
        SystemColor{P::Disabled, P::Text},          // 17 grey text
        SystemColor{P::Active, P::ButtonText},      // 18 button text
        SystemColor{P::Disabled, P::WindowText},    // 19 inactive caption text
        SystemColor{P::Active, P::Light},           // 20 button highlight
        SystemColor{P::Active, P::Shadow},          // 21 3D dark shadow
        SystemColor{P::Active, P::Midlight},        // 22 3D light
        SystemColor{P::Active, P::ToolTipText},     // 23 tool-tip text
        SystemColor{P::Active, P::ToolTipBase},     // 24 tool-tip background
        std::nullopt,                               // 25 unused
        SystemColor{P::Active, P::Link},            // 26 hot-tracked item
        SystemColor{P::Active, P::Highlight},       // 27 active caption gradient
        SystemColor{P::Inactive, P::Mid},           // 28 inactive caption gradient
        SystemColor{P::Active, P::Highlight},       // 29 menu highlight
        SystemColor{P::Active, P::Window},          // 30 menu bar
    };
    if (index < 0 || index >= int(std::size(table)))
        return std::nullopt;
    return table[index];
}

} // namespace

namespace ColorValue {

std::optional<qint32> numberFromText(const QString &text)
{
    const QString t = text.trimmed();
    bool ok = false;
    if (t.startsWith(QLatin1String("&H"), Qt::CaseInsensitive)) {
        const QString digits = t.mid(2);
        if (digits.isEmpty() || digits.size() > 8)
            return std::nullopt;
        // toUInt alone would also take a sign or blanks inside the literal.
        for (const QChar c : digits) {
            if (!isxdigit(c.unicode()) || c.unicode() > 0x7F)
                return std::nullopt;
        }
        const quint32 bits = digits.toUInt(&ok, 16);
        if (!ok)
            return std::nullopt;
        return static_cast<qint32>(bits);
    }
    const qint32 value = t.toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

std::optional<QColor> colorFromNumber(qint32 number)
{
    const auto bits = static_cast<quint32>(number);
    const quint32 highByte = bits >> 24;
    if (highByte == 0x00)
        return QColor(int(bits & 0xFF), int((bits >> 8) & 0xFF), int((bits >> 16) & 0xFF));
    if (highByte == 0x80 && (bits & 0x00FFFF00) == 0) {
        const auto system = systemColor(int(bits & 0xFF));
        if (!system)
            return std::nullopt;
        return QGuiApplication::palette().color(system->group, system->role);
    }
    return std::nullopt;
}

} // namespace ColorValue

std::optional<QColor> colorFromStoredText(const QString &text)
{
    const auto number = ColorValue::numberFromText(text);
    if (!number)
        return std::nullopt;
    return ColorValue::colorFromNumber(*number);
}

std::optional<QColor> storedBackColor()
{
    const QString text = UserStore::read(UserStore::appName(), QStringLiteral("Options"),
                                         QStringLiteral("BGColor"), QString());
    if (text.size() <= 1)
        return std::nullopt;
    return colorFromStoredText(text);
}
