#include "tests/maillib/FakePop3Server.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

void FakePop3Server::setMails(std::vector<FakeMail> mails)
{
    std::lock_guard lock(mutex_);
    mails_ = std::move(mails);
}

namespace {

std::string Stuffed(const std::string& text)
{
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find("\r\n", pos);
        std::string line = text.substr(pos, eol == std::string::npos ? std::string::npos : eol - pos);
        if (!line.empty() && line[0] == '.') out += '.';
        out += line + "\r\n";
        pos = eol == std::string::npos ? text.size() : eol + 2;
    }
    return out;
}

std::string TopOf(const std::string& mail, unsigned long lines)
{
    size_t end = mail.find("\r\n\r\n");
    if (end == std::string::npos) return mail;
    std::string out = mail.substr(0, end + 4);
    size_t pos = end + 4;
    for (unsigned long i = 0; i < lines && pos < mail.size(); ++i) {
        size_t eol = mail.find("\r\n", pos);
        size_t stop = eol == std::string::npos ? mail.size() : eol + 2;
        out += mail.substr(pos, stop - pos);
        pos = stop;
    }
    return out;
}

} // namespace

std::string FakePop3Server::defaultReply(const std::string& command, bool& close)
{
    std::string verb = command.substr(0, command.find(' '));
    for (char& c : verb) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    std::lock_guard lock(mutex_);
    if (verb == "CAPA") {
        std::string r = "+OK Capability list follows\r\n";
        for (const auto& c : capabilities) r += c + "\r\n";
        return r + ".\r\n";
    }
    if (verb == "USER") return "+OK\r\n";
    if (verb == "PASS")
        return command.substr(5) == password ? "+OK logged in\r\n" : "-ERR [AUTH] Authentication failed.\r\n";
    if (verb == "STAT") {
        size_t total = 0;
        for (const auto& m : mails_) total += m.content.size();
        return "+OK " + std::to_string(mails_.size()) + " " + std::to_string(total) + "\r\n";
    }
    if (verb == "UIDL" && command.size() > 4) {
        unsigned long n = 0;
        if (std::sscanf(command.c_str(), "%*s %lu", &n) != 1 || n == 0 || n > mails_.size())
            return "-ERR no such message\r\n";
        return "+OK " + std::to_string(n) + " " + mails_[n - 1].uid + "\r\n";
    }
    if (verb == "UIDL") {
        std::string r = "+OK\r\n";
        for (size_t i = 0; i < mails_.size(); ++i) r += std::to_string(i + 1) + " " + mails_[i].uid + "\r\n";
        return r + ".\r\n";
    }
    if (verb == "LIST") {
        std::string r = "+OK " + std::to_string(mails_.size()) + " messages\r\n";
        for (size_t i = 0; i < mails_.size(); ++i) {
            long size = mails_[i].listSize >= 0 ? mails_[i].listSize : static_cast<long>(mails_[i].content.size());
            r += std::to_string(i + 1) + " " + std::to_string(size) + "\r\n";
        }
        return r + ".\r\n";
    }
    if (verb == "TOP") {
        unsigned long n = 0, lines = 0;
        if (std::sscanf(command.c_str(), "%*s %lu %lu", &n, &lines) != 2 || n == 0 || n > mails_.size())
            return "-ERR no such message\r\n";
        return "+OK\r\n" + Stuffed(TopOf(mails_[n - 1].content, lines)) + ".\r\n";
    }
    if (verb == "QUIT") {
        close = true;
        return "+OK bye\r\n";
    }
    return "-ERR unknown command\r\n";
}

void FakePop3Server::serve(Channel& channel, int connection)
{
    if (!silent && !send(channel, greeting + "\r\n")) return;
    std::string buffer;
    bool stalled = silent;
    while (!stopping()) {
        if (!receive(channel, buffer)) return;
        while (auto line = takeLine(buffer, connection)) {
            const std::string& command = *line;
            if (stalled) continue;
            bool close = false;
            std::string text;
            std::optional<FakeReply> scripted = hook ? hook(command, connection) : std::nullopt;
            if (scripted) {
                text = scripted->text;
                close = scripted->close;
                stalled = scripted->stall;
            } else {
                text = defaultReply(command, close);
            }
            if (!send(channel, text) || close) return;
        }
        if (buffer.size() > 65536) {
            // Not a command stream (a TLS handshake, say): record it once.
            record(connection, "<binary>");
            buffer.clear();
        }
        if (!buffer.empty() && buffer.find('\n') == std::string::npos &&
            std::any_of(buffer.begin(), buffer.end(), [](char c) { return c == 0x16 || c == 0; })) {
            record(connection, "<binary>");
            return;
        }
    }
}
