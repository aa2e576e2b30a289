#include "app/NoTrayNotice.h"

#include "controller/DesktopNotification.h"

#include <QGuiApplication>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstdio>

namespace {

// At login the program may start before the panel that holds the tray.
constexpr int kTrayGraceMs = 5000;

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
        DesktopNotification::Send(QGuiApplication::applicationDisplayName(), missingTrayText());
    });
}
