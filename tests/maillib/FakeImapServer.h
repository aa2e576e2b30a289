// A scripted IMAP server on 127.0.0.1 for the faults a real server will not produce. It
// answers the subset a read-only client needs, in clear text, with STARTTLS or with
// implicit TLS (trust LoopbackCertificate().pemFile); a hook can replace any reply. Every
// line received is recorded per connection, sign-in lines included.
#pragma once

#include "tests/maillib/LoopbackServer.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct FakeImapMail {
    uint32_t uid = 0;
    std::string content; // CRLF line ends; the header ends at the first blank line
};

struct FakeMailbox {
    uint32_t uidValidity = 1;
    uint32_t uidNext = 0; // 0: one past the highest UID
    std::vector<FakeImapMail> mails;
};

class FakeImapServer : public LoopbackServer {
public:
    using Hook = std::function<std::optional<FakeReply>(const std::string& line, int connection)>;
    enum class Tls { None, StartTls, Implicit };

    Tls tls = Tls::None;
    std::string greeting = "* OK fake IMAP ready";
    std::vector<std::string> capabilities{"IMAP4rev1", "IDLE", "AUTH=PLAIN", "SASL-IR"};
    bool capabilityAfterLogin = true;  // the sign-in's OK names the capabilities
    bool loginDisabledInClear = false; // LOGINDISABLED, and no AUTH=, until TLS
    std::string afterStartTls;         // sent in clear right after STARTTLS's OK
    bool ignorePartial = false;        // BODY[TEXT]<0.N> answered with the whole text
    std::string user = "u@example.jp";
    std::string password = "secret";
    bool silent = false; // accept and never send a byte
    Hook hook;

    ~FakeImapServer() override { stop(); }

    // Mailboxes by the name a client sends (modified UTF-7, or UTF-8 after ENABLE UTF8=ACCEPT).
    void setMailbox(const std::string& name, FakeMailbox box);
    // A new mail; a connection idling in that mailbox hears EXISTS.
    void deliver(const std::string& name, std::string content);
    // Sent as is to the next connection found idling.
    void push(std::string text);

private:
    struct Session;
    void serve(Channel& channel, int connection) override;
    bool handle(Channel& channel, Session& s, const std::string& line);
    std::string capabilityList(const Session& s) const;
    std::string fetch(const std::string& tag, const std::string& args, const Session& s);
    void idleNews(Channel& channel, Session& s);

    std::map<std::string, FakeMailbox> boxes_;
    std::vector<std::string> pushes_;
};

// The fake's address as a server text, for its TLS mode.
std::string ImapAddress(const FakeImapServer& s, const std::string& mailbox = "");

// The command lines in `transcripts` that could change a mailbox or mark mail read.
std::vector<std::string> ChangingCommands(const std::vector<std::vector<std::string>>& transcripts);
