#include "maillib/ImapDialogue.h"

#include "maillib/Charset.h"
#include "maillib/ImapMailboxName.h"
#include "maillib/PasswordMask.h"

#include <algorithm>
#include <limits>
#include <set>

namespace maillib::imap {
namespace {

using Kind = AccountStatus::Kind;
using namespace std::chrono_literals;

constexpr size_t kUidsPerFetch = 200;       // keeps a UID FETCH line short whatever the gaps
constexpr size_t kListingBytes = 16u << 20; // a UID SEARCH of about two million mails

ResponseBounds BoundsFor(size_t byteCap)
{
    ResponseBounds b;
    b.line = kListingBytes;
    b.literal = std::max<size_t>(byteCap, 1);
    b.response = kListingBytes + 2 * b.literal;
    return b;
}

std::optional<uint32_t> Uid32(std::optional<uint64_t> n)
{
    if (!n || *n == 0 || *n > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    return static_cast<uint32_t>(*n);
}

std::string Lower(std::string_view s) { return charset::Lower(s); }

// A server's status line as the log shows it.
std::string Shown(const Response& r, const SessionOptions& o)
{
    std::string line = (r.kind == Response::Kind::Tagged ? r.tag : std::string("*")) + " " + r.status;
    if (!r.code.empty()) line += " [" + r.code + "]";
    if (!r.text.empty()) line += " " + r.text;
    return SafeToShow(line, o.user, o.password, 160);
}

bool SaysNoSuchMailbox(const Response& r)
{
    if (r.CodeName() == "NONEXISTENT") return true;
    std::string text = Lower(r.text);
    for (const char* words : {"not exist", "doesn't exist", "no such mailbox", "unknown mailbox", "not found"})
        if (text.find(words) != std::string::npos) return true;
    return false;
}

} // namespace

Dialogue::Dialogue(const SessionOptions& options, size_t byteCap)
    : opts_(options), byteCap_(byteCap), connection_(options, BoundsFor(byteCap)), deadline_(options.deadline)
{
}

Reply Dialogue::Open()
{
    Failure f;
    if (!connection_.Open(f)) return Lost(f);
    open_ = true;
    capabilities_ = connection_.Capabilities();
    if (capabilities_.empty()) {
        // A server that will not say what it can do gets no extension used.
        Reply r = Run(Command::Capability());
        if (r.kind == Reply::Kind::Failed) return r;
    }
    if (Offers("UTF8=ACCEPT")) {
        Reply r = Run(Command::EnableUtf8());
        if (r.kind == Reply::Kind::Failed) return r;
    }
    return {};
}

bool Dialogue::Offers(std::string_view capability) const
{
    return std::find(capabilities_.begin(), capabilities_.end(), capability) != capabilities_.end();
}

Reply Dialogue::Run(const Command& command, const Handler& each)
{
    if (!open_) return {Reply::Kind::Failed, "not connected", Kind::ServerError};
    std::string tag = NextTag();
    Failure f;
    if (!connection_.Send(command.Line(tag), deadline_, f)) return Lost(f);
    return Await(tag, command.Verb(), each);
}

Reply Dialogue::Await(const std::string& tag, std::string_view verb, const Handler& each, bool untilContinuation)
{
    for (;;) {
        Response r;
        Failure f;
        switch (connection_.Receive(r, deadline_, f)) {
        case Connection::Got::Response:
            break;
        case Connection::Got::Woken:
            return Lost({Kind::Cancelled, "stopped"});
        case Connection::Got::TimedOut:
            return Lost({Kind::TimedOut, "timed out waiting for the answer to " + Lower(verb)});
        case Connection::Got::Failed:
            return Lost(f);
        }
        if (r.kind == Response::Kind::Untagged) {
            Untagged(r);
            if (each) each(r);
        } else if (r.kind == Response::Kind::Tagged && r.tag == tag) {
            if (r.status == "OK") return {};
            if (r.status == "NO" || r.status == "BAD") return Refused(verb, r);
            return Lost({Kind::ServerError, "unexpected server reply to " + Lower(verb)});
        } else if (r.kind == Response::Kind::Continuation && untilContinuation) {
            idling_ = true; // only IDLE waits for a continuation
            return {};
        }
        // Anything else (another tag, a stray continuation, garbage) says nothing to us.
    }
}

void Dialogue::Untagged(const Response& r)
{
    if (r.status == "BYE") bye_ = Shown(r, opts_);
    if (r.name == "EXISTS" && r.number) exists_ = *r.number;
    if (r.name == "EXPUNGE" && exists_ > 0) --exists_;
    if (r.name == "EXISTS" || r.name == "EXPUNGE") news_ = true;
    if (r.name == "CAPABILITY") capabilities_ = CapabilitiesIn(r);
    if (r.name == "ENABLED")
        for (const Value& v : r.items)
            if (v.Is("UTF8=ACCEPT")) utf8_ = true;
}

Reply Dialogue::Lost(const Failure& failure)
{
    connection_.Close();
    open_ = false;
    idling_ = false;
    Reply r{Reply::Kind::Failed, failure.reason, failure.kind};
    if (!bye_.empty() && failure.kind != Kind::Cancelled)
        r.reason = "the server ended the connection (server said: " + bye_ + ")";
    return r;
}

Reply Dialogue::Refused(std::string_view verb, const Response& r) const
{
    Reply reply{Reply::Kind::Refused, "the server refused " + Lower(verb) + " (server said: " + Shown(r, opts_) + ")",
                Kind::ServerError};
    reply.missingMailbox = (verb == "EXAMINE" || verb == "STATUS") && SaysNoSuchMailbox(r);
    return reply;
}

bool Dialogue::Names(const Value& v, std::string_view mailbox) const
{
    if (v.kind != Value::Kind::Atom && v.kind != Value::Kind::String) return false;
    if (utf8_) return SameMailbox(v.text, mailbox);
    auto decoded = DecodeModifiedUtf7(v.text);
    return SameMailbox(decoded ? *decoded : v.text, mailbox);
}

Reply Dialogue::Status(std::string_view mailbox, MailboxCounts& out)
{
    // A server may refuse STATUS on the mailbox the connection has open.
    if (!examined_.empty() && SameMailbox(examined_, mailbox))
        return {Reply::Kind::Refused, "status of the open mailbox", Kind::ServerError};
    auto arg = MailboxArgument::For(mailbox, utf8_);
    if (!arg) return {Reply::Kind::Failed, "the mailbox name cannot be sent", Kind::ServerError};
    bool found = false;
    MailboxCounts st;
    Reply r = Run(Command::Status(*arg), [&](const Response& u) {
        if (u.name != "STATUS" || u.items.size() < 2 || !Names(u.items[0], mailbox)) return;
        const auto& pairs = u.items[1].items;
        for (size_t i = 0; i + 1 < pairs.size(); i += 2) {
            auto n = pairs[i + 1].Number();
            if (pairs[i].Is("MESSAGES") && n) st.messages = *n;
            if (pairs[i].Is("UIDNEXT")) st.uidNext = Uid32(n).value_or(0);
            if (pairs[i].Is("UIDVALIDITY")) st.uidValidity = Uid32(n).value_or(0);
        }
        found = st.uidValidity != 0 && st.uidNext != 0;
    });
    if (!r.ok()) return r;
    if (!found) return Lost({Kind::ServerError, "the server's status reply lacks the mailbox's counts"});
    out = st;
    return r;
}

Reply Dialogue::Examine(std::string_view mailbox, MailboxCounts& out)
{
    auto arg = MailboxArgument::For(mailbox, utf8_);
    if (!arg) return {Reply::Kind::Failed, "the mailbox name cannot be sent", Kind::ServerError};
    MailboxCounts st;
    examined_.clear();
    Reply r = Run(Command::Examine(*arg), [&](const Response& u) {
        if (u.name == "EXISTS" && u.number) st.messages = *u.number;
        if (u.status != "OK") return;
        auto n = Value{Value::Kind::Atom, std::string(u.CodeArgument()), {}}.Number();
        if (u.CodeName() == "UIDVALIDITY") st.uidValidity = Uid32(n).value_or(0);
        if (u.CodeName() == "UIDNEXT") st.uidNext = Uid32(n).value_or(0);
    });
    if (!r.ok()) return r;
    examined_ = std::string(mailbox);
    exists_ = st.messages;
    news_ = false;
    out = st;
    return r;
}

Reply Dialogue::SearchAll(std::vector<uint32_t>& uids)
{
    uids.clear();
    Reply r = Run(Command::UidSearchAll(), [&](const Response& u) {
        if (u.name != "SEARCH") return;
        for (const Value& v : u.items)
            if (auto uid = Uid32(v.Number())) uids.push_back(*uid);
    });
    std::sort(uids.begin(), uids.end());
    uids.erase(std::unique(uids.begin(), uids.end()), uids.end());
    return r;
}

Reply Dialogue::Fetch(const std::vector<uint32_t>& uids, const MailHandler& onMail)
{
    std::set<uint32_t> given;
    for (size_t start = 0; start < uids.size(); start += kUidsPerFetch) {
        std::vector<uint32_t> part(uids.begin() + static_cast<long>(start),
                                   uids.begin() + static_cast<long>(std::min(uids.size(), start + kUidsPerFetch)));
        bool cut = false;
        Reply r = Run(Command::UidFetchPeek(part, byteCap_), [&](const Response& u) {
            if (u.name != "FETCH" || u.items.empty() || u.items[0].kind != Value::Kind::List) return;
            std::optional<uint32_t> uid;
            std::string header, text;
            const auto& pairs = u.items[0].items;
            for (size_t i = 0; i + 1 < pairs.size(); i += 2) {
                const Value& value = pairs[i + 1];
                std::string name = pairs[i].kind == Value::Kind::Atom ? Lower(pairs[i].text) : std::string();
                if (name == "uid") uid = Uid32(value.Number());
                if (name == "body[header]") header = value.text;
                if (name.rfind("body[text]", 0) == 0) text = value.text;
            }
            // A cut reply may end before its UID; with one mail asked for, it is that one.
            if (!uid && u.cut && part.size() == 1) uid = part.front();
            cut = cut || u.cut;
            if (!uid || !std::binary_search(part.begin(), part.end(), *uid) || !given.insert(*uid).second) return;
            std::string mail = header.substr(0, byteCap_);
            mail += text.substr(0, byteCap_ - mail.size());
            onMail(*uid, std::move(mail));
        });
        if (cut) {
            // Kept what was read; the rest of this reply is not read.
            Lost({});
            Reply shortened;
            shortened.cut = true;
            return shortened;
        }
        if (!r.ok()) return r;
    }
    return {};
}

Reply Dialogue::StartIdle()
{
    if (!open_) return {Reply::Kind::Failed, "not connected", Kind::ServerError};
    idleTag_ = NextTag();
    Failure f;
    if (!connection_.Send(Command::Idle().Line(idleTag_), deadline_, f)) return Lost(f);
    // Idling from the continuation on; a server may also end IDLE at once.
    idling_ = false;
    return Await(idleTag_, "IDLE", {}, /*untilContinuation=*/true);
}

Reply Dialogue::WaitIdle(Deadline until, IdleNews& news)
{
    if (news_) {
        news_ = false;
        news = IdleNews::Changed;
        return {};
    }
    for (;;) {
        Response r;
        Failure f;
        switch (connection_.Receive(r, until, f)) {
        case Connection::Got::Response:
            break;
        case Connection::Got::Woken:
            news = IdleNews::Woken;
            return {};
        case Connection::Got::TimedOut:
            news = IdleNews::Quiet;
            return {};
        case Connection::Got::Failed:
            return Lost(f);
        }
        if (r.kind == Response::Kind::Tagged && r.tag == idleTag_) {
            idling_ = false;
            news = IdleNews::Ended;
            return r.status == "OK" ? Reply{} : Refused("IDLE", r);
        }
        if (r.kind != Response::Kind::Untagged) continue;
        Untagged(r);
        if (r.status == "BYE") return Lost({Kind::ServerError, "the server ended the connection"});
        if (r.name == "EXISTS" || r.name == "EXPUNGE" || r.name == "FETCH" || r.name == "RECENT") {
            news_ = false;
            news = IdleNews::Changed;
            return {};
        }
    }
}

Reply Dialogue::EndIdle()
{
    if (!idling_) return {};
    idling_ = false;
    Failure f;
    if (!connection_.Send(kIdleDone, deadline_, f)) return Lost(f);
    Reply r = Await(idleTag_, "DONE", {});
    if (r.failure == Kind::TimedOut) r.reason = "no answer to the end of idle: the connection is silent";
    return r;
}

void Dialogue::Logout()
{
    // The answers must not outwait the account's bound, nor hold up an ending program.
    deadline_ = std::min(deadline_, std::chrono::steady_clock::now() + 2s);
    if (open_ && idling_) EndIdle();
    if (open_) Run(Command::Logout());
    connection_.Close();
    open_ = false;
}

} // namespace maillib::imap
