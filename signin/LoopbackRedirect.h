// The loopback end of a browser sign-in (RFC 8252): listens on 127.0.0.1 (and ::1 when the
// redirect names localhost) on a port the system picks, and waits for the one request the
// authorisation server redirects the browser to. Blocking with a deadline, so it runs on a
// worker or in a terminal program alike.
#pragma once

#include <QString>
#include <atomic>
#include <chrono>
#include <vector>

namespace signin {

class LoopbackRedirect {
public:
    LoopbackRedirect() = default;
    ~LoopbackRedirect();
    LoopbackRedirect(const LoopbackRedirect&) = delete;
    LoopbackRedirect& operator=(const LoopbackRedirect&) = delete;

    // False, with the reason in `error`, when no loopback port could be opened.
    bool Listen(bool alsoIpv6, QString* error = nullptr);
    int Port() const { return port_; }

    struct Outcome {
        enum class Kind {
            Code,     // the browser came back with a code
            Denied,   // the server said no (the user declined, or a bad request); `error` says how
            TimedOut, // nobody came back before the deadline (e.g. the browser was closed)
            Cancelled,
        };
        Kind kind = Kind::TimedOut;
        QString code;  // never logged
        QString error; // the server's error code, letters, digits and _ only
    };

    // Answers requests until one carries `state` (with a code or an error); others get an
    // error page and are otherwise ignored. The browser is shown a short page either way.
    Outcome Await(const QString& state, std::chrono::steady_clock::time_point deadline,
                  const std::atomic<bool>* cancel = nullptr);

private:
    std::vector<int> sockets_;
    int port_ = 0;
};

} // namespace signin
