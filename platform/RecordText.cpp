#include "platform/RecordText.h"

#include "platform/FileNames.h"

#include <algorithm>

namespace {

// The escaped bytes of names that are not valid UTF-8 (see FileNames).
constexpr char16_t ByteEscapeBase = 0xDC00;

// The control character that the unit at i stands for, or -1.
int controlAt(const QString &line, qsizetype i)
{
    const char16_t unit = line[i].unicode();
    if (unit < 0x20 || (unit >= 0x7F && unit <= 0x9F))
        return unit;
    if (unit >= ByteEscapeBase + 0x80 && unit <= ByteEscapeBase + 0x9F &&
        !(i > 0 && QChar::isHighSurrogate(line[i - 1].unicode())))
        return unit - ByteEscapeBase;
    return -1;
}

} // namespace

namespace RecordText {

QByteArray encode(const QString &line)
{
    // Nearly every line holds no control character: one scan, no copy.
    qsizetype i = 0;
    while (i < line.size() && controlAt(line, i) < 0)
        ++i;
    if (i == line.size())
        return FileNames::encode(line);

    QString escaped = line.left(i);
    for (; i < line.size(); ++i) {
        const int control = controlAt(line, i);
        if (control < 0)
            escaped += line[i];
        else if (control == '\n')
            escaped += QLatin1String("\\n");
        else if (control == '\r')
            escaped += QLatin1String("\\r");
        else if (control == '\t')
            escaped += QLatin1String("\\t");
        else
            escaped += QStringLiteral("\\x%1").arg(control, 2, 16, QLatin1Char('0'));
    }
    return FileNames::encode(escaped);
}

} // namespace RecordText
