// Proof Key for Code Exchange (RFC 7636, S256) and the random texts a sign-in needs.
#pragma once

#include <QByteArray>

namespace signin {

// `bytes` random bytes from the system's generator, base64url without padding.
QByteArray RandomText(int bytes);

struct Pkce {
    QByteArray verifier;  // 43 characters, kept until the code is redeemed
    QByteArray challenge; // base64url(SHA-256(verifier)), sent with the authorisation request
};

Pkce MakePkce();

// The S256 challenge of a verifier.
QByteArray ChallengeOf(const QByteArray& verifier);

} // namespace signin
