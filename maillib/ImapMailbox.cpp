#include "maillib/ImapMailbox.h"

#include "maillib/ImapDialogue.h"
#include "maillib/WatchedMailboxes.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <unordered_set>

namespace maillib {
namespace {

using imap::Dialogue;
using imap::MailboxCounts;
using imap::Reply;
using Kind = AccountStatus::Kind;

// Mails asked for in one UID FETCH: few round trips, and a bounded amount held at once.
constexpr size_t kMailsPerFetch = 50;

std::string MailId(uint32_t uidValidity, uint32_t uid) { return internal::ImapMark(uidValidity, uid); }

SessionReply From(const Reply& r)
{
    SessionReply s;
    s.kind = r.ok()                           ? SessionReply::Kind::Ok
             : r.kind == Reply::Kind::Refused ? SessionReply::Kind::Refused
                                              : SessionReply::Kind::Failed;
    s.reason = r.reason;
    s.failure = r.failure;
    if (r.missingMailbox) {
        // Nothing to check until the server text names a mailbox that is there.
        s.kind = SessionReply::Kind::Failed;
        s.noMailbox = true;
        s.failure = Kind::NoMailbox;
        s.reason = "no such mailbox: " + r.reason;
    }
    return s;
}

SessionReply Ended()
{
    SessionReply s;
    s.kind = SessionReply::Kind::Ended;
    return s;
}

class ImapMailbox final : public MailboxSession {
public:
    explicit ImapMailbox(const SessionOptions& options) : opts_(options) {}

    // Signs in with the first request that needs the server: an idling watcher may make it
    // needless.
    SessionReply Open() override { return {}; }

    SessionReply Summary(const MailboxState&, MailboxState& now) override
    {
        now = MailboxState{};
        if (auto watched = WatchedMailbox(opts_.server, opts_.user, opts_.password, opts_.bearer)) {
            now = *watched;
            return {};
        }
        if (SessionReply r = Connect(); !r.ok()) return r;
        MailboxCounts counts;
        Reply r = dialogue_->Status(opts_.server.mailbox, counts);
        if (!r.ok()) return From(r);
        now.known = true;
        now.count = counts.messages;
        now.mark = internal::ImapMark(counts.uidValidity, counts.uidNext);
        return {};
    }

    bool SummaryIsExact() const override { return true; }

    SessionReply List(size_t window, const MailboxState& last, bool, MailboxListing& out) override
    {
        out = MailboxListing{};
        if (SessionReply r = Connect(); !r.ok()) return r;
        MailboxCounts counts;
        Reply r = dialogue_->Examine(opts_.server.mailbox, counts);
        if (!r.ok()) return From(r);
        if (counts.uidValidity == 0) return Failure("the server gave the mailbox no UIDVALIDITY");
        std::vector<uint32_t> uids;
        r = dialogue_->SearchAll(uids);
        if (!r.ok()) return From(r);
        uidValidity_ = counts.uidValidity;
        examined_ = true;
        UidList all;
        for (uint32_t uid : uids) all.Add(uid, MailId(uidValidity_, uid));
        all.Finish();
        out.newest = std::move(all).Newest(window);
        out.state.count = uids.size();
        out.state.mark = internal::ImapMark(counts.uidValidity, counts.uidNext);
        // A mail that came between EXAMINE and SEARCH is listed but not in the mark: the next
        // summary must not take the mailbox for unchanged, so it lists again.
        out.state.known =
            counts.uidNext != 0 && uids.size() == counts.messages && (uids.empty() || uids.back() < counts.uidNext);
        const std::string epoch = std::to_string(uidValidity_) + ".";
        out.renumbered = !last.mark.empty() && last.mark.rfind(epoch, 0) != 0;
        return {};
    }

    void Upcoming(const std::vector<unsigned long>& numbers) override
    {
        upcoming_.assign(numbers.begin(), numbers.end());
        next_ = 0;
    }

    SessionReply Fetch(std::string_view id, unsigned long number, std::string& out) override
    {
        out.clear();
        if (over_) return Ended();
        // A check that lists nothing new (the summary stood) still knows its ids.
        if (uidValidity_ == 0) uidValidity_ = static_cast<uint32_t>(std::strtoul(std::string(id).c_str(), nullptr, 10));
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (auto it = fetched_.find(number); it != fetched_.end()) {
                out = std::move(it->second);
                fetched_.erase(it);
                if (number != cutUid_) return {};
                // Cut at the bound: the session ends with it, as the interface says.
                over_ = true;
                SessionReply cut;
                cut.cut = true;
                return cut;
            }
            if (examined_ && asked_.count(number)) return Gone(); // asked for, and not given
            if (!examined_) {
                // A mail over the bound ended the connection before this one came: sign in
                // again, a few times in one check at most.
                if (lost_ && relogins_++ >= opts_.loginsAfterRefusal) return Ended();
                if (SessionReply r = Reopen(); !r.ok()) return r.kind == SessionReply::Kind::Failed ? r : Ended();
            }
            if (SessionReply r = FetchFrom(number); !r.ok()) return r;
        }
        return Ended();
    }

    void Quit() override
    {
        if (dialogue_) dialogue_->Logout();
        dialogue_.reset();
    }

    std::optional<long> LoginDelaySeconds() const override { return std::nullopt; }

private:
    static SessionReply Failure(std::string reason)
    {
        SessionReply s;
        s.kind = SessionReply::Kind::Failed;
        s.reason = std::move(reason);
        return s;
    }

    static SessionReply Gone()
    {
        SessionReply s;
        s.kind = SessionReply::Kind::Refused;
        s.gone = true;
        s.reason = "the server no longer has this mail";
        return s;
    }

    SessionReply Connect()
    {
        if (dialogue_) return {};
        auto d = std::make_unique<Dialogue>(opts_, opts_.byteCap);
        Reply r = d->Open();
        if (!r.ok()) return From(r);
        dialogue_ = std::move(d);
        return {};
    }

    // The mailbox listed before, opened (on a new connection if need be); Ended when its UIDs
    // no longer hold.
    SessionReply Reopen()
    {
        if (SessionReply r = Connect(); !r.ok()) return r;
        MailboxCounts counts;
        Reply r = dialogue_->Examine(opts_.server.mailbox, counts);
        if (!r.ok()) return From(r);
        if (counts.uidValidity != uidValidity_) return Ended();
        examined_ = true;
        return {};
    }

    // One UID FETCH for `number` and the mails asked for after it that are not here yet.
    SessionReply FetchFrom(unsigned long number)
    {
        std::vector<uint32_t> batch{static_cast<uint32_t>(number)};
        // Mostly asked for in the order announced; a mail asked for again is looked up afresh.
        auto at = std::find(upcoming_.begin() + static_cast<long>(std::min(next_, upcoming_.size())), upcoming_.end(),
                            number);
        if (at == upcoming_.end()) at = std::find(upcoming_.begin(), upcoming_.end(), number);
        if (at != upcoming_.end()) {
            next_ = static_cast<size_t>(at - upcoming_.begin()) + 1;
            for (auto it = at + 1; it != upcoming_.end() && batch.size() < kMailsPerFetch; ++it)
                if (!asked_.count(*it) && !fetched_.count(*it)) batch.push_back(static_cast<uint32_t>(*it));
        }
        std::sort(batch.begin(), batch.end());
        batch.erase(std::unique(batch.begin(), batch.end()), batch.end());
        uint32_t last = 0;
        Reply r = dialogue_->Fetch(batch, [&](uint32_t uid, std::string mail) {
            fetched_[uid] = std::move(mail);
            last = uid;
        });
        if (r.cut) {
            // The last mail handed over was cut, and the connection dropped; the mails of the
            // batch after it did not come and are asked for again on a new connection.
            cutUid_ = last;
            dialogue_.reset();
            examined_ = false;
            lost_ = true;
            for (uint32_t uid : batch)
                if (uid <= last) asked_.insert(uid);
            return {};
        }
        if (!r.ok()) {
            if (r.kind == Reply::Kind::Failed) {
                dialogue_.reset();
                examined_ = false;
            }
            return From(r);
        }
        asked_.insert(batch.begin(), batch.end());
        return {};
    }

    const SessionOptions opts_;
    std::unique_ptr<Dialogue> dialogue_;
    uint32_t uidValidity_ = 0;
    std::vector<unsigned long> upcoming_;
    size_t next_ = 0;                              // where in upcoming_ the next fetch is expected
    std::map<unsigned long, std::string> fetched_; // come, not yet handed over
    std::unordered_set<unsigned long> asked_;      // asked for on the connection that answered
    unsigned long cutUid_ = 0;                     // the mail cut at the byte bound
    bool over_ = false;                            // the cut mail was handed over: nothing more
    bool examined_ = false;                        // the mailbox is open on dialogue_
    bool lost_ = false;                            // a cut ended a connection of this check
    int relogins_ = 0;
};

} // namespace

std::unique_ptr<MailboxSession> MakeImapMailbox(const SessionOptions& options)
{
    return std::make_unique<ImapMailbox>(options);
}

} // namespace maillib
