// What the library remembers per account between checks, and the settings all checks
// share. Each account has its own lock, held for the whole of that account's check, so
// checks of different accounts run side by side.
#pragma once

#include "maillib/Backoff.h"
#include "maillib/MailLibInternal.h"
#include "maillib/MailboxSession.h"
#include "maillib/UidList.h"

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace maillib {

struct Cached {
    std::string content;
    // The mail's copy in the account's cache folder, which checks link into the receive
    // folder instead of writing the mail again, and a restart reads instead of fetching it.
    // Empty when there is none.
    std::string shadow;
    std::string fileName; // the mail file's name once worked out: hashing it is not free
};

// Removes the mail's cached copy.
void DropShadow(Cached& mail);

struct AccountState {
    std::mutex mutex;                                 // held while this account is checked
    std::map<std::string, Cached, std::less<>> mails; // the newest mails, by the session's id
    size_t cachedBytes = 0;
    // The last good check's listing: the ids of the newest mails (as many as it placed at
    // most), newest first, and what the session said of the mailbox, which its summary at
    // the next check is held against.
    UidList lastListing;
    MailboxState lastState;
    size_t lastWindow = 0; // how many of the newest mails that check was asked to place
    bool haveLastOrder = false;
    Clock::time_point fullListingAt{};
    Clock::time_point shortcutRefusedAt{}; // the summary was refused: full listings for a while
    bool shortcutRefused = false;
    bool listingComplete = false; // every mail of lastListing is in `mails`
    // The back-off of each set of credentials sent, by their fingerprint: two account slots
    // with the same server and user share the mails, but a wrong password of one is not sent
    // again because the other logged in. A few at the most (kMaxBackoffs).
    std::map<std::string, Backoff, std::less<>> backoffs;
    std::string lastFingerprint; // the credentials of the last check
    Clock::time_point loginAllowedAt{};
    bool loginDelayRefused = false;                // the wait is the server's refusal, not its announced pause
    std::set<std::string, std::less<>> skipWarned; // mails already reported as skipped
    size_t skipSummary = 0;                        // mails skipped when that was last said as one line
    std::set<std::string, std::less<>> askLast;    // mails that ended a check early: fetched after the others
    std::string copiesFrom;                        // the receive folder copyFolder belongs to
    std::string copyFolder;    // the account's folder in that folder's cache; empty when there is none
    bool copiesLoaded = false; // what an earlier process left in copyFolder has been taken in

    AccountState() = default;
    AccountState(const AccountState&) = delete;
    AccountState& operator=(const AccountState&) = delete;
    ~AccountState() = default;
};

// The account's state, created on first use. Shared: a reset never pulls it from under a check.
std::shared_ptr<AccountState> AccountFor(const std::string& key);
std::shared_ptr<AccountState> FindAccount(const std::string& key);

// Forgets every account; `dropCopies` removes their copies on disk as well.
void ForgetAccounts(bool dropCopies);

// Every account known now, for a look at each (the registry's lock is not held meanwhile).
std::vector<std::shared_ptr<AccountState>> AllAccounts();

} // namespace maillib
