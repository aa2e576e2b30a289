#include "app/SingleInstance.h"
#include "tests/common/FileContents.h"
#include "tests/common/StrangeFiles.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QTest>
#include <atomic>
#include <csignal>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
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

sockaddr_un addressOf(const QString& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::memcpy(address.sun_path, name.constData(), std::min(sizeof address.sun_path - 1, size_t(name.size())));
    return address;
}

// A forked child: `body`'s return is its exit code; it is killed after ten seconds at most.
// `ready` is written once it has set itself up (the parent waits for that).
class Child {
public:
    template <typename F> explicit Child(F body)
    {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0) return;
        std::fflush(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(pipeFds[0]);
            ::alarm(10);
            ::_exit(body(pipeFds[1]));
        }
        ::close(pipeFds[1]);
        char byte;
        ready_ = ::read(pipeFds[0], &byte, 1) == 1;
        ::close(pipeFds[0]);
    }
    ~Child()
    {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    static void SayReady(int fd) { [[maybe_unused]] const ssize_t n = ::write(fd, "r", 1); }
    bool ready() const { return ready_; }
    bool running() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }

private:
    pid_t pid_ = -1;
    bool ready_ = false;
};

constexpr uid_t kNobody = 65534;

bool becomeNobody()
{
    return ::setresgid(kNobody, kNobody, kNobody) == 0 && ::setresuid(kNobody, kNobody, kNobody) == 0;
}

// A folder (not a link) of ours that nobody else may enter.
bool isPrivateFolder(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 077) == 0;
}

int openDescriptors()
{
    return static_cast<int>(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}

// The first start of a folder: it holds the lock and listens.
struct Running {
    QTemporaryDir folder;
    SingleInstance instance{folder.path()};
    bool listening = instance.Acquire() == SingleInstance::Role::Primary && instance.Listen();
    QSignalSpy requests{&instance, &SingleInstance::requested};
};

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
    void strangerInPlaceOfTheLock_data() { AddStrangerRows(); }
    void strangerInPlaceOfTheLock();
    void lockFolderWithSomethingInItRunsUnguarded();
    void unwritableFolderRunsUnguarded();
    void releasedLockIsFreeAgain();
    void serverName();
    void requestsReachTheRunningInstance_data();
    void requestsReachTheRunningInstance();
    void quitWaitsUntilTheInstanceHasEnded();
    void nobodyListening();
    void socketLeftByAKilledInstanceIsReplaced();
    void strangeRequestsAreRefused();
    void socketFolderIsOursAlone_data();
    void socketFolderIsOursAlone();
    void folderOfAnotherUserFailsAtOnce();
    void listenerOfAnotherUserIsRefused();
    void clientOfAnotherUserIsHungUpOn();
    void idleFloodNeitherExhaustsNorEndsTheListener();
    void busyInstanceIsAskedAgain();

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
    // Only a live holder counts: whatever the file says, nobody holds it.
    QTest::newRow("empty, nobody holds it") << "empty-new" << Role::Primary;
    QTest::newRow("left before a reboot") << "other-boot" << Role::Primary;
    QTest::newRow("garbage") << "garbage" << Role::Primary;
    QTest::newRow("copied with cp -a from a folder in use") << "copied" << Role::Primary;
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
    } else if (existing == QLatin1String("garbage")) {
        writeFile(lockPath, QByteArray("\xff\xfe garbage\n\0\0 12x\n", 18));
    }
    std::unique_ptr<QTemporaryDir> original;
    if (existing == QLatin1String("copied")) {
        // The running original's lock names a live process: this one.
        original = std::make_unique<QTemporaryDir>();
        first = std::make_unique<SingleInstance>(original->path());
        QCOMPARE(first->Acquire(), Role::Primary);
        QCOMPARE(QProcess::execute(QStringLiteral("cp"),
                                   {QStringLiteral("-a"), original->filePath(QStringLiteral("maildata")), tmp.path()}),
                 0);
        QVERIFY(QFileInfo::exists(lockPath));
    }
    SingleInstance second(tmp.path());
    QString why;
    QCOMPARE(second.Acquire(&why), role);
    QVERIFY(why.isEmpty());
    QCOMPARE(second.LockPath(), lockPath);
    if (role == Role::Primary) {
        // For people: who holds it, and which folder it guards.
        const QList<QByteArray> lines = readAll(lockPath).split('\n');
        QVERIFY(lines.size() >= 2);
        QCOMPARE(lines[0], QByteArray::number(QCoreApplication::applicationPid()));
        QCOMPARE(QString::fromUtf8(lines[1]), QFileInfo(tmp.path()).canonicalFilePath());
    }
}

void TestSingleInstance::strangerInPlaceOfTheLock()
{
    QFETCH(Stranger, stranger);
    QTemporaryDir tmp;
    SingleInstance guard(tmp.path());
    const PlantedStranger planted(guard.LockPath(), stranger);
    if (!planted.planted()) QSKIP("cannot plant it here (another user's file needs root)");
    QString why;
    QCOMPARE(guard.Acquire(&why), Role::Primary);
    QVERIFY(planted.untouched());
    QVERIFY(QFileInfo(guard.LockPath()).isFile() && !QFileInfo(guard.LockPath()).isSymLink());
    // Really held: a second start is turned away.
    QCOMPARE(SingleInstance(tmp.path()).Acquire(), Role::Secondary);
}

void TestSingleInstance::lockFolderWithSomethingInItRunsUnguarded()
{
    QTemporaryDir tmp;
    SingleInstance guard(tmp.path());
    writeFile(guard.LockPath() + QStringLiteral("/kept.txt"), "someone's file");
    QString why;
    QCOMPARE(guard.Acquire(&why), Role::Unguarded);
    QVERIFY2(why.contains(guard.LockPath()) && why.contains(QStringLiteral("folder")), qPrintable(why));
    QVERIFY(QFileInfo::exists(guard.LockPath() + QStringLiteral("/kept.txt")));
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
    Running r;
    QVERIFY(r.listening);
    const QString folder = r.folder.path();
    Other later([folder, action] {
        SingleInstance guard(folder);
        return guard.Acquire() == Role::Secondary && guard.Send(action);
    });
    QTRY_VERIFY(later.done());
    QVERIFY(later.ok());
    QTRY_COMPARE(r.requests.count(), 1);
    QCOMPARE(r.requests.at(0).at(0).value<StartAction>(), action);
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
    Running r;
    QVERIFY(r.listening);
    const QString name = r.instance.ServerName();
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
    QCOMPARE(r.requests.count(), 0);
}

void TestSingleInstance::socketFolderIsOursAlone_data()
{
    QTest::addColumn<QString>("runtime"); // what XDG_RUNTIME_DIR holds
    QTest::newRow("unset") << QString();
    QTest::newRow("open to everyone") << QStringLiteral("shared");
    QTest::newRow("another user's folder") << QStringLiteral("foreign");
    QTest::newRow("a link to a folder of ours") << QStringLiteral("link");
    QTest::newRow("not absolute") << QStringLiteral("relative");
}

void TestSingleInstance::socketFolderIsOursAlone()
{
    QFETCH(QString, runtime);
    QTemporaryDir tmp, temp;
    const QByteArray savedTemp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(temp.path()));
    if (runtime == QLatin1String("shared")) {
        QDir().mkpath(tmp.filePath(runtime));
        QVERIFY(::chmod(QFile::encodeName(tmp.filePath(runtime)).constData(), 01777) == 0);
    } else if (runtime == QLatin1String("foreign")) {
        QDir().mkpath(tmp.filePath(runtime));
        if (::chown(QFile::encodeName(tmp.filePath(runtime)).constData(), kNobody, kNobody) != 0)
            QSKIP("giving a folder away needs root");
    } else if (runtime == QLatin1String("link")) {
        QVERIFY(QFile::link(runtime_.path(), tmp.filePath(runtime)));
    }
    if (runtime.isEmpty()) qunsetenv("XDG_RUNTIME_DIR");
    else if (runtime == QLatin1String("relative")) qputenv("XDG_RUNTIME_DIR", "run/user");
    else qputenv("XDG_RUNTIME_DIR", QFile::encodeName(tmp.filePath(runtime)));

    SingleInstance running(tmp.path());
    QCOMPARE(running.Acquire(), Role::Primary);
    QString error;
    QVERIFY2(running.Listen(&error), qPrintable(error));
    const QString folder = QFileInfo(running.ServerName()).path();
    QVERIFY2(isPrivateFolder(folder), qPrintable(folder));
    QCOMPARE(folder, temp.filePath(QStringLiteral("ferrowick-%1").arg(::geteuid())));
    const QString path = tmp.path();
    Other later([path] { return SingleInstance(path).Send(StartAction::Open, nullptr, 3000); });
    QTRY_VERIFY(later.done());
    QVERIFY(later.ok());
    qputenv("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit());
    qputenv("TMPDIR", savedTemp);
}

void TestSingleInstance::folderOfAnotherUserFailsAtOnce()
{
    QTemporaryDir tmp, temp;
    const QByteArray savedTemp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(temp.path()));
    qunsetenv("XDG_RUNTIME_DIR");
    // Another user got there first, in the temporary folder everyone may write.
    const QString taken = temp.filePath(QStringLiteral("ferrowick-%1").arg(::geteuid()));
    QVERIFY(QDir().mkpath(taken));
    const bool givenAway = ::chown(QFile::encodeName(taken).constData(), kNobody, kNobody) == 0;
    SingleInstance running(tmp.path());
    QCOMPARE(running.Acquire(), Role::Primary);
    QString listenError, sendError;
    const bool listened = running.Listen(&listenError);
    QElapsedTimer clock;
    clock.start();
    const bool sent = SingleInstance(tmp.path()).Send(StartAction::Quit, &sendError, 3000);
    const qint64 took = clock.elapsed();
    qputenv("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit());
    qputenv("TMPDIR", savedTemp);
    if (!givenAway) QSKIP("giving a folder away needs root");
    QVERIFY(!listened);
    QVERIFY2(listenError.contains(taken), qPrintable(listenError));
    QVERIFY(!sent);
    QVERIFY2(took < 1000, qPrintable(QString::number(took)));
    QVERIFY2(sendError.contains(QStringLiteral("another user")), qPrintable(sendError));
}

void TestSingleInstance::listenerOfAnotherUserIsRefused()
{
    if (::geteuid() != 0) QSKIP("acting as another user needs root");
    QTemporaryDir tmp;
    SingleInstance guard(tmp.path());
    const QString name = guard.ServerName();
    // Bound as us, then listening as another user: the socket answers like ours would.
    Child squatter([name](int ready) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const sockaddr_un address = addressOf(name);
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || !becomeNobody() ||
            ::listen(fd, 4) != 0)
            return 1;
        Child::SayReady(ready);
        for (;;) {
            const int client = ::accept(fd, nullptr, nullptr);
            char request[64];
            if (client < 0 || ::read(client, request, sizeof request) < 0) return 1;
            [[maybe_unused]] const ssize_t n = ::write(client, "ok\n", 3);
            ::close(client);
        }
    });
    QVERIFY(squatter.ready());
    QString error;
    QVERIFY(!guard.Send(StartAction::Quit, &error, 3000));
    QVERIFY2(error.contains(QStringLiteral("another user")), qPrintable(error));
    QFile::remove(name);
}

void TestSingleInstance::clientOfAnotherUserIsHungUpOn()
{
    if (::geteuid() != 0) QSKIP("acting as another user needs root");
    Running r;
    QVERIFY(r.listening);
    // Opened up by hand, so that the other user can reach the socket at all.
    const QString name = r.instance.ServerName();
    QVERIFY(::chmod(QFile::encodeName(QFileInfo(name).path()).constData(), 0711) == 0);
    QVERIFY(::chmod(QFile::encodeName(name).constData(), 0777) == 0);
    Child stranger([name](int ready) {
        if (!becomeNobody()) return 1;
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const sockaddr_un address = addressOf(name);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return 2;
        [[maybe_unused]] const ssize_t n = ::write(fd, "quit\n", 5);
        Child::SayReady(ready);
        char reply[16];
        return ::read(fd, reply, sizeof reply) == 0 ? 0 : 3; // hung up on, unanswered
    });
    QVERIFY(stranger.ready());
    QTRY_VERIFY_WITH_TIMEOUT(!stranger.running(), 5000);
    QTest::qWait(100);
    QCOMPARE(r.requests.count(), 0);
    QVERIFY(::chmod(QFile::encodeName(QFileInfo(name).path()).constData(), 0700) == 0);
}

void TestSingleInstance::idleFloodNeitherExhaustsNorEndsTheListener()
{
    Running r;
    QVERIFY(r.listening);
    const QString name = r.instance.ServerName();
    // This process may open only a few dozen more descriptors.
    rlimit saved{};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(openDescriptors() + 48);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    {
        // 1,100 connections that never say a word, from a child with room for them.
        Child flood([name, saved](int ready) {
            rlimit roomy = saved;
            roomy.rlim_cur = std::min<rlim_t>(saved.rlim_max, 4096);
            ::setrlimit(RLIMIT_NOFILE, &roomy);
            const sockaddr_un address = addressOf(name);
            Child::SayReady(ready);
            int held = 0;
            for (int tries = 0; held < 1100 && tries < 200000; ++tries) {
                const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
                if (fd < 0) return 1;
                if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
                    ++held;
                } else {
                    ::close(fd);
                    ::usleep(1000);
                }
            }
            ::sleep(1);
            return held == 1100 ? 0 : 2;
        });
        QVERIFY(flood.ready());
        QTRY_VERIFY_WITH_TIMEOUT(!flood.running(), 9000);
    }
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    // Whatever happened to the listener on the way, a later start reaches it again.
    const QString folder = r.folder.path();
    Other later([folder] { return SingleInstance(folder).Send(StartAction::Check, nullptr, 8000); });
    QTRY_VERIFY_WITH_TIMEOUT(later.done(), 9000);
    QVERIFY(later.ok());
    QCOMPARE(r.requests.count(), 1);
}

void TestSingleInstance::busyInstanceIsAskedAgain()
{
    Running r;
    QVERIFY(r.listening);
    const QString name = r.instance.ServerName(), folder = r.folder.path();
    // Every place taken by a connection that says nothing: a later start is hung up on until
    // the instance drops them, and then gets through.
    Other later([name, folder] {
        std::vector<std::unique_ptr<QLocalSocket>> idle;
        for (int i = 0; i < SingleInstance::kMaxConnections; ++i) {
            idle.push_back(std::make_unique<QLocalSocket>());
            idle.back()->connectToServer(name);
            if (!idle.back()->waitForConnected(3000)) return false;
        }
        QThread::msleep(300); // taken in by the instance meanwhile
        return SingleInstance(folder).Send(StartAction::Check, nullptr, 8000);
    });
    QTRY_VERIFY_WITH_TIMEOUT(later.done(), 9000);
    QVERIFY(later.ok());
    QCOMPARE(r.requests.count(), 1);
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"
