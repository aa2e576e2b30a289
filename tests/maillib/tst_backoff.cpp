// The back-off after a failure: what it goes by (the credentials sent, not the account slot),
// what it covers (a full disk too), which of them a network change frees, and that a wake
// drops the connections open across the sleep.
#include "maillib/NetworkEvents.h"
#include "tests/maillib/FakeMailClock.h"
#include "tests/maillib/FakePop3Server.h"
#include "tests/common/DiskFaults.h"
#include "tests/maillib/TestSupport.h"

#include <QElapsedTimer>
#include <QtTest>

#include <future>

using namespace std::chrono_literals;
using Kind = maillib::AccountStatus::Kind;

class TestBackoff : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    maillib::AccountStatus Check(const std::string& server, const std::string& password = "secret",
                                 const QString& into = {})
    {
        std::string s = server, user = "u", pw = password, mode = "SAVEALL",
                    folder = (into.isEmpty() ? dir_.path() : into).toStdString();
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

    void wrongPasswordOfOneSlotBacksOffWhileTheOtherLogsIn()
    {
        FakeMailClock clock;
        maillib::internal::Limits l = maillib::internal::GetLimits();
        l.backoffBase = 30s;
        l.backoffMax = 600s;
        maillib::internal::SetLimits(l);
        FakePop3Server s;
        s.setMails({{"a", "Subject: one\r\n\r\nbody\r\n"}});
        QVERIFY(s.start());
        // Slot 1 is right, slot 2 has the same server and user with a wrong password; both are
        // checked every 5 seconds for 90 seconds.
        for (int second = 0; second <= 90; second += 5) {
            QCOMPARE(Check(Plain(s), "secret").kind, Kind::Ok);
            const Kind wrong = Check(Plain(s), "wrong").kind;
            QVERIFY2(wrong == Kind::LoginRefused || wrong == Kind::Waiting, qPrintable(QString::number(int(wrong))));
            clock.Advance(5s);
        }
        int sent = 0;
        for (const auto& transcript : s.transcripts())
            sent += int(std::count(transcript.begin(), transcript.end(), std::string("PASS wrong")));
        // At 0, 30 and 90 seconds: the back-off doubles as if slot 1 did not exist.
        QCOMPARE(sent, 3);
    }

    void fullDiskIsSaidOnceAndBacksOff()
    {
        FakeMailClock clock;
        TinyFileSystem disk(dir_.filePath(QStringLiteral("small")));
        if (!disk.mounted()) QSKIP("mounting a small file system needs root");
        FakePop3Server s;
        s.setMails({{"a", "Subject: one\r\n\r\n" + std::string(8192, 'x') + "\r\n"}});
        QVERIFY(s.start());
        disk.fill();
        StderrCapture err;
        maillib::AccountStatus status = Check(Plain(s), "secret", disk.path());
        QCOMPARE(status.kind, Kind::DiskFull);
        // Not asked again while it backs off; the next failure adds no line.
        const int connections = s.connections();
        QCOMPARE(Check(Plain(s), "secret", disk.path()).kind, Kind::Waiting);
        QCOMPARE(s.connections(), connections);
        clock.Advance(maillib::internal::GetLimits().backoffBase);
        QCOMPARE(Check(Plain(s), "secret", disk.path()).kind, Kind::DiskFull);
        QCOMPARE(maillib::internal::StatsFor(Plain(s), "u").failures, 2);
        const std::string log = err.text();
        QCOMPARE(std::count(log.begin(), log.end(), '\n'), 1L);
        QVERIFY2(log.find("receive folder") != std::string::npos || log.find("mail file") != std::string::npos,
                 log.c_str());
        // Room again: the mails come once the back-off is over.
        QVERIFY(QFile::remove(disk.path() + QStringLiteral("/filler")));
        clock.Advance(2 * maillib::internal::GetLimits().backoffBase);
        QCOMPARE(Check(Plain(s), "secret", disk.path()).kind, Kind::Ok);
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

QTEST_GUILESS_MAIN(TestBackoff)
#include "tst_backoff.moc"
