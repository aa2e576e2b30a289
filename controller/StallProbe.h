#pragma once
#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QTimer>

class ResidentController;

// For the benchmarks only (FW_BENCH_PROBE=FILE): each check's wall time and the monotonic time
// it ended at are written to FILE as "check_ms=N end_ms=T". With `watchStalls`, a 10 ms timer on
// the GUI thread also records how late it fires, and the line gains "stall_max_ms=M", M being
// the longest stall since start; without, the probe costs nothing between checks.
class StallProbe final : public QObject {
    Q_OBJECT
public:
    StallProbe(const QString& path, ResidentController& controller, bool watchStalls, QObject* parent = nullptr);

private:
    void tick();
    void checkStateChanged(bool inFlight);

    QFile out_;
    QTimer timer_;
    QElapsedTimer sinceTick_;
    QElapsedTimer checkClock_;
    qint64 maxStallMs_ = 0;
};
