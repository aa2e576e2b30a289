#pragma once
#include "platform/Clock.h"

// A clock that stands still until a test moves it. Installed while it lives; going, it
// uninstalls only itself, as the mail library's test clock does.
class TestClock final : public Clock {
public:
    explicit TestClock(QDateTime start = QDateTime(QDate(2026, 12, 6), QTime(12, 0, 0))) : now_(std::move(start))
    {
        Clock::install(this);
    }
    ~TestClock() override { Clock::uninstall(this); }
    TestClock(const TestClock&) = delete;
    TestClock& operator=(const TestClock&) = delete;

    QDateTime now() const override { return now_; }
    void set(const QDateTime& when) { now_ = when; }
    void advance(int seconds) { now_ = now_.addSecs(seconds); }

private:
    QDateTime now_;
};
