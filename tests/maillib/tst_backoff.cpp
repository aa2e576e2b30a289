// What the program tells the library about the network and sleep: which back-offs a network
// change frees, and that a wake drops the connections open across the sleep.
#include "maillib/NetworkEvents.h"
#include "tests/maillib/FakeMailClock.h"
#include "tests/maillib/FakePop3Server.h"
#include "tests/maillib/TestSupport.h"

#include <QElapsedTimer>
#include <QtTest>

#include <future>

using namespace std::chrono_literals;
using Kind = maillib::AccountStatus::Kind;

class TestNetworkEvents : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    maillib::AccountStatus Check(const std::string& server, const std::string& password = "secret")
    {
        std::string s = server, user = "u", pw = password, mode = "SAVEALL", folder = dir_.path().toStdString();
        maillib::AccountStatus status;
        maillib::RcvMail(s, user, pw, mode, folder, status);
        return status;
    }

private Q_SLOTS:
    void init()
    {
        maillib::internal::Limits l;
        l.connect = 500ms;
        l.total = 800ms;
        StartFresh(l, dir_);
    }

    void networkChangeFreesOnlyTheUnreachable_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("failedAs");
        QTest::addColumn<bool>("freed");
        QTest::newRow("could not connect") << "closed" << int(Kind::CannotConnect) << true;
        QTest::newRow("timed out") << "silent" << int(Kind::TimedOut) << true;
        QTest::newRow("wrong password") << "password" << int(Kind::LoginRefused) << false;
        QTest::newRow("server error") << "greeting" << int(Kind::ServerError) << false;
    }

    void networkChangeFreesOnlyTheUnreachable()
    {
        QFETCH(QString, fault);
        QFETCH(int, failedAs);
        QFETCH(bool, freed);
        FakeMailClock clock; // the back-off never runs out by itself here
        FakePop3Server s;
        s.silent = fault == "silent";
        if (fault == "password") s.password = "other";
        if (fault == "greeting") s.greeting = "-ERR go away";
        QVERIFY(s.start());
        const std::string server = Plain(s);
        if (fault == "closed") s.stop();
        QCOMPARE(int(Check(server).kind), failedAs);
        QCOMPARE(Check(server).kind, Kind::Waiting);

        const auto before = maillib::NetworkGeneration();
        QCOMPARE(maillib::RetryUnreachableAccounts(), std::size_t(freed ? 1 : 0));
        QCOMPARE(maillib::NetworkGeneration(), before + 1);
        const maillib::AccountStatus again = Check(server);
        QCOMPARE(int(again.kind), freed ? failedAs : int(Kind::Waiting));
        // Freed, the back-off starts over from its first step.
        if (freed) QCOMPARE(maillib::internal::StatsFor(server, "u").failures, 1);
    }

    void wakeDropsConnectionsOpenAcrossTheSleep()
    {
        maillib::internal::Limits l;
        l.connect = 10s;
        l.total = 20s;
        maillib::internal::SetLimits(l);
        FakePop3Server s;
        s.silent = true;
        QVERIFY(s.start());
        const std::string server = Plain(s);
        auto check = std::async(std::launch::async, [this, server] { return Check(server); });
        QTRY_VERIFY(s.connections() >= 1);
        QElapsedTimer sinceWake;
        sinceWake.start();
        maillib::DropOpenConnections();
        QVERIFY(check.wait_for(1s) == std::future_status::ready);
        QVERIFY2(sinceWake.elapsed() < 1000, qPrintable(QString::number(sinceWake.elapsed())));
        QCOMPARE(check.get().kind, Kind::CannotConnect);
        // Not a cancellation: the next check talks to the server again.
        QVERIFY(maillib::RetryUnreachableAccounts() == 1);
        const int connections = s.connections();
        maillib::internal::SetLimits(maillib::internal::Limits{});
        auto next = std::async(std::launch::async, [this, server] { return Check(server); });
        QTRY_VERIFY(s.connections() > connections);
        maillib::DropOpenConnections();
        next.wait();
    }
};

QTEST_GUILESS_MAIN(TestNetworkEvents)
#include "tst_backoff.moc"
