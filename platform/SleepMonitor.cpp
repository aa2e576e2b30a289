#include "platform/SleepMonitor.h"

#include <QDBusConnection>
#include <ctime>

namespace {

std::chrono::nanoseconds read(clockid_t clock)
{
    timespec t{};
    ::clock_gettime(clock, &t);
    return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

} // namespace

std::chrono::nanoseconds SleepClocks::Boot() const { return read(CLOCK_BOOTTIME); }

std::chrono::nanoseconds SleepClocks::Monotonic() const { return read(CLOCK_MONOTONIC); }

SleepMonitor::SleepMonitor(const SleepClocks* clocks, QObject* parent)
    : QObject(parent), clocks_(clocks ? clocks : &systemClocks_)
{
    lastAsleep_ = asleep();
    // Without a system bus or logind this connects to nothing; the clocks still tell.
    watchesLogind_ = QDBusConnection::systemBus().connect(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
        SLOT(onPrepareForSleep(bool)));
}

std::chrono::nanoseconds SleepMonitor::asleep() const { return clocks_->Boot() - clocks_->Monotonic(); }

void SleepMonitor::Look()
{
    const std::chrono::nanoseconds now = asleep();
    const bool slept = now - lastAsleep_ >= kMinSleep;
    lastAsleep_ = now;
    if (slept) Q_EMIT Resumed();
}

void SleepMonitor::onPrepareForSleep(bool start)
{
    if (start) {
        Q_EMIT GoingToSleep();
        return;
    }
    // Told now; the next look must not tell the same sleep again.
    lastAsleep_ = asleep();
    Q_EMIT Resumed();
}
