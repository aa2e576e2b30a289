#pragma once
#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QTimer>

class ResidentController;

// For the responsiveness benchmark only (FW_BENCH_PROBE=FILE): a 10 ms timer on the GUI
// thread records how late it fires, and each check's wall time is written to FILE as
// "check_ms=N stall_max_ms=M", M being the longest stall since start.
class StallProbe final : public QObject {
    Q_OBJECT
public:
    StallProbe(const QString& path, ResidentController& controller, QObject* parent = nullptr);

private:
    void tick();
    void checkStateChanged(bool inFlight);

    QFile out_;
    QTimer timer_;
    QElapsedTimer sinceTick_;
    QElapsedTimer checkClock_;
    qint64 maxStallMs_ = 0;
};
