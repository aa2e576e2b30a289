// The date a mail shows: its Date: header in local time.
#pragma once

#include <string>
#include <vector>

namespace maillib {

// "YYYY/MM/DD HH:MM:SS" in local time from the raw Date: value. When that cannot be read,
// the newest of the Received: stamps (the text after each value's last ';'); empty when
// neither can be read.
std::string MailDateText(const std::string& dateHeader, const std::vector<std::string>& receivedHeaders);

} // namespace maillib
