// What the tray says about the accounts after each check: tooltip, picture, notifications, log.
#include "platform/AppLog.h"
#include "tests/controller/ControllerFixture.h"

#include <QFile>
#include <QTest>

using Kind = maillib::AccountStatus::Kind;

namespace {
maillib::AccountStatus status(Kind kind, const std::string& text = {})
{
    maillib::AccountStatus s;
    s.kind = kind;
    s.text = text;
    return s;
}
} // namespace

class TestTrayStatus : public QObject, private ControllerFixture<ScriptedMail> {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { TearDown(); }
    void failureAndRecoveryReachTheTray();
    void lockedKeyringGoesOnOnceOpen();
};

void TestTrayStatus::failureAndRecoveryReachTheTray()
{
    Options at;
    at.now = QDateTime(QDate(2026, 12, 7), QTime(9, 30, 0));
    SetUp([this] { return std::make_unique<ScriptedMail>(journal_); }, at);
    TestClock& clock = *clock_;
    FakeHost& host = *host_;
    ScriptedMail& mail = *mail_;
    ResidentController& ctl = *ctl_;
    const QString maildata = mailDir();
    writeSettingsFile(
        "[POP]\nPOP_SERVER1=pop1\nUSER1=u1\nPASS1=secret-pw\nNAME1=仕事#\nPOP_SERVER2=pop2\nUSER2=u2\nPASS2="
        "p2\nNAME2=#\n");
    mail.statuses[QStringLiteral("pop1")] = status(Kind::LoginRefused, "pop3s://pop1 u1: -ERR auth failed");

    ctl.Form_Load(programFolder());
    const QString login = QStringLiteral("ログインできません（ユーザー名かパスワードが違います）");
    QCOMPARE(host.trayTip, QStringLiteral("Ferrowick\n仕事: ") + login + QStringLiteral("（09:30 から）"));
    QCOMPARE(mM_CHKER::TrayIcon.tip, host.trayTip);
    QVERIFY(host.warningIcon);
    QCOMPARE(host.notifications, QStringList{QStringLiteral("!仕事: 受信できません|") + login});

    // Failing on: no new notification, no new log line.
    clock.advance(60);
    ctl.mnuRev_Click();
    clock.advance(60);
    ctl.mnuRev_Click();
    QCOMPARE(host.notifications.size(), 1);
    QVERIFY(host.trayTip.endsWith(QStringLiteral("（09:30 から）")));

    mail.statuses.remove(QStringLiteral("pop1"));
    clock.advance(60);
    ctl.mnuRev_Click();
    QCOMPARE(host.trayTip, QStringLiteral("Ferrowick\n最終確認 09:33:00"));
    QVERIFY(!host.warningIcon);
    QCOMPARE(host.notifications.size(), 2);
    QVERIFY(host.notifications[1].startsWith(QStringLiteral("+仕事: 受信できるようになりました|")));

    QFile log(maildata + QStringLiteral("/Dat/ferrowick.log"));
    QCOMPARE(AppLog::Path(), log.fileName());
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].endsWith(QStringLiteral("アカウント 1「仕事」: ") + login +
                               QStringLiteral(" — pop3s://pop1 u1: -ERR auth failed")),
             qPrintable(lines[0]));
    QVERIFY(lines[1].endsWith(QStringLiteral("アカウント 1「仕事」: 復旧しました")));
    for (const QString& line : lines) QVERIFY(!line.contains(QStringLiteral("secret-pw")));
}

void TestTrayStatus::lockedKeyringGoesOnOnceOpen()
{
    SetUp([this] { return std::make_unique<ScriptedMail>(journal_); });
    ScriptedMail& mail = *mail_;
    ResidentController& ctl = *ctl_;
    writeSettingsFile("[POP]\nPOP_SERVER1=pop1\nUSER1=u1\nPASS1=\nNAME1=仕事#\n");
    maillib::AccountStatus locked = status(Kind::NoCredential);
    locked.fault = maillib::Credential::Fault::KeyringLocked;
    mail.statuses[QStringLiteral("pop1")] = locked;
    const auto checks = [this] { return journal_.entries.filter(QStringLiteral("rcv:pop1|")).size(); };

    ctl.Form_Load(programFolder());
    QCOMPARE(checks(), 1);
    QCOMPARE(host_->trayTip, QStringLiteral("Ferrowick\n仕事: 鍵束がロックされています（") +
                                 clock_->now().toString(QStringLiteral("HH:mm")) + QStringLiteral(" から）"));
    // Still locked: the ticks ask the keyring, not the server.
    ctl.Timer1_Timer();
    ctl.Timer1_Timer();
    QCOMPARE(checks(), 1);
    QCOMPARE(mail.keyringAsks, 2);
    // Unlocked: the next tick checks, well before the interval is over.
    mail.keyringOpen = true;
    mail.statuses.remove(QStringLiteral("pop1"));
    ctl.Timer1_Timer();
    QCOMPARE(checks(), 2);
    QVERIFY2(host_->trayTip.startsWith(QStringLiteral("Ferrowick\n最終確認")), qPrintable(host_->trayTip));
    // Nothing waits for the keyring any more.
    ctl.Timer1_Timer();
    QCOMPARE(mail.keyringAsks, 3);
    QCOMPARE(host_->notifications.size(), 2); // failing, working again
}

QTEST_GUILESS_MAIN(TestTrayStatus)
#include "tst_tray_status.moc"
