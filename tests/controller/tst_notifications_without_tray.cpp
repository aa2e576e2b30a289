// Failure and recovery notices on a desktop without a tray: they go to the desktop's
// notification service on the session bus. Runs on a private bus (dbus-run-session) with a
// fake service that records every Notify call.
#include "tests/common/FileContents.h"
#include "tests/common/TestClock.h"
#include "tests/controller/ControllerFakes.h"
#include "controller/fMail_Task.h"
#include "controller/mM_CHKER.h"
#include "settings/mReadINI.h"

#include <QDBusConnection>
#include <QDir>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QVariantMap>

using Kind = maillib::AccountStatus::Kind;

namespace {

// org.freedesktop.Notifications as far as a sender sees it.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList calls; // "summary|body"

public Q_SLOTS:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body, const QStringList&,
                const QVariantMap&, int)
    {
        calls << summary + u'|' + body;
        return static_cast<uint>(calls.size());
    }
};

} // namespace

class TestNotificationsWithoutTray : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void checksReachTheNotificationService_data();
    void checksReachTheNotificationService();

private:
    FakeNotifications service_;
    QDBusConnection serviceBus_{QString()};
};

void TestNotificationsWithoutTray::initTestCase()
{
    QVERIFY2(!QSystemTrayIcon::isSystemTrayAvailable(), "this test needs a desktop without a tray");
    // The service sits on a connection of its own, as another program's would.
    serviceBus_ = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-notifications"));
    QVERIFY2(serviceBus_.isConnected(), "no session bus: run under dbus-run-session");
    QVERIFY(serviceBus_.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service_,
                                       QDBusConnection::ExportAllSlots));
    QVERIFY(serviceBus_.registerService(QStringLiteral("org.freedesktop.Notifications")));
}

void TestNotificationsWithoutTray::checksReachTheNotificationService_data()
{
    QTest::addColumn<QString>("server");    // of account 1; empty: no account
    QTest::addColumn<QStringList>("kinds"); // account 1's status at each check
    QTest::addColumn<QStringList>("notified");

    const QString failed =
        QStringLiteral("仕事: 受信できません|ログインできません（ユーザー名かパスワードが違います）");
    const QString back = QStringLiteral("仕事: 受信できるようになりました|メールを再び確認できます");
    QTest::newRow("failure and recovery, once each")
        << "pop.example.jp" << QStringList{"LoginRefused", "Waiting", "LoginRefused", "Waiting", "Ok", "Ok", "Ok"}
        << QStringList{failed, back};
    QTest::newRow("working on: nothing") << "pop.example.jp" << QStringList{"Ok", "Ok", "Ok"} << QStringList{};
    QTest::newRow("no account: one notice with what to do")
        << QString() << QStringList{"NotConfigured", "NotConfigured", "NotConfigured"}
        << QStringList{QStringLiteral("アカウントが設定されていません|Ferrowick のアイコン（通知領域がなければ"
                                      "アプリケーションメニューの Ferrowick）を右クリックし、「プロパティ」で"
                                      "アカウントを設定して下さい。設定は次の起動から使われます。")};
}

void TestNotificationsWithoutTray::checksReachTheNotificationService()
{
    QFETCH(QString, server);
    QFETCH(QStringList, kinds);
    QFETCH(QStringList, notified);
    static const QMap<QString, Kind> kKinds{{"Ok", Kind::Ok},
                                            {"NotConfigured", Kind::NotConfigured},
                                            {"LoginRefused", Kind::LoginRefused},
                                            {"Waiting", Kind::Waiting}};

    mReadINI::ResetForTests();
    mM_CHKER::ResetForTests();
    service_.calls.clear();
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("maildata/INI"))));
    writeAll(dir.filePath(QStringLiteral("maildata/INI/maildata.ini")),
             server.isEmpty() ? QByteArray("[POP]\n")
                              : "[POP]\nPOP_SERVER1=" + server.toUtf8() + "\nUSER1=u1\nPASS1=p1\nNAME1=仕事#\n");
    TestClock clock;
    Journal journal;
    FakeForms forms(journal);
    ScriptedMail mail(journal);
    fMail_Task task(forms, mail);
    for (int i = 0; i < kinds.size(); ++i) {
        maillib::AccountStatus status;
        status.kind = kKinds.value(kinds[i]);
        if (!server.isEmpty()) mail.statuses[server] = status;
        if (i == 0) task.Form_Load(dir.path()); // the first check
        else task.logic().mnuRev_Click();
        clock.advance(60);
        // Time for a call to arrive: no check may bring one it should not.
        QTest::qWait(100);
    }
    QTRY_COMPARE_WITH_TIMEOUT(service_.calls.size(), notified.size(), 2000);
    QTest::qWait(200);
    QCOMPARE(service_.calls, notified);
}

QTEST_MAIN(TestNotificationsWithoutTray)
#include "tst_notifications_without_tray.moc"
