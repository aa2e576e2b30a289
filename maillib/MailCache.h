// Copies of fetched mails kept on disk, one private folder per account under the receive
// folder's .fw-cache, so that a restart need not fetch an unchanged mailbox again.
//
// A copy is named after the account and its id, and tagged with a hash of account, id and
// content. It is trusted only when what it holds matches its tag; anything else found in an
// account's folder (damaged, foreign, unreadable, a link, a mail no longer on the server) is
// removed and the mail fetched again.
#pragma once

#include "maillib/AccountRegistry.h"
#include "maillib/UidList.h"

#include <string>
#include <utility>
#include <vector>

namespace maillib {

// The account's folder in `cacheRoot` (made, mode 0700, when missing); empty when there is no
// cache root or the name is taken by anything but a folder of ours.
std::string AccountCacheFolder(const std::string& cacheRoot, const std::string& accountKey);

// Writes a copy of a mail just fetched into the account's folder; its path, or empty when it
// could not be written (the mail then simply is not kept across a restart).
std::string SaveCopy(const std::string& accountFolder, const std::string& accountKey, std::string_view id,
                     const std::string& content);

// Takes into `st.mails` the copies of the listed mails it does not hold yet, as far as
// `budget` bytes allow, and removes every other file of the account's folder.
void LoadCopies(const std::string& accountFolder, const std::string& accountKey, const UidList& ids, AccountState& st,
                size_t budget);

// Removes the folders of every account but `keepKeys` from `cacheRoot`.
void RemoveOtherAccounts(const std::string& cacheRoot, const std::vector<std::string>& keepKeys);

} // namespace maillib
