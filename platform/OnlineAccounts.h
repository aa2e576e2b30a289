// GNOME Online Accounts over D-Bus: the mail account with a given address, and a fresh
// OAuth2 access token from it. Ask before every connection: a token kept from an earlier
// call may have expired, and GNOME renews it only when asked.
#pragma once

#include <QString>

namespace OnlineAccounts {

enum class Status {
    Ok,
    NoService,     // no GNOME Online Accounts on the session bus
    NoAccount,     // no mail account with this address signs in with OAuth2
    NotAuthorized, // the account needs the user's attention in GNOME's settings
    Failed,        // anything else, including a time-out; `detail` says what
};

struct Token {
    Status status = Status::Failed;
    QString accessToken; // never logged
    int expiresInSeconds = 0;
    QString detail;
};

// Blocking for at most about twice `timeoutMs`; any thread.
Token AccessTokenFor(const QString& emailAddress, int timeoutMs = 10000);

} // namespace OnlineAccounts
