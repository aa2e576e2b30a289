#include "maillib/MailClock.h"

#include <atomic>

namespace maillib::internal {
namespace {

std::atomic<const MailClock*> installed{nullptr};

} // namespace

void SetClock(const MailClock* clock) { installed.store(clock); }

void UnsetClock(const MailClock* clock) { installed.compare_exchange_strong(clock, nullptr); }

std::chrono::steady_clock::time_point Now()
{
    const MailClock* clock = installed.load();
    return clock ? clock->Now() : std::chrono::steady_clock::now();
}

std::chrono::system_clock::time_point WallNow()
{
    const MailClock* clock = installed.load();
    return clock ? clock->WallNow() : std::chrono::system_clock::now();
}

} // namespace maillib::internal
