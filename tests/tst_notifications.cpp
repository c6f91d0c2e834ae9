// Notices through the desktop's notification service. Run inside
// dbus-run-session: the session bus is a private one, and the test plays the
// notification daemon on a connection of its own.
#include "app/DesktopNotifier.h"
#include "app/PassNotifier.h"
#include "support/MemoryFileSystem.h"
#include "support/WindowFixture.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QSignalSpy>
#include <QTest>

static const char LanguageFile[] = "[frmMain]\nt19=no files\nt25=copied\nt35=Error\nt94=Done:\n"
                                   "[Tray]\nAffected=files hit:\n";

class FakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QList<QVariantList> calls;

public slots:
    uint Notify(const QString &app, uint replaces, const QString &icon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints,
                int timeout)
    {
        calls << QVariantList{app, replaces, icon, summary, body, actions, hints, timeout};
        return static_cast<uint>(calls.size());
    }
};

class tst_Notifications : public QObject
{
    Q_OBJECT

    WindowFixture f;
    std::unique_ptr<MemoryFileSystem> m_fs;
    FakeNotifications m_daemon;
    QDBusConnection m_daemonBus{QString()};

    // Answers as the desktop's notification daemon until the end of the test.
    void serve()
    {
        m_daemonBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "daemon");
        QVERIFY(m_daemonBus.isConnected());
        QVERIFY(m_daemonBus.registerObject("/org/freedesktop/Notifications", &m_daemon,
                                           QDBusConnection::ExportAllSlots));
        QVERIFY(m_daemonBus.registerService("org.freedesktop.Notifications"));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run inside dbus-run-session");
    }

    void init()
    {
        f.setUp("Test", LanguageFile);
        m_fs = std::make_unique<MemoryFileSystem>();
        f.fs = m_fs.get();
        m_daemon.calls.clear();
    }

    void cleanup()
    {
        if (m_daemonBus.isConnected()) {
            m_daemonBus.unregisterService("org.freedesktop.Notifications");
            QDBusConnection::disconnectFromBus("daemon");
            m_daemonBus = QDBusConnection(QString());
        }
        f.tearDown();
    }

    // The call carries who we are and the notice; no balloon then.
    void serviceGetsTheNotice()
    {
        serve();
        DesktopNotifier notifier;
        int balloons = 0;
        notifier.notify("Summary", "Body text", "/opt/p/pallwick.png", [&] { ++balloons; });
        QTRY_COMPARE(m_daemon.calls.size(), 1);
        const QVariantList call = m_daemon.calls.first();
        QCOMPARE(call[0].toString(), QString("Pallwick Lite"));
        QCOMPARE(call[2].toString(), QString("/opt/p/pallwick.png"));
        QCOMPARE(call[3].toString(), QString("Summary"));
        QCOMPARE(call[4].toString(), QString("Body text"));
        QCOMPARE(call[6].toMap().value("desktop-entry").toString(),
                 QString("example.pallwick.PallwickLite"));
        QTest::qWait(200);
        QCOMPARE(balloons, 0);
    }

    void balloonWhereNoServiceAnswers()
    {
        QVERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(
            "org.freedesktop.Notifications"));
        DesktopNotifier notifier;
        int balloons = 0;
        notifier.notify("Summary", "Body", "pallwick", [&] { ++balloons; });
        QTRY_COMPARE(balloons, 1);
    }

    // One notice per pass at most: the failure notice always, the count of
    // transferred files only when asked for, nothing for an idle pass.
    void oneNoticePerPass_data()
    {
        QTest::addColumn<QByteArray>("options");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<bool>("failing");
        QTest::addColumn<QString>("expected"); // summary | body, or "" for none
        const QStringList three{"/src/a", "/src/b", "/src/c"};
        const QByteArray every = "NotifyEveryPass=1\n";
        const QString failed = "Pallwick Lite - Error|files hit: 1";
        QTest::newRow("every pass, three copied")
            << every << three << false << "Pallwick Lite|Done: 3";
        QTest::newRow("every pass, nothing to do") << every << QStringList() << false << "";
        QTest::newRow("every pass, one failed") << every << three << true << failed;
        QTest::newRow("not asked, three copied") << QByteArray() << three << false << "";
        QTest::newRow("not asked, one failed") << QByteArray() << three << true << failed;
    }

    void oneNoticePerPass()
    {
        QFETCH(QByteArray, options);
        QFETCH(QStringList, files);
        QFETCH(bool, failing);
        QFETCH(QString, expected);
        serve();
        for (const QString &name : files)
            m_fs->files[name] = "data";
        if (failing)
            m_fs->failures[{"copy", "/src/b"}] = FsResult::failure(EIO, "Input/output error");
        m_fs->freeBytes["/dst"] = qint64(1) << 40;
        writeFile(f.ini(), "[Options]\nLanguage=Test\nFrom=/src\nTo=/dst\nAction=Copy\n" + options);
        auto w = f.open();
        w->DoAction();
        QTest::qWait(300);
        if (expected.isEmpty()) {
            QCOMPARE(m_daemon.calls.size(), 0);
            return;
        }
        QCOMPARE(m_daemon.calls.size(), 1);
        QCOMPARE(m_daemon.calls[0][3].toString() + "|" + m_daemon.calls[0][4].toString(), expected);
    }
};

QTEST_MAIN(tst_Notifications)
#include "tst_notifications.moc"
