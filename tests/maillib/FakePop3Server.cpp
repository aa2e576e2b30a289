#include "tests/maillib/FakePop3Server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

FakePop3Server::~FakePop3Server() { stop(); }

void FakePop3Server::setMails(std::vector<FakeMail> mails)
{
    std::lock_guard lock(mutex_);
    mails_ = std::move(mails);
}

bool FakePop3Server::start()
{
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) return false;
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    if (::inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) return false;
    addr.sin_port = 0;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 8) != 0)
        return false;
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { run(); });
    return true;
}

void FakePop3Server::stop()
{
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listenFd_ >= 0) ::close(listenFd_);
    listenFd_ = -1;
}

std::vector<std::vector<std::string>> FakePop3Server::transcripts() const
{
    std::lock_guard lock(mutex_);
    return transcripts_;
}

std::vector<std::string> FakePop3Server::lastTranscript() const
{
    std::lock_guard lock(mutex_);
    return transcripts_.empty() ? std::vector<std::string>{} : transcripts_.back();
}

int FakePop3Server::connections() const
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(transcripts_.size());
}

void FakePop3Server::run()
{
    while (!stop_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        int connection;
        {
            std::lock_guard lock(mutex_);
            transcripts_.emplace_back();
            connection = static_cast<int>(transcripts_.size()) - 1;
        }
        serve(fd, connection);
        ::close(fd);
    }
}

bool FakePop3Server::send(int fd, const std::string& data)
{
    size_t step = byteAtATime ? 1 : 64 * 1024;
    for (size_t off = 0; off < data.size(); off += step) {
        size_t n = std::min(step, data.size() - off);
        ssize_t done = ::send(fd, data.data() + off, n, MSG_NOSIGNAL);
        if (done > 0) sent_ += done;
        if (done != static_cast<ssize_t>(n)) return false;
    }
    return true;
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

void FakePop3Server::serve(int fd, int connection)
{
    if (!silent && !send(fd, greeting + "\r\n")) return;
    std::string buffer;
    bool stalled = silent;
    while (!stop_) {
        pollfd p{fd, POLLIN, 0};
        int rc = ::poll(&p, 1, 20);
        if (rc <= 0) continue;
        char buf[4096];
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return;
        buffer.append(buf, static_cast<size_t>(n));
        size_t eol;
        while ((eol = buffer.find("\r\n")) != std::string::npos) {
            std::string command = buffer.substr(0, eol);
            buffer.erase(0, eol + 2);
            {
                std::lock_guard lock(mutex_);
                transcripts_[static_cast<size_t>(connection)].push_back(command);
            }
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
            if (!send(fd, text) || close) return;
        }
        if (buffer.size() > 65536) {
            // Not a command stream (a TLS handshake, say): record it once.
            std::lock_guard lock(mutex_);
            transcripts_[static_cast<size_t>(connection)].push_back("<binary>");
            buffer.clear();
        }
        if (!buffer.empty() && buffer.find('\n') == std::string::npos &&
            std::any_of(buffer.begin(), buffer.end(), [](char c) { return c == 0x16 || c == 0; })) {
            std::lock_guard lock(mutex_);
            transcripts_[static_cast<size_t>(connection)].push_back("<binary>");
            return;
        }
    }
}
