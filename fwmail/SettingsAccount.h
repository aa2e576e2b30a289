// An account as the resident sees it, read from the user's settings file (fwmail only).
#pragma once

#include <string>

namespace fwmail {

struct SettingsAccount {
    std::string server, user, password;
    std::string caFile; // maildata/INI/cacert.pem when it exists
};

// The program folder found from fwmail's own folder as the resident finds it from its own.
std::string ProgramFolderFor(const std::string& executableFolder);

// Account 1..5 of maildata/INI/maildata.ini in the program folder. False, with a reason that
// never holds the password, when the file is missing or the account is not configured.
bool ReadSettingsAccount(const std::string& programFolder, int account, SettingsAccount& out, std::string& error);

} // namespace fwmail
