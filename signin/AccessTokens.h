// Access tokens in memory only, per account, shared by every thread that connects: a token
// is handed out until a minute before it expires, then refreshed. A grant the authorisation
// server called revoked is remembered, so that no check asks again until a new sign-in.
#pragma once

#include "signin/AccountSecrets.h"

#include <QByteArray>
#include <QString>
#include <chrono>
#include <mutex>
#include <optional>

namespace signin::AccessTokens {

using Clock = std::chrono::steady_clock;

// A fresh enough token of the account, if one is kept.
std::optional<QString> Fresh(const AccountId& account, Clock::time_point now = Clock::now());
void Keep(const AccountId& account, const QString& accessToken, int expiresInSeconds,
          Clock::time_point now = Clock::now());
void Forget(const AccountId& account);

// The grant (a refresh token) the server refused; compared by digest, the token is not kept.
void MarkRevoked(const AccountId& account, const QString& refreshToken);
bool IsRevoked(const AccountId& account, const QString& refreshToken);

// One refresh at a time per account: a second thread waits and then finds the new token.
std::unique_lock<std::mutex> LockAccount(const AccountId& account);

// Empties everything (tests).
void Clear();

} // namespace signin::AccessTokens
