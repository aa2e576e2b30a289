// Mails fetched survive a restart in the receive folder's private cache; a copy is used only
// when it is whole, ours and of the same account, and it goes when its mail leaves the server.
#include "tests/maillib/FakePop3Server.h"
#include "maillib/MailLibInternal.h"
#include "tests/maillib/TestSupport.h"

#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

const QStringList kLogin{"CAPA", "USER u@example.jp", "PASS secret"};
constexpr char kIndexName[] = "restart-index";

std::string MailFor(const std::string& uid, const std::string& account = "one")
{
    return "From: someone@example.com\r\nSubject: " + uid + " of " + account + "\r\n\r\nbody of " + uid + "\r\n";
}

std::vector<FakeMail> Mailbox(const QStringList& uids, const std::string& account = "one")
{
    std::vector<FakeMail> mails;
    for (const auto& u : uids) mails.push_back({u.toStdString(), MailFor(u.toStdString(), account)});
    return mails;
}

QString Dialogue(const QStringList& commands) { return (kLogin + commands).join(" | "); }

QString LastDialogue(const FakePop3Server& s)
{
    QStringList commands;
    for (const auto& c : s.lastTranscript()) commands << QString::fromStdString(c);
    return commands.join(" | ");
}

unsigned ModeOf(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : ~0u;
}

// As a new process would start: nothing remembered but what is on disk.
void Restart() { maillib::internal::ForgetProcessState(); }

} // namespace

class TestMailCache : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        maillib::internal::ResetState();
        maillib::internal::Limits l;
        l.connect = 1000ms;
        l.total = 3000ms;
        maillib::internal::SetLimits(l);
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
    }

    void cleanup() { maillib::internal::ResetState(); }

    void restartReadsCopiesAndDropsThoseOfMailsGone()
    {
        FakePop3Server s;
        s.setMails(Mailbox({"a", "b", "c"}));
        QVERIFY(s.start());
        QVERIFY(check(s));
        QCOMPARE(LastDialogue(s),
                 Dialogue({"UIDL", "LIST", "TOP 3 1000000", "TOP 2 1000000", "TOP 1 1000000", "QUIT"}));
        QCOMPARE(copies().size(), 3);
        for (const QString& copy : copies()) {
            QCOMPARE(ModeOf(copy), 0600u);
            QCOMPARE(ModeOf(QFileInfo(copy).path()), 0700u);
        }
        QCOMPARE(QFileInfo(copies().first()).dir().path().section(u'/', -2, -2), QStringLiteral(".fw-cache"));

        // The last listing's index stands in for a listing: the steady check's question.
        Restart();
        auto refs = check(s);
        QVERIFY(refs);
        QCOMPARE(LastDialogue(s), Dialogue({"STAT", "UIDL 3", "QUIT"}));
        QCOMPARE(contents(*refs), (std::vector<std::string>{MailFor("c"), MailFor("b"), MailFor("a")}));

        // Deleted while the program was not running: its copy goes at the first check.
        Restart();
        s.setMails(Mailbox({"a", "c"}));
        refs = check(s);
        QCOMPARE(LastDialogue(s), Dialogue({"STAT", "UIDL", "QUIT"}));
        QCOMPARE(contents(*refs), (std::vector<std::string>{MailFor("c"), MailFor("a")}));
        QCOMPARE(copies().size(), 2);

        // Deleted while it runs.
        s.setMails(Mailbox({"c"}));
        QVERIFY(check(s));
        QCOMPARE(copies().size(), 1);
        Restart();
        s.setMails({});
        QVERIFY(check(s));
        QCOMPARE(copies(), QStringList());
    }

    void badCopyIsFetchedAgain_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("truncated") << "truncate";
        QTest::newRow("one byte changed") << "flip";
        QTest::newRow("grown") << "append";
        QTest::newRow("emptied") << "empty";
        QTest::newRow("a link to a file elsewhere with the same bytes") << "symlink";
        QTest::newRow("a folder in its place") << "folder";
        QTest::newRow("another user's file") << "foreign";
        QTest::newRow("unreadable to us") << "unreadable";
        QTest::newRow("the same mail under another id's name") << "renamed";
    }

    void badCopyIsFetchedAgain()
    {
        QFETCH(QString, damage);
        FakePop3Server s;
        s.setMails(Mailbox({"a", "b"}));
        QVERIFY(s.start());
        QVERIFY(check(s));
        const QStringList before = copies();
        QCOMPARE(before.size(), 2);
        // The copy of "b": the one whose bytes are b's.
        const QString copyB = FileBytes(before[0].toStdString()) == MailFor("b") ? before[0] : before[1];
        const QString copyA = copyB == before[0] ? before[1] : before[0];
        const QString outside = dir_->path() + QStringLiteral("/outside");
        const QByteArray goodB = QByteArray::fromStdString(MailFor("b"));

        auto rewrite = [&](const QByteArray& bytes) {
            QFile f(copyB);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(bytes);
        };
        if (damage == u"truncate") rewrite(goodB.left(goodB.size() - 3));
        if (damage == u"flip") rewrite(QByteArray(goodB).replace("body", "BODY"));
        if (damage == u"append") rewrite(goodB + "X-Evil: 1\r\n");
        if (damage == u"empty") rewrite({});
        if (damage == u"symlink" || damage == u"folder") {
            QFile f(outside);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(goodB);
            f.close();
            QVERIFY(QFile::remove(copyB));
            if (damage == u"symlink") QVERIFY(QFile::link(outside, copyB));
            else QVERIFY(QDir().mkdir(copyB));
        }
        if (damage == u"foreign" || damage == u"unreadable") {
            if (::geteuid() != 0) {
                if (damage == u"foreign") QSKIP("giving a file to another user needs root");
                QCOMPARE(::chmod(QFile::encodeName(copyB).constData(), 0), 0);
            } else {
                // Root reads any mode, so both rows make it another user's.
                QCOMPARE(::chown(QFile::encodeName(copyB).constData(), 65534, 65534), 0);
            }
        }
        if (damage == u"renamed") {
            // a's bytes under b's name: the name's tag does not match what it holds.
            QVERIFY(QFile::remove(copyB));
            QVERIFY(QFile::copy(copyA, copyB));
        }

        Restart();
        auto refs = check(s);
        QVERIFY(refs);
        QCOMPARE(LastDialogue(s), Dialogue({"STAT", "UIDL 2", "LIST", "TOP 2 1000000", "QUIT"}));
        QCOMPARE(contents(*refs), (std::vector<std::string>{MailFor("b"), MailFor("a")}));
        // The bad copy is gone, a good one in its place; what lay outside is untouched.
        QCOMPARE(copies().size(), 2);
        for (const QString& copy : copies()) QVERIFY(QFileInfo(copy).isFile() && !QFileInfo(copy).isSymLink());
        if (damage == u"symlink" || damage == u"folder") QCOMPARE(FileBytes(outside.toStdString()), MailFor("b"));
        Restart();
        QVERIFY(check(s));
        QCOMPARE(LastDialogue(s), Dialogue({"STAT", "UIDL 2", "QUIT"}));
    }

    void unsoundIndexIsDroppedAndTheMailboxListed_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("one byte changed") << "flip";
        QTest::newRow("truncated") << "truncate";
        QTest::newRow("emptied") << "empty";
        QTest::newRow("another account's") << "foreign";
        QTest::newRow("readable by others") << "mode";
        QTest::newRow("another user's file") << "owner";
        QTest::newRow("a link to an index elsewhere") << "symlink";
    }

    void unsoundIndexIsDroppedAndTheMailboxListed()
    {
        QFETCH(QString, damage);
        FakePop3Server s, other;
        s.setMails(Mailbox({"a", "b"}));
        other.setMails(Mailbox({"a", "b"}, "two"));
        QVERIFY(s.start() && other.start());
        QVERIFY(check(s));
        QVERIFY(check(other));
        // The folders' names are hashes of the accounts: which is whose, their copies say.
        const bool firstIsOne = FileBytes(copies().first().toStdString()).find(" of one") != std::string::npos;
        const QString index = QFileInfo(firstIsOne ? copies().first() : copies().last()).dir().filePath(kIndexName);
        const QString otherIndex =
            QFileInfo(firstIsOne ? copies().last() : copies().first()).dir().filePath(kIndexName);
        QVERIFY(index != otherIndex);
        QCOMPARE(ModeOf(index), 0600u);
        QFile f(index);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray bytes = f.readAll();
        f.close();
        const QString outside = dir_->path() + QStringLiteral("/outside");
        auto rewrite = [&](const QByteArray& to) {
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(to);
            f.close();
        };
        if (damage == u"flip") rewrite(bytes.replace(bytes.size() - 1, 1, bytes.endsWith('1') ? "2" : "1"));
        if (damage == u"truncate") rewrite(bytes.left(bytes.size() - 5));
        if (damage == u"empty") rewrite({});
        if (damage == u"foreign") QVERIFY(QFile::remove(index) && QFile::copy(otherIndex, index));
        if (damage == u"mode") QCOMPARE(::chmod(QFile::encodeName(index).constData(), 0644), 0);
        if (damage == u"owner") {
            if (::geteuid() != 0) QSKIP("giving a file to another user needs root");
            QCOMPARE(::chown(QFile::encodeName(index).constData(), 65534, 65534), 0);
        }
        if (damage == u"symlink") QVERIFY(QFile::rename(index, outside) && QFile::link(outside, index));

        Restart();
        auto refs = check(s);
        QVERIFY(refs);
        // Listed as without an index; the copies, sound, are still used.
        QCOMPARE(LastDialogue(s), Dialogue({"UIDL", "QUIT"}));
        QCOMPARE(contents(*refs), (std::vector<std::string>{MailFor("b"), MailFor("a")}));
        QVERIFY(!QFileInfo(index).isSymLink());
        QCOMPARE(ModeOf(index), 0600u);
        if (damage == u"symlink") QCOMPARE(FileBytes(outside.toStdString()), bytes.toStdString());
        Restart();
        QVERIFY(check(s));
        QCOMPARE(LastDialogue(s), Dialogue({"STAT", "UIDL 2", "QUIT"}));
    }

    void neverAnotherAccountsMail()
    {
        // Two accounts whose servers give the same ids to different mails.
        FakePop3Server one, two;
        one.setMails(Mailbox({"a"}, "one"));
        two.setMails(Mailbox({"a"}, "two"));
        QVERIFY(one.start() && two.start());
        QVERIFY(check(one));
        QVERIFY(check(two));
        QCOMPARE(copies().size(), 2);
        const QString copyOne = FileBytes(copies()[0].toStdString()) == MailFor("a", "one") ? copies()[0] : copies()[1];
        const QString copyTwo = copyOne == copies()[0] ? copies()[1] : copies()[0];
        QVERIFY(QFileInfo(copyOne).dir() != QFileInfo(copyTwo).dir());

        // Account two's copy put where account one keeps its own: under one's name, and under its own.
        QVERIFY(QFile::remove(copyOne));
        QVERIFY(QFile::copy(copyTwo, copyOne));
        QVERIFY(QFile::copy(copyTwo, QFileInfo(copyOne).dir().filePath(QFileInfo(copyTwo).fileName())));
        Restart();
        auto refs = check(one);
        QVERIFY(refs);
        QCOMPARE(LastDialogue(one), Dialogue({"STAT", "UIDL 1", "LIST", "TOP 1 1000000", "QUIT"}));
        QCOMPARE(contents(*refs), std::vector<std::string>{MailFor("a", "one")});
        QCOMPARE(QDir(QFileInfo(copyOne).path()).entryList(QDir::Files),
                 (QStringList{QFileInfo(copyOne).fileName(), kIndexName}));
        refs = check(two);
        QCOMPARE(LastDialogue(two), Dialogue({"STAT", "UIDL 1", "QUIT"}));
        QCOMPARE(contents(*refs), std::vector<std::string>{MailFor("a", "two")});
    }

    void accountFolderTakenByALinkIsNeitherReadNorWritten()
    {
        FakePop3Server s;
        s.setMails(Mailbox({"a"}));
        QVERIFY(s.start());
        QVERIFY(check(s));
        const QString account = QFileInfo(copies().first()).path();
        const QString outside = dir_->path() + QStringLiteral("/outside");
        QVERIFY(QDir().rename(account, outside));
        QVERIFY(QFile::link(outside, account));
        const QStringList planted = QDir(outside).entryList(QDir::Files);

        Restart();
        auto refs = check(s);
        QVERIFY(refs);
        QCOMPARE(LastDialogue(s), Dialogue({"UIDL", "LIST", "TOP 1 1000000", "QUIT"}));
        QCOMPARE(contents(*refs), std::vector<std::string>{MailFor("a")});
        QCOMPARE(QDir(outside).entryList(QDir::Files), planted);
        QVERIFY(QFileInfo(account).isSymLink());
    }

    void cacheIsBoundedPerAccount()
    {
        FakePop3Server s;
        s.setMails(Mailbox({"a", "b", "c", "d"}));
        QVERIFY(s.start());
        auto l = maillib::internal::GetLimits();
        l.cacheBudget = 2 * MailFor("a").size();
        maillib::internal::SetLimits(l);
        QVERIFY(check(s));
        QCOMPARE(copies().size(), 2);
        // Past the budget a mail is not kept: it is fetched again, the kept ones are not.
        Restart();
        auto refs = check(s);
        QVERIFY(refs);
        QCOMPARE(LastDialogue(s), Dialogue({"STAT", "UIDL 4", "LIST", "TOP 2 1000000", "TOP 1 1000000", "QUIT"}));
        QCOMPARE(contents(*refs), (std::vector<std::string>{MailFor("d"), MailFor("c"), MailFor("b"), MailFor("a")}));
        QCOMPARE(copies().size(), 2);
    }

    void onlyTheNewestMailsAreKept()
    {
        // A caller that places the newest two: only they are fetched and kept, and a copy
        // goes once newer mails push its mail out, on disk as in memory.
        FakePop3Server s;
        s.setMails(Mailbox({"a", "b", "c", "d"}));
        QVERIFY(s.start());
        auto refs = checkNewest(s, 2);
        QVERIFY(refs);
        QCOMPARE(LastDialogue(s), Dialogue({"UIDL", "LIST", "TOP 4 1000000", "TOP 3 1000000", "QUIT"}));
        QCOMPARE(contents(*refs),
                 (std::vector<std::string>{MailFor("d"), MailFor("c"), "<unreadable>", "<unreadable>"}));
        QCOMPARE(copies().size(), 2);
        s.setMails(Mailbox({"a", "b", "c", "d", "e"}));
        QVERIFY(checkNewest(s, 2));
        QCOMPARE(LastDialogue(s), Dialogue({"STAT", "UIDL", "LIST", "TOP 5 1000000", "QUIT"}));
        QCOMPARE(copies().size(), 2);
        QCOMPARE(maillib::internal::StatsFor(Plain(s), "u@example.jp").cachedMails, size_t(2));
        for (const QString& copy : copies()) QVERIFY(FileBytes(copy.toStdString()) != MailFor("c"));
        // A restart takes in the copies of the newest two only.
        Restart();
        refs = checkNewest(s, 2);
        QCOMPARE(LastDialogue(s), Dialogue({"STAT", "UIDL 5", "QUIT"}));
        QCOMPARE(contents(*refs).front(), MailFor("e"));
    }

    void copiesOfAccountsNotKeptAreRemoved()
    {
        FakePop3Server one, two;
        one.setMails(Mailbox({"a", "b"}, "one"));
        two.setMails(Mailbox({"a"}, "two"));
        QVERIFY(one.start() && two.start());
        QVERIFY(check(one));
        QVERIFY(check(two));
        QCOMPARE(copies().size(), 3);
        // A link in the cache that looks like an account's folder is removed, not followed.
        QDir().mkdir(dir_->path() + QStringLiteral("/outside"));
        QFile planted(dir_->path() + QStringLiteral("/outside/keep"));
        QVERIFY(planted.open(QIODevice::WriteOnly));
        planted.close();
        const QString link = dir_->path() + QStringLiteral("/.fw-cache/acct-0123456789abcdef0123456789abcdef");
        QVERIFY(QFile::link(dir_->path() + QStringLiteral("/outside"), link));

        Restart();
        const std::string folder = dir_->path().toStdString();
        // As the program hands its settings over: blanks around the texts, other accounts empty.
        maillib::KeepCachedMailsOnlyOf(folder, {{" " + Plain(one) + " ", "u@example.jp "}, {"", ""}});
        QCOMPARE(copies().size(), 2);
        for (const QString& copy : copies())
            QVERIFY(FileBytes(copy.toStdString()).find(" of one") != std::string::npos);
        QVERIFY(QFile::exists(dir_->path() + QStringLiteral("/outside/keep")));
        maillib::KeepCachedMailsOnlyOf(folder, {});
        QCOMPARE(copies(), QStringList());
        QCOMPARE(QDir(dir_->path() + QStringLiteral("/.fw-cache"))
                     .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
                 QStringList{QFileInfo(link).fileName()});
        QVERIFY(QFile::exists(dir_->path() + QStringLiteral("/outside/keep")));
    }

private:
    maillib::MailList check(const FakePop3Server& s)
    {
        return Receive(Plain(s), "u@example.jp", "secret", dir_->path());
    }
    maillib::MailList checkNewest(const FakePop3Server& s, size_t placeFirst)
    {
        std::string server = Plain(s), user = "u@example.jp", password = "secret", mode = "SAVEALL",
                    folder = dir_->path().toStdString();
        maillib::AccountStatus status;
        return maillib::RcvMail(server, user, password, mode, folder, status, placeFirst);
    }

    // Every regular file under the cache folder but the accounts' restart indexes, links not
    // followed.
    QStringList copies() const
    {
        QStringList out;
        QDirIterator it(dir_->path() + QStringLiteral("/.fw-cache"), QDir::Files | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (!QFileInfo(path).isSymLink() && it.fileName() != QLatin1String(kIndexName)) out << path;
        }
        out.sort();
        return out;
    }

    // The mails' bytes, and their files removed as the program does after reading them.
    static std::vector<std::string> contents(const std::vector<std::string>& refs)
    {
        std::vector<std::string> out;
        for (const auto& ref : refs) {
            out.push_back(FileBytes(ref));
            QFile::remove(QString::fromStdString(ref));
        }
        return out;
    }

    std::unique_ptr<QTemporaryDir> dir_;
};

QTEST_GUILESS_MAIN(TestMailCache)
#include "tst_mailcache.moc"
