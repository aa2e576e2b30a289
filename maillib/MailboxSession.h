// One conversation with an account's mailbox, for one check, whatever the protocol.
//
// AccountCheck keeps the account's rules: the back-off after failures, the server's pause
// between logins, the cache of mails, placing their files, the status. It asks a session only
// what is declared here. The POP3 dialogue over libcurl is one implementation; the server text
// picks the implementation (OpenMailboxSession).
//
// Ids are the session's: an opaque text per mail that the check keeps and hands back. A mail
// keeps its id from check to check, and no other mail of the mailbox has it (POP3: the UIDL,
// or a hash of the header block where the server has no UIDL; IMAP: UIDVALIDITY.UID). Where a
// mail stands (POP3's message number, IMAP's UID or sequence number) is the session's business
// too: a listing pairs each id with a number that the check hands back to Fetch unread.
//
// A session serves one check on one thread and is then destroyed. Every call returns by the
// deadline in SessionOptions, and at once after CancelChecks() (Failed, AccountStatus
// Cancelled). Nothing a session sends changes the mailbox (POP3: TOP, never RETR or DELE;
// IMAP: EXAMINE and BODY.PEEK only). No reason text ever holds the password.
#pragma once

#include "maillib/MailLib.h"
#include "maillib/ServerAddress.h"
#include "maillib/UidList.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace maillib {

struct SessionReply {
    enum class Kind {
        Ok,
        Refused, // the server said no to this request alone; the session goes on
        Ended,   // nothing was sent: the session cannot go on in this check, the rest waits
        Failed,  // connection, TLS, login, time-out or protocol failure: the check fails
    };
    Kind kind = Kind::Ok;
    std::string reason; // one line for the log and the status
    // Failed: what it means for the account (Cancelled after CancelChecks()).
    AccountStatus::Kind failure = AccountStatus::Kind::ServerError;
    bool loginDelay = false; // Failed: the server refused the login as too early (POP3 [LOGIN-DELAY])
    bool noMailbox = false;  // Failed: the account's mailbox does not exist on the server
    bool gone = false;       // Refused by Fetch: the server does not know this mail (any more)
    // Ok from Fetch: the mail went on past the byte cap. The first byteCap bytes are given, and
    // the session is over (further requests are Ended).
    bool cut = false;
    bool ok() const { return kind == Kind::Ok; }
};

// What a session tells of the mailbox as a whole. The check keeps the state its last listing
// gave and hands it back at the next check.
struct MailboxState {
    bool known = false; // false: the session could not tell (the check then lists)
    size_t count = 0;   // mails in the mailbox
    // A text equal at two checks only when no mail was added or removed in between, when
    // `count` is equal too (POP3: the id of the last mail; IMAP: UIDVALIDITY and UIDNEXT).
    std::string mark;
    // What the session wants to know at the next check (POP3: that the server had no UIDL).
    std::string note;
};

struct MailboxListing {
    UidList newest;     // the newest mails (at most the window asked for), newest first
    MailboxState state; // as Summary would find the mailbox just listed
    // Mails the session left out of `newest` because the server would not say what they are:
    // (number, why). Said in the log once.
    std::vector<std::pair<unsigned long, std::string>> refused;
    // The ids of the last listing no longer name the same mails (IMAP: a new UIDVALIDITY):
    // what is cached under them is worthless.
    bool renumbered = false;
};

class MailboxSession {
public:
    virtual ~MailboxSession() = default;

    // Connects and logs in. A session may put the login off to its first request (POP3 over
    // curl does): Open is then Ok, and the first request fails when the login does.
    virtual SessionReply Open() = 0;

    // The cheap "did anything change?": `last` is the state the last listing gave (empty at the
    // first check), which a session may use to ask the cheapest way. The check lists only when
    // `now` is not known or differs from `last` in count or mark. Refused: the server will not
    // say cheaply; the check lists now and does not ask again for a while.
    virtual SessionReply Summary(const MailboxState& last, MailboxState& now) = 0;

    // True when an equal summary proves the mailbox unchanged (IMAP: UIDs are never reused), so
    // that no periodic full listing is needed to catch what a summary could miss.
    virtual bool SummaryIsExact() const { return false; }

    // The ids of the newest `window` mails (every mail for SIZE_MAX) and the mailbox's state.
    // `last` as above; `fresh` asks for the periodic full listing, which sets aside `last.note`.
    virtual SessionReply List(size_t window, const MailboxState& last, bool fresh, MailboxListing& out) = 0;

    // The header and the first lines of the body of a mail the listing named (its id and
    // number), SessionOptions::byteCap bytes at most; a mail that fits comes whole. Refused: the
    // server will not give the mail now; it is left out of this check (and asked for after the
    // others at the next one, unless `gone`).
    virtual SessionReply Fetch(std::string_view id, unsigned long number, std::string& out) = 0;

    // The numbers of the mails Fetch will be asked for next, in that order, so that a session
    // may ask its server for several at once.
    virtual void Upcoming(const std::vector<unsigned long>& /*numbers*/) {}

    // Ends the session politely (POP3 QUIT, IMAP LOGOUT) when one is open.
    virtual void Quit() = 0;

    // The pause between logins the server announced, in seconds, if any.
    virtual std::optional<long> LoginDelaySeconds() const = 0;
};

struct SessionOptions {
    ServerAddress server;
    std::string user;
    std::string password;
    std::string caFile;                             // extra trusted certificates, or empty
    std::chrono::steady_clock::time_point deadline; // real time, as curl counts it
    std::chrono::milliseconds connectBound{10000};  // connect, greeting and login
    size_t byteCap = 256 * 1024;                    // bytes kept of one mail
    unsigned long bodyLinesOverCap = 300;           // body lines asked for of a mail over the cap
    // A refusal that ends the session (POP3 over curl) is followed by a new login this often
    // in one check at most, and never when the server announced a pause between logins.
    int loginsAfterRefusal = 3;
};

// The session for the account's server, by its server text.
std::unique_ptr<MailboxSession> OpenMailboxSession(const SessionOptions& options);

} // namespace maillib
