// The settings dialog's 「接続テスト」 against a real dovecot (tests/fixtures/dovecot-fixture).
#include "tests/common/DovecotFixture.h"
#include "maillib/MailLib.h"
#include "platform/ProfileIni.h"
#include "settings/ui/fM_PALAM.h"
#include "settings/mReadINI.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>
#include <QtTest>

namespace {

// Every file below `folder`, with its size, so that "wrote nothing" can be compared.
QStringList listing(const QString& folder)
{
    QStringList out;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        out << QDir(folder).relativeFilePath(it.filePath()) + u' ' + QString::number(it.fileInfo().size());
    }
    out.sort();
    return out;
}

} // namespace

class TestConnectionTest : public QObject {
    Q_OBJECT

    QMap<QString, QString> env_;
    QTemporaryDir dir_;
    QString tmp_;

    QString maildata() const { return dir_.filePath(QStringLiteral("maildata")); }
    QString caFile() const { return maildata() + QStringLiteral("/INI/cacert.pem"); }
    // "$POP3_PORT" and "$POP3S_PORT" in `text` become the fixture's ports.
    QString withPorts(QString text) const
    {
        for (const char* port : {"POP3S_PORT", "POP3_PORT", "IMAPS_PORT", "IMAP_PORT"})
            text.replace(u'$' + QLatin1String(port), env_[QLatin1String(port)]);
        return text;
    }

    struct Outcome {
        QString shown;
        int boxes = 0;
        bool disabledWhileRunning = false;
        bool enabledWhenShown = false; // the button, when the answer came
        int ticks = 0;                 // of a 1 ms timer while the test ran
    };
    // Types the account into a fresh dialog, clicks 「接続テスト」 twice and answers the box.
    Outcome runTest(const QString& user, const QString& password,
                    const QString& server = QStringLiteral("pop3s://127.0.0.1:$POP3S_PORT"))
    {
        fM_PALAM d;
        d.show();
        d.findChild<QLineEdit*>(QStringLiteral("popServer_0"))->setText(withPorts(server));
        d.findChild<QLineEdit*>(QStringLiteral("popServer_1"))->setText(user);
        d.findChild<QLineEdit*>(QStringLiteral("popServer_2"))->setText(password);
        auto* test = d.findChild<QWidget*>(QStringLiteral("TestLabel"));

        // The event loop keeps running while the server is asked.
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
        ticker.start(1);

        QTest::mouseClick(test, Qt::LeftButton);
        const bool disabled = !test->isEnabled();
        QTest::mouseClick(test, Qt::LeftButton); // ignored while one runs

        // The answer comes in a modal box with its own event loop: answer it from a timer.
        QString shown;
        int boxes = 0;
        bool enabledWhenShown = false;
        QTimer answer;
        connect(&answer, &QTimer::timeout, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible()) return;
            ++boxes;
            shown = box->text();
            enabledWhenShown = test->isEnabled();
            box->buttons().constFirst()->click();
        });
        answer.start(5);
        (void)QTest::qWaitFor([&] { return boxes > 0; }, 40000);
        // Exactly one answer, even for the second click.
        QTest::qWait(300);
        return {shown, boxes, disabled, enabledWhenShown, ticks};
    }

private Q_SLOTS:
    void initTestCase();
    // The tests ran on Qt's shared pool: its threads end here, while OpenSSL can still free
    // what it keeps per thread.
    void cleanupTestCase() { QThreadPool::globalInstance()->waitForDone(); }
    void buttonSitsInTheFreeCorner();
    void testsTheAccountAsTyped_data();
    void testsTheAccountAsTyped();
    void correctedPasswordIsTriedAtOnce();
    void successEndsTheResidentsWait();
};

void TestConnectionTest::initTestCase()
{
    env_ = DovecotFixture::Env();
    QVERIFY2(!env_.isEmpty(), "the dovecot fixture is not running (see settings_ui_dovecot_start)");
    QVERIFY(QDir(dir_.path()).mkpath(QStringLiteral("maildata/INI")));
    QVERIFY(QDir(dir_.path()).mkpath(QStringLiteral("tmp")));
    mReadINI::MailDir = maildata();
    mReadINI::IniPath = maildata() + QStringLiteral("/INI/maildata.ini");
    // The saved account differs from the one typed: the test must use the boxes.
    QFile ini(mReadINI::IniPath);
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[POP]\nPOP_SERVER1=saved.invalid\nUSER1=saved\nPASS1=saved\nNAME1=saved#\n");
    ini.close();
    // Our own temporary folder, to see that the test leaves nothing in it.
    tmp_ = dir_.filePath(QStringLiteral("tmp"));
    qputenv("TMPDIR", QFile::encodeName(tmp_));

    QVERIFY(DovecotFixture::DeliverDemoMails(QStringLiteral("user3"), 2));
}

void TestConnectionTest::buttonSitsInTheFreeCorner()
{
    fM_PALAM d;
    d.show();
    auto* test = d.findChild<QWidget*>(QStringLiteral("TestLabel"));
    QVERIFY(test);
    QVERIFY(d.rect().contains(test->geometry()));
    for (QWidget* other : d.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (other == test || !other->isVisibleTo(&d)) continue;
        QVERIFY2(!other->geometry().intersects(test->geometry()), qPrintable(other->objectName()));
    }
}

void TestConnectionTest::testsTheAccountAsTyped_data()
{
    // A user each, so that one row's failure cannot hold back the next.
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("trusted"); // maildata/INI/cacert.pem holds the server's CA
    QTest::addColumn<QString>("message");
    const QString tls = QStringLiteral("pop3s://127.0.0.1:$POP3S_PORT");
    // %1: the mails in the box (two delivered here, more if the server was used before).
    QTest::newRow("success") << tls << "user3"
                             << " pass3 " << true << QStringLiteral("接続できました（メール %1 通）");
    QTest::newRow("wrong password") << tls << "user4"
                                    << "pass3" << true
                                    << QStringLiteral("ログインできません（ユーザー名かパスワードが違います）");
    // CACERT: where the dialog's settings keep the trusted certificates.
    QTest::newRow("certificate not trusted")
        << tls << "user5"
        << "pass5" << false
        << QStringLiteral("証明書を確認できません\n自己署名などの証明書を使うサーバーなら、その CA 証明書（PEM 形式）を"
                          " CACERT に置いてから、もう一度お試し下さい。");
    // The wrong form for the port: TLS against a server that greets in plain text, and plain
    // text against one that waits for TLS (a time-out).
    QTest::newRow("TLS form on the plain port")
        << "pop3s://127.0.0.1:$POP3_PORT"
        << "user3"
        << "pass3" << true
        << QStringLiteral("サーバーに接続できません\nポート $POP3_PORT が暗号化なしで始まる POP3（STLS、普通は 110 番）"
                          "なら、POPサーバ欄を「pop3://127.0.0.1:$POP3_PORT」にしてお試し下さい。");
    QTest::newRow("plain form on the TLS port")
        << "pop3://127.0.0.1:$POP3S_PORT"
        << "user3"
        << "pass3" << true
        << QStringLiteral("サーバーが応答しません\nポート $POP3S_PORT が TLS で始まる POP3S（普通は 995 番）なら、"
                          "POPサーバ欄を「pop3s://127.0.0.1:$POP3S_PORT」にしてお試し下さい。");
    QTest::newRow("IMAP") << "imaps://127.0.0.1:$IMAPS_PORT"
                          << "user3"
                          << "pass3" << true << QStringLiteral("接続できました（メール %1 通）");
    QTest::newRow("IMAP mailbox missing")
        << "imaps://127.0.0.1:$IMAPS_PORT/%E7%84%A1%E3%81%84"
        << "user3"
        << "pass3" << true
        << QStringLiteral(
               "サーバーに指定のメールボックスがありません\nPOPサーバ欄の「/」の後のメールボックス名をお確かめ下さい"
               "（省略すると INBOX）。");
    QTest::newRow("IMAP TLS form on the STARTTLS port")
        << "imaps://127.0.0.1:$IMAP_PORT"
        << "user3"
        << "pass3" << true
        << QStringLiteral(
               "サーバーに接続できません\nポート $IMAP_PORT が暗号化なしで始まる IMAP（STARTTLS、普通は 143 番）"
               "なら、POPサーバ欄を「imap://127.0.0.1:$IMAP_PORT」にしてお試し下さい。");
}

void TestConnectionTest::testsTheAccountAsTyped()
{
    QFETCH(QString, server);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(bool, trusted);
    QFETCH(QString, message);
    message = withPorts(message).replace(QStringLiteral("CACERT"), caFile());
    QFile::remove(caFile());
    if (trusted) QVERIFY(QFile::copy(env_[QStringLiteral("CA_FILE")], caFile()));
    const QStringList before = listing(maildata());

    const Outcome out = runTest(user, password, server);
    QVERIFY(out.disabledWhileRunning);
    QVERIFY(out.enabledWhenShown);
    QVERIFY(out.ticks > 0);
    QCOMPARE(out.boxes, 1);
    const QString maildir = env_[QStringLiteral("MAIL_ROOT")] + u'/' + user + QStringLiteral("/Maildir/");
    const auto inBox = QDir(maildir + QStringLiteral("cur")).entryList(QDir::Files).size() +
                       QDir(maildir + QStringLiteral("new")).entryList(QDir::Files).size();
    QVERIFY(!message.contains(u'%') || inBox >= 2);
    QCOMPARE(out.shown, message.contains(u'%') ? message.arg(inBox) : message);

    QCOMPARE(listing(maildata()), before);
    QCOMPARE(listing(tmp_), QStringList());
}

void TestConnectionTest::correctedPasswordIsTriedAtOnce()
{
    QFile::remove(maildata() + QStringLiteral("/INI/cacert.pem"));
    QVERIFY(QFile::copy(env_[QStringLiteral("CA_FILE")], maildata() + QStringLiteral("/INI/cacert.pem")));
    QCOMPARE(runTest(QStringLiteral("user1"), QStringLiteral("typo")).shown,
             QStringLiteral("ログインできません（ユーザー名かパスワードが違います）"));
    // Asked again at once, it asks the server again rather than answer from the back-off.
    QCOMPARE(runTest(QStringLiteral("user1"), QStringLiteral("typo")).shown,
             QStringLiteral("ログインできません（ユーザー名かパスワードが違います）"));
    // The user fixes the typo and tries again straight away: no waiting out the failure.
    QCOMPARE(runTest(QStringLiteral("user1"), QStringLiteral("pass1")).shown,
             QStringLiteral("接続できました（メール 0 通）"));
}

void TestConnectionTest::successEndsTheResidentsWait()
{
    // The resident's check of the account, in the same process, into its own folder.
    const QString folder = dir_.filePath(QStringLiteral("resident"));
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/INI")));
    const auto residentCheck = [&] {
        std::string server = withPorts(QStringLiteral("pop3s://127.0.0.1:$POP3S_PORT")).toStdString();
        std::string user = "user2", password = "pass2", mode = "SAVEALL", receive = folder.toStdString();
        maillib::AccountStatus status;
        maillib::RcvMail(server, user, password, mode, receive, status);
        return status.kind;
    };
    using Kind = maillib::AccountStatus::Kind;
    QFile::remove(caFile());
    QCOMPARE(residentCheck(), Kind::CertificateNotTrusted);
    QCOMPARE(residentCheck(), Kind::Waiting); // backing off

    // The user puts the CA in place and tests: it connects, and so does the resident's next check.
    QVERIFY(QFile::copy(env_[QStringLiteral("CA_FILE")], caFile()));
    QVERIFY(QFile::copy(env_[QStringLiteral("CA_FILE")], folder + QStringLiteral("/INI/cacert.pem")));
    QVERIFY2(
        runTest(QStringLiteral("user2"), QStringLiteral("pass2")).shown.startsWith(QStringLiteral("接続できました")),
        "the test answered from the back-off");
    QCOMPARE(residentCheck(), Kind::Ok);
}

QTEST_MAIN(TestConnectionTest)
#include "tst_connection_test.moc"
