#include "maillib/MailboxWatch.h"

#include "maillib/Backoff.h"
#include "maillib/Cancellation.h"
#include "maillib/Charset.h"
#include "maillib/ImapDialogue.h"
#include "maillib/Log.h"
#include "maillib/MailClock.h"
#include "maillib/MailStore.h"
#include "maillib/NetworkEvents.h"
#include "maillib/WatchedMailboxes.h"

#include <atomic>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace maillib {
namespace {

using namespace std::chrono_literals;
using imap::Dialogue;
using imap::MailboxCounts;
using imap::Reply;
using Kind = AccountStatus::Kind;

// Below the 29 minutes after which a server may take an idle client for gone.
constexpr std::chrono::minutes kIdleRenewal{25};
// How often the watcher looks at the clock, the network and its stop flag while idle (real time).
constexpr std::chrono::milliseconds kSlice{1000};
// A connection that idled this long was good: after it drops, the next one is made at once.
constexpr std::chrono::seconds kProvenAfter{60};
// At a stop, DONE and LOGOUT get this long: the program is ending.
constexpr std::chrono::milliseconds kGoodbye{500};

std::chrono::steady_clock::time_point RealIn(std::chrono::milliseconds ms)
{
    return std::chrono::steady_clock::now() + ms;
}

MailboxState StateOf(const MailboxCounts& c)
{
    MailboxState s;
    s.known = c.uidNext != 0 && c.uidValidity != 0;
    s.count = c.messages;
    s.mark = internal::ImapMark(c.uidValidity, c.uidNext);
    return s;
}

} // namespace

struct MailboxWatch::Impl {
    ServerAddress address;
    std::string user, password, caFile;
    std::function<void()> changed;
    internal::WatchedEntry entry;
    std::atomic<bool> stop{false};
    std::atomic<bool> healthy{false};
    std::atomic<int> logins{0};
    std::mutex mutex;         // guards `live`
    Dialogue* live = nullptr; // the connection being used, for Stop to wake
    int wakeFd = -1;
    std::thread thread;

    Impl(ServerAddress a, std::string u, std::string p, std::string ca, std::function<void()> c)
        : address(std::move(a)), user(std::move(u)), password(std::move(p)), caFile(std::move(ca)),
          changed(std::move(c)), entry(address, user, password), wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
    }
    ~Impl()
    {
        if (wakeFd >= 0) ::close(wakeFd);
    }

    bool Stopping() const { return stop.load() || internal::Cancelled(); }

    void Stop()
    {
        stop.store(true);
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeFd, &one, sizeof one);
        std::lock_guard lock(mutex);
        if (live) live->Wake();
    }

    // Waits until `until` by the library's clock; false when stopping, and early when the
    // network changed since `generation`.
    bool SleepUntil(Clock::time_point until, std::uint64_t generation)
    {
        while (!Stopping() && internal::Now() < until && NetworkGeneration() == generation) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - internal::Now());
            pollfd p{wakeFd, POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(std::clamp(left, 1ms, kSlice).count()));
        }
        return !Stopping();
    }

    void Publish(const MailboxCounts& counts, std::uint64_t generation)
    {
        entry.Publish(StateOf(counts), generation);
        healthy.store(true);
    }
    void Withdraw()
    {
        healthy.store(false);
        entry.Withdraw();
    }

    enum class End { Stopped, Lost, NoIdle };
    End Connection(Reply& why, Clock::time_point& idledFrom);
    End Idle(Dialogue& d, MailboxCounts& counts, std::uint64_t generation, Reply& why);
    void Run();
};

void MailboxWatch::Impl::Run()
{
    const internal::Limits limits = internal::GetLimits();
    Backoff backoff;
    while (!Stopping()) {
        if (internal::Now() < backoff.retryAt) {
            const std::uint64_t generation = NetworkGeneration();
            if (!SleepUntil(backoff.retryAt, generation)) break;
            // A new network deserves a fresh try, as the checks get one.
            if (NetworkGeneration() != generation) backoff = Backoff{};
            continue;
        }
        Reply why;
        Clock::time_point idledFrom{};
        // Dropped by a network change or a wake from sleep, a connection is made again at once.
        const std::uint64_t generation = NetworkGeneration();
        const End end = Connection(why, idledFrom);
        Withdraw();
        if (end == End::Stopped || Stopping()) break;
        if (end == End::NoIdle) {
            internal::ReportOnce(address.Label(), user,
                                 "the server offers no IDLE: the account is checked at every "
                                 "interval, without push");
            break;
        }
        internal::ReportOnce(address.Label(), user, "push (IDLE) connection: " + why.reason + "; connecting again");
        // A connection that idled a while was good; the next is made at once. One that failed
        // or did not last backs off, so that a server that drops every new connection is not
        // logged in to again and again.
        if ((idledFrom != Clock::time_point{} && internal::Now() - idledFrom >= kProvenAfter) ||
            NetworkGeneration() != generation)
            backoff = Backoff{};
        else RecordFailure(backoff, limits, internal::Now(), why.failure, why.reason);
    }
    Withdraw();
}

MailboxWatch::Impl::End MailboxWatch::Impl::Connection(Reply& why, Clock::time_point& idledFrom)
{
    const internal::Limits limits = internal::GetLimits();
    SessionOptions o;
    o.server = address;
    o.user = user;
    o.password = password;
    o.caFile = caFile;
    o.connectBound = limits.connect;
    o.deadline = RealIn(limits.connect);
    Dialogue d(o, 1024); // no mail is fetched here
    {
        std::lock_guard lock(mutex);
        live = &d;
    }
    struct Unlive {
        Impl& self;
        ~Unlive()
        {
            std::lock_guard lock(self.mutex);
            self.live = nullptr;
        }
    } unlive{*this};
    if (Stopping()) return End::Stopped;

    // A network change from here on is noticed, and the connection proved or dropped.
    const std::uint64_t generation = NetworkGeneration();
    logins.fetch_add(1);
    why = d.Open();
    MailboxCounts counts;
    if (why.ok() && !d.Offers("IDLE")) {
        d.Logout();
        return End::NoIdle;
    }
    if (why.ok()) why = d.Examine(address.mailbox, counts);
    if (why.ok()) {
        d.SetDeadline(RealIn(limits.connect));
        why = d.StartIdle();
    }
    if (why.kind == Reply::Kind::Refused) why.failure = Kind::ServerError;
    if (!why.ok()) return why.failure == Kind::Cancelled ? End::Stopped : End::Lost;
    idledFrom = internal::Now();
    Publish(counts, generation);
    return Idle(d, counts, generation, why);
}

MailboxWatch::Impl::End MailboxWatch::Impl::Idle(Dialogue& d, MailboxCounts& counts, std::uint64_t generation,
                                                 Reply& why)
{
    const std::chrono::milliseconds answer = internal::GetLimits().connect;
    Clock::time_point issued = internal::Now();
    auto issuedReal = std::chrono::steady_clock::now();
    int quickEnds = 0;
    auto lost = [&](Reply r) {
        why = std::move(r);
        if (why.kind == Reply::Kind::Refused) why.failure = Kind::ServerError;
        return why.failure == Kind::Cancelled ? End::Stopped : End::Lost;
    };
    // DONE, then IDLE again: the server must answer in time, or the connection is dead.
    auto renew = [&](bool reexamine) {
        d.SetDeadline(RealIn(answer));
        Reply r = d.EndIdle();
        if (r.ok() && reexamine) r = d.Examine(address.mailbox, counts);
        if (r.ok()) r = d.StartIdle();
        issued = internal::Now();
        issuedReal = std::chrono::steady_clock::now();
        return r;
    };
    for (;;) {
        if (Stopping()) {
            d.SetDeadline(RealIn(kGoodbye));
            d.Logout(); // ends IDLE first
            return End::Stopped;
        }
        Dialogue::IdleNews news{};
        Reply r = d.WaitIdle(RealIn(kSlice), news);
        if (!r.ok()) return lost(r);
        if (news == Dialogue::IdleNews::Changed) {
            // The mailbox is looked at again before the check is asked for, so that the check
            // finds it as it is now.
            Withdraw();
            r = renew(/*reexamine=*/true);
            if (r.ok()) Publish(counts, generation);
            changed();
            if (!r.ok()) return lost(r);
        } else if (news == Dialogue::IdleNews::Ended) {
            // The server ended IDLE by itself; begin again, unless it does so at once each time.
            quickEnds = std::chrono::steady_clock::now() - issuedReal < 1s ? quickEnds + 1 : 0;
            if (quickEnds >= 3) return lost({Reply::Kind::Failed, "the server keeps ending idle", Kind::ServerError});
            d.SetDeadline(RealIn(answer));
            r = d.StartIdle();
            issued = internal::Now();
            issuedReal = std::chrono::steady_clock::now();
            if (!r.ok()) return lost(r);
        } else if (news == Dialogue::IdleNews::Quiet && NetworkGeneration() != generation) {
            // Routine route changes move the generation too: a connection that still answers
            // stays.
            Withdraw();
            generation = NetworkGeneration();
            r = renew(/*reexamine=*/false);
            if (!r.ok()) return lost(r);
            Publish(counts, generation);
        } else if (news == Dialogue::IdleNews::Quiet && internal::Now() - issued >= kIdleRenewal) {
            r = renew(/*reexamine=*/false);
            if (!r.ok()) return lost(r);
        }
    }
}

MailboxWatch::MailboxWatch(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::unique_ptr<MailboxWatch> MailboxWatch::Start(const std::string& server, const std::string& user,
                                                  const std::string& password, const std::string& folder,
                                                  std::function<void()> changed)
{
    auto address = ParseServer(charset::Trim(server));
    const std::string userText = charset::Trim(user);
    if (!address || address->protocol != ServerAddress::Protocol::Imap || userText.empty()) return nullptr;
    Initialise();
    auto impl =
        std::make_unique<Impl>(*address, userText, password, CaFileFor(charset::Trim(folder)), std::move(changed));
    if (impl->wakeFd < 0) return nullptr;
    Impl* self = impl.get();
    impl->thread = std::thread([self] { self->Run(); });
    return std::unique_ptr<MailboxWatch>(new MailboxWatch(std::move(impl)));
}

MailboxWatch::~MailboxWatch()
{
    impl_->Stop();
    if (impl_->thread.joinable()) impl_->thread.join();
}

bool MailboxWatch::Healthy() const { return impl_->healthy.load(); }

int MailboxWatch::Logins() const { return impl_->logins.load(); }

} // namespace maillib
