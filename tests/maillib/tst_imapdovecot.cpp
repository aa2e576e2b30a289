// The read-only IMAP dialogue and the account check against a real dovecot on loopback: over
// implicit TLS and STARTTLS, IDLE hearing a delivery, the cache across a restart, fwmail, and
// the mailbox as it was afterwards (flags, dovecot's own record of what the sessions sent and
// changed).
#include "tests/common/DovecotFixture.h"
#include "tests/maillib/FakeImapServer.h"
#include "maillib/ImapDialogue.h"
#include "maillib/MailLibInternal.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <QtTest>

using namespace std::chrono_literals;
using maillib::imap::Dialogue;

class TestImapDovecot : public QObject {
    Q_OBJECT

    QMap<QString, QString> env_;

    maillib::SessionOptions Options(const QString& scheme, const char* user) const
    {
        const QString port = env_[scheme == "imaps" ? "IMAPS_PORT" : "IMAP_PORT"];
        maillib::SessionOptions o;
        o.server = *maillib::ParseServer(QString("%1://127.0.0.1:%2").arg(scheme, port).toStdString());
        o.user = user;
        o.password = std::string("pass") + user[4];
        o.caFile = env_["CA_FILE"].toStdString();
        o.deadline = std::chrono::steady_clock::now() + 20s;
        return o;
    }

    QString doveadm(const QStringList& args) const
    {
        QProcess p;
        p.start("doveadm", QStringList{"-c", env_["STATE_DIR"] + "/dovecot.conf"} + args);
        p.waitForFinished(10000);
        return QString::fromUtf8(p.readAllStandardOutput());
    }

    // What every IMAP session of `user` sent after login, line by line.
    std::vector<std::vector<std::string>> sent(const QString& user) const
    {
        std::vector<std::vector<std::string>> out;
        for (QDirIterator it(env_["RAWLOG_DIR"] + "/" + user, {"*.in"}, QDir::Files); it.hasNext();) {
            QFile f(it.next());
            if (!f.open(QIODevice::ReadOnly)) continue;
            out.emplace_back();
            for (const QByteArray& line : f.readAll().split('\n'))
                if (!line.trimmed().isEmpty()) out.back().push_back(line.trimmed().toStdString());
        }
        return out;
    }

private Q_SLOTS:
    void initTestCase()
    {
        env_ = DovecotFixture::Env();
        QVERIFY2(!env_["IMAPS_PORT"].isEmpty(), "the dovecot fixture has no IMAP (install dovecot-imapd)");
    }

    void readOnlyDialogue_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QString>("user");
        QTest::newRow("implicit TLS") << "imaps"
                                      << "user1";
        QTest::newRow("STARTTLS") << "imap"
                                  << "user2";
    }

    // Lists and reads the mailbox; afterwards no flag has changed, dovecot logged nothing
    // deleted, and no session sent a command that changes a mailbox.
    void readOnlyDialogue()
    {
        QFETCH(QString, scheme);
        QFETCH(QString, user);
        QVERIFY(DovecotFixture::DeliverDemoMails(user, 3));
        const QString flagsBefore = doveadm({"fetch", "-u", user, "uid flags", "mailbox", "INBOX"});
        QVERIFY(flagsBefore.contains("\\Recent"));
        for (int round = 0; round < 3; ++round) {
            Dialogue d(Options(scheme, user.toLatin1().constData()), 256 * 1024);
            QVERIFY2(d.Open().ok(), "open");
            QVERIFY(d.Offers("IDLE"));
            maillib::imap::MailboxCounts status, examined;
            QVERIFY(d.Status("INBOX", status).ok());
            QCOMPARE(status.messages, uint64_t(3));
            QVERIFY(d.Examine("INBOX", examined).ok());
            QCOMPARE(examined.uidValidity, status.uidValidity);
            QCOMPARE(examined.uidNext, uint32_t(4));
            std::vector<uint32_t> uids;
            QVERIFY(d.SearchAll(uids).ok());
            QCOMPARE(uids, (std::vector<uint32_t>{1, 2, 3}));
            std::vector<std::string> mails;
            QVERIFY(d.Fetch(uids, [&](uint32_t, std::string m) { mails.push_back(m); }).ok());
            QCOMPARE(mails.size(), size_t(3));
            const QDir demo(qEnvironmentVariable("FW_DEMO_MAILS"));
            QFile first(demo.filePath(demo.entryList({"*.eml"}, QDir::Files, QDir::Name).first()));
            QVERIFY(first.open(QIODevice::ReadOnly));
            QCOMPARE(QByteArray::fromStdString(mails[0]), first.readAll());
            d.Logout();
        }
        QCOMPARE(doveadm({"fetch", "-u", user, "uid flags", "mailbox", "INBOX"}), flagsBefore);
        const auto transcripts = sent(user);
        QVERIFY(transcripts.size() >= 3);
        QCOMPARE(ChangingCommands(transcripts), std::vector<std::string>());
        QFile log(env_["LOG_FILE"]);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(log.readAll());
        QRegularExpression logout("imap\\(" + user + "\\).*Logged out .*deleted=(\\d+) expunged=(\\d+)");
        int sessions = 0;
        for (auto it = logout.globalMatch(text); it.hasNext(); ++sessions) {
            auto m = it.next();
            QCOMPARE(m.captured(1) + m.captured(2), QString("00"));
        }
        QCOMPARE(sessions, 3);
    }

    // IDLE hears a mail delivered while it waits.
    void idleHearsDelivery()
    {
        const char* user = "user3";
        QVERIFY(DovecotFixture::DeliverDemoMails(user, 1));
        Dialogue d(Options("imaps", user), 64 * 1024);
        maillib::imap::MailboxCounts st;
        QVERIFY(d.Open().ok());
        QVERIFY(d.Examine("INBOX", st).ok());
        QCOMPARE(st.messages, uint64_t(1));
        QVERIFY(d.StartIdle().ok());
        QElapsedTimer timer;
        timer.start();
        QVERIFY(DovecotFixture::DeliverDemoMails(user, 1));
        Dialogue::IdleNews news{};
        QVERIFY(d.WaitIdle(std::chrono::steady_clock::now() + 10s, news).ok());
        QCOMPARE(news, Dialogue::IdleNews::Changed);
        qInfo("delivery heard after %lld ms", static_cast<long long>(timer.elapsed()));
        QVERIFY(d.EndIdle().ok());
        QCOMPARE(d.Exists(), uint64_t(2));
        d.Logout();
    }

    // Many checks, a restart and fwmail: the cache is read after the restart instead of the
    // mails, and no flag changed.
    void checksLeaveTheMailboxAsItWas()
    {
        const QString user = "user4";
        QVERIFY(DovecotFixture::DeliverDemoMails(user, 5));
        const QString flagsBefore = doveadm({"fetch", "-u", user, "uid flags", "mailbox", "INBOX"});
        QVERIFY(flagsBefore.contains("\\Recent"));
        QTemporaryDir folder;
        QDir(folder.path()).mkdir("INI");
        QVERIFY(QFile::copy(env_["CA_FILE"], folder.filePath("INI/cacert.pem")));
        auto check = [&](const QString& scheme) {
            std::string server = QString("%1://127.0.0.1:%2")
                                     .arg(scheme, env_[scheme == "imaps" ? "IMAPS_PORT" : "IMAP_PORT"])
                                     .toStdString();
            std::string u = user.toStdString(), password = "pass4", mode = "SAVEALL", dir = folder.path().toStdString();
            maillib::AccountStatus status;
            maillib::MailList refs = maillib::RcvMail(server, u, password, mode, dir, status, 100);
            return QString("%1 %2").arg(refs ? int(refs->size()) : -1).arg(QString::fromStdString(status.text));
        };
        // UID FETCH commands the user's sessions sent so far.
        auto fetches = [&] {
            int n = 0;
            for (const auto& session : sent(user))
                for (const auto& line : session) n += line.find(" UID FETCH ") != std::string::npos;
            return n;
        };
        QCOMPARE(check("imap"), QString("5 imap://127.0.0.1:%1/INBOX (user user4): 5 mail(s)").arg(env_["IMAP_PORT"]));
        QVERIFY(check("imaps").startsWith("5 ")); // another server text: another account and cache
        const int afterFirst = fetches();
        QCOMPARE(afterFirst, 2);
        for (int i = 0; i < 10; ++i) QVERIFY(check(i % 2 ? "imap" : "imaps").startsWith("5 "));
        maillib::internal::ForgetProcessState();
        QVERIFY(check("imaps").startsWith("5 "));
        QCOMPARE(fetches(), afterFirst); // neither the steady checks nor the restart fetched
        QCOMPARE(doveadm({"fetch", "-u", user, "uid flags", "mailbox", "INBOX"}), flagsBefore);

        QProcess p;
        p.start(qEnvironmentVariable("FW_FWMAIL"), {"check", "--json", "--password-stdin", "--cafile", env_["CA_FILE"],
                                                    "imaps://127.0.0.1:" + env_["IMAPS_PORT"], user});
        p.write("pass4\n");
        p.closeWriteChannel();
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()).count("\"subject\""), 5);
        QCOMPARE(doveadm({"fetch", "-u", user, "uid flags", "mailbox", "INBOX"}), flagsBefore);
        QCOMPARE(ChangingCommands(sent(user)), std::vector<std::string>());
    }
};

QTEST_GUILESS_MAIN(TestImapDovecot)
#include "tst_imapdovecot.moc"
