// Tokens from our own grant against a real server, through the mail library: dovecot with an
// oauth2 passdb whose introspection endpoint is the fake authorisation server. The library
// asks the credential source before each connection and signs in with XOAUTH2 / OAUTHBEARER.
#include "controller/RealMailLibrary.h"
#include "maillib/MailLib.h"
#include "maillib/MailLibInternal.h"
#include "maillib/MailboxWatch.h"
#include "settings/ui/ConnectionTest.h"
#include "signin/AccessTokens.h"
#include "signin/AccountSecrets.h"
#include "signin/CredentialSource.h"
#include "signin/SignIn.h"
#include "tests/common/DovecotFixture.h"
#include "tests/common/FakeOAuthServer.h"
#include "tests/common/KeyringSession.h"

#include <QTemporaryDir>
#include <QtTest>

#include <atomic>

namespace {
const QString kClientId = QStringLiteral("dovecot-client");
using Kind = maillib::AccountStatus::Kind;
} // namespace

class tst_signin_dovecot : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void logins_data();
    void logins();
    void watcherRenewsRefusedToken();
    void connectionTest_data();
    void connectionTest();
    void lockedKeyringGoesOnOnceUnlocked();
    void cleanupTestCase();

private:
    QString Server(const QString& protocol) const
    {
        return protocol == QStringLiteral("IMAP") ? QStringLiteral("imaps://127.0.0.1:") + dovecot_.value("IMAPS_PORT")
                                                  : QStringLiteral("pop3s://127.0.0.1:") + dovecot_.value("POP3S_PORT");
    }
    // One check of `user`, signed in with whatever the credential source gives.
    maillib::AccountStatus Check(const QString& protocol, const QString& user)
    {
        std::string server = Server(protocol).toStdString(), name = user.toStdString(), password, mode = "SAVEALL",
                    folder = dir_.path().toStdString();
        maillib::AccountStatus status;
        maillib::RcvMail(server, name, password, mode, folder, status);
        return status;
    }
    int Refreshes() { return static_cast<int>(server_->Log().count(QStringLiteral("refresh_token ok"))); }

    QTemporaryDir dir_; // the receive folder
    std::unique_ptr<FakeOAuthServer> server_;
    QMap<QString, QString> dovecot_;
    // Whose token the source hands out instead of the account's own, or empty.
    std::atomic<const char*> tokenOf_{nullptr};
};

void tst_signin_dovecot::initTestCase()
{
    QCOMPARE(KeyringSession::Mode(), QStringLiteral("unlocked"));
    server_ = std::make_unique<FakeOAuthServer>(kClientId);
    QVERIFY(server_->IsRunning());
    QProcess fixture;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("FW_DOVECOT_OAUTH2_INTROSPECTION", server_->Url("/introspect"));
    fixture.setProcessEnvironment(env);
    fixture.start(qEnvironmentVariable("FW_DOVECOT_FIXTURE"), {"start", qEnvironmentVariable("FW_DOVECOT_STATE")});
    QVERIFY(fixture.waitForFinished(60000) && fixture.exitCode() == 0);
    dovecot_ = DovecotFixture::Env();
    QVERIFY(!dovecot_.value("IMAPS_PORT").isEmpty());
    QVERIFY(QDir(dir_.path()).mkpath("INI"));
    QVERIFY(QFile::copy(dovecot_.value("CA_FILE"), dir_.filePath("INI/cacert.pem")));

    signin::OAuthProvider p;
    p.id = p.name = QStringLiteral("fixture");
    p.hosts = {QStringLiteral("127.0.0.1")};
    p.authorizationEndpoint = server_->Url("/authorize");
    p.tokenEndpoint = server_->Url("/token");
    p.scopes = QStringLiteral("mail");
    p.clientId = kClientId;
    for (const QString protocol : {"POP3", "IMAP"})
        for (const QString user : {"user1", "user2"}) {
            const auto r = signin::SignIn(p, {Server(protocol), user},
                                          [this](const QString& url) { return server_->Browse(url); });
            QCOMPARE(r.kind, signin::SignInResult::Kind::Ok);
        }
    maillib::Initialise();
    // After a refused login dovecot holds the next ones from this address back for up to 15 s.
    maillib::internal::Limits limits = maillib::internal::GetLimits();
    limits.connect = limits.total = std::chrono::seconds(40);
    maillib::internal::SetLimits(limits);
    maillib::SetCredentialSource([this, providers = std::vector{p}](const maillib::CredentialRequest& request) {
        const char* other = tokenOf_.load();
        return signin::Resolve(
            {QString::fromStdString(request.server), other ? other : QString::fromStdString(request.user)}, providers,
            request.lastRefused);
    });
}

void tst_signin_dovecot::logins_data()
{
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<bool>("expireFirst"); // the token the source keeps stops working before the check
    QTest::addColumn<QString>("tokenOf");  // whose token is sent for user1
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("refreshes"); // token requests to the authorisation server
    for (const QString protocol : {"POP3", "IMAP"}) {
        const QByteArray p = protocol.toUtf8();
        QTest::newRow(p + " good token") << protocol << false << QString() << int(Kind::Ok) << 0;
        // Refused once; the library asks for a fresh token and logs in with it.
        QTest::newRow(p + " expired token is refreshed") << protocol << true << QString() << int(Kind::Ok) << 1;
    }
    // Refused, renewed once (still user2's) and refused again: no third login.
    for (const QString protocol : {"POP3", "IMAP"})
        QTest::newRow(protocol.toUtf8() + " another user's token")
            << protocol << false << "user2" << int(Kind::LoginRefused) << 1;
}

void tst_signin_dovecot::logins()
{
    QFETCH(QString, protocol);
    QFETCH(bool, expireFirst);
    QFETCH(QString, tokenOf);
    QFETCH(int, kind);
    QFETCH(int, refreshes);
    // A token is kept, and the account's wait after an earlier row's refusal is over.
    QCOMPARE(Check(protocol, "user1").kind, Kind::Ok);
    QCOMPARE(Check(protocol, "user2").kind, Kind::Ok);
    if (expireFirst) QVERIFY(server_->Control("expire=user1"));
    const QByteArray other = tokenOf.toUtf8();
    if (!tokenOf.isEmpty()) tokenOf_ = other.constData();
    const int refreshesBefore = Refreshes();
    const qsizetype signInsBefore = DovecotFixture::SignIns("user1").size();

    const maillib::AccountStatus status = Check(protocol, "user1");
    tokenOf_ = nullptr;
    QCOMPARE(int(status.kind), kind);
    QCOMPARE(Refreshes() - refreshesBefore, refreshes);
    // Every login was a bearer one; a refusal costs exactly one more.
    // dovecot logs a refused session once the client has gone: it may come a moment later.
    const int logins = (expireFirst || !tokenOf.isEmpty()) ? 2 : 1;
    QTRY_COMPARE(DovecotFixture::SignIns("user1").size() - signInsBefore, logins);
    const QStringList signIns = DovecotFixture::SignIns("user1").mid(signInsBefore);
    for (const QString& line : signIns)
        QVERIFY2(line.contains("method=OAUTHBEARER") || line.contains("method=XOAUTH2"), qPrintable(line));
    maillib::RetryNow(Server(protocol).toStdString(), "user1");
}

void tst_signin_dovecot::watcherRenewsRefusedToken()
{
    QCOMPARE(Check("IMAP", "user1").kind, Kind::Ok);
    // The token the source keeps dies before the watcher connects: it is refused, and the
    // watcher asks for a fresh one at once.
    QVERIFY(server_->Control("expire=user1"));
    const int refreshesBefore = Refreshes();
    const qsizetype signInsBefore = DovecotFixture::SignIns("user1").size();
    const std::string server = Server("IMAP").toStdString();
    auto watch = maillib::MailboxWatch::Start(server, "user1", "", dir_.path().toStdString(), [] {});
    QVERIFY(watch);
    QTRY_VERIFY_WITH_TIMEOUT(watch->Healthy(), 20000);
    QCOMPARE(watch->Logins(), 2);
    QCOMPARE(Refreshes() - refreshesBefore, 1);
    QTRY_COMPARE(DovecotFixture::SignIns("user1").size() - signInsBefore, 2);
    // A check while the watcher idles is answered from it, though the two sent different tokens.
    QCOMPARE(Check("IMAP", "user1").kind, Kind::Ok);
    QTest::qWait(300);
    QCOMPARE(DovecotFixture::SignIns("user1").size() - signInsBefore, 2);
}

void tst_signin_dovecot::connectionTest_data()
{
    // 「接続テスト」 with the password box empty: the keyring, then a grant, as a check.
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("keyringPassword");
    QTest::addColumn<QByteArray>("serverSwitch"); // for the authorisation server, during the test
    QTest::addColumn<QString>("shown");           // the start of what the dialog says
    const QString ok = QStringLiteral("接続できました");
    QTest::newRow("keyring password") << "POP3"
                                      << "user3"
                                      << "pass3" << QByteArray() << ok;
    QTest::newRow("OAuth2 grant") << "IMAP"
                                  << "user2" << QString() << QByteArray() << ok;
    QTest::newRow("OAuth2 host, never signed in")
        << "IMAP"
        << "user4" << QString() << QByteArray()
        << QStringLiteral("再ログインが必要です\n「ログイン」を押してログインしてから、もう一度お試し下さい。");
    QTest::newRow("OAuth2 host, authorisation server down")
        << "POP3"
        << "user2" << QString() << QByteArray("down=1")
        << QStringLiteral("認可サーバーに接続できません\nしばらくしてから、もう一度お試し下さい。");
    // localhost is no provider's host: nothing but a password would do.
    QTest::newRow("other host, no keyring item")
        << "localhost"
        << "user5" << QString() << QByteArray()
        << QStringLiteral("鍵束にパスワードがありません\nパスワード欄に入力してから、もう一度お試し下さい。");
}

void tst_signin_dovecot::connectionTest()
{
    QFETCH(QString, server);
    QFETCH(QString, user);
    QFETCH(QString, keyringPassword);
    QFETCH(QByteArray, serverSwitch);
    QFETCH(QString, shown);
    const QString serverText = server == QStringLiteral("localhost")
                                   ? QStringLiteral("pop3s://localhost:") + dovecot_.value("POP3S_PORT")
                                   : Server(server);
    const signin::AccountId account{serverText, user};
    if (!keyringPassword.isEmpty())
        QCOMPARE(signin::StorePassword(account, keyringPassword).status, Keyring::Status::Ok);
    signin::AccessTokens::Clear(); // a token must be asked for
    if (!serverSwitch.isEmpty()) QVERIFY(server_->Control(serverSwitch));
    const ConnectionTest::Result result = ConnectionTest::Run(serverText, user, QString(), dovecot_.value("CA_FILE"));
    if (!serverSwitch.isEmpty()) QVERIFY(server_->Control(QByteArray(serverSwitch).replace("=1", "=0")));
    signin::RemovePassword(account);
    const QString message = ConnectionTest::Message(result);
    QVERIFY2(message.startsWith(shown), qPrintable(message));
}

void tst_signin_dovecot::lockedKeyringGoesOnOnceUnlocked()
{
    const signin::AccountId account{Server("POP3"), QStringLiteral("user3")};
    QCOMPARE(signin::StorePassword(account, QStringLiteral("pass3")).status, Keyring::Status::Ok);
    RealMailLibrary library;
    QVERIFY(KeyringSession::Lock());
    const maillib::AccountStatus locked = Check("POP3", "user3");
    QCOMPARE(locked.kind, Kind::NoCredential);
    QCOMPARE(locked.fault, maillib::Credential::Fault::KeyringLocked);
    // The resident looks at every tick; the answer comes a tick late.
    QVERIFY(!library.KeyringOpenAgain());
    QTest::qWait(500);
    QVERIFY(!library.KeyringOpenAgain());
    QVERIFY(KeyringSession::Unlock());
    bool open = false; // said once
    QTRY_VERIFY_WITH_TIMEOUT(open = open || library.KeyringOpenAgain(), 5000);
    QCOMPARE(Check("POP3", "user3").kind, Kind::Ok);
    QCOMPARE(Keyring::UnlockPromptsAsked(), 1);
    signin::RemovePassword(account);
}

void tst_signin_dovecot::cleanupTestCase()
{
    maillib::SetCredentialSource({});
    QProcess::execute(qEnvironmentVariable("FW_DOVECOT_FIXTURE"), {"stop", qEnvironmentVariable("FW_DOVECOT_STATE")});
    // No token in dovecot's log or raw logs, in the receive folder, or anywhere at home.
    for (const QString& secret : server_->Issued())
        for (const QString& folder : {qEnvironmentVariable("FW_DOVECOT_STATE"), dir_.path(), QDir::homePath()})
            QCOMPARE(KeyringSession::FilesHolding(folder, secret.toUtf8()), QStringList());
    server_.reset();
}

QTEST_GUILESS_MAIN(tst_signin_dovecot)
#include "tst_signin_dovecot.moc"
