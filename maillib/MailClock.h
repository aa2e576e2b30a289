// The time the library's own rules go by: back-off after a failure, a server's login delay,
// the periodic full listing. Tests install a clock they move by hand, so no test sleeps
// through a back-off. Network time bounds are curl's and stay on the real clock.
#pragma once

#include <chrono>

namespace maillib {

class MailClock {
public:
    virtual ~MailClock() = default;
    virtual std::chrono::steady_clock::time_point Now() const = 0;
    // The wall-clock time at Now(), for the times a status shows.
    virtual std::chrono::system_clock::time_point WallNow() const = 0;
};

namespace internal {

// Installs `clock` (not owned; it must outlive every check); nullptr restores the real clocks.
void SetClock(const MailClock* clock);
// Restores the real clocks if `clock` is the one installed (a later one stays).
void UnsetClock(const MailClock* clock);

std::chrono::steady_clock::time_point Now();
std::chrono::system_clock::time_point WallNow();

} // namespace internal
} // namespace maillib
