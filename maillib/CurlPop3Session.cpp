#include "maillib/Cancellation.h"
#include "maillib/Charset.h"
#include "maillib/CurlTransport.h"
#include "maillib/PasswordMask.h"
#include "maillib/Pop3Capability.h"
#include "maillib/Pop3Listing.h"
#include "maillib/Pop3Session.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <poll.h>

namespace maillib {
namespace {

constexpr size_t kMaxListingBytes = 16u * 1024 * 1024;

// Where a reply's bytes go: a string up to a cap (TOP), or a line handler (listings),
// with a bound on the bytes either takes.
struct Sink {
    std::string* out = nullptr;
    LineSplitter* lines = nullptr;
    size_t cap = 0;
    size_t taken = 0;
    bool overflow = false;
};

size_t WriteCallback(char* data, size_t size, size_t count, void* user)
{
    auto* sink = static_cast<Sink*>(user);
    size_t n = size * count;
    size_t room = sink->cap - sink->taken;
    if (n > room) {
        // Stop reading: what fits is kept, the transfer ends here.
        sink->overflow = true;
        if (sink->out) sink->out->append(data, room);
        sink->taken = sink->cap;
        return 0;
    }
    sink->taken += n;
    if (sink->out) sink->out->append(data, n);
    else sink->lines->Feed(std::string_view(data, n));
    return n;
}

std::string Sanitise(std::string_view s)
{
    std::string t = charset::Trim(charset::StripDisplayControls(s, ""));
    if (t.size() > 160) t = charset::MakeValidUtf8(t.substr(0, 160)) + "...";
    return t;
}

class CurlPop3Session final : public Pop3Session {
public:
    explicit CurlPop3Session(const SessionOptions& o) : opts_(o)
    {
        InitCurlOnce();
        curl_ = curl_easy_init();
        if (!curl_) return;
        SetTransportOptions(curl_, opts_, "pop3,pop3s", errbuf_);
        curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &WriteCallback);
        curl_easy_setopt(curl_, CURLOPT_VERBOSE, 1L);
        curl_easy_setopt(curl_, CURLOPT_DEBUGFUNCTION, &DebugCallback);
        curl_easy_setopt(curl_, CURLOPT_DEBUGDATA, this);
    }

    ~CurlPop3Session() override { Quit(); }

    Pop3Reply Uidl(const LineHandler& onLine) override { return Listing("UIDL", onLine); }
    Pop3Reply List(const LineHandler& onLine) override { return Listing("", onLine); }
    Pop3Reply Stat(std::string& text) override { return Status("STAT", text); }
    Pop3Reply UidlOf(unsigned long n, std::string& text) override { return Status("UIDL " + std::to_string(n), text); }
    Pop3Reply Top(unsigned long n, unsigned long lines, size_t byteCap, std::string& out) override
    {
        out.clear();
        Sink sink;
        sink.out = &out;
        sink.cap = byteCap;
        Pop3Reply r = Perform("TOP " + std::to_string(n) + " " + std::to_string(lines), sink);
        if (sink.overflow && r.failure != AccountStatus::Kind::Cancelled) {
            // A server that ignores the line count: keep the first byteCap bytes, and drop
            // the connection rather than read the rest.
            r = Pop3Reply{};
            r.cut = true;
            Quit();
        }
        return r;
    }

    void Quit() override
    {
        if (!curl_) return;
        // QUIT is sent on cleanup; its reply must not outwait the account's bound.
        long secs = std::clamp<long>(static_cast<long>(RemainingMs() / 1000), 1L, 2L);
        curl_easy_setopt(curl_, CURLOPT_SERVER_RESPONSE_TIMEOUT, secs);
        curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, internal::Cancelled() ? 1L : secs * 1000L);
        curl_easy_cleanup(curl_);
        curl_ = nullptr;
    }

    std::optional<long> LoginDelaySeconds() const override { return loginDelay_; }

private:
    Pop3Reply Listing(const std::string& request, const LineHandler& onLine)
    {
        LineSplitter lines(onLine);
        Sink sink;
        sink.lines = &lines;
        sink.cap = kMaxListingBytes;
        Pop3Reply r = Perform(request, sink);
        if (r.ok()) lines.Finish();
        return r;
    }

    // A command answered on its status line alone: curl hands no body to the write callback,
    // so the reply is the first status line after the command went out.
    Pop3Reply Status(const std::string& request, std::string& text)
    {
        text.clear();
        Sink sink;
        sink.cap = 0; // nothing may arrive as a body
        Pop3Reply r = Perform(request, sink, /*statusOnly=*/true);
        if (!r.ok()) return r;
        std::string_view line = statusReply_;
        if (line.size() < 3 || line.substr(0, 3) != "+OK") {
            r.kind = Pop3Reply::Kind::Failed;
            r.reason = "unexpected server reply to " + charset::Lower(request.substr(0, request.find(' ')));
            return r;
        }
        line.remove_prefix(3);
        text = charset::Trim(line);
        return r;
    }

    long long RemainingMs() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(opts_.deadline - std::chrono::steady_clock::now())
            .count();
    }

    static int DebugCallback(CURL*, curl_infotype type, char* data, size_t size, void* user)
    {
        auto* self = static_cast<CurlPop3Session*>(user);
        std::string_view text(data, size);
        if (type == CURLINFO_HEADER_OUT) {
            // Only the verb: PASS, AUTH and APOP lines carry credentials.
            std::string line = charset::Trim(text);
            self->lastCommand_ = charset::Lower(line.substr(0, line.find(' ')));
            self->statusReply_.clear();
            self->statusPending_ = true;
        } else if (type == CURLINFO_HEADER_IN) {
            std::string line = charset::Trim(text);
            if (self->statusPending_) {
                self->statusReply_ = line.substr(0, 1024);
                self->statusPending_ = false;
            }
            if (line.rfind("-ERR", 0) == 0 && self->errReply_.empty()) {
                // The first refusal of a request; curl's own QUIT follows it.
                self->errReply_ = line;
                self->errCommand_ = self->lastCommand_;
            }
            std::string upper = line;
            std::transform(upper.begin(), upper.end(), upper.begin(),
                           [](char c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c); });
            // Each capability list replaces the one before: after STLS only the one sent over
            // TLS counts, so nothing injected in clear text can stall the account.
            if (upper.rfind("+OK", 0) == 0 && self->lastCommand_ == "capa") self->loginDelay_.reset();
            if (auto delay = LoginDelayFromCapability(line)) self->loginDelay_ = delay;
        }
        return 0;
    }

    // curl ends a multi-line reply at end of stream as if it were complete. A
    // server that spoke properly leaves nothing unread after its reply, so a
    // readable (or closed) socket means the reply was cut short.
    bool ConnectionClosedEarly()
    {
        curl_socket_t sock = CURL_SOCKET_BAD;
        if (curl_easy_getinfo(curl_, CURLINFO_ACTIVESOCKET, &sock) != CURLE_OK || sock == CURL_SOCKET_BAD) return true;
        pollfd p{sock, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0;
    }

    Pop3Reply Perform(const std::string& request, Sink& sink, bool statusOnly = false)
    {
        Pop3Reply reply;
        if (internal::Cancelled()) {
            reply.kind = Pop3Reply::Kind::Failed;
            reply.failure = AccountStatus::Kind::Cancelled;
            reply.reason = "cancelled";
            return reply;
        }
        if (!curl_) {
            reply.kind = Pop3Reply::Kind::Failed;
            reply.reason = "cannot start a curl session";
            return reply;
        }
        long long remaining = RemainingMs();
        if (remaining <= 0) {
            reply.kind = Pop3Reply::Kind::Failed;
            reply.failure = AccountStatus::Kind::TimedOut;
            reply.reason = "timed out (the account's time bound was used up)";
            return reply;
        }
        // Options stay set on the handle: reset every one a request may leave behind.
        curl_easy_setopt(curl_, CURLOPT_CUSTOMREQUEST, request.empty() ? nullptr : request.c_str());
        // NOBODY with DIRLISTONLY: curl reads the status line only (never a silent RETR).
        curl_easy_setopt(curl_, CURLOPT_NOBODY, statusOnly ? 1L : 0L);
        curl_easy_setopt(curl_, CURLOPT_DIRLISTONLY, statusOnly ? 1L : 0L);
        curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, static_cast<long>(remaining));
        curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT_MS,
                         static_cast<long>(std::min<long long>(remaining, opts_.connectBound.count())));
        curl_easy_setopt(curl_, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                         static_cast<long>(std::max<long long>(1, (remaining + 999) / 1000)));
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &sink);
        errbuf_[0] = '\0';
        errReply_.clear();
        errCommand_.clear();
        lastCommand_.clear();
        statusReply_.clear();
        statusPending_ = false;
        CURLcode rc = curl_easy_perform(curl_);
        if (rc == CURLE_OK && ConnectionClosedEarly()) rc = CURLE_PARTIAL_FILE;
        if (rc == CURLE_OK) return reply;
        reply.kind = Pop3Reply::Kind::Failed;
        if (rc == CURLE_WRITE_ERROR && sink.overflow && sink.out) {
            reply.reason = "reply over the size cap";
            return reply; // Top keeps what was read
        }
        if (internal::Cancelled() || rc == CURLE_ABORTED_BY_CALLBACK) {
            reply.failure = AccountStatus::Kind::Cancelled;
            reply.reason = "cancelled";
            return reply;
        }
        using K = AccountStatus::Kind;
        reply.failure = K::ServerError;
        const bool errReply = !errReply_.empty();
        const std::string& cmd = errCommand_;
        if (errReply && errReply_.find("[LOGIN-DELAY]") != std::string::npos) {
            reply.loginDelay = true;
            reply.failure = K::Waiting;
        }
        std::string server =
            errReply ? " (server said: " + Sanitise(MaskPassword(errReply_, opts_.user, opts_.password)) + ")"
                     : std::string();
        switch (rc) {
        case CURLE_WEIRD_SERVER_REPLY:
            if (errReply && (cmd == "uidl" || cmd == "top" || cmd == "list" || cmd == "stat")) {
                // The session goes on: no UIDL has a fallback, a refused TOP skips one mail.
                if (cmd == "uidl" || cmd == "top" || cmd == "stat") reply.kind = Pop3Reply::Kind::ServerErr;
                reply.reason = "the server refused " + charset::Lower(request.empty() ? "LIST" : request) + server;
            } else if (errReply && (cmd == "pass" || cmd == "user" || cmd == "apop" || cmd == "auth")) {
                if (!reply.loginDelay) reply.failure = K::LoginRefused;
                reply.reason = "login refused" + server;
            } else if (errReply && cmd.empty()) {
                reply.reason = "the server refused the connection" + server;
            } else if (errReply && cmd == "stls") {
                reply.failure = K::NoStls;
                reply.reason = "the server refused STLS; credentials not sent" + server;
            } else {
                reply.reason = "unexpected server reply" + server;
            }
            break;
        case CURLE_LOGIN_DENIED:
            if (!reply.loginDelay) reply.failure = K::LoginRefused;
            reply.reason = "login refused" + server;
            break;
        case CURLE_USE_SSL_FAILED:
            reply.failure = K::NoStls;
            reply.reason = errReply && cmd == "stls" ? "the server refused STLS; credentials not sent" + server
                                                     : "the server offers no STLS; credentials not sent";
            break;
        case CURLE_PEER_FAILED_VERIFICATION:
            reply.failure = K::CertificateNotTrusted;
            reply.reason = std::string("the server certificate is not trusted (") + errbuf_ + ")";
            break;
        case CURLE_PARTIAL_FILE:
            reply.reason = "the connection closed inside a reply";
            break;
        case CURLE_OPERATION_TIMEDOUT:
            reply.failure = K::TimedOut;
            reply.reason = "timed out";
            break;
        case CURLE_COULDNT_CONNECT:
            reply.failure = K::CannotConnect;
            reply.reason = "cannot connect";
            break;
        case CURLE_COULDNT_RESOLVE_HOST:
            reply.failure = K::CannotConnect;
            reply.reason = "unknown host";
            break;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
            reply.failure = K::CannotConnect;
            reply.reason =
                std::string(curl_easy_strerror(rc)) + (errbuf_[0] ? std::string(": ") + errbuf_ : "") + server;
            break;
        case CURLE_WRITE_ERROR:
            reply.reason = sink.overflow ? "listing too long" : "write error";
            break;
        default:
            reply.reason =
                std::string(curl_easy_strerror(rc)) + (errbuf_[0] ? std::string(": ") + errbuf_ : "") + server;
            break;
        }
        reply.reason = MaskPassword(Sanitise(reply.reason), opts_.user, opts_.password);
        return reply;
    }

    SessionOptions opts_;
    CURL* curl_ = nullptr;
    char errbuf_[CURL_ERROR_SIZE] = {};
    std::string lastCommand_;
    std::string errReply_;
    std::string errCommand_;
    std::string statusReply_; // the first status line after the last command sent
    bool statusPending_ = false;
    std::optional<long> loginDelay_;
};

} // namespace

std::unique_ptr<Pop3Session> MakeCurlSession(const SessionOptions& options)
{
    return std::make_unique<CurlPop3Session>(options);
}

void InitCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace maillib
