// The mail files of a check in the receive folder, linked from the cached copies when there
// are some, and the private cache folder (.fw-cache) those copies live in.
#pragma once

#include "maillib/AccountRegistry.h"
#include "maillib/MailLib.h"
#include "maillib/UidList.h"

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace maillib {

using UncachedMails = std::map<std::string, std::string, std::less<>>;

std::string JoinPath(const std::string& folder, const std::string& name);

// All of `data` written to `fd`, or false.
bool WriteWhole(int fd, std::string_view data);
// `into.size()` bytes read from `fd` into `into`, or false (also when the file ends sooner).
bool ReadWhole(int fd, std::string& into);

// The receive folder's private cache folder (made, mode 0700, on first use in this process,
// when it also clears what an earlier process left half-written), or empty when the name is
// taken by anything but a folder of ours, a link above all.
std::string CacheRoot(const std::string& folder);

// INI/cacert.pem in the folder when it is a regular file, else empty.
std::string CaFileFor(const std::string& folder);

// One file put in the folder per id, in order, for the ids in the account's cache or in
// `uncached` (others are left out). On failure (or cancellation) every file this call wrote
// is removed again and nullopt returned; `error` then says why, and `errorNumber` (when given)
// holds the system's error code (ENOSPC for a full disk), or 0.
MailList WriteFiles(const std::string& folder, const std::string& accountKey, const UidList& order, AccountState& st,
                    const UncachedMails& uncached, std::string& error, int* errorNumber = nullptr);

// Removes files written by a check that is then abandoned (empty entries are skipped).
void RemoveFiles(const std::vector<std::string>& paths);

// Forgets which cache folders this process has prepared.
void ForgetCacheFolders();

} // namespace maillib
