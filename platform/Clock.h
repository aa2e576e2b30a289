#pragma once
#include <QDateTime>

// Source of "now" for close times, the auto-close comparison and the day-log date.
// Tests install their own clock so that midnight and timeouts can be reached at will.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;

    // The clock in use; the system clock unless a test installed another one.
    static const Clock& current();
    // Installs `clock` (not owned); nullptr restores the system clock.
    static void install(const Clock* clock);
    // Restores the system clock if `clock` is the one installed (a later one stays).
    static void uninstall(const Clock* clock);
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};
