// Mailbox names on the wire. A server that does not accept UTF-8 takes them in modified
// UTF-7 (RFC 3501 5.1.3): printable ASCII as itself, "&" as "&-", anything else as UTF-16
// in base64 (with "," for "/") between "&" and "-".
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace maillib::imap {

// nullopt when `utf8` is not valid UTF-8 or holds a control character.
std::optional<std::string> EncodeModifiedUtf7(std::string_view utf8);
// nullopt when `text` is not valid modified UTF-7.
std::optional<std::string> DecodeModifiedUtf7(std::string_view text);

// Whether two names (UTF-8) are the same mailbox: INBOX in any case is the inbox.
bool SameMailbox(std::string_view a, std::string_view b);

} // namespace maillib::imap
