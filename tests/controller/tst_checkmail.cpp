#include "tests/common/OpenDescriptors.h"
#include "tests/controller/ControllerFixture.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <unistd.h>

class TestCheckMail : public QObject, private ControllerFixture<ScriptedMail> {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void startUpPreparesFoldersLogAndFirstCheck();
    void startUpRepairsIncompleteInstallation();
    void checkRunsInOrder();
    void noMail();
    void slotsAndLabelsFollowAccounts();
    void dayLogDecidesWhatIsNew_data();
    void dayLogDecidesWhatIsNew();
    void sameMailsAgainRefillTablesQuietly();
    void newMailAfterSeenMailIsAnnounced();
    void unchangedMailIsNotReadAgain();
    void atMostHundredMailsPerAccount();
    void unfetchedMailsCountButAreNotRead();
    void tablesNeverWritePastSlotHundred();
    void cutsCountCharacters_data();
    void cutsCountCharacters();
    void unreadableMailIsSkipped();
    void shortResultClearsStaleSlot();
    void deleteRemovesOnlyTheNamedFile();
    void checkDeletesNothingOutsideReceiveFolder();
    void timedCheckCadenceAndCloseTime();
    void mnuRevChecksAtOnce();
    void mnuOpenAfterEmptyCheck();
    void autoClose_data();
    void autoClose();
    void autoCloseWaitsWhileNotifierHidden();
    void settingsDialogStopsTheTimers();
    void detailWindowHoldsTheTimers();
    void manyChecksKeepNoFileOpen();
    void mnuEndClosesEverythingInOrder();
    void mnuMailWithoutHandler();

private:
    void start(const QByteArray& extraIni = QByteArray());
};

void TestCheckMail::init()
{
    SetUp([this] { return std::make_unique<ScriptedMail>(journal_); });
}

void TestCheckMail::cleanup() { TearDown(); }

void TestCheckMail::start(const QByteArray& extraIni)
{
    writeSettingsFile("[POP]\r\nPOP_SERVER1= s1 \r\nUSER1= u1 \r\nPASS1= p1 \r\nNAME1=会社#\r\n"
                      "POP_SERVER2=s2\r\nUSER2=\" u2\"\r\nPASS2=p2\r\nNAME2=自宅#\r\n"
                      "POP_SERVER3=s3\r\nPOP_SERVER4=s4\r\nPOP_SERVER5=s5\r\n" +
                      extraIni);
    ctl_->Form_Load(dir_->path());
    journal_.entries.clear();
}

void TestCheckMail::startUpPreparesFoldersLogAndFirstCheck()
{
    QDir().mkpath(mailDir() + QStringLiteral("/Dat"));
    QFile old(mailDir() + QStringLiteral("/Dat/RevMail20261206.dat"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("--- Write Start ---\r\nTime: 12/06 09:00:00\r\n");
    old.close();
    QFile leftover(mailDir() + QStringLiteral("/old.txt"));
    QVERIFY(leftover.open(QIODevice::WriteOnly));
    leftover.close();
    QDir().mkpath(mailDir() + QStringLiteral("/keep.txt"));
    mail_->addMail(mailDir(), QStringLiteral("s2"),
                   mailFields(QStringLiteral("Hi"), QStringLiteral("a@b"), QStringLiteral("2026/12/06 09:00:00")));

    start("[MAIL_REV]\r\nREV_TIMER_MIN=7\r\nUNLOAD_TIMER_SEC=12\r\n");

    QCOMPARE(mReadINI::LogPath, mailDir() + QStringLiteral("/Dat/RevMail20261206.dat"));
    // A new start forgets the keys of an earlier run the same day.
    QCOMPARE(dayLog(), QStringLiteral("--- Write Start ---\r\nTime: 12/06 09:00:00 m1\r\n"));
    QCOMPARE(mM_CHKER::MailCount, 1);
    QCOMPARE(ctl_->SeenCount(), qint16(0));
    QCOMPARE(QDir(mailDir()).entryList({QStringLiteral("*.txt")}, QDir::Files), QStringList());
    QVERIFY(QDir(mailDir() + QStringLiteral("/keep.txt")).exists());
    QVERIFY(QFile::exists(mailDir() + QStringLiteral("/Dummy/Dummy.txt")));
    QCOMPARE(mM_CHKER::CloseTimeText(), QStringLiteral("12:00:12"));
    QCOMPARE(mM_CHKER::AccountName[1], QStringLiteral("会社"));
    QCOMPARE(mM_CHKER::AccountName[2], QStringLiteral("自宅"));
    QCOMPARE(ctl_->RevTimerMin(), qint16(7));
    // The cached mails of accounts no longer configured go before the first check.
    QCOMPARE(mail_->keptFolder, mailDir());
    QCOMPARE(mail_->keptAccounts, (QStringList{"s1|u1", "s2| u2", "s3|", "s4|", "s5|"}));
}

void TestCheckMail::startUpRepairsIncompleteInstallation()
{
    QDir(mailDir()).removeRecursively();
    ctl_->Form_Load(dir_->path());
    for (const char* sub : {"INI", "Dat", "Dummy"}) QVERIFY(QDir(mailDir() + u'/' + QLatin1String(sub)).exists());
    QVERIFY(QFile::exists(mailDir() + QStringLiteral("/Dummy/Dummy.txt")));
    QVERIFY(dayLog().startsWith(QStringLiteral("--- Write Start ---\r\n")));
    QCOMPARE(ctl_->RevTimerMin(), qint16(5));
    QCOMPARE(ctl_->UnloadTimerSec(), qint16(10));
    QCOMPARE(ctl_->UnloadFlag(), qint16(0));
}

void TestCheckMail::checkRunsInOrder()
{
    start();
    mail_->addMail(mailDir(), QStringLiteral("s1"),
                   mailFields(QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("2026/12/06 10:00:00")));
    bool otherEnabledDuringFetch = false;
    bool endEnabledDuringFetch = true;
    mail_->onRcv = [&] {
        for (MenuItem item : {MenuItem::mnuPropaty, MenuItem::mnuMail, MenuItem::mnuRev, MenuItem::mnuOpen})
            otherEnabledDuringFetch = otherEnabledDuringFetch || host_->isEnabled(item);
        endEnabledDuringFetch = endEnabledDuringFetch && host_->isEnabled(MenuItem::mnuEnd);
    };
    ctl_->CheckMail();
    QVERIFY(!otherEnabledDuringFetch);
    // "終了" stays reachable while the servers are asked.
    QVERIFY(endEnabledDuringFetch);
    QVERIFY(host_->allMenuItemsEnabled());
    const QStringList expected = {"hide", "mnuPropaty=0", "mnuMail=0", "mnuRev=0", "mnuOpen=0", "tray+",
                                  // Account 1 is trimmed; the others go as stored.
                                  "rcv:s1|u1|p1|SAVEALL", "rcv:s2| u2|p2|SAVEALL", "rcv:s3|||SAVEALL",
                                  "rcv:s4|||SAVEALL", "rcv:s5|||SAVEALL", "show:fMail_Checker", "mnuPropaty=1",
                                  "mnuMail=1", "mnuRev=1", "mnuOpen=1"};
    QCOMPARE(journal_.entries, expected);
    QCOMPARE(mail_->lastFolder, mailDir());
    QCOMPARE(mail_->lastFieldList, QStringLiteral("subject:from:date:nofile:"));
}

void TestCheckMail::noMail()
{
    start();
    ctl_->CheckMail();
    QCOMPARE(mM_CHKER::MailCount, 0);
    QCOMPARE(mM_CHKER::ExtraCount, 0);
    QCOMPARE(ctl_->NewCount(), 0);
    QVERIFY(!journal_.entries.contains(QStringLiteral("show:fMail_Checker")));
}

void TestCheckMail::slotsAndLabelsFollowAccounts()
{
    start();
    for (int i = 0; i < 3; ++i)
        mail_->addMail(mailDir(), QStringLiteral("s1"),
                       mailFields(QStringLiteral("a%1").arg(i), QStringLiteral("x"),
                                  QStringLiteral("2026/12/06 10:00:0%1").arg(i)));
    for (int i = 0; i < 2; ++i)
        mail_->addMail(mailDir(), QStringLiteral("s3"),
                       mailFields(QStringLiteral("c%1").arg(i), QStringLiteral("x"),
                                  QStringLiteral("2026/12/06 11:00:0%1").arg(i)));
    ctl_->CheckMail();
    QCOMPARE(mM_CHKER::MailCount, 5);
    QCOMPARE(mM_CHKER::ExtraCount, 0);
    QCOMPARE(mM_CHKER::MailIndex, 0);
    const QStringList labels = {mM_CHKER::MailAccount[1], mM_CHKER::MailAccount[2], mM_CHKER::MailAccount[3],
                                mM_CHKER::MailAccount[4], mM_CHKER::MailAccount[5]};
    QCOMPARE(labels, (QStringList{"1", "1", "1", "3", "3"}));
    QCOMPARE(mM_CHKER::MailSubject[4], QStringLiteral("Subject: c0"));
    QCOMPARE(mM_CHKER::MailTime[5], QStringLiteral("Time: 12/06 11:00:01"));
    QCOMPARE(mM_CHKER::MailBody[1], QStringLiteral("本文"));
}

void TestCheckMail::dayLogDecidesWhatIsNew_data()
{
    QTest::addColumn<QStringList>("dates");
    QTest::addColumn<QStringList>("alreadyLogged"); // lines already in the log, "m<n>" for the name of mail n
    QTest::addColumn<int>("seen");
    QTest::addColumn<int>("extra");
    QTest::addColumn<bool>("shown");
    const QStringList seven = {"2026/12/06 10:00:01", "2026/12/06 10:00:02", "2026/12/06 10:00:03",
                               "2026/12/06 10:00:04", "2026/12/06 10:00:05", "2026/12/06 10:00:06",
                               "2026/12/06 10:00:07"};
    QTest::newRow("seven, two logged") << seven << QStringList{"Time: 12/06 10:00:02 m2", "  Time: 12/06 10:00:06 m6  "}
                                       << 2 << 2 << true;
    // Two mails of one second are two mails.
    QTest::newRow("same second twice") << QStringList{"2026/12/06 10:00:01", "2026/12/06 10:00:01"} << QStringList{}
                                       << 0 << 0 << true;
    QTest::newRow("all logged") << QStringList{"2026/12/06 10:00:01"} << QStringList{"Time: 12/06 10:00:01 m1"} << 1
                                << 0 << false;
    // The time alone, as an older version logged it, is no mail's key.
    QTest::newRow("time alone logged") << QStringList{"2026/12/06 10:00:01"} << QStringList{"Time: 12/06 10:00:01"} << 0
                                       << 0 << true;
    QTest::newRow("another mail of that second logged")
        << QStringList{"2026/12/06 10:00:01"} << QStringList{"Time: 12/06 10:00:01 m9"} << 0 << 0 << true;
}

void TestCheckMail::dayLogDecidesWhatIsNew()
{
    QFETCH(QStringList, dates);
    QFETCH(QStringList, alreadyLogged);
    QFETCH(int, seen);
    QFETCH(int, extra);
    QFETCH(bool, shown);
    start();
    QFile log(mReadINI::LogPath);
    QVERIFY(log.open(QIODevice::Append));
    for (const QString& key : alreadyLogged) log.write(key.toUtf8() + "\r\n");
    log.close();
    for (const QString& d : dates)
        mail_->addMail(mailDir(), QStringLiteral("s2"), mailFields(QStringLiteral("s"), QStringLiteral("f"), d));
    ctl_->CheckMail();
    QCOMPARE(mM_CHKER::MailCount, int(dates.size()));
    QCOMPARE(int(ctl_->SeenCount()), seen);
    QCOMPARE(ctl_->NewCount(), int(dates.size()) - seen);
    QCOMPARE(mM_CHKER::ExtraCount, extra);
    QCOMPARE(journal_.entries.contains(QStringLiteral("show:fMail_Checker")), shown);
    // Every key is in the log exactly once, each line ended by CR LF: the time line, then the
    // name of the mail's file.
    const QString text = dayLog();
    for (qsizetype i = 0; i < dates.size(); ++i) {
        const QString key = QStringLiteral("Time: ") +
                            QDateTime::fromString(dates[i], QStringLiteral("yyyy/MM/dd HH:mm:ss"))
                                .toString(QStringLiteral("MM/dd HH:mm:ss")) +
                            QStringLiteral(" m%1").arg(i + 1);
        QCOMPARE(text.count(key), 1);
    }
    QVERIFY(text.endsWith(QStringLiteral("\r\n")));
}

void TestCheckMail::sameMailsAgainRefillTablesQuietly()
{
    start();
    QStringList refsFirst;
    for (int i = 0; i < 3; ++i)
        mail_->addMail(mailDir(), QStringLiteral("s1"),
                       mailFields(QStringLiteral("s%1").arg(i), QStringLiteral("f"),
                                  QStringLiteral("2026/12/06 10:00:0%1").arg(i)));
    ctl_->CheckMail();
    QCOMPARE(ctl_->NewCount(), 3);
    mM_CHKER::PageOffset = 2;
    mM_CHKER::MailSubject.fill(QString());
    journal_.entries.clear();
    // The library hands out the same mails again, under the same names.
    ctl_->CheckMail();
    QCOMPARE(ctl_->NewCount(), 0);
    QCOMPARE(int(ctl_->SeenCount()), 3);
    QCOMPARE(mM_CHKER::PageOffset, 0);
    QCOMPARE(mM_CHKER::MailSubject[3], QStringLiteral("Subject: s2"));
    QVERIFY(!journal_.entries.contains(QStringLiteral("show:fMail_Checker")));
}

void TestCheckMail::newMailAfterSeenMailIsAnnounced()
{
    start();
    const QStringList old =
        mailFields(QStringLiteral("old"), QStringLiteral("f"), QStringLiteral("2026/12/06 10:00:00"));
    mail_->addMail(mailDir(), QStringLiteral("s1"), old);
    ctl_->CheckMail();
    ctl_->CheckMail();
    QCOMPARE(int(ctl_->SeenCount()), 1);
    journal_.entries.clear();
    // The count of seen mails starts again at every check: one old, one new.
    mail_->addMail(mailDir(), QStringLiteral("s1"),
                   mailFields(QStringLiteral("new"), QStringLiteral("f"), QStringLiteral("2026/12/06 10:05:00")));
    ctl_->CheckMail();
    QCOMPARE(int(ctl_->SeenCount()), 1);
    QCOMPARE(ctl_->NewCount(), 1);
    QVERIFY(journal_.entries.contains(QStringLiteral("show:fMail_Checker")));
}

void TestCheckMail::unchangedMailIsNotReadAgain()
{
    start();
    // Like the library: the mail file is a hard link to a kept copy, put back at every check.
    const QString ref =
        mail_->addMail(mailDir(), QStringLiteral("s1"),
                       mailFields(QStringLiteral("once"), QStringLiteral("f"), QStringLiteral("2026/12/06 10:00:00")));
    const QString kept = dir_->path() + QStringLiteral("/kept");
    QVERIFY(::link(QFile::encodeName(ref).constData(), QFile::encodeName(kept).constData()) == 0);
    auto relink = [&] {
        QVERIFY(::link(QFile::encodeName(kept).constData(), QFile::encodeName(ref).constData()) == 0);
    };
    ctl_->CheckMail();
    mM_CHKER::MailSubject.fill(QString());
    relink();
    ctl_->CheckMail();
    QCOMPARE(mail_->reads.size(), 1);
    QCOMPARE(mM_CHKER::MailSubject[1], QStringLiteral("Subject: once"));
    // The same name with other content is another file: it is read again.
    QFile other(ref);
    QVERIFY(other.open(QIODevice::WriteOnly));
    other.write("another mail");
    other.close();
    ctl_->CheckMail();
    QCOMPARE(mail_->reads.size(), 2);
}

void TestCheckMail::atMostHundredMailsPerAccount()
{
    start();
    QStringList refs;
    for (int i = 0; i < 150; ++i)
        refs << mail_->addMail(
            mailDir(), QStringLiteral("s4"),
            mailFields(
                QStringLiteral("n"), QStringLiteral("f"),
                QStringLiteral("2026/12/06 10:%1:%2").arg(i / 60, 2, 10, QChar(u'0')).arg(i % 60, 2, 10, QChar(u'0'))));
    ctl_->CheckMail();
    QCOMPARE(mM_CHKER::MailCount, 150);
    QCOMPARE(mail_->reads.size(), 100);
    QCOMPARE(mail_->reads.last(), refs[99]);
    QVERIFY(!QFile::exists(refs[99]));
    // Never read, so removed with the check rather than left for the purge.
    QVERIFY(!QFile::exists(refs[100]));
    QVERIFY(!QFile::exists(refs[149]));
    QCOMPARE(mM_CHKER::ExtraCount, 145);
    // Only the mails read can be new.
    QCOMPARE(ctl_->NewCount(), 100);
}

void TestCheckMail::unfetchedMailsCountButAreNotRead()
{
    start();
    // As the library lists mails past those it placed: an entry without a file.
    mail_->addMail(mailDir(), QStringLiteral("s1"),
                   mailFields(QStringLiteral("placed"), QStringLiteral("f"), QStringLiteral("2026/12/06 10:00:00")));
    mail_->addRef(QStringLiteral("s1"), QString());
    mail_->addRef(QStringLiteral("s1"), QString());
    ctl_->CheckMail();
    QCOMPARE(mM_CHKER::MailCount, 3);
    QCOMPARE(mail_->reads.size(), 1);
    QCOMPARE(ctl_->NewCount(), 1);
    QCOMPARE(dayLog().count(QStringLiteral("Time:")), 1);
}

void TestCheckMail::tablesNeverWritePastSlotHundred()
{
    start();
    // 120 readable mails over three accounts.
    for (int k = 1; k <= 3; ++k)
        for (int i = 0; i < 40; ++i)
            mail_->addMail(mailDir(), QStringLiteral("s%1").arg(k),
                           mailFields(QStringLiteral("k%1m%2").arg(k).arg(i), QStringLiteral("f"),
                                      QStringLiteral("2026/12/0%1 10:00:%2").arg(k).arg(i, 2, 10, QChar(u'0'))));
    ctl_->CheckMail();
    QCOMPARE(mM_CHKER::MailCount, 120);
    QCOMPARE(mM_CHKER::MailSubject[100], QStringLiteral("Subject: k3m19"));
    QCOMPARE(mM_CHKER::MailIndex, 0);
    QCOMPARE(QDir(mailDir()).entryList({QStringLiteral("m*.txt")}, QDir::Files), QStringList());
    QCOMPARE(ctl_->NewCount(), 120);
    // The mails beyond the tables are remembered too, so a second check announces nothing.
    ctl_->CheckMail();
    QCOMPARE(int(ctl_->SeenCount()), 120);
    QCOMPARE(ctl_->NewCount(), 0);
}

void TestCheckMail::cutsCountCharacters_data()
{
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("subjectLine");
    QTest::addColumn<QString>("fromLine");
    QTest::newRow("blank and twenty letters") << QStringLiteral(" abcdefghijklmnopqrst") << QStringLiteral("a@b")
                                              << QStringLiteral("Subject: abcdefghijk") << QStringLiteral("From: a@b");
    QTest::newRow("japanese sender over 26")
        << QStringLiteral("会議の件について再送します")
        << QStringLiteral("株式会社フェロウィック営業本部第一営業部長の山田太郎 <yamada@example.jp>")
        << QStringLiteral("Subject:会議の件について再送しま")
        << QStringLiteral("From: 株式会社フェロウィック営業本部第一営業部長の山田太郎");
    QTest::newRow("surrogate pairs are one character")
        << QStringLiteral("\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600"
                          "\U0001F600\U0001F600\U0001F600\U0001F600")
        << QStringLiteral("x")
        << QStringLiteral("Subject:"
                          "\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600"
                          "\U0001F600\U0001F600\U0001F600")
        << QStringLiteral("From: x");
}

void TestCheckMail::cutsCountCharacters()
{
    QFETCH(QString, subject);
    QFETCH(QString, from);
    QFETCH(QString, subjectLine);
    QFETCH(QString, fromLine);
    start();
    // The library's element is "subject: " + value, so the value keeps one leading blank.
    mail_->addMail(mailDir(), QStringLiteral("s1"),
                   {QStringLiteral("subject:") + subject, QStringLiteral("from: ") + from,
                    QStringLiteral("date: 2026/12/06 10:00:00"), QStringLiteral("nofile: "), QStringLiteral("body:b")});
    ctl_->CheckMail();
    QCOMPARE(mM_CHKER::MailSubject[1], subjectLine);
    QCOMPARE(mM_CHKER::MailFrom[1], fromLine);
}

void TestCheckMail::unreadableMailIsSkipped()
{
    start();
    const QString bad = mail_->addMail(mailDir(), QStringLiteral("s1"), {});
    mail_->failRead(bad);
    mail_->addMail(mailDir(), QStringLiteral("s1"),
                   mailFields(QStringLiteral("ok"), QStringLiteral("f"), QStringLiteral("2026/12/06 10:00:00")));
    ctl_->CheckMail();
    QCOMPARE(mM_CHKER::MailCount, 2);
    QCOMPARE(mM_CHKER::MailSubject[1], QStringLiteral("Subject: ok"));
    QCOMPARE(dayLog().count(QStringLiteral("Time:")), 1);
    QVERIFY(!QFile::exists(bad));
}

void TestCheckMail::shortResultClearsStaleSlot()
{
    start();
    mail_->addMail(mailDir(), QStringLiteral("s1"),
                   mailFields(QStringLiteral("old"), QStringLiteral("f"), QStringLiteral("2026/12/06 10:00:00")));
    ctl_->CheckMail();
    mail_->clear();
    mail_->addMail(mailDir(), QStringLiteral("s1"), {QStringLiteral("subject: new")});
    ctl_->CheckMail();
    QCOMPARE(mM_CHKER::MailSubject[1], QStringLiteral("Subject: new"));
    QCOMPARE(mM_CHKER::MailTime[1], QString());
    QCOMPARE(mM_CHKER::MailAccount[1], QString());
    // The stale key of the first check was not taken for this mail.
    QCOMPARE(int(ctl_->SeenCount()), 0);
}

void TestCheckMail::deleteRemovesOnlyTheNamedFile()
{
    start();
    QFile outside(dir_->path() + QStringLiteral("/victim.txt"));
    QVERIFY(outside.open(QIODevice::WriteOnly));
    outside.close();
    const QString keep = mail_->addMail(mailDir(), QStringLiteral("s9"), {});
    ctl_->DeleteMailFile(mailDir() + QStringLiteral("/../victim.txt"));
    ctl_->DeleteMailFile(mailDir() + QStringLiteral("/*.txt"));
    QVERIFY(outside.exists());
    QVERIFY(QFile::exists(keep));
    ctl_->DeleteMailFile(keep);
    QVERIFY(!QFile::exists(keep));
}

void TestCheckMail::checkDeletesNothingOutsideReceiveFolder()
{
    start();
    const QString outside = dir_->path() + QStringLiteral("/victim.txt");
    QFile f(outside);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QDir().mkpath(mailDir() + QStringLiteral("/sub"));
    const QString nested = mailDir() + QStringLiteral("/sub/deep.txt");
    QFile n(nested);
    QVERIFY(n.open(QIODevice::WriteOnly));
    n.close();
    QVERIFY(QFile::link(outside, mailDir() + QStringLiteral("/link.txt")));
    mail_->addRef(QStringLiteral("s1"), mailDir() + QStringLiteral("/../victim.txt"));
    mail_->addRef(QStringLiteral("s1"), nested);
    mail_->addRef(QStringLiteral("s1"), mailDir() + QStringLiteral("/link.txt"));
    mail_->addRef(QStringLiteral("s1"), mailDir() + QStringLiteral("/sub"));
    const QString mine = mail_->addMail(mailDir(), QStringLiteral("s1"), {});
    ctl_->CheckMail();
    QVERIFY(QFile::exists(outside));
    QVERIFY(QFile::exists(nested));
    QVERIFY(QDir(mailDir() + QStringLiteral("/sub")).exists());
    // The link is left to the purge, which removes the link itself, never its target.
    QVERIFY(QFileInfo(mailDir() + QStringLiteral("/link.txt")).isSymLink());
    QVERIFY(!QFile::exists(mine));
}

void TestCheckMail::timedCheckCadenceAndCloseTime()
{
    start("[MAIL_REV]\r\nREV_TIMER_MIN=5\r\nUNLOAD_TIMER_SEC=10\r\n");
    for (int tick = 1; tick <= 4; ++tick) {
        clock_->advance(1);
        ctl_->Timer1_Timer();
        QCOMPARE(int(ctl_->TickCount()), tick);
    }
    QVERIFY(!journal_.entries.contains(QStringLiteral("hide")));
    clock_->advance(1);
    ctl_->Timer1_Timer();
    QVERIFY(journal_.entries.contains(QStringLiteral("hide")));
    QCOMPARE(int(ctl_->TickCount()), 0);
    QCOMPARE(mM_CHKER::CloseTimeText(), QStringLiteral("12:00:15"));
}

void TestCheckMail::mnuRevChecksAtOnce()
{
    start("[MAIL_REV]\r\nREV_TIMER_MIN=5\r\n");
    for (int i = 0; i < 5; ++i) ctl_->Timer1_Timer();
    QCOMPARE(journal_.entries.count(QStringLiteral("hide")), 1);
    ctl_->mnuRev_Click();
    QCOMPARE(journal_.entries.count(QStringLiteral("hide")), 2);
    QCOMPARE(int(ctl_->TickCount()), 0);
}

void TestCheckMail::mnuOpenAfterEmptyCheck()
{
    start("[MAIL_REV]\r\nUNLOAD_TIMER_SEC=30\r\n");
    mM_CHKER::PageOffset = 3;
    clock_->advance(100);
    ctl_->mnuOpen_Click();
    QCOMPARE(journal_.entries, QStringList{QStringLiteral("show:fMail_Checker")});
    QCOMPARE(mM_CHKER::PageOffset, 0);
    QCOMPARE(mM_CHKER::CloseTimeText(), QStringLiteral("12:02:10"));
}

void TestCheckMail::autoClose_data()
{
    QTest::addColumn<int>("flag");
    QTest::addColumn<QDateTime>("openedAt");
    QTest::addColumn<int>("secondsLater");
    QTest::addColumn<bool>("closed");
    const QDateTime noon(QDate(2026, 12, 6), QTime(12, 0, 0));
    const QDateTime lateNight(QDate(2026, 12, 6), QTime(23, 59, 55));
    QTest::newRow("flag off") << 0 << noon << 60 << false;
    QTest::newRow("flag on, before") << 1 << noon << 9 << false;
    QTest::newRow("flag on, reached") << 1 << noon << 10 << true;
    QTest::newRow("across midnight, before") << 1 << lateNight << 5 << false;
    QTest::newRow("across midnight, 00:00:04") << 1 << lateNight << 9 << false;
    QTest::newRow("across midnight, 00:00:05") << 1 << lateNight << 10 << true;
}

void TestCheckMail::autoClose()
{
    QFETCH(int, flag);
    QFETCH(QDateTime, openedAt);
    QFETCH(int, secondsLater);
    QFETCH(bool, closed);
    start(QStringLiteral("[MAIL_REV]\r\nREV_TIMER_MIN=60\r\nUNLOAD_TIMER_SEC=10\r\n[ABOUT_PALAM]\r\nUNLOAD_FLAG=%1\r\n")
              .arg(flag)
              .toLatin1());
    clock_->set(openedAt);
    ctl_->mnuOpen_Click();
    forms_->Show(FormId::fMail_Top);
    forms_->Show(FormId::fMail_1);
    journal_.entries.clear();
    clock_->advance(secondsLater);
    ctl_->Timer2_Timer();
    const QStringList closing = {"unload:fMail_1", "unload:fMail_Top", "unload:fMail_Checker"};
    QCOMPARE(journal_.entries, closed ? closing : QStringList());
}

void TestCheckMail::autoCloseWaitsWhileNotifierHidden()
{
    start("[MAIL_REV]\r\nREV_TIMER_MIN=60\r\nUNLOAD_TIMER_SEC=10\r\n[ABOUT_PALAM]\r\nUNLOAD_FLAG=1\r\n");
    ctl_->mnuOpen_Click();
    forms_->Show(FormId::fMail_Top);
    forms_->Show(FormId::fMail_1);
    // "メール起動" takes the post box away; the stack it opened stays until the user closes it.
    ctl_->mnuMail_Click();
    journal_.entries.clear();
    clock_->advance(60);
    ctl_->Timer2_Timer();
    QCOMPARE(journal_.entries, QStringList());
    QVERIFY(forms_->IsLoaded(FormId::fMail_Top));
}

void TestCheckMail::settingsDialogStopsTheTimers()
{
    start();
    ctl_->mnuPropaty_Click();
    QCOMPARE(journal_.entries, (QStringList{"timers-off", "settings", "timers"}));
}

void TestCheckMail::detailWindowHoldsTheTimers()
{
    start("[MAIL_REV]\r\nREV_TIMER_MIN=3\r\nUNLOAD_TIMER_SEC=10\r\n[ABOUT_PALAM]\r\nUNLOAD_FLAG=1\r\n");
    ctl_->Timer1_Timer();
    ctl_->mnuOpen_Click();
    forms_->Show(FormId::fMail_Body);
    journal_.entries.clear();
    // Long past the close time and the check interval: nothing is counted, checked or closed.
    clock_->advance(60);
    for (int i = 0; i < 5; ++i) {
        ctl_->Timer1_Timer();
        ctl_->Timer2_Timer();
    }
    QCOMPARE(int(ctl_->TickCount()), 1);
    QCOMPARE(journal_.entries, QStringList());
    // "最新メール受信" still checks at once.
    ctl_->mnuRev_Click();
    QVERIFY(journal_.entries.contains(QStringLiteral("hide")));
    // Once the detail window is gone both count again.
    forms_->Unload(FormId::fMail_Body);
    ctl_->Timer1_Timer();
    QCOMPARE(int(ctl_->TickCount()), 1);
    clock_->advance(10);
    ctl_->Timer2_Timer();
    QVERIFY(!forms_->IsLoaded(FormId::fMail_Checker));
}

void TestCheckMail::manyChecksKeepNoFileOpen()
{
    start();
    ctl_->CheckMail();
    const int descriptors = OpenDescriptors();
    for (int check = 0; check < 30; ++check) {
        mail_->clear();
        for (int i = 0; i < 3; ++i)
            mail_->addMail(mailDir(), QStringLiteral("s%1").arg(i + 1),
                           mailFields(QStringLiteral("m"), QStringLiteral("f"),
                                      QStringLiteral("2026/12/06 10:%1:0%2").arg(check, 2, 10, QChar(u'0')).arg(i)));
        ctl_->CheckMail();
    }
    QCOMPARE(OpenDescriptors(), descriptors);
}

void TestCheckMail::mnuEndClosesEverythingInOrder()
{
    start();
    for (FormId f : {FormId::fMail_Checker, FormId::fMail_Body, FormId::fMail_Bot, FormId::fMail_Top, FormId::fMail_2,
                     FormId::fMail_1})
        forms_->Show(f);
    journal_.entries.clear();
    ctl_->mnuEnd_Click();
    const QStringList expected = {"unload:fMail_1",
                                  "unload:fMail_2",
                                  "unload:fMail_Top",
                                  "unload:fMail_Bot",
                                  "unload:fMail_Body",
                                  "unload:fMail_Checker",
                                  "tray-",
                                  "quit"};
    QCOMPARE(journal_.entries, expected);
}

void TestCheckMail::mnuMailWithoutHandler()
{
    start();
    forms_->Show(FormId::fMail_Checker);
    forms_->Show(FormId::fMail_Top);
    journal_.entries.clear();
    ctl_->mnuMail_Click();
    // The stack stays; only the notifier goes.
    QCOMPARE(journal_.entries, (QStringList{"start:", "unload:fMail_Checker", "hide"}));
}

QTEST_GUILESS_MAIN(TestCheckMail)
#include "tst_checkmail.moc"
