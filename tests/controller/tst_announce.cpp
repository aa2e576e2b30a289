// Every new mail is announced, and nothing else, in a mailbox that is kept on the server and
// grows: the controller with the real mail library, against the scripted fake server and a
// real dovecot (tests/fixtures/dovecot-fixture).
#include "tests/common/DovecotFixture.h"
#include "tests/common/TestClock.h"
#include "tests/controller/ControllerFakes.h"
#include "tests/maillib/FakeImapServer.h"
#include "tests/maillib/FakePop3Server.h"
#include "controller/RealMailLibrary.h"
#include "controller/ResidentController.h"
#include "controller/mM_CHKER.h"
#include "maillib/MailLibInternal.h"
#include "settings/mReadINI.h"

#include <QDateTime>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimeZone>
#include <memory>

namespace {

const QString kPassword = QStringLiteral("secret");

// Mail n, dated `second` seconds into 5 March 2024 (+0900); a body of `bodyBytes` on one line.
std::string MailText(int n, int second, int bodyBytes = 0)
{
    const QDateTime date = QDateTime(QDate(2024, 3, 5), QTime(0, 0), QTimeZone(9 * 3600)).addSecs(second);
    const std::string num = std::to_string(n);
    return "From: sender" + num + "@example.com\r\nSubject: mail " + num +
           "\r\nDate: " + date.toString(Qt::RFC2822Date).toStdString() + "\r\nMessage-ID: <" + num +
           "@ferrowick.test>\r\n\r\n" + (bodyBytes > 0 ? std::string(size_t(bodyBytes), 'x') : "body " + num) + "\r\n";
}

// One account's mailbox on the fake server or on dovecot, and what the server saw of each
// session: the commands (fake) or dovecot's logout line with its counters.
class Mailbox {
public:
    Mailbox(bool dovecot, bool imap, QString user) : dovecot_(dovecot), imap_(imap), user_(std::move(user))
    {
        fake.password = kPassword.toStdString();
        imapFake.user = user_.toStdString();
        imapFake.password = kPassword.toStdString();
        imapFake.concurrent = true; // the watcher and the checks
    }

    bool start()
    {
        if (dovecot_)
            return !DovecotFixture::Env()
                        .value(imap_ ? QStringLiteral("IMAPS_PORT") : QStringLiteral("CA_FILE"))
                        .isEmpty();
        return imap_ ? imapFake.start() : fake.start();
    }

    // New mail, added at the end as servers do.
    void add(std::vector<std::string> texts)
    {
        if (!dovecot_ && imap_) {
            for (auto& t : texts) imapFake.deliver("INBOX", std::move(t));
            return;
        }
        if (!dovecot_) {
            for (auto& t : texts) mails_.push_back({"uid-" + std::to_string(++added_), std::move(t)});
            fake.setMails(mails_);
            return;
        }
        QTemporaryDir files;
        QStringList paths;
        for (const std::string& t : texts) {
            paths << files.filePath(QStringLiteral("%1.eml").arg(++added_, 6, 10, QChar(u'0')));
            QFile f(paths.back());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(t.data(), qint64(t.size()));
        }
        QVERIFY(DovecotFixture::Deliver(user_, paths));
    }

    QString address() const
    {
        const auto env = DovecotFixture::Env();
        if (dovecot_)
            return imap_ ? QStringLiteral("imaps://127.0.0.1:") + env[QStringLiteral("IMAPS_PORT")]
                         : QStringLiteral("pop3s://127.0.0.1:") + env[QStringLiteral("POP3S_PORT")];
        return QString::fromStdString(imap_ ? ImapAddress(imapFake) : Plain(fake));
    }
    QString user() const { return user_; }
    QString password() const { return dovecot_ ? QStringLiteral("pass") + user_.right(1) : kPassword; }

    // The account's watcher is idling on the mailbox.
    bool idling() const
    {
        if (!dovecot_)
            return imapFake.lastTranscript().size() > 0 &&
                   imapFake.lastTranscript().back().find(" IDLE") != std::string::npos;
        QStringList sent;
        for (QDirIterator it(DovecotFixture::Env()[QStringLiteral("RAWLOG_DIR")] + u'/' + user_,
                             {QStringLiteral("*.in")}, QDir::Files);
             it.hasNext();) {
            QFile f(it.next());
            if (f.open(QIODevice::ReadOnly) && f.readAll().contains(" IDLE\r\n")) return true;
        }
        return false;
    }

    void mark() { mark_ = sessions(); }
    // The sessions since the last mark, one line each.
    QStringList sessionsSinceMark(int atLeast = 1)
    {
        QStringList now = sessions();
        // dovecot writes its logout line a moment after the session ended.
        for (int i = 0; dovecot_ && i < 100 && now.size() < mark_.size() + atLeast; ++i) {
            QThread::msleep(20);
            now = sessions();
        }
        return now.mid(mark_.size());
    }

    FakePop3Server fake;
    FakeImapServer imapFake;

private:
    QStringList sessions() const
    {
        if (dovecot_) return DovecotFixture::Logouts(user_, imap_ ? QStringLiteral("imap") : QStringLiteral("pop3"));
        QStringList out;
        for (const auto& commands : imap_ ? imapFake.transcripts() : fake.transcripts()) {
            QStringList line;
            for (const auto& c : commands) line << QString::fromStdString(c);
            out << line.join(QStringLiteral(" | "));
        }
        return out;
    }

    bool dovecot_;
    bool imap_;
    QString user_;
    std::vector<FakeMail> mails_;
    int added_ = 0;
    QStringList mark_;
};

// The resident as the program builds it, with the real mail library and a fake tray.
struct Resident {
    Journal journal;
    FakeHost host{journal};
    FakeForms forms{journal};
    RealMailLibrary mail;
    ResidentController ctl{host, forms, mail};

    bool announced() const { return journal.entries.contains(QStringLiteral("show:fMail_Checker")); }
    // A check by the tray menu's 最新メール受信, as the user asks for one.
    void check()
    {
        journal.entries.clear();
        ctl.mnuRev_Click();
    }
};

int dayLogKeys()
{
    QFile f(mReadINI::LogPath);
    return f.open(QIODevice::ReadOnly) ? int(QString::fromUtf8(f.readAll()).count(QStringLiteral("\r\nTime: "))) : -1;
}

QString dialogue(const Mailbox& box, const QStringList& commands)
{
    return (QStringList{QStringLiteral("CAPA"), QStringLiteral("USER ") + box.user(),
                        QStringLiteral("PASS ") + box.password()} +
            commands)
        .join(QStringLiteral(" | "));
}

} // namespace

class TestAnnounce : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void everyNewMailAndNothingElse_data();
    void everyNewMailAndNothingElse();

private:
    // Starts the resident on the mailbox; its first check runs at once.
    std::unique_ptr<Resident> startResident(const Mailbox& box, const QString& program);
};

void TestAnnounce::init()
{
    mReadINI::ResetForTests();
    mM_CHKER::ResetForTests();
    maillib::internal::ResetState();
    maillib::internal::Limits limits;
    limits.total = std::chrono::milliseconds(120000); // thousands of mails on a loaded machine
    maillib::internal::SetLimits(limits);
}

std::unique_ptr<Resident> TestAnnounce::startResident(const Mailbox& box, const QString& program)
{
    const QString ini = program + QStringLiteral("/maildata/INI");
    if (!QDir().mkpath(ini)) return nullptr;
    const QString ca = DovecotFixture::Env().value(QStringLiteral("CA_FILE"));
    if (!ca.isEmpty()) QFile::copy(ca, ini + QStringLiteral("/cacert.pem"));
    QFile f(ini + QStringLiteral("/maildata.ini"));
    if (!f.open(QIODevice::WriteOnly)) return nullptr;
    f.write(QStringLiteral("[POP]\r\nPOP_SERVER1=%1\r\nUSER1=%2\r\nPASS1=%3\r\n[MAIL_REV]\r\nREV_TIMER_MIN=600\r\n")
                .arg(box.address(), box.user(), box.password())
                .toUtf8());
    f.close();
    auto resident = std::make_unique<Resident>();
    resident->ctl.Form_Load(program);
    return resident;
}

void TestAnnounce::everyNewMailAndNothingElse_data()
{
    QTest::addColumn<bool>("dovecot");
    QTest::addColumn<bool>("imap");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("row");
    const QStringList both = {"150 mails, one new", "150 mails, nothing new", "two mails in the same second",
                              "700 long-line mails"};
    const QStringList fakeOnly = {"no UIDL, 10000 mails", "TOP 2 of 3 refused"};
    for (const QString& row : both + fakeOnly)
        QTest::newRow(qPrintable(QStringLiteral("fake: ") + row)) << false << false << QStringLiteral("user1") << row;
    // One dovecot user per row: the mailboxes only grow.
    int user = 0;
    for (const QString& row : both)
        QTest::newRow(qPrintable(QStringLiteral("dovecot: ") + row))
            << true << false << QStringLiteral("user%1").arg(++user) << row;
    const QString idle = QStringLiteral("150 mails, nothing new without a connection, one delivered mid-IDLE");
    // Without IDLE every check asks the server (STATUS); with it, the watcher says when.
    for (const QString& row : {QStringLiteral("150 mails, one new"), QStringLiteral("two mails in the same second")})
        QTest::newRow(qPrintable(QStringLiteral("fake IMAP without IDLE: ") + row))
            << false << true << QStringLiteral("user1") << row;
    QTest::newRow(qPrintable(QStringLiteral("fake IMAP: ") + idle)) << false << true << QStringLiteral("user1") << idle;
    QTest::newRow(qPrintable(QStringLiteral("dovecot IMAP: ") + idle))
        << true << true << QStringLiteral("user5") << idle;
}

void TestAnnounce::everyNewMailAndNothingElse()
{
    QFETCH(bool, dovecot);
    QFETCH(bool, imap);
    QFETCH(QString, user);
    QFETCH(QString, row);
    TestClock clock;
    QTemporaryDir program;
    Mailbox box(dovecot, imap, user);
    if (!row.endsWith("mid-IDLE")) box.imapFake.capabilities = {"IMAP4rev1", "AUTH=PLAIN", "SASL-IR"};
    QVERIFY2(box.start(), "the dovecot fixture is not running (see controller_announce_dovecot_start)");

    if (row == "150 mails, one new" || row == "150 mails, nothing new") {
        std::vector<std::string> mails;
        for (int n = 1; n <= 150; ++n) mails.push_back(MailText(n, n));
        box.add(std::move(mails));
        auto resident = startResident(box, program.path());
        QVERIFY(resident);
        QCOMPARE(mM_CHKER::MailCount, 150);
        QCOMPARE(resident->ctl.NewCount(), 100); // the newest 100 are read; older ones are never new
        QVERIFY(resident->announced());
        const bool oneNew = row == "150 mails, one new";
        if (oneNew) box.add({MailText(151, 5000)});
        resident->check();
        QCOMPARE(mM_CHKER::MailCount, oneNew ? 151 : 150);
        QCOMPARE(resident->ctl.NewCount(), oneNew ? 1 : 0);
        QCOMPARE(resident->announced(), oneNew);
        if (oneNew) QCOMPARE(mM_CHKER::MailSubject[1], QStringLiteral("Subject: mail 151")); // newest first
        QCOMPARE(dayLogKeys(), oneNew ? 101 : 100);
    } else if (row == "two mails in the same second") {
        box.add({MailText(1, 10), MailText(2, 20), MailText(3, 30)});
        auto resident = startResident(box, program.path());
        QVERIFY(resident);
        QCOMPARE(resident->ctl.NewCount(), 3);
        box.add({MailText(4, 40), MailText(5, 40)});
        resident->check();
        QCOMPARE(resident->ctl.NewCount(), 2);
        QVERIFY(resident->announced());
        QCOMPARE(mM_CHKER::MailTime[1], mM_CHKER::MailTime[2]);
        QCOMPARE(dayLogKeys(), 5);
        resident->check();
        QVERIFY(!resident->announced());
    } else if (row == "700 long-line mails") {
        // About 130 KB each, on one line, so that TOP gives each whole: 91 MB in all.
        std::vector<std::string> mails;
        for (int n = 1; n <= 700; ++n) mails.push_back(MailText(n, n, 130 * 1000));
        box.add(std::move(mails));
        auto resident = startResident(box, program.path());
        QVERIFY(resident);
        QCOMPARE(mM_CHKER::MailCount, 700);
        box.mark();
        resident->check();
        QVERIFY(!resident->announced());
        const QStringList steady = box.sessionsSinceMark();
        if (dovecot) {
            QCOMPARE(steady.size(), 1);
            QVERIFY2(steady[0].contains(QStringLiteral("top=0/0 retr=0/0 del=0/")), qPrintable(steady[0]));
        } else {
            QCOMPARE(steady, QStringList{dialogue(box, {"STAT", "UIDL 700", "QUIT"})});
        }
    } else if (row.endsWith("mid-IDLE")) {
        std::vector<std::string> mails;
        for (int n = 1; n <= 150; ++n) mails.push_back(MailText(n, n));
        box.add(std::move(mails));
        auto resident = startResident(box, program.path());
        QVERIFY(resident);
        QCOMPARE(resident->ctl.NewCount(), 100);
        QTRY_VERIFY_WITH_TIMEOUT(box.idling(), 10000);
        QTest::qWait(100);
        // While the watcher idles, a check asks nothing of the server.
        box.mark();
        resident->check();
        QCOMPARE(mM_CHKER::MailCount, 150);
        QVERIFY(!resident->announced());
        QCOMPARE(box.sessionsSinceMark(0), QStringList());
        // A delivery is announced without a tick or a menu command: the watcher asks for the check.
        resident->journal.entries.clear();
        QElapsedTimer took;
        took.start();
        box.add({MailText(151, 5000)});
        QTRY_VERIFY_WITH_TIMEOUT(resident->announced(), 10000);
        qInfo("announced %lld ms after the delivery", static_cast<long long>(took.elapsed()));
        QCOMPARE(resident->ctl.NewCount(), 1);
        QCOMPARE(mM_CHKER::MailCount, 151);
        QCOMPARE(mM_CHKER::MailSubject[1], QStringLiteral("Subject: mail 151"));
        QCOMPARE(dayLogKeys(), 101);
    } else if (row == "no UIDL, 10000 mails") {
        box.fake.capabilities = {"USER", "TOP"};
        box.fake.hook = [](const std::string& command, int) -> std::optional<FakeReply> {
            if (command.rfind("UIDL", 0) == 0) return FakeReply{"-ERR no UIDL here\r\n"};
            return std::nullopt;
        };
        std::vector<std::string> mails;
        for (int n = 1; n <= 10000; ++n) mails.push_back(MailText(n, n));
        box.add(std::move(mails));
        box.mark();
        auto resident = startResident(box, program.path());
        QVERIFY(resident);
        QCOMPARE(mM_CHKER::MailCount, 10000);
        QCOMPARE(resident->ctl.NewCount(), 100);
        // The headers and then the whole of the newest 100 only.
        const int tops = int(box.sessionsSinceMark().join(QStringLiteral(" | ")).count(QStringLiteral("| TOP ")));
        QVERIFY2(tops <= 200, qPrintable(QString::number(tops)));
        box.mark();
        resident->check();
        QVERIFY(!resident->announced());
        QCOMPARE(box.sessionsSinceMark(), QStringList{dialogue(box, {"STAT", "TOP 10000 0", "QUIT"})});
    } else if (row == "TOP 2 of 3 refused") {
        box.fake.hook = [](const std::string& command, int) -> std::optional<FakeReply> {
            if (command.rfind("TOP 2 ", 0) == 0) return FakeReply{"-ERR message is locked\r\n"};
            return std::nullopt;
        };
        box.add({MailText(1, 10), MailText(2, 20), MailText(3, 30)});
        auto resident = startResident(box, program.path());
        QVERIFY(resident);
        // The refusal ended the session: one more login, and the check goes on.
        QCOMPARE(box.sessionsSinceMark(),
                 (QStringList{dialogue(box, {"UIDL", "LIST", "TOP 3 1000000", "TOP 2 1000000", "QUIT"}),
                              dialogue(box, {"TOP 1 1000000", "QUIT"})}));
        QCOMPARE(resident->ctl.NewCount(), 2);
        QCOMPARE(mM_CHKER::MailSubject[1], QStringLiteral("Subject: mail 3"));
        QCOMPARE(mM_CHKER::MailSubject[2], QStringLiteral("Subject: mail 1"));
    } else {
        QFAIL("no such row");
    }
}

QTEST_GUILESS_MAIN(TestAnnounce)
#include "tst_announce.moc"
