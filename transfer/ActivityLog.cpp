#include "transfer/ActivityLog.h"

#include "platform/Clock.h"

#include <QListWidget>
#include <QLocale>
#include <QRegularExpression>

void ActivityLog::append(const QString &line)
{
    if (count() >= MaxLines)
        doRemoveAt(0);
    doAppend(line);
}

void ActivityLog::removeLast()
{
    if (count() > 0)
        doRemoveAt(count() - 1);
}

void ActivityLog::selectLast() { doSelect(count() - 1); }

void MemoryLog::doRemoveAt(int index)
{
    m_lines.removeAt(index);
    if (m_selected >= count())
        m_selected = -1;
}

int ListWidgetLog::count() const { return m_list->count(); }

QString ListWidgetLog::line(int index) const
{
    const QListWidgetItem *item = m_list->item(index);
    return item ? item->text() : QString();
}

int ListWidgetLog::selectedIndex() const { return m_list->currentRow(); }

void ListWidgetLog::doAppend(const QString &line) { m_list->addItem(line); }

void ListWidgetLog::doRemoveAt(int index) { delete m_list->takeItem(index); }

void ListWidgetLog::doSelect(int index)
{
    m_list->setCurrentRow(index);
    if (index >= 0)
        m_list->scrollToItem(m_list->item(index));
}

namespace {
// Qt's long time format names the time zone ("t"); the log shows none.
QString longTimeFormatWithoutZone(const QLocale &locale)
{
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(QRegularExpression(QStringLiteral("\\s*\\bt+\\b")));
    return format.trimmed();
}
} // namespace

QString logStamp(const Clock &clock)
{
    const QLocale locale = QLocale::system();
    const QDate date = clock.now().date();
    const QTime time = clock.now().time();
    return locale.toString(date, QLocale::ShortFormat) + QLatin1Char(' ')
           + locale.toString(time, longTimeFormatWithoutZone(locale));
}
