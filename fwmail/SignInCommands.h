// fwmail password and fwmail login: put an account's password into the desktop keyring, or
// sign the account in with OAuth2 through the desktop's browser. Exit codes as fwmail's.
#pragma once

#include <memory>
#include <string>
#include <vector>

class QCoreApplication;

namespace fwmail {

// fwmail password --account N [--folder DIR]: reads the password on stdin, stores it in the
// keyring and empties PASSn. Refuses, changing nothing, when no keyring answers.
int PasswordCommand(const std::vector<std::string>& args, const std::string& executableFolder);

// fwmail login --account N [--folder DIR]: opens the provider's sign-in page (printing its
// address) and keeps the grant in the keyring.
int LoginCommand(const std::vector<std::string>& args, const std::string& executableFolder);

// For `fwmail check --account N` when the settings leave the password empty: while it lives,
// the library asks the keyring or the account's OAuth2 grant, as the resident does (never a
// browser). The provider file's warnings go to stderr. The keyring wants a Qt application
// object, kept here; make it before the check starts any thread.
class CredentialSourceScope {
public:
    explicit CredentialSourceScope(const std::string& programFolder);
    ~CredentialSourceScope();
    CredentialSourceScope(const CredentialSourceScope&) = delete;
    CredentialSourceScope& operator=(const CredentialSourceScope&) = delete;

private:
    std::unique_ptr<QCoreApplication> app_;
};

} // namespace fwmail
