#include "app/SingleInstance.h"

#include "app/PrivateSocket.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

// A request is one short word and a newline; anything longer is not one of ours.
constexpr qint64 kMaxRequest = 64;
// Ending may wait for a check in progress to be cancelled and the tray icon removed.
constexpr int kQuitWaitMs = 30000;

QString lockPathFor(const QString& programFolder) { return programFolder + QStringLiteral("/maildata/ferrowick.lock"); }

} // namespace

SingleInstance::SingleInstance(const QString& programFolder, QObject* parent)
    : QObject(parent), folder_(programFolder), serverName_(ServerNameFor(programFolder)),
      lock_(lockPathFor(programFolder), programFolder)
{
    listenerCheck_.setInterval(kListenerCheckMs);
    connect(&listenerCheck_, &QTimer::timeout, this, [this] {
        if (!server_ || server_->isListening()) return;
        // Qt closes a listener whose accept(2) failed, e.g. with every descriptor in use.
        QString error;
        if (startListening(&error))
            std::fprintf(stderr, "ferrowick: the socket for later starts was lost; it listens again\n");
    });
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::LockPath() const { return lock_.Path(); }

QString SingleInstance::ServerNameFor(const QString& programFolder)
{
    const QString canonical = QFileInfo(programFolder).canonicalFilePath();
    const QByteArray key = (canonical.isEmpty() ? QDir::cleanPath(programFolder) : canonical).toUtf8();
    const QString name =
        QStringLiteral("ferrowick-%1-%2")
            .arg(::getuid())
            .arg(QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(16)));
    return PrivateSocket::Folder() + QLatin1Char('/') + name;
}

SingleInstance::Role SingleInstance::Acquire(QString* why)
{
    QDir().mkpath(folder_ + QStringLiteral("/maildata"));
    switch (lock_.Take(why)) {
    case InstanceLock::Outcome::Taken:
        return Role::Primary;
    case InstanceLock::Outcome::HeldByAnother:
        return Role::Secondary;
    case InstanceLock::Outcome::Failed:
        break;
    }
    return Role::Unguarded;
}

bool SingleInstance::Listen(QString* error)
{
    if (!lock_.IsHeld()) {
        if (error) *error = QStringLiteral("the folder is not locked");
        return false;
    }
    if (!PrivateSocket::MakeFolder(error)) return false;
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
    if (!startListening(error)) {
        delete server_;
        server_ = nullptr;
        return false;
    }
    listenerCheck_.start();
    return true;
}

bool SingleInstance::startListening(QString* error)
{
    // A socket left by a killed instance, or by this one before its listener was lost;
    // holding the lock makes the name ours to replace.
    QLocalServer::removeServer(serverName_);
    if (server_->listen(serverName_)) return true;
    if (error) *error = server_->errorString();
    return false;
}

void SingleInstance::onNewConnection()
{
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        // Another user's process has no business here; past the bound, a flood of idle
        // connections would take every descriptor.
        if (connections_ >= kMaxConnections || !PrivateSocket::PeerIsUs(socket->socketDescriptor())) {
            socket->abort();
            delete socket;
            continue;
        }
        ++connections_;
        socket->setParent(this);
        connect(socket, &QObject::destroyed, this, [this] { --connections_; });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto answered = std::make_shared<bool>(false);
        QTimer::singleShot(kRequestWaitMs, socket, [socket, answered] {
            if (*answered) return;
            socket->abort();
            socket->deleteLater();
        });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, answered] {
            if (*answered) return;
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > kMaxRequest) socket->abort();
                return;
            }
            *answered = true;
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
    const QString socketFolder = QFileInfo(serverName_).path();
    for (;;) {
        QLocalSocket socket;
        // The running instance takes the lock a moment before it listens.
        for (;;) {
            QString why;
            // A folder another user made or can enter is never talked through, nor waited on.
            if (!PrivateSocket::IsPrivateFolder(socketFolder, &why) &&
                (QFileInfo::exists(socketFolder) || QFileInfo(socketFolder).isSymLink()))
                return fail(QStringLiteral("its socket cannot be trusted: %1").arg(why));
            socket.connectToServer(serverName_);
            if (socket.waitForConnected(int(deadline.remainingTime()))) break;
            if (deadline.hasExpired()) return fail(QStringLiteral("it does not answer (%1)").arg(socket.errorString()));
            QThread::msleep(100);
        }
        if (!PrivateSocket::PeerIsUs(socket.socketDescriptor())) {
            const long uid = PrivateSocket::PeerUid(socket.socketDescriptor());
            socket.abort();
            return fail(QStringLiteral("its socket is held by a process of another user (uid %1)").arg(uid));
        }
        socket.write(ActionWord(action).toLatin1() + '\n');
        if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
            return fail(QStringLiteral("cannot send the request (%1)").arg(socket.errorString()));
        bool hungUp = false;
        while (!socket.canReadLine() && !hungUp) {
            if (socket.waitForReadyRead(int(deadline.remainingTime()))) continue;
            if (socket.error() != QLocalSocket::PeerClosedError || deadline.hasExpired())
                return fail(QStringLiteral("no reply (%1)").arg(socket.errorString()));
            hungUp = true;
        }
        if (hungUp) {
            // Hung up on before a word: the instance is serving as many connections as it
            // will, and has not read the request. It is asked again once a place is free.
            QThread::msleep(100);
            continue;
        }
        const QByteArray reply = socket.readLine(kMaxRequest).trimmed();
        if (reply != "ok") return fail(QStringLiteral("it refused the request (%1)").arg(QString::fromLatin1(reply)));
        if (action == StartAction::Quit && socket.state() != QLocalSocket::UnconnectedState &&
            !socket.waitForDisconnected(kQuitWaitMs))
            return fail(QStringLiteral("it did not end within %1 seconds").arg(kQuitWaitMs / 1000));
        return true;
    }
}
