// An account's secrets in the desktop keyring: its password, or its OAuth2 refresh token.
// Items are named by the account (server and user) and what they hold, so that the keyring's
// own viewer says whose they are; the secret is never part of a name.
#pragma once

#include "platform/Keyring.h"

#include <QString>

namespace signin {

struct AccountId {
    QString server; // as the settings give it, trimmed
    QString user;
};

QString PasswordItem(const AccountId& account);
QString GrantItem(const AccountId& account);

inline Keyring::Result ReadPassword(const AccountId& a) { return Keyring::Read(PasswordItem(a)); }
inline Keyring::Result StorePassword(const AccountId& a, const QString& password)
{
    return Keyring::Write(PasswordItem(a), password);
}
inline Keyring::Result RemovePassword(const AccountId& a) { return Keyring::Remove(PasswordItem(a)); }

inline Keyring::Result ReadGrant(const AccountId& a) { return Keyring::Read(GrantItem(a)); }
inline Keyring::Result StoreGrant(const AccountId& a, const QString& refreshToken)
{
    return Keyring::Write(GrantItem(a), refreshToken);
}
inline Keyring::Result RemoveGrant(const AccountId& a) { return Keyring::Remove(GrantItem(a)); }

} // namespace signin
