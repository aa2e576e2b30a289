#include "tests/maillib/FakeImapServer.h"

#include <algorithm>
#include <set>
#include <sstream>

namespace {

std::string Upper(std::string s)
{
    for (char& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
}

std::vector<std::string> Split(const std::string& s)
{
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

// An atom or a quoted string at the start of `s`; `s` keeps what follows.
std::string AString(std::string& s)
{
    size_t i = 0;
    std::string out;
    if (!s.empty() && s[0] == '"') {
        for (i = 1; i < s.size() && s[i] != '"'; ++i) {
            if (s[i] == '\\' && i + 1 < s.size()) ++i;
            out += s[i];
        }
        ++i;
    } else {
        i = std::min(s.find(' '), s.size());
        out = s.substr(0, i);
    }
    s.erase(0, std::min(i + 1, s.size()));
    return out;
}

std::string Base64Decode(const std::string& in)
{
    static const std::string abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (char c : in) {
        size_t v = abc.find(c);
        if (v == std::string::npos) continue;
        bits = (bits << 6) | static_cast<unsigned>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

// UIDs of a set such as "1:3,7,9:*".
bool InSet(const std::string& set, uint32_t uid, uint32_t highest)
{
    std::istringstream in(set);
    for (std::string part; std::getline(in, part, ',');) {
        size_t colon = part.find(':');
        auto num = [&](const std::string& t) { return t == "*" ? highest : static_cast<uint32_t>(std::stoul(t)); };
        uint32_t a = num(part.substr(0, colon));
        uint32_t b = colon == std::string::npos ? a : num(part.substr(colon + 1));
        if (std::min(a, b) <= uid && uid <= std::max(a, b)) return true;
    }
    return false;
}

} // namespace

struct FakeImapServer::Session {
    bool tls = false;
    bool authed = false;
    bool utf8 = false;
    std::string selected;
    size_t toldExists = 0;
    std::string idleTag;
    std::string saslTag; // AUTHENTICATE waiting for its response line
};

void FakeImapServer::setMailbox(const std::string& name, FakeMailbox box)
{
    std::lock_guard lock(mutex_);
    boxes_[name] = std::move(box);
}

void FakeImapServer::deliver(const std::string& name, std::string content)
{
    std::lock_guard lock(mutex_);
    FakeMailbox& box = boxes_[name];
    uint32_t uid = box.uidNext ? box.uidNext : (box.mails.empty() ? 1 : box.mails.back().uid + 1);
    box.mails.push_back({uid, std::move(content)});
    box.uidNext = uid + 1;
}

void FakeImapServer::push(std::string text)
{
    std::lock_guard lock(mutex_);
    pushes_.push_back(std::move(text));
}

std::string FakeImapServer::capabilityList(const Session& s) const
{
    std::string out;
    for (const auto& c : capabilities) {
        if (loginDisabledInClear && !s.tls && c.rfind("AUTH=", 0) == 0) continue;
        out += (out.empty() ? "" : " ") + c;
    }
    if (tls == Tls::StartTls && !s.tls) out += " STARTTLS";
    if (loginDisabledInClear && !s.tls) out += " LOGINDISABLED";
    return out;
}

void FakeImapServer::serve(Channel& channel, int connection)
{
    if (tls == Tls::Implicit && !channel.StartTls()) {
        record(connection, "<no TLS>");
        return;
    }
    Session s;
    s.tls = tls == Tls::Implicit;
    if (!silent && !send(channel, greeting + "\r\n")) return;
    std::string buffer;
    bool stalled = silent;
    while (!stopping()) {
        if (!receive(channel, buffer)) return;
        if (!s.idleTag.empty() && !stalled) idleNews(channel, s);
        if (!s.tls && !buffer.empty() && buffer[0] == 0x16) {
            record(connection, "<binary>");
            return;
        }
        while (auto taken = takeLine(buffer, connection)) {
            const std::string& line = *taken;
            if (stalled) continue;
            if (std::optional<FakeReply> scripted = hook ? hook(line, connection) : std::nullopt) {
                if (!send(channel, scripted->text) || scripted->close) return;
                stalled = scripted->stall;
                continue;
            }
            const bool wasClear = !s.tls;
            if (!handle(channel, s, line)) return;
            if (wasClear && s.tls) buffer.clear(); // nothing sent before TLS counts after it
        }
    }
}

bool FakeImapServer::handle(Channel& channel, Session& s, const std::string& line)
{
    if (!s.saslTag.empty()) {
        std::string tag = s.saslTag;
        s.saslTag.clear();
        std::string plain = Base64Decode(line);
        return send(channel, tag + (plain.substr(plain.find('\0') + 1) == user + '\0' + password
                                        ? " OK Logged in\r\n"
                                        : " NO [AUTHENTICATIONFAILED] Authentication failed.\r\n"));
    }
    if (!s.idleTag.empty()) {
        std::string tag = s.idleTag;
        s.idleTag.clear();
        return send(channel, Upper(line) == "DONE" ? tag + " OK Idle completed.\r\n" : tag + " BAD Expected DONE.\r\n");
    }
    auto words = Split(line);
    if (words.size() < 2) return send(channel, "* BAD Error in IMAP command\r\n");
    const std::string tag = words[0];
    std::string verb = Upper(words[1]);
    std::string args = line.substr(std::min(line.size(), tag.size() + words[1].size() + 2));
    if (verb == "UID" && words.size() > 2) {
        verb += " " + Upper(words[2]);
        args = args.substr(std::min(args.size(), words[2].size() + 1));
    }
    auto ok = [&](const std::string& text) { return send(channel, tag + " OK " + text + "\r\n"); };
    auto loggedIn = [&] {
        s.authed = true;
        return ok(capabilityAfterLogin ? "[CAPABILITY " + capabilityList(s) + "] Logged in" : "Logged in");
    };
    std::lock_guard lock(mutex_);
    if (verb == "CAPABILITY") return send(channel, "* CAPABILITY " + capabilityList(s) + "\r\n") && ok("done");
    if (verb == "NOOP") return ok("done");
    if (verb == "LOGOUT") {
        send(channel, "* BYE Logging out\r\n");
        ok("Logout completed.");
        return false;
    }
    if (verb == "STARTTLS" && tls == Tls::StartTls && !s.tls) {
        if (!send(channel, tag + " OK Begin TLS negotiation now.\r\n" + afterStartTls)) return false;
        s.tls = channel.StartTls();
        return s.tls;
    }
    if (verb == "LOGIN" && !(loginDisabledInClear && !s.tls)) {
        std::string rest = args;
        std::string u = AString(rest), p = AString(rest);
        if (u == user && p == password) return loggedIn();
        return send(channel, tag + " NO [AUTHENTICATIONFAILED] Authentication failed.\r\n");
    }
    if (verb == "AUTHENTICATE" && words.size() > 2 && Upper(words[2]) == "PLAIN" && !(loginDisabledInClear && !s.tls)) {
        if (words.size() == 3) {
            s.saslTag = tag;
            return send(channel, "+ \r\n");
        }
        std::string plain = Base64Decode(words[3]);
        if (plain.substr(plain.find('\0') + 1) == user + '\0' + password) return loggedIn();
        return send(channel, tag + " NO [AUTHENTICATIONFAILED] Authentication failed.\r\n");
    }
    if (!s.authed) return send(channel, tag + " BAD Not logged in or unknown command\r\n");
    if (verb == "ENABLE") {
        bool offered = std::find(capabilities.begin(), capabilities.end(), "UTF8=ACCEPT") != capabilities.end();
        if (offered && Upper(args).find("UTF8=ACCEPT") != std::string::npos) {
            s.utf8 = true;
            return send(channel, "* ENABLED UTF8=ACCEPT\r\n") && ok("Enabled.");
        }
        return ok("Enabled.");
    }
    if (verb == "EXAMINE" || verb == "STATUS") {
        std::string rest = args;
        std::string wire = rest.substr(0, rest.find(' '));
        std::string name = AString(rest);
        auto box = boxes_.find(name);
        if (box == boxes_.end())
            return send(channel, tag + " NO [NONEXISTENT] Mailbox doesn't exist: " + name + "\r\n");
        const FakeMailbox& b = box->second;
        uint32_t next = b.uidNext ? b.uidNext : (b.mails.empty() ? 1 : b.mails.back().uid + 1);
        if (verb == "STATUS") {
            if (s.selected == name) return send(channel, tag + " NO [CLIENTBUG] Mailbox is selected\r\n");
            return send(channel, "* STATUS " + wire + " (MESSAGES " + std::to_string(b.mails.size()) + " UIDNEXT " +
                                     std::to_string(next) + " UIDVALIDITY " + std::to_string(b.uidValidity) +
                                     ")\r\n") &&
                   ok("Status completed.");
        }
        s.selected = name;
        s.toldExists = b.mails.size();
        return send(channel, "* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft)\r\n* OK [PERMANENTFLAGS ()] "
                             "Read-only mailbox.\r\n* " +
                                 std::to_string(b.mails.size()) + " EXISTS\r\n* 0 RECENT\r\n* OK [UIDVALIDITY " +
                                 std::to_string(b.uidValidity) + "] UIDs valid\r\n* OK [UIDNEXT " +
                                 std::to_string(next) + "] Predicted next UID\r\n") &&
               ok("[READ-ONLY] Examine completed.");
    }
    if (s.selected.empty()) return send(channel, tag + " BAD No mailbox selected\r\n");
    if (verb == "UID SEARCH") {
        std::string r = "* SEARCH";
        for (const auto& m : boxes_[s.selected].mails) r += " " + std::to_string(m.uid);
        return send(channel, r + "\r\n") && ok("Search completed.");
    }
    if (verb == "UID FETCH") return send(channel, fetch(tag, args, s));
    if (verb == "IDLE") {
        s.idleTag = tag;
        return send(channel, "+ idling\r\n");
    }
    return send(channel, tag + " BAD Unknown command\r\n");
}

std::string FakeImapServer::fetch(const std::string& tag, const std::string& args, const Session& s)
{
    const std::string set = args.substr(0, args.find(' '));
    const std::string items = Upper(args);
    size_t partial = std::string::npos;
    if (size_t at = items.find("[TEXT]<0."); at != std::string::npos) partial = std::stoul(items.substr(at + 9));
    const auto& mails = boxes_[s.selected].mails;
    std::string out;
    for (size_t i = 0; i < mails.size(); ++i) {
        if (!InSet(set, mails[i].uid, mails.empty() ? 0 : mails.back().uid)) continue;
        const std::string& c = mails[i].content;
        size_t split = c.find("\r\n\r\n");
        std::string header = split == std::string::npos ? c : c.substr(0, split + 4);
        std::string text = split == std::string::npos ? std::string() : c.substr(split + 4);
        out += "* " + std::to_string(i + 1) + " FETCH (UID " + std::to_string(mails[i].uid);
        if (items.find("[HEADER]") != std::string::npos)
            out += " BODY[HEADER] {" + std::to_string(header.size()) + "}\r\n" + header;
        if (items.find("[TEXT]") != std::string::npos) {
            if (!ignorePartial && partial != std::string::npos) text = text.substr(0, partial);
            out += std::string(" BODY[TEXT]") + (partial != std::string::npos ? "<0>" : "") + " {" +
                   std::to_string(text.size()) + "}\r\n" + text;
        }
        out += ")\r\n";
    }
    return out + tag + " OK Fetch completed.\r\n";
}

void FakeImapServer::idleNews(Channel& channel, Session& s)
{
    std::vector<std::string> news;
    {
        std::lock_guard lock(mutex_);
        news.swap(pushes_);
        size_t count = boxes_[s.selected].mails.size();
        if (count != s.toldExists) news.push_back("* " + std::to_string(count) + " EXISTS\r\n");
        s.toldExists = count;
    }
    for (const auto& text : news) send(channel, text);
}

std::string ImapAddress(const FakeImapServer& s, const std::string& mailbox)
{
    const char* scheme = s.tls == FakeImapServer::Tls::Implicit   ? "imaps://"
                         : s.tls == FakeImapServer::Tls::StartTls ? "imap://"
                                                                  : "insecure-imap://";
    return scheme + std::string("127.0.0.1:") + std::to_string(s.port()) + (mailbox.empty() ? "" : "/" + mailbox);
}

std::vector<std::string> ChangingCommands(const std::vector<std::vector<std::string>>& transcripts)
{
    static const std::set<std::string> changing{"STORE",  "EXPUNGE", "COPY",     "MOVE",      "APPEND",
                                                "CREATE", "DELETE",  "RENAME",   "SUBSCRIBE", "UNSUBSCRIBE",
                                                "SELECT", "SETACL",  "DELETEACL"};
    std::vector<std::string> out;
    for (const auto& transcript : transcripts)
        for (const auto& line : transcript) {
            auto words = Split(line);
            if (words.size() < 2) continue;
            std::string verb = Upper(words[1]);
            if (verb == "UID" && words.size() > 2) verb = Upper(words[2]);
            const std::string upper = Upper(line);
            // FETCH marks mail read unless every body part is a PEEK.
            bool readsForReal =
                verb == "FETCH" &&
                (upper.find("BODY[") != std::string::npos || upper.find("BINARY[") != std::string::npos ||
                 upper.find("RFC822 ") != std::string::npos || upper.find("RFC822)") != std::string::npos ||
                 upper.find("RFC822.TEXT") != std::string::npos);
            if (changing.count(verb) || readsForReal) out.push_back(line);
        }
    return out;
}
