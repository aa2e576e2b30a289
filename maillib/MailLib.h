// Ferrowick mail library: fetches an account's mails over POP3 into files
// (RcvMail) and reads the fields the program shows from one file (ReadMail).
// Neither function throws. RcvMail never changes the server (no DELE, no RETR).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace maillib {
// std::nullopt stands for "not an array": no mail / unreadable.
using MailList = std::optional<std::vector<std::string>>;
// All texts UTF-8. The in-out references are left unchanged by the library.
MailList RcvMail(std::string& server, std::string& user, std::string& password, std::string& mode, std::string& folder);
MailList ReadMail(std::string& mailRef, std::string& fieldList, std::string& folder);
}
