// What an account signs in with, asked for before every connection. The library calls the
// source on the thread that connects (a check worker or a push watcher); the program answers
// from its settings file, the desktop keyring or an OAuth2 grant. No Qt here.
#pragma once

#include <functional>
#include <string>

namespace maillib {

struct Credential {
    enum class Kind {
        Password, // secret is the password
        Bearer,   // secret is an OAuth2 access token (XOAUTH2 / OAUTHBEARER)
        None,     // nothing to sign in with; `fault` says why
    };
    // Why there is nothing to sign in with. Each is a status the user can act on.
    enum class Fault {
        None,
        PasswordMissing,        // no password in the file, no keyring item, no OAuth2 host
        KeyringPasswordMissing, // the file leaves the password to the keyring, which has none
        KeyringLocked,
        KeyringUnavailable, // the account needs the keyring and none answers
        SignInNeeded,       // no grant, or the grant was revoked or has expired
        NoClientId,         // this build has no client id for the provider
        TokenEndpointDown,  // the authorisation server could not be reached in time
        TokenRefused,       // the authorisation server refused to issue a token
        Cancelled,          // the program is ending
    };
    Kind kind = Kind::None;
    std::string secret; // never logged, never shown
    Fault fault = Fault::None;
};

struct CredentialRequest {
    std::string server; // as the settings give it
    std::string user;
    // True when the server refused the bearer token the last call gave for this connection:
    // the source should fetch a fresh one rather than hand back the same.
    bool lastRefused = false;
};

// Called before every connection, on the connecting thread; may block for a bounded time.
using CredentialSource = std::function<Credential(const CredentialRequest&)>;

// Installs the program's source, asked before every connection of an account whose password
// is empty: checks and push watchers alike. Without one (or after an empty one), an empty
// password is sent as it is. Any thread; the source is called from several threads at once.
void SetCredentialSource(CredentialSource source);

} // namespace maillib
