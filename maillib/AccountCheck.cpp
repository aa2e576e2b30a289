#include "maillib/AccountCheck.h"

#include "maillib/AccountRegistry.h"
#include "maillib/Cancellation.h"
#include "maillib/Log.h"
#include "maillib/MailCache.h"
#include "maillib/MailClock.h"
#include "maillib/MailLibInternal.h"
#include "maillib/MailStore.h"
#include "maillib/MailboxSession.h"
#include "maillib/RestartIndex.h"
#include "maillib/SignInCredential.h"
#include "maillib/SkippedMails.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <utility>

namespace maillib {
namespace {

using internal::Report;
using Kind = AccountStatus::Kind;

std::chrono::system_clock::time_point WallTime(Clock::time_point t)
{
    return internal::WallNow() + std::chrono::duration_cast<std::chrono::system_clock::duration>(t - internal::Now());
}

// One check of one account. Says how it went in `status`; the text is finished by RcvMail.
class AccountCheck {
public:
    AccountCheck(const ServerAddress& address, const std::string& serverText, const std::string& user,
                 const std::string& password, const std::string& folder, AccountStatus& status, size_t placeFirst)
        : address_(address), serverText_(serverText), user_(user), password_(password), folder_(folder),
          status_(status), key_(AccountKey(address, user)), placeFirst_(placeFirst)
    {
    }

    MailList Run()
    {
        limits_ = internal::GetLimits();
        // Asked before the account is locked: the source may wait on the keyring or a token endpoint.
        credential_ = CredentialFor(serverText_, user_, password_);
        std::shared_ptr<AccountState> state = AccountFor(key_);
        std::lock_guard lock(state->mutex); // one check of an account at a time; others run on
        st_ = state.get();
        if (internal::Cancelled()) return Say(Kind::Cancelled, "cancelled");
        if (!Signable()) return std::nullopt;
        now_ = internal::Now();
        if (st_->copiesFrom != folder_) {
            st_->copiesFrom = folder_;
            st_->copyFolder = AccountCacheFolder(CacheRoot(folder_), key_);
            st_->copiesLoaded = false;
        }

        ChooseBackoff();
        if (now_ < bo_->retryAt) {
            // Backing off; the failure was reported when it happened.
            status_.waitUntil = WallTime(bo_->retryAt);
            return Say(Kind::Waiting, "waiting after a failure: " + bo_->lastFailure);
        }
        if (now_ < st_->loginAllowedAt) {
            if (st_->loginDelayRefused || !st_->haveLastOrder) {
                status_.waitUntil = WallTime(st_->loginAllowedAt);
                if (!st_->haveLastOrder) return Say(Kind::Waiting, "waiting for the server's login delay");
            }
            // The server asks for a pause between logins: the last check's mails stand.
            return Written(st_->lastListing, st_->lastState.count, {},
                           st_->loginDelayRefused ? Kind::Waiting : Kind::Ok, "waiting for the server's login delay");
        }
        MailList refs = Fetch();
        if (!std::exchange(tokenRefused_, false)) return refs;
        // The server refused the token: one fresh one, and one more login.
        credential_ = CredentialFor(serverText_, user_, password_, /*lastRefused=*/true);
        if (!Signable()) return std::nullopt;
        ChooseBackoff();
        return Fetch();
    }

private:
    // False, with the status said, when there is nothing that may be sent.
    bool Signable()
    {
        if (credential_.kind == Credential::Kind::None) {
            if (credential_.fault == Credential::Fault::Cancelled) {
                Say(Kind::Cancelled, "cancelled");
                return false;
            }
            Say(Kind::NoCredential, "not signed in: " + FaultWords(credential_.fault));
            status_.fault = credential_.fault;
            // Said once: it stays so at every check until the user acts.
            internal::ReportOnce(address_.Label(), user_, status_.text);
            return false;
        }
        if (BreaksLines(credential_)) {
            // It would let the secret append protocol lines of its own.
            Say(Kind::LoginRefused, "the password or token contains a line break");
            internal::ReportOnce(address_.Label(), user_, status_.text);
            return false;
        }
        return true;
    }

    // The back-off goes by what is sent: new credentials deserve a fresh try, and a slot
    // that logs in frees no other slot's wrong password.
    void ChooseBackoff()
    {
        bool fresh = false;
        st_->lastFingerprint = BackoffKey(key_, credential_);
        bo_ = &BackoffFor(st_->backoffs, st_->lastFingerprint, now_, fresh);
        if (fresh) {
            st_->loginAllowedAt = {};
            st_->loginDelayRefused = false;
        }
    }

    MailList Say(Kind kind, const std::string& reason)
    {
        status_.kind = kind;
        status_.text = reason;
        if (kind != Kind::Waiting) status_.waitUntil = {};
        return std::nullopt;
    }

    MailList Failed(MailboxSession& session, const SessionReply& r)
    {
        session.Quit();
        if (r.failure == Kind::Cancelled) return Say(Kind::Cancelled, r.reason);
        if (r.failure == Kind::LoginRefused && credential_.kind == Credential::Kind::Bearer && !askedAgain_) {
            // Perhaps revoked or expired early: Run asks for a fresh token once, unrecorded.
            askedAgain_ = tokenRefused_ = true;
            return std::nullopt;
        }
        if (r.loginDelay) {
            // Too early for the server: answer from the cache until it lets us in.
            long secs = session.LoginDelaySeconds().value_or(0);
            st_->loginAllowedAt =
                now_ + (secs > 0 ? std::chrono::milliseconds(secs * 1000) : limits_.loginDelayFallback);
            st_->loginDelayRefused = true;
            status_.waitUntil = WallTime(st_->loginAllowedAt);
            if (st_->haveLastOrder)
                return Written(st_->lastListing, st_->lastState.count, {}, Kind::Waiting, r.reason, /*quiet=*/true);
        }
        RecordFailure(*bo_, limits_, now_, r.failure, r.reason);
        Report(address_.Label(), user_, r.reason);
        if (!r.loginDelay) status_.waitUntil = {};
        return Say(r.failure, r.reason);
    }

    // Puts the files of the newest mails in place, then an empty entry for each older mail of
    // the `count` listed; `kind` and `reason` describe the check when that works.
    MailList Written(const UidList& newest, size_t count, const UncachedMails& uncached, Kind kind,
                     const std::string& reason, bool quiet = false)
    {
        std::string error;
        int errorNumber = 0;
        MailList refs = WriteFiles(folder_, key_, newest, *st_, uncached, error, &errorNumber);
        if (internal::Cancelled()) {
            if (refs) RemoveFiles(*refs);
            return Say(Kind::Cancelled, "cancelled");
        }
        if (!refs && IsDiskFull(errorNumber)) {
            // Nothing is gained by asking the server again soon; said once until it works again.
            if (bo_->lastFailureKind != Kind::DiskFull) Report(address_.Label(), user_, error);
            RecordFailure(*bo_, limits_, now_, Kind::DiskFull, error);
            status_.waitUntil = {};
            return Say(Kind::DiskFull, error);
        }
        if (!refs) {
            if (!quiet) Report(address_.Label(), user_, error);
            return Say(Kind::ServerError, error);
        }
        refs->resize(refs->size() + (count > newest.size() ? count - newest.size() : 0));
        status_.kind = kind;
        status_.text = reason;
        return refs;
    }

    MailList Fetch()
    {
        SessionOptions opts;
        opts.server = address_;
        opts.user = user_;
        SignInWith(opts, credential_);
        opts.caFile = CaFileFor(folder_);
        opts.deadline = std::chrono::steady_clock::now() + limits_.total; // a bound on real time
        opts.connectBound = limits_.connect;
        opts.byteCap = limits_.sizeCap;
        opts.bodyLinesOverCap = limits_.truncatedBodyLines;
        std::unique_ptr<MailboxSession> session = OpenMailboxSession(opts);
        if (!st_->copiesLoaded && !st_->haveLastOrder) TakeUpRestartIndex();

        UncachedMails uncached;    // fetched this check but over the cache budget
        bool stoppedEarly = false; // the session ended before every new mail was fetched

        SessionReply r = session->Open();
        if (!r.ok()) return Failed(*session, r);
        const bool unchanged = MailboxUnchanged(*session, r);
        if (!unchanged && !r.ok() && r.kind != SessionReply::Kind::Refused) return Failed(*session, r);
        MailboxListing listing;
        if (!unchanged) {
            r = session->List(placeFirst_, st_->lastState, now_ - st_->fullListingAt >= limits_.fullListingEvery,
                              listing);
            if (!r.ok()) return Failed(*session, r);
            for (const auto& [number, why] : listing.refused) skipped_.Add(number, "#" + std::to_string(number), why);
            if (listing.renumbered) DropCachedMails();
            if (!st_->copiesLoaded) {
                // What an earlier process fetched need not be fetched again.
                LoadCopies(st_->copyFolder, key_, listing.newest, *st_, limits_.cacheBudget);
                st_->copiesLoaded = true;
            }
        }
        const UidList& ids = unchanged ? st_->lastListing : listing.newest;
        const size_t count = unchanged ? st_->lastState.count : listing.state.count;

        // New mails, newest first; one that ended an earlier check comes last, so that it
        // cannot keep the others from being fetched.
        std::vector<size_t> wanted, refusedBefore;
        // An unchanged mailbox whose mails were all fetched has none to look for.
        const bool nothingNew = unchanged && st_->listingComplete;
        for (size_t i = 0; !nothingNew && i < ids.size(); ++i) {
            if (st_->mails.count(ids.Id(i))) continue;
            (st_->askLast.count(ids.Id(i)) ? refusedBefore : wanted).push_back(i);
        }
        wanted.insert(wanted.end(), refusedBefore.begin(), refusedBefore.end());
        if (!wanted.empty()) {
            std::vector<unsigned long> numbers;
            numbers.reserve(wanted.size());
            for (size_t i : wanted) numbers.push_back(ids.Number(i));
            session->Upcoming(numbers);
        }

        for (size_t i : wanted) {
            const std::string_view id = ids.Id(i);
            const unsigned long number = ids.Number(i);
            std::string content;
            r = session->Fetch(id, number, content);
            if (r.kind == SessionReply::Kind::Ended) {
                stoppedEarly = true;
                break;
            }
            if (r.kind == SessionReply::Kind::Refused) {
                // Asked for after the others next time; the mails after it may still come now.
                if (!r.gone) st_->askLast.insert(std::string(id));
                skipped_.Add(number, std::string(id), r.reason);
                continue;
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
        skipped_.Report(address_.Label(), user_, st_->skipWarned, st_->skipSummary);

        // Only the newest mails stay cached; those gone from the server or pushed out by newer
        // ones leave.
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
        // Every wanted mail was fetched and kept: the whole listing is cached.
        const bool complete = !stoppedEarly && uncached.empty() && skipped_.Count() == 0;
        MailList refs = Written(ids, count, uncached, Kind::Ok,
                                stoppedEarly ? "the connection ended early; the other mails next time"
                                             : std::to_string(count) + " mail(s)");
        // The server took these credentials: their back-off is over, unless the mails found
        // no room, which backs off on its own.
        if (status_.kind != Kind::DiskFull) *bo_ = Backoff{};
        const bool keep = refs || status_.kind != Kind::Cancelled;
        if (keep && !unchanged) {
            st_->lastListing = std::move(listing.newest);
            st_->lastState = std::move(listing.state);
            st_->lastWindow = placeFirst_;
            st_->haveLastOrder = true;
            st_->fullListingAt = now_;
            SaveRestartIndex(st_->copyFolder, key_, *st_, internal::WallNow());
        }
        // A listing not kept may have lost cached mails already: no promise about it.
        st_->listingComplete = keep && complete;
        return refs;
    }

    // The session's cheap summary against what the last listing found. A full listing still
    // comes every fullListingEvery, and for a while after the server refused to summarise.
    // False when a listing is due; `r` then says why when the server refused or failed.
    bool MailboxUnchanged(MailboxSession& session, SessionReply& r)
    {
        r = SessionReply{};
        const MailboxState& last = st_->lastState;
        if (!st_->haveLastOrder || !last.known || st_->lastWindow != placeFirst_ ||
            (!session.SummaryIsExact() && now_ - st_->fullListingAt >= limits_.fullListingEvery))
            return false;
        if (st_->shortcutRefused && now_ - st_->shortcutRefusedAt < limits_.fullListingEvery) return false;
        st_->shortcutRefused = false;
        MailboxState now;
        r = session.Summary(last, now);
        if (r.ok()) return now.known && now.count == last.count && now.mark == last.mark;
        if (r.kind == SessionReply::Kind::Refused) {
            // The refusal may have closed the session; the listing logs in again.
            st_->shortcutRefused = true;
            st_->shortcutRefusedAt = now_;
        }
        return false;
    }

    // What an earlier process's last listing found stands in for this check's own, and the
    // copies of its mails are taken in (each checked as it is read).
    void TakeUpRestartIndex()
    {
        auto indexed = LoadRestartIndex(st_->copyFolder, key_);
        if (!indexed) return;
        st_->lastListing = std::move(indexed->newest);
        st_->lastState = std::move(indexed->state);
        st_->lastWindow = indexed->window;
        st_->haveLastOrder = true;
        const auto age = std::max(internal::WallNow() - indexed->listedAt, std::chrono::system_clock::duration{});
        st_->fullListingAt = now_ - std::chrono::duration_cast<Clock::duration>(age);
        LoadCopies(st_->copyFolder, key_, st_->lastListing, *st_, limits_.cacheBudget);
        st_->copiesLoaded = true;
    }

    // The server renumbered its mails: nothing cached stands for a mail any more.
    void DropCachedMails()
    {
        for (auto& [id, mail] : st_->mails) DropShadow(mail);
        st_->mails.clear();
        st_->cachedBytes = 0;
        st_->askLast.clear();
        st_->skipWarned.clear();
        st_->listingComplete = false;
    }

    const ServerAddress& address_;
    const std::string& serverText_; // as the settings give it: the credential source's name for it
    const std::string& user_;
    const std::string& password_;
    const std::string& folder_;
    AccountStatus& status_;
    const std::string key_;
    const size_t placeFirst_;
    internal::Limits limits_;
    AccountState* st_ = nullptr;
    Backoff* bo_ = nullptr; // of the credentials this check sends
    Credential credential_;
    bool tokenRefused_ = false; // the server refused the bearer token: ask for a fresh one
    bool askedAgain_ = false;
    Clock::time_point now_{};
    SkippedMails skipped_;
};

} // namespace

std::string AccountKey(const ServerAddress& address, const std::string& user) { return address.Label() + "\n" + user; }

MailList CheckAccount(const ServerAddress& address, const std::string& serverText, const std::string& user,
                      const std::string& password, const std::string& folder, AccountStatus& status, size_t placeFirst)
{
    return AccountCheck(address, serverText, user, password, folder, status, placeFirst).Run();
}

} // namespace maillib
