// ResidentController's timer ticks and tray-menu commands; start-up and the check cycle are in
// ResidentController.cpp.
#include "controller/ResidentController.h"

#include "controller/mM_CHKER.h"
#include "platform/Diagnostics.h"

#include <utility>

void ResidentController::Timer1_Timer()
{
    // While the detail window is open the timers do nothing, as while the settings dialog is.
    if (forms_.IsLoaded(FormId::fMail_Body)) return;
    countTick();
}

void ResidentController::countTick()
{
    // A tick that falls due during a check does not start another; the count starts again
    // when the check ends.
    if (checkInFlight_) return;
    if (std::exchange(retryUnreachable_, false) && mail_.RetryUnreachable() > 0) checkAtNextTick_ = true;
    // Counted in int so that a limit of 32767 cannot wrap the count past it.
    const int next = tickCount_ + 1;
    if (std::exchange(checkAtNextTick_, false) || next >= revTimerMin_) {
        CheckMail([this] { endCheckCycle(); });
    } else {
        tickCount_ = static_cast<qint16>(next);
    }
}

void ResidentController::Timer2_Timer()
{
    if (forms_.IsLoaded(FormId::fMail_Body)) return;
    if (unloadFlag_ == 0) return;
    if (!forms_.IsVisible(FormId::fMail_Checker)) return;
    if (mM_CHKER::CloseTimeReached()) {
        CloseNotifyWindows();
        forms_.Unload(FormId::fMail_Checker);
    }
}

void ResidentController::CloseNotifyWindows()
{
    for (FormId form : {FormId::fMail_1, FormId::fMail_2, FormId::fMail_3, FormId::fMail_4, FormId::fMail_5,
                        FormId::fMail_Top, FormId::fMail_Bot, FormId::fMail_Body})
        forms_.Unload(form);
}

void ResidentController::mnuMail_Click()
{
    QString error;
    if (!host_.StartMailClient(mailClient_, &error))
        Diagnostics::Warn(QStringLiteral("cannot start the mail program: ") + error);
    forms_.Unload(FormId::fMail_Checker);
    host_.HideController();
}

void ResidentController::mnuPropaty_Click()
{
    // The timers rest while the dialog is open: no check starts and the tick count keeps its value.
    host_.StopTimers();
    settingsOpen_ = true;
    forms_.ShowSettingsModal();
    settingsOpen_ = false;
    host_.StartTimers();
    if (std::exchange(pushPending_, false)) MailboxChanged(0);
}

void ResidentController::mnuRev_Click()
{
    if (checkInFlight_) return;
    tickCount_ = revTimerMin_;
    // Also while the detail window holds the timers.
    countTick();
}

void ResidentController::MailboxChanged(int /*account*/)
{
    if (quitRequested_) return;
    if (checkInFlight_ || settingsOpen_) {
        pushPending_ = true;
        return;
    }
    mnuRev_Click();
}

void ResidentController::mnuOpen_Click()
{
    mM_CHKER::SetCloseTimeFromNow(unloadTimerSec_);
    mM_CHKER::PageOffset = 0;
    forms_.Show(FormId::fMail_Checker);
}

void ResidentController::mnuEnd_Click()
{
    if (quitRequested_) return;
    // Whatever talks to a server ends now: a check, or the settings dialog's connection test.
    mail_.Cancel();
    if (checkInFlight_) {
        // The program ends as soon as the check's workers have returned.
        quitRequested_ = true;
        return;
    }
    endProgram();
}

void ResidentController::endProgram()
{
    quitRequested_ = true;
    CloseNotifyWindows();
    forms_.Unload(FormId::fMail_Checker);
    host_.RemoveTrayIcon();
    host_.Quit();
}
