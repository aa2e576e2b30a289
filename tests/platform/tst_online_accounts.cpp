// GNOME Online Accounts against a fake service on a private session bus (under
// tests/fixtures/keyring-session): which account answers, and a fresh token at every ask.
#include "platform/OnlineAccounts.h"
#include "signin/CredentialSource.h"
#include "tests/common/KeyringSession.h"

#include <QDBusConnection>
#include <QDBusMetaType>
#include <QMutex>
#include <QThread>
#include <QtTest>

#include <thread>

using InterfaceMap = QMap<QString, QVariantMap>;
using ObjectMap = QMap<QDBusObjectPath, InterfaceMap>;
Q_DECLARE_METATYPE(InterfaceMap)
Q_DECLARE_METATYPE(ObjectMap)
using Status = OnlineAccounts::Status;
Q_DECLARE_METATYPE(OnlineAccounts::Status)

namespace {
const QString kService = QStringLiteral("org.gnome.OnlineAccounts");
const QString kAccountPath = QStringLiteral("/org/gnome/OnlineAccounts/Accounts/account_1");

struct FakeAccount {
    QString address = QStringLiteral("taro@gmail.com");
    bool oauth2 = true;
    bool mailDisabled = false;
    bool attentionNeeded = false;
};
} // namespace

// The account's token interface: a new token at every call, as GOA renews them.
class FakeOAuth2Based : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.OnlineAccounts.OAuth2Based")
public:
    std::atomic<int> calls{0};
public Q_SLOTS:
    QString GetAccessToken(int& expiresIn)
    {
        expiresIn = 3600;
        return QStringLiteral("goa-token-%1").arg(++calls);
    }
};

class FakeObjectManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.DBus.ObjectManager")
public:
    void Set(const FakeAccount& a)
    {
        QMutexLocker lock(&mutex_);
        account_ = a;
    }
public Q_SLOTS:
    ObjectMap GetManagedObjects()
    {
        QMutexLocker lock(&mutex_);
        InterfaceMap interfaces;
        interfaces[QStringLiteral("org.gnome.OnlineAccounts.Account")] = {
            {QStringLiteral("ProviderType"), QStringLiteral("google")},
            {QStringLiteral("MailDisabled"), account_.mailDisabled},
            {QStringLiteral("AttentionNeeded"), account_.attentionNeeded}};
        interfaces[QStringLiteral("org.gnome.OnlineAccounts.Mail")] = {
            {QStringLiteral("EmailAddress"), account_.address},
            {QStringLiteral("ImapHost"), QStringLiteral("imap.gmail.com")}};
        if (account_.oauth2) interfaces[QStringLiteral("org.gnome.OnlineAccounts.OAuth2Based")] = {};
        // A second account that is no mail account at all.
        InterfaceMap other{{QStringLiteral("org.gnome.OnlineAccounts.Account"),
                            {{QStringLiteral("ProviderType"), QStringLiteral("owncloud")}}}};
        return {{QDBusObjectPath(kAccountPath), interfaces},
                {QDBusObjectPath(QStringLiteral("/org/gnome/OnlineAccounts/Accounts/account_2")), other}};
    }

private:
    QMutex mutex_;
    FakeAccount account_;
};

class tst_online_accounts : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void accountChosen_data();
    void accountChosen();
    void freshTokenAtEveryAsk();
    void credentialSourceAsksEveryConnection();
    void cleanupTestCase();

private:
    QThread thread_;
    FakeObjectManager manager_;
    FakeOAuth2Based tokens_;
};

void tst_online_accounts::initTestCase()
{
    QVERIFY(!KeyringSession::Mode().isEmpty()); // a private bus
    QCOMPARE(OnlineAccounts::AccessTokenFor(QStringLiteral("taro@gmail.com"), 3000).status, Status::NoService);

    qDBusRegisterMetaType<InterfaceMap>();
    qDBusRegisterMetaType<ObjectMap>();
    // The fake answers on a connection and a thread of its own, so calls cross the bus.
    manager_.moveToThread(&thread_);
    tokens_.moveToThread(&thread_);
    thread_.start();
    QDBusConnection fake = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-goa"));
    QVERIFY(
        fake.registerObject(QStringLiteral("/org/gnome/OnlineAccounts"), &manager_, QDBusConnection::ExportAllSlots));
    QVERIFY(fake.registerObject(kAccountPath, &tokens_, QDBusConnection::ExportAllSlots));
    QVERIFY(fake.registerService(kService));
}

void tst_online_accounts::accountChosen_data()
{
    QTest::addColumn<QString>("asked");
    QTest::addColumn<bool>("oauth2");
    QTest::addColumn<bool>("mailDisabled");
    QTest::addColumn<bool>("attention");
    QTest::addColumn<Status>("expected");
    QTest::newRow("same address") << "taro@gmail.com" << true << false << false << Status::Ok;
    QTest::newRow("address in other case") << "Taro@Gmail.com" << true << false << false << Status::Ok;
    QTest::newRow("other address") << "hanako@gmail.com" << true << false << false << Status::NoAccount;
    QTest::newRow("mail turned off there") << "taro@gmail.com" << true << true << false << Status::NoAccount;
    QTest::newRow("password account") << "taro@gmail.com" << false << false << false << Status::NoAccount;
    QTest::newRow("needs the user's attention") << "taro@gmail.com" << true << false << true << Status::NotAuthorized;
}

void tst_online_accounts::accountChosen()
{
    QFETCH(QString, asked);
    QFETCH(bool, oauth2);
    QFETCH(bool, mailDisabled);
    QFETCH(bool, attention);
    QFETCH(Status, expected);
    manager_.Set({QStringLiteral("taro@gmail.com"), oauth2, mailDisabled, attention});
    const OnlineAccounts::Token t = OnlineAccounts::AccessTokenFor(asked);
    QCOMPARE(t.status, expected);
    QCOMPARE(t.accessToken.startsWith(QStringLiteral("goa-token-")), expected == Status::Ok);
    QCOMPARE(t.expiresInSeconds, expected == Status::Ok ? 3600 : 0);
}

void tst_online_accounts::freshTokenAtEveryAsk()
{
    manager_.Set({});
    const int before = tokens_.calls;
    const QString first = OnlineAccounts::AccessTokenFor(QStringLiteral("taro@gmail.com")).accessToken;
    const QString second = OnlineAccounts::AccessTokenFor(QStringLiteral("taro@gmail.com")).accessToken;
    QCOMPARE(tokens_.calls, before + 2);
    QVERIFY(first != second);
}

void tst_online_accounts::credentialSourceAsksEveryConnection()
{
    // A Gmail account with an empty password and no keyring item signs in with GOA's token,
    // asked anew before each connection (the renewed token is the one used).
    manager_.Set({});
    const maillib::CredentialSource source = signin::MakeCredentialSource(QString());
    const maillib::CredentialRequest request{"pop.gmail.com", "taro@gmail.com", false};
    for (int i = 0; i < 3; ++i) {
        const int before = tokens_.calls;
        // As a pool worker asks: a thread of its own, without an event loop.
        maillib::Credential c;
        std::thread([&] { c = source(request); }).join();
        QCOMPARE(c.kind, maillib::Credential::Kind::Bearer);
        QCOMPARE(QString::fromStdString(c.secret), QStringLiteral("goa-token-%1").arg(before + 1));
    }
    // An account GOA does not know, on a host that is no OAuth2 provider's, is not asked for.
    const int before = tokens_.calls;
    QCOMPARE(source({"pop.example.jp", "taro@gmail.com", false}).kind, maillib::Credential::Kind::None);
    QCOMPARE(tokens_.calls, before);
}

void tst_online_accounts::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-goa"));
    thread_.quit();
    thread_.wait();
}

QTEST_GUILESS_MAIN(tst_online_accounts)
#include "tst_online_accounts.moc"
