// The network away and back, for real: the resident and the real mail library run in a network
// namespace of their own, and reach the scripted server in another one over a veth pair. The
// link goes down until the account's back-off has grown to minutes (on the library's clock,
// moved by hand), then comes back up as a DHCP client would bring it: the account must be
// checked and well again within 5 seconds. Needs root and iproute2; skipped otherwise.
#include "controller/ConnectivityWatch.h"
#include "controller/RealMailLibrary.h"
#include "maillib/MailLibInternal.h"
#include "tests/controller/ControllerFixture.h"
#include "tests/maillib/FakeMailClock.h"
#include "tests/maillib/FakePop3Server.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

using Kind = maillib::AccountStatus::Kind;
using namespace std::chrono_literals;

namespace {

const QString kOffline = QStringLiteral("Ferrowick\nネットワークに接続されていません");
const QString kServerAddress = QStringLiteral("10.213.7.1");
const QString kClientAddress = QStringLiteral("10.213.7.2");

bool ip(const QStringList& arguments) { return QProcess::execute(QStringLiteral("ip"), arguments) == 0; }

// Moves the calling thread into the namespace at `path`; threads it starts later follow it.
bool enter(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    const bool entered = fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
    if (fd >= 0) ::close(fd);
    return entered;
}

} // namespace

class TestNetworkBack : public QObject, private ControllerFixture<RealMailLibrary> {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void cleanup() { TearDown(); }
    void accountIsWellWithinFiveSecondsOfTheLink();

private:
    QString client_, server_, link_;
    QString home_; // this thread's namespace before the test
    bool made_ = false;
};

void TestNetworkBack::initTestCase()
{
    if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty())
        QSKIP("needs root and iproute2 for network namespaces");
    const QString id = QString::number(::getpid());
    client_ = QStringLiteral("fw-nb-c-") + id;
    server_ = QStringLiteral("fw-nb-s-") + id;
    link_ = QStringLiteral("fwnb") + id.right(6);
    const QString peer = link_ + QStringLiteral("s");
    made_ = ip({"netns", "add", client_}) && ip({"netns", "add", server_}) &&
            ip({"link", "add", link_, "type", "veth", "peer", "name", peer}) &&
            ip({"link", "set", link_, "netns", client_}) && ip({"link", "set", peer, "netns", server_}) &&
            ip({"-n", server_, "addr", "add", kServerAddress + "/24", "dev", peer}) &&
            ip({"-n", server_, "link", "set", peer, "up"}) &&
            ip({"-n", client_, "addr", "add", kClientAddress + "/24", "dev", link_}) &&
            ip({"-n", client_, "link", "set", link_, "up"}) &&
            ip({"-n", client_, "route", "add", "default", "via", kServerAddress});
    if (!made_) QSKIP("cannot make network namespaces here");
    home_ = QStringLiteral("/proc/%1/task/%2/ns/net").arg(::getpid()).arg(::gettid());
    const int saved = ::open(QFile::encodeName(home_).constData(), O_RDONLY | O_CLOEXEC);
    home_ = QStringLiteral("/proc/self/fd/%1").arg(saved);
    QVERIFY(enter(QStringLiteral("/run/netns/") + client_));
}

void TestNetworkBack::cleanupTestCase()
{
    if (!made_) return;
    enter(home_);
    ip({"netns", "del", client_});
    ip({"netns", "del", server_});
}

void TestNetworkBack::accountIsWellWithinFiveSecondsOfTheLink()
{
    // The server listens in its own namespace.
    FakePop3Server s;
    s.address = kServerAddress.toStdString();
    s.setMails({{"uid-1", "From: a@example.jp\r\nSubject: hello\r\n\r\nbody\r\n"}});
    QVERIFY(enter(QStringLiteral("/run/netns/") + server_));
    const bool started = s.start();
    QVERIFY(enter(QStringLiteral("/run/netns/") + client_));
    QVERIFY(started);

    FakeMailClock mailClock;
    maillib::internal::ResetState();
    maillib::internal::Limits limits;
    limits.connect = 1000ms;
    limits.total = 2000ms;
    maillib::internal::SetLimits(limits);

    SetUp([] { return std::make_unique<RealMailLibrary>(); });
    writeSettingsFile("[POP]\nPOP_SERVER1=" + QByteArray::fromStdString(Plain(s)) +
                      "\nUSER1=u\nPASS1=secret\n[MAIL_REV]\nREV_TIMER_MIN=600\n");
    FakeHost& host = *host_;
    RealMailLibrary& mail = *mail_;
    ResidentController& ctl = *ctl_;
    QTimer tick;
    tick.setInterval(1000);
    connect(&tick, &QTimer::timeout, this, [&ctl] { ctl.Timer1_Timer(); });
    ConnectivityWatch watch(ctl, mail, tick);
    ctl.Form_Load(programFolder());
    QCOMPARE(ctl.LastStatus(1).kind, Kind::Ok);

    // Away: the route goes with the link, and the tray says so once.
    QVERIFY(ip({"-n", client_, "link", "set", link_, "down"}));
    QTRY_COMPARE_WITH_TIMEOUT(host.trayTip, kOffline, 5000);
    const std::string server = Plain(s);
    auto backoff = 30s;
    for (int failures = 1; failures <= 5; ++failures) {
        ctl.mnuRev_Click();
        QCOMPARE(ctl.LastStatus(1).kind, Kind::CannotConnect);
        QCOMPARE(maillib::internal::StatsFor(server, "u").failures, failures);
        mailClock.Advance(backoff);
        if (failures < 5) backoff *= 2;
    }
    // Backing off for eight minutes now; the clock stands just short of it.
    mailClock.Advance(-1s);
    ctl.mnuRev_Click();
    QCOMPARE(ctl.LastStatus(1).kind, Kind::Waiting);
    QCOMPARE(host.trayTip, kOffline);
    QVERIFY(!host.warningIcon);
    QCOMPARE(host.notifications, QStringList());

    // Back, as a DHCP client brings it: the link, then the default route.
    tick.start();
    QVERIFY(ip({"-n", client_, "link", "set", link_, "up"}));
    QVERIFY(ip({"-n", client_, "route", "add", "default", "via", kServerAddress}));
    QElapsedTimer sinceUp;
    sinceUp.start();
    QTRY_VERIFY_WITH_TIMEOUT(ctl.LastStatus(1).kind == Kind::Ok, 5000);
    QVERIFY2(sinceUp.elapsed() < 5000, qPrintable(QString::number(sinceUp.elapsed())));
    QCOMPARE(maillib::internal::StatsFor(server, "u").failures, 0);
    QVERIFY2(host.trayTip.startsWith(QStringLiteral("Ferrowick\n最終確認 ")), qPrintable(host.trayTip));
    QCOMPARE(host.notifications, QStringList());
}

QTEST_GUILESS_MAIN(TestNetworkBack)
#include "tst_network_back.moc"
