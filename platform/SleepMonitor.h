#pragma once
#include <QObject>

#include <chrono>

// The clocks that tell time spent asleep: CLOCK_BOOTTIME counts it, CLOCK_MONOTONIC does not.
class SleepClocks {
public:
    virtual ~SleepClocks() = default;
    virtual std::chrono::nanoseconds Boot() const;
    virtual std::chrono::nanoseconds Monotonic() const;
};

// Suspend and resume: logind's PrepareForSleep on the system bus where logind runs, and in
// any case a jump of the boot clock against the monotonic clock between two looks, which
// only time spent asleep makes. One wake is told once, whichever way it is seen first.
class SleepMonitor final : public QObject {
    Q_OBJECT
public:
    // A gap shorter than this between two looks is not taken for a sleep.
    static constexpr std::chrono::seconds kMinSleep{3};

    // `clocks` (not owned) replaces the system's clocks, for tests.
    explicit SleepMonitor(const SleepClocks* clocks = nullptr, QObject* parent = nullptr);

    // Compares the clocks with the last look; call it at every tick.
    void Look();
    // True when logind's signal is listened to.
    bool WatchesLogind() const { return watchesLogind_; }

Q_SIGNALS:
    void GoingToSleep();
    void Resumed();

private Q_SLOTS:
    void onPrepareForSleep(bool start);

private:
    std::chrono::nanoseconds asleep() const; // boot clock minus monotonic clock

    SleepClocks systemClocks_;
    const SleepClocks* clocks_;
    std::chrono::nanoseconds lastAsleep_{};
    bool watchesLogind_ = false;
};
