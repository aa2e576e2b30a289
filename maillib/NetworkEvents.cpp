#include "maillib/NetworkEvents.h"

#include "maillib/AccountRegistry.h"
#include "maillib/Cancellation.h"

#include <atomic>

namespace maillib {
namespace {

std::atomic<std::uint64_t> generation{0};

bool Unreachable(AccountStatus::Kind kind)
{
    return kind == AccountStatus::Kind::CannotConnect || kind == AccountStatus::Kind::TimedOut;
}

} // namespace

std::size_t RetryUnreachableAccounts()
{
    generation.fetch_add(1);
    std::size_t freed = 0;
    for (const auto& st : AllAccounts()) {
        // Never waits for a check in flight: the caller is the GUI thread.
        std::unique_lock lock(st->mutex, std::try_to_lock);
        if (!lock.owns_lock()) continue;
        for (auto& [fingerprint, bo] : st->backoffs) {
            if (bo.failures == 0 || !Unreachable(bo.lastFailureKind)) continue;
            bo = Backoff{};
            ++freed;
        }
    }
    return freed;
}

void DropOpenConnections()
{
    generation.fetch_add(1);
    internal::ShutDownOpenSockets();
}

std::uint64_t NetworkGeneration() { return generation.load(); }

} // namespace maillib
