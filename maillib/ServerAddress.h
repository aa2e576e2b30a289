// The server text of an account, as the user types it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace maillib {

struct ServerAddress {
    enum class Security { ImplicitTls, StartTls, Plain };
    Security security = Security::ImplicitTls;
    std::string host; // IPv6 literals without brackets
    int port = 995;

    std::string Url() const;   // "pop3s://host:port/" or "pop3://host:port/"
    std::string Label() const; // for messages, e.g. "pop3s://mail.example.jp:995"
};

// host, host:995, pop3s://host[:port]   implicit TLS (995)
// host:PORT, pop3://host[:port]         STLS required (110)
// insecure-pop3://host[:port]           no TLS at all (110)
std::optional<ServerAddress> ParseServer(std::string_view text, std::string* error = nullptr);

} // namespace maillib
