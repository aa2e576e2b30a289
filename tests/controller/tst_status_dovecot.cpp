// The account status end to end: the controller with the real mail library and its pool of
// check threads against a real dovecot (tests/fixtures/dovecot-fixture); a fake host stands in
// for the tray and captures its tooltip, picture and notifications.
#include "controller/RealMailLibrary.h"
#include "maillib/MailLibInternal.h"
#include "platform/AppLog.h"
#include "tests/common/DovecotFixture.h"
#include "tests/controller/ControllerFixture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kLogin = QStringLiteral("ログインできません（ユーザー名かパスワードが違います）");

} // namespace

class TestStatusDovecot : public QObject, private ControllerFixture<RealMailLibrary> {
    Q_OBJECT

    QMap<QString, QString> env_;
    // One program folder for both runs, as for a user who restarts the program.
    QTemporaryDir folder_;

    QString maildata() const { return folder_.filePath(QStringLiteral("maildata")); }
    // The controller with the real library, its checks on a pool; the clock at `now`.
    void startRun(const QDateTime& now)
    {
        Options run;
        run.poolThreads = 5;
        run.now = now;
        run.programFolder = folder_.path();
        SetUp([] { return std::make_unique<RealMailLibrary>(); }, run);
    }
    void writeSettings(const QString& password)
    {
        writeSettingsFile(QStringLiteral("[POP]\nPOP_SERVER1=pop3s://127.0.0.1:%1\nUSER1=user2\nPASS1=%2\nNAME1=仕事#\n"
                                         "[MAIL_REV]\nREV_TIMER_MIN=600\n")
                              .arg(env_[QStringLiteral("POP3S_PORT")], password)
                              .toUtf8());
    }
    // The server's own password for user2.
    void setServerPassword(const QString& password)
    {
        QVERIFY(DovecotFixture::SetPassword(QStringLiteral("user2"), password));
    }
    int mailsOnServer() const
    {
        const QString maildir = env_[QStringLiteral("MAIL_ROOT")] + QStringLiteral("/user2/Maildir/");
        return static_cast<int>(QDir(maildir + QStringLiteral("cur")).entryList(QDir::Files).size() +
                                QDir(maildir + QStringLiteral("new")).entryList(QDir::Files).size());
    }

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void cleanup() { TearDown(); }
    void wrongPasswordThenServerRecovers();
    void restartWithTheFixedPassword();
};

void TestStatusDovecot::initTestCase()
{
    env_ = DovecotFixture::Env();
    QVERIFY2(!env_.isEmpty(), "the dovecot fixture is not running (see controller_status_dovecot_start)");
    QVERIFY(QDir().mkpath(maildata() + QStringLiteral("/INI")));
    QVERIFY(QFile::copy(env_[QStringLiteral("CA_FILE")], maildata() + QStringLiteral("/INI/cacert.pem")));
    QVERIFY(DovecotFixture::DeliverDemoMails(QStringLiteral("user2"), 2));
    QVERIFY(mailsOnServer() >= 2);
    setServerPassword(QStringLiteral("pass2"));
    // A failed account is tried again at the next check, not half a minute later.
    maillib::internal::Limits limits = maillib::internal::GetLimits();
    limits.backoffBase = limits.backoffMax = std::chrono::milliseconds(0);
    maillib::internal::SetLimits(limits);
    maillib::SetLogSink(&AppLog::Warn);
}

void TestStatusDovecot::cleanupTestCase()
{
    maillib::SetLogSink({});
    AppLog::SetPath(QString());
}

void TestStatusDovecot::wrongPasswordThenServerRecovers()
{
    startRun(QDateTime(QDate(2026, 12, 7), QTime(10, 0, 0)));
    writeSettings(QStringLiteral("typed-wrong"));
    TestClock& clock = *clock_;
    FakeHost& host = *host_;
    ResidentController& ctl = *ctl_;

    ctl.Form_Load(folder_.path());
    QTRY_VERIFY_WITH_TIMEOUT(!host.trayTip.isEmpty(), 40000);
    QCOMPARE(host.trayTip, QStringLiteral("Ferrowick\n仕事: ") + kLogin + QStringLiteral("（10:00 から）"));
    QVERIFY(host.warningIcon);
    QCOMPARE(host.notifications, QStringList{QStringLiteral("!仕事: 受信できません|") + kLogin});
    QCOMPARE(mM_CHKER::MailCount, 0);

    // Still failing: the same tooltip, no second notification, no second line in the log.
    clock.advance(60);
    host.trayTip.clear();
    ctl.mnuRev_Click();
    QTRY_VERIFY_WITH_TIMEOUT(!host.trayTip.isEmpty(), 40000);
    QCOMPARE(ctl.LastStatus(1).kind, maillib::AccountStatus::Kind::LoginRefused);
    QCOMPARE(host.trayTip, QStringLiteral("Ferrowick\n仕事: ") + kLogin + QStringLiteral("（10:00 から）"));
    QCOMPARE(host.notifications.size(), 1);
    QCOMPARE(appLog().count(QStringLiteral("アカウント 1「仕事」: ") + kLogin), 1);

    // The server comes to accept the password the settings hold.
    setServerPassword(QStringLiteral("typed-wrong"));
    clock.advance(60);
    host.trayTip.clear();
    ctl.mnuRev_Click();
    QTRY_VERIFY_WITH_TIMEOUT(!host.trayTip.isEmpty(), 40000);
    QCOMPARE(host.trayTip, QStringLiteral("Ferrowick\n最終確認 10:02:00"));
    QVERIFY(!host.warningIcon);
    QCOMPARE(host.notifications.size(), 2);
    QVERIFY(host.notifications[1].startsWith(QStringLiteral("+仕事: 受信できるようになりました|")));
    QCOMPARE(mM_CHKER::MailCount, mailsOnServer());

    const QString text = appLog();
    QVERIFY(text.contains(QStringLiteral("アカウント 1「仕事」: 復旧しました")));
    // The library's own failure line is there too; no password anywhere.
    QVERIFY2(text.contains(QStringLiteral("user2")) && text.count(u'\n') >= 3, qPrintable(text));
    QVERIFY(!text.contains(QStringLiteral("typed-wrong")));
    setServerPassword(QStringLiteral("pass2"));
}

void TestStatusDovecot::restartWithTheFixedPassword()
{
    // The file now holds the right password; a new run starts with everything working.
    startRun(QDateTime(QDate(2026, 12, 7), QTime(10, 5, 0)));
    writeSettings(QStringLiteral("pass2"));
    FakeHost& host = *host_;
    ResidentController& ctl = *ctl_;
    ctl.Form_Load(folder_.path());
    QTRY_VERIFY_WITH_TIMEOUT(!host.trayTip.isEmpty(), 40000);
    QVERIFY2(host.trayTip.startsWith(QStringLiteral("Ferrowick\n最終確認 ")), qPrintable(host.trayTip));
    QVERIFY(!host.warningIcon);
    QCOMPARE(host.notifications, QStringList());
    QCOMPARE(mM_CHKER::MailCount, mailsOnServer());
}

QTEST_GUILESS_MAIN(TestStatusDovecot)
#include "tst_status_dovecot.moc"
