// One check of one account: the POP3 dialogue, the account's cache of mails, and the rules
// that hold between checks (back-off, the server's login delay, the steady-check shortcut).
#pragma once

#include "maillib/MailLib.h"
#include "maillib/ServerAddress.h"

#include <cstddef>
#include <string>

namespace maillib {

// What the library knows an account by: the server as written out, and the user.
std::string AccountKey(const ServerAddress& address, const std::string& user);

// Checks the account into `folder` (an existing folder), placing the first `placeFirst` mails
// as files; `status` says how it went, its text without the account's label.
MailList CheckAccount(const ServerAddress& address, const std::string& user, const std::string& password,
                      const std::string& folder, AccountStatus& status, size_t placeFirst);

} // namespace maillib
