#include "app/NoTrayNotice.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVariantMap>
#include <cstdio>

namespace {

// At login the program may start before the panel that holds the tray.
constexpr int kTrayGraceMs = 5000;

// org.freedesktop.Notifications.Notify: the notification daemon of every common desktop.
void sendDesktopNotification(const QString& summary, const QString& body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QString appId = QGuiApplication::desktopFileName();
    call << QStringLiteral("Ferrowick") << 0u << appId << summary << body << QStringList()
         << QVariantMap{{QStringLiteral("desktop-entry"), appId}} << -1;
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

void AnnounceMissingTray(QObject* context)
{
    if (QSystemTrayIcon::isSystemTrayAvailable()) return;
    QTimer::singleShot(kTrayGraceMs, context, [] {
        if (QSystemTrayIcon::isSystemTrayAvailable()) return;
        std::printf("ferrowick: no notification area (system tray) on this desktop; still running. Its menu's actions "
                    "are in the launcher's actions, or `ferrowick --check`, `--settings`, `--quit`.\n");
        std::fflush(stdout);
        sendDesktopNotification(QGuiApplication::applicationDisplayName(), missingTrayText());
    });
}
