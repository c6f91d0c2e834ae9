#include "transfer/ActivityLog.h"

#include "platform/Clock.h"

#include <QListWidget>
#include <QLocale>

void ActivityLog::append(const QString &line)
{
    if (count() >= MaxLines)
        doRemoveAt(0);
    doAppend(line);
    if (m_sink) {
        flushFinal();
        m_pending = line;
    }
}

void ActivityLog::removeLast()
{
    if (count() > 0)
        doRemoveAt(count() - 1);
    // The pending line is always the newest one: it goes unseen. A line that
    // was already handed on stays where it went.
    m_pending.reset();
}

void ActivityLog::setFinalLineSink(FinalLineSink sink)
{
    m_sink = std::move(sink);
    m_pending.reset();
}

void ActivityLog::flushFinal()
{
    if (m_sink && m_pending)
        m_sink(*m_pending);
    m_pending.reset();
}

void ActivityLog::selectLast()
{
    doSelect(count() - 1);
}

void MemoryLog::doRemoveAt(int index)
{
    m_lines.removeAt(index);
    // The selection stays on its line, or goes with it.
    if (index == m_selected)
        m_selected = -1;
    else if (index < m_selected)
        --m_selected;
}

ListWidgetLog::ListWidgetLog(QListWidget *list) : m_list(list)
{
    // Scrolling is done once per flush, not at every selection.
    m_list->setAutoScroll(false);
}

void ListWidgetLog::setDeferred(bool deferred)
{
    m_deferred = deferred;
    if (!deferred)
        flush();
}

void ListWidgetLog::doAppend(const QString &line)
{
    MemoryLog::doAppend(line);
    changed();
}

void ListWidgetLog::doRemoveAt(int index)
{
    MemoryLog::doRemoveAt(index);
    if (index == 0) {
        ++m_droppedFront;
        m_synced = qMax(0, m_synced - 1);
    }
    m_synced = qMin(m_synced, count());
    changed();
}

void ListWidgetLog::doSelect(int index)
{
    MemoryLog::doSelect(index);
    changed();
}

void ListWidgetLog::changed()
{
    if (!m_deferred) {
        flush();
    } else if (!m_flushQueued) {
        m_flushQueued = true;
        QMetaObject::invokeMethod(
            m_list, [this] { flush(); }, Qt::QueuedConnection);
    }
}

void ListWidgetLog::flush()
{
    m_flushQueued = false;
    for (; m_droppedFront > 0; --m_droppedFront)
        delete m_list->takeItem(0);
    while (m_list->count() > m_synced)
        delete m_list->takeItem(m_list->count() - 1);
    for (int i = m_synced; i < count(); ++i)
        m_list->addItem(line(i));
    m_synced = count();
    m_list->setCurrentRow(selectedIndex());
    if (selectedIndex() >= 0)
        m_list->scrollToItem(m_list->item(selectedIndex()));
}

namespace {
// Qt's long time format names the time zone ("t"); the log shows none. The
// zone goes together with what only frames it: blanks, brackets, a comma
// ("H:mm:ss (t)", "HH:mm:ss, t", "APh:mm:ss [t]", "t HH:mm:ss").
QString longTimeFormatWithoutZone(const QString &format)
{
    const auto framing = [](QChar c) {
        return c.isSpace() || c == u',' || c == u'\u060C' || c == u'\uFF0C' || c == u'(' ||
               c == u')' || c == u'[' || c == u']' || c == u'\uFF08' || c == u'\uFF09';
    };
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == u'\'')
            quoted = !quoted;
        if (quoted || c != u't') {
            out += c;
            continue;
        }
        while (i + 1 < format.size() && format[i + 1] == u't')
            ++i;
        qsizetype cut = out.size();
        while (cut > 0 && framing(out[cut - 1]))
            --cut;
        out.truncate(cut);
        qsizetype next = i + 1;
        while (next < format.size() && framing(format[next]))
            ++next;
        // A zone between two fields leaves one blank between them.
        if (cut > 0 && next < format.size())
            out += u' ';
        i = next - 1;
    }
    return out;
}
} // namespace

QString logStamp(const Clock &clock, const QLocale &locale)
{
    const QDateTime now = clock.now();
    return locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(now.time(),
                           longTimeFormatWithoutZone(locale.timeFormat(QLocale::LongFormat)));
}
