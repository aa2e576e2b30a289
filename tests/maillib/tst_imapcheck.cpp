// The account check over IMAP against the scripted server: what each check sends, the cache
// across checks and restarts, the mailbox renumbered or missing, the byte bound, and the IDLE
// watcher (push, renewal, silence, network changes, ending). No transcript may hold a command
// that changes a mailbox or marks mail read.
#include "tests/maillib/FakeImapServer.h"
#include "tests/maillib/FakeMailClock.h"
#include "tests/maillib/TestSupport.h"
#include "maillib/Cancellation.h"
#include "maillib/MailboxWatch.h"
#include "maillib/NetworkEvents.h"

#include <QElapsedTimer>
#include <QtTest>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;
using Kind = maillib::AccountStatus::Kind;

namespace {

const std::string kUser = "u@example.jp";
const QString kStatus = "STATUS \"INBOX\" (MESSAGES UIDNEXT UIDVALIDITY)";
const QString kPeek = "(UID BODY.PEEK[HEADER] BODY.PEEK[TEXT]<0.262144>)";

std::string Mail(int i, size_t bodyBytes = 0)
{
    return "From: sender" + std::to_string(i) + "@example.com\r\nSubject: mail " + std::to_string(i) +
           "\r\nDate: Tue, 05 Mar 2024 09:15:00 +0900\r\n\r\n" +
           (bodyBytes ? std::string(bodyBytes, 'x') + "\r\n" : "body " + std::to_string(i) + "\r\n");
}

FakeMailbox Box(int count, uint32_t uidValidity = 7)
{
    FakeMailbox box;
    box.uidValidity = uidValidity;
    for (int i = 1; i <= count; ++i) box.mails.push_back({static_cast<uint32_t>(i), Mail(i)});
    return box;
}

// The connections from `from` on, each as its commands after sign-in, joined by " | ".
QStringList Sessions(const FakeImapServer& s, size_t from)
{
    QStringList out;
    const auto all = s.transcripts();
    for (size_t i = from; i < all.size(); ++i) {
        QStringList commands;
        for (const auto& line : all[i])
            if (line.rfind("A0", 0) != 0) commands << QString::fromStdString(line); // curl's sign-in
        out << commands.join(" | ");
    }
    return out;
}

// One session's commands, tagged F1, F2, ...
QString Session(const QStringList& commands)
{
    QStringList tagged;
    for (const QString& c : commands) tagged << QString("F%1 %2").arg(tagged.size() + 1).arg(c);
    return tagged.join(" | ");
}

// A hook that refuses every command holding `word` with `answer` ("NO ...").
FakeImapServer::Hook Refuse(std::string word, std::string answer)
{
    return [=](const std::string& line, int) -> std::optional<FakeReply> {
        if (line.find(word) == std::string::npos) return std::nullopt;
        return FakeReply{line.substr(0, line.find(' ')) + " " + answer + "\r\n"};
    };
}

QStringList Subjects(const maillib::MailList& refs)
{
    QStringList out;
    for (const auto& ref : refs.value_or(std::vector<std::string>{})) {
        if (ref.empty()) {
            out << "-";
            continue;
        }
        auto fields = Read(ref);
        out << (fields ? QString::fromStdString((*fields)[0]).mid(9) : QString("?"));
    }
    return out;
}

} // namespace

class TestImapCheck : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeImapServer> server_;
    std::unique_ptr<FakeMailClock> clock_;
    QTemporaryDir dir_;

    maillib::MailList Check(maillib::AccountStatus& status, size_t placeFirst = SIZE_MAX,
                            const std::string& mailbox = "")
    {
        std::string server = ImapAddress(*server_, mailbox), user = kUser, password = "secret", mode = "SAVEALL",
                    folder = dir_.path().toStdString();
        return maillib::RcvMail(server, user, password, mode, folder, status, placeFirst);
    }
    maillib::MailList Check()
    {
        maillib::AccountStatus ignored;
        return Check(ignored);
    }

    std::unique_ptr<maillib::MailboxWatch> Watch(std::function<void()> changed)
    {
        return maillib::MailboxWatch::Start(ImapAddress(*server_), kUser, "secret", dir_.path().toStdString(),
                                            std::move(changed));
    }

private Q_SLOTS:
    void init()
    {
        clock_ = std::make_unique<FakeMailClock>();
        maillib::internal::Limits l;
        l.connect = 1000ms;
        l.total = 5000ms;
        StartFresh(l, dir_);
        server_ = std::make_unique<FakeImapServer>();
        server_->concurrent = true;
        server_->setMailbox("INBOX", Box(3));
    }

    void cleanup()
    {
        server_->stop();
        QCOMPARE(
            Sessions(*server_, 0)
                .filter(QRegularExpression(" (SELECT|STORE|EXPUNGE|COPY|MOVE|APPEND|CREATE|DELETE|RENAME|SUBSCRIBE) ")),
            QStringList());
        QVERIFY(ChangingCommands(server_->transcripts()).empty());
        server_.reset();
        clock_.reset();
        maillib::internal::ClearCancel();
    }

    void secondCheck_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("sessions"); // of the second check
        QTest::addColumn<QStringList>("subjects"); // its list
        QTest::addColumn<Kind>("kind");
        const QStringList abc{"mail 3", "mail 2", "mail 1"};
        const QString examine = "EXAMINE \"INBOX\"", search = "UID SEARCH ALL";
        QTest::newRow("unchanged: STATUS only") << "" << QStringList{Session({kStatus, "LOGOUT"})} << abc << Kind::Ok;
        QTest::newRow("arrival: only the new mail fetched")
            << "deliver" << QStringList{Session({kStatus, examine, search, "UID FETCH 4 " + kPeek, "LOGOUT"})}
            << QStringList{"mail 4"} + abc << Kind::Ok;
        QTest::newRow("deletion: nothing fetched")
            << "delete 2" << QStringList{Session({kStatus, examine, search, "LOGOUT"})}
            << QStringList{"mail 3", "mail 1"} << Kind::Ok;
        QTest::newRow("new UIDVALIDITY: all fetched again")
            << "renumber" << QStringList{Session({kStatus, examine, search, "UID FETCH 1:3 " + kPeek, "LOGOUT"})} << abc
            << Kind::Ok;
        QTest::newRow("STATUS refused: listed")
            << "refuse status" << QStringList{Session({kStatus, examine, search, "LOGOUT"})} << abc << Kind::Ok;
        QTest::newRow("restart: the index and the cache are read, nothing fetched")
            << "restart" << QStringList{Session({kStatus, "LOGOUT"})} << abc << Kind::Ok;
        QTest::newRow("mailbox gone") << "remove mailbox" << QStringList{Session({kStatus, "LOGOUT"})} << QStringList{}
                                      << Kind::NoMailbox;
        QTest::newRow("a watcher idles: no connection") << "watch" << QStringList{} << abc << Kind::Ok;
        QTest::newRow("a watcher idled, then the network changed: STATUS")
            << "watch, network change" << QStringList{Session({kStatus, "LOGOUT"})} << abc << Kind::Ok;
    }

    // What a check of a mailbox checked before sends, and what it lists.
    void secondCheck()
    {
        QFETCH(QString, change);
        QFETCH(QStringList, sessions);
        QFETCH(QStringList, subjects);
        QFETCH(Kind, kind);
        QVERIFY(server_->start());
        const maillib::MailList first = Check();
        QCOMPARE(Subjects(first), (QStringList{"mail 3", "mail 2", "mail 1"}));
        QCOMPARE(Sessions(*server_, 0),
                 QStringList{Session({"EXAMINE \"INBOX\"", "UID SEARCH ALL", "UID FETCH 1:3 " + kPeek, "LOGOUT"})});
        std::unique_ptr<maillib::MailboxWatch> watch;
        if (change == "deliver") server_->deliver("INBOX", Mail(4));
        if (change == "delete 2") {
            FakeMailbox box = Box(3);
            box.mails.erase(box.mails.begin() + 1);
            box.uidNext = 4;
            server_->setMailbox("INBOX", box);
        }
        if (change == "renumber") server_->setMailbox("INBOX", Box(3, 8));
        if (change == "refuse status") server_->hook = Refuse(" STATUS ", "NO [UNAVAILABLE] not now");
        if (change == "restart") maillib::internal::ForgetProcessState();
        if (change == "remove mailbox")
            server_->hook = Refuse("INBOX", "NO [NONEXISTENT] Mailbox doesn't exist: INBOX");
        if (change.startsWith("watch")) {
            watch = Watch([] {});
            QVERIFY(watch);
            QTRY_VERIFY_WITH_TIMEOUT(watch->Healthy(), 5000);
            if (change.contains("network")) maillib::RetryUnreachableAccounts();
        }
        const size_t before = server_->transcripts().size();
        maillib::AccountStatus status;
        const maillib::MailList second = Check(status);
        QCOMPARE(status.kind, kind);
        QCOMPARE(Subjects(second), subjects);
        QStringList seen = Sessions(*server_, before);
        if (watch) seen.removeIf([](const QString& s) { return s.contains(" IDLE"); });
        QCOMPARE(seen, sessions);
        if (change == "renumber") {
            // The old copies went with the old UIDVALIDITY; each mail has a new file name.
            QCOMPARE(maillib::internal::StatsFor(ImapAddress(*server_), kUser).cachedMails, size_t(3));
            for (size_t i = 0; i < 3; ++i) QVERIFY((*first)[i] != (*second)[i]);
        } else if (second) {
            // A mail keeps its file name from check to check.
            for (size_t i = 0; i < second->size(); ++i)
                for (size_t j = 0; j < first->size(); ++j)
                    if (Subjects(first)[int(j)] == subjects[int(i)]) QCOMPARE((*second)[i], (*first)[j]);
        }
        if (kind == Kind::NoMailbox)
            QVERIFY2(status.text.find("no such mailbox") != std::string::npos, status.text.c_str());
    }

    void bounds_data()
    {
        QTest::addColumn<QString>("mailbox");
        QTest::addColumn<int>("placeFirst");
        QTest::addColumn<QStringList>("subjects"); // the first of the first check
        QTest::addColumn<int>("fetches");          // UID FETCH commands of the first check
        QTest::addColumn<int>("connections");      // of the first check
        QTest::newRow("10,000 mails, the newest 100 placed")
            << "10000" << 100 << QStringList{"mail 10000", "mail 9999"} << 2 << 1;
        QTest::newRow("a mail over the bound among new ones")
            << "cut" << 100 << QStringList{"mail 5", "mail 4", "mail 3", "mail 2"} << 2 << 2;
    }

    // Fetches come fifty mails to a command; a mail over the byte bound ends its connection,
    // and the mails after it come over a new one.
    void bounds()
    {
        QFETCH(QString, mailbox);
        QFETCH(int, placeFirst);
        QFETCH(QStringList, subjects);
        QFETCH(int, fetches);
        QFETCH(int, connections);
        FakeMailbox box = Box(mailbox == "cut" ? 5 : 10000);
        if (mailbox == "cut") {
            box.mails[1].content = Mail(2, 300 * 1024);
            server_->ignorePartial = true;
        }
        server_->setMailbox("INBOX", box);
        QVERIFY(server_->start());
        maillib::AccountStatus status;
        const maillib::MailList refs = Check(status, size_t(placeFirst));
        QVERIFY2(status.kind == Kind::Ok, status.text.c_str());
        // A check cut short lists the mails it has; the rest come with the next.
        QCOMPARE(refs->size(), box.mails.size() - (mailbox == "cut" ? 1 : 0));
        QCOMPARE(Subjects(refs).mid(0, subjects.size()), subjects);
        QCOMPARE(Subjects(refs).count("-"), std::max(0, int(box.mails.size()) - placeFirst));
        const QStringList first = Sessions(*server_, 0);
        QCOMPARE(first.size(), connections);
        QVERIFY2(first.join(" | ").count("UID FETCH") == fetches, qPrintable(first.join("\n")));
        // The next check brings what the cut left out.
        const QStringList next = Subjects(Check(status, size_t(placeFirst)));
        QCOMPARE(next.size(), int(box.mails.size()));
        QCOMPARE(next.mid(0, std::min(placeFirst, int(next.size()))).count("-"), 0);
    }

    void watch_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<int>("changes");     // what the watcher said
        QTest::addColumn<int>("connections"); // the watcher's
        QTest::addColumn<QString>("first");   // its first session, after sign-in
        const QString idle = Session({"EXAMINE \"INBOX\"", "IDLE"});
        QTest::newRow("delivery") << "deliver" << 1 << 1 << idle + " | DONE | F3 EXAMINE \"INBOX\" | F4 IDLE";
        QTest::newRow("expunge") << "* 2 EXPUNGE\r\n" << 1 << 1 << idle + " | DONE | F3 EXAMINE \"INBOX\" | F4 IDLE";
        QTest::newRow("renewed after 25 minutes") << "25 minutes" << 0 << 1 << idle + " | DONE | F3 IDLE";
        QTest::newRow("silent at the renewal: connects again") << "25 minutes, silent" << 0 << 2 << idle + " | DONE";
        QTest::newRow("BYE mid-IDLE: connects again after the back-off") << "* BYE going away\r\n" << 0 << 2 << idle;
        QTest::newRow("network changed: DONE answered, the connection stays")
            << "network change" << 0 << 1 << idle + " | DONE | F3 IDLE";
        QTest::newRow("woke from sleep: connects again") << "wake" << 0 << 2 << idle;
        QTest::newRow("no IDLE: not watched") << "no idle" << 0 << 1 << Session({"LOGOUT"});
    }

    // The watcher's connection: what it hears, when it renews IDLE, and when it connects again.
    void watch()
    {
        QFETCH(QString, event);
        QFETCH(int, changes);
        QFETCH(int, connections);
        QFETCH(QString, first);
        if (event == "no idle") server_->capabilities = {"IMAP4rev1", "AUTH=PLAIN", "SASL-IR"};
        if (event.contains("silent"))
            server_->hook = [](const std::string& line, int c) -> std::optional<FakeReply> {
                if (line == "DONE" && c == 0) return FakeReply{"", false, true};
                return std::nullopt;
            };
        QVERIFY(server_->start());
        std::atomic<int> changed{0};
        auto watch = Watch([&] { ++changed; });
        QVERIFY(watch);
        if (event == "no idle") {
            QTRY_COMPARE(server_->connections(), 1);
            QTest::qWait(200);
            QVERIFY(!watch->Healthy());
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(watch->Healthy(), 5000);
        }
        if (event == "deliver") server_->deliver("INBOX", Mail(4));
        else if (event.startsWith("* ")) server_->push(event.toStdString());
        else if (event.startsWith("25 minutes")) clock_->Advance(25min);
        else if (event == "network change") maillib::RetryUnreachableAccounts();
        else if (event == "wake") maillib::DropOpenConnections();
        if (event.contains("BYE")) {
            QTRY_VERIFY(!watch->Healthy());
            QTest::qWait(300);
            QCOMPARE(server_->connections(), 1); // backing off
            clock_->Advance(30s);
        }
        QTRY_COMPARE_WITH_TIMEOUT(server_->connections(), connections, 5000);
        if (event != "no idle") QTRY_VERIFY_WITH_TIMEOUT(watch->Healthy(), 5000);
        QTRY_COMPARE(changed.load(), changes);
        QTRY_COMPARE_WITH_TIMEOUT(Sessions(*server_, 0).first(), first, 3000);
        QCOMPARE(watch->Logins(), connections);
        QElapsedTimer timer;
        timer.start();
        watch.reset();
        QVERIFY2(timer.elapsed() < 1000, QByteArray::number(timer.elapsed()));
    }

    // Ending every check ends an idling watcher at once.
    void cancelEndsTheWatcher()
    {
        QVERIFY(server_->start());
        auto watch = Watch([] {});
        QTRY_VERIFY_WITH_TIMEOUT(watch->Healthy(), 5000);
        QElapsedTimer timer;
        timer.start();
        maillib::CancelChecks();
        watch.reset();
        QVERIFY2(timer.elapsed() < 1000, QByteArray::number(timer.elapsed()));
        QVERIFY(!Sessions(*server_, 0).first().contains("LOGOUT"));
    }
};

QTEST_GUILESS_MAIN(TestImapCheck)
#include "tst_imapcheck.moc"
