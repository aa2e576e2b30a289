#pragma once
#include "maillib/MailLib.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// An account's mailbox watched for news over a connection of its own (IMAP IDLE); the watching
// ends when this goes.
class AccountWatch {
public:
    virtual ~AccountWatch() = default;
};

// The mail library as the check cycle sees it; tests script it. RcvMail and ReadMail may be
// called from worker threads, one account per thread.
class MailLibrary {
public:
    virtual ~MailLibrary() = default;

    // Checks one account into `folder`; `status` says how the account fared. The list has an
    // entry per mail, newest first; entries past the newest `placeFirst` may be empty (no file
    // was made for them). A mail's file keeps its name from check to check and is no other
    // mail's.
    virtual maillib::MailList RcvMail(std::string& server, std::string& user, std::string& password, std::string& mode,
                                      std::string& folder, maillib::AccountStatus& status, std::size_t placeFirst) = 0;
    virtual maillib::MailList ReadMail(std::string& mailRef, std::string& fieldList, std::string& folder) = 0;

    // Removes the cached mails of every account but `accounts` ((server, user) pairs) from the
    // receive folder's cache; called at start, before the first check.
    virtual void KeepCachedMailsOnlyOf(const std::string& /*folder*/,
                                       const std::vector<std::pair<std::string, std::string>>& /*accounts*/)
    {
    }

    // Aborts every RcvMail in flight, for ending the program; later calls fail at once.
    virtual void Cancel() {}

    // The network came back or changed: accounts backing off because they could not connect
    // or timed out are tried at their next check. Returns how many accounts that frees.
    virtual std::size_t RetryUnreachable() { return 0; }
    // The machine woke from sleep: the connections open now are dead; what runs on them fails
    // at once.
    virtual void DropOpenConnections() {}

    // Watches the account's mailbox where its server can tell of news (IMAP with IDLE), with
    // the texts RcvMail gets; while it is watched, a check of it costs no network until news
    // comes. `changed` is called on another thread whenever the mailbox changed. nullptr: the
    // account is not watched (POP3, say).
    virtual std::unique_ptr<AccountWatch> Watch(const std::string& /*server*/, const std::string& /*user*/,
                                                const std::string& /*password*/, const std::string& /*folder*/,
                                                std::function<void()> /*changed*/)
    {
        return nullptr;
    }
};
