// The resident controller and the machine's network: what the tray says while there is none.
#include "controller/ResidentController.h"

#include "controller/mM_CHKER.h"

void ResidentController::SetNetworkAvailable(bool available)
{
    retryUnreachable_ = retryUnreachable_ || available;
    if (board_.Offline() != available) return;
    board_.SetOffline(!available);
    host_.ShowTrayStatus(mM_CHKER::TrayIcon.tip = board_.ToolTip(), board_.Warning());
}
