#include "settings/FolderChooser.h"
#include "settings/modFolder.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileSystemModel>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

#include <functional>

namespace {

const QString kEllipsis = QString(QChar(0x2026));

QPushButton *okButton(FolderChooser &chooser)
{
    return chooser.findChild<QDialogButtonBox *>(QStringLiteral("buttons"))
        ->button(QDialogButtonBox::Ok);
}

QLabel *statusLabel(FolderChooser &chooser)
{
    return chooser.findChild<QLabel *>(QStringLiteral("status"));
}

// Answers the chooser that BrowseFolder is about to exec(): look runs while
// it is open, and the dialog is then accepted or rejected, so a failed
// look never leaves the test hanging in exec().
void whenChooserOpens(std::function<void(FolderChooser &)> look, bool accept)
{
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, look, accept] {
        auto *chooser = qobject_cast<FolderChooser *>(QApplication::activeModalWidget());
        if (!chooser)
            return;
        poll->stop();
        poll->deleteLater();
        look(*chooser);
        if (accept)
            chooser->accept();
        else
            chooser->reject();
    });
    poll->start(10);
}

} // namespace

class tst_FolderPicker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void startFolderIsSelectedAndInView();
    void noStartFolderMeansNoSelection_data();
    void noStartFolderMeansNoSelection();
    void statusLineShowsFittingPath_data();
    void statusLineShowsFittingPath();
    void statusFollowsWidth();
    void statusEmptyForFile();
    void browseReturnsFullPathOrEmpty_data();
    void browseReturnsFullPathOrEmpty();
    void dollarTitleShownEmpty_data();
    void dollarTitleShownEmpty();
    void hookAnswersInsteadOfDialog();

private:
    QTemporaryDir m_dir;
    QString m_longPath;
};

void tst_FolderPicker::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // A deep chain of long names: far wider than any status line.
    m_longPath = m_dir.path();
    for (int level = 0; level < 6; ++level)
        m_longPath +=
            QStringLiteral("/level%1-a-folder-with-a-rather-long-descriptive-name").arg(level);
    QVERIFY(QDir().mkpath(m_longPath));
}

void tst_FolderPicker::cleanup()
{
    modFolder::setBrowseHook({});
}

void tst_FolderPicker::startFolderIsSelectedAndInView()
{
    // Enough siblings before it that the start folder is out of view unless
    // the tree scrolls to it.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (int i = 0; i < 80; ++i)
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("d%1").arg(i, 2, 10, QLatin1Char('0'))));
    const QString start = dir.filePath(QStringLiteral("zz-start"));
    QVERIFY(QDir().mkdir(start));

    FolderChooser chooser(QStringLiteral("Quellordner:"), start + QLatin1Char('/'));
    chooser.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chooser));

    auto *tree = chooser.findChild<QTreeView *>(QStringLiteral("tree"));
    QVERIFY(tree);
    const QModelIndex current = tree->currentIndex();
    QVERIFY(current.isValid());
    const auto *model = qobject_cast<const QFileSystemModel *>(tree->model());
    QCOMPARE(model->filePath(current), start);
    QVERIFY(tree->selectionModel()->isSelected(current));
    QCOMPARE(chooser.selectedPath(), start);
    QVERIFY(okButton(chooser)->isEnabled());
    // The model loads and sorts the siblings after the selection was made.
    QTRY_COMPARE(model->rowCount(current.parent()), 81);
    QTRY_VERIFY(tree->viewport()->rect().contains(tree->visualRect(tree->currentIndex())));
    QCOMPARE(model->filePath(tree->currentIndex()), start);
}

void tst_FolderPicker::noStartFolderMeansNoSelection_data()
{
    QTest::addColumn<QString>("start");
    QTest::newRow("empty") << QString();
    QTest::newRow("missing") << m_dir.filePath(QStringLiteral("no-such-folder"));
}

void tst_FolderPicker::noStartFolderMeansNoSelection()
{
    QFETCH(QString, start);
    FolderChooser chooser(QStringLiteral("Zielordner:"), start);
    chooser.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chooser));

    auto *tree = chooser.findChild<QTreeView *>(QStringLiteral("tree"));
    QVERIFY(!tree->currentIndex().isValid());
    QVERIFY(!tree->selectionModel()->hasSelection());
    QCOMPARE(chooser.statusText(), QString());
    QVERIFY(!okButton(chooser)->isEnabled());
    chooser.accept();
    QCOMPARE(chooser.chosenPath(), QString());
}

void tst_FolderPicker::statusLineShowsFittingPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("shortened");
    QTest::newRow("long") << m_longPath << true;
    QTest::newRow("short") << QDir::rootPath() << false;
    QTest::newRow("temp folder") << m_dir.path() << false;
}

void tst_FolderPicker::statusLineShowsFittingPath()
{
    QFETCH(QString, path);
    QFETCH(bool, shortened);

    FolderChooser chooser(QStringLiteral("Quellordner:"), QString());
    chooser.resize(600, 400);
    chooser.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chooser));
    QVERIFY(chooser.selectPath(path));
    QCOMPARE(chooser.selectedPath(), path);

    QLabel *status = statusLabel(chooser);
    const QString text = chooser.statusText();
    QCOMPARE(status->text(), text);
    QVERIFY2(text.startsWith(FolderChooser::statusPrefix()), qPrintable(text));
    QCOMPARE(FolderChooser::statusPrefix(), QStringLiteral("Auswahl: "));
    const int available = status->contentsRect().width();
    QVERIFY2(status->fontMetrics().horizontalAdvance(text) <= available, qPrintable(text));

    const QString shown = text.mid(FolderChooser::statusPrefix().size());
    if (!shortened) {
        QCOMPARE(shown, path);
        return;
    }
    const QString ellipsis = shown.contains(kEllipsis) ? kEllipsis : QStringLiteral("...");
    QVERIFY2(shown.contains(ellipsis), qPrintable(shown));
    // Shortened in the middle: both ends of the real path remain.
    const QString head = shown.section(ellipsis, 0, 0);
    const QString tail = shown.section(ellipsis, 1);
    QVERIFY2(!head.isEmpty() && path.startsWith(head), qPrintable(shown));
    QVERIFY2(!tail.isEmpty() && path.endsWith(tail), qPrintable(shown));
}

void tst_FolderPicker::statusFollowsWidth()
{
    FolderChooser chooser(QStringLiteral("Quellordner:"), m_longPath);
    chooser.resize(300, 400);
    chooser.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chooser));
    const QString whole = FolderChooser::statusPrefix() + m_longPath;
    QTRY_VERIFY(chooser.statusText() != whole && !chooser.statusText().isEmpty());
    const QString narrow = chooser.statusText();

    // Wide enough for the whole path: the status line is worked out again.
    const int needed = statusLabel(chooser)->fontMetrics().horizontalAdvance(whole) + 100;
    chooser.resize(needed, 400);
    QTRY_COMPARE(chooser.statusText(), whole);
    chooser.resize(300, 400);
    QTRY_COMPARE(chooser.statusText(), narrow);
}

void tst_FolderPicker::statusEmptyForFile()
{
    const QString file = m_dir.filePath(QStringLiteral("plain.txt"));
    {
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
    }
    FolderChooser chooser(QStringLiteral("Quellordner:"), m_dir.path(), nullptr, true, QString(),
                          true, true);
    chooser.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chooser));
    QVERIFY(!chooser.statusText().isEmpty());
    QVERIFY(chooser.selectPath(file));
    QCOMPARE(chooser.statusText(), QString());
    QCOMPARE(chooser.selectedPath(), QString());
    QVERIFY(!okButton(chooser)->isEnabled());
}

void tst_FolderPicker::browseReturnsFullPathOrEmpty_data()
{
    QTest::addColumn<bool>("accept");
    QTest::addColumn<bool>("expectPath");
    QTest::newRow("ok") << true << true;
    QTest::newRow("cancel") << false << false;
}

void tst_FolderPicker::browseReturnsFullPathOrEmpty()
{
    QFETCH(bool, accept);
    QFETCH(bool, expectPath);

    QString statusSeen;
    whenChooserOpens(
        [&](FolderChooser &chooser) {
            chooser.resize(300, 400);
            chooser.selectPath(m_longPath);
            statusSeen = chooser.statusText();
        },
        accept);
    const QString result = modFolder::BrowseFolder(QStringLiteral("Zielordner:"), m_dir.path(),
                                                   nullptr, true, QString(), true, false);
    // The status line was shortened; the answer is still the whole path.
    QVERIFY2(statusSeen.contains(kEllipsis) || statusSeen.contains(QStringLiteral("...")),
             qPrintable(statusSeen));
    QCOMPARE(result, expectPath ? m_longPath : QString());
}

void tst_FolderPicker::dollarTitleShownEmpty_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("statusText");
    QTest::addColumn<QString>("shown");
    QTest::newRow("dollar with status") << QStringLiteral("$") << true << QString();
    QTest::newRow("dollar without status") << QStringLiteral("$") << false << QStringLiteral("$");
    QTest::newRow("dollar inside") << QStringLiteral("$:") << true << QStringLiteral("$:");
    QTest::newRow("caller's title")
        << QStringLiteral("Quellordner:") << true << QStringLiteral("Quellordner:");
}

void tst_FolderPicker::dollarTitleShownEmpty()
{
    QFETCH(QString, title);
    QFETCH(bool, statusText);
    QFETCH(QString, shown);

    QString titleSeen = QStringLiteral("<not opened>");
    bool statusVisible = !statusText;
    whenChooserOpens(
        [&](FolderChooser &chooser) {
            titleSeen = chooser.findChild<QLabel *>(QStringLiteral("title"))->text();
            statusVisible = statusLabel(chooser)->isVisible();
        },
        false);
    modFolder::BrowseFolder(title, QString(), nullptr, statusText, QString(), true, false);
    QCOMPARE(titleSeen, shown);
    QCOMPARE(statusVisible, statusText);
}

void tst_FolderPicker::hookAnswersInsteadOfDialog()
{
    QStringList calls;
    // Should a dialog open after all, close it rather than hang in exec().
    QTimer guard;
    connect(&guard, &QTimer::timeout, [&calls] {
        if (auto *chooser = qobject_cast<FolderChooser *>(QApplication::activeModalWidget())) {
            calls << QStringLiteral("dialog opened");
            chooser->reject();
        }
    });
    guard.start(10);
    modFolder::setBrowseHook([&](const QString &title, const QString &start) {
        calls << title + QLatin1Char('|') + start;
        return QStringLiteral("/picked");
    });
    QCOMPARE(modFolder::BrowseFolder(QStringLiteral("Quellordner:"), QStringLiteral("/start"),
                                     nullptr, true, QString(), true, false),
             QStringLiteral("/picked"));
    QCOMPARE(modFolder::BrowseFolder(QStringLiteral("$"), QString(), nullptr, true, QString(), true,
                                     false),
             QStringLiteral("/picked"));
    QCOMPARE(calls, (QStringList{QStringLiteral("Quellordner:|/start"), QStringLiteral("|")}));
}

QTEST_MAIN(tst_FolderPicker)
#include "tst_folderpicker.moc"
