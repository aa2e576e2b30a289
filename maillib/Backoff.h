// The wait after a failure, kept per set of credentials sent.
#pragma once

#include "maillib/Credential.h"
#include "maillib/MailLib.h"
#include "maillib/MailLibInternal.h"

#include <chrono>
#include <map>
#include <string>

namespace maillib {

using Clock = std::chrono::steady_clock;

// How one set of credentials fares: consecutive failures, and when it may be sent again.
struct Backoff {
    int failures = 0;
    std::chrono::milliseconds backoff{0};
    Clock::time_point retryAt{};
    std::string lastFailure; // reason of the failure being backed off from
    // Its kind: a network change frees only the unreachable, a full disk is said once.
    AccountStatus::Kind lastFailureKind = AccountStatus::Kind::Ok;
};

constexpr size_t kMaxBackoffs = 8;

// Counts a failure of `kind`: the wait starts at the base and doubles up to the maximum.
void RecordFailure(Backoff& bo, const internal::Limits& limits, Clock::time_point now, AccountStatus::Kind kind,
                   const std::string& reason);

// The back-off of the credentials `fingerprint` among `backoffs`; `fresh` says whether they
// were not sent before. Past kMaxBackoffs, those no longer backing off are forgotten.
Backoff& BackoffFor(std::map<std::string, Backoff, std::less<>>& backoffs, const std::string& fingerprint,
                    Clock::time_point now, bool& fresh);

// What a check's back-off goes by. A password: the account and the password, so that a new
// one gets a fresh try. A bearer token: the account alone, since the token changes at every
// refresh; a refresh must neither end a failing back-off nor let refused tokens storm the server.
// An IDLE watcher's word on a mailbox is found by the same key.
std::string BackoffKey(const std::string& accountKey, const Credential& credential);

// True for the system's error codes of a full disk (or a used-up quota).
bool IsDiskFull(int errorNumber);

} // namespace maillib
