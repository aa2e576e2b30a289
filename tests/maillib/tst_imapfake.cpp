// The read-only IMAP dialogue against a scripted server: whole transcripts, faults, bounds,
// IDLE, sign-in security, mailbox names. No transcript may hold a command that changes a
// mailbox or marks mail read.
#include "tests/maillib/FakeImapServer.h"
#include "tests/maillib/FakeMailClock.h"
#include "maillib/Cancellation.h"
#include "maillib/ImapDialogue.h"
#include "maillib/MailLibInternal.h"
#include "maillib/NetworkEvents.h"

#include <QElapsedTimer>
#include <QtTest>

#include <atomic>
#include <dlfcn.h>
#include <netdb.h>
#include <string_view>
#include <thread>

using namespace std::chrono_literals;
using maillib::imap::Dialogue;
using maillib::imap::Reply;
using Kind = maillib::AccountStatus::Kind;
using ReplyKind = maillib::imap::Reply::Kind;

namespace {

const std::string kUser = "u@example.jp";

// The name the test certificate also holds; the stand-in below resolves it to the loopback
// server and counts how often libcurl asks.
constexpr std::string_view kTestHost = "mail.fw-test.invalid";
std::atomic<int> g_testHostLookups{0};

} // namespace

// Stands in for the C library's resolver for this process (libcurl calls it from its resolver
// thread); every other name goes to the real one.
extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** res)
{
    using Real = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "getaddrinfo"));
    if (node && node == kTestHost) {
        ++g_testHostLookups;
        node = "127.0.0.1";
    }
    return real(node, service, hints, res);
}

namespace {

std::string Mail(int i, const std::string& body = "body\r\n")
{
    return "From: sender" + std::to_string(i) + "@example.com\r\nSubject: mail " + std::to_string(i) +
           "\r\nDate: Tue, 05 Mar 2024 09:15:00 +0900\r\n\r\n" + body;
}

FakeMailbox Box(int count, uint32_t uidValidity = 7, uint32_t firstUid = 1)
{
    FakeMailbox box;
    box.uidValidity = uidValidity;
    for (int i = 0; i < count; ++i) box.mails.push_back({firstUid + static_cast<uint32_t>(i), Mail(i + 1)});
    return box;
}

QStringList Q(const std::vector<std::string>& v)
{
    QStringList out;
    for (const auto& s : v) out << QString::fromStdString(s);
    return out;
}

// A hook that answers the first line holding `trigger` with `reply`, "%T" in it standing
// for the line's tag (for DONE, the tag of the IDLE it ends).
FakeImapServer::Hook ReplyOnce(std::string trigger, std::string reply, bool close = false, bool stall = false)
{
    auto done = std::make_shared<bool>(false);
    auto lastTag = std::make_shared<std::string>();
    return [=](const std::string& line, int) -> std::optional<FakeReply> {
        std::string tag = line == "DONE" ? *lastTag : line.substr(0, line.find(' '));
        *lastTag = tag;
        if (*done || line.find(trigger) == std::string::npos) return std::nullopt;
        *done = true;
        std::string text = reply;
        for (size_t at; (at = text.find("%T")) != std::string::npos;) text.replace(at, 2, tag);
        return FakeReply{text, close, stall};
    };
}

// What a check and a watcher do, step by step, until one fails: the step and its reply.
std::pair<QString, Reply> Steps(Dialogue& d)
{
    maillib::imap::MailboxCounts st;
    std::vector<uint32_t> uids;
    maillib::imap::Dialogue::IdleNews news;
    const std::pair<const char*, std::function<Reply()>> steps[] = {
        {"open", [&] { return d.Open(); }},
        {"status", [&] { return d.Status("INBOX", st); }},
        {"examine", [&] { return d.Examine("INBOX", st); }},
        {"search", [&] { return d.SearchAll(uids); }},
        {"fetch", [&] { return d.Fetch(uids, [](uint32_t, std::string) {}); }},
        {"idle", [&] { return d.StartIdle(); }},
        {"wait", [&] { return d.WaitIdle(std::chrono::steady_clock::now() + 50ms, news); }},
        {"done", [&] { return d.EndIdle(); }},
    };
    for (const auto& [name, step] : steps) {
        Reply r = step();
        if (!r.ok()) return {name, r};
    }
    d.Logout();
    return {"end", Reply{}};
}

// The sign-in lines curl sends for kUser/secret, by TLS mode.
QStringList SignIn(FakeImapServer::Tls tls)
{
    const QString plain = "AUTHENTICATE PLAIN AHVAZXhhbXBsZS5qcABzZWNyZXQ=";
    if (tls == FakeImapServer::Tls::StartTls)
        return {"A001 CAPABILITY", "A002 STARTTLS", "A003 CAPABILITY", "A004 " + plain};
    return {"A001 CAPABILITY", "A002 " + plain};
}

} // namespace

Q_DECLARE_METATYPE(FakeImapServer::Tls)
Q_DECLARE_METATYPE(maillib::AccountStatus::Kind)
Q_DECLARE_METATYPE(maillib::imap::Reply::Kind)

class TestImapFake : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeImapServer> server_;

    maillib::SessionOptions Options(const std::string& address, std::chrono::milliseconds bound = 3000ms) const
    {
        maillib::SessionOptions o;
        o.server = *maillib::ParseServer(address);
        o.user = kUser;
        o.password = "secret";
        o.caFile = LoopbackCertificate().pemFile;
        o.deadline = std::chrono::steady_clock::now() + bound;
        o.connectBound = bound;
        return o;
    }
    maillib::SessionOptions Options() const { return Options(ImapAddress(*server_)); }

private Q_SLOTS:
    void init()
    {
        server_ = std::make_unique<FakeImapServer>();
        server_->setMailbox("INBOX", Box(3));
    }

    void cleanup()
    {
        server_->stop();
        QCOMPARE(Q(ChangingCommands(server_->transcripts())), QStringList());
        server_.reset();
    }

    void wholeDialogue_data()
    {
        QTest::addColumn<FakeImapServer::Tls>("tls");
        QTest::addColumn<bool>("capabilityAfterLogin");
        QTest::addColumn<bool>("byteAtATime");
        using T = FakeImapServer::Tls;
        QTest::newRow("clear") << T::None << true << false;
        QTest::newRow("clear, capabilities asked") << T::None << false << false;
        QTest::newRow("starttls") << T::StartTls << true << false;
        QTest::newRow("implicit tls") << T::Implicit << true << false;
        QTest::newRow("clear, a byte at a time") << T::None << true << true;
        QTest::newRow("implicit tls, a byte at a time") << T::Implicit << false << true;
    }

    void wholeDialogue()
    {
        QFETCH(FakeImapServer::Tls, tls);
        QFETCH(bool, capabilityAfterLogin);
        QFETCH(bool, byteAtATime);
        server_->tls = tls;
        server_->capabilityAfterLogin = capabilityAfterLogin;
        server_->byteAtATime = byteAtATime;
        QVERIFY(server_->start());

        Dialogue d(Options(), 64 * 1024);
        Reply r = d.Open();
        QVERIFY2(r.ok(), r.reason.c_str());
        QVERIFY(d.Offers("IDLE"));
        maillib::imap::MailboxCounts status, examined;
        QVERIFY(d.Status("INBOX", status).ok());
        QVERIFY(d.Examine("INBOX", examined).ok());
        QCOMPARE(status.messages, uint64_t(3));
        QCOMPARE(status.uidNext, uint32_t(4));
        QCOMPARE(status.uidValidity, uint32_t(7));
        QCOMPARE(examined.messages, status.messages);
        QCOMPARE(examined.uidNext, status.uidNext);
        QCOMPARE(examined.uidValidity, status.uidValidity);
        std::vector<uint32_t> uids;
        QVERIFY(d.SearchAll(uids).ok());
        QCOMPARE(uids, (std::vector<uint32_t>{1, 2, 3}));
        std::map<uint32_t, std::string> mails;
        QVERIFY(d.Fetch({2, 3}, [&](uint32_t uid, std::string mail) { mails[uid] = mail; }).ok());
        QCOMPARE(mails.size(), size_t(2));
        QCOMPARE(mails[2], Mail(2));
        QCOMPARE(mails[3], Mail(3));
        d.Logout();

        QStringList expected = SignIn(tls);
        if (!capabilityAfterLogin) expected << "F1 CAPABILITY";
        const int n = capabilityAfterLogin ? 0 : 1;
        auto tag = [&](int i) { return "F" + QString::number(i + n); };
        expected << tag(1) + " STATUS \"INBOX\" (MESSAGES UIDNEXT UIDVALIDITY)" << tag(2) + " EXAMINE \"INBOX\""
                 << tag(3) + " UID SEARCH ALL"
                 << tag(4) + " UID FETCH 2:3 (UID BODY.PEEK[HEADER] BODY.PEEK[TEXT]<0.65536>)" << tag(5) + " LOGOUT";
        QCOMPARE(Q(server_->lastTranscript()), expected);
        QCOMPARE(server_->connections(), 1);
    }

    void signInSecurity_data()
    {
        QTest::addColumn<FakeImapServer::Tls>("tls");
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QString>("knob");
        QTest::addColumn<Kind>("failure"); // Ok: the dialogue opens
        QTest::addColumn<QStringList>("transcript");
        QTest::addColumn<bool>("goodFirst"); // a good sign-in to the same server came before
        using T = FakeImapServer::Tls;
        const QString plain = "AUTHENTICATE PLAIN AHVAZXhhbXBsZS5qcABzZWNyZXQ=";
        const QStringList signedIn{"A001 CAPABILITY", "A002 " + plain, "F1 LOGOUT"};
        // What a first sign-in kept (the TLS session, the trusted certificates) must not let
        // the next one past a check it would fail on its own.
        auto row = [](const char* name, T tls, const QString& scheme, const QString& knob, Kind failure,
                      const QStringList& transcript, bool alsoSecond) {
            QTest::newRow(name) << tls << scheme << knob << failure << transcript << false;
            if (alsoSecond)
                QTest::addRow("%s, second sign-in", name) << tls << scheme << knob << failure << transcript << true;
        };
        row("STARTTLS stripped", T::StartTls, "imap", "strip starttls", Kind::NoStls, {"A001 CAPABILITY"}, true);
        row("STARTTLS refused", T::StartTls, "imap", "refuse starttls", Kind::NoStls,
            {"A001 CAPABILITY", "A002 STARTTLS"}, true);
        row("data injected after STARTTLS", T::StartTls, "imap", "inject", Kind::ServerError,
            {"A001 CAPABILITY", "A002 STARTTLS"}, true);
        row("LOGINDISABLED before STARTTLS", T::StartTls, "imap", "login disabled", Kind::Ok,
            {"A001 CAPABILITY", "A002 STARTTLS", "A003 CAPABILITY", "A004 " + plain, "F1 LOGOUT"}, false);
        row("LOGINDISABLED in clear text", T::None, "insecure-imap", "login disabled", Kind::LoginRefused,
            {"A001 CAPABILITY"}, false);
        row("LOGIN without SASL, no IDLE", T::Implicit, "imaps", "no sasl", Kind::Ok,
            {"A001 CAPABILITY", "A002 LOGIN u@example.jp secret", "F1 LOGOUT"}, false);
        row("implicit TLS to a clear server", T::None, "imaps", "", Kind::CannotConnect, {"<binary>"}, false);
        row("certificate not trusted", T::Implicit, "imaps", "no ca", Kind::CertificateNotTrusted, {"<no TLS>"}, true);
        row("certificate expired", T::Implicit, "imaps", "expired", Kind::CertificateNotTrusted, {"<no TLS>"}, true);
        // The handshake completes; the name is checked after it, before a word is sent.
        row("name not in the certificate", T::Implicit, "imaps", "other name", Kind::CertificateNotTrusted, {}, false);
        row("wrong password", T::Implicit, "imaps", "wrong password", Kind::LoginRefused,
            {"A001 CAPABILITY", "A002 AUTHENTICATE PLAIN AHVAZXhhbXBsZS5qcAB3cm9uZw=="}, false);
        // The session of the first sign-in is taken up again (after STARTTLS, libcurl 7.88 does
        // not take one up).
        QTest::newRow("second sign-in, implicit TLS") << T::Implicit << "imaps"
                                                      << "" << Kind::Ok << signedIn << true;
    }

    // Without TLS where it is required no credentials go; nothing said in clear text before
    // TLS counts after it; a refusal says why without the password.
    void signInSecurity()
    {
        QFETCH(FakeImapServer::Tls, tls);
        QFETCH(QString, scheme);
        QFETCH(QString, knob);
        QFETCH(Kind, failure);
        QFETCH(QStringList, transcript);
        QFETCH(bool, goodFirst);
        maillib::internal::ResetState(); // no session kept from another test's server
        FakeMailClock clock;
        server_->tls = tls;
        if (knob == "other name") server_->address = "127.0.0.2";
        // Faults from the checked sign-in on; the good one before it sees none.
        const int faulty = goodFirst ? 1 : 0;
        auto from = [faulty](FakeImapServer::Hook hook) -> FakeImapServer::Hook {
            return [faulty, hook](const std::string& line, int connection) -> std::optional<FakeReply> {
                return connection < faulty ? std::nullopt : hook(line, connection);
            };
        };
        if (knob == "refuse starttls") server_->hook = from(ReplyOnce("STARTTLS", "%T NO not now\r\n"));
        if (knob == "strip starttls")
            server_->hook = from(ReplyOnce("CAPABILITY", "* CAPABILITY IMAP4rev1 AUTH=PLAIN\r\n%T OK done\r\n"));
        // A reply to the CAPABILITY the client will send after TLS, and one to its sign-in.
        if (knob == "inject")
            server_->hook = from(ReplyOnce("STARTTLS", "%T OK begin\r\n* CAPABILITY IMAP4rev1 AUTH=PLAIN\r\n"
                                                       "A003 OK done\r\nA004 OK Logged in\r\n"));
        server_->loginDisabledInClear = knob == "login disabled";
        if (knob == "no sasl") server_->capabilities = {"IMAP4rev1"};
        QVERIFY(server_->start());
        const std::string host = knob == "other name" ? "127.0.0.2" : "127.0.0.1";
        auto options = Options(scheme.toStdString() + "://" + host + ":" + std::to_string(server_->port()), 2000ms);
        if (goodFirst) {
            Dialogue good(options, 64 * 1024);
            QVERIFY(good.Open().ok());
            good.Logout();
        }
        if (knob == "no ca") options.caFile.clear();
        if (knob == "wrong password") options.password = "wrong";
        if (knob == "expired") clock.Advance(8 * 24h); // the test certificate is good for 7 days
        const long resumedBefore = ResumedHandshakes();
        Dialogue d(options, 64 * 1024);
        Reply r = d.Open();
        QCOMPARE(r.ok() ? Kind::Ok : r.failure, failure);
        if (knob == "inject") QVERIFY2(r.reason.find("STARTTLS") != std::string::npos, r.reason.c_str());
        QVERIFY2(r.reason.find(options.password) == std::string::npos, r.reason.c_str());
        if (r.ok()) {
            QCOMPARE(d.Offers("IDLE"), knob != "no sasl");
            d.Logout();
        }
        server_->stop();
        QCOMPARE(Q(server_->lastTranscript()), transcript);
        QCOMPARE(ResumedHandshakes() - resumedBefore, goodFirst && r.ok() ? 1L : 0L);
    }

    // A server's name is looked up once, not at every check, and again after a network change.
    void namesAreLookedUpOncePerNetwork()
    {
        maillib::internal::ResetState();
        server_->tls = FakeImapServer::Tls::Implicit;
        QVERIFY(server_->start());
        const std::string address = "imaps://" + std::string(kTestHost) + ":" + std::to_string(server_->port());
        const int before = g_testHostLookups.load();
        const long resumedBefore = ResumedHandshakes();
        const auto signIn = [&] {
            Dialogue d(Options(address), 64 * 1024);
            const Reply r = d.Open();
            QVERIFY2(r.ok(), r.reason.c_str());
            d.Logout();
        };
        for (int expected : {1, 1, 1}) {
            signIn();
            QCOMPARE(g_testHostLookups.load() - before, expected);
        }
        QCOMPARE(ResumedHandshakes() - resumedBefore, 2L);
        maillib::DropOpenConnections();
        signIn();
        QCOMPARE(g_testHostLookups.load() - before, 2);
        QCOMPARE(ResumedHandshakes() - resumedBefore, 2L); // nothing of the old network is taken up
    }

    void idle_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QString>("news"); // what WaitIdle says, or "failed"
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("end"); // what EndIdle says
        QTest::addColumn<int>("exists");
        QTest::newRow("new mail") << "deliver"
                                  << "changed"
                                  << ""
                                  << "ok" << 4;
        QTest::newRow("expunge") << "* 3 EXPUNGE\r\n"
                                 << "changed"
                                 << ""
                                 << "ok" << 2;
        QTest::newRow("flags") << "* 1 FETCH (FLAGS (\\Seen))\r\n"
                               << "changed"
                               << ""
                               << "ok" << 3;
        QTest::newRow("quiet") << ""
                               << "quiet"
                               << ""
                               << "ok" << 3;
        QTest::newRow("woken") << "wake"
                               << "woken"
                               << ""
                               << "ok" << 3;
        QTest::newRow("IDLE ended by the server") << "F2 OK idle over\r\n"
                                                  << "ended"
                                                  << ""
                                                  << "ok" << 3;
        QTest::newRow("BYE mid-IDLE") << "* BYE idle for too long\r\n"
                                      << "failed"
                                      << "the server ended the connection (server said: * BYE idle for too long)"
                                      << "ok" << 3;
        QTest::newRow("silent IDLE") << "silent"
                                     << "quiet"
                                     << ""
                                     << "no answer to the end of idle: the connection is silent" << 3;
    }

    // What the connection hears while idling, and whether the end of IDLE is answered.
    void idle()
    {
        QFETCH(QString, event);
        QFETCH(QString, news);
        QFETCH(QString, reason);
        QFETCH(QString, end);
        QFETCH(int, exists);
        if (event == "silent") server_->hook = ReplyOnce("DONE", "", false, true);
        QVERIFY(server_->start());
        Dialogue d(Options(ImapAddress(*server_), 1000ms), 64 * 1024);
        maillib::imap::MailboxCounts st;
        QVERIFY(d.Open().ok());
        QVERIFY(d.Examine("INBOX", st).ok());
        QVERIFY(d.StartIdle().ok());
        if (event == "deliver") server_->deliver("INBOX", Mail(4));
        else if (event == "wake") d.Wake();
        else if (event != "silent" && !event.isEmpty()) server_->push(event.toStdString());
        Dialogue::IdleNews heard{};
        Reply r = d.WaitIdle(std::chrono::steady_clock::now() + 300ms, heard);
        const char* names[] = {"changed", "quiet", "woken", "ended"};
        QCOMPARE(r.ok() ? QString(names[static_cast<int>(heard)]) : QString("failed"), news);
        QCOMPARE(QString::fromStdString(r.reason), reason);
        QCOMPARE(d.Exists(), uint64_t(exists));
        if (!r.ok()) return;
        Reply e = d.EndIdle();
        QCOMPARE(e.ok() ? QString("ok") : QString::fromStdString(e.reason), end);
        if (!e.ok()) return;
        d.Logout();
        server_->stop();
        QStringList expected{"F1 EXAMINE \"INBOX\"", "F2 IDLE"};
        if (heard != Dialogue::IdleNews::Ended) expected << "DONE";
        QCOMPARE(Q(server_->lastTranscript()).mid(2), expected << "F3 LOGOUT");
    }

    void overLongLiteral_data()
    {
        QTest::addColumn<QByteArray>("mail");
        QTest::addColumn<bool>("ignorePartial");
        QTest::addColumn<QByteArray>("kept");
        QTest::addColumn<bool>("cut");
        const QByteArray head = "Subject: x\r\n\r\n";
        const QByteArray bigHead = "X-Long: " + QByteArray(3000, 'h') + "\r\n\r\n";
        const QByteArray text = QByteArray(5000, 't');
        QTest::newRow("header over the bound") << bigHead + "body" << false << bigHead.left(1024) << true;
        QTest::newRow("text over the bound, partial ignored")
            << head + text << true << (head + text).left(1024) << true;
        QTest::newRow("text over the bound, partial honoured")
            << head + text << false << (head + text).left(1024) << false;
        QTest::newRow("within the bound") << head + "short\r\n" << true << head + "short\r\n" << false;
    }

    // A literal over the bound is read up to the bound; the connection is then dropped, and
    // what was read is kept.
    void overLongLiteral()
    {
        QFETCH(QByteArray, mail);
        QFETCH(bool, ignorePartial);
        QFETCH(QByteArray, kept);
        QFETCH(bool, cut);
        FakeMailbox box;
        box.mails = {{1, mail.toStdString()}, {2, Mail(2)}};
        server_->setMailbox("INBOX", box);
        server_->ignorePartial = ignorePartial;
        QVERIFY(server_->start());
        Dialogue d(Options(), 1024);
        maillib::imap::MailboxCounts st;
        QVERIFY(d.Open().ok());
        QVERIFY(d.Examine("INBOX", st).ok());
        std::map<uint32_t, std::string> mails;
        Reply r = d.Fetch({1, 2}, [&](uint32_t uid, std::string m) { mails[uid] = m; });
        QVERIFY(r.ok());
        QCOMPARE(r.cut, cut);
        QCOMPARE(QByteArray::fromStdString(mails[1]), kept);
        QCOMPARE(mails.count(2), size_t(cut ? 0 : 1));
        d.Logout();
        server_->stop();
        QCOMPARE(Q(server_->lastTranscript()).last(),
                 cut ? QString("F2 UID FETCH 1:2 (UID BODY.PEEK[HEADER] BODY.PEEK[TEXT]<0.1024>)")
                     : QString("F3 LOGOUT"));
    }

    void tenThousandMails()
    {
        server_->setMailbox("INBOX", Box(10000, 7, 5));
        QVERIFY(server_->start());
        Dialogue d(Options(ImapAddress(*server_), 10000ms), 64 * 1024);
        maillib::imap::MailboxCounts st;
        std::vector<uint32_t> uids;
        QVERIFY(d.Open().ok());
        QVERIFY(d.Examine("INBOX", st).ok());
        QCOMPARE(st.messages, uint64_t(10000));
        QVERIFY(d.SearchAll(uids).ok());
        QCOMPARE(uids.size(), size_t(10000));
        QCOMPARE(uids.front(), uint32_t(5));
        QCOMPARE(uids.back(), uint32_t(10004));
        // The newest hundred in one command; every other of 450 in commands of 200.
        std::vector<uint32_t> newest(uids.end() - 100, uids.end()), spread;
        for (size_t i = 0; i < 900; i += 2) spread.push_back(uids[i]);
        size_t got = 0;
        QVERIFY(d.Fetch(newest, [&](uint32_t, std::string) { ++got; }).ok());
        QVERIFY(d.Fetch(spread, [&](uint32_t, std::string) { ++got; }).ok());
        QCOMPARE(got, size_t(550));
        d.Logout();
        server_->stop();
        QStringList fetches = Q(server_->lastTranscript()).filter(" UID FETCH ");
        QCOMPARE(fetches.size(), 4);
        QVERIFY(fetches[0].startsWith("F3 UID FETCH 9905:10004 "));
    }

    void mailboxNames_data()
    {
        QTest::addColumn<bool>("utf8");
        QTest::addColumn<QString>("onServer");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("commands");
        QTest::newRow("japanese, modified utf-7")
            << false << "&U9dP4Xux-/&TtVOiw-"
            << "受信箱/仕事"
            << QStringList{"F1 STATUS \"&U9dP4Xux-/&TtVOiw-\" (MESSAGES UIDNEXT UIDVALIDITY)",
                           "F2 EXAMINE \"&U9dP4Xux-/&TtVOiw-\"", "F3 LOGOUT"};
        QTest::newRow("japanese, utf-8") << true << "受信箱/仕事"
                                         << "受信箱/仕事"
                                         << QStringList{"F1 ENABLE UTF8=ACCEPT",
                                                        "F2 STATUS \"受信箱/仕事\" (MESSAGES UIDNEXT UIDVALIDITY)",
                                                        "F3 EXAMINE \"受信箱/仕事\"", "F4 LOGOUT"};
        QTest::newRow("missing") << false << "INBOX"
                                 << "Nope"
                                 << QStringList{"F1 STATUS \"Nope\" (MESSAGES UIDNEXT UIDVALIDITY)",
                                                "F2 EXAMINE \"Nope\"", "F3 LOGOUT"};
    }

    // Names go in modified UTF-7 unless the server takes UTF-8; a missing mailbox says so.
    void mailboxNames()
    {
        QFETCH(bool, utf8);
        QFETCH(QString, onServer);
        QFETCH(QString, name);
        QFETCH(QStringList, commands);
        if (utf8) server_->capabilities.push_back("UTF8=ACCEPT");
        server_->setMailbox(onServer.toStdString(), Box(2));
        QVERIFY(server_->start());
        Dialogue d(Options(), 64 * 1024);
        QVERIFY(d.Open().ok());
        maillib::imap::MailboxCounts status, examined;
        Reply s = d.Status(name.toStdString(), status);
        Reply e = d.Examine(name.toStdString(), examined);
        const bool missing = name == "Nope";
        QCOMPARE(s.missingMailbox, missing);
        QCOMPARE(e.missingMailbox, missing);
        QCOMPARE(s.ok(), !missing);
        QCOMPARE(examined.messages, uint64_t(missing ? 0 : 2));
        QCOMPARE(status.messages, examined.messages);
        d.Logout();
        server_->stop();
        QCOMPARE(Q(server_->lastTranscript()).mid(2), commands);
    }

    void cancelEndsAWait_data()
    {
        QTest::addColumn<QString>("stage");
        QTest::newRow("greeting") << "greeting";
        QTest::newRow("command") << "command";
        QTest::newRow("IDLE") << "idle";
    }

    // Ending every check ends a connection waiting on its server within the same bound.
    void cancelEndsAWait()
    {
        QFETCH(QString, stage);
        server_->silent = stage == "greeting";
        if (stage == "command") server_->hook = ReplyOnce("EXAMINE", "", false, true);
        QVERIFY(server_->start());
        Dialogue d(Options(ImapAddress(*server_), 20000ms), 64 * 1024);
        maillib::imap::MailboxCounts st;
        QElapsedTimer timer;
        std::thread canceller([&] {
            for (int i = 0; i < 500 && server_->connections() < 1; ++i) std::this_thread::sleep_for(10ms);
            std::this_thread::sleep_for(200ms);
            timer.start();
            maillib::CancelChecks();
        });
        Reply r = d.Open();
        if (r.ok()) r = d.Examine("INBOX", st);
        if (r.ok()) r = d.StartIdle();
        Dialogue::IdleNews news{};
        if (r.ok()) r = d.WaitIdle(std::chrono::steady_clock::now() + 20s, news);
        canceller.join();
        const qint64 waited = timer.elapsed();
        maillib::internal::ClearCancel();
        QCOMPARE(r.kind, ReplyKind::Failed);
        QCOMPARE(r.failure, Kind::Cancelled);
        QVERIFY2(waited < 1000, QByteArray::number(waited));
    }

    void faults_data()
    {
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<bool>("close");
        QTest::addColumn<bool>("stall");
        QTest::addColumn<QString>("step");
        QTest::addColumn<ReplyKind>("kind");
        QTest::addColumn<Kind>("failure");
        QTest::addColumn<QString>("reason");
        const QString statusOk = "* STATUS \"INBOX\" (MESSAGES 3 UIDNEXT 4 UIDVALIDITY 7)\r\n%T OK done\r\n";
        QTest::newRow("none") << ""
                              << "" << false << false << "end" << ReplyKind::Ok << Kind::ServerError << "";
        QTest::newRow("untagged garbage")
            << "STATUS"
            << "* junk \x01\r\nhello there\r\n* 3 FETCH (((\r\n* )\r\n+ what\r\nZ9 OK not yours\r\n" + statusOk << false
            << false << "end" << ReplyKind::Ok << Kind::ServerError << "";
        QTest::newRow("sign-in refused") << "AUTHENTICATE"
                                         << "%T NO [AUTHENTICATIONFAILED] secret is wrong\r\n"
                                         << false << false << "open" << ReplyKind::Failed << Kind::LoginRefused
                                         << "login refused (server said: A002 NO [AUTHENTICATIONFAILED] **** is wrong)";
        QTest::newRow("capability refused") << "F1 CAPABILITY"
                                            << "%T BAD no\r\n"
                                            << false << false << "end" << ReplyKind::Ok << Kind::ServerError << "";
        for (const char* verdict : {"NO", "BAD"}) {
            const struct {
                const char* step;
                const char* trigger;
                const char* verb;
            } steps[] = {{"status", "STATUS", "status"},  {"examine", "EXAMINE", "examine"},
                         {"search", "UID SEARCH", "uid"}, {"fetch", "UID FETCH", "uid"},
                         {"idle", " IDLE", "idle"},       {"done", "DONE", "done"}};
            for (const auto& s : steps)
                QTest::addRow("%s to %s", verdict, s.step)
                    << s.trigger << QString("%T %1 [UNAVAILABLE] not now\r\n").arg(verdict) << false << false << s.step
                    << ReplyKind::Refused << Kind::ServerError
                    << QString("the server refused %1 (server said: F%2 %3 [UNAVAILABLE] not now)")
                           .arg(s.verb)
                           .arg(std::min<long>(&s - steps + 1, 5)) // DONE answers under IDLE's tag
                           .arg(verdict);
        }
        QTest::newRow("missing tagged OK") << "EXAMINE"
                                           << "* 3 EXISTS\r\n"
                                           << false << false << "examine" << ReplyKind::Failed << Kind::TimedOut
                                           << "timed out waiting for the answer to examine";
        QTest::newRow("silent") << "UID SEARCH"
                                << "" << false << true << "search" << ReplyKind::Failed << Kind::TimedOut
                                << "timed out waiting for the answer to uid";
        QTest::newRow("closed inside a literal")
            << "UID FETCH"
            << "* 1 FETCH (UID 1 BODY[HEADER] {100}\r\nFrom: x" << true << false << "fetch" << ReplyKind::Failed
            << Kind::ServerError << "the server closed the connection";
        QTest::newRow("BYE, then closed") << "EXAMINE"
                                          << "* BYE shutting down\r\n"
                                          << true << false << "examine" << ReplyKind::Failed << Kind::ServerError
                                          << "the server ended the connection (server said: * BYE shutting down)";
        QTest::newRow("foreign tags") << "STATUS"
                                      << "F9 NO other\r\nA001 BAD old\r\n" + statusOk << false << false << "end"
                                      << ReplyKind::Ok << Kind::ServerError << "";
        QTest::newRow("status without counts") << "STATUS"
                                               << "* STATUS \"INBOX\" (MESSAGES 3)\r\n%T OK done\r\n"
                                               << false << false << "status" << ReplyKind::Failed << Kind::ServerError
                                               << "the server's status reply lacks the mailbox's counts";
        QTest::newRow("status of another mailbox")
            << "STATUS"
            << "* STATUS Other (MESSAGES 3 UIDNEXT 4 UIDVALIDITY 7)\r\n%T OK done\r\n"
            << false << false << "status" << ReplyKind::Failed << Kind::ServerError
            << "the server's status reply lacks the mailbox's counts";
        QTest::newRow("tagged reply of no kind")
            << "UID SEARCH"
            << "%T MAYBE\r\n"
            << false << false << "search" << ReplyKind::Failed << Kind::ServerError << "unexpected server reply to uid";
        QTest::newRow("IDLE over at once") << " IDLE"
                                           << "%T OK no need\r\n"
                                           << false << false << "end" << ReplyKind::Ok << Kind::ServerError << "";
    }

    // Each step of the dialogue against a server that misbehaves there.
    void faults()
    {
        QFETCH(QString, trigger);
        QFETCH(QString, reply);
        QFETCH(bool, close);
        QFETCH(bool, stall);
        QFETCH(QString, step);
        QFETCH(ReplyKind, kind);
        QFETCH(Kind, failure);
        QFETCH(QString, reason);
        if (!trigger.isEmpty()) server_->hook = ReplyOnce(trigger.toStdString(), reply.toStdString(), close, stall);
        // One row asks for the capabilities itself, so that they can be refused.
        server_->capabilityAfterLogin = trigger != "F1 CAPABILITY";
        QVERIFY(server_->start());
        Dialogue d(Options(ImapAddress(*server_), 1000ms), 64 * 1024);
        auto [at, r] = Steps(d);
        QCOMPARE(at, step);
        QCOMPARE(r.kind, kind);
        if (kind == ReplyKind::Failed) QCOMPARE(r.failure, failure);
        QCOMPARE(QString::fromStdString(r.reason), reason);
    }
};

QTEST_GUILESS_MAIN(TestImapFake)
#include "tst_imapfake.moc"
