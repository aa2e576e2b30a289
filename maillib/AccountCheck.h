// One check of one account: the account's cache of mails and the rules that hold between
// checks (back-off, the server's login delay, the steady-check shortcut, placing files, the
// status), around a MailboxSession that speaks the server's protocol.
#pragma once

#include "maillib/MailLib.h"
#include "maillib/ServerAddress.h"

#include <cstddef>
#include <string>

namespace maillib {

// What the library knows an account by: the server as written out, and the user.
std::string AccountKey(const ServerAddress& address, const std::string& user);

// Checks the account into `folder` (an existing folder), placing the newest `placeFirst` mails
// as files; `status` says how it went, its text without the account's label. `serverText` is
// the server as the settings give it; an empty `password` asks the credential source.
MailList CheckAccount(const ServerAddress& address, const std::string& serverText, const std::string& user,
                      const std::string& password, const std::string& folder, AccountStatus& status, size_t placeFirst);

} // namespace maillib
