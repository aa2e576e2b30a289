// A check of a mailbox that did not change asks for STAT and the last message's id only;
// every change, refusal and the periodic refresh fall back to a full UIDL listing.
#include "tests/maillib/FakeMailClock.h"
#include "tests/maillib/FakePop3Server.h"
#include "maillib/MailLibInternal.h"
#include "tests/maillib/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace std::chrono_literals;

namespace {

const std::string kUser = "u@example.jp";
const QStringList kLogin{"CAPA", "USER u@example.jp", "PASS secret"};

std::string MailFor(const std::string& uid)
{
    return "From: someone@example.com\r\nSubject: " + uid + "\r\n\r\nbody of " + uid + "\r\n";
}

std::vector<FakeMail> Mailbox(const QStringList& uids)
{
    std::vector<FakeMail> mails;
    for (const auto& u : uids) mails.push_back({u.toStdString(), MailFor(u.toStdString())});
    return mails;
}

// The connections since `from`, each its commands joined by blanks.
QStringList Dialogues(const FakePop3Server& s, size_t from)
{
    QStringList out;
    auto all = s.transcripts();
    for (size_t i = from; i < all.size(); ++i) {
        QStringList commands;
        for (const auto& c : all[i]) commands << QString::fromStdString(c);
        out << commands.join(" | ");
    }
    return out;
}

QString Dialogue(const QStringList& commands) { return (kLogin + commands).join(" | "); }

} // namespace

class TestPop3Steady : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        clock_ = std::make_unique<FakeMailClock>();
        maillib::internal::Limits l;
        l.connect = 1000ms;
        l.total = 3000ms;
        StartFresh(l, dir_);
    }

    void secondCheck_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("dialogues"); // of the second check, one per connection

        const QStringList abc{"a", "b", "c"};
        QTest::newRow("unchanged") << abc << abc << "" << QStringList{Dialogue({"STAT", "UIDL 3", "QUIT"})};
        QTest::newRow("deletion in the middle")
            << abc << QStringList{"a", "c"} << "" << QStringList{Dialogue({"STAT", "UIDL", "QUIT"})};
        QTest::newRow("last mail deleted")
            << abc << QStringList{"a", "b"} << "" << QStringList{Dialogue({"STAT", "UIDL", "QUIT"})};
        QTest::newRow("arrival") << abc << QStringList{"a", "b", "c", "d"} << ""
                                 << QStringList{Dialogue({"STAT", "UIDL", "LIST", "TOP 4 1000000", "QUIT"})};
        QTest::newRow("one deleted, one arrived: count unchanged")
            << abc << QStringList{"b", "c", "d"} << ""
            << QStringList{Dialogue({"STAT", "UIDL 3", "UIDL", "LIST", "TOP 3 1000000", "QUIT"})};
        QTest::newRow("last mail replaced by a new one")
            << abc << QStringList{"a", "b", "e"} << ""
            << QStringList{Dialogue({"STAT", "UIDL 3", "UIDL", "LIST", "TOP 3 1000000", "QUIT"})};
        QTest::newRow("emptied") << abc << QStringList{} << "" << QStringList{Dialogue({"STAT", "UIDL", "QUIT"})};
        QTest::newRow("empty and still empty: no UIDL at all")
            << QStringList{} << QStringList{} << "" << QStringList{Dialogue({"STAT", "QUIT"})};
        QTest::newRow("first mail into an empty mailbox")
            << QStringList{} << QStringList{"a"} << ""
            << QStringList{Dialogue({"STAT", "UIDL", "LIST", "TOP 1 1000000", "QUIT"})};
        QTest::newRow("refresh not yet due")
            << abc << abc << "9:59" << QStringList{Dialogue({"STAT", "UIDL 3", "QUIT"})};
        QTest::newRow("refresh due: full listing without STAT")
            << abc << abc << "10:00" << QStringList{Dialogue({"UIDL", "QUIT"})};
        QTest::newRow("UIDL n refused: full listing on a new login")
            << abc << abc << "uidl-n" << QStringList{Dialogue({"STAT", "UIDL 3", "QUIT"}), Dialogue({"UIDL", "QUIT"})};
        QTest::newRow("STAT refused: full listing on a new login")
            << abc << abc << "stat" << QStringList{Dialogue({"STAT", "QUIT"}), Dialogue({"UIDL", "QUIT"})};
        QTest::newRow("server lost UIDL: mails known by their headers")
            << abc << abc << "no-uidl"
            << QStringList{Dialogue({"STAT", "UIDL 3", "QUIT"}), Dialogue({"UIDL", "QUIT"}),
                           Dialogue({"LIST", "TOP 3 0", "TOP 2 0", "TOP 1 0", "TOP 3 1000000", "TOP 2 1000000",
                                     "TOP 1 1000000", "QUIT"})};
        QTest::newRow("STAT answer without a count")
            << abc << abc << "stat-garbled" << QStringList{Dialogue({"STAT", "UIDL", "QUIT"})};
        QTest::newRow("UIDL n answers for another message")
            << abc << abc << "uidl-n-other" << QStringList{Dialogue({"STAT", "UIDL 3", "UIDL", "QUIT"})};
    }

    void secondCheck()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        QFETCH(QString, fault);
        QFETCH(QStringList, dialogues);

        FakePop3Server s;
        s.setMails(Mailbox(before));
        QVERIFY(s.start());
        auto first = Receive(Plain(s), kUser, "secret", dir_.path());
        QVERIFY(first);
        QCOMPARE(first->size(), size_t(before.size()));

        // A full listing every ten minutes, even of a mailbox that looks unchanged.
        if (fault == "9:59") clock_->Advance(599s);
        if (fault == "10:00") clock_->Advance(600s);
        s.hook = [fault](const std::string& cmd, int) -> std::optional<FakeReply> {
            if ((fault == "uidl-n" && cmd.rfind("UIDL ", 0) == 0) || (fault == "stat" && cmd == "STAT") ||
                (fault == "no-uidl" && cmd.rfind("UIDL", 0) == 0))
                return FakeReply{"-ERR not here\r\n"};
            if (fault == "stat-garbled" && cmd == "STAT") return FakeReply{"+OK mailbox ready\r\n"};
            if (fault == "uidl-n-other" && cmd.rfind("UIDL ", 0) == 0) return FakeReply{"+OK 2 c\r\n"};
            return std::nullopt;
        };
        s.setMails(Mailbox(after));
        const size_t from = s.transcripts().size();
        maillib::AccountStatus status;
        std::string server = Plain(s), user = kUser, password = "secret", mode = "SAVEALL",
                    folder = dir_.path().toStdString();
        auto refs = maillib::RcvMail(server, user, password, mode, folder, status);
        QVERIFY2(refs, status.text.c_str());
        QCOMPARE(int(status.kind), int(maillib::AccountStatus::Kind::Ok));
        QCOMPARE(Dialogues(s, from), dialogues);
        // Whatever the path, the files are the mailbox's, newest first.
        QCOMPARE(refs->size(), size_t(after.size()));
        for (qsizetype i = 0; i < after.size(); ++i)
            QCOMPARE(FileBytes((*refs)[size_t(i)]), MailFor(after[after.size() - 1 - i].toStdString()));
    }

    void refusedShortcutIsNotTriedAgainAtOnce()
    {
        FakePop3Server s;
        s.setMails(Mailbox({"a", "b"}));
        s.hook = [](const std::string& cmd, int) -> std::optional<FakeReply> {
            if (cmd.rfind("UIDL ", 0) == 0) return FakeReply{"-ERR no argument here\r\n"};
            return std::nullopt;
        };
        QVERIFY(s.start());
        QVERIFY(Receive(Plain(s), kUser, "secret", dir_.path()));
        QVERIFY(Receive(Plain(s), kUser, "secret", dir_.path())); // refused: full listing
        const size_t from = s.transcripts().size();
        auto refs = Receive(Plain(s), kUser, "secret", dir_.path());
        QVERIFY(refs);
        QCOMPARE(refs->size(), size_t(2));
        QCOMPARE(Dialogues(s, from), QStringList{Dialogue({"UIDL", "QUIT"})});
        // Ten minutes on, after the periodic full listing, it is tried again.
        clock_->Advance(600s);
        const size_t later = s.transcripts().size();
        QVERIFY(Receive(Plain(s), kUser, "secret", dir_.path()));
        QVERIFY(Receive(Plain(s), kUser, "secret", dir_.path()));
        QCOMPARE(Dialogues(s, later), (QStringList{Dialogue({"UIDL", "QUIT"}), Dialogue({"STAT", "UIDL 2", "QUIT"}),
                                                   Dialogue({"UIDL", "QUIT"})}));
    }

    void steadyChecksStayShortUntilTheRefresh()
    {
        FakePop3Server s;
        std::vector<FakeMail> mails;
        for (int i = 0; i < 500; ++i) mails.push_back({"m" + std::to_string(i), MailFor("m" + std::to_string(i))});
        s.setMails(mails);
        QVERIFY(s.start());
        QVERIFY(Receive(Plain(s), kUser, "secret", dir_.path()));
        // The bytes of a steady check do not grow with the mailbox.
        const long long sentBefore = s.bytesSent();
        for (int round = 0; round < 3; ++round) {
            auto refs = Receive(Plain(s), kUser, "secret", dir_.path());
            QVERIFY(refs);
            QCOMPARE(refs->size(), size_t(500));
            QCOMPARE(FileBytes(refs->front()), MailFor("m499"));
        }
        QVERIFY2(s.bytesSent() - sentBefore < 3 * 300, qPrintable(QString::number(s.bytesSent() - sentBefore)));
    }

    void mailOverTheCacheBudgetIsFetchedAtEveryCheck()
    {
        // Not kept in memory, so an unchanged mailbox still owes it: the shortcut must not
        // take the listing as fully at hand.
        auto l = maillib::internal::GetLimits();
        l.cacheBudget = 1024;
        maillib::internal::SetLimits(l);
        FakePop3Server s;
        auto mails = Mailbox({"a", "big", "c"});
        mails[1].content += std::string(2000, 'x') + "\r\n";
        s.setMails(mails);
        QVERIFY(s.start());
        for (int check = 0; check < 3; ++check) {
            const size_t from = s.transcripts().size();
            auto refs = Receive(Plain(s), kUser, "secret", dir_.path());
            QVERIFY(refs);
            QCOMPARE(refs->size(), size_t(3));
            QCOMPARE(FileBytes((*refs)[0]), MailFor("c"));
            QCOMPARE(FileBytes((*refs)[1]), mails[1].content);
            if (check > 0)
                QCOMPARE(Dialogues(s, from),
                         QStringList{Dialogue({"STAT", "UIDL 3", "LIST", "TOP 2 1000000", "QUIT"})});
        }
    }

private:
    QTemporaryDir dir_;
    std::unique_ptr<FakeMailClock> clock_;
};

QTEST_GUILESS_MAIN(TestPop3Steady)
#include "tst_pop3steady.moc"
