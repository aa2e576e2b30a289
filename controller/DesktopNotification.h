#pragma once
#include <QString>

// The desktop's own notifications (org.freedesktop.Notifications on the session bus), which
// every common desktop shows, with or without a notification area for the tray's balloon.
namespace DesktopNotification {

// Sends one notification; nobody waits for the answer. False without a session bus; without
// a notification service the call simply goes nowhere.
bool Send(const QString& summary, const QString& body, bool warning = false);

} // namespace DesktopNotification
