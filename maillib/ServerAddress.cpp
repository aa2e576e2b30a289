#include "maillib/ServerAddress.h"

#include "maillib/Charset.h"

namespace maillib {
namespace {

bool Fail(std::string* error, const char* why)
{
    if (error) *error = why;
    return false;
}

bool ParseHostPort(std::string_view s, ServerAddress& parsed, bool& hasPort, std::string* error)
{
    hasPort = false;
    std::string_view portText;
    if (!s.empty() && s.front() == '[') {
        size_t close = s.find(']');
        if (close == std::string_view::npos) return Fail(error, "unclosed '[' in server address");
        parsed.host = std::string(s.substr(1, close - 1));
        if (parsed.host.empty() || parsed.host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos)
            return Fail(error, "invalid IPv6 address");
        std::string_view rest = s.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return Fail(error, "unexpected text after the address");
            portText = rest.substr(1);
            hasPort = true;
        }
    } else {
        size_t colon = s.find(':');
        parsed.host = std::string(s.substr(0, colon));
        if (colon != std::string_view::npos) {
            portText = s.substr(colon + 1);
            hasPort = true;
        }
        if (parsed.host.empty() || parsed.host.size() > 253) return Fail(error, "missing or overlong host name");
        for (char c : parsed.host) {
            bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                      c == '-' || c == '_';
            if (!ok) return Fail(error, "host name has characters that are not allowed");
        }
    }
    if (hasPort) {
        if (portText.empty() || portText.size() > 5 ||
            portText.find_first_not_of("0123456789") != std::string_view::npos)
            return Fail(error, "invalid port");
        parsed.port = std::stoi(std::string(portText));
        if (parsed.port < 1 || parsed.port > 65535) return Fail(error, "port out of range");
    }
    return true;
}

} // namespace

std::string ServerAddress::Url() const
{
    std::string h = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return std::string(security == Security::ImplicitTls ? "pop3s://" : "pop3://") + h + ":" + std::to_string(port) +
           "/";
}

std::string ServerAddress::Label() const
{
    std::string h = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    const char* scheme = security == Security::ImplicitTls ? "pop3s://"
                         : security == Security::StartTls  ? "pop3://"
                                                           : "insecure-pop3://";
    return scheme + h + ":" + std::to_string(port);
}

std::optional<ServerAddress> ParseServer(std::string_view text, std::string* error)
{
    std::string t = charset::Trim(text);
    ServerAddress parsed;
    std::string_view rest = t;
    std::string lower = charset::Lower(t);
    bool schemed = false;
    int defaultPort = 995;
    struct Scheme {
        const char* prefix;
        ServerAddress::Security security;
        int port;
    };
    static const Scheme schemes[] = {{"pop3s://", ServerAddress::Security::ImplicitTls, 995},
                                     {"pop3://", ServerAddress::Security::StartTls, 110},
                                     {"insecure-pop3://", ServerAddress::Security::Plain, 110}};
    for (const auto& s : schemes) {
        std::string_view p = s.prefix;
        if (lower.rfind(p, 0) == 0) {
            parsed.security = s.security;
            defaultPort = s.port;
            rest = rest.substr(p.size());
            schemed = true;
            break;
        }
    }
    if (!schemed && t.find("://") != std::string::npos) {
        Fail(error, "unknown scheme (use pop3s://, pop3:// or insecure-pop3://)");
        return std::nullopt;
    }
    if (rest.find('@') != std::string_view::npos) {
        Fail(error, "user and password do not belong in the server address");
        return std::nullopt;
    }
    if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    if (rest.empty()) {
        Fail(error, "empty server");
        return std::nullopt;
    }
    bool hasPort = false;
    if (!ParseHostPort(rest, parsed, hasPort, error)) return std::nullopt;
    if (!hasPort) parsed.port = defaultPort;
    if (!schemed)
        parsed.security = parsed.port == 995 ? ServerAddress::Security::ImplicitTls : ServerAddress::Security::StartTls;
    return parsed;
}

} // namespace maillib
