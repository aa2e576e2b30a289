#include "controller/AccountStatusBoard.h"

#include <QMap>
#include <QTest>

using Kind = maillib::AccountStatus::Kind;

namespace {

const QDateTime kStart(QDate(2026, 12, 7), QTime(10, 0));
constexpr int kStepMinutes = 5;

const QMap<QString, Kind> kKinds{
    {"Ok", Kind::Ok},
    {"NotConfigured", Kind::NotConfigured},
    {"CertificateNotTrusted", Kind::CertificateNotTrusted},
    {"LoginRefused", Kind::LoginRefused},
    {"CannotConnect", Kind::CannotConnect},
    {"TimedOut", Kind::TimedOut},
    {"ServerError", Kind::ServerError},
    {"NoStls", Kind::NoStls},
    {"Waiting", Kind::Waiting},
    {"Cancelled", Kind::Cancelled},
    {"DiskFull", Kind::DiskFull},
    {"NoMailbox", Kind::NoMailbox},
};

// Account 1 is named, the others are not.
QString nameOf(int number) { return number == 1 ? QStringLiteral("仕事") : QString(); }

// "1:LoginRefused 3:Waiting+20": account:kind, +N is the wait in minutes from the check.
QList<AccountStatusBoard::Check> parseStep(const QString& step, const QDateTime& at)
{
    QList<AccountStatusBoard::Check> checks;
    for (const QString& item : step.split(u' ', Qt::SkipEmptyParts)) {
        const int number = item.section(u':', 0, 0).toInt();
        const QString rest = item.section(u':', 1);
        AccountStatusBoard::Check c;
        c.number = number;
        c.name = nameOf(number);
        c.status.kind = kKinds.value(rest.section(u'+', 0, 0));
        c.status.text = "pop3s://mail.example.jp user" + std::to_string(number);
        if (rest.contains(u'+'))
            c.status.waitUntil = std::chrono::system_clock::time_point(
                std::chrono::milliseconds(at.addSecs(60 * rest.section(u'+', 1).toInt()).toMSecsSinceEpoch()));
        checks << c;
    }
    return checks;
}

} // namespace

class TestAccountStatusBoard : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void checksOverTime_data();
    void checksOverTime();
    void logLinesAreOneSafeLineEach();
};

void TestAccountStatusBoard::checksOverTime_data()
{
    QTest::addColumn<QStringList>("steps");    // one check each, 5 minutes apart from 10:00
    QTest::addColumn<QString>("tooltip");      // after the last step, below "Ferrowick"
    QTest::addColumn<QStringList>("notified"); // every notification: "!" failure, "+" anything else
    QTest::addColumn<int>("logLines");

    const QString login = QStringLiteral("ログインできません（ユーザー名かパスワードが違います）");
    QTest::newRow("all work") << QStringList{"1:Ok 2:NotConfigured"} << "最終確認 10:00:00" << QStringList{} << 0;
    QTest::newRow("failure at the first check") << QStringList{"1:LoginRefused"} << "仕事: " + login + "（10:00 から）"
                                                << QStringList{"!仕事: 受信できません"} << 1;
    QTest::newRow("full disk") << QStringList{"1:DiskFull"} << "仕事: ディスクに空きがありません（10:00 から）"
                               << QStringList{"!仕事: 受信できません"} << 1;
    QTest::newRow("no such IMAP mailbox")
        << QStringList{"1:NoMailbox"} << "仕事: サーバーに指定のメールボックスがありません（10:00 から）"
        << QStringList{"!仕事: 受信できません"} << 1;
    QTest::newRow("failing on: one notification, one log line")
        << QStringList{"1:CannotConnect", "1:CannotConnect", "1:CannotConnect"}
        << "仕事: サーバーに接続できません（10:00 から）" << QStringList{"!仕事: 受信できません"} << 1;
    QTest::newRow("recovery: one notification")
        << QStringList{"1:TimedOut", "1:TimedOut", "1:Ok", "1:Ok"} << "最終確認 10:15:00"
        << QStringList{"!仕事: 受信できません", "+仕事: 受信できるようになりました"} << 2;
    QTest::newRow("another reason while failing is logged, not notified")
        << QStringList{"1:CannotConnect", "1:TimedOut", "1:CannotConnect", "1:TimedOut"}
        << "仕事: サーバーが応答しません（10:00 から）" << QStringList{"!仕事: 受信できません"} << 2;
    QTest::newRow("back-off after a failure keeps the reason")
        << QStringList{"1:LoginRefused", "1:Waiting+20"} << "仕事: " + login + "（10:00 から、10:25:00 に再試行）"
        << QStringList{"!仕事: 受信できません"} << 2;
    QTest::newRow("failing again after the back-off: the old retry time goes")
        << QStringList{"1:LoginRefused", "1:Waiting+20", "1:TimedOut"} << "仕事: サーバーが応答しません（10:00 から）"
        << QStringList{"!仕事: 受信できません"} << 3;
    QTest::newRow("pause between logins is no failure")
        << QStringList{"1:Ok", "1:Waiting+30", "1:Waiting+25", "1:Ok"} << "最終確認 10:15:00" << QStringList{} << 0;
    QTest::newRow("waiting at the first check is no failure")
        << QStringList{"1:Waiting+5"} << "最終確認 10:00:00" << QStringList{} << 0;
    const QString noAccount = QStringLiteral("アカウントが設定されていません（右クリック →「プロパティ」）");
    QTest::newRow("no account: said in the tooltip, notified once")
        << QStringList{"1:NotConfigured 2:NotConfigured", "1:NotConfigured"} << noAccount
        << QStringList{"+アカウントが設定されていません"} << 0;
    QTest::newRow("no account after a cancelled first check: notified once")
        << QStringList{"1:Cancelled", "1:NotConfigured", "1:NotConfigured"} << noAccount
        << QStringList{"+アカウントが設定されていません"} << 0;
    QTest::newRow("removed while failing is dropped without a notification")
        << QStringList{"1:ServerError", "1:NotConfigured"} << noAccount << QStringList{"!仕事: 受信できません"} << 1;
    QTest::newRow("cancelled keeps the failure")
        << QStringList{"1:NoStls", "1:Cancelled"}
        << "仕事: 暗号化（STLS・STARTTLS）に対応していないサーバーです（10:00 から）"
        << QStringList{"!仕事: 受信できません"} << 1;
    QTest::newRow("cancelled check is no check")
        << QStringList{"1:Ok", "1:Cancelled"} << "最終確認 10:00:00" << QStringList{} << 0;
    QTest::newRow("failing again after a recovery starts afresh")
        << QStringList{"1:LoginRefused", "1:Ok", "1:LoginRefused"} << "仕事: " + login + "（10:10 から）"
        << QStringList{"!仕事: 受信できません", "+仕事: 受信できるようになりました", "!仕事: 受信できません"} << 3;
    QTest::newRow("accounts in number order, unnamed ones labelled")
        << QStringList{"3:CertificateNotTrusted 1:Ok 2:Ok", "1:ServerError 2:Ok 3:CertificateNotTrusted"}
        << "仕事: サーバーがエラーを返しました（10:05 から）\nアカウント③: 証明書を確認できません（10:00 から）"
        << QStringList{"!アカウント③: 受信できません", "!仕事: 受信できません"} << 2;
    QTest::newRow("one account recovers, another still fails")
        << QStringList{"1:TimedOut 2:CannotConnect", "1:Ok 2:CannotConnect"}
        << "アカウント②: サーバーに接続できません（10:00 から）"
        << QStringList{"!仕事: 受信できません", "!アカウント②: 受信できません", "+仕事: 受信できるようになりました"}
        << 3;
}

void TestAccountStatusBoard::checksOverTime()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, tooltip);
    QFETCH(QStringList, notified);
    QFETCH(int, logLines);

    AccountStatusBoard board(QStringLiteral("Ferrowick"));
    QStringList seen;
    int logged = 0;
    for (int i = 0; i < steps.size(); ++i) {
        const QDateTime at = kStart.addSecs(60 * kStepMinutes * i);
        const AccountStatusBoard::Changes changes = board.Record(parseStep(steps[i], at), at);
        for (const auto& n : changes.notifications) {
            seen << (n.failure ? u'!' : u'+') + n.title;
            QVERIFY(!n.text.isEmpty());
        }
        logged += static_cast<int>(changes.logLines.size());
    }
    QCOMPARE(board.ToolTip(), QStringLiteral("Ferrowick\n") + tooltip);
    QCOMPARE(board.Warning(), tooltip.contains(QStringLiteral(" から")));
    QCOMPARE(seen, notified);
    QCOMPARE(logged, logLines);
}

void TestAccountStatusBoard::logLinesAreOneSafeLineEach()
{
    AccountStatusBoard board(QStringLiteral("Ferrowick"));
    AccountStatusBoard::Check c;
    c.number = 2;
    c.name = QStringLiteral("個人");
    c.status.kind = Kind::ServerError;
    c.status.text = "pop3s://mail.example.jp user: \r\n-ERR \x1b[2J\xc2\x85 busy";
    const auto changes = board.Record({c}, kStart);
    QCOMPARE(changes.logLines.size(), 1);
    const QString line = changes.logLines.constFirst();
    QVERIFY2(line.startsWith(
                 QStringLiteral("アカウント 2「個人」: サーバーがエラーを返しました — pop3s://mail.example.jp user:")),
             qPrintable(line));
    for (QChar ch : line)
        QVERIFY2(ch.unicode() >= 0x20 && (ch.unicode() < 0x7f || ch.unicode() > 0x9f), qPrintable(line));
    QVERIFY(line.endsWith(QStringLiteral("busy")));
}

QTEST_GUILESS_MAIN(TestAccountStatusBoard)
#include "tst_account_status_board.moc"
