// Push for an IMAP account: one long-lived connection on a thread of its own that opens the
// mailbox read-only (EXAMINE) and waits in IDLE, re-issued every 25 minutes by the library's
// clock. When the server tells of a change (EXISTS, EXPUNGE, FETCH) the watcher says so
// through `changed`; while it idles, a check of the account is answered from what the
// connection knows, with no network (WatchedMailboxes.h).
//
// A connection that drops, goes silent (the re-issue gets no answer in time) or outlives a
// network change is made anew, at once the first time and then with the checks' back-off;
// meanwhile the account's checks ask the server as usual. A server without IDLE is not
// watched: its account is checked as usual. CancelChecks() ends the watcher at once.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace maillib {

class MailboxWatch {
public:
    // `server`, `user`, `password` and `folder` as for RcvMail (the folder's INI/cacert.pem is
    // trusted). `changed` is called on the watcher's thread; it must not block for long.
    // Returns nullptr for a server text that is not IMAP or not valid.
    static std::unique_ptr<MailboxWatch> Start(const std::string& server, const std::string& user,
                                               const std::string& password, const std::string& folder,
                                               std::function<void()> changed);
    // Ends the connection (DONE and LOGOUT, briefly) and waits for the thread: a connection
    // being made gets the connect bound, unless CancelChecks() ended it already.
    ~MailboxWatch();
    MailboxWatch(const MailboxWatch&) = delete;
    MailboxWatch& operator=(const MailboxWatch&) = delete;

    // True while the connection is idling on the mailbox.
    bool Healthy() const;
    // Sign-ins so far, successful or not: a measure of what push saves.
    int Logins() const;

    struct Impl;

private:
    explicit MailboxWatch(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace maillib
