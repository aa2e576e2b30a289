#include "maillib/SignInCredential.h"

#include <memory>
#include <mutex>

namespace maillib {
namespace {

std::mutex g_sourceMutex;
std::shared_ptr<const CredentialSource> g_source;

std::shared_ptr<const CredentialSource> InstalledSource()
{
    std::lock_guard lock(g_sourceMutex);
    return g_source;
}

} // namespace

void SetCredentialSource(CredentialSource source)
{
    auto installed = source ? std::make_shared<const CredentialSource>(std::move(source)) : nullptr;
    std::lock_guard lock(g_sourceMutex);
    g_source = std::move(installed);
}

Credential CredentialFor(const std::string& serverText, const std::string& user, const std::string& password,
                         bool lastRefused)
{
    Credential given;
    given.kind = Credential::Kind::Password;
    given.secret = password;
    if (!password.empty()) return given;
    // Called outside the lock: the source may wait on the keyring or a token endpoint.
    const auto source = InstalledSource();
    if (!source) return given;
    return (*source)(CredentialRequest{serverText, user, lastRefused});
}

void SignInWith(SessionOptions& options, const Credential& credential)
{
    options.password = credential.secret;
    options.bearer = credential.kind == Credential::Kind::Bearer;
}

bool BreaksLines(const Credential& credential)
{
    return credential.secret.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

std::string FaultWords(Credential::Fault fault)
{
    using Fault = Credential::Fault;
    switch (fault) {
    case Fault::None:
        break;
    case Fault::PasswordMissing:
        return "no password is set";
    case Fault::KeyringPasswordMissing:
        return "the keyring holds no password for the account";
    case Fault::KeyringLocked:
        return "the keyring is locked";
    case Fault::KeyringUnavailable:
        return "no keyring answers";
    case Fault::SignInNeeded:
        return "a new sign-in is needed (no grant, or it was revoked or has expired)";
    case Fault::NoClientId:
        return "this build has no OAuth2 client id for the provider";
    case Fault::TokenEndpointDown:
        return "the authorisation server cannot be reached";
    case Fault::TokenRefused:
        return "the authorisation server refused to issue a token";
    case Fault::Cancelled:
        return "cancelled";
    }
    return "nothing to sign in with";
}

} // namespace maillib
