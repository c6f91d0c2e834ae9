#include "platform/ProfileFile.h"

#include <QtTest>

// The delivered language files, read the way the program reads them.
class TestLangFiles : public QObject
{
    Q_OBJECT

private slots:
    void everyKey_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("Deutsch") << QStringLiteral(PALLWICK_SOURCE_DIR "/lang/Deutsch.dat");
        QTest::newRow("English") << QStringLiteral(PALLWICK_SOURCE_DIR "/lang/English.dat");
    }
    void everyKey()
    {
        QFETCH(QString, file);
        QVERIFY(QFile::exists(file));
        for (int i = 0; i <= 52; ++i) {
            const QString key = QStringLiteral("t%1").arg(i);
            if (i != 10) // t10 may be empty
                QVERIFY2(!ProfileFile::read(file, "frmMain", key, "", 256).isEmpty(),
                         qPrintable(key));
        }
        // The Options button needs its access key.
        QVERIFY(ProfileFile::read(file, "frmMain", "t38", "", 256).contains(u'&'));
    }
};

QTEST_GUILESS_MAIN(TestLangFiles)
#include "tst_langfiles.moc"
