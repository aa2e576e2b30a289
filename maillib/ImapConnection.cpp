#include "maillib/ImapConnection.h"

#include "maillib/Cancellation.h"
#include "maillib/Charset.h"
#include "maillib/CurlTransport.h"
#include "maillib/PasswordMask.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace maillib::imap {
namespace {

using Kind = AccountStatus::Kind;

long long MsUntil(Deadline t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(t - std::chrono::steady_clock::now()).count();
}

std::vector<std::string> Words(std::string_view s)
{
    std::vector<std::string> out;
    for (size_t i = 0; i < s.size();) {
        size_t end = std::min(s.find(' ', i), s.size());
        if (end > i) {
            std::string w(s.substr(i, end - i));
            std::transform(w.begin(), w.end(), w.begin(),
                           [](char c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c); });
            out.push_back(std::move(w));
        }
        i = end + 1;
    }
    return out;
}

} // namespace

Connection::Connection(const SessionOptions& options, ResponseBounds bounds) : opts_(options), reader_(bounds)
{
    InitCurlOnce();
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    curl_ = curl_easy_init();
    if (!curl_) return;
    SetTransportOptions(curl_, opts_, "imap,imaps", errbuf_);
    // curl connects, secures and signs in, and stops there.
    curl_easy_setopt(curl_, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(curl_, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(curl_, CURLOPT_DEBUGFUNCTION, &Connection::Debug);
    curl_easy_setopt(curl_, CURLOPT_DEBUGDATA, this);
}

Connection::~Connection()
{
    Close();
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void Connection::Close()
{
    if (!curl_) return;
    // Shut first: a connect-only handle has nothing more to say, and must not wait on a
    // server that is still sending.
    if (socket_ != CURL_SOCKET_BAD) ::shutdown(socket_, SHUT_RDWR);
    curl_easy_cleanup(curl_);
    curl_ = nullptr;
    socket_ = CURL_SOCKET_BAD;
}

int Connection::Debug(CURL*, curl_infotype type, char* data, size_t size, void* self)
{
    auto* c = static_cast<Connection*>(self);
    std::string_view text(data, size);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    if (type == CURLINFO_HEADER_OUT) {
        // Only the verb after the tag: sign-in lines carry credentials.
        auto words = Words(text.substr(0, std::min<size_t>(text.size(), 64)));
        c->lastCommand_ = words.size() > 1 ? words[1] : std::string();
        if (c->lastCommand_ == "STARTTLS") c->sawStartTls_ = true;
        if (c->lastCommand_ == "STARTTLS" || c->lastCommand_ == "LOGIN" || c->lastCommand_ == "AUTHENTICATE") {
            // What was said before is stale (or, in clear text, untrusted).
            c->capabilities_.clear();
            c->signingIn_ = c->lastCommand_ != "STARTTLS";
        }
    } else if (type == CURLINFO_HEADER_IN) {
        c->OnServerLine(text);
    }
    return 0;
}

void Connection::OnServerLine(std::string_view line)
{
    Response r = ParseResponse(line.substr(0, 8192), 4);
    if (r.status == "NO" || r.status == "BAD" || r.status == "BYE") lastRefusal_ = std::string(line.substr(0, 4096));
    if (!signingIn_) return;
    if (auto named = CapabilitiesIn(r); !named.empty()) capabilities_ = std::move(named);
}

bool Connection::Open(Failure& failure)
{
    if (internal::Cancelled()) {
        failure = {Kind::Cancelled, "cancelled"};
        return false;
    }
    if (!curl_ || wakeFd_ < 0) {
        failure = {Kind::ServerError, "cannot start a curl session"};
        return false;
    }
    long long remaining = MsUntil(opts_.deadline);
    if (remaining <= 0) {
        failure = {Kind::TimedOut, "timed out (the account's time bound was used up)"};
        return false;
    }
    curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, static_cast<long>(remaining));
    curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(std::min<long long>(remaining, opts_.connectBound.count())));
    CURLcode rc = curl_easy_perform(curl_);
    if (rc == CURLE_OK) rc = curl_easy_getinfo(curl_, CURLINFO_ACTIVESOCKET, &socket_);
    if (rc == CURLE_OK && socket_ != CURL_SOCKET_BAD) return true;
    failure = OpenFailure(rc);
    Close();
    return false;
}

Failure Connection::OpenFailure(CURLcode rc) const
{
    if (internal::Cancelled() || rc == CURLE_ABORTED_BY_CALLBACK) return {Kind::Cancelled, "cancelled"};
    std::string said = lastRefusal_.empty()
                           ? std::string()
                           : " (server said: " + SafeToShow(lastRefusal_, opts_.user, opts_.password, 160) + ")";
    std::string curlText = std::string(curl_easy_strerror(rc)) + (errbuf_[0] ? std::string(": ") + errbuf_ : "");
    switch (rc) {
    case CURLE_LOGIN_DENIED:
        return {Kind::LoginRefused, "login refused" + said};
    case CURLE_USE_SSL_FAILED:
        return {Kind::NoStls, sawStartTls_ ? "the server refused STARTTLS; credentials not sent" + said
                                           : "the server offers no STARTTLS; credentials not sent"};
    case CURLE_PEER_FAILED_VERIFICATION:
        return {Kind::CertificateNotTrusted, std::string("the server certificate is not trusted (") + errbuf_ + ")"};
    case CURLE_OPERATION_TIMEDOUT:
        return {Kind::TimedOut, "timed out"};
    case CURLE_COULDNT_CONNECT:
        return {Kind::CannotConnect, "cannot connect"};
    case CURLE_COULDNT_RESOLVE_HOST:
        return {Kind::CannotConnect, "unknown host"};
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        return {Kind::CannotConnect, curlText + said};
    case CURLE_WEIRD_SERVER_REPLY:
        // curl refuses bytes that follow the answer to STARTTLS: they came in clear text,
        // perhaps from someone on the way.
        if (lastCommand_ == "STARTTLS" && lastRefusal_.empty())
            return {Kind::ServerError, "the server sent more than its answer to STARTTLS; credentials not sent"};
        return {Kind::ServerError, "unexpected server reply" + said};
    default:
        return {Kind::ServerError, curlText + said};
    }
}

bool Connection::Ready(short events, Deadline until, Failure& failure, bool& woken)
{
    woken = false;
    for (;;) {
        if (internal::Cancelled()) {
            failure = {Kind::Cancelled, "cancelled"};
            return false;
        }
        long long ms = MsUntil(until);
        if (ms <= 0) {
            failure = {Kind::TimedOut, "timed out waiting for the server"};
            return false;
        }
        // A wake waits while sending: a command is never left half sent.
        pollfd p[2] = {{socket_, events, 0}, {wakeFd_, POLLIN, 0}};
        int n = ::poll(p, events == POLLIN ? 2 : 1, static_cast<int>(std::min<long long>(ms, 60 * 60 * 1000)));
        if (n < 0 && errno != EINTR) {
            failure = {Kind::CannotConnect, "the connection broke"};
            return false;
        }
        if (n <= 0) continue;
        if (p[1].revents & POLLIN) {
            uint64_t count = 0;
            [[maybe_unused]] ssize_t got = ::read(wakeFd_, &count, sizeof count);
            woken = true;
            return false;
        }
        if (p[0].revents) return true;
    }
}

bool Connection::Send(std::string_view bytes, Deadline until, Failure& failure)
{
    bool woken = false;
    while (!bytes.empty()) {
        if (!curl_) {
            failure = {Kind::ServerError, "the connection is closed"};
            return false;
        }
        size_t sent = 0;
        CURLcode rc = curl_easy_send(curl_, bytes.data(), bytes.size(), &sent);
        if (rc == CURLE_OK) {
            bytesOut_ += static_cast<long long>(sent);
            bytes.remove_prefix(sent);
        } else if (rc != CURLE_AGAIN) {
            failure = internal::Cancelled() ? Failure{Kind::Cancelled, "cancelled"}
                                            : Failure{Kind::CannotConnect, "the connection broke while sending"};
            return false;
        } else if (!Ready(POLLOUT, until, failure, woken)) {
            return false;
        }
    }
    return true;
}

Connection::Got Connection::Receive(Response& out, Deadline until, Failure& failure)
{
    bool closed = !curl_;
    for (;;) {
        if (auto r = reader_.Next()) {
            out = std::move(*r);
            return Got::Response;
        }
        if (reader_.Broken()) {
            failure = {Kind::ServerError, "the server sent " + reader_.Error()};
            return Got::Failed;
        }
        if (internal::Cancelled()) {
            failure = {Kind::Cancelled, "cancelled"};
            return Got::Failed;
        }
        if (closed) {
            failure = {Kind::ServerError, "the server closed the connection"};
            return Got::Failed;
        }
        // TLS may hold bytes the socket no longer shows: read until curl has no more
        // before waiting on the socket.
        char buf[16384];
        for (;;) {
            size_t n = 0;
            CURLcode rc = curl_easy_recv(curl_, buf, sizeof buf, &n);
            if (rc == CURLE_AGAIN) break;
            if (rc != CURLE_OK || n == 0) {
                closed = true;
                break;
            }
            bytesIn_ += static_cast<long long>(n);
            reader_.Feed(std::string_view(buf, n));
            if (reader_.HasResponse() || reader_.Broken()) break;
        }
        if (reader_.HasResponse() || reader_.Broken() || closed) continue;
        bool woken = false;
        if (Ready(POLLIN, until, failure, woken)) continue;
        if (woken) return Got::Woken;
        return failure.kind == Kind::TimedOut ? Got::TimedOut : Got::Failed;
    }
}

void Connection::Wake()
{
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

} // namespace maillib::imap
