#include "Charset.h"
#include "MailLib.h"
#include "MailLibInternal.h"
#include "MailReader.h"
#include "ServerAddress.h"

#include <glib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace maillib {
namespace {

using Clock = std::chrono::steady_clock;

struct Cached {
    std::string content;
    // A hard link to the first file written for this mail, in the folder's cache; later
    // checks link it back in instead of writing the mail again. Empty when there is none.
    std::string shadow;
};

// Hard links this process keeps; removed when the mail leaves the cache and at exit.
void DropShadow(Cached& mail)
{
    if (!mail.shadow.empty())
        ::unlink(mail.shadow.c_str());
    mail.shadow.clear();
}

struct AccountState {
    std::map<std::string, Cached> mails;  // by UIDL (or header identity)
    size_t cachedBytes = 0;
    std::vector<std::string> lastOrder;  // ids of the last good check, server order
    bool haveLastOrder = false;
    int failures = 0;
    std::chrono::milliseconds backoff{0};
    Clock::time_point retryAt{};
    Clock::time_point loginAllowedAt{};
    std::string passwordFingerprint;
};

struct Registry {
    std::mutex mutex;
    std::map<std::string, AccountState> accounts;
    internal::Limits limits;
    SessionFactory factory;
    std::map<std::string, bool> preparedCaches;  // cache folders seen by this process: usable?

    ~Registry()
    {
        for (auto& [key, st] : accounts)
            for (auto& [id, mail] : st.mails)
                DropShadow(mail);
    }
};

Registry& Reg()
{
    static Registry r;
    return r;
}

std::string Sha256Hex(std::string_view data)
{
    gchar* s = g_compute_checksum_for_data(G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(data.data()),
                                           data.size());
    std::string out = s ? s : "";
    g_free(s);
    return out;
}

std::string AccountKey(const ServerAddress& address, const std::string& user)
{
    return address.Label() + "\n" + user;
}

void Report(const std::string& label, const std::string& user, const std::string& reason)
{
    std::fprintf(stderr, "maillib: %s (user %s): %s\n", label.c_str(), charset::StripControls(user, "").c_str(),
                 reason.c_str());
}

// A misconfigured account fails the same way at every check; say so once.
void ReportOnce(const std::string& label, const std::string& user, const std::string& reason)
{
    static std::set<std::string> said;
    if (said.insert(label + '\n' + user + '\n' + reason).second)
        Report(label, user, reason);
}

// What of an unparsable server text may be shown: the host-like part, never what a user may
// have typed before an '@' or after a blank (a password, say).
std::string RedactServerText(const std::string& text)
{
    std::string shown = text.substr(0, text.find_first_of(" \t"));
    if (auto at = shown.rfind('@'); at != std::string::npos) {
        const auto scheme = shown.find("://");
        shown = (scheme != std::string::npos && scheme < at ? shown.substr(0, scheme + 3) : std::string()) +
                shown.substr(at + 1);
    }
    return charset::StripControls(shown, "");
}

bool HasLineBreakOrNul(const std::string& text) { return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos; }

struct UidEntry {
    unsigned long number = 0;
    std::string id;
};

bool ParseNumber(std::string_view s, unsigned long& out)
{
    if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    out = std::stoul(std::string(s));
    return out > 0;
}

bool ParseSize(const std::string& s, unsigned long& out)
{
    std::string digits = s.substr(0, s.find(' '));
    if (digits.empty() || digits.size() > 12 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = std::stoul(digits);
    return true;
}

std::vector<std::pair<unsigned long, std::string>> ParseListing(const std::string& text)
{
    std::vector<std::pair<unsigned long, std::string>> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        std::string line = charset::Trim(text.substr(pos, eol == std::string::npos ? std::string::npos : eol - pos));
        pos = eol == std::string::npos ? text.size() : eol + 1;
        size_t sp = line.find(' ');
        unsigned long n = 0;
        if (sp == std::string::npos || !ParseNumber(std::string_view(line).substr(0, sp), n))
            continue;
        std::string rest = charset::Trim(line.substr(sp + 1));
        if (rest.empty() || rest.size() > 512)
            continue;
        out.emplace_back(n, rest);
    }
    return out;
}

// Unique ids in server order; a repeated id gets a suffix so no two mails share a file.
std::vector<UidEntry> MakeUnique(std::vector<std::pair<unsigned long, std::string>> raw)
{
    std::vector<UidEntry> out;
    std::set<unsigned long> numbers;
    std::map<std::string, int> seen;
    for (auto& [n, id] : raw) {
        if (!numbers.insert(n).second)
            continue;
        int k = ++seen[id];
        out.push_back(UidEntry{n, k == 1 ? id : id + "\x1f" + std::to_string(k)});
    }
    return out;
}

std::string HeaderBlock(const std::string& mail)
{
    size_t end = mail.find("\r\n\r\n");
    if (end == std::string::npos)
        end = mail.find("\n\n");
    return end == std::string::npos ? mail : mail.substr(0, end);
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    if (!folder.empty() && folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

bool WriteWhole(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes to a temporary name in the folder, then renames: a reader never sees half a mail.
bool SaveFile(const std::string& folder, const std::string& name, const std::string& data, std::string& error)
{
    std::string finalPath = JoinPath(folder, name);
    std::string tmpl = JoinPath(folder, ".fw-part-XXXXXX");
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    int fd = ::mkstemp(buf.data());
    if (fd < 0) {
        error = std::string("cannot write in the receive folder: ") + std::strerror(errno);
        return false;
    }
    ::fchmod(fd, 0600);
    bool ok = WriteWhole(fd, data);
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(buf.data(), finalPath.c_str()) == 0)
        return true;
    error = std::string("cannot save a mail file: ") + std::strerror(errno);
    ::unlink(buf.data());
    return false;
}

std::string CaFileFor(const std::string& folder)
{
    std::string path = JoinPath(folder, "INI/cacert.pem");
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return path;
    return {};
}

void RecordFailure(AccountState& st, const internal::Limits& limits, Clock::time_point now)
{
    ++st.failures;
    st.backoff = st.failures == 1 ? limits.backoffBase : std::min(st.backoff * 2, limits.backoffMax);
    st.retryAt = now + st.backoff;
}

bool IsMailFileName(const char* name)
{
    const std::string n = name;
    return n.size() == 3 + 32 + 4 && n.rfind("fw-", 0) == 0 && n.compare(n.size() - 4, 4, ".txt") == 0 &&
           n.find_first_not_of("0123456789abcdef", 3) == n.size() - 4;
}

// The folder's cache of hard links: a private folder of our own, emptied of what an earlier
// process left. Empty (no cache) when the name is taken by anything else, a link above all.
std::string CacheFolder(Registry& reg, const std::string& folder)
{
    std::string cache = JoinPath(folder, ".fw-cache");
    auto [it, first] = reg.preparedCaches.emplace(cache, false);
    if (first) {
        // Half-written mails of a process that died while saving them.
        if (GDir* dir = g_dir_open(folder.c_str(), 0, nullptr)) {
            while (const gchar* name = g_dir_read_name(dir))
                if (std::string(name).rfind(".fw-part-", 0) == 0)
                    ::unlink(JoinPath(folder, name).c_str());
            g_dir_close(dir);
        }
        ::mkdir(cache.c_str(), 0700);
        struct stat st {};
        if (::lstat(cache.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()) {
            ::chmod(cache.c_str(), 0700);
            if (GDir* dir = g_dir_open(cache.c_str(), 0, nullptr)) {
                while (const gchar* name = g_dir_read_name(dir))
                    if (IsMailFileName(name))
                        ::unlink(JoinPath(cache, name).c_str());
                g_dir_close(dir);
            }
            it->second = true;
        }
    }
    return it->second ? cache : std::string();
}

// Puts the mail file in place: a link to the cached copy when there is one, else a new file,
// which then becomes the cached copy. Unchanged mailboxes thus cost no writes of mail data.
bool PlaceFile(const std::string& folder, const std::string& cache, const std::string& name, Cached* cached,
               const std::string& content, std::string& error)
{
    const std::string finalPath = JoinPath(folder, name);
    if (cached && !cached->shadow.empty()) {
        ::unlink(finalPath.c_str());
        if (::link(cached->shadow.c_str(), finalPath.c_str()) == 0)
            return true;
        DropShadow(*cached);  // the copy is gone or links are unsupported: write it anew
    }
    if (!SaveFile(folder, name, content, error))
        return false;
    if (cached && !cache.empty()) {
        std::string shadow = JoinPath(cache, name);
        ::unlink(shadow.c_str());
        if (::link(finalPath.c_str(), shadow.c_str()) == 0)
            cached->shadow = std::move(shadow);
    }
    return true;
}

MailList WriteFiles(Registry& reg, const std::string& folder, const std::string& key,
                    const std::vector<std::string>& order, AccountState& st,
                    const std::map<std::string, std::string>& uncached, std::string& error)
{
    const std::string cache = CacheFolder(reg, folder);
    std::vector<std::string> refs;
    refs.reserve(order.size());
    for (const auto& id : order) {
        Cached* cached = nullptr;
        const std::string* content = nullptr;
        if (auto it = st.mails.find(id); it != st.mails.end()) {
            cached = &it->second;
            content = &cached->content;
        } else if (auto u = uncached.find(id); u != uncached.end()) {
            content = &u->second;
        }
        if (!content)
            continue;
        std::string name = internal::MailFileName(key, id);
        if (!PlaceFile(folder, cache, name, cached, *content, error)) {
            for (const auto& r : refs)
                ::unlink(r.c_str());
            return std::nullopt;
        }
        refs.push_back(JoinPath(folder, name));
    }
    return refs;
}

MailList Check(const ServerAddress& address, const std::string& user, const std::string& password,
               const std::string& folder)
{
    auto& reg = Reg();
    std::lock_guard lock(reg.mutex);
    const internal::Limits limits = reg.limits;
    const std::string key = AccountKey(address, user);
    AccountState& st = reg.accounts[key];
    const auto now = Clock::now();

    std::string fingerprint = Sha256Hex(key + "\n" + password);
    if (fingerprint != st.passwordFingerprint) {
        // New credentials deserve a fresh try.
        st.passwordFingerprint = fingerprint;
        st.failures = 0;
        st.retryAt = {};
        st.loginAllowedAt = {};
    }
    if (now < st.retryAt)
        return std::nullopt;  // backing off; the failure was reported when it happened

    std::string error;
    if (now < st.loginAllowedAt) {
        if (!st.haveLastOrder)
            return std::nullopt;
        MailList cachedRefs = WriteFiles(reg, folder, key, st.lastOrder, st, {}, error);
        if (!cachedRefs)
            Report(address.Label(), user, error);
        return cachedRefs;
    }

    SessionOptions opts;
    opts.server = address;
    opts.user = user;
    opts.password = password;
    opts.caFile = CaFileFor(folder);
    opts.deadline = now + limits.total;
    opts.connectBound = limits.connect;
    std::unique_ptr<Pop3Session> session = reg.factory ? reg.factory(opts) : MakeCurlSession(opts);

    auto fail = [&](const Pop3Reply& r) -> MailList {
        session->Quit();
        if (r.loginDelay) {
            // Too early for the server: answer from the cache until it lets us in.
            long secs = session->LoginDelaySeconds().value_or(0);
            st.loginAllowedAt = now + (secs > 0 ? std::chrono::milliseconds(secs * 1000) : limits.loginDelayFallback);
            if (st.haveLastOrder) {
                std::string werr;
                return WriteFiles(reg, folder, key, st.lastOrder, st, {}, werr);
            }
        }
        RecordFailure(st, limits, now);
        Report(address.Label(), user, r.reason);
        return std::nullopt;
    };

    std::string text;
    std::vector<UidEntry> ids;
    std::map<unsigned long, unsigned long> sizes;
    bool haveSizes = false;
    std::map<std::string, std::string> uncached;  // fetched this check but over the cache budget

    Pop3Reply r = session->Uidl(text);
    if (r.kind == Pop3Reply::Kind::ServerErr) {
        // No UIDL: identify mails by their header block.
        r = session->List(text);
        if (!r.ok())
            return fail(r);
        std::vector<std::pair<unsigned long, std::string>> raw;
        for (auto& [n, size] : ParseListing(text)) {
            unsigned long bytes = 0;
            if (ParseSize(size, bytes))
                sizes[n] = bytes;
            std::string head;
            r = session->Top(n, 0, limits.sizeCap, head);
            if (!r.ok())
                return fail(r);
            raw.emplace_back(n, "H:" + Sha256Hex(HeaderBlock(head)));
        }
        haveSizes = true;
        ids = MakeUnique(std::move(raw));
    } else if (!r.ok()) {
        return fail(r);
    } else {
        ids = MakeUnique(ParseListing(text));
    }

    for (const auto& e : ids) {
        if (st.mails.count(e.id))
            continue;
        if (!haveSizes) {
            r = session->List(text);
            if (!r.ok())
                return fail(r);
            for (auto& [n, size] : ParseListing(text)) {
                unsigned long bytes = 0;
                if (ParseSize(size, bytes))
                    sizes[n] = bytes;
            }
            haveSizes = true;
        }
        auto sz = sizes.find(e.number);
        bool overCap = sz == sizes.end() || sz->second > limits.sizeCap;
        std::string content;
        r = session->Top(e.number, overCap ? limits.truncatedBodyLines : 1000000UL, limits.sizeCap, content);
        if (!r.ok())
            return fail(r);
        if (st.cachedBytes + content.size() <= limits.cacheBudget) {
            st.cachedBytes += content.size();
            st.mails[e.id] = Cached{std::move(content), {}};
        } else {
            uncached[e.id] = std::move(content);
        }
    }
    if (auto delay = session->LoginDelaySeconds(); delay && *delay > 0)
        st.loginAllowedAt = now + std::chrono::milliseconds(*delay * 1000);
    session->Quit();

    // Mails gone from the server leave the cache.
    std::set<std::string> present;
    std::vector<std::string> order;
    for (const auto& e : ids) {
        present.insert(e.id);
        order.push_back(e.id);
    }
    for (auto it = st.mails.begin(); it != st.mails.end();) {
        if (!present.count(it->first)) {
            st.cachedBytes -= it->second.content.size();
            DropShadow(it->second);
            it = st.mails.erase(it);
        } else {
            ++it;
        }
    }
    st.failures = 0;
    st.retryAt = {};
    st.lastOrder = order;
    st.haveLastOrder = true;

    MailList refs = WriteFiles(reg, folder, key, order, st, uncached, error);
    if (!refs)
        Report(address.Label(), user, error);
    return refs;
}

}  // namespace

namespace internal {

Limits GetLimits()
{
    std::lock_guard lock(Reg().mutex);
    return Reg().limits;
}

void SetLimits(const Limits& limits)
{
    std::lock_guard lock(Reg().mutex);
    Reg().limits = limits;
}

void ResetState()
{
    std::lock_guard lock(Reg().mutex);
    for (auto& [key, st] : Reg().accounts)
        for (auto& [id, mail] : st.mails)
            DropShadow(mail);
    Reg().accounts.clear();
    Reg().preparedCaches.clear();
}

void SetSessionFactory(SessionFactory factory)
{
    std::lock_guard lock(Reg().mutex);
    Reg().factory = std::move(factory);
}

AccountStats StatsFor(const std::string& server, const std::string& user)
{
    AccountStats stats;
    auto address = ParseServer(server);
    if (!address)
        return stats;
    std::lock_guard lock(Reg().mutex);
    auto it = Reg().accounts.find(AccountKey(*address, charset::Trim(user)));
    if (it == Reg().accounts.end())
        return stats;
    stats.cachedMails = it->second.mails.size();
    stats.cachedBytes = it->second.cachedBytes;
    stats.failures = it->second.failures;
    return stats;
}

std::string MailFileName(const std::string& accountKey, const std::string& uid)
{
    // Nothing the server sends reaches a path: the name is a hash.
    std::string key = accountKey;
    key.push_back('\0');
    key += uid;
    return "fw-" + Sha256Hex(key).substr(0, 32) + ".txt";
}

}  // namespace internal

MailList RcvMail(std::string& server, std::string& user, std::string& password, std::string& mode,
                 std::string& folder)
{
    try {
        std::string serverText = charset::Trim(server);
        std::string userText = charset::Trim(user);
        if (serverText.empty() || userText.empty())
            return std::nullopt;  // an unconfigured account
        std::string error;
        auto address = ParseServer(serverText, &error);
        if (!address) {
            ReportOnce(RedactServerText(serverText), userText, error);
            return std::nullopt;
        }
        // A line break would let a user name or password append POP3 commands of its own.
        if (HasLineBreakOrNul(userText) || HasLineBreakOrNul(password)) {
            ReportOnce(address->Label(), "", "the user name or password contains a line break");
            return std::nullopt;
        }
        if (charset::Trim(mode) != "SAVEALL") {
            Report(address->Label(), userText, "unsupported mode");
            return std::nullopt;
        }
        std::string dir = charset::Trim(folder);
        struct stat st {};
        if (dir.empty() || ::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            Report(address->Label(), userText, "the receive folder does not exist");
            return std::nullopt;
        }
        return Check(*address, userText, password, dir);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "maillib: check failed: %s\n", e.what());
        return std::nullopt;
    }
}

MailList ReadMail(std::string& mailRef, std::string& fieldList, std::string& /*folder*/)
{
    try {
        return ReadMailFile(charset::Trim(mailRef), fieldList);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace maillib
