#pragma once

#include <QByteArray>
#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QTest>

// Writes bytes to path, replacing what was there; fails the calling test
// when the file cannot be written.
inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(bytes), bytes.size());
}

// The file's bytes, or an empty array when it cannot be read.
inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The lines of an activity log file without their ISO 8601 stamps, whose zone
// must match zone; a line without such a stamp is marked, so a comparison
// shows it. The file must end with a whole line.
inline QStringList isoUnstamped(const QByteArray &bytes,
                                const QString &zone = QStringLiteral("(Z|[+-]\\d\\d:\\d\\d)"))
{
    const QRegularExpression iso("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d" + zone + ' ');
    QStringList lines = QString::fromUtf8(bytes).split('\n');
    if (lines.takeLast() != QString())
        return {"no line end: " + QString::fromUtf8(bytes.right(20))};
    for (QString &line : lines) {
        const QRegularExpressionMatch m = iso.match(line);
        line = m.hasMatch() ? line.mid(m.capturedLength()) : "no stamp: " + line;
    }
    return lines;
}
