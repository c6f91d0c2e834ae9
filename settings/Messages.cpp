#include "settings/Messages.h"

#include "settings/modIniHandler.h"

MessageTable loadMessageTable()
{
    MessageTable table;
    for (int i = 0; i < MessageCount; ++i)
        table[i] =
            ReadLang(QStringLiteral("frmMain"), QStringLiteral("t%1").arg(i), QString(), 256);
    return table;
}
