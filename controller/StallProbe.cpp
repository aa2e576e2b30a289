#include "controller/StallProbe.h"

#include "controller/ResidentController.h"

#include <algorithm>
#include <chrono>

StallProbe::StallProbe(const QString& path, ResidentController& controller, bool watchStalls, QObject* parent)
    : QObject(parent), out_(path)
{
    if (!out_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) return;
    if (watchStalls) {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(10);
        connect(&timer_, &QTimer::timeout, this, &StallProbe::tick);
        sinceTick_.start();
        timer_.start();
    }
    controller.SetCheckObserver([this](bool inFlight) { checkStateChanged(inFlight); });
}

void StallProbe::tick() { maxStallMs_ = std::max(maxStallMs_, sinceTick_.restart() - timer_.interval()); }

void StallProbe::checkStateChanged(bool inFlight)
{
    if (inFlight) {
        checkClock_.start();
        return;
    }
    const double endMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
    QString line =
        QStringLiteral("check_ms=%1 end_ms=%2").arg(checkClock_.nsecsElapsed() / 1e6, 0, 'f', 1).arg(endMs, 0, 'f', 3);
    if (timer_.isActive()) line += QStringLiteral(" stall_max_ms=%1").arg(maxStallMs_);
    out_.write((line + QLatin1Char('\n')).toUtf8());
    out_.flush();
}
