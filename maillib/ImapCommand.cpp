#include "maillib/ImapCommand.h"

#include "maillib/ImapMailboxName.h"

namespace maillib::imap {
namespace {

std::string Quoted(std::string_view s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

bool HasControl(std::string_view s)
{
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

} // namespace

std::optional<MailboxArgument> MailboxArgument::For(std::string_view utf8Name, bool utf8Accepted)
{
    // Encoding refuses what is not UTF-8 or holds a control, whichever form is sent.
    auto encoded = EncodeModifiedUtf7(utf8Name);
    if (!encoded || utf8Name.empty() || HasControl(utf8Name)) return std::nullopt;
    return MailboxArgument(Quoted(utf8Accepted ? utf8Name : std::string_view(*encoded)));
}

Command Command::Capability() { return Command("CAPABILITY"); }
Command Command::EnableUtf8() { return Command("ENABLE UTF8=ACCEPT"); }
Command Command::Examine(const MailboxArgument& mailbox) { return Command("EXAMINE " + mailbox.Wire()); }
Command Command::Status(const MailboxArgument& mailbox)
{
    return Command("STATUS " + mailbox.Wire() + " (MESSAGES UIDNEXT UIDVALIDITY)");
}
Command Command::UidSearchAll() { return Command("UID SEARCH ALL"); }
Command Command::UidFetchPeek(const std::vector<uint32_t>& uids, size_t textBytes)
{
    std::string items = "(UID BODY.PEEK[HEADER]";
    if (textBytes > 0) items += " BODY.PEEK[TEXT]<0." + std::to_string(textBytes) + ">";
    return Command("UID FETCH " + UidSet(uids) + " " + items + ")");
}
Command Command::Idle() { return Command("IDLE"); }
Command Command::Noop() { return Command("NOOP"); }
Command Command::Logout() { return Command("LOGOUT"); }

std::string Command::Line(std::string_view tag) const { return std::string(tag) + " " + text_ + "\r\n"; }

std::string_view Command::Verb() const { return std::string_view(text_).substr(0, text_.find(' ')); }

std::string UidSet(const std::vector<uint32_t>& uids)
{
    std::string out;
    for (size_t i = 0; i < uids.size();) {
        size_t j = i;
        while (j + 1 < uids.size() && uids[j + 1] == uids[j] + 1) ++j;
        if (!out.empty()) out += ',';
        out += std::to_string(uids[i]);
        if (j > i) out += ':' + std::to_string(uids[j]);
        i = j + 1;
    }
    return out;
}

} // namespace maillib::imap
