#include "tests/common/FileContents.h"
#include "tests/common/ChildRun.h"
#include "tests/common/DiskFaults.h"
#include "tests/common/OpenDescriptors.h"
#include "tests/common/StrangeFiles.h"
#include "controller/WorkFolders.h"
#include "settings/mReadINI.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

} // namespace

class TestWorkFolders : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void fullDiskFailsStartNotLater();
    void failedPlaceholderCopyIsSaidOnce();
    void staleSettingsCopiesGoAtStart();
    void unwritableDayLogStillRemembersKeys();
    void dayLogFollowsTheFile();
    void strangerAsDayLogIsLeftAlone_data() { AddStrangerRows(); }
    void strangerAsDayLogIsLeftAlone();
    void oldMailCopiesRemovedAtStart_data();
    void oldMailCopiesRemovedAtStart();

private:
    QString base() const { return dir_->path() + QStringLiteral("/maildata"); }
    std::unique_ptr<QTemporaryDir> dir_;
};

void TestWorkFolders::init()
{
    mReadINI::ResetForTests();
    dir_ = std::make_unique<QTemporaryDir>();
    WorkFolders::SetPaths(dir_->path(), QDate(2026, 12, 6));
}

void TestWorkFolders::fullDiskFailsStartNotLater()
{
    QString logError, repairError;
    bool logStarted = true, repaired = true;
    QVERIFY(QDir().mkpath(base() + QStringLiteral("/Dat")));
    {
        const FileSizeLimit diskFull(5);
        logStarted = WorkFolders::StartDayLog(&logError);
        repaired = WorkFolders::RepairInstallation(dir_->path(), &repairError);
    }
    QVERIFY(!logStarted);
    QVERIFY2(logError.contains(mReadINI::LogPath), qPrintable(logError));
    QVERIFY(!repaired);
    QVERIFY2(repairError.contains(QStringLiteral("Dummy.txt")), qPrintable(repairError));
    // A short placeholder would pass for a good one at every later start.
    QVERIFY(WorkFolders::RepairInstallation(dir_->path()));
    QVERIFY(readAll(base() + QStringLiteral("/Dummy/Dummy.txt")).startsWith("Ferrowick placeholder"));
    QVERIFY(readAll(base() + QStringLiteral("/Dummy/Dummy.txt")).endsWith("\r\n"));
}

void TestWorkFolders::failedPlaceholderCopyIsSaidOnce()
{
    QVERIFY(WorkFolders::RepairInstallation(dir_->path()));
    writeAll(base() + QStringLiteral("/fw-mail.txt"), "mail");
    const ChildResult child = RunInChild([] {
        const FileSizeLimit diskFull(3);
        int failures = 0;
        for (int i = 0; i < 3; ++i) failures += WorkFolders::PurgeReceiveFolder() ? 0 : 1;
        return failures;
    });
    QVERIFY(child.exited);
    QCOMPARE(child.code, 3);
    QCOMPARE(child.stderrText.count('\n'), 1);
    QVERIFY2(child.stderrText.contains("Dummy.txt"), child.stderrText.constData());
    // The mails go all the same, and no short copy stays behind.
    QCOMPARE(QDir(base()).entryList({QStringLiteral("*.txt")}, QDir::Files), QStringList());
}

void TestWorkFolders::staleSettingsCopiesGoAtStart()
{
    QVERIFY(QDir().mkpath(base() + QStringLiteral("/INI")));
    writeAll(base() + QStringLiteral("/INI/maildata.ini"), "[POP]\r\nPASS1=secret\r\n");
    writeAll(base() + QStringLiteral("/INI/maildata.ini.q7Rk2Z"), "[POP]\r\nPASS1=secret\r\n");
    writeAll(base() + QStringLiteral("/INI/notes.txt"), "mine");
    QVERIFY(WorkFolders::RepairInstallation(dir_->path()));
    QCOMPARE(QDir(base() + QStringLiteral("/INI")).entryList(QDir::Files), (QStringList{"maildata.ini", "notes.txt"}));
}

void TestWorkFolders::unwritableDayLogStillRemembersKeys()
{
    // Dat is a file, so the log cannot be created there, not even by root.
    QVERIFY(QDir().mkpath(base()));
    writeAll(base() + QStringLiteral("/Dat"), "not a folder");
    const ChildResult child = RunInChild([] {
        int wrong = 0;
        if (WorkFolders::StartDayLog()) wrong |= 1;
        if (WorkFolders::LookUpOrAppend(QStringLiteral("Time: 12/06 10:00:01"))) wrong |= 2;
        if (!WorkFolders::LookUpOrAppend(QStringLiteral("Time: 12/06 10:00:01"))) wrong |= 4;
        if (!WorkFolders::LookUpOrAppend(QStringLiteral(" Time: 12/06 10:00:01  "))) wrong |= 8;
        if (WorkFolders::LookUpOrAppend(QStringLiteral("Time: 12/06 10:00:02"))) wrong |= 16;
        return wrong;
    });
    QVERIFY(child.exited);
    QCOMPARE(child.code, 0);
    QCOMPARE(child.stderrText.count('\n'), 1);
    QVERIFY2(child.stderrText.contains("RevMail20261206.dat"), child.stderrText.constData());
}

void TestWorkFolders::dayLogFollowsTheFile()
{
    QVERIFY(WorkFolders::RepairInstallation(dir_->path()));
    QVERIFY(WorkFolders::StartDayLog());
    const auto append = [](const QByteArray& bytes) {
        QFile f(mReadINI::LogPath);
        QVERIFY(f.open(QIODevice::Append));
        f.write(bytes);
    };
    QVERIFY(WorkFolders::LookUpOrAppend(QStringLiteral("--- Write Start ---")));
    QVERIFY(!WorkFolders::LookUpOrAppend(QStringLiteral("k1")));
    QVERIFY(WorkFolders::LookUpOrAppend(QStringLiteral("k1")));
    QCOMPARE(readAll(mReadINI::LogPath), QByteArray("--- Write Start ---\r\nk1\r\n"));
    // Lines added by hand count, blanks around them ignored; so does an unfinished last line.
    append("  k2 \r\nk3");
    QVERIFY(WorkFolders::LookUpOrAppend(QStringLiteral("k2")));
    QVERIFY(WorkFolders::LookUpOrAppend(QStringLiteral("k3")));
    append("x\r\n");
    QVERIFY(WorkFolders::LookUpOrAppend(QStringLiteral("k3x")));
    QVERIFY(!WorkFolders::LookUpOrAppend(QStringLiteral("k4")));
    QVERIFY(readAll(mReadINI::LogPath).endsWith("k3x\r\nk4\r\n"));
    // One check's look-ups read the file once; lines added meanwhile count from the next check.
    // Our own lines are found at once, and a line of someone else's between them is not lost.
    append("k5\r\n");
    {
        const WorkFolders::DayLogBatch batch;
        QVERIFY(WorkFolders::LookUpOrAppend(QStringLiteral("k5")));
        QVERIFY(!WorkFolders::LookUpOrAppend(QStringLiteral("k6")));
        append("k7\r\n");
        QVERIFY(!WorkFolders::LookUpOrAppend(QStringLiteral("k8")));
        QVERIFY(WorkFolders::LookUpOrAppend(QStringLiteral("k6")));
    }
    QVERIFY(readAll(mReadINI::LogPath).endsWith("k5\r\nk6\r\nk7\r\nk8\r\n"));
    QVERIFY(WorkFolders::LookUpOrAppend(QStringLiteral("k7")));
    QVERIFY(WorkFolders::LookUpOrAppend(QStringLiteral("k8")));
    // A log replaced by another file is read anew.
    QFile::remove(mReadINI::LogPath);
    writeAll(mReadINI::LogPath, "k9\n");
    QVERIFY(WorkFolders::LookUpOrAppend(QStringLiteral("k9")));
    // A new start forgets the keys of the run before.
    QVERIFY(WorkFolders::StartDayLog());
    QVERIFY(!WorkFolders::LookUpOrAppend(QStringLiteral("k1")));
}

void TestWorkFolders::strangerAsDayLogIsLeftAlone()
{
    QFETCH(Stranger, stranger);
    QVERIFY(WorkFolders::RepairInstallation(dir_->path()));
    const PlantedStranger planted(mReadINI::LogPath, stranger);
    if (!planted.planted()) QSKIP("cannot plant it here (another user's file needs root)");
    const ChildResult child = RunInChild(
        [] {
            QString error;
            int wrong = WorkFolders::StartDayLog(&error) ? 1 : 0;
            if (!error.contains(mReadINI::LogPath)) wrong |= 2;
            // Announced once all the same: the keys live on in memory.
            if (WorkFolders::LookUpOrAppend(QStringLiteral("Time: 12/06 10:00:01"))) wrong |= 4;
            if (!WorkFolders::LookUpOrAppend(QStringLiteral("Time: 12/06 10:00:01"))) wrong |= 8;
            if (WorkFolders::LookUpOrAppend(QStringLiteral("Time: 12/06 10:00:02"))) wrong |= 16;
            return wrong;
        },
        5);
    QVERIFY2(child.exited, "the day log hung the start");
    QCOMPARE(child.code, 0);
    QVERIFY(planted.untouched());
    QCOMPARE(child.stderrText.count('\n'), 1);
}

void TestWorkFolders::oldMailCopiesRemovedAtStart_data()
{
    QTest::addColumn<QString>("cache");
    QTest::addColumn<bool>("emptied");
    QTest::newRow("a folder of ours") << "folder" << true;
    QTest::newRow("a link to a folder") << "link" << false;
    QTest::newRow("another user's folder") << "foreign" << false;
}

void TestWorkFolders::oldMailCopiesRemovedAtStart()
{
    QFETCH(QString, cache);
    QFETCH(bool, emptied);
    const QString target =
        cache == u"link" ? dir_->filePath(QStringLiteral("elsewhere")) : base() + QStringLiteral("/.fw-cache");
    QVERIFY(QDir().mkpath(target));
    QVERIFY(QDir().mkpath(base()));
    if (cache == u"link") QVERIFY(QFile::link(target, base() + QStringLiteral("/.fw-cache")));
    if (cache == u"foreign") {
        if (::geteuid() != 0) QSKIP("giving a folder to another user needs root");
        QCOMPARE(::chown(QFile::encodeName(target).constData(), 65534, 65534), 0);
    }
    const QString mail = QStringLiteral("fw-0123456789abcdef0123456789abcdef.txt");
    const QStringList others{"fw-0123456789ABCDEF0123456789ABCDEF.txt", "fw-0123456789abcdef0123456789abcde.txt",
                             "notes.txt", "fw-0123456789abcdef0123456789abcdef.txt.bak"};
    for (const QString& name : QStringList{mail} + others) writeAll(target + u'/' + name, "mail");
    writeAll(target + QStringLiteral("/fw-00000000000000000000000000000000.txt"), "mail");
    // Today's copies, kept across runs.
    const QString account = target + QStringLiteral("/acct-0123456789abcdef0123456789abcdef");
    QVERIFY(QDir().mkpath(account));
    writeAll(account + QStringLiteral("/fw-0123456789abcdef0123456789abcdef.txt"), "mail");

    const int descriptors = OpenDescriptors();
    QVERIFY(WorkFolders::RepairInstallation(dir_->path()));
    // Every start looks at the folder again, and leaves it closed.
    for (int start = 0; start < 20; ++start) QVERIFY(WorkFolders::RepairInstallation(dir_->path()));
    QCOMPARE(OpenDescriptors(), descriptors);
    QStringList expected = others;
    if (!emptied) expected << mail << "fw-00000000000000000000000000000000.txt";
    expected.sort();
    QCOMPARE(QDir(target).entryList(QDir::Files, QDir::Name), expected);
    QCOMPARE(QDir(account).entryList(QDir::Files), QStringList{"fw-0123456789abcdef0123456789abcdef.txt"});
}

QTEST_GUILESS_MAIN(TestWorkFolders)
#include "tst_workfolders.moc"
