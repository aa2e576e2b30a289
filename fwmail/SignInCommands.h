// fwmail password and fwmail login: put an account's password into the desktop keyring, or
// sign the account in with OAuth2 through the desktop's browser. Exit codes as fwmail's.
#pragma once

#include <string>
#include <vector>

namespace fwmail {

// fwmail password --account N [--folder DIR]: reads the password on stdin, stores it in the
// keyring and empties PASSn. Refuses, changing nothing, when no keyring answers.
int PasswordCommand(const std::vector<std::string>& args, const std::string& executableFolder);

// fwmail login --account N [--folder DIR]: opens the provider's sign-in page (printing its
// address) and keeps the grant in the keyring.
int LoginCommand(const std::vector<std::string>& args, const std::string& executableFolder);

} // namespace fwmail
