#include "maillib/AccountCheck.h"

#include "maillib/AccountRegistry.h"
#include "maillib/Cancellation.h"
#include "maillib/Digest.h"
#include "maillib/Log.h"
#include "maillib/MailCache.h"
#include "maillib/MailClock.h"
#include "maillib/MailLibInternal.h"
#include "maillib/MailStore.h"
#include "maillib/Pop3Listing.h"
#include "maillib/Pop3Session.h"

#include <map>
#include <mutex>

namespace maillib {
namespace {

using internal::Report;
using Kind = AccountStatus::Kind;

std::string HeaderBlock(const std::string& mail)
{
    size_t end = mail.find("\r\n\r\n");
    if (end == std::string::npos) end = mail.find("\n\n");
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
    return internal::WallNow() + std::chrono::duration_cast<std::chrono::system_clock::duration>(t - internal::Now());
}

// One check of one account. Says how it went in `status`; the text is finished by RcvMail.
class AccountCheck {
public:
    AccountCheck(const ServerAddress& address, const std::string& user, const std::string& password,
                 const std::string& folder, AccountStatus& status, size_t placeFirst)
        : address_(address), user_(user), password_(password), folder_(folder), status_(status),
          key_(AccountKey(address, user)), placeFirst_(placeFirst)
    {
    }

    MailList Run()
    {
        const SharedSettings shared = Settings();
        limits_ = shared.limits;
        std::shared_ptr<AccountState> state = AccountFor(key_);
        std::lock_guard lock(state->mutex); // one check of an account at a time; others run on
        st_ = state.get();
        if (internal::Cancelled()) return Say(Kind::Cancelled, "cancelled");
        now_ = internal::Now();
        if (st_->copiesFrom != folder_) {
            st_->copiesFrom = folder_;
            st_->copyFolder = AccountCacheFolder(CacheRoot(folder_), key_);
            st_->copiesLoaded = false;
        }

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
                if (!st_->haveLastOrder) return Say(Kind::Waiting, "waiting for the server's login delay");
            }
            // The server asks for a pause between logins: the last check's mails stand.
            return Written(st_->lastListing, {}, st_->loginDelayRefused ? Kind::Waiting : Kind::Ok,
                           "waiting for the server's login delay", st_->listingComplete);
        }
        return Fetch(shared.factory);
    }

private:
    MailList Say(Kind kind, const std::string& reason)
    {
        status_.kind = kind;
        status_.text = reason;
        if (kind != Kind::Waiting) status_.waitUntil = {};
        return std::nullopt;
    }

    MailList Failed(Pop3Session& session, const Pop3Reply& r)
    {
        session.Quit();
        if (r.failure == Kind::Cancelled) return Say(Kind::Cancelled, r.reason);
        if (r.loginDelay) {
            // Too early for the server: answer from the cache until it lets us in.
            long secs = session.LoginDelaySeconds().value_or(0);
            st_->loginAllowedAt =
                now_ + (secs > 0 ? std::chrono::milliseconds(secs * 1000) : limits_.loginDelayFallback);
            st_->loginDelayRefused = true;
            status_.waitUntil = WallTime(st_->loginAllowedAt);
            if (st_->haveLastOrder)
                return Written(st_->lastListing, {}, Kind::Waiting, r.reason, st_->listingComplete, /*quiet=*/true);
        }
        RecordFailure(*st_, limits_, now_, r.reason);
        st_->lastFailureKind = r.failure;
        Report(address_.Label(), user_, r.reason);
        if (!r.loginDelay) status_.waitUntil = {};
        return Say(r.failure, r.reason);
    }

    // Puts the files in place; `kind` and `reason` describe the check when that works.
    MailList Written(const UidList& order, const UncachedMails& uncached, Kind kind, const std::string& reason,
                     bool allCached, bool quiet = false)
    {
        std::string error;
        MailList refs = WriteFiles(folder_, key_, order, *st_, uncached, placeFirst_, allCached, error);
        if (internal::Cancelled()) {
            if (refs) RemoveFiles(*refs);
            return Say(Kind::Cancelled, "cancelled");
        }
        if (!refs) {
            if (!quiet) Report(address_.Label(), user_, error);
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
        opts.deadline = std::chrono::steady_clock::now() + limits_.total; // a bound on real time
        opts.connectBound = limits_.connect;
        std::unique_ptr<Pop3Session> session = factory ? factory(opts) : MakeCurlSession(opts);

        UidList ids;
        SizeList sizes;
        bool haveSizes = false;
        UncachedMails uncached;    // fetched this check but over the cache budget
        bool stoppedEarly = false; // the connection ended before every new mail was fetched

        Pop3Reply r;
        const bool unchanged = MailboxUnchanged(*session, r);
        if (!unchanged && !r.ok() && r.kind != Pop3Reply::Kind::ServerErr) return Failed(*session, r);
        // The last message of the listing, to compare the next check's STAT and UIDL n with.
        unsigned long tailNumber = 0;
        std::string tailId;
        bool tailKnown = false;
        if (unchanged) {
            ids = st_->lastListing;
            r = Pop3Reply{};
        } else {
            r = session->Uidl([&](std::string_view line) {
                ids.AddLine(line);
                unsigned long n = 0;
                std::string_view rest;
                if (ParseListingLine(line, n, rest) && n > tailNumber) {
                    tailNumber = n;
                    tailId.assign(rest);
                }
            });
            tailKnown = r.ok();
        }
        if (!unchanged && r.kind == Pop3Reply::Kind::ServerErr) {
            // No UIDL: identify mails by their header block.
            std::vector<unsigned long> numbers;
            r = session->List([&](std::string_view line) {
                sizes.AddLine(line);
                unsigned long n = 0;
                std::string_view rest;
                if (ParseListingLine(line, n, rest)) numbers.push_back(n);
            });
            if (!r.ok()) return Failed(*session, r);
            sizes.Finish();
            haveSizes = true;
            ids = UidList();
            for (unsigned long n : numbers) {
                std::string head;
                r = session->Top(n, 0, limits_.sizeCap, head);
                if (r.kind == Pop3Reply::Kind::ServerErr)
                    r.kind = Pop3Reply::Kind::Failed; // the connection is gone, the rest unknown
                if (r.cut) {
                    r.kind = Pop3Reply::Kind::Failed;
                    r.reason = "the server sent more than the headers asked for";
                }
                if (!r.ok()) return Failed(*session, r);
                ids.Add(n, "H:" + Sha256Hex(HeaderBlock(head)));
            }
        } else if (!r.ok()) {
            return Failed(*session, r);
        }
        if (!unchanged) {
            ids.Finish();
            if (!st_->copiesLoaded) {
                // What an earlier process fetched need not be fetched again.
                LoadCopies(st_->copyFolder, key_, ids, *st_, limits_.cacheBudget);
                st_->copiesLoaded = true;
            }
        }
        // Distinct numbers up to the largest, as many as listed: exactly 1..count.
        tailKnown = tailKnown && ids.size() == tailNumber;

        // New mails in server order; one that ended an earlier check comes last, so that it
        // cannot keep the others from being fetched.
        std::vector<size_t> wanted, refusedBefore;
        // An unchanged mailbox whose mails were all fetched has none to look for.
        const bool nothingNew = unchanged && st_->listingComplete;
        for (size_t i = 0; !nothingNew && i < ids.size(); ++i) {
            if (st_->mails.count(ids.Id(i))) continue;
            (st_->askLast.count(ids.Id(i)) ? refusedBefore : wanted).push_back(i);
        }
        wanted.insert(wanted.end(), refusedBefore.begin(), refusedBefore.end());

        for (size_t i : wanted) {
            const std::string_view id = ids.Id(i);
            const unsigned long number = ids.Number(i);
            if (!haveSizes) {
                r = session->List([&](std::string_view line) { sizes.AddLine(line); });
                if (!r.ok()) return Failed(*session, r);
                sizes.Finish();
                haveSizes = true;
            }
            if (!sizes.Listed(number)) {
                Skip(number, std::string(id), "the server lists no such message");
                continue;
            }
            const unsigned long size = sizes.SizeOf(number);
            const bool overCap = size == SizeList::kUnknown || size > limits_.sizeCap;
            std::string content;
            r = session->Top(number, overCap ? limits_.truncatedBodyLines : 1000000UL, limits_.sizeCap, content);
            if (r.kind == Pop3Reply::Kind::ServerErr) {
                // curl ends the connection after a refusal; the mails after it wait for the next check.
                st_->askLast.insert(std::string(id));
                Skip(number, std::string(id), r.reason);
                stoppedEarly = true;
                break;
            }
            if (!r.ok()) return Failed(*session, r);
            st_->askLast.erase(std::string(id));
            if (st_->cachedBytes + content.size() <= limits_.cacheBudget) {
                st_->cachedBytes += content.size();
                std::string copy = SaveCopy(st_->copyFolder, key_, id, content);
                st_->mails.emplace(std::string(id), Cached{std::move(content), std::move(copy), {}});
            } else {
                uncached.emplace(std::string(id), std::move(content));
            }
            if (r.cut) {
                // Sent past the cap: what was read is kept; the other mails come next time.
                // Not cached (over the budget), it is asked for again: after the others.
                if (uncached.count(id)) st_->askLast.insert(std::string(id));
                stoppedEarly = true;
                break;
            }
        }
        if (auto delay = session->LoginDelaySeconds(); delay && *delay > 0)
            st_->loginAllowedAt = now_ + std::chrono::milliseconds(*delay * 1000);
        st_->loginDelayRefused = false;
        session->Quit();
        ReportSkipped();

        // Mails gone from the server leave the cache.
        for (auto it = st_->mails.begin(); !unchanged && it != st_->mails.end();) {
            if (!ids.Contains(it->first)) {
                st_->cachedBytes -= it->second.content.size();
                DropShadow(it->second);
                it = st_->mails.erase(it);
            } else {
                ++it;
            }
        }
        for (auto* seen : {&st_->askLast, &st_->skipWarned})
            for (auto it = seen->begin(); !unchanged && it != seen->end();)
                it = ids.Contains(*it) ? std::next(it) : seen->erase(it);
        st_->failures = 0;
        st_->retryAt = {};
        const size_t listed = ids.size();
        // Every wanted mail was fetched and kept: the whole listing is cached.
        const bool complete = !stoppedEarly && uncached.empty() && skippedCount_ == 0;
        MailList refs = Written(ids, uncached, Kind::Ok,
                                stoppedEarly ? "the connection ended early; the other mails next time"
                                             : std::to_string(listed) + " mail(s)",
                                complete);
        const bool keep = refs || status_.kind != Kind::Cancelled;
        if (keep && !unchanged) {
            st_->lastListing = std::move(ids);
            st_->haveLastOrder = true;
            st_->tailKnown = tailKnown;
            st_->tailId = std::move(tailId);
            st_->fullListingAt = now_;
        }
        // A listing not kept may have lost cached mails already: no promise about it.
        st_->listingComplete = keep && complete;
        return refs;
    }

    // STAT, then UIDL n for the last message n: a mailbox only grows at its end, and any
    // deletion changes the count or the last id, so when both match the last full listing
    // nothing was added or removed. A full listing still comes every fullListingEvery.
    // False when a full listing is due; `r` then says why when the server refused or failed.
    bool MailboxUnchanged(Pop3Session& session, Pop3Reply& r)
    {
        r = Pop3Reply{};
        if (!st_->haveLastOrder || !st_->tailKnown || now_ - st_->fullListingAt >= limits_.fullListingEvery)
            return false;
        if (st_->shortcutRefused && now_ - st_->shortcutRefusedAt < limits_.fullListingEvery) return false;
        st_->shortcutRefused = false;
        std::string text;
        r = session.Stat(text);
        if (r.ok()) {
            unsigned long count = 0;
            if (!LeadingNumber(text, count) || count != st_->lastListing.size()) return false;
            if (count == 0) return true;
            r = session.UidlOf(count, text);
            unsigned long n = 0;
            std::string_view id;
            if (r.ok()) return ParseListingLine(text, n, id) && n == count && id == st_->tailId;
        }
        if (r.kind == Pop3Reply::Kind::ServerErr) {
            // The refusal closed the connection; the full listing logs in again.
            st_->shortcutRefused = true;
            st_->shortcutRefusedAt = now_;
        }
        return false;
    }

    static bool LeadingNumber(std::string_view text, unsigned long& n)
    {
        const size_t end = text.find_first_not_of("0123456789");
        const std::string_view digits = text.substr(0, end);
        if (digits.empty() || digits.size() > 9 || (end != std::string_view::npos && text[end] != ' ')) return false;
        n = 0;
        for (char c : digits) n = n * 10 + static_cast<unsigned long>(c - '0');
        return true;
    }

    // A mail the server will not give: left out, said once per mail (not at every check).
    static constexpr size_t kMaxSkipLines = 10;

    void Skip(unsigned long number, std::string id, const std::string& why)
    {
        // Only the first few are kept: a listing may name thousands of messages that do not exist.
        if (skipped_.size() <= kMaxSkipLines)
            skipped_.push_back({std::move(id), "message " + std::to_string(number) + " skipped: " + why});
        ++skippedCount_;
    }

    void ReportSkipped()
    {
        if (skippedCount_ > kMaxSkipLines) {
            // A flood: one line, and again only when the count changes.
            if (st_->skipSummary != skippedCount_)
                Report(address_.Label(), user_,
                       std::to_string(skippedCount_) + " mails skipped, e.g. " + skipped_.front().second);
            st_->skipSummary = skippedCount_;
            return;
        }
        st_->skipSummary = 0;
        for (const auto& [id, line] : skipped_)
            if (st_->skipWarned.insert(id).second) Report(address_.Label(), user_, line);
    }

    const ServerAddress& address_;
    const std::string& user_;
    const std::string& password_;
    const std::string& folder_;
    AccountStatus& status_;
    const std::string key_;
    const size_t placeFirst_;
    internal::Limits limits_;
    AccountState* st_ = nullptr;
    Clock::time_point now_{};
    std::vector<std::pair<std::string, std::string>> skipped_; // (id, warning) of this check
    size_t skippedCount_ = 0;
};

} // namespace

std::string AccountKey(const ServerAddress& address, const std::string& user) { return address.Label() + "\n" + user; }

MailList CheckAccount(const ServerAddress& address, const std::string& user, const std::string& password,
                      const std::string& folder, AccountStatus& status, size_t placeFirst)
{
    return AccountCheck(address, user, password, folder, status, placeFirst).Run();
}

} // namespace maillib
