#include "platform/ProfileFile.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>
#include <QtTest>

// The delivered language files, read the way the program reads them.
class TestLangFiles : public QObject
{
    Q_OBJECT

private slots:
    void everyKey_data();
    void everyKey();
    void fileLayout_data() { everyKey_data(); }
    void fileLayout();
};

void TestLangFiles::everyKey_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("Deutsch") << QStringLiteral(PALLWICK_SOURCE_DIR "/lang/Deutsch.dat");
    QTest::newRow("English") << QStringLiteral(PALLWICK_SOURCE_DIR "/lang/English.dat");
}

void TestLangFiles::everyKey()
{
    QFETCH(QString, file);
    QVERIFY(QFile::exists(file));
    for (int i = 0; i <= 52; ++i) {
        const QString key = QStringLiteral("t%1").arg(i);
        const QString text = ProfileFile::read(file, "frmMain", key, "", 256);
        // Nothing may be cut by the program's 256-character buffer.
        QCOMPARE(ProfileFile::read(file, "frmMain", key, "", 4096), text);
        if (i != 10)
            QVERIFY2(!text.isEmpty(), qPrintable(key));
    }
    // The Options button needs its access key; the dialog title strips it.
    QCOMPARE(ProfileFile::read(file, "frmMain", "t38", "", 256).count(u'&'), 1);
    // The exit question appends "?" itself.
    const QString save = ProfileFile::read(file, "frmMain", "t37", "", 256);
    QVERIFY(!save.back().isPunct());
}

// Valid UTF-8 (else the reader falls back to Latin-1 and umlauts break), one
// section, and each key exactly once: a second copy would be silently ignored.
void TestLangFiles::fileLayout()
{
    QFETCH(QString, file);
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(f.readAll());
    QVERIFY(!utf8.hasError());

    const QRegularExpression keyLine(QStringLiteral("^t(0|[1-9][0-9]*)=.*$"));
    QSet<QString> keys;
    int sections = 0;
    for (const QString &line : text.split(u'\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(u'[')) {
            QCOMPARE(line, QStringLiteral("[frmMain]"));
            ++sections;
            continue;
        }
        QVERIFY2(keyLine.match(line).hasMatch(), qPrintable(line));
        const QString key = line.section(u'=', 0, 0);
        QVERIFY2(!keys.contains(key), qPrintable(key));
        keys.insert(key);
    }
    QCOMPARE(sections, 1);
    QSet<QString> expected;
    for (int i = 0; i <= 52; ++i)
        expected.insert(QStringLiteral("t%1").arg(i));
    QCOMPARE(keys, expected);
}

QTEST_GUILESS_MAIN(TestLangFiles)
#include "tst_langfiles.moc"
