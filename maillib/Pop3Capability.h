// What the receiver reads from a server's CAPA reply.
#pragma once

#include <optional>
#include <string_view>

namespace maillib {

// A server may ask for a pause between logins; more than an hour is not a pause.
constexpr long kMaxLoginDelaySeconds = 3600;

// The seconds of a "LOGIN-DELAY n" or "LOGIN-DELAY n USER" capability line (any case),
// capped at kMaxLoginDelaySeconds; nullopt for any other line.
std::optional<long> LoginDelayFromCapability(std::string_view line);

} // namespace maillib
