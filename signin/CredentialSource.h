// What an account whose settings leave the password empty signs in with, asked before every
// connection. The order is fixed:
//   1. a password for the account in the keyring (e.g. a Gmail app password);
//   2. for a known OAuth2 provider's host: a token from GNOME Online Accounts when it has a
//      mail account with this address, else a token from our own grant in the keyring,
//      refreshed shortly before it expires;
//   3. otherwise nothing, and the fault says why.
// A password in the settings file is used as it is and never reaches this.
#pragma once

#include "maillib/Credential.h"
#include "signin/AccountSecrets.h"
#include "signin/OAuthProvider.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <vector>

namespace signin {

// Blocking for a bounded time (the keyring's, D-Bus's and the token endpoint's bounds);
// any thread but the GUI thread.
maillib::Credential Resolve(const AccountId& account, const std::vector<OAuthProvider>& providers,
                            bool lastRefused = false);

// The library's seam: the provider file is read once, here; what is wrong with it goes to
// `warnings`.
maillib::CredentialSource MakeCredentialSource(const QString& providerFile, QStringList* warnings = nullptr);

// Ends every sign-in wait and token request at once, now and later: for ending the program.
void CancelSignIns();
const std::atomic<bool>* SignInCancel();

} // namespace signin
