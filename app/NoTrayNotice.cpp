#include "NoTrayNotice.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QSystemTrayIcon>
#include <QVariantMap>
#include <cstdio>

namespace {

// org.freedesktop.Notifications.Notify: the notification daemon of every common desktop.
void sendDesktopNotification(const QString& summary, const QString& body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
                                                       QStringLiteral("/org/freedesktop/Notifications"),
                                                       QStringLiteral("org.freedesktop.Notifications"),
                                                       QStringLiteral("Notify"));
    call << QStringLiteral("Ferrowick") << 0u << QStringLiteral("ferrowick") << summary << body << QStringList()
         << QVariantMap() << -1;
    // Nobody waits for the answer: without a notification daemon the call simply fails.
    bus.call(call, QDBus::NoBlock);
}

QString missingTrayText()
{
    return QStringLiteral("通知領域がないため、アイコンは表示されません。Ferrowick は動いています。"
                          "メニューの操作（最新メール受信・プロパティ・終了）は、アプリケーションメニューの"
                          " Ferrowick を右クリックして選べます。");
}

} // namespace

bool AnnounceMissingTray()
{
    if (QSystemTrayIcon::isSystemTrayAvailable()) return false;
    std::printf("ferrowick: no notification area (system tray) on this desktop; still running. Its menu's actions are "
                "in the launcher's actions, or `ferrowick --check`, `--settings`, `--quit`.\n");
    std::fflush(stdout);
    sendDesktopNotification(QGuiApplication::applicationDisplayName(), missingTrayText());
    return true;
}
