// A scripted POP3 server on 127.0.0.1 for the faults a real server will not
// produce. It answers like a plain-text server with UIDL and TOP; a hook can
// replace any reply. Every command line received is recorded per connection.
#pragma once

#include "tests/maillib/LoopbackServer.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

struct FakeMail {
    std::string uid;
    std::string content; // CRLF line ends
    long listSize = -1;  // LIST size to announce; -1: the real size
};

class FakePop3Server : public LoopbackServer {
public:
    using Hook = std::function<std::optional<FakeReply>(const std::string& command, int connection)>;

    std::string greeting = "+OK fake POP3 ready";
    std::vector<std::string> capabilities{"USER", "UIDL", "TOP"};
    std::string password = "secret";
    bool silent = false; // accept and never send a byte
    Hook hook;

    ~FakePop3Server() override { stop(); }

    void setMails(std::vector<FakeMail> mails);

private:
    void serve(Channel& channel, int connection) override;
    std::string defaultReply(const std::string& command, bool& close);

    std::vector<FakeMail> mails_;
};

// The fake's address as a server text, in plain text (the fake speaks no TLS).
inline std::string Plain(const FakePop3Server& s)
{
    return "insecure-pop3://" + s.address + ":" + std::to_string(s.port());
}
