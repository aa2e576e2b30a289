#include "maillib/ServerAddress.h"

#include "maillib/Charset.h"
#include "maillib/ImapMailboxName.h"

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

// The path of an IMAP address: %XX escapes undone, valid UTF-8 without controls.
bool ParseMailbox(std::string_view path, std::string& mailbox, std::string* error)
{
    mailbox.clear();
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] != '%') {
            mailbox += path[i];
            continue;
        }
        auto hex = [](char c) {
            return c >= '0' && c <= '9' ? c - '0' : (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10 : -1;
        };
        if (i + 2 >= path.size() || hex(path[i + 1]) < 0 || hex(path[i + 2]) < 0)
            return Fail(error, "invalid %-escape in the mailbox name");
        mailbox += static_cast<char>(hex(path[i + 1]) * 16 + hex(path[i + 2]));
        i += 2;
    }
    if (mailbox.empty() || imap::SameMailbox(mailbox, "INBOX")) mailbox = "INBOX";
    if (mailbox.size() > 1000) return Fail(error, "overlong mailbox name");
    if (!imap::EncodeModifiedUtf7(mailbox) || charset::StripDisplayControls(mailbox, "") != mailbox)
        return Fail(error, "the mailbox name has characters that are not allowed");
    return true;
}

std::string Bracketed(const std::string& host) { return host.find(':') != std::string::npos ? "[" + host + "]" : host; }

} // namespace

std::string ServerAddress::Url() const
{
    const bool imap = protocol == Protocol::Imap;
    const char* scheme =
        security == Security::ImplicitTls ? (imap ? "imaps://" : "pop3s://") : (imap ? "imap://" : "pop3://");
    return scheme + Bracketed(host) + ":" + std::to_string(port) + "/";
}

std::string ServerAddress::Label() const
{
    const bool imap = protocol == Protocol::Imap;
    const char* scheme = security == Security::ImplicitTls ? (imap ? "imaps://" : "pop3s://")
                         : security == Security::StartTls  ? (imap ? "imap://" : "pop3://")
                                                           : (imap ? "insecure-imap://" : "insecure-pop3://");
    std::string label = scheme + Bracketed(host) + ":" + std::to_string(port);
    if (!imap) return label;
    label += '/';
    for (size_t i = 0; i < mailbox.size(); ++i) {
        // What would end the address, hide a character or be read as the address's closing
        // slash is written as an escape.
        const char c = mailbox[i];
        if (c == ' ' || c == '%' || c == '@' || (c == '/' && i + 1 == mailbox.size())) {
            static const char digits[] = "0123456789ABCDEF";
            label += '%';
            label += digits[static_cast<unsigned char>(c) >> 4];
            label += digits[c & 0xF];
        } else {
            label += c;
        }
    }
    return label;
}

std::optional<ServerAddress> ParseServer(std::string_view text, std::string* error)
{
    std::string t = charset::Trim(text);
    ServerAddress parsed;
    std::string_view rest = t;
    std::string lower = charset::Lower(t);
    bool schemed = false;
    int defaultPort = 995;
    using P = ServerAddress::Protocol;
    using S = ServerAddress::Security;
    struct Scheme {
        const char* prefix;
        P protocol;
        S security;
        int port;
    };
    static const Scheme schemes[] = {
        {"pop3s://", P::Pop3, S::ImplicitTls, 995},   {"pop3://", P::Pop3, S::StartTls, 110},
        {"insecure-pop3://", P::Pop3, S::Plain, 110}, {"imaps://", P::Imap, S::ImplicitTls, 993},
        {"imap://", P::Imap, S::StartTls, 143},       {"insecure-imap://", P::Imap, S::Plain, 143}};
    for (const auto& s : schemes) {
        std::string_view p = s.prefix;
        if (lower.rfind(p, 0) == 0) {
            parsed.protocol = s.protocol;
            parsed.security = s.security;
            defaultPort = s.port;
            rest = rest.substr(p.size());
            schemed = true;
            break;
        }
    }
    if (!schemed && t.find("://") != std::string::npos) {
        Fail(error, "unknown scheme (use pop3s://, pop3://, insecure-pop3://, imaps://, imap:// or insecure-imap://)");
        return std::nullopt;
    }
    if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    std::string_view path;
    if (parsed.protocol == P::Imap) {
        // The mailbox is all after the first '/', whatever it holds.
        size_t slash = rest.find('/');
        if (slash != std::string_view::npos) {
            path = rest.substr(slash + 1);
            rest = rest.substr(0, slash);
        }
        if (!ParseMailbox(path, parsed.mailbox, error)) return std::nullopt;
    }
    if (rest.find('@') != std::string_view::npos) {
        Fail(error, "user and password do not belong in the server address");
        return std::nullopt;
    }
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
