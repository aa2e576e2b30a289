#include "controller/StallProbe.h"

#include "controller/ResidentController.h"

#include <algorithm>

StallProbe::StallProbe(const QString& path, ResidentController& controller, QObject* parent)
    : QObject(parent), out_(path)
{
    if (!out_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) return;
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(10);
    connect(&timer_, &QTimer::timeout, this, &StallProbe::tick);
    sinceTick_.start();
    timer_.start();
    controller.SetCheckObserver([this](bool inFlight) { checkStateChanged(inFlight); });
}

void StallProbe::tick() { maxStallMs_ = std::max(maxStallMs_, sinceTick_.restart() - timer_.interval()); }

void StallProbe::checkStateChanged(bool inFlight)
{
    if (inFlight) {
        checkClock_.start();
        return;
    }
    out_.write(QStringLiteral("check_ms=%1 stall_max_ms=%2\n")
                   .arg(checkClock_.nsecsElapsed() / 1e6, 0, 'f', 1)
                   .arg(maxStallMs_)
                   .toUtf8());
    out_.flush();
}
