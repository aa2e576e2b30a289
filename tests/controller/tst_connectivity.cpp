// The resident and the machine's day: the network gone and back, and waking from sleep (told by
// logind on the system bus, or seen in the clocks).
#include "controller/ConnectivityWatch.h"
#include "controller/ResidentController.h"
#include "tests/common/PrivateBus.h"
#include "tests/common/TestClock.h"
#include "tests/controller/ControllerFakes.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using Kind = maillib::AccountStatus::Kind;
using namespace std::chrono_literals;

namespace {

const QString kOffline = QStringLiteral("Ferrowick\nネットワークに接続されていません");

class FakeSleepClocks final : public SleepClocks {
public:
    std::chrono::nanoseconds Boot() const override { return monotonic + asleep; }
    std::chrono::nanoseconds Monotonic() const override { return monotonic; }
    std::chrono::nanoseconds monotonic{1000s};
    std::chrono::nanoseconds asleep{0s};
};

maillib::AccountStatus failed(Kind kind)
{
    maillib::AccountStatus s;
    s.kind = kind;
    s.text = "pop1: cannot connect";
    return s;
}

// A resident with two accounts whose checks come only when asked (one check every 600 ticks).
struct Resident : FakeSurroundings {
    ScriptedMail mail{journal};
    ResidentController ctl{host, forms, mail};
    QTimer tick;
    FakeSleepClocks clocks;
    std::unique_ptr<ConnectivityWatch> watch;

    explicit Resident(const QString& folder)
    {
        NewStart(folder, "[POP]\nPOP_SERVER1=pop1\nUSER1=u1\nPASS1=p1\nPOP_SERVER2=pop2\nUSER2=u2\nPASS2=p2\n"
                         "[MAIL_REV]\nREV_TIMER_MIN=600\n[ABOUT_PALAM]\nUNLOAD_FLAG=1\n");
        tick.setInterval(1000);
        QObject::connect(&tick, &QTimer::timeout, [this] { ctl.Timer1_Timer(); });
        watch = std::make_unique<ConnectivityWatch>(ctl, mail, tick, &clocks);
        ctl.Form_Load(folder);
    }
    int checks() const { return int(journal.entries.filter(QStringLiteral("rcv:pop1|")).size()); }
};

} // namespace

class TestConnectivity : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void offlineFailuresAreNoFailures();
    void networkBackRetriesAtTheNextTick_data();
    void networkBackRetriesAtTheNextTick();
    void wakeChecksAtOnce_data();
    void wakeChecksAtOnce();

private:
    QTemporaryDir dir_;
    std::unique_ptr<PrivateBus> bus_;
};

void TestConnectivity::initTestCase()
{
    // Our own system bus, on which the test plays logind.
    bus_ = std::make_unique<PrivateBus>();
    if (bus_->started()) qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus_->address().toUtf8());
}

void TestConnectivity::offlineFailuresAreNoFailures()
{
    TestClock clock;
    Resident r(dir_.path());
    r.ctl.SetNetworkAvailable(false);
    QCOMPARE(r.host.trayTip, kOffline);
    r.mail.statuses[QStringLiteral("pop1")] = failed(Kind::CannotConnect);
    r.mail.statuses[QStringLiteral("pop2")] = failed(Kind::TimedOut);
    for (int i = 0; i < 2; ++i) r.ctl.mnuRev_Click();
    // Said once, for all, with no warning picture and no notification per account.
    QCOMPARE(r.host.trayTip, kOffline);
    QVERIFY(!r.host.warningIcon);
    QCOMPARE(r.host.notifications, QStringList());

    // Back: the next tick retries, and the accounts were never failing.
    r.mail.statuses.clear();
    r.mail.unreachable = 2;
    r.ctl.SetNetworkAvailable(true);
    const int before = r.checks();
    r.ctl.Timer1_Timer();
    QCOMPARE(r.mail.retries, 1);
    QCOMPARE(r.checks(), before + 1);
    QVERIFY2(r.host.trayTip.startsWith(QStringLiteral("Ferrowick\n最終確認 ")), qPrintable(r.host.trayTip));
    QCOMPARE(r.host.notifications, QStringList());
}

void TestConnectivity::networkBackRetriesAtTheNextTick_data()
{
    QTest::addColumn<bool>("wasOffline");
    QTest::addColumn<int>("unreachable"); // accounts whose back-off the library forgets
    QTest::addColumn<bool>("checks");     // at the next tick
    QTest::newRow("back, an account could not connect") << true << 1 << true;
    QTest::newRow("back, nothing to retry") << true << 0 << false;
    QTest::newRow("route changed, an account timed out") << false << 1 << true;
    QTest::newRow("route changed, all well") << false << 0 << false;
}

void TestConnectivity::networkBackRetriesAtTheNextTick()
{
    QFETCH(bool, wasOffline);
    QFETCH(int, unreachable);
    QFETCH(bool, checks);
    TestClock clock;
    Resident r(dir_.path());
    if (wasOffline) r.ctl.SetNetworkAvailable(false);
    r.mail.unreachable = std::size_t(unreachable);
    r.ctl.SetNetworkAvailable(true);
    const int before = r.checks();
    QCOMPARE(r.mail.retries, 0); // not before the tick
    r.ctl.Timer1_Timer();
    QCOMPARE(r.mail.retries, 1);
    QCOMPARE(r.checks(), before + (checks ? 1 : 0));
    // Once: the tick after does nothing more.
    r.ctl.Timer1_Timer();
    QCOMPARE(r.mail.retries, 1);
    QCOMPARE(r.checks(), before + (checks ? 1 : 0));
}

void TestConnectivity::wakeChecksAtOnce_data()
{
    QTest::addColumn<QString>("told"); // how the wake shows: "logind", "clocks" or "" (no sleep)
    QTest::newRow("logind says so") << QStringLiteral("logind");
    QTest::newRow("the boot clock jumped") << QStringLiteral("clocks");
    QTest::newRow("no sleep") << QString();
}

void TestConnectivity::wakeChecksAtOnce()
{
    QFETCH(QString, told);
    if (told == QLatin1String("logind") && !bus_->started()) QSKIP("dbus-daemon is missing");
    TestClock clock;
    // Plays logind on the private system bus, on a connection of its own.
    QDBusConnection login1 = QDBusConnection::connectToBus(bus_->address(), QStringLiteral("fake-login1"));
    if (told == QLatin1String("logind")) QVERIFY(login1.registerService(QStringLiteral("org.freedesktop.login1")));
    Resident r(dir_.path());
    const auto prepareForSleep = [&](bool start) {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                         QStringLiteral("org.freedesktop.login1.Manager"),
                                                         QStringLiteral("PrepareForSleep"));
        signal << start;
        QVERIFY(login1.send(signal));
    };
    // The post box is up and would close ten seconds from now.
    r.ctl.mnuOpen_Click();
    QVERIFY(r.forms.IsVisible(FormId::fMail_Checker));
    r.tick.start();
    QTest::qWait(1100); // a tick without news
    const int before = r.checks();
    QCOMPARE(r.mail.drops, 0);

    QElapsedTimer sinceWake;
    if (told == QLatin1String("logind")) {
        prepareForSleep(true);
        clock.advance(3600);
        prepareForSleep(false);
    } else if (told == QLatin1String("clocks")) {
        r.clocks.asleep += 3600s;
        clock.advance(3600);
    }
    sinceWake.start();
    if (told.isEmpty()) {
        QTest::qWait(2200);
        QCOMPARE(r.checks(), before);
        QCOMPARE(r.mail.drops, 0);
        QVERIFY(r.forms.IsVisible(FormId::fMail_Checker));
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(r.checks() > before, 2000);
        QVERIFY2(sinceWake.elapsed() <= 1000 + 100, qPrintable(QString::number(sinceWake.elapsed())));
        QCOMPARE(r.checks(), before + 1);
        QCOMPARE(r.mail.drops, 1);
        // The close time passed during the sleep: the post box is closed, not kept open for
        // another ten seconds by the check.
        QVERIFY(!r.forms.IsVisible(FormId::fMail_Checker));
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-login1"));
}

QTEST_GUILESS_MAIN(TestConnectivity)
#include "tst_connectivity.moc"
