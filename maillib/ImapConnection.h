// One IMAP connection: curl connects, checks the certificate, upgrades with STARTTLS and
// signs in (CURLOPT_CONNECT_ONLY), and stops there; the commands after that go over
// curl_easy_send/curl_easy_recv, with our own deadlines, since curl's time-outs do not
// cover them. Ending every check (CancelChecks) also ends a connection waiting here.
#pragma once

#include "maillib/ImapResponse.h"
#include "maillib/MailLib.h"
#include "maillib/Pop3Session.h"

#include <curl/curl.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace maillib::imap {

using Deadline = std::chrono::steady_clock::time_point;

struct Failure {
    AccountStatus::Kind kind = AccountStatus::Kind::ServerError;
    std::string reason; // one line, never the password
};

class Connection {
public:
    Connection(const SessionOptions& options, ResponseBounds bounds);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Connects and signs in, within the options' connect bound and deadline.
    bool Open(Failure& failure);
    // What the server said it can do once signed in (upper case), or nothing if it did
    // not say it during sign-in.
    const std::vector<std::string>& Capabilities() const { return capabilities_; }

    bool Send(std::string_view bytes, Deadline until, Failure& failure);

    enum class Got { Response, TimedOut, Woken, Failed };
    // The next response from the server, waiting until `until` at most.
    Got Receive(Response& out, Deadline until, Failure& failure);

    // Makes a Receive in progress (or the next one) return Woken. Safe from any thread.
    void Wake();
    // Drops the connection without a word.
    void Close();

    long long BytesIn() const { return bytesIn_; }
    long long BytesOut() const { return bytesOut_; }

private:
    static int Debug(CURL* handle, curl_infotype type, char* data, size_t size, void* self);
    void OnServerLine(std::string_view line);
    Failure OpenFailure(CURLcode code) const;
    bool Ready(short events, Deadline until, Failure& failure, bool& woken);

    SessionOptions opts_;
    ResponseReader reader_;
    CURL* curl_ = nullptr;
    curl_socket_t socket_ = CURL_SOCKET_BAD;
    int wakeFd_ = -1;
    char errbuf_[CURL_ERROR_SIZE] = {};
    bool signingIn_ = false;   // the sign-in command went out; capabilities from here on count
    bool sawStartTls_ = false; // STARTTLS was sent (for messages)
    std::string lastCommand_;  // the verb of curl's last command
    std::string lastRefusal_;  // the server's last NO/BAD/BYE line during Open
    std::vector<std::string> capabilities_;
    long long bytesIn_ = 0;
    long long bytesOut_ = 0;
};

} // namespace maillib::imap
