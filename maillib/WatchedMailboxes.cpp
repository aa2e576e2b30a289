#include "maillib/WatchedMailboxes.h"

#include "maillib/AccountCheck.h"
#include "maillib/Digest.h"
#include "maillib/NetworkEvents.h"

#include <map>
#include <mutex>

namespace maillib {
namespace {

struct Published {
    MailboxState state;
    std::uint64_t generation = 0;
};

struct Board {
    std::mutex mutex;
    // By the fingerprint of server, user and password; two watchers may share one.
    std::map<std::string, std::map<const internal::WatchedEntry*, Published>> entries;
};

Board& TheBoard()
{
    static Board b;
    return b;
}

// A watcher's word counts only for the credentials it signed in with.
std::string KeyFor(const ServerAddress& server, const std::string& user, const std::string& password)
{
    return Sha256Hex(AccountKey(server, user) + "\n" + password);
}

} // namespace

std::optional<MailboxState> WatchedMailbox(const ServerAddress& server, const std::string& user,
                                           const std::string& password)
{
    const std::string key = KeyFor(server, user, password);
    const std::uint64_t generation = NetworkGeneration();
    std::lock_guard lock(TheBoard().mutex);
    auto it = TheBoard().entries.find(key);
    if (it == TheBoard().entries.end()) return std::nullopt;
    // After a network change or a wake from sleep the connection is unproven until its
    // watcher has heard from the server again.
    for (const auto& [entry, published] : it->second)
        if (published.generation == generation) return published.state;
    return std::nullopt;
}

namespace internal {

WatchedEntry::WatchedEntry(const ServerAddress& server, const std::string& user, const std::string& password)
    : key_(KeyFor(server, user, password))
{
}

WatchedEntry::~WatchedEntry() { Withdraw(); }

void WatchedEntry::Publish(const MailboxState& state, std::uint64_t generation)
{
    std::lock_guard lock(TheBoard().mutex);
    TheBoard().entries[key_][this] = Published{state, generation};
}

void WatchedEntry::Withdraw()
{
    std::lock_guard lock(TheBoard().mutex);
    auto it = TheBoard().entries.find(key_);
    if (it == TheBoard().entries.end()) return;
    it->second.erase(this);
    if (it->second.empty()) TheBoard().entries.erase(it);
}

std::string ImapMark(std::uint32_t uidValidity, std::uint32_t uidNext)
{
    return std::to_string(uidValidity) + "." + std::to_string(uidNext);
}

} // namespace internal
} // namespace maillib
