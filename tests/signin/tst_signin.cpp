// Signing in against a fake authorisation server, with a real keyring on a private bus
// (tests/fixtures/keyring-session unlocked): the provider file, PKCE, the browser step through
// the loopback redirect, refreshing, revoked grants, and the order in which an account's
// credential is chosen. Every code and token handed out is looked for in every file after.
#include "signin/AccessTokens.h"
#include "signin/CredentialSource.h"
#include "signin/CredentialText.h"
#include "signin/Pkce.h"
#include "signin/SignIn.h"
#include "tests/common/FakeOAuthServer.h"
#include "tests/common/KeyringSession.h"

#include <QTemporaryDir>
#include <QtTest>

#include <thread>

using signin::AccountId;
using Kind = signin::SignInResult::Kind;
using Fault = maillib::Credential::Fault;
using CKind = maillib::Credential::Kind;
Q_DECLARE_METATYPE(Kind)
Q_DECLARE_METATYPE(Fault)
Q_DECLARE_METATYPE(CKind)

namespace {

const QString kClientId = QStringLiteral("fw-test-client");
const QString kHost = QStringLiteral("mail.test.invalid");

QString WriteFile(const QTemporaryDir& dir, const QString& name, const QString& text)
{
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly)) return {};
    f.write(text.toUtf8());
    return f.fileName();
}

} // namespace

class tst_signin : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void providerFile_data();
    void providerFile();
    void providerForServer_data();
    void providerForServer();
    void pkceChallenge();
    void signIn_data();
    void signIn();
    void credentialOrder_data();
    void credentialOrder();
    void refreshedBeforeExpiry();
    void rotatedGrantIsKept();
    void revokedGrantAsksNoMore();
    void concurrentConnectionsRefreshOnce();
    void faultTexts();
    void cleanupTestCase();

private:
    QString Providers(const QString& clientId = kClientId);
    signin::OAuthProvider Provider(const QString& clientId = kClientId);
    // Signs `account` in through the fake, as the user would in the browser.
    signin::SignInResult SignInAs(const AccountId& account, const QString& clientId = kClientId);

    QTemporaryDir dir_;
    std::unique_ptr<FakeOAuthServer> server_;
};

void tst_signin::initTestCase()
{
    QCOMPARE(KeyringSession::Mode(), QStringLiteral("unlocked"));
    server_ = std::make_unique<FakeOAuthServer>(kClientId);
    QVERIFY(server_->IsRunning());
}

void tst_signin::init()
{
    signin::AccessTokens::Clear();
    QVERIFY(server_->Control("deny=0&down=0&rotate=0&lifetime=3600"));
}

QString tst_signin::Providers(const QString& clientId)
{
    return WriteFile(dir_,
                     QStringLiteral("providers-%1.ini").arg(clientId.isEmpty() ? QStringLiteral("none") : clientId),
                     server_->ProviderSection(QStringLiteral("testmail"), kHost, clientId));
}

signin::OAuthProvider tst_signin::Provider(const QString& clientId)
{
    const auto all = signin::LoadProviders(Providers(clientId));
    return all.back();
}

signin::SignInResult tst_signin::SignInAs(const AccountId& account, const QString& clientId)
{
    return signin::SignIn(
        Provider(clientId), account, [this](const QString& url) { return server_->Browse(url); },
        std::chrono::seconds(20));
}

void tst_signin::providerFile_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("ids");
    QTest::addColumn<QString>("microsoftClientId");
    QTest::addColumn<int>("warnings");
    const QStringList builtIn{QStringLiteral("microsoft"), QStringLiteral("google")};
    const QString good = QStringLiteral("hosts=mail.corp.example\nauthorization_endpoint=https://id.corp.example/a\n"
                                        "token_endpoint=https://id.corp.example/t\nscopes=mail\nclient_id=abc\n");
    QTest::newRow("no file") << QString() << builtIn << QString() << 0;
    QTest::newRow("own provider added") << "[corp]\n" + good << builtIn + QStringList{"corp"} << QString() << 0;
    QTest::newRow("built-in takes an id") << "[Microsoft]\nclient_id=my-id\n" << builtIn << "my-id" << 0;
    QTest::newRow("comments and blank lines") << "; mine\n# also\n\n[microsoft]\nclient_id = spaced \n"
                                              << builtIn << "spaced" << 0;
    QTest::newRow("plain http elsewhere refused")
        << "[corp]\n" + QString(good).replace("https://id", "http://id") << builtIn << QString() << 1;
    QTest::newRow("plain http on loopback taken")
        << "[corp]\n" + QString(good).replace("https://id.corp.example", "http://127.0.0.1:9")
        << builtIn + QStringList{"corp"} << QString() << 0;
    QTest::newRow("broken override keeps built-in") << "[microsoft]\ntoken_endpoint=ftp://x/\nclient_id=evil\n"
                                                    << builtIn << QString() << 1;
    QTest::newRow("no hosts") << "[corp]\n" + QString(good).replace("hosts=mail.corp.example\n", "") << builtIn
                              << QString() << 1;
    QTest::newRow("field outside a section") << "client_id=x\n" << builtIn << QString() << 1;
    QTest::newRow("unknown field") << "[microsoft]\npassword=x\n" << builtIn << QString() << 1;
    QTest::newRow("endpoint with user info")
        << "[corp]\n" + QString(good).replace("https://id", "https://u:p@id") << builtIn << QString() << 1;
}

void tst_signin::providerFile()
{
    QFETCH(QString, text);
    QFETCH(QStringList, ids);
    QFETCH(QString, microsoftClientId);
    QFETCH(int, warnings);
    const QString file =
        text.isNull() ? dir_.filePath(QStringLiteral("absent.ini")) : WriteFile(dir_, QStringLiteral("p.ini"), text);
    QStringList said;
    const auto providers = signin::LoadProviders(file, &said);
    QStringList got;
    for (const auto& p : providers) got << p.id;
    QCOMPARE(got, ids);
    QCOMPARE(providers.front().clientId, microsoftClientId); // the build in CI has none
    QCOMPARE(said.size(), warnings);
    for (const QString& line : said) QVERIFY2(!line.contains(QStringLiteral("evil")), qPrintable(line));
}

void tst_signin::providerForServer_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("provider");
    QTest::newRow("Microsoft 365") << "outlook.office365.com"
                                   << "microsoft";
    QTest::newRow("upper case, port") << "OUTLOOK.OFFICE365.COM:995"
                                      << "microsoft";
    QTest::newRow("Gmail with scheme") << "pop3s://pop.gmail.com"
                                       << "google";
    QTest::newRow("STLS form") << "pop3://pop.gmail.com:110"
                               << "google";
    QTest::newRow("other host") << "pop.example.jp"
                                << "";
    QTest::newRow("look-alike host") << "pop.gmail.com.example.jp"
                                     << "";
    QTest::newRow("unparsable") << "pop3s://"
                                << "";
}

void tst_signin::providerForServer()
{
    QFETCH(QString, server);
    QFETCH(QString, provider);
    const auto providers = signin::BuiltInProviders();
    const signin::OAuthProvider* p = signin::ProviderForServer(providers, server);
    QCOMPARE(p ? p->id : QString(), provider);
}

void tst_signin::pkceChallenge()
{
    // RFC 7636 appendix B.
    QCOMPARE(signin::ChallengeOf("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
             QByteArray("E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"));
    const signin::Pkce a = signin::MakePkce(), b = signin::MakePkce();
    QCOMPARE(a.verifier.size(), 43);
    QVERIFY(a.verifier != b.verifier);
    QCOMPARE(a.challenge, signin::ChallengeOf(a.verifier));
}

void tst_signin::signIn_data()
{
    QTest::addColumn<QByteArray>("control");
    QTest::addColumn<QString>("clientId");
    QTest::addColumn<int>("browser"); // 0 none starts, 1 follows, 2 opened then closed, 3 forged first
    QTest::addColumn<Kind>("expected");
    QTest::newRow("signed in") << QByteArray() << kClientId << 1 << Kind::Ok;
    QTest::newRow("forged redirect ignored") << QByteArray() << kClientId << 3 << Kind::Ok;
    QTest::newRow("user declines") << QByteArray("deny=1") << kClientId << 1 << Kind::Denied;
    QTest::newRow("client unknown to the server") << QByteArray() << "other-client" << 1 << Kind::Denied;
    QTest::newRow("token endpoint down") << QByteArray("down=1") << kClientId << 1 << Kind::TokenEndpointDown;
    QTest::newRow("browser closed") << QByteArray() << kClientId << 2 << Kind::TimedOut;
    QTest::newRow("no browser") << QByteArray() << kClientId << 0 << Kind::NoBrowser;
    QTest::newRow("no client id in this build") << QByteArray() << QString() << 1 << Kind::NoClientId;
}

void tst_signin::signIn()
{
    QFETCH(QByteArray, control);
    QFETCH(QString, clientId);
    QFETCH(int, browser);
    QFETCH(Kind, expected);
    if (!control.isEmpty()) QVERIFY(server_->Control(control));
    const AccountId account{kHost, QStringLiteral("signin-%1@test.invalid").arg(QTest::currentDataTag())};
    signin::RemoveGrant(account);
    QElapsedTimer t;
    t.start();
    const auto result = signin::SignIn(
        Provider(clientId), account,
        [&](const QString& url) {
            // The address carries PKCE and the state, never a secret of ours.
            const QUrlQuery q{QUrl(url)};
            if (q.queryItemValue(QStringLiteral("code_challenge_method")) != QStringLiteral("S256")) return false;
            return browser == 1 || browser == 3 ? server_->Browse(url, browser == 3) : browser == 2;
        },
        std::chrono::milliseconds(browser == 2 ? 1500 : 20000));
    QCOMPARE(result.kind, expected);
    QVERIFY(t.elapsed() < 15000);
    QCOMPARE(signin::ReadGrant(account).status, expected == Kind::Ok ? Keyring::Status::Ok : Keyring::Status::NotFound);
    QCOMPARE(signin::AccessTokens::Fresh(account).has_value(), expected == Kind::Ok);
    QVERIFY(!signin::Message(result, Provider()).isEmpty());
}

void tst_signin::credentialOrder_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("keyringPassword");
    QTest::addColumn<bool>("grant");
    QTest::addColumn<QString>("clientId");
    QTest::addColumn<CKind>("kind");
    QTest::addColumn<Fault>("fault");
    QTest::newRow("keyring password wins") << kHost << true << true << kClientId << CKind::Password << Fault::None;
    QTest::newRow("keyring password, other host")
        << "pop.example.jp" << true << false << kClientId << CKind::Password << Fault::None;
    QTest::newRow("OAuth2 host with a grant") << kHost << false << true << kClientId << CKind::Bearer << Fault::None;
    QTest::newRow("OAuth2 host, no grant")
        << kHost << false << false << kClientId << CKind::None << Fault::SignInNeeded;
    QTest::newRow("OAuth2 host, no client id")
        << kHost << false << false << QString() << CKind::None << Fault::NoClientId;
    QTest::newRow("other host, nothing in the keyring")
        << "pop.example.jp" << false << false << kClientId << CKind::None << Fault::KeyringPasswordMissing;
}

void tst_signin::credentialOrder()
{
    QFETCH(QString, server);
    QFETCH(bool, keyringPassword);
    QFETCH(bool, grant);
    QFETCH(QString, clientId);
    QFETCH(CKind, kind);
    QFETCH(Fault, fault);
    const AccountId account{server, QStringLiteral("order-%1@test.invalid").arg(QTest::currentDataTag())};
    const QString password = QStringLiteral("kp-") + QString::fromLatin1(signin::RandomText(12));
    if (keyringPassword) QCOMPARE(signin::StorePassword(account, password).status, Keyring::Status::Ok);
    else QCOMPARE(signin::RemovePassword(account).status, Keyring::Status::Ok);
    if (grant) QCOMPARE(SignInAs(account).kind, Kind::Ok);
    signin::AccessTokens::Clear(); // a check after a restart: only the keyring remembers

    const maillib::CredentialSource source = signin::MakeCredentialSource(Providers(clientId));
    const maillib::Credential c = source({server.toStdString(), account.user.toStdString(), false});
    QCOMPARE(c.kind, kind);
    QCOMPARE(c.fault, fault);
    if (kind == CKind::Password) QCOMPARE(QString::fromStdString(c.secret), password);
    if (kind == CKind::Bearer) QVERIFY(server_->Issued().contains(QString::fromStdString(c.secret)));
    if (kind == CKind::None) QVERIFY(c.secret.empty());
    signin::RemovePassword(account);
    signin::RemoveGrant(account);
}

void tst_signin::refreshedBeforeExpiry()
{
    // Tokens that live no longer than the margin are refreshed at every connection.
    QVERIFY(server_->Control("lifetime=30"));
    const AccountId account{kHost, QStringLiteral("short@test.invalid")};
    QCOMPARE(SignInAs(account).kind, Kind::Ok);
    const auto providers = signin::LoadProviders(Providers());
    const int refreshesBefore = int(server_->Log().filter(QStringLiteral("refresh_token ok")).size());
    const maillib::Credential first = signin::Resolve(account, providers);
    const maillib::Credential second = signin::Resolve(account, providers);
    QCOMPARE(first.kind, CKind::Bearer);
    QCOMPARE(second.kind, CKind::Bearer);
    QVERIFY(first.secret != second.secret);
    QCOMPARE(server_->Log().filter(QStringLiteral("refresh_token ok")).size(), refreshesBefore + 2);

    // A long-lived token is handed out again until the server refuses it.
    QVERIFY(server_->Control("lifetime=3600"));
    const maillib::Credential kept = signin::Resolve(account, providers);
    QCOMPARE(signin::Resolve(account, providers).secret, kept.secret);
    const maillib::Credential fresh = signin::Resolve(account, providers, /*lastRefused=*/true);
    QCOMPARE(fresh.kind, CKind::Bearer);
    QVERIFY(fresh.secret != kept.secret);
}

void tst_signin::rotatedGrantIsKept()
{
    QVERIFY(server_->Control("rotate=1&lifetime=30"));
    const AccountId account{kHost, QStringLiteral("rotate@test.invalid")};
    QCOMPARE(SignInAs(account).kind, Kind::Ok);
    const QString before = signin::ReadGrant(account).secret;
    const auto providers = signin::LoadProviders(Providers());
    QCOMPARE(signin::Resolve(account, providers).kind, CKind::Bearer);
    const QString after = signin::ReadGrant(account).secret;
    QVERIFY(!after.isEmpty() && after != before);
    // The retired token would be refused; the kept one goes on working.
    QCOMPARE(signin::Resolve(account, providers).kind, CKind::Bearer);
}

void tst_signin::revokedGrantAsksNoMore()
{
    const AccountId account{kHost, QStringLiteral("revoked@test.invalid")};
    QCOMPARE(SignInAs(account).kind, Kind::Ok);
    signin::AccessTokens::Clear();
    QVERIFY(server_->Control("revoke=revoked@test.invalid"));
    const auto providers = signin::LoadProviders(Providers());
    const qsizetype asked = server_->Log().size();
    for (int i = 0; i < 3; ++i) QCOMPARE(signin::Resolve(account, providers).fault, Fault::SignInNeeded);
    QCOMPARE(server_->Log().size(), asked + 1); // one refusal, then no more requests
    // Signing in again stores a new grant and the account works.
    QCOMPARE(SignInAs(account).kind, Kind::Ok);
    signin::AccessTokens::Clear();
    QCOMPARE(signin::Resolve(account, providers).kind, CKind::Bearer);

    QVERIFY(server_->Control("down=1"));
    signin::AccessTokens::Clear();
    QCOMPARE(signin::Resolve(account, providers).fault, Fault::TokenEndpointDown);
}

void tst_signin::concurrentConnectionsRefreshOnce()
{
    // A check and a push watcher's reconnect at the same moment: one refresh, one token.
    const AccountId account{kHost, QStringLiteral("together@test.invalid")};
    QCOMPARE(SignInAs(account).kind, Kind::Ok);
    signin::AccessTokens::Clear();
    const auto providers = signin::LoadProviders(Providers());
    const qsizetype before = server_->Log().filter(QStringLiteral("refresh_token")).size();
    std::vector<maillib::Credential> got(4);
    std::vector<std::thread> threads;
    for (auto& c : got) threads.emplace_back([&c, &account, &providers] { c = signin::Resolve(account, providers); });
    for (auto& t : threads) t.join();
    for (const auto& c : got) {
        QCOMPARE(c.kind, CKind::Bearer);
        QCOMPARE(c.secret, got.front().secret);
    }
    QCOMPARE(server_->Log().filter(QStringLiteral("refresh_token")).size(), before + 1);
}

void tst_signin::faultTexts()
{
    QCOMPARE(signin::FaultText(Fault::KeyringLocked), QStringLiteral("鍵束がロックされています"));
    QCOMPARE(signin::FaultText(Fault::SignInNeeded), QStringLiteral("再ログインが必要です"));
    QCOMPARE(signin::FaultText(Fault::NoClientId, QStringLiteral("Microsoft")),
             QStringLiteral("このビルドには Microsoft のクライアント ID がありません"));
}

void tst_signin::cleanupTestCase()
{
    // No code or token in any file: the keyring's own file is encrypted.
    const QStringList issued = server_->Issued();
    QVERIFY(issued.size() > 5);
    for (const QString& secret : issued) {
        QCOMPARE(KeyringSession::FilesHolding(QDir::homePath(), secret.toUtf8()), QStringList());
        QCOMPARE(KeyringSession::FilesHolding(dir_.path(), secret.toUtf8()), QStringList());
    }
    server_.reset();
}

QTEST_GUILESS_MAIN(tst_signin)
#include "tst_signin.moc"
