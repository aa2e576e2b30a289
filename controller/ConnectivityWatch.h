#pragma once
#include "platform/NetworkMonitor.h"
#include "platform/SleepMonitor.h"

#include <QObject>

class MailLibrary;
class QTimer;
class ResidentController;

// Tells the resident what the machine's network and sleep do. The network gone: no account
// is reported failing for it. Back or changed: accounts that could not connect are tried at
// the next tick, their back-off forgotten. Awake again: the connections open before the sleep
// are dropped and one check follows at once (at the next tick while the timers are paused).
class ConnectivityWatch final : public QObject {
    Q_OBJECT
public:
    // `tick` is the resident's check timer, which the sleep monitor looks at its clocks with;
    // `clocks` (not owned) replaces the system's clocks, for tests.
    ConnectivityWatch(ResidentController& controller, MailLibrary& mail, const QTimer& tick,
                      const SleepClocks* clocks = nullptr, QObject* parent = nullptr);

private:
    ResidentController& controller_;
    MailLibrary& mail_;
    const QTimer& tick_;
    NetworkMonitor network_;
    SleepMonitor sleep_;
};
