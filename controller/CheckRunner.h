#pragma once
#include <functional>
#include <vector>

// Where a mail check's waiting happens. The controller hands over one task per account and
// gets `done` back on the GUI thread once every task has returned; the tasks touch nothing
// but what they were given.
class CheckRunner {
public:
    virtual ~CheckRunner() = default;
    virtual void Run(std::vector<std::function<void()>> tasks, std::function<void()> done) = 0;
    // Runs `fn` on the GUI thread once the event loop gets to it.
    virtual void Defer(std::function<void()> fn) = 0;
};

// Runs everything at once, in order, on the caller's thread: for tests and tools that want
// a check to be over when the call returns.
class InlineCheckRunner final : public CheckRunner {
public:
    void Run(std::vector<std::function<void()>> tasks, std::function<void()> done) override
    {
        for (auto& task : tasks) task();
        done();
    }
    void Defer(std::function<void()> fn) override { fn(); }
};
