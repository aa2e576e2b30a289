#include "platform/Clock.h"

namespace {
const SystemClock systemClock;
const Clock* installed = nullptr;
} // namespace

const Clock& Clock::current() { return installed ? *installed : systemClock; }

void Clock::install(const Clock* clock) { installed = clock; }

void Clock::uninstall(const Clock* clock)
{
    if (installed == clock) installed = nullptr;
}
