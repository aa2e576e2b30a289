// A clock for the mail library that stands still until a test moves it. Installed while it
// lives; going, it uninstalls only itself, as the program's test clock does.
#pragma once

#include "maillib/MailClock.h"

#include <atomic>
#include <chrono>

class FakeMailClock final : public maillib::MailClock {
public:
    FakeMailClock() { maillib::internal::SetClock(this); }
    ~FakeMailClock() override { maillib::internal::UnsetClock(this); }
    FakeMailClock(const FakeMailClock&) = delete;
    FakeMailClock& operator=(const FakeMailClock&) = delete;

    std::chrono::steady_clock::time_point Now() const override { return steadyStart_ + offset_.load(); }
    std::chrono::system_clock::time_point WallNow() const override
    {
        return wallStart_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(offset_.load());
    }
    void Advance(std::chrono::milliseconds by) { offset_.store(offset_.load() + by); }

private:
    const std::chrono::steady_clock::time_point steadyStart_ = std::chrono::steady_clock::now();
    const std::chrono::system_clock::time_point wallStart_ = std::chrono::system_clock::now();
    std::atomic<std::chrono::milliseconds> offset_{std::chrono::milliseconds(0)};
};
