// What the scripted mail servers share: a listening socket on 127.0.0.1, one connection
// served at a time on a thread of the server's own (or each on a thread of its own), a channel
// that may turn to TLS, and a record of every line each connection sent.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct FakeReply {
    std::string text;   // sent as is
    bool close = false; // close the connection after sending
    bool stall = false; // then say nothing more on this connection
};

// A self-signed certificate for 127.0.0.1 and localhost, made once per process.
struct TestCertificate {
    std::string pemFile;     // the certificate, to trust as a CA file
    void* context = nullptr; // SSL_CTX for servers
};
const TestCertificate& LoopbackCertificate();

// How many TLS handshakes of this process's servers resumed a session instead of making one.
long ResumedHandshakes();

// One accepted connection, in clear text or TLS.
class Channel {
public:
    explicit Channel(int fd) : fd_(fd) {}
    ~Channel();
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    bool StartTls(); // the server side of a TLS handshake
    bool Tls() const { return ssl_ != nullptr; }
    // Sends all of `data`, a byte at a time when asked (each byte its own TLS record).
    bool Send(std::string_view data, bool byteAtATime, std::atomic<long long>& counter);
    // Bytes that arrived within `ms`: > 0 bytes, 0 nothing yet, -1 closed.
    long Receive(char* buf, size_t size, int ms);

private:
    int fd_;
    void* ssl_ = nullptr;
};

class LoopbackServer {
public:
    bool byteAtATime = false;
    bool concurrent = false;           // each connection on a thread of its own (a watcher beside checks)
    std::string address = "127.0.0.1"; // where it listens (an IPv4 address)

    LoopbackServer() = default;
    virtual ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    bool start();
    void stop(); // derived classes call it first in their destructor
    int port() const { return port_; }

    std::vector<std::vector<std::string>> transcripts() const;
    std::vector<std::string> lastTranscript() const;
    int connections() const;
    long long bytesSent() const { return sent_; } // what the clients took, all connections

protected:
    virtual void serve(Channel& channel, int connection) = 0;
    void record(int connection, std::string line);
    // Adds what arrives within 20 ms to `buffer`; false once the client has gone.
    bool receive(Channel& channel, std::string& buffer);
    // Takes the next whole line (CRLF removed) out of `buffer` and records it.
    std::optional<std::string> takeLine(std::string& buffer, int connection);
    bool stopping() const { return stop_; }
    bool send(Channel& channel, std::string_view data) { return channel.Send(data, byteAtATime, sent_); }

    mutable std::mutex mutex_; // guards the transcripts and what derived classes keep

private:
    void run();

    std::atomic<bool> stop_{false};
    std::atomic<long long> sent_{0};
    int listenFd_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::vector<std::thread> workers_; // concurrent connections
    std::vector<std::vector<std::string>> transcripts_;
};
