// Reads the fields the program shows from one saved mail.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace maillib {

struct MailFields {
    std::string subject;
    std::string from;        // "Name <addr>" or "addr"
    std::string date;        // local time "YYYY/MM/DD HH:MM:SS", or empty
    std::string attachments; // file names, comma separated
    std::string body;        // plain text, "\n" line ends
};

// Never fails: bytes that are no mail give empty headers and a guessed body.
MailFields ParseMail(std::string_view bytes);

// The elements ReadMail returns for a field list such as "subject:from:date:nofile:".
std::optional<std::vector<std::string>> FieldsToList(const MailFields& fields, std::string_view fieldList);

// nullopt when the file cannot be read.
std::optional<std::vector<std::string>> ReadMailFile(const std::string& path, std::string_view fieldList);

// GMime's set-up, once per process.
void InitGMimeOnce();

} // namespace maillib
