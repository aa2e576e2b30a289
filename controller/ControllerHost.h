#pragma once
#include <QString>

// The five tray-menu items, in the order a check disables and enables them.
enum class MenuItem { mnuPropaty, mnuMail, mnuRev, mnuOpen, mnuEnd };

// What the resident controller's logic needs from its surroundings: the tray, the menu,
// the timers, the mail program and the process. The widget side implements it; tests fake it.
class ControllerHost {
public:
    virtual ~ControllerHost() = default;
    virtual void HideController() = 0;
    virtual void SetMenuItemEnabled(MenuItem item, bool enabled) = 0;
    // Adds the tray icon; does nothing when it is already there.
    virtual void RegisterTrayIcon() = 0;
    virtual void RemoveTrayIcon() = 0;
    // Starts both one-second timers, or starts them again after StopTimers.
    virtual void StartTimers() = 0;
    virtual void StopTimers() = 0;
    // The desktop's default mail program, looked up once at start-up; empty when none.
    virtual QString FindMailClient() = 0;
    virtual bool StartMailClient(const QString& client, QString* error) = 0;
    // Ends the program with exit code 0.
    virtual void Quit() = 0;
    // The tray's tooltip, and its warning picture (`warning`) or the normal one.
    virtual void ShowTrayStatus(const QString& /*tip*/, bool /*warning*/) {}
    // A desktop notification from the tray icon.
    virtual void ShowNotification(const QString& /*title*/, const QString& /*text*/, bool /*warning*/) {}
};
