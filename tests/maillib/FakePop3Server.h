// A scripted POP3 server on 127.0.0.1 for the faults a real server will not
// produce. It answers like a plain-text server with UIDL and TOP; a hook can
// replace any reply. Every command line received is recorded per connection.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct FakeMail {
    std::string uid;
    std::string content; // CRLF line ends
    long listSize = -1;  // LIST size to announce; -1: the real size
};

struct FakeReply {
    std::string text;   // sent as is
    bool close = false; // close the connection after sending
    bool stall = false; // then say nothing more on this connection
};

class FakePop3Server {
public:
    using Hook = std::function<std::optional<FakeReply>(const std::string& command, int connection)>;

    std::string greeting = "+OK fake POP3 ready";
    std::vector<std::string> capabilities{"USER", "UIDL", "TOP"};
    std::string password = "secret";
    bool byteAtATime = false;
    bool silent = false;               // accept and never send a byte
    std::string address = "127.0.0.1"; // where it listens (an IPv4 address)
    Hook hook;

    FakePop3Server() = default;
    ~FakePop3Server();
    FakePop3Server(const FakePop3Server&) = delete;
    FakePop3Server& operator=(const FakePop3Server&) = delete;

    void setMails(std::vector<FakeMail> mails);
    bool start();
    void stop();
    int port() const { return port_; }

    std::vector<std::vector<std::string>> transcripts() const;
    std::vector<std::string> lastTranscript() const;
    int connections() const;
    long long bytesSent() const { return sent_; } // what the clients took, all connections

private:
    void run();
    void serve(int fd, int connection);
    bool send(int fd, const std::string& data);
    std::string defaultReply(const std::string& command, bool& close);

    std::atomic<bool> stop_{false};
    std::atomic<long long> sent_{0};
    int listenFd_ = -1;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<FakeMail> mails_;
    std::vector<std::vector<std::string>> transcripts_;
};

// The fake's address as a server text, in plain text (the fake speaks no TLS).
inline std::string Plain(const FakePop3Server& s)
{
    return "insecure-pop3://" + s.address + ":" + std::to_string(s.port());
}
