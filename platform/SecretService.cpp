#include "platform/SecretService.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QStringList>

namespace SecretService {
namespace {

const QString kService = QStringLiteral("org.freedesktop.secrets");
const QString kServicePath = QStringLiteral("/org/freedesktop/secrets");
const QString kDefaultCollection = QStringLiteral("/org/freedesktop/secrets/aliases/default");
const QStringList kWallets{QStringLiteral("org.kde.kwalletd6"), QStringLiteral("org.kde.kwalletd5")};

QDBusMessage Call(const QDBusMessage& message, int timeoutMs)
{
    return QDBusConnection::sessionBus().call(message, QDBus::Block, timeoutMs);
}

// Running, or started by the bus on the first call.
bool Reachable(const QString& name, int timeoutMs)
{
    QDBusMessage owner =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    owner << name;
    const QDBusMessage reply = Call(owner, timeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool()) return true;
    QDBusMessage activatable =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListActivatableNames"));
    const QDBusMessage names = Call(activatable, timeoutMs);
    return names.type() == QDBusMessage::ReplyMessage && names.arguments().value(0).toStringList().contains(name);
}

} // namespace

State Probe(int timeoutMs)
{
    if (!QDBusConnection::sessionBus().isConnected()) return State::Absent;
    if (!Reachable(kService, timeoutMs)) {
        for (const QString& wallet : kWallets)
            if (Reachable(wallet, timeoutMs)) return State::Other;
        return State::Absent;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(
        kService, kDefaultCollection, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QStringLiteral("org.freedesktop.Secret.Collection") << QStringLiteral("Locked");
    const QDBusMessage reply = Call(get, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        // No default collection yet: the first write makes one. A service that does not
        // answer in time is left to the keyring call, which has its own bound.
        return State::Unlocked;
    }
    return reply.arguments().value(0).value<QDBusVariant>().variant().toBool() ? State::Locked : State::Unlocked;
}

void RequestUnlock()
{
    QDBusMessage unlock = QDBusMessage::createMethodCall(
        kService, kServicePath, QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("Unlock"));
    unlock << QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath(kDefaultCollection)});
    const QDBusMessage reply = Call(unlock, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage) return;
    const QString prompt = reply.arguments().value(1).value<QDBusObjectPath>().path();
    if (prompt.isEmpty() || prompt == QStringLiteral("/")) return;
    QDBusMessage show = QDBusMessage::createMethodCall(
        kService, prompt, QStringLiteral("org.freedesktop.Secret.Prompt"), QStringLiteral("Prompt"));
    show << QString(); // no parent window
    // Not waited for: the user may take minutes, and nothing here needs the answer.
    QDBusConnection::sessionBus().send(show);
}

} // namespace SecretService
