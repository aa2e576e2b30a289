#include "maillib/Pop3Mailbox.h"

#include "maillib/Digest.h"
#include "maillib/Pop3Listing.h"

#include <algorithm>

namespace maillib {
namespace {

// What MailboxState::note says of a server that gave no UIDL at the last listing.
constexpr char kNoUidl[] = "no UIDL";

std::string HeaderBlock(const std::string& mail)
{
    size_t end = mail.find("\r\n\r\n");
    if (end == std::string::npos) end = mail.find("\n\n");
    return end == std::string::npos ? mail : mail.substr(0, end);
}

// A server without UIDL: a mail is known by its header block.
std::string HeaderId(const std::string& head) { return "H:" + Sha256Hex(HeaderBlock(head)); }

SessionReply From(const Pop3Reply& r)
{
    SessionReply s;
    s.kind = r.kind == Pop3Reply::Kind::Ok          ? SessionReply::Kind::Ok
             : r.kind == Pop3Reply::Kind::ServerErr ? SessionReply::Kind::Refused
                                                    : SessionReply::Kind::Failed;
    s.reason = r.reason;
    s.failure = r.failure;
    s.loginDelay = r.loginDelay;
    s.cut = r.cut;
    return s;
}

SessionReply Failure(std::string reason)
{
    SessionReply s;
    s.kind = SessionReply::Kind::Failed;
    s.reason = std::move(reason);
    return s;
}

class Pop3Mailbox final : public MailboxSession {
public:
    Pop3Mailbox(std::unique_ptr<Pop3Session> commands, const SessionOptions& options)
        : pop3_(std::move(commands)), byteCap_(options.byteCap), bodyLinesOverCap_(options.bodyLinesOverCap),
          loginsAfterRefusal_(options.loginsAfterRefusal)
    {
    }

    // curl logs in with the first request.
    SessionReply Open() override { return {}; }

    // STAT, then the id of the last message n (UIDL n, or its header block for a server
    // without UIDL): a mailbox only grows at its end, and any deletion changes the count or
    // the last id, so when both match the last listing nothing was added or removed.
    SessionReply Summary(const MailboxState& last, MailboxState& now) override
    {
        now = MailboxState{};
        std::string text;
        Pop3Reply r = pop3_->Stat(text);
        unsigned long count = 0;
        if (!r.ok() || !ParseLeadingCount(text, count)) return From(r);
        now.count = count;
        // Another count says enough; no need to ask for an id.
        now.known = count != last.count || count == 0;
        if (now.known) return {};
        if (last.note == kNoUidl) {
            r = pop3_->Top(count, 0, byteCap_, text);
            if (r.cut) return Failure("the server sent more than the headers asked for");
            if (r.ok()) {
                now.mark = HeaderId(text);
                now.known = true;
            }
            return From(r);
        }
        r = pop3_->UidlOf(count, text);
        unsigned long n = 0;
        std::string_view id;
        if (r.ok() && ParseListingLine(text, n, id) && n == count) {
            now.mark.assign(id);
            now.known = true;
        }
        return From(r);
    }

    // UIDL, or for a server without it (or that had none at the last listing, until the
    // fresh listing tries again) LIST and the header blocks of the newest mails.
    SessionReply List(size_t window, const MailboxState& last, bool fresh, MailboxListing& out) override
    {
        out = MailboxListing{};
        Pop3Reply r;
        if (fresh || last.note != kNoUidl) {
            UidList all;
            unsigned long tailNumber = 0;
            r = pop3_->Uidl([&](std::string_view line) {
                AddUidlLine(all, line);
                unsigned long n = 0;
                std::string_view rest;
                if (ParseListingLine(line, n, rest) && n > tailNumber) {
                    tailNumber = n;
                    out.state.mark.assign(rest);
                }
            });
            if (r.ok()) {
                all.Finish();
                out.state.count = all.size();
                // Distinct numbers up to the largest, as many as listed: exactly 1..count.
                out.state.known = all.size() == tailNumber;
                out.newest = std::move(all).Newest(window);
                return {};
            }
            if (r.kind != Pop3Reply::Kind::ServerErr) return From(r);
            out.state.mark.clear();
        }
        std::vector<unsigned long> numbers;
        r = pop3_->List([&](std::string_view line) {
            sizes_.AddLine(line);
            unsigned long n = 0;
            std::string_view rest;
            if (ParseListingLine(line, n, rest)) numbers.push_back(n);
        });
        if (!r.ok()) return From(r);
        sizes_.Finish();
        haveSizes_ = true;
        std::sort(numbers.begin(), numbers.end());
        numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
        out.state.count = numbers.size();
        out.state.note = kNoUidl;
        const size_t newest = std::min(numbers.size(), window);
        std::vector<std::pair<unsigned long, std::string>> heads; // newest first
        for (size_t k = 0; k < newest; ++k) {
            const unsigned long n = numbers[numbers.size() - 1 - k];
            if (!ReadyForRequest()) return Failure(out.refused.back().second); // the rest stays unknown
            std::string head;
            r = pop3_->Top(n, 0, byteCap_, head);
            if (r.cut) return Failure("the server sent more than the headers asked for");
            if (r.kind == Pop3Reply::Kind::ServerErr) {
                out.refused.emplace_back(n, r.reason);
                sessionEnded_ = true;
                continue;
            }
            if (!r.ok()) return From(r);
            heads.emplace_back(n, HeaderId(head));
            if (k == 0) out.state.mark = heads.back().second;
        }
        // Copies of one mail told apart in server order, as in a UIDL listing.
        UidList byHeader;
        for (auto it = heads.rbegin(); it != heads.rend(); ++it) byHeader.Add(it->first, it->second);
        byHeader.Finish();
        out.newest = byHeader.Newest(newest);
        out.state.known = !out.state.mark.empty() && numbers.back() == numbers.size();
        return {};
    }

    // TOP n with a line count that gives the whole mail, or its head and first lines when LIST
    // says it is over the cap.
    SessionReply Fetch(std::string_view, unsigned long number, std::string& out) override
    {
        out.clear();
        if (!ReadyForRequest()) {
            SessionReply ended;
            ended.kind = SessionReply::Kind::Ended;
            return ended;
        }
        if (!haveSizes_) {
            Pop3Reply r = pop3_->List([&](std::string_view line) { sizes_.AddLine(line); });
            if (!r.ok()) return From(r);
            sizes_.Finish();
            haveSizes_ = true;
        }
        if (!sizes_.Listed(number)) {
            SessionReply gone;
            gone.kind = SessionReply::Kind::Refused;
            gone.gone = true;
            gone.reason = "the server lists no such message";
            return gone;
        }
        const unsigned long size = sizes_.SizeOf(number);
        const bool overCap = size == SizeList::kUnknown || size > byteCap_;
        const Pop3Reply r = pop3_->Top(number, overCap ? bodyLinesOverCap_ : 1000000UL, byteCap_, out);
        // A refusal ends curl's session; the next request logs in again.
        if (r.kind == Pop3Reply::Kind::ServerErr) sessionEnded_ = true;
        return From(r);
    }

    void Quit() override { pop3_->Quit(); }
    std::optional<long> LoginDelaySeconds() const override { return pop3_->LoginDelaySeconds(); }

private:
    // After a refusal curl's next request logs in again: a few times in one check at most,
    // and never against a server that asks for a pause between logins.
    bool ReadyForRequest()
    {
        if (!sessionEnded_) return true;
        if (relogins_ >= loginsAfterRefusal_) return false;
        if (auto delay = pop3_->LoginDelaySeconds(); delay && *delay > 0) return false;
        ++relogins_;
        sessionEnded_ = false;
        return true;
    }

    std::unique_ptr<Pop3Session> pop3_;
    const size_t byteCap_;
    const unsigned long bodyLinesOverCap_;
    const int loginsAfterRefusal_;
    SizeList sizes_; // LIST, once asked for in this check
    bool haveSizes_ = false;
    bool sessionEnded_ = false; // a refusal ended the session: the next request logs in again
    int relogins_ = 0;
};

} // namespace

std::unique_ptr<MailboxSession> MakePop3Mailbox(std::unique_ptr<Pop3Session> commands, const SessionOptions& options)
{
    return std::make_unique<Pop3Mailbox>(std::move(commands), options);
}

} // namespace maillib
