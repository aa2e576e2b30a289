#pragma once
#include "platform/ResidentTimers.h"

#include <QStringList>

// Records how the windows switch the controller's timers, in order.
class FakeResidentTimers final : public ResidentTimers {
public:
    FakeResidentTimers() { ResidentTimers::install(this); }
    ~FakeResidentTimers() override { ResidentTimers::install(nullptr); }
    FakeResidentTimers(const FakeResidentTimers&) = delete;
    FakeResidentTimers& operator=(const FakeResidentTimers&) = delete;

    void SetTimer1Enabled(bool enabled) override
    {
        timer1 = enabled;
        calls << QStringLiteral("Timer1=%1").arg(enabled);
    }
    void SetTimer2Enabled(bool enabled) override
    {
        timer2 = enabled;
        calls << QStringLiteral("Timer2=%1").arg(enabled);
    }

    bool timer1 = true;
    bool timer2 = true;
    QStringList calls;
};
