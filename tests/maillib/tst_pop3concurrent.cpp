// Several accounts checked at once from their own threads, and CancelChecks ending them.
#include "tests/maillib/FakePop3Server.h"
#include "maillib/MailLibInternal.h"
#include "tests/maillib/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;
using Kind = maillib::AccountStatus::Kind;

namespace {

constexpr int kAccounts = 5;

std::string Mail(int account, int i)
{
    return "From: a" + std::to_string(account) + "@example.com\r\nSubject: account " + std::to_string(account) +
           " mail " + std::to_string(i) + "\r\n\r\nbody\r\n";
}

QStringList Q(const std::vector<std::string>& v)
{
    QStringList out;
    for (const auto& s : v) out << QString::fromStdString(s);
    return out;
}

// Lets the servers' threads wait until all of them have reached a point; gives up after
// `limit` so that a library that runs the checks one after another is seen, not hung.
class Rendezvous {
public:
    explicit Rendezvous(int parties) : parties_(parties) {}
    bool arriveAndWait(std::chrono::milliseconds limit)
    {
        std::unique_lock lock(mutex_);
        ++arrived_;
        cv_.notify_all();
        return cv_.wait_for(lock, limit, [&] { return arrived_ >= parties_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    int parties_;
    int arrived_ = 0;
};

struct Outcome {
    maillib::MailList refs;
    maillib::AccountStatus status;
};

Outcome Check(const std::string& server, const std::string& user, const std::string& password, const QString& dir)
{
    std::string srv = server, u = user, pw = password, mode = "SAVEALL", folder = dir.toStdString();
    Outcome o;
    o.refs = maillib::RcvMail(srv, u, pw, mode, folder, o.status);
    return o;
}

// Runs one check per server, each from its own thread, and waits for all of them.
std::vector<Outcome> CheckConcurrently(const std::vector<std::unique_ptr<FakePop3Server>>& servers, const QString& dir,
                                       std::function<void()> whileRunning = {})
{
    std::vector<Outcome> out(servers.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < servers.size(); ++i)
        threads.emplace_back([&, i] { out[i] = Check(Plain(*servers[i]), "user" + std::to_string(i), "secret", dir); });
    if (whileRunning) whileRunning();
    for (auto& t : threads) t.join();
    return out;
}

} // namespace

class TestPop3Concurrent : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        maillib::Initialise();
        maillib::internal::Limits l;
        // Far beyond what a test waits: a check that ends is one that was answered or cancelled.
        l.connect = 20000ms;
        l.total = 30000ms;
        StartFresh(l, dir_);
    }

    void cleanup()
    {
        maillib::SetLogSink({});
        maillib::internal::ResetState();
    }

    void accountsAreCheckedSideBySide()
    {
        // Every server holds its UIDL reply until all five have been asked: checks run one
        // after another never get there.
        Rendezvous allAsked(kAccounts);
        std::atomic<int> overlapped{0};
        std::vector<std::unique_ptr<FakePop3Server>> servers;
        for (int a = 0; a < kAccounts; ++a) {
            auto s = std::make_unique<FakePop3Server>();
            std::vector<FakeMail> mails;
            for (int i = 0; i <= a; ++i)
                mails.push_back({"a" + std::to_string(a) + "-" + std::to_string(i), Mail(a, i)});
            s->setMails(mails);
            s->hook = [&](const std::string& cmd, int) -> std::optional<FakeReply> {
                if (cmd == "UIDL" && allAsked.arriveAndWait(3000ms)) ++overlapped;
                return std::nullopt;
            };
            QVERIFY(s->start());
            servers.push_back(std::move(s));
        }
        const auto results = CheckConcurrently(servers, dir_.path());
        QCOMPARE(overlapped.load(), kAccounts);
        int files = 0;
        for (int a = 0; a < kAccounts; ++a) {
            const Outcome& o = results[static_cast<size_t>(a)];
            QVERIFY2(o.refs, o.status.text.c_str());
            QCOMPARE(o.status.kind, Kind::Ok);
            QCOMPARE(o.refs->size(), size_t(a + 1));
            for (int i = 0; i <= a; ++i) QCOMPARE(FileBytes((*o.refs)[static_cast<size_t>(i)]), Mail(a, a - i));
            QStringList expected{"CAPA", "USER user" + QString::number(a), "PASS secret", "UIDL", "LIST"};
            for (int i = a + 1; i >= 1; --i) expected << QString("TOP %1 1000000").arg(i);
            expected << "QUIT";
            QCOMPARE(Q(servers[static_cast<size_t>(a)]->lastTranscript()), expected);
            files += a + 1;
        }
        QCOMPARE(FilesIn(dir_.path()).size(), qsizetype(files));
    }

    void oneAccountFromManyThreadsStaysConsistent()
    {
        // The same account asked for from several threads at once: one check at a time, and
        // the cache makes every later one cost a UIDL only.
        FakePop3Server s;
        s.setMails({{"x", Mail(0, 0)}, {"y", Mail(0, 1)}});
        QVERIFY(s.start());
        std::vector<Outcome> out(4);
        std::vector<std::thread> threads;
        for (size_t i = 0; i < out.size(); ++i)
            threads.emplace_back([&, i] { out[i] = Check(Plain(s), "u", "secret", dir_.path()); });
        for (auto& t : threads) t.join();
        for (const auto& o : out) {
            QVERIFY(o.refs);
            QCOMPARE(o.refs->size(), size_t(2));
        }
        int fetched = 0;
        for (const auto& t : s.transcripts())
            fetched += static_cast<int>(
                std::count_if(t.begin(), t.end(), [](const std::string& c) { return c.rfind("TOP", 0) == 0; }));
        QCOMPARE(fetched, 2);
        QCOMPARE(FileBytes((*out[0].refs)[0]), Mail(0, 1)); // newest first
    }

    void warningsGoToTheSinkFromEveryThread()
    {
        std::mutex mutex;
        std::vector<std::string> lines;
        maillib::SetLogSink([&](const std::string& line) {
            std::lock_guard lock(mutex);
            lines.push_back(line);
        });
        StderrCapture err;
        std::vector<std::thread> threads;
        // The same misconfiguration from every thread at once is said once; each wrong password
        // once per account. A control sequence in a user name never reaches the line.
        for (int i = 0; i < 8; ++i)
            threads.emplace_back([&, i] {
                Check("pop3s://mail.example.jp:99999", "same", "pw", dir_.path());
                Check("pop3s://mail.example.jp:99999",
                      "user" + std::to_string(i) +
                          "\xc2\x9b"
                          "2J",
                      "pw", dir_.path());
            });
        for (auto& t : threads) t.join();
        QCOMPARE(err.text(), std::string());
        std::lock_guard lock(mutex);
        QCOMPARE(lines.size(), size_t(9));
        QCOMPARE(std::count(lines.begin(), lines.end(),
                            "maillib: pop3s://mail.example.jp:99999 (user same): port out of range"),
                 1L);
        for (const auto& l : lines) {
            QVERIFY2(l.find("\xc2\x9b") == std::string::npos, l.c_str());
            QVERIFY(l.find('\n') == std::string::npos);
        }
    }

    void cancelEndsHungChecks()
    {
        std::vector<std::unique_ptr<FakePop3Server>> servers;
        for (int a = 0; a < kAccounts; ++a) {
            auto s = std::make_unique<FakePop3Server>();
            s->silent = true;
            QVERIFY(s->start());
            servers.push_back(std::move(s));
        }
        const auto results = CheckConcurrently(servers, dir_.path(), [&] {
            // Cancel once every check is waiting on its silent server.
            for (const auto& s : servers) QTRY_COMPARE_WITH_TIMEOUT(s->connections(), 1, 10000);
            maillib::CancelChecks();
        });
        for (const auto& o : results) {
            QVERIFY(!o.refs);
            QCOMPARE(o.status.kind, Kind::Cancelled);
        }
        QCOMPARE(FilesIn(dir_.path()), QStringList());

        // From now on a check fails at once, without a connection.
        FakePop3Server fresh;
        fresh.setMails({{"a", Mail(0, 0)}});
        QVERIFY(fresh.start());
        Outcome late = Check(Plain(fresh), "u", "secret", dir_.path());
        QVERIFY(!late.refs);
        QCOMPARE(late.status.kind, Kind::Cancelled);
        QCOMPARE(fresh.connections(), 0);
        QCOMPARE(FilesIn(dir_.path()), QStringList());
    }

    void cancelBetweenFetchingAndSavingLeavesNoFiles()
    {
        // The check has fetched its mails when the cancel comes (here: as the server says
        // goodbye); nothing of it may reach the folder.
        FakePop3Server s;
        s.setMails({{"a", Mail(0, 0)}, {"b", Mail(0, 1)}});
        s.hook = [](const std::string& cmd, int) -> std::optional<FakeReply> {
            if (cmd == "TOP 2 1000000") maillib::CancelChecks();
            return std::nullopt;
        };
        QVERIFY(s.start());
        Outcome o = Check(Plain(s), "u", "secret", dir_.path());
        QVERIFY(!o.refs);
        QCOMPARE(o.status.kind, Kind::Cancelled);
        QCOMPARE(FilesIn(dir_.path()), QStringList());
    }

    void cachedAnswerIsCancelledToo()
    {
        // Inside a server's login delay the answer comes from the cache; cancelled, it writes nothing.
        FakePop3Server s;
        s.capabilities.push_back("LOGIN-DELAY 600");
        s.setMails({{"a", Mail(0, 0)}});
        QVERIFY(s.start());
        Outcome first = Check(Plain(s), "u", "secret", dir_.path());
        QVERIFY(first.refs);
        for (const auto& r : *first.refs) QVERIFY(QFile::remove(QString::fromStdString(r)));
        maillib::CancelChecks();
        Outcome o = Check(Plain(s), "u", "secret", dir_.path());
        QVERIFY(!o.refs);
        QCOMPARE(o.status.kind, Kind::Cancelled);
        QCOMPARE(FilesIn(dir_.path()), QStringList());
        QCOMPARE(s.connections(), 1);
    }

private:
    QTemporaryDir dir_;
};

QTEST_GUILESS_MAIN(TestPop3Concurrent)
#include "tst_pop3concurrent.moc"
