#include "platform/OnlineAccounts.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QMap>
#include <QVariantMap>

namespace OnlineAccounts {
namespace {

const QString kService = QStringLiteral("org.gnome.OnlineAccounts");
const QString kManagerPath = QStringLiteral("/org/gnome/OnlineAccounts");
const QString kAccount = QStringLiteral("org.gnome.OnlineAccounts.Account");
const QString kMail = QStringLiteral("org.gnome.OnlineAccounts.Mail");
const QString kOAuth2 = QStringLiteral("org.gnome.OnlineAccounts.OAuth2Based");

using Interfaces = QMap<QString, QVariantMap>;

QMap<QString, Interfaces> ManagedObjects(const QDBusArgument& arg)
{
    QMap<QString, Interfaces> objects;
    arg.beginMap();
    while (!arg.atEnd()) {
        QDBusObjectPath path;
        Interfaces interfaces;
        arg.beginMapEntry();
        arg >> path;
        arg.beginMap();
        while (!arg.atEnd()) {
            QString name;
            QVariantMap properties;
            arg.beginMapEntry();
            arg >> name >> properties;
            arg.endMapEntry();
            interfaces.insert(name, properties);
        }
        arg.endMap();
        arg.endMapEntry();
        objects.insert(path.path(), interfaces);
    }
    arg.endMap();
    return objects;
}

Token Failure(Status status, const QString& detail)
{
    Token token;
    token.status = status;
    token.detail = detail;
    return token;
}

bool IsMissingService(const QDBusMessage& reply)
{
    const QString name = reply.errorName();
    return name == QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown") ||
           name == QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner") ||
           name == QStringLiteral("org.freedesktop.DBus.Error.Spawn.ServiceNotFound");
}

} // namespace

Token AccessTokenFor(const QString& emailAddress, int timeoutMs)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return Failure(Status::NoService, QStringLiteral("no session bus"));
    const QDBusMessage list = bus.call(
        QDBusMessage::createMethodCall(kService, kManagerPath, QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                                       QStringLiteral("GetManagedObjects")),
        QDBus::Block, timeoutMs);
    if (list.type() != QDBusMessage::ReplyMessage)
        return Failure(IsMissingService(list) ? Status::NoService : Status::Failed, list.errorMessage());
    const auto objects = ManagedObjects(list.arguments().value(0).value<QDBusArgument>());

    for (auto it = objects.cbegin(); it != objects.cend(); ++it) {
        const Interfaces& interfaces = it.value();
        if (!interfaces.contains(kMail) || !interfaces.contains(kOAuth2)) continue;
        const QString address = interfaces[kMail].value(QStringLiteral("EmailAddress")).toString();
        if (address.compare(emailAddress, Qt::CaseInsensitive) != 0) continue;
        const QVariantMap account = interfaces.value(kAccount);
        if (account.value(QStringLiteral("MailDisabled")).toBool()) continue;
        if (account.value(QStringLiteral("AttentionNeeded")).toBool())
            return Failure(Status::NotAuthorized, QStringLiteral("the account needs attention"));

        const QDBusMessage reply =
            bus.call(QDBusMessage::createMethodCall(kService, it.key(), kOAuth2, QStringLiteral("GetAccessToken")),
                     QDBus::Block, timeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage) {
            const bool refused = reply.errorName() == QStringLiteral("org.gnome.OnlineAccounts.Error.NotAuthorized");
            return Failure(refused ? Status::NotAuthorized : Status::Failed, reply.errorName());
        }
        Token token;
        token.accessToken = reply.arguments().value(0).toString();
        token.expiresInSeconds = reply.arguments().value(1).toInt();
        token.status = token.accessToken.isEmpty() ? Status::Failed : Status::Ok;
        return token;
    }
    return Failure(Status::NoAccount, {});
}

} // namespace OnlineAccounts
