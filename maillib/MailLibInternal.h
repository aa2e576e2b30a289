// Knobs and hooks for tests, the benchmark and the command-line tool.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace maillib::internal {

struct Limits {
    std::chrono::milliseconds connect{10000}; // connect, greeting and login
    std::chrono::milliseconds total{30000};   // the whole account, bodies included
    std::chrono::milliseconds backoffBase{30000};
    std::chrono::milliseconds backoffMax{600000};
    std::chrono::milliseconds loginDelayFallback{60000}; // when a server refuses with [LOGIN-DELAY] and no figure
    size_t sizeCap = 256 * 1024;                         // bytes kept of one mail
    unsigned long truncatedBodyLines = 300;              // body lines fetched of a mail over the cap
    size_t cacheBudget = 64u * 1024 * 1024;              // cached mail bytes per account, in memory and on disk
    // A full UIDL listing at least this often, even when STAT and the last id say nothing
    // changed (zero: every check).
    std::chrono::milliseconds fullListingEvery{600000};
};

Limits GetLimits();
void SetLimits(const Limits& limits);

// Forgets every cached mail (its copies on disk too), back-off, login delay and TLS session.
void ResetState();

// Forgets what this process knows, as a new process would start; the copies on disk stay.
void ForgetProcessState();

struct AccountStats {
    size_t cachedMails = 0;
    size_t cachedBytes = 0;
    int failures = 0; // consecutive, of the credentials last sent
};
AccountStats StatsFor(const std::string& server, const std::string& user);

// File name (not path) a mail of an account is saved under.
std::string MailFileName(const std::string& accountKey, const std::string& uid);
// The hash of account and id both that name and the mail's cached copy begin with.
std::string MailIdHash(const std::string& accountKey, const std::string& uid);

} // namespace maillib::internal
