// The check as the program runs it: accounts asked on pool threads while the GUI thread
// goes on, results applied on the GUI thread in account order, "終了" cancelling a check.
#include "tests/controller/ControllerFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace {

// A mail library whose RcvMail blocks until the test releases the account, or until Cancel.
// Called from pool threads, so everything it keeps is under one mutex.
class BlockingMail final : public MailLibrary {
public:
    explicit BlockingMail(QString folder) : folder_(std::move(folder)) {}

    // The mails account `server` will return once released: one file each, with its fields.
    void script(const std::string& server, const QStringList& subjects)
    {
        std::lock_guard lock(m_);
        for (const QString& s : subjects) {
            const QString ref =
                folder_ + QStringLiteral("/%1-%2.txt").arg(QString::fromStdString(server)).arg(++files_);
            QFile f(ref);
            if (f.open(QIODevice::WriteOnly)) f.write("mail");
            mailbox_[server].push_back(ref.toStdString());
            fields_[ref.toStdString()] = mailFields(
                s, QStringLiteral("f"), QStringLiteral("2026/12/06 10:00:%1").arg(files_, 2, 10, QChar(u'0')));
        }
    }
    void release(const std::string& server)
    {
        std::lock_guard lock(m_);
        released_[server] = true;
        cv_.notify_all();
    }
    int started() const
    {
        std::lock_guard lock(m_);
        return started_;
    }
    int calls() const
    {
        std::lock_guard lock(m_);
        return calls_;
    }

    maillib::MailList RcvMail(std::string& server, std::string&, std::string&, std::string&, std::string&,
                              maillib::AccountStatus& status, std::size_t) override
    {
        std::unique_lock lock(m_);
        ++calls_;
        status = {};
        status.kind = maillib::AccountStatus::Kind::ServerError;
        if (server.empty()) return std::nullopt;
        ++started_;
        cv_.wait(lock, [&] { return released_[server] || cancelled_; });
        // One release lets one call through.
        const bool answered = std::exchange(released_[server], false);
        // Like the library: a cancelled check hands back nothing, but a finished one does.
        if (!answered) return std::nullopt;
        status.kind = maillib::AccountStatus::Kind::Ok;
        return mailbox_[server];
    }
    maillib::MailList ReadMail(std::string& mailRef, std::string&, std::string&) override
    {
        std::lock_guard lock(m_);
        std::vector<std::string> out;
        for (const QString& f : fields_[mailRef]) out.push_back(f.toStdString());
        return out;
    }
    void Cancel() override
    {
        std::lock_guard lock(m_);
        cancelled_ = true;
        cv_.notify_all();
    }

    // Account s2 is watched; the test says when its mailbox changes.
    std::unique_ptr<AccountWatch> Watch(const std::string& server, const std::string&, const std::string&,
                                        const std::string&, std::function<void()> changed) override
    {
        if (server != "s2") return nullptr;
        std::lock_guard lock(m_);
        changed_ = std::move(changed);
        return std::make_unique<AccountWatch>();
    }
    // Says so from a thread of its own, as a watcher does.
    void push()
    {
        std::function<void()> changed;
        {
            std::lock_guard lock(m_);
            changed = changed_;
        }
        std::thread(changed).join();
    }

private:
    QString folder_;
    mutable std::mutex m_;
    std::condition_variable cv_;
    std::map<std::string, std::vector<std::string>> mailbox_;
    std::map<std::string, QStringList> fields_;
    std::map<std::string, bool> released_;
    std::function<void()> changed_;
    bool cancelled_ = false;
    int started_ = 0;
    int calls_ = 0;
    int files_ = 0;
};

} // namespace

class TestCheckAsync : public QObject, private ControllerFixture<BlockingMail> {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void eventLoopRunsDuringCheckAndResultsKeepAccountOrder();
    void dueTickDoesNotStartSecondCheck();
    void endDuringCheckCancelsAndLeavesNoFiles();
    void firstCheckWaitsForEventLoop();
    void pushChecksAtOnceOrAfterTheCheckInFlight();

private:
    void writeSettings(const QByteArray& extra = {});
    void startAndLetFirstCheckFinish();
};

void TestCheckAsync::init()
{
    Options pool;
    pool.poolThreads = 5;
    SetUp([this] { return std::make_unique<BlockingMail>(mailDir()); }, pool);
}

void TestCheckAsync::cleanup() { TearDown(); }

void TestCheckAsync::writeSettings(const QByteArray& extra)
{
    writeSettingsFile(
        "[POP]\r\nPOP_SERVER1=s1\r\nUSER1=u1\r\nPOP_SERVER2=s2\r\nUSER2=u2\r\nPOP_SERVER3=s3\r\nUSER3=u3\r\n"
        "[MAIL_REV]\r\nREV_TIMER_MIN=5\r\nUNLOAD_TIMER_SEC=10\r\n" +
        extra);
}

void TestCheckAsync::startAndLetFirstCheckFinish()
{
    writeSettings();
    ctl_->Form_Load(dir_->path());
    for (const char* s : {"s1", "s2", "s3"}) mail_->release(s);
    QTRY_VERIFY(ctl_->TickCount() == 0 && !ctl_->CheckInFlight() && mail_->calls() == 5);
    journal_.entries.clear();
}

void TestCheckAsync::eventLoopRunsDuringCheckAndResultsKeepAccountOrder()
{
    writeSettings();
    mail_->script("s1", {QStringLiteral("a1"), QStringLiteral("a2")});
    mail_->script("s3", {QStringLiteral("c1")});
    ctl_->Form_Load(dir_->path());
    QTRY_COMPARE(mail_->started(), 3);
    QVERIFY(ctl_->CheckInFlight());

    // All three accounts wait at once; meanwhile the GUI thread serves its timers.
    int ticks = 0;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] { ++ticks; });
    probe.start(10);
    QTRY_VERIFY(ticks >= 5);
    QVERIFY(ctl_->CheckInFlight());

    // The last account answers first; the tables still follow account order.
    mail_->release("s3");
    QTest::qWait(20);
    QVERIFY(ctl_->CheckInFlight());
    mail_->release("s2");
    mail_->release("s1");
    QTRY_VERIFY(!ctl_->CheckInFlight());
    QCOMPARE(mM_CHKER::MailCount, 3);
    QCOMPARE(mM_CHKER::MailSubject[1], QStringLiteral("Subject: a1"));
    QCOMPARE(mM_CHKER::MailSubject[2], QStringLiteral("Subject: a2"));
    QCOMPARE(mM_CHKER::MailSubject[3], QStringLiteral("Subject: c1"));
    QCOMPARE((QStringList{mM_CHKER::MailAccount[1], mM_CHKER::MailAccount[2], mM_CHKER::MailAccount[3]}),
             (QStringList{"1", "1", "3"}));
    QVERIFY(journal_.entries.contains(QStringLiteral("show:fMail_Checker")));
    QVERIFY(host_->allMenuItemsEnabled());
    // Every file was read before it was deleted, and the purge came after.
    QCOMPARE(QDir(mailDir()).entryList({QStringLiteral("*.txt")}, QDir::Files), QStringList());
    QCOMPARE(mM_CHKER::CloseTimeText(), QStringLiteral("12:00:10"));
}

void TestCheckAsync::dueTickDoesNotStartSecondCheck()
{
    startAndLetFirstCheckFinish();
    for (int i = 0; i < 5; ++i) ctl_->Timer1_Timer();
    QTRY_COMPARE(mail_->started(), 6); // the three accounts of the first check, and three again
    QVERIFY(ctl_->CheckInFlight());
    // Ticks and "最新メール受信" that fall due meanwhile start nothing and count nothing.
    for (int i = 0; i < 12; ++i) ctl_->Timer1_Timer();
    ctl_->mnuRev_Click();
    QTest::qWait(50);
    QCOMPARE(mail_->calls(), 10);
    QCOMPARE(int(ctl_->TickCount()), 4);
    for (const char* s : {"s1", "s2", "s3"}) mail_->release(s);
    QTRY_VERIFY(!ctl_->CheckInFlight());
    QCOMPARE(journal_.entries.count(QStringLiteral("hide")), 1);
    QCOMPARE(int(ctl_->TickCount()), 0);
    ctl_->Timer1_Timer();
    QCOMPARE(int(ctl_->TickCount()), 1);
}

void TestCheckAsync::endDuringCheckCancelsAndLeavesNoFiles()
{
    writeSettings();
    mail_->script("s2", {QStringLiteral("b1"), QStringLiteral("b2")});
    ctl_->Form_Load(dir_->path());
    QTRY_COMPARE(mail_->started(), 3);
    // One account has already answered when the user quits.
    mail_->release("s2");
    QTest::qWait(20);
    journal_.entries.clear();
    QElapsedTimer clock;
    clock.start();
    ctl_->mnuEnd_Click();
    QTRY_VERIFY(journal_.entries.contains(QStringLiteral("quit")));
    QVERIFY2(clock.elapsed() < 2000, "ending waited for the servers");
    QCOMPARE(journal_.entries, (QStringList{"tray-", "quit"}));
    QCOMPARE(QDir(mailDir()).entryList({QStringLiteral("*.txt")}, QDir::Files), QStringList());
    // Nothing of the cancelled check reached the tables.
    QCOMPARE(mM_CHKER::MailCount, 0);
    QCOMPARE(mM_CHKER::MailSubject[1], QString());
}

void TestCheckAsync::firstCheckWaitsForEventLoop()
{
    writeSettings();
    ctl_->Form_Load(dir_->path());
    // Start-up returns at once, with the timers running and no server asked yet.
    QCOMPARE(mail_->calls(), 0);
    QVERIFY(journal_.entries.contains(QStringLiteral("timers")));
    QTRY_COMPARE(mail_->calls(), 5);
}

void TestCheckAsync::pushChecksAtOnceOrAfterTheCheckInFlight()
{
    startAndLetFirstCheckFinish();
    ctl_->Timer1_Timer();
    // News from the watcher's thread: a check at once, as 最新メール受信 starts one.
    mail_->push();
    QTRY_COMPARE(mail_->started(), 6);
    QCOMPARE(journal_.entries.count(QStringLiteral("hide")), 1);
    // More news while it runs starts nothing now, and one check once it is over.
    mail_->push();
    mail_->push();
    QTest::qWait(50);
    QCOMPARE(mail_->started(), 6);
    for (const char* s : {"s1", "s2", "s3"}) mail_->release(s);
    QTRY_COMPARE(mail_->started(), 9);
    for (const char* s : {"s1", "s2", "s3"}) mail_->release(s);
    QTRY_VERIFY(!ctl_->CheckInFlight());
    QTest::qWait(50);
    QCOMPARE(mail_->started(), 9);
    // While the settings dialog holds the timers, news waits for it to close.
    forms_->whileSettingsOpen = [this] {
        mail_->push();
        QTest::qWait(50);
        QCOMPARE(mail_->started(), 9);
    };
    ctl_->mnuPropaty_Click();
    QTRY_COMPARE(mail_->started(), 12);
    for (const char* s : {"s1", "s2", "s3"}) mail_->release(s);
    QTRY_VERIFY(!ctl_->CheckInFlight());
    // Ending: news is no longer heard.
    ctl_->mnuEnd_Click();
    mail_->push();
    QTest::qWait(50);
    QCOMPARE(mail_->started(), 12);
}

QTEST_GUILESS_MAIN(TestCheckAsync)
#include "tst_check_async.moc"
