// The server text of an account, as the user types it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace maillib {

struct ServerAddress {
    enum class Protocol { Pop3, Imap };
    enum class Security { ImplicitTls, StartTls, Plain };
    Protocol protocol = Protocol::Pop3;
    Security security = Security::ImplicitTls;
    std::string host; // IPv6 literals without brackets
    int port = 995;
    std::string mailbox; // IMAP only: the mailbox watched, UTF-8 ("INBOX" unless given)

    std::string Url() const; // "pop3s://host:port/", "imap://host:port/", ... (never the mailbox)
    // For messages, e.g. "pop3s://mail.example.jp:995" or "imaps://mail.example.jp:993/INBOX";
    // it reads back as the same server.
    std::string Label() const;
};

// host, host:995, pop3s://host[:port]          POP3, implicit TLS (995)
// host:PORT, pop3://host[:port]                POP3, STLS required (110)
// insecure-pop3://host[:port]                  POP3, no TLS at all (110)
// imaps://host[:port][/mailbox]                IMAP, implicit TLS (993)
// imap://host[:port][/mailbox]                 IMAP, STARTTLS required (143)
// insecure-imap://host[:port][/mailbox]        IMAP, no TLS at all (143)
// A mailbox name may carry %XX escapes (a URL's form); any case of "inbox" is INBOX.
std::optional<ServerAddress> ParseServer(std::string_view text, std::string* error = nullptr);

} // namespace maillib
