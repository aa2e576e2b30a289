// What the IDLE watchers know of their mailboxes, for the checks: a check of a mailbox whose
// watcher is connected and idling is answered from here, with no network at all.
#pragma once

#include "maillib/MailboxSession.h"
#include "maillib/ServerAddress.h"

#include <optional>
#include <string>

namespace maillib {

// The mailbox as a check's listing would find it (count, and UIDVALIDITY.UIDNEXT as the mark),
// while a watcher with the same server, user and password is idling on it and the network has
// not changed since it connected; nullopt otherwise.
std::optional<MailboxState> WatchedMailbox(const ServerAddress& server, const std::string& user,
                                           const std::string& password);

namespace internal {

// A watcher's handle on its entry: what it says is heard until it withdraws or goes.
class WatchedEntry {
public:
    WatchedEntry(const ServerAddress& server, const std::string& user, const std::string& password);
    ~WatchedEntry();
    WatchedEntry(const WatchedEntry&) = delete;
    WatchedEntry& operator=(const WatchedEntry&) = delete;

    // The mailbox as the watcher's connection, made in network generation `generation`, found it.
    void Publish(const MailboxState& state, std::uint64_t generation);
    // The watcher cannot vouch for the mailbox now (changed, reconnecting, gone).
    void Withdraw();

private:
    std::string key_;
};

// "UIDVALIDITY.UIDNEXT": equal at two looks only when no mail came or went in between, as long
// as the count is equal too.
std::string ImapMark(std::uint32_t uidValidity, std::uint32_t uidNext);

} // namespace internal
} // namespace maillib
