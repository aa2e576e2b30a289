#include "AccountRegistry.h"
#include "Cancellation.h"
#include "Charset.h"
#include "Log.h"
#include "MailLib.h"
#include "MailLibInternal.h"
#include "MailReader.h"
#include "MailStore.h"
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

using internal::Report;
using internal::ReportOnce;
using Kind = AccountStatus::Kind;

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

void RecordFailure(AccountState& st, const internal::Limits& limits, Clock::time_point now, const std::string& reason)
{
    ++st.failures;
    st.backoff = st.failures == 1 ? limits.backoffBase : std::min(st.backoff * 2, limits.backoffMax);
    st.retryAt = now + st.backoff;
    st.lastFailure = reason;
}

std::chrono::system_clock::time_point WallTime(Clock::time_point t)
{
    return std::chrono::system_clock::now() +
           std::chrono::duration_cast<std::chrono::system_clock::duration>(t - Clock::now());
}

// One check of one account. Says how it went in `status`; the text is finished by RcvMail.
class AccountCheck {
public:
    AccountCheck(const ServerAddress& address, const std::string& user, const std::string& password,
                 const std::string& folder, AccountStatus& status)
        : address_(address), user_(user), password_(password), folder_(folder), status_(status),
          key_(AccountKey(address, user))
    {
    }

    MailList Run()
    {
        const SharedSettings shared = Settings();
        limits_ = shared.limits;
        std::shared_ptr<AccountState> state = AccountFor(key_);
        std::lock_guard lock(state->mutex);  // one check of an account at a time; others run on
        st_ = state.get();
        if (internal::Cancelled())
            return Say(Kind::Cancelled, "cancelled");
        now_ = Clock::now();

        std::string fingerprint = Sha256Hex(key_ + "\n" + password_);
        if (fingerprint != st_->passwordFingerprint) {
            // New credentials deserve a fresh try.
            st_->passwordFingerprint = fingerprint;
            st_->failures = 0;
            st_->retryAt = {};
            st_->loginAllowedAt = {};
            st_->loginDelayRefused = false;
        }
        if (now_ < st_->retryAt) {
            // Backing off; the failure was reported when it happened.
            status_.waitUntil = WallTime(st_->retryAt);
            return Say(Kind::Waiting, "waiting after a failure: " + st_->lastFailure);
        }
        if (now_ < st_->loginAllowedAt) {
            if (st_->loginDelayRefused || !st_->haveLastOrder) {
                status_.waitUntil = WallTime(st_->loginAllowedAt);
                if (!st_->haveLastOrder)
                    return Say(Kind::Waiting, "waiting for the server's login delay");
            }
            // The server asks for a pause between logins: the last check's mails stand.
            return Written(st_->lastOrder, {}, st_->loginDelayRefused ? Kind::Waiting : Kind::Ok,
                           "waiting for the server's login delay");
        }
        return Fetch(shared.factory);
    }

private:
    MailList Say(Kind kind, const std::string& reason)
    {
        status_.kind = kind;
        status_.text = reason;
        if (kind != Kind::Waiting)
            status_.waitUntil = {};
        return std::nullopt;
    }

    MailList Failed(Pop3Session& session, const Pop3Reply& r)
    {
        session.Quit();
        if (r.failure == Kind::Cancelled)
            return Say(Kind::Cancelled, r.reason);
        if (r.loginDelay) {
            // Too early for the server: answer from the cache until it lets us in.
            long secs = session.LoginDelaySeconds().value_or(0);
            st_->loginAllowedAt =
                now_ + (secs > 0 ? std::chrono::milliseconds(secs * 1000) : limits_.loginDelayFallback);
            st_->loginDelayRefused = true;
            status_.waitUntil = WallTime(st_->loginAllowedAt);
            if (st_->haveLastOrder)
                return Written(st_->lastOrder, {}, Kind::Waiting, r.reason, /*quiet=*/true);
        }
        RecordFailure(*st_, limits_, now_, r.reason);
        Report(address_.Label(), user_, r.reason);
        if (!r.loginDelay)
            status_.waitUntil = {};
        return Say(r.failure, r.reason);
    }

    // Puts the files in place; `kind` and `reason` describe the check when that works.
    MailList Written(const std::vector<std::string>& order, const std::map<std::string, std::string>& uncached,
                     Kind kind, const std::string& reason, bool quiet = false)
    {
        std::string error;
        MailList refs = WriteFiles(folder_, key_, order, *st_, uncached, error);
        if (internal::Cancelled()) {
            if (refs)
                RemoveFiles(*refs);
            return Say(Kind::Cancelled, "cancelled");
        }
        if (!refs) {
            if (!quiet)
                Report(address_.Label(), user_, error);
            return Say(Kind::ServerError, error);
        }
        status_.kind = kind;
        status_.text = reason;
        return refs;
    }

    MailList Fetch(const SessionFactory& factory)
    {
        SessionOptions opts;
        opts.server = address_;
        opts.user = user_;
        opts.password = password_;
        opts.caFile = CaFileFor(folder_);
        opts.deadline = now_ + limits_.total;
        opts.connectBound = limits_.connect;
        std::unique_ptr<Pop3Session> session = factory ? factory(opts) : MakeCurlSession(opts);

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
                return Failed(*session, r);
            std::vector<std::pair<unsigned long, std::string>> raw;
            for (auto& [n, size] : ParseListing(text)) {
                unsigned long bytes = 0;
                if (ParseSize(size, bytes))
                    sizes[n] = bytes;
                std::string head;
                r = session->Top(n, 0, limits_.sizeCap, head);
                if (!r.ok())
                    return Failed(*session, r);
                raw.emplace_back(n, "H:" + Sha256Hex(HeaderBlock(head)));
            }
            haveSizes = true;
            ids = MakeUnique(std::move(raw));
        } else if (!r.ok()) {
            return Failed(*session, r);
        } else {
            ids = MakeUnique(ParseListing(text));
        }

        for (const auto& e : ids) {
            if (st_->mails.count(e.id))
                continue;
            if (!haveSizes) {
                r = session->List(text);
                if (!r.ok())
                    return Failed(*session, r);
                for (auto& [n, size] : ParseListing(text)) {
                    unsigned long bytes = 0;
                    if (ParseSize(size, bytes))
                        sizes[n] = bytes;
                }
                haveSizes = true;
            }
            auto sz = sizes.find(e.number);
            bool overCap = sz == sizes.end() || sz->second > limits_.sizeCap;
            std::string content;
            r = session->Top(e.number, overCap ? limits_.truncatedBodyLines : 1000000UL, limits_.sizeCap, content);
            if (!r.ok())
                return Failed(*session, r);
            if (st_->cachedBytes + content.size() <= limits_.cacheBudget) {
                st_->cachedBytes += content.size();
                st_->mails[e.id] = Cached{std::move(content), {}};
            } else {
                uncached[e.id] = std::move(content);
            }
        }
        if (auto delay = session->LoginDelaySeconds(); delay && *delay > 0)
            st_->loginAllowedAt = now_ + std::chrono::milliseconds(*delay * 1000);
        st_->loginDelayRefused = false;
        session->Quit();

        // Mails gone from the server leave the cache.
        std::set<std::string> present;
        std::vector<std::string> order;
        for (const auto& e : ids) {
            present.insert(e.id);
            order.push_back(e.id);
        }
        for (auto it = st_->mails.begin(); it != st_->mails.end();) {
            if (!present.count(it->first)) {
                st_->cachedBytes -= it->second.content.size();
                DropShadow(it->second);
                it = st_->mails.erase(it);
            } else {
                ++it;
            }
        }
        st_->failures = 0;
        st_->retryAt = {};
        st_->lastOrder = order;
        st_->haveLastOrder = true;
        return Written(order, uncached, Kind::Ok, std::to_string(order.size()) + " mail(s)");
    }

    const ServerAddress& address_;
    const std::string& user_;
    const std::string& password_;
    const std::string& folder_;
    AccountStatus& status_;
    const std::string key_;
    internal::Limits limits_;
    AccountState* st_ = nullptr;
    Clock::time_point now_{};
};

// The one line a status may show: no controls, no password, a bounded length.
std::string SafeText(std::string text, const std::string& password)
{
    if (!password.empty())
        for (size_t at; (at = text.find(password)) != std::string::npos;)
            text.replace(at, password.size(), "****");
    text = charset::StripDisplayControls(text, "");
    if (text.size() > 300)
        text = charset::MakeValidUtf8(text.substr(0, 300)) + "...";
    return charset::StripDisplayControls(text, "");
}

MailList CheckAccount(std::string& server, std::string& user, std::string& password, std::string& mode,
                      std::string& folder, AccountStatus& status)
{
    status = AccountStatus{};
    std::string serverText = charset::Trim(server);
    std::string userText = charset::Trim(user);
    if (serverText.empty() || userText.empty()) {
        status.text = "no server or no user";
        return std::nullopt;  // an unconfigured account
    }
    if (internal::Cancelled()) {
        status.kind = Kind::Cancelled;
        status.text = "cancelled";
        return std::nullopt;
    }
    std::string error;
    auto address = ParseServer(serverText, &error);
    if (!address) {
        const std::string shown = RedactServerText(serverText);
        ReportOnce(shown, userText, error);
        status.kind = Kind::CannotConnect;
        status.text = shown + ": " + error;
        return std::nullopt;
    }
    const std::string label = address->Label() + " (user " + charset::StripDisplayControls(userText, "") + ")";
    // A line break would let a user name or password append POP3 commands of its own.
    if (HasLineBreakOrNul(userText) || HasLineBreakOrNul(password)) {
        const std::string why = "the user name or password contains a line break";
        ReportOnce(address->Label(), "", why);
        status.kind = Kind::LoginRefused;
        status.text = address->Label() + ": " + why;
        return std::nullopt;
    }
    if (charset::Trim(mode) != "SAVEALL") {
        Report(address->Label(), userText, "unsupported mode");
        status.kind = Kind::ServerError;
        status.text = label + ": unsupported mode";
        return std::nullopt;
    }
    std::string dir = charset::Trim(folder);
    struct stat st {};
    if (dir.empty() || ::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        Report(address->Label(), userText, "the receive folder does not exist");
        status.kind = Kind::ServerError;
        status.text = label + ": the receive folder does not exist";
        return std::nullopt;
    }
    MailList refs = AccountCheck(*address, userText, password, dir, status).Run();
    status.text = label + ": " + status.text;
    return refs;
}

}  // namespace

namespace internal {

void ResetState()
{
    ForgetAccounts();
    ForgetCacheFolders();
    ForgetReported();
    ClearCancel();
}

AccountStats StatsFor(const std::string& server, const std::string& user)
{
    AccountStats stats;
    auto address = ParseServer(server);
    if (!address)
        return stats;
    auto st = FindAccount(AccountKey(*address, charset::Trim(user)));
    if (!st)
        return stats;
    std::lock_guard lock(st->mutex);
    stats.cachedMails = st->mails.size();
    stats.cachedBytes = st->cachedBytes;
    stats.failures = st->failures;
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

void Initialise()
{
    InitCurlOnce();
    InitGMimeOnce();
}

MailList RcvMail(std::string& server, std::string& user, std::string& password, std::string& mode,
                 std::string& folder, AccountStatus& status)
{
    try {
        Initialise();
        MailList refs = CheckAccount(server, user, password, mode, folder, status);
        status.text = SafeText(status.text, password);
        return refs;
    } catch (const std::exception& e) {
        internal::LogLine(std::string("maillib: check failed: ") + e.what());
        status = AccountStatus{};
        status.kind = Kind::ServerError;
        status.text = SafeText(std::string("check failed: ") + e.what(), password);
        return std::nullopt;
    }
}

MailList RcvMail(std::string& server, std::string& user, std::string& password, std::string& mode,
                 std::string& folder)
{
    AccountStatus ignored;
    return RcvMail(server, user, password, mode, folder, ignored);
}

MailList ReadMail(std::string& mailRef, std::string& fieldList, std::string& /*folder*/)
{
    try {
        Initialise();
        return ReadMailFile(charset::Trim(mailRef), fieldList);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace maillib
