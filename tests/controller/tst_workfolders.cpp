#include "ChildRun.h"
#include "DiskFaults.h"
#include "WorkFolders.h"
#include "mReadINI.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace

class TestWorkFolders : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void fullDiskFailsStartNotLater();
    void failedPlaceholderCopyIsSaidOnce();
    void staleSettingsCopiesGoAtStart();

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

QTEST_GUILESS_MAIN(TestWorkFolders)
#include "tst_workfolders.moc"
