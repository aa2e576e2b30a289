// What the last listing of an account found, kept beside its cached copies, so that the first
// check after a start can ask the server the steady check's cheap question instead of listing
// the whole mailbox again. Each entry names a mail (number, id) and, when it has one, the size
// and content tag of its copy; the copies themselves are still checked when they are placed.
//
// The index is the account's own (it names the account's hash), owner-only, written whole or
// not at all, and carries a digest of itself: a damaged or foreign one is removed and the
// check lists the mailbox as it would without.
#pragma once

#include "maillib/AccountRegistry.h"
#include "maillib/MailboxSession.h"
#include "maillib/UidList.h"

#include <chrono>
#include <optional>
#include <string>

namespace maillib {

struct IndexedListing {
    UidList newest;
    MailboxState state;
    size_t window = 0;
    std::chrono::system_clock::time_point listedAt; // the last full listing
};

// The index's name in an account's folder.
inline constexpr char kRestartIndexName[] = "restart-index";

// Writes the index of `st`'s last listing into the account's folder; on failure, removes the
// one there (an old listing must not outlive the copies it describes).
void SaveRestartIndex(const std::string& accountFolder, const std::string& accountKey, const AccountState& st,
                      std::chrono::system_clock::time_point listedAt);

// The index in the account's folder, when there is a sound one of this account's.
std::optional<IndexedListing> LoadRestartIndex(const std::string& accountFolder, const std::string& accountKey);

} // namespace maillib
