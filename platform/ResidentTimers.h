#pragma once

// The resident controller's two one-second timers (mail check and auto-close), as seen by
// the windows that pause them while they are open: the detail window and the settings dialog.
class ResidentTimers {
public:
    virtual ~ResidentTimers() = default;
    virtual void SetTimer1Enabled(bool enabled) = 0;
    virtual void SetTimer2Enabled(bool enabled) = 0;

    // The controller registers itself here; nullptr when none runs (then the calls do nothing).
    static ResidentTimers* current();
    static void install(ResidentTimers* timers);
    static void setBoth(bool enabled);
};
