#include "settings/FolderChooser.h"
#include "settings/modFolder.h"

#include <QApplication>
#include <QFileSystemModel>
#include <QLabel>
#include <QTreeView>
#include <QtTest>

// Answers (looks at, then closes) any chooser exec()ed while this lives.
struct ChooserAnswer : QTimer
{
    ChooserAnswer(std::function<void(FolderChooser &)> look, bool accept)
    {
        connect(this, &QTimer::timeout, [=] {
            if (auto *chooser = qobject_cast<FolderChooser *>(QApplication::activeModalWidget()))
                look(*chooser), accept ? chooser->accept() : chooser->reject();
        });
        start(10);
    }
};

class tst_FolderPicker : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_longPath = m_dir.path() + QString("/folder-with-a-rather-long-name").repeated(8);

private slots:
    void initTestCase() { QVERIFY(QDir().mkpath(m_longPath)); }

    void startFolder_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<bool>("elided");
        QTest::newRow("long path") << m_longPath + "/" << m_longPath << true;
        QTest::newRow("short path") << m_dir.path() << m_dir.path() << false;
        QTest::newRow("empty") << QString() << QString() << false;
        QTest::newRow("missing") << m_dir.filePath("no-such-folder") << QString() << false;
    }
    void startFolder()
    {
        QFETCH(QString, start);
        QFETCH(QString, selected);
        FolderChooser chooser("Quellordner:", start);
        chooser.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chooser));
        QCOMPARE(chooser.selectedPath(), selected); // the current item's path
        auto *tree = chooser.findChild<QTreeView *>("tree");
        auto *selection = tree->selectionModel();
        QCOMPARE(selection->selectedRows().value(0), selection->currentIndex());
        QCOMPARE(selection->hasSelection(), !selected.isEmpty());
        auto *status = chooser.findChild<QLabel *>("status");
        const QString text = status->text();
        QVERIFY(status->fontMetrics().horizontalAdvance(text) <= status->contentsRect().width());
        const QString full = selected.isEmpty() ? "" : "Auswahl: " + selected;
        const QStringList ends = text.split(QChar(0x2026)); // head and tail when shortened
        QTEST(ends.size() == 2, "elided");
        QVERIFY(full.startsWith(ends.first()) && full.endsWith(ends.last()));
        QVERIFY(full.isEmpty() || (ends.first().size() > 9 && !ends.last().isEmpty()));
        // Without a start folder the user's own folder is in view, once the
        // tree has loaded and sorted its rows.
        if (selected.isEmpty()) {
            const auto homeShown = [tree] {
                const auto *model = static_cast<QFileSystemModel *>(tree->model());
                const QRect home = tree->visualRect(model->index(QDir::homePath()));
                return !home.isEmpty() && tree->viewport()->rect().contains(home);
            };
            QTest::qWait(300);
            QTRY_VERIFY(homeShown());
        }
    }

    void browse_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("statusLine");
        QTest::addColumn<bool>("accept");
        QTest::addColumn<QString>("shown");
        QTest::newRow("dollar with status, OK") << "$" << true << true << "";
        QTest::newRow("dollar without status, cancel") << "$" << false << false << "$";
    }
    void browse()
    {
        QFETCH(QString, title);
        QFETCH(bool, statusLine);
        QFETCH(bool, accept);
        QFETCH(QString, shown);
        QString seen = "<not opened>";
        ChooserAnswer answer(
            [&](FolderChooser &c) { c.selectPath(m_longPath), seen = c.titleText(); }, accept);
        QCOMPARE(modFolder::BrowseFolder(title, {}, nullptr, statusLine, {}, true, false),
                 accept ? m_longPath : QString()); // the full path, not the shortened text
        QCOMPARE(seen, shown);
    }
};

QTEST_MAIN(tst_FolderPicker)
#include "tst_folderpicker.moc"
