// A server may echo what it was sent; its words never carry the password on, in any form
// it was sent in.
#pragma once

#include <string>

namespace maillib {

// `text` with every form of `password` replaced by "****": as typed, in any letter case,
// in base64 (as AUTH LOGIN sends it), and inside the AUTH PLAIN blob of `user` and
// `password`, with or without the base64 padding.
std::string MaskPassword(std::string text, const std::string& user, const std::string& password);

} // namespace maillib
