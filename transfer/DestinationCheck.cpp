#include "transfer/DestinationCheck.h"

#include <QLocale>

namespace DestinationCheck {

std::optional<double> settingValue(const QString &text)
{
    const QString trimmed = text.trimmed();
    bool ok = false;
    double value = QLocale::system().toDouble(trimmed, &ok);
    if (!ok)
        value = QLocale::c().toDouble(trimmed, &ok);
    if (!ok)
        return std::nullopt;
    return value;
}

} // namespace DestinationCheck
