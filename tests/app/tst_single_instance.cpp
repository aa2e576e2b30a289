#include "app/SingleInstance.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

Q_DECLARE_METATYPE(StartAction)

namespace {

using Role = SingleInstance::Role;

void writeFile(const QString& path, const QByteArray& data, const QDateTime& modified = {})
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
    if (modified.isValid()) QVERIFY(f.setFileTime(modified, QFileDevice::FileModificationTime));
}

qint64 deadPid()
{
    QProcess p;
    p.start(QStringLiteral("true"), {});
    p.waitForStarted();
    const qint64 pid = p.processId();
    p.waitForFinished();
    return pid;
}

// Runs `work` on a thread of its own, as another process would, while the test's event loop
// serves the guard.
class Other {
public:
    template <typename F>
    explicit Other(F work)
        : thread_([this, work] {
              ok_ = work();
              done_ = true;
          })
    {
    }
    ~Other() { thread_.join(); }
    bool done() const { return done_; }
    bool ok() const { return ok_; }

private:
    std::atomic<bool> ok_{false};
    std::atomic<bool> done_{false};
    std::thread thread_;
};

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void lock_data();
    void lock();
    void unwritableFolderRunsUnguarded();
    void releasedLockIsFreeAgain();
    void serverName();
    void requestsReachTheRunningInstance_data();
    void requestsReachTheRunningInstance();
    void quitWaitsUntilTheInstanceHasEnded();
    void nobodyListening();
    void socketLeftByAKilledInstanceIsReplaced();
    void strangeRequestsAreRefused();

private:
    QTemporaryDir runtime_;
};

void TestSingleInstance::initTestCase()
{
    qRegisterMetaType<StartAction>();
    qputenv("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit());
}

void TestSingleInstance::lock_data()
{
    QTest::addColumn<QString>("existing"); // the lock file found at start
    QTest::addColumn<Role>("role");
    QTest::newRow("no lock") << "" << Role::Primary;
    QTest::newRow("held by a live instance") << "live" << Role::Secondary;
    QTest::newRow("held by a live instance for an hour") << "live-old" << Role::Secondary;
    QTest::newRow("left by a killed instance") << "dead" << Role::Primary;
    QTest::newRow("cut short by a crash, long ago") << "empty-old" << Role::Primary;
    QTest::newRow("being written right now") << "empty-new" << Role::Secondary;
    QTest::newRow("left before a reboot") << "other-boot" << Role::Primary;
}

void TestSingleInstance::lock()
{
    QFETCH(QString, existing);
    QFETCH(Role, role);
    QTemporaryDir tmp;
    const QString lockPath = tmp.filePath(QStringLiteral("maildata/ferrowick.lock"));
    const QDateTime anHourAgo = QDateTime::currentDateTime().addSecs(-3600);
    std::unique_ptr<SingleInstance> first;
    if (existing.startsWith(QLatin1String("live"))) {
        first = std::make_unique<SingleInstance>(tmp.path());
        QCOMPARE(first->Acquire(), Role::Primary);
        if (existing == QLatin1String("live-old")) {
            QFile f(lockPath);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(anHourAgo, QFileDevice::FileModificationTime));
        }
    } else if (existing == QLatin1String("dead")) {
        const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
        writeFile(lockPath, QByteArray::number(deadPid()) + '\n' + QFileInfo(exe).fileName().toUtf8() + '\n' +
                                QSysInfo::machineHostName().toUtf8() + '\n');
    } else if (existing == QLatin1String("other-boot")) {
        // Our own live process id, but recorded during another boot of this machine.
        const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
        writeFile(lockPath,
                  QByteArray::number(QCoreApplication::applicationPid()) + '\n' + QFileInfo(exe).fileName().toUtf8() +
                      '\n' + QSysInfo::machineHostName().toUtf8() + '\n' + QSysInfo::machineUniqueId() +
                      "\nnot-this-boot\n",
                  anHourAgo);
    } else if (existing == QLatin1String("empty-old")) {
        writeFile(lockPath, {}, anHourAgo);
    } else if (existing == QLatin1String("empty-new")) {
        writeFile(lockPath, {});
    }
    SingleInstance second(tmp.path());
    QString why;
    QCOMPARE(second.Acquire(&why), role);
    QVERIFY(why.isEmpty());
    QCOMPARE(second.LockPath(), lockPath);
    if (role == Role::Primary) QVERIFY(QFile::exists(lockPath));
}

void TestSingleInstance::unwritableFolderRunsUnguarded()
{
    // Even root cannot create folders under /proc.
    SingleInstance guard(QStringLiteral("/proc/ferrowick-test-%1").arg(::getpid()));
    QString why;
    QCOMPARE(guard.Acquire(&why), Role::Unguarded);
    QVERIFY(!why.isEmpty());
    QString error;
    QVERIFY(!guard.Listen(&error));
}

void TestSingleInstance::releasedLockIsFreeAgain()
{
    QTemporaryDir tmp;
    {
        SingleInstance first(tmp.path());
        QCOMPARE(first.Acquire(), Role::Primary);
    }
    SingleInstance second(tmp.path());
    QCOMPARE(second.Acquire(), Role::Primary);
}

void TestSingleInstance::serverName()
{
    QTemporaryDir tmp;
    QDir().mkpath(tmp.filePath(QStringLiteral("a")));
    QDir().mkpath(tmp.filePath(QStringLiteral("b")));
    QVERIFY(QFile::link(tmp.filePath(QStringLiteral("a")), tmp.filePath(QStringLiteral("link"))));
    const QString a = SingleInstance::ServerNameFor(tmp.filePath(QStringLiteral("a")));
    QCOMPARE(SingleInstance::ServerNameFor(tmp.filePath(QStringLiteral("a/"))), a);
    QCOMPARE(SingleInstance::ServerNameFor(tmp.filePath(QStringLiteral("b/../a"))), a);
    QCOMPARE(SingleInstance::ServerNameFor(tmp.filePath(QStringLiteral("link"))), a);
    QVERIFY(SingleInstance::ServerNameFor(tmp.filePath(QStringLiteral("b"))) != a);
    QVERIFY2(QFileInfo(a).fileName().startsWith(QStringLiteral("ferrowick-%1-").arg(::getuid())), qPrintable(a));
    QCOMPARE(QFileInfo(a).path(), runtime_.path());
    // A Unix socket's path has room for 107 bytes.
    QVERIFY(a.toLocal8Bit().size() < 108);
}

void TestSingleInstance::requestsReachTheRunningInstance_data()
{
    QTest::addColumn<StartAction>("action");
    QTest::newRow("open") << StartAction::Open;
    QTest::newRow("check") << StartAction::Check;
    QTest::newRow("settings") << StartAction::Settings;
}

void TestSingleInstance::requestsReachTheRunningInstance()
{
    QFETCH(StartAction, action);
    QTemporaryDir tmp;
    SingleInstance running(tmp.path());
    QCOMPARE(running.Acquire(), Role::Primary);
    QVERIFY(running.Listen());
    QSignalSpy spy(&running, &SingleInstance::requested);
    const QString folder = tmp.path();
    Other later([folder, action] {
        SingleInstance guard(folder);
        return guard.Acquire() == Role::Secondary && guard.Send(action);
    });
    QTRY_VERIFY(later.done());
    QVERIFY(later.ok());
    QTRY_COMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<StartAction>(), action);
}

void TestSingleInstance::quitWaitsUntilTheInstanceHasEnded()
{
    QTemporaryDir tmp;
    auto running = std::make_unique<SingleInstance>(tmp.path());
    QCOMPARE(running->Acquire(), Role::Primary);
    QVERIFY(running->Listen());
    QSignalSpy spy(running.get(), &SingleInstance::requested);
    const QString folder = tmp.path();
    Other later([folder] { return SingleInstance(folder).Send(StartAction::Quit); });
    QTRY_COMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<StartAction>(), StartAction::Quit);
    QTest::qWait(300);
    QVERIFY2(!later.done(), "--quit returned before the instance had ended");
    running.reset();
    QTRY_VERIFY(later.done());
    QVERIFY(later.ok());
    // Ended means the folder is free for the next start.
    SingleInstance next(tmp.path());
    QCOMPARE(next.Acquire(), Role::Primary);
}

void TestSingleInstance::nobodyListening()
{
    QTemporaryDir tmp;
    SingleInstance guard(tmp.path());
    QString error;
    QVERIFY(!guard.Send(StartAction::Open, &error, 300));
    QVERIFY(!error.isEmpty());
}

void TestSingleInstance::socketLeftByAKilledInstanceIsReplaced()
{
    QTemporaryDir tmp;
    SingleInstance guard(tmp.path());
    // A listening socket whose process is gone: the file stays behind.
    const QByteArray path = guard.ServerName().toLocal8Bit();
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    QCOMPARE(::listen(fd, 1), 0);
    ::close(fd);
    QVERIFY(QFileInfo::exists(guard.ServerName()));
    QCOMPARE(guard.Acquire(), Role::Primary);
    QString error;
    QVERIFY2(guard.Listen(&error), qPrintable(error));
}

void TestSingleInstance::strangeRequestsAreRefused()
{
    QTemporaryDir tmp;
    SingleInstance running(tmp.path());
    QCOMPARE(running.Acquire(), Role::Primary);
    QVERIFY(running.Listen());
    QSignalSpy spy(&running, &SingleInstance::requested);
    const QString name = running.ServerName();
    std::atomic<int> step{0};
    QByteArray reply;
    Other stranger([&] {
        QLocalSocket unknown;
        unknown.connectToServer(name);
        if (!unknown.waitForConnected(3000)) return false;
        unknown.write("frobnicate\n");
        while (!unknown.canReadLine())
            if (!unknown.waitForReadyRead(3000)) return false;
        reply = unknown.readLine().trimmed();
        // Endless bytes without a line end: the instance hangs up instead of collecting them.
        QLocalSocket flood;
        flood.connectToServer(name);
        if (!flood.waitForConnected(3000)) return false;
        flood.write(QByteArray(4096, 'x'));
        flood.waitForBytesWritten(3000);
        return flood.waitForDisconnected(3000);
    });
    QTRY_VERIFY(stranger.done());
    QVERIFY(stranger.ok());
    QCOMPARE(reply, QByteArray("unknown"));
    QCOMPARE(spy.count(), 0);
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"
