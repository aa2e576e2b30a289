#include "maillib/Backoff.h"

#include "maillib/Digest.h"

#include <algorithm>
#include <cerrno>

namespace maillib {

void RecordFailure(Backoff& bo, const internal::Limits& limits, Clock::time_point now, AccountStatus::Kind kind,
                   const std::string& reason)
{
    ++bo.failures;
    bo.backoff = bo.failures == 1 ? limits.backoffBase : std::min(bo.backoff * 2, limits.backoffMax);
    bo.retryAt = now + bo.backoff;
    bo.lastFailure = reason;
    bo.lastFailureKind = kind;
}

Backoff& BackoffFor(std::map<std::string, Backoff, std::less<>>& backoffs, const std::string& fingerprint,
                    Clock::time_point now, bool& fresh)
{
    if (backoffs.size() >= kMaxBackoffs && !backoffs.count(fingerprint))
        std::erase_if(backoffs, [now](const auto& entry) { return entry.second.retryAt <= now; });
    auto [it, inserted] = backoffs.try_emplace(fingerprint);
    fresh = inserted;
    return it->second;
}

std::string BackoffKey(const std::string& accountKey, const Credential& credential)
{
    // No password holds a NUL (one is never sent), so neither key can stand for the other.
    if (credential.kind == Credential::Kind::Bearer) return Sha256Hex(accountKey + "\n" + std::string("\0bearer", 7));
    return Sha256Hex(accountKey + "\n" + credential.secret);
}

bool IsDiskFull(int errorNumber) { return errorNumber == ENOSPC || errorNumber == EDQUOT; }

} // namespace maillib
