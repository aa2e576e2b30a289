// Tokens from our own grant against a real server: dovecot with an oauth2 passdb whose
// introspection endpoint is the fake authorisation server. The connection here is libcurl's
// XOAUTH2 / OAUTHBEARER login, as the mail library makes it.
#include "signin/AccessTokens.h"
#include "signin/CredentialSource.h"
#include "signin/SignIn.h"
#include "tests/common/DovecotFixture.h"
#include "tests/common/FakeOAuthServer.h"
#include "tests/common/KeyringSession.h"

#include <QTemporaryDir>
#include <QtTest>

#include <curl/curl.h>

namespace {
const QString kClientId = QStringLiteral("dovecot-client");

// Signs in to POP3 over TLS with a bearer token and lists the mailbox; true when let in.
bool BearerLogin(const QMap<QString, QString>& env, const QString& user, const std::string& token)
{
    CURL* curl = curl_easy_init();
    const QByteArray url = QStringLiteral("pop3s://127.0.0.1:%1/").arg(env.value("POP3S_PORT")).toUtf8();
    const QByteArray ca = env.value("CA_FILE").toUtf8(), name = user.toUtf8();
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_CAINFO, ca.constData());
    curl_easy_setopt(curl, CURLOPT_USERNAME, name.constData());
    curl_easy_setopt(curl, CURLOPT_XOAUTH2_BEARER, token.c_str());
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
    curl_easy_setopt(
        curl, CURLOPT_WRITEFUNCTION, +[](char*, size_t s, size_t n, void*) { return s * n; });
    const CURLcode rc = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    return rc == CURLE_OK;
}
} // namespace

class tst_signin_dovecot : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void logins();
    void cleanupTestCase();

private:
    maillib::Credential TokenFor(const QString& user, bool lastRefused = false);

    QTemporaryDir dir_;
    std::unique_ptr<FakeOAuthServer> server_;
    std::vector<signin::OAuthProvider> providers_;
    QMap<QString, QString> dovecot_;
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
    QVERIFY(!dovecot_.value("POP3S_PORT").isEmpty());

    signin::OAuthProvider p;
    p.id = p.name = QStringLiteral("fixture");
    p.hosts = {QStringLiteral("127.0.0.1")};
    p.authorizationEndpoint = server_->Url("/authorize");
    p.tokenEndpoint = server_->Url("/token");
    p.scopes = QStringLiteral("mail");
    p.clientId = kClientId;
    providers_ = {p};
    for (const QString user : {"user1", "user2"}) {
        const signin::AccountId id{QStringLiteral("127.0.0.1"), user};
        const auto r = signin::SignIn(p, id, [this](const QString& url) { return server_->Browse(url); });
        QCOMPARE(r.kind, signin::SignInResult::Kind::Ok);
    }
}

maillib::Credential tst_signin_dovecot::TokenFor(const QString& user, bool lastRefused)
{
    return signin::Resolve({QStringLiteral("127.0.0.1"), user}, providers_, lastRefused);
}

void tst_signin_dovecot::logins()
{
    // A good token logs in.
    const maillib::Credential first = TokenFor("user1");
    QCOMPARE(first.kind, maillib::Credential::Kind::Bearer);
    QVERIFY(BearerLogin(dovecot_, "user1", first.secret));
    // Another user's token is refused.
    const maillib::Credential other = TokenFor("user2");
    QVERIFY(!BearerLogin(dovecot_, "user1", other.secret));
    QVERIFY(BearerLogin(dovecot_, "user2", other.secret));
    // An expired token is refused; asked again after the refusal, the source refreshes it.
    QVERIFY(server_->Control("expire=user1"));
    QVERIFY(!BearerLogin(dovecot_, "user1", TokenFor("user1").secret));
    const maillib::Credential renewed = TokenFor("user1", /*lastRefused=*/true);
    QVERIFY(renewed.secret != first.secret);
    QVERIFY(BearerLogin(dovecot_, "user1", renewed.secret));
}

void tst_signin_dovecot::cleanupTestCase()
{
    QProcess::execute(qEnvironmentVariable("FW_DOVECOT_FIXTURE"), {"stop", qEnvironmentVariable("FW_DOVECOT_STATE")});
    // dovecot's log holds no token, nor does anything the fixture wrote.
    for (const QString& secret : server_->Issued()) {
        QCOMPARE(KeyringSession::FilesHolding(qEnvironmentVariable("FW_DOVECOT_STATE"), secret.toUtf8()),
                 QStringList());
        QCOMPARE(KeyringSession::FilesHolding(QDir::homePath(), secret.toUtf8()), QStringList());
    }
    server_.reset();
}

QTEST_GUILESS_MAIN(tst_signin_dovecot)
#include "tst_signin_dovecot.moc"
