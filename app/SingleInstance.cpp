#include "app/SingleInstance.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <unistd.h>

namespace {

// A request is one short word and a newline; anything longer is not one of ours.
constexpr qint64 kMaxRequest = 64;
// Ending may wait for a check in progress to be cancelled and the tray icon removed.
constexpr int kQuitWaitMs = 30000;
constexpr int kUncheckableLockStaleMs = 10000;

QString lockErrorText(QLockFile::LockError error)
{
    switch (error) {
    case QLockFile::PermissionError:
        return QStringLiteral("permission denied");
    case QLockFile::LockFailedError:
        return QStringLiteral("held by another process");
    case QLockFile::NoError:
        return QStringLiteral("no error");
    case QLockFile::UnknownError:
        break;
    }
    return QStringLiteral("the folder cannot be written");
}

} // namespace

SingleInstance::SingleInstance(const QString& programFolder, QObject* parent)
    : QObject(parent), folder_(programFolder), serverName_(ServerNameFor(programFolder)),
      lock_(programFolder + QStringLiteral("/maildata/ferrowick.lock"))
{
    // An owner on this machine and boot is judged by its process alone, however old its lock.
    // Age decides only for an owner that cannot be checked: a lock cut short by a crash, or
    // one left before a reboot.
    lock_.setStaleLockTime(kUncheckableLockStaleMs);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::LockPath() const { return folder_ + QStringLiteral("/maildata/ferrowick.lock"); }

QString SingleInstance::ServerNameFor(const QString& programFolder)
{
    const QString canonical = QFileInfo(programFolder).canonicalFilePath();
    const QByteArray key = (canonical.isEmpty() ? QDir::cleanPath(programFolder) : canonical).toUtf8();
    const QString name =
        QStringLiteral("ferrowick-%1-%2")
            .arg(::getuid())
            .arg(QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(16)));
    // The user's private runtime folder keeps other users from squatting on the name.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir()) return runtime + QLatin1Char('/') + name;
    return name;
}

SingleInstance::Role SingleInstance::Acquire(QString* why)
{
    QDir().mkpath(folder_ + QStringLiteral("/maildata"));
    // QLockFile tells a stale lock by its owner's process id and executable name, so the lock
    // must record the name this executable really has.
    const QString savedName = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath());
    const bool locked = lock_.tryLock(0);
    QCoreApplication::setApplicationName(savedName);
    if (locked) return Role::Primary;
    if (lock_.error() == QLockFile::LockFailedError) return Role::Secondary;
    if (why) *why = lockErrorText(lock_.error());
    return Role::Unguarded;
}

bool SingleInstance::Listen(QString* error)
{
    if (!lock_.isLocked()) {
        if (error) *error = QStringLiteral("the folder is not locked");
        return false;
    }
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket left by a killed instance; holding the lock makes it ours to remove.
    QLocalServer::removeServer(serverName_);
    if (!server_->listen(serverName_)) {
        if (error) *error = server_->errorString();
        delete server_;
        server_ = nullptr;
        return false;
    }
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
    return true;
}

void SingleInstance::onNewConnection()
{
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > kMaxRequest) socket->abort();
                return;
            }
            const QString word = QString::fromLatin1(socket->readLine(kMaxRequest)).trimmed();
            const std::optional<StartAction> action = ActionFromWord(word);
            socket->write(action ? "ok\n" : "unknown\n");
            socket->flush();
            // The one asking to quit waits for the connection to close as this process ends.
            if (!action || *action != StartAction::Quit) socket->disconnectFromServer();
            if (action) Q_EMIT requested(*action);
        });
    }
}

bool SingleInstance::Send(StartAction action, QString* error, int timeoutMs)
{
    auto fail = [error](const QString& why) {
        if (error) *error = why;
        return false;
    };
    QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    // The running instance takes the lock a moment before it listens.
    for (;;) {
        socket.connectToServer(serverName_);
        if (socket.waitForConnected(int(deadline.remainingTime()))) break;
        if (deadline.hasExpired()) return fail(QStringLiteral("it does not answer (%1)").arg(socket.errorString()));
        QThread::msleep(100);
    }
    socket.write(ActionWord(action).toLatin1() + '\n');
    if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
        return fail(QStringLiteral("cannot send the request (%1)").arg(socket.errorString()));
    while (!socket.canReadLine())
        if (!socket.waitForReadyRead(int(deadline.remainingTime())))
            return fail(QStringLiteral("no reply (%1)").arg(socket.errorString()));
    const QByteArray reply = socket.readLine(kMaxRequest).trimmed();
    if (reply != "ok") return fail(QStringLiteral("it refused the request (%1)").arg(QString::fromLatin1(reply)));
    if (action == StartAction::Quit && socket.state() != QLocalSocket::UnconnectedState &&
        !socket.waitForDisconnected(kQuitWaitMs))
        return fail(QStringLiteral("it did not end within %1 seconds").arg(kQuitWaitMs / 1000));
    return true;
}
