// The log stays bounded, and the window's list always ends up showing exactly
// the log's lines, however its updates were batched.
#include "platform/Clock.h"
#include "platform/FileNames.h"
#include "platform/RecordText.h"
#include "transfer/ActivityLog.h"

#include <QListWidget>
#include <QTest>
#include <QTimeZone>

using namespace Qt::StringLiterals;

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
    // Standard output and the log file keep one record per line, and no
    // name sends a terminal an escape sequence; nothing else is changed.
    void recordText_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("plain") << u"Copied: a b.txt é 😀 C:\\x1b"_s
                               << "Copied: a b.txt \xc3\xa9 \xf0\x9f\x98\x80 C:\\x1b"_ba;
        QTest::newRow("newline, return, tab") << u"a\nb\rc\td"_s << "a\\nb\\rc\\td"_ba;
        QTest::newRow("a faked record") << u"x\n2026-12-07T00:00:00Z fake - Copied: y"_s
                                        << "x\\n2026-12-07T00:00:00Z fake - Copied: y"_ba;
        QTest::newRow("escape sequence") << u"\x1b[2Jred"_s << "\\x1b[2Jred"_ba;
        QTest::newRow("NUL, other C0, DEL")
            << u"a"_s + QChar(0) + u"b\x01\x1f\x7f"_s << "a\\x00b\\x01\\x1f\\x7f"_ba;
        QTest::newRow("C1") << u"a\u0080b\u009bc\u009f\u00a0"_s << "a\\x80b\\x9bc\\x9f\xc2\xa0"_ba;
        // Bytes that are no UTF-8: those of C1 escaped, the others kept.
        QTest::newRow("C1 byte of a Latin-1 name") << FileNames::decode("a\x9b"
                                                                        "b\xe9")
                                                   << "a\\x9bb\xe9"_ba;
    }

    void recordText()
    {
        QFETCH(QString, line);
        QTEST(RecordText::encode(line), "bytes");
    }

    // The regional short date, a blank and the regional long time, with no
    // trace of the time zone: no bracket, comma or blank left of it.
    void stampWithoutZone_data()
    {
        QTest::addColumn<QString>("expected"); // empty: only the general rules
        const char *checked[][2] = {
            {"es_ES", "5/3/24 14:07:09"},           {"hr_HR", "05. 03. 2024. 14:07:09"},
            {"be_BY", "5.03.24 14:07:09"},          {"zh_HK", "5/3/2024 下午2:07:09"},
            {"sq_AL", "5.3.24 2:07:09 E PASDITES"}, {"nds_DE", "5.03.24 Klock 14.07:09"},
            {"zh_CN", "2024/3/5 14:07:09"},         {"de_DE", "05.03.24 14:07:09"},
            {"en_US", "3/5/24 2:07:09 PM"},         {"en_GB", "05/03/2024 14:07:09"},
            {"fr_FR", "05/03/2024 14:07:09"},       {"ja_JP", "2024/03/05 14時07分09秒"}};
        for (const auto &row : checked)
            QTest::newRow(row[0]) << QString::fromUtf8(row[1]);
        for (const char *name : {"ca_AD", "ca_ES", "ca_FR",  "ca_IT", "es_EA", "es_GQ",  "es_IC",
                                 "eu_ES", "fa_AF", "fa_IR",  "hr_BA", "mn_MN", "nds_NL", "ps_AF",
                                 "uz_AF", "uz_UZ", "yue_HK", "zh_MO", "zh_TW", "my_MM",  "ko_KR"})
            QTest::newRow(name) << QString();
    }
    void stampWithoutZone()
    {
        QFETCH(QString, expected);
        const FixedClock clock(
            QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9), QTimeZone("Europe/Madrid")));
        const QString stamp = logStamp(clock, QLocale(QTest::currentDataTag()));
        if (!expected.isEmpty())
            QCOMPARE(stamp, expected);
        for (const char *trace : {"()", "[]", "  ", "CET", "GMT", "+01", ", ", ",\u00A0"})
            QVERIFY2(!stamp.contains(QString::fromUtf8(trace)), qPrintable(stamp));
        QVERIFY2(!stamp.back().isSpace() && !stamp.back().isPunct() && !stamp.front().isSpace(),
                 qPrintable(stamp));
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
        log.removeLast(); // harmless on an empty log
        log.selectLast();
        QCOMPARE(log.selectedIndex(), -1);
        for (int i = 0; i < ActivityLog::MaxLines + 2; ++i)
            log.append(QString::number(i));
        // The pass's own pattern: replace the last line, then select it.
        log.removeLast();
        log.append(QStringLiteral("done"));
        log.selectLast();
        QCOMPARE(log.count(), 32767);               // the fixed cap, whatever the constant says
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
