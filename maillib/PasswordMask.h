// A server may echo what it was sent; its words never carry the password on, in any form
// it was sent in.
#pragma once

#include <cstddef>
#include <string>

namespace maillib {

// `text` with every form of `password` replaced by "****": as typed, in any letter case,
// in base64 (as AUTH LOGIN sends it), and inside the AUTH PLAIN blob of `user` and
// `password`, with or without the base64 padding.
std::string MaskPassword(std::string text, const std::string& user, const std::string& password);

// `text` as one line that is safe to show: every form of the password masked, no controls,
// no bidi or format characters, and cut to about `maxBytes` (valid UTF-8, "..." added).
std::string SafeToShow(const std::string& text, const std::string& user, const std::string& password, size_t maxBytes);

} // namespace maillib
