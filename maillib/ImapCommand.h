// The commands this client sends: a closed set, none of which changes a mailbox. Mailboxes
// are opened with EXAMINE, mail is read with BODY.PEEK; a command is made only by the
// functions below, so no code path can send STORE, EXPUNGE, COPY, MOVE, APPEND, CREATE,
// DELETE, RENAME, SUBSCRIBE or SELECT.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace maillib::imap {

// A mailbox name as a command argument: a quoted string, in modified UTF-7, or in UTF-8
// once the server has accepted UTF-8.
class MailboxArgument {
public:
    // nullopt for a name that cannot be sent (not UTF-8, or a control character in it).
    static std::optional<MailboxArgument> For(std::string_view utf8Name, bool utf8Accepted);
    const std::string& Wire() const { return wire_; }

private:
    explicit MailboxArgument(std::string wire) : wire_(std::move(wire)) {}
    std::string wire_;
};

class Command {
public:
    static Command Capability();
    static Command EnableUtf8();
    static Command Examine(const MailboxArgument& mailbox);
    static Command Status(const MailboxArgument& mailbox); // MESSAGES UIDNEXT UIDVALIDITY
    static Command UidSearchAll();
    // The header and the first `textBytes` bytes of the body of each mail, none marked read.
    // `uids` ascending, not empty.
    static Command UidFetchPeek(const std::vector<uint32_t>& uids, size_t textBytes);
    static Command Idle();
    static Command Noop();
    static Command Logout();

    // The line to send under `tag`, CRLF included.
    std::string Line(std::string_view tag) const;
    // The command's first word ("EXAMINE", "UID"), for messages.
    std::string_view Verb() const;

private:
    explicit Command(std::string text) : text_(std::move(text)) {}
    std::string text_;
};

// Ends an IDLE; not a tagged command.
inline constexpr std::string_view kIdleDone = "DONE\r\n";

// "1:3,7,9:10" for ascending `uids`.
std::string UidSet(const std::vector<uint32_t>& uids);

} // namespace maillib::imap
