#include "controller/DesktopNotification.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QStringList>
#include <QVariantMap>

namespace DesktopNotification {

bool Send(const QString& summary, const QString& body, bool warning)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QString appId = QGuiApplication::desktopFileName();
    // The icon names the program; a failure shows the desktop's warning sign instead.
    const QString icon = warning ? QStringLiteral("dialog-warning") : appId;
    call << QGuiApplication::applicationDisplayName() << 0u << icon << summary << body << QStringList()
         << QVariantMap{{QStringLiteral("desktop-entry"), appId}} << -1;
    return bus.send(call);
}

} // namespace DesktopNotification
