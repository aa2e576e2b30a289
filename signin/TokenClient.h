// The authorisation server's token endpoint (RFC 6749 4.1.3 and 6): redeems a code for
// tokens, and a refresh token for a fresh access token. Blocking and bounded (20 s at most),
// cancellable, on any thread; TLS is verified against the system's store.
#pragma once

#include "signin/OAuthProvider.h"

#include <QString>
#include <atomic>

namespace signin {

struct TokenReply {
    enum class Kind {
        Ok,
        InvalidGrant, // the code or refresh token is revoked, expired or was never good
        Refused,      // any other refusal (e.g. an unknown client); `error` says which
        Unreachable,  // no answer, a time-out, or a server fault
        Cancelled,
    };
    Kind kind = Kind::Unreachable;
    QString accessToken;  // never logged
    QString refreshToken; // empty when the server keeps the old one
    int expiresIn = 0;    // seconds; 0 when the server does not say
    QString error;        // the server's error code, or curl's words; no secret
};

TokenReply RedeemCode(const OAuthProvider& provider, const QString& code, const QString& verifier,
                      const QString& redirectUri, const std::atomic<bool>* cancel = nullptr);

TokenReply Refresh(const OAuthProvider& provider, const QString& refreshToken,
                   const std::atomic<bool>* cancel = nullptr);

} // namespace signin
