#include "platform/ResidentTimers.h"

namespace {
ResidentTimers* installed = nullptr;
}

ResidentTimers* ResidentTimers::current() { return installed; }

void ResidentTimers::install(ResidentTimers* timers) { installed = timers; }

void ResidentTimers::setBoth(bool enabled)
{
    if (!installed) return;
    installed->SetTimer1Enabled(enabled);
    installed->SetTimer2Enabled(enabled);
}
