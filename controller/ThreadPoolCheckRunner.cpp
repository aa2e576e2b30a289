#include "controller/ThreadPoolCheckRunner.h"

#include <QMetaObject>
#include <QTimer>
#include <atomic>
#include <memory>

ThreadPoolCheckRunner::ThreadPoolCheckRunner(int maxAccounts, QObject* parent) : QObject(parent)
{
    // One thread per account: a hung server must not hold back the others.
    pool_.setMaxThreadCount(maxAccounts);
    // Threads outlive a few check intervals instead of being made anew at every check.
    pool_.setExpiryTimeout(60000);
}

ThreadPoolCheckRunner::~ThreadPoolCheckRunner() { pool_.waitForDone(); }

void ThreadPoolCheckRunner::Run(std::vector<std::function<void()>> tasks, std::function<void()> done)
{
    if (tasks.empty()) {
        Defer(std::move(done));
        return;
    }
    auto remaining = std::make_shared<std::atomic<int>>(static_cast<int>(tasks.size()));
    auto finish = std::make_shared<std::function<void()>>(std::move(done));
    for (auto& task : tasks) {
        // The destructor waits for the pool, so `this` outlives every task.
        pool_.start([this, task = std::move(task), remaining, finish] {
            task();
            if (remaining->fetch_sub(1) != 1) return;
            // The last task hands the results back to the GUI thread.
            QMetaObject::invokeMethod(
                this, [finish] { (*finish)(); }, Qt::QueuedConnection);
        });
    }
}

void ThreadPoolCheckRunner::Defer(std::function<void()> fn) { QTimer::singleShot(0, this, std::move(fn)); }

bool ThreadPoolCheckRunner::WaitForDone(int ms) { return pool_.waitForDone(ms); }
