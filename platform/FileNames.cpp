#include "platform/FileNames.h"

#include <algorithm>

namespace {

constexpr char16_t EscapeBase = 0xDC00;

// Length of the valid UTF-8 sequence at i, and its code point; 0 if invalid.
int validSequence(const QByteArray &bytes, qsizetype i, char32_t &codePoint)
{
    const auto byte = [&](qsizetype k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char lead = byte(i);
    int length;
    char32_t minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, minimum = 0x80, codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, minimum = 0x800, codePoint = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, minimum = 0x10000, codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > bytes.size())
        return 0;
    for (int k = 1; k < length; ++k) {
        const unsigned char next = byte(i + k);
        if ((next & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

namespace FileNames {

QString decode(const QByteArray &bytes)
{
    QString name;
    name.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            name += QChar(lead);
            ++i;
            continue;
        }
        char32_t codePoint = 0;
        if (const int length = validSequence(bytes, i, codePoint)) {
            name += QString::fromUcs4(&codePoint, 1);
            i += length;
        } else {
            name += QChar(char16_t(EscapeBase + lead));
            ++i;
        }
    }
    return name;
}

QByteArray encode(const QString &name)
{
    // Nearly every name is plain text: no escaped byte, no surrogate at all.
    const bool plain =
        std::none_of(name.cbegin(), name.cend(), [](QChar c) { return c.isSurrogate(); });
    if (plain)
        return name.toUtf8();
    QByteArray bytes;
    qsizetype start = 0; // start of the run of text not yet encoded
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t unit = name[i].unicode();
        if (unit >= EscapeBase + 0x80 && unit <= EscapeBase + 0xFF &&
            !(i > 0 && QChar::isHighSurrogate(name[i - 1].unicode()))) {
            bytes += QStringView(name).sliced(start, i - start).toUtf8();
            bytes += char(unit - EscapeBase);
            start = i + 1;
        }
    }
    bytes += QStringView(name).sliced(start).toUtf8(); // other lone surrogates become U+FFFD
    return bytes;
}

} // namespace FileNames
