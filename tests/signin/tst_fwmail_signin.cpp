// fwmail password and fwmail login, run as the user runs them, with a real keyring on a private
// bus (tests/fixtures/keyring-session unlocked) and the fake authorisation server; the browser
// is curl following the redirect, named in $BROWSER.
#include "signin/AccountSecrets.h"
#include "tests/common/FakeOAuthServer.h"
#include "tests/common/FileContents.h"
#include "tests/common/KeyringSession.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QByteArray kFilePassword = "file-pw-51d2";
const QByteArray kNewPassword = "keyring-pw-8c4e";
const QString kOAuthHost = QStringLiteral("mail.test.invalid");
} // namespace

class tst_fwmail_signin : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void runs_data();
    void runs();
    void cleanupTestCase();

private:
    QString ini() const { return dir_.filePath(QStringLiteral("maildata/INI/maildata.ini")); }

    QTemporaryDir dir_;
    std::unique_ptr<FakeOAuthServer> server_;
    QString providers_;
    QByteArray everythingSaid_;
};

void tst_fwmail_signin::initTestCase()
{
    QCOMPARE(KeyringSession::Mode(), QStringLiteral("unlocked"));
    server_ = std::make_unique<FakeOAuthServer>(QStringLiteral("fwmail-client"));
    QVERIFY(server_->IsRunning());
    providers_ = dir_.filePath(QStringLiteral("providers.ini"));
    QFile p(providers_);
    QVERIFY(p.open(QIODevice::WriteOnly));
    p.write(server_->ProviderSection(QStringLiteral("testmail"), kOAuthHost, QStringLiteral("fwmail-client")).toUtf8());
}

void tst_fwmail_signin::runs_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("control");
    QTest::addColumn<bool>("noBus");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said");       // in stdout or stderr
    QTest::addColumn<bool>("passwordMoved"); // PASS1 emptied, the keyring holds the new password
    QTest::addColumn<bool>("grantKept");
    const QStringList password{"password", "--account", "1"};
    const QStringList login{"login", "--account", "2"};
    QTest::newRow("password without a keyring") << password << kNewPassword + "\n"
                                                << QByteArray() << true << 1 << "no keyring" << false << false;
    QTest::newRow("password, empty input")
        << password << QByteArray("\n") << QByteArray() << false << 1 << "no password" << false << false;
    QTest::newRow("password, account not set up") << QStringList{"password", "--account", "4"} << kNewPassword
                                                  << QByteArray() << false << 1 << "not configured" << false << false;
    QTest::newRow("password, no account")
        << QStringList{"password"} << kNewPassword << QByteArray() << false << 2 << "--account" << false << false;
    QTest::newRow("password moves into the keyring") << password << kNewPassword + "\r\n"
                                                     << QByteArray() << false << 0 << "PASS1" << true << false;
    QTest::newRow("login, user declines")
        << login << QByteArray() << QByteArray("deny=1") << false << 1 << "declined" << true << false;
    QTest::newRow("login, no OAuth2 host") << QStringList{"login", "--account", "1"} << QByteArray() << QByteArray()
                                           << false << 1 << "no OAuth2" << true << false;
    QTest::newRow("login") << login << QByteArray() << QByteArray("deny=0") << false << 0
                           << "Opening http://127.0.0.1:" << true << true;
}

void tst_fwmail_signin::runs()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, control);
    QFETCH(bool, noBus);
    QFETCH(int, exitCode);
    QFETCH(QString, said);
    QFETCH(bool, passwordMoved);
    QFETCH(bool, grantKept);
    // Rows run in order: the file is written once, and later rows see what earlier ones did.
    if (!QFile::exists(ini())) {
        QVERIFY(QDir().mkpath(dir_.filePath(QStringLiteral("maildata/INI"))));
        QFile f(ini());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[POP]\nPOP_SERVER1=pop.example.jp\nUSER1=taro\nPASS1=" + kFilePassword +
                "\nNAME1=仕事#\nPOP_SERVER2=" + kOAuthHost.toUtf8() + "\nUSER2=hanako@test.invalid\nPASS2=\n");
    }
    if (!control.isEmpty()) QVERIFY(server_->Control(control));
    const QByteArray before = readAll(ini());

    QProcess fwmail;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FERROWICK_OAUTH_PROVIDERS"), providers_);
    env.insert(QStringLiteral("BROWSER"), QStringLiteral("curl -sL -o /dev/null %s"));
    if (noBus) env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
    fwmail.setProcessEnvironment(env);
    fwmail.start(qEnvironmentVariable("FW_FWMAIL"), args + QStringList{"--folder", dir_.path()});
    QVERIFY(fwmail.waitForStarted());
    fwmail.write(input);
    fwmail.closeWriteChannel();
    QVERIFY(fwmail.waitForFinished(60000));
    const QByteArray out = fwmail.readAllStandardOutput() + fwmail.readAllStandardError();
    everythingSaid_ += out;
    QVERIFY2(fwmail.exitCode() == exitCode, out.constData());
    QVERIFY2(out.contains(said.toUtf8()), out.constData());

    const QByteArray after = readAll(ini());
    const bool moved = after.contains("PASS1=\n") && !after.contains(kFilePassword);
    QCOMPARE(moved, passwordMoved);
    if (!moved) QCOMPARE(after, before); // a refusal leaves the file as it was
    QVERIFY(after.contains("NAME1=仕事#") && after.contains("USER2=hanako@test.invalid"));
    const signin::AccountId first{QStringLiteral("pop.example.jp"), QStringLiteral("taro")};
    QCOMPARE(signin::ReadPassword(first).secret, passwordMoved ? QString::fromLatin1(kNewPassword) : QString());
    const signin::AccountId second{kOAuthHost, QStringLiteral("hanako@test.invalid")};
    QCOMPARE(signin::ReadGrant(second).status, grantKept ? Keyring::Status::Ok : Keyring::Status::NotFound);
}

void tst_fwmail_signin::cleanupTestCase()
{
    QStringList secrets = server_->Issued();
    secrets << QString::fromLatin1(kNewPassword) << QString::fromLatin1(kFilePassword);
    for (const QString& s : secrets) {
        QVERIFY2(!everythingSaid_.contains(s.toUtf8()), qPrintable(QStringLiteral("fwmail said a secret")));
        if (s != QString::fromLatin1(kFilePassword)) // the file held that one before the move
            QCOMPARE(KeyringSession::FilesHolding(dir_.path(), s.toUtf8()), QStringList());
    }
    QCOMPARE(KeyringSession::FilesHolding(dir_.path(), kFilePassword), QStringList());
    server_.reset();
}

QTEST_GUILESS_MAIN(tst_fwmail_signin)
#include "tst_fwmail_signin.moc"
