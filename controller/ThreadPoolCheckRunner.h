#pragma once
#include "controller/CheckRunner.h"

#include <QObject>
#include <QThreadPool>

// Runs each account's task on its own pool thread, so that a check takes as long as its
// slowest account and the GUI thread never waits for a server.
class ThreadPoolCheckRunner final : public QObject, public CheckRunner {
    Q_OBJECT
public:
    explicit ThreadPoolCheckRunner(int maxAccounts, QObject* parent = nullptr);
    ~ThreadPoolCheckRunner() override;

    void Run(std::vector<std::function<void()>> tasks, std::function<void()> done) override;
    void Defer(std::function<void()> fn) override;

    // Waits up to `ms` for the tasks in flight; false when some are still running.
    bool WaitForDone(int ms);

private:
    QThreadPool pool_;
};
