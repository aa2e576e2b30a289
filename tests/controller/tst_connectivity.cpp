// The resident and the machine's day: the network gone and back, and waking from sleep (told by
// logind on the system bus, or seen in the clocks).
#include "controller/ConnectivityWatch.h"
#include "tests/common/PrivateBus.h"
#include "tests/controller/ControllerFixture.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
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

// Two accounts whose checks come only when asked (one check every 600 ticks), and the
// post box set to close by itself.
const QByteArray kSettings = "[POP]\nPOP_SERVER1=pop1\nUSER1=u1\nPASS1=p1\nPOP_SERVER2=pop2\nUSER2=u2\nPASS2=p2\n"
                             "[MAIL_REV]\nREV_TIMER_MIN=600\n[ABOUT_PALAM]\nUNLOAD_FLAG=1\n";

} // namespace

class TestConnectivity : public QObject, private ControllerFixture<ScriptedMail> {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void offlineFailuresAreNoFailures();
    void networkBackRetriesAtTheNextTick_data();
    void networkBackRetriesAtTheNextTick();
    void wakeChecksAtOnce_data();
    void wakeChecksAtOnce();

private:
    int checksMade() const { return int(journal_.entries.filter(QStringLiteral("rcv:pop1|")).size()); }

    std::unique_ptr<PrivateBus> bus_;
    QTimer tick_; // the resident's check timer
    FakeSleepClocks clocks_;
    std::unique_ptr<ConnectivityWatch> watch_;
};

void TestConnectivity::initTestCase()
{
    // Our own system bus, on which the test plays logind.
    bus_ = std::make_unique<PrivateBus>();
    if (bus_->started()) qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus_->address().toUtf8());
}

void TestConnectivity::init()
{
    SetUp([this] { return std::make_unique<ScriptedMail>(journal_); });
    writeSettingsFile(kSettings);
    clocks_ = FakeSleepClocks();
    tick_.setInterval(1000);
    connect(&tick_, &QTimer::timeout, this, [this] { ctl_->Timer1_Timer(); });
    watch_ = std::make_unique<ConnectivityWatch>(*ctl_, *mail_, tick_, &clocks_);
}

void TestConnectivity::cleanup()
{
    tick_.stop();
    tick_.disconnect(this);
    watch_.reset();
    TearDown();
}

void TestConnectivity::offlineFailuresAreNoFailures()
{
    ctl_->Form_Load(programFolder());
    ctl_->SetNetworkAvailable(false);
    QCOMPARE(host_->trayTip, kOffline);
    mail_->statuses[QStringLiteral("pop1")] = failed(Kind::CannotConnect);
    mail_->statuses[QStringLiteral("pop2")] = failed(Kind::TimedOut);
    for (int i = 0; i < 2; ++i) ctl_->mnuRev_Click();
    // Said once, for all, with no warning picture and no notification per account.
    QCOMPARE(host_->trayTip, kOffline);
    QVERIFY(!host_->warningIcon);
    QCOMPARE(host_->notifications, QStringList());

    // Back: the next tick retries, and the accounts were never failing.
    mail_->statuses.clear();
    mail_->unreachable = 2;
    ctl_->SetNetworkAvailable(true);
    const int before = checksMade();
    ctl_->Timer1_Timer();
    QCOMPARE(mail_->retries, 1);
    QCOMPARE(checksMade(), before + 1);
    QVERIFY2(host_->trayTip.startsWith(QStringLiteral("Ferrowick\n最終確認 ")), qPrintable(host_->trayTip));
    QCOMPARE(host_->notifications, QStringList());
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
    ctl_->Form_Load(programFolder());
    if (wasOffline) ctl_->SetNetworkAvailable(false);
    mail_->unreachable = std::size_t(unreachable);
    ctl_->SetNetworkAvailable(true);
    const int before = checksMade();
    QCOMPARE(mail_->retries, 0); // not before the tick
    ctl_->Timer1_Timer();
    QCOMPARE(mail_->retries, 1);
    QCOMPARE(checksMade(), before + (checks ? 1 : 0));
    // Once: the tick after does nothing more.
    ctl_->Timer1_Timer();
    QCOMPARE(mail_->retries, 1);
    QCOMPARE(checksMade(), before + (checks ? 1 : 0));
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
    // Plays logind on the private system bus, on a connection of its own.
    QDBusConnection login1 = QDBusConnection::connectToBus(bus_->address(), QStringLiteral("fake-login1"));
    if (told == QLatin1String("logind")) QVERIFY(login1.registerService(QStringLiteral("org.freedesktop.login1")));
    ctl_->Form_Load(programFolder());
    const auto prepareForSleep = [&](bool start) {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                         QStringLiteral("org.freedesktop.login1.Manager"),
                                                         QStringLiteral("PrepareForSleep"));
        signal << start;
        QVERIFY(login1.send(signal));
    };
    // The post box is up and would close ten seconds from now.
    ctl_->mnuOpen_Click();
    QVERIFY(forms_->IsVisible(FormId::fMail_Checker));
    tick_.start();
    QTest::qWait(1100); // a tick without news
    const int before = checksMade();
    QCOMPARE(mail_->drops, 0);

    QElapsedTimer sinceWake;
    if (told == QLatin1String("logind")) {
        prepareForSleep(true);
        clock_->advance(3600);
        prepareForSleep(false);
    } else if (told == QLatin1String("clocks")) {
        clocks_.asleep += 3600s;
        clock_->advance(3600);
    }
    sinceWake.start();
    if (told.isEmpty()) {
        QTest::qWait(2200);
        QCOMPARE(checksMade(), before);
        QCOMPARE(mail_->drops, 0);
        QVERIFY(forms_->IsVisible(FormId::fMail_Checker));
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(checksMade() > before, 2000);
        QVERIFY2(sinceWake.elapsed() <= 1000 + 100, qPrintable(QString::number(sinceWake.elapsed())));
        QCOMPARE(checksMade(), before + 1);
        QCOMPARE(mail_->drops, 1);
        // The close time passed during the sleep: the post box is closed, not kept open for
        // another ten seconds by the check.
        QVERIFY(!forms_->IsVisible(FormId::fMail_Checker));
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-login1"));
}

QTEST_GUILESS_MAIN(TestConnectivity)
#include "tst_connectivity.moc"
