#include "controller/ConnectivityWatch.h"

#include "controller/MailLibrary.h"
#include "controller/ResidentController.h"

#include <QTimer>

ConnectivityWatch::ConnectivityWatch(ResidentController& controller, MailLibrary& mail, const QTimer& tick,
                                     const SleepClocks* clocks, QObject* parent)
    : QObject(parent), controller_(controller), mail_(mail), tick_(tick), sleep_(clocks)
{
    if (!network_.Available()) controller_.SetNetworkAvailable(false);
    connect(&network_, &NetworkMonitor::Changed, this,
            [this](bool available) { controller_.SetNetworkAvailable(available); });
    connect(&tick_, &QTimer::timeout, &sleep_, &SleepMonitor::Look);
    connect(&sleep_, &SleepMonitor::Resumed, this, [this] {
        // Whatever ran across the sleep fails now instead of at its time-out.
        mail_.DropOpenConnections();
        controller_.RetryUnreachableAtNextTick(/*checkAnyway=*/true);
        // Paused timers mean a window wants no check now; it comes when they run again. The
        // close time goes first: the check sets a new one, and windows whose time passed
        // during the sleep close now.
        if (!tick_.isActive()) return;
        controller_.Timer2_Timer();
        controller_.Timer1_Timer();
    });
}
