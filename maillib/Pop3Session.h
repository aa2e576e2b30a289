// The POP3 commands of one check: Pop3Mailbox asks for UIDL, LIST, STAT and TOP; the
// session owns the connection and closes it with QUIT. CurlPop3Session speaks them over libcurl.
#pragma once

#include "maillib/MailLib.h"
#include "maillib/MailboxSession.h"
#include "maillib/ServerAddress.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace maillib {

struct Pop3Reply {
    enum class Kind {
        Ok,
        ServerErr, // the server answered the command itself with -ERR; the session goes on later
        Failed     // connection, TLS, login, timeout or protocol failure
    };
    Kind kind = Kind::Ok;
    std::string reason;      // for the one stderr line; never holds credentials
    bool loginDelay = false; // the server refused a login as too early ([LOGIN-DELAY])
    AccountStatus::Kind failure = AccountStatus::Kind::ServerError; // what a Failed reply means for the account
    bool cut = false; // Top stopped at its byte cap; the connection is closed
    bool ok() const { return kind == Kind::Ok; }
};

class Pop3Session {
public:
    virtual ~Pop3Session() = default;
    using LineHandler = std::function<void(std::string_view line)>;
    // Listings, handed over line by line (dot-unstuffed, no line end) as they arrive.
    virtual Pop3Reply Uidl(const LineHandler& onLine) = 0;
    virtual Pop3Reply List(const LineHandler& onLine) = 0;
    // Single-line replies: `text` gets what follows "+OK " (STAT: "count size"; UIDL n:
    // "n id"). A refusal is ServerErr, and the connection is gone as after any -ERR.
    virtual Pop3Reply Stat(std::string& text) = 0;
    virtual Pop3Reply UidlOf(unsigned long n, std::string& text) = 0;
    // TOP n lines, dot-unstuffed, CRLF kept. A reply longer than byteCap is not read
    // further: `out` keeps the first byteCap bytes, the reply is Ok with `cut` set, and the
    // connection is dropped.
    virtual Pop3Reply Top(unsigned long n, unsigned long lines, size_t byteCap, std::string& out) = 0;
    // Sends QUIT (if a connection is open) and closes it.
    virtual void Quit() = 0;
    // The LOGIN-DELAY the server announced, in seconds.
    virtual std::optional<long> LoginDelaySeconds() const = 0;
};

std::unique_ptr<Pop3Session> MakeCurlSession(const SessionOptions& options);

// curl's global set-up, once per process.
void InitCurlOnce();

} // namespace maillib
