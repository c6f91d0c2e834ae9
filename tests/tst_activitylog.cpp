// The log stays bounded, and the window's list always ends up showing exactly
// the log's lines, however its updates were batched.
#include "transfer/ActivityLog.h"

#include <QListWidget>
#include <QTest>

class ActivityLogTest : public QObject
{
    Q_OBJECT

    static QStringList shown(const QListWidget &list)
    {
        QStringList lines;
        for (int i = 0; i < list.count(); ++i)
            lines << list.item(i)->text();
        return lines;
    }

private slots:
    void emptyLogOperationsAreHarmless()
    {
        MemoryLog log;
        log.removeLast();
        log.selectLast();
        QCOMPARE(log.count(), 0);
        QCOMPARE(log.selectedIndex(), -1);
    }

    void listFollowsTheLogAtTheCap_data()
    {
        QTest::addColumn<bool>("deferred");
        QTest::newRow("at once") << false;
        QTest::newRow("batched") << true;
    }

    void listFollowsTheLogAtTheCap()
    {
        QFETCH(bool, deferred);
        QListWidget list;
        ListWidgetLog log(&list);
        log.setDeferred(deferred);
        for (int i = 0; i < ActivityLog::MaxLines + 2; ++i)
            log.append(QString::number(i));
        // The pass's own pattern: replace the last line, then select it.
        log.removeLast();
        log.append(QStringLiteral("done"));
        log.selectLast();
        QCOMPARE(log.count(), ActivityLog::MaxLines);
        QCOMPARE(log.line(0), QStringLiteral("2")); // the two oldest made room
        if (deferred) {
            QCOMPARE(list.count(), 0); // nothing drawn until events run
            QCoreApplication::processEvents();
        }
        QCOMPARE(shown(list), log.lines());
        QCOMPARE(list.currentRow(), ActivityLog::MaxLines - 1);
        log.setDeferred(false);
    }
};

QTEST_MAIN(ActivityLogTest)
#include "tst_activitylog.moc"
