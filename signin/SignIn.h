// Our own OAuth2 sign-in: the authorisation code flow in the system browser with a loopback
// redirect and PKCE (RFC 8252, RFC 7636). On success the refresh token goes to the keyring,
// never a file, and the access token into memory. Only a user's action starts it: the
// resident never opens a browser by itself.
#pragma once

#include "signin/AccountSecrets.h"
#include "signin/OAuthProvider.h"

#include <QString>
#include <atomic>
#include <chrono>
#include <functional>

namespace signin {

struct SignInResult {
    enum class Kind {
        Ok,
        NoClientId,
        NoLoopback, // no loopback port could be opened
        NoBrowser,  // no browser could be started
        TimedOut,   // the browser never came back (closed, or left alone)
        Denied,     // the user or the server declined
        TokenEndpointDown,
        TokenRefused,
        KeyringFailed, // signed in, but the grant could not be kept; `keyring` says why
        Cancelled,
    };
    Kind kind = Kind::Cancelled;
    Keyring::Status keyring = Keyring::Status::Ok;
    QString detail; // the server's error code or the like; no secret
};

// Opens the address in a browser; true when one was started.
using OpenBrowser = std::function<bool(const QString& url)>;

inline constexpr std::chrono::minutes kBrowserWait{5};

// Blocking until the browser comes back, `wait` passes or `cancel` is set; run it on a worker
// or in a terminal program.
SignInResult SignIn(const OAuthProvider& provider, const AccountId& account, const OpenBrowser& open,
                    std::chrono::milliseconds wait = kBrowserWait, const std::atomic<bool>* cancel = nullptr);

// How the dialog and fwmail word a result, in Japanese.
QString Message(const SignInResult& result, const OAuthProvider& provider);

} // namespace signin
