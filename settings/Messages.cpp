#include "settings/Messages.h"

#include "settings/modIniHandler.h"

QString languageText(const QString &key)
{
    return ReadLang(QStringLiteral("frmMain"), key, QString(), 256);
}

QString languageText(const QString &key, const QString &english)
{
    const QString text = languageText(key);
    return text.isEmpty() ? english : text;
}

MessageTable loadMessageTable()
{
    MessageTable table;
    for (int i = 0; i < MessageCount; ++i)
        table[i] = languageText(QStringLiteral("t%1").arg(i));
    return table;
}
