// Formats an address header for display: "Name <addr>", comma separated.
#pragma once

#include <string>

namespace maillib {

// `raw` is the header value as it came in the mail: folded, with encoded-words, raw 8-bit
// or JIS text, comments and quotes.
std::string FormatAddressHeader(const std::string& raw);

} // namespace maillib
