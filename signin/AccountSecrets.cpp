#include "signin/AccountSecrets.h"

namespace signin {

QString PasswordItem(const AccountId& a)
{
    return QStringLiteral("%1 on %2 (password)").arg(a.user.trimmed(), a.server.trimmed());
}

QString GrantItem(const AccountId& a)
{
    return QStringLiteral("%1 on %2 (OAuth2 sign-in)").arg(a.user.trimmed(), a.server.trimmed());
}

} // namespace signin
