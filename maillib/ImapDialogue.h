// The read-only IMAP dialogue over one connection: sign in, capabilities, STATUS, EXAMINE,
// UID SEARCH, UID FETCH of headers and the first part of bodies with BODY.PEEK, IDLE and
// LOGOUT. Every command comes from the closed set in ImapCommand.h.
#pragma once

#include "maillib/ImapCommand.h"
#include "maillib/ImapConnection.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace maillib::imap {

struct Reply {
    enum class Kind {
        Ok,
        Refused, // the server answered the command with NO or BAD; the connection goes on
        Failed   // connection, TLS, sign-in, time-out or protocol failure; the connection is gone
    };
    Kind kind = Kind::Ok;
    std::string reason;                                             // one line for the log; never the password
    AccountStatus::Kind failure = AccountStatus::Kind::ServerError; // what Failed means for the account
    bool missingMailbox = false; // EXAMINE or STATUS refused: there is no such mailbox
    bool cut = false;            // Fetch stopped at a mail over the byte bound; the connection is gone
    bool ok() const { return kind == Kind::Ok; }
};

struct MailboxCounts {
    uint64_t messages = 0;
    uint32_t uidNext = 0;     // 0: the server did not say
    uint32_t uidValidity = 0; // 0: the server did not say
};

class Dialogue {
public:
    // `byteCap`: the bytes kept of one mail, header and body together.
    Dialogue(const SessionOptions& options, size_t byteCap);

    // Connects and signs in; learns the capabilities; takes UTF-8 names when offered.
    Reply Open();
    bool Offers(std::string_view capability) const;
    // Every wait from now on ends at `deadline` (real time).
    void SetDeadline(Deadline deadline) { deadline_ = deadline; }

    // MESSAGES UIDNEXT UIDVALIDITY of a mailbox not open on this connection.
    Reply Status(std::string_view mailbox, MailboxCounts& out);
    // Opens a mailbox read-only.
    Reply Examine(std::string_view mailbox, MailboxCounts& out);
    // The UIDs of the open mailbox, ascending.
    Reply SearchAll(std::vector<uint32_t>& uids);
    // Header and first part of the body of each UID (ascending) that still exists, as they
    // arrive. A mail over the byte bound is handed over cut and ends the connection.
    using MailHandler = std::function<void(uint32_t uid, std::string mail)>;
    Reply Fetch(const std::vector<uint32_t>& uids, const MailHandler& onMail);

    // IDLE on the open mailbox: Refused when the server will not.
    Reply StartIdle();
    enum class IdleNews {
        Changed, // EXISTS, EXPUNGE or FETCH: the mailbox changed
        Quiet,   // nothing until `until`
        Woken,   // Wake() was called
        Ended    // the server ended IDLE by itself
    };
    Reply WaitIdle(Deadline until, IdleNews& news);
    // DONE, and the server's answer to it within the deadline: silence means a dead connection.
    Reply EndIdle();

    // LOGOUT within a short bound, then the connection is closed.
    void Logout();
    // Makes a wait in progress return (IdleNews::Woken, or a stopped command). Any thread.
    void Wake() { connection_.Wake(); }

    // Messages in the open mailbox as far as this connection has heard.
    uint64_t Exists() const { return exists_; }
    long long BytesIn() const { return connection_.BytesIn(); }
    long long BytesOut() const { return connection_.BytesOut(); }

private:
    using Handler = std::function<void(const Response&)>;
    Reply Run(const Command& command, const Handler& each = {});
    Reply Await(const std::string& tag, std::string_view verb, const Handler& each, bool untilContinuation = false);
    void Untagged(const Response& r);
    Reply Lost(const Failure& failure);
    Reply Refused(std::string_view verb, const Response& r) const;
    bool Names(const Value& v, std::string_view mailbox) const;
    std::string NextTag() { return "F" + std::to_string(++tags_); }

    SessionOptions opts_;
    size_t byteCap_;
    Connection connection_;
    Deadline deadline_;
    bool open_ = false;
    bool utf8_ = false; // the server took ENABLE UTF8=ACCEPT
    std::vector<std::string> capabilities_;
    std::string examined_;
    uint64_t exists_ = 0;
    unsigned tags_ = 0;
    std::string idleTag_;
    bool idling_ = false;
    bool news_ = false; // a change heard outside IDLE, told by the next WaitIdle
    std::string bye_;   // the server's BYE text, for the reason when the connection goes
};

} // namespace maillib::imap
