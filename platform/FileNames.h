#pragma once

#include <QByteArray>
#include <QString>

// File names as the kernel has them are bytes, mostly UTF-8. A name that is
// not valid UTF-8 (an old Latin-1 name from a USB stick, say) must still name
// its file after a trip through QString, so every byte that is not part of a
// valid sequence travels as the lone surrogate U+DC00 + byte and turns back
// into that byte (the "surrogate escape" of other languages' runtimes).
namespace FileNames {

QString decode(const QByteArray &bytes);
QByteArray encode(const QString &name);

} // namespace FileNames
