#include "signin/CredentialSource.h"

#include "platform/OnlineAccounts.h"
#include "signin/AccessTokens.h"
#include "signin/TokenClient.h"

namespace signin {
namespace {

using Credential = maillib::Credential;
using Fault = Credential::Fault;

std::atomic<bool> g_cancelled{false};

Credential Secret(Credential::Kind kind, const QString& secret)
{
    Credential c;
    c.kind = kind;
    c.secret = secret.toStdString();
    return c;
}

Credential Missing(Fault fault)
{
    Credential c;
    c.kind = Credential::Kind::None;
    c.fault = fault;
    return c;
}

Fault KeyringFault(Keyring::Status status)
{
    switch (status) {
    case Keyring::Status::Locked:
        return Fault::KeyringLocked;
    case Keyring::Status::Cancelled:
        return Fault::Cancelled;
    default:
        return Fault::KeyringUnavailable;
    }
}

// Our own grant: the refresh token in the keyring, traded for an access token when the
// one kept in memory is about to expire.
Credential FromGrant(const AccountId& account, const OAuthProvider& provider, bool lastRefused)
{
    const auto guard = AccessTokens::LockAccount(account);
    if (lastRefused) AccessTokens::Forget(account);
    if (const auto token = AccessTokens::Fresh(account)) return Secret(Credential::Kind::Bearer, *token);
    if (provider.clientId.isEmpty()) return Missing(Fault::NoClientId);

    const Keyring::Result grant = ReadGrant(account);
    if (grant.status == Keyring::Status::NotFound) return Missing(Fault::SignInNeeded);
    if (grant.status != Keyring::Status::Ok) return Missing(KeyringFault(grant.status));
    // Refused before: ask the user, not the server, until a new sign-in stores another grant.
    if (AccessTokens::IsRevoked(account, grant.secret)) return Missing(Fault::SignInNeeded);

    const TokenReply reply = Refresh(provider, grant.secret, &g_cancelled);
    switch (reply.kind) {
    case TokenReply::Kind::Ok:
        // Some servers hand out a new refresh token with each use and retire the old one.
        if (!reply.refreshToken.isEmpty() && reply.refreshToken != grant.secret)
            StoreGrant(account, reply.refreshToken);
        AccessTokens::Keep(account, reply.accessToken, reply.expiresIn);
        return Secret(Credential::Kind::Bearer, reply.accessToken);
    case TokenReply::Kind::InvalidGrant:
        AccessTokens::MarkRevoked(account, grant.secret);
        return Missing(Fault::SignInNeeded);
    case TokenReply::Kind::Refused:
        return Missing(Fault::TokenRefused);
    case TokenReply::Kind::Cancelled:
        return Missing(Fault::Cancelled);
    case TokenReply::Kind::Unreachable:
        break;
    }
    return Missing(Fault::TokenEndpointDown);
}

} // namespace

Credential Resolve(const AccountId& account, const std::vector<OAuthProvider>& providers, bool lastRefused)
{
    if (g_cancelled) return Missing(Fault::Cancelled);
    const Keyring::Result password = ReadPassword(account);
    if (password.status == Keyring::Status::Ok) return Secret(Credential::Kind::Password, password.secret);
    const bool keyringAnswered = password.status == Keyring::Status::NotFound;
    // A locked keyring may hold the password: say so rather than guess past it.
    if (password.status == Keyring::Status::Locked || password.status == Keyring::Status::Cancelled)
        return Missing(KeyringFault(password.status));

    const OAuthProvider* provider = ProviderForServer(providers, account.server);
    if (!provider) return Missing(keyringAnswered ? Fault::KeyringPasswordMissing : Fault::PasswordMissing);

    // GNOME Online Accounts keeps its own grant and renews it; ask it every time.
    const OnlineAccounts::Token goa = OnlineAccounts::AccessTokenFor(account.user.trimmed());
    switch (goa.status) {
    case OnlineAccounts::Status::Ok:
        return Secret(Credential::Kind::Bearer, goa.accessToken);
    case OnlineAccounts::Status::NotAuthorized:
        return Missing(Fault::SignInNeeded);
    case OnlineAccounts::Status::NoService:
    case OnlineAccounts::Status::NoAccount:
    case OnlineAccounts::Status::Failed:
        break;
    }
    return FromGrant(account, *provider, lastRefused);
}

maillib::CredentialSource MakeCredentialSource(const QString& providerFile, QStringList* warnings)
{
    const std::vector<OAuthProvider> providers = LoadProviders(providerFile, warnings);
    return [providers](const maillib::CredentialRequest& request) {
        const AccountId account{QString::fromStdString(request.server), QString::fromStdString(request.user)};
        return Resolve(account, providers, request.lastRefused);
    };
}

void CancelSignIns()
{
    g_cancelled = true;
    Keyring::Cancel();
}

const std::atomic<bool>* SignInCancel() { return &g_cancelled; }

} // namespace signin
