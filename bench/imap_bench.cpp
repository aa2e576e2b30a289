// What an IMAP account costs against a loopback dovecot, beside POP3: a steady check (nothing
// new) without IDLE (one STATUS), with an idling watcher (no connection at all) and POP3's
// STAT + UIDL n, in bytes, wall time and CPU; then 10,000 mails: the first check, a steady
// check, and the first check after a restart (the cache on disk).
//
//   fw_imap_bench [--rounds N]
//
// Bytes are dovecot's own counters of each session after login (imap_logout_format and
// pop3_logout_format in=/out=), TLS and login not included; connections are counted apart.
#include "maillib/MailLib.h"
#include "maillib/MailLibInternal.h"
#include "maillib/MailboxWatch.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::map<std::string, std::string> g_env;
fs::path g_state;

std::string ReadAll(const fs::path& p)
{
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

double CpuMs()
{
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// Sessions of `protocol` and `user` that logged out since the log held `from` bytes.
struct Sessions {
    int count = 0;
    long long in = 0, out = 0;
};
Sessions LoggedOut(const std::string& protocol, const std::string& user, size_t from, int atLeast)
{
    const std::regex re(protocol + "\\(" + user + "\\).*Logged out in=(\\d+) out=(\\d+)");
    Sessions s;
    for (int i = 0; i < 100; ++i) {
        const std::string log = ReadAll(g_env["LOG_FILE"]);
        s = {};
        const std::string tail = log.size() > from ? log.substr(from) : std::string();
        for (std::sregex_iterator it(tail.begin(), tail.end(), re), end; it != end; ++it) {
            ++s.count;
            s.in += std::stoll((*it)[1]);
            s.out += std::stoll((*it)[2]);
        }
        if (s.count >= atLeast) break;
        std::this_thread::sleep_for(20ms);
    }
    return s;
}
size_t LogSize() { return ReadAll(g_env["LOG_FILE"]).size(); }
int Logins(const std::string& user)
{
    const std::string log = ReadAll(g_env["LOG_FILE"]);
    int n = 0;
    for (size_t at = 0; (at = log.find("Login: user=<" + user + ">", at)) != std::string::npos; ++at) ++n;
    return n;
}

void Fill(const std::string& user, int count)
{
    const fs::path md = fs::path(g_env["MAIL_ROOT"]) / user / "Maildir";
    const auto owner = fs::status(md);
    for (int i = 0; i < count; ++i) {
        const std::string name = std::to_string(time(nullptr)) + ".bench" + std::to_string(i) + ".fw";
        const fs::path tmp = md / "tmp" / name;
        std::ofstream(tmp) << "Message-ID: <" << user << "-" << i << "@bench.invalid>\r\nSubject: bench " << i
                           << "\r\nFrom: b@example.jp\r\nDate: Mon, 7 Dec 2026 09:" << (i / 60) % 60 << ":" << i % 60
                           << " +0900\r\n\r\nbody " << i << "\r\n";
        if (::geteuid() == 0) [[maybe_unused]]
            int rc = ::chown(tmp.c_str(), 65534, 65534);
        fs::rename(tmp, md / "new" / name);
    }
    (void)owner;
}

struct Account {
    std::string server, user, password;
};

struct Check {
    double wallMs = 0, cpuMs = 0;
    size_t mails = 0;
    bool ok = false;
};
Check RunCheck(const Account& a, const fs::path& folder)
{
    std::string server = a.server, user = a.user, password = a.password, mode = "SAVEALL", dir = folder.string();
    maillib::AccountStatus status;
    const double cpu = CpuMs();
    const auto t = std::chrono::steady_clock::now();
    maillib::MailList refs = maillib::RcvMail(server, user, password, mode, dir, status, 100);
    Check c;
    c.wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
    c.cpuMs = CpuMs() - cpu;
    c.ok = status.kind == maillib::AccountStatus::Kind::Ok;
    c.mails = refs ? refs->size() : 0;
    if (refs)
        for (const auto& r : *refs)
            if (!r.empty()) fs::remove(r);
    if (!c.ok) std::fprintf(stderr, "check failed: %s\n", status.text.c_str());
    return c;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Steady checks of `a`: median wall and CPU, and dovecot's counters per check.
void Steady(const char* what, const Account& a, const std::string& protocol, const fs::path& folder, int rounds,
            bool expectSessions)
{
    RunCheck(a, folder); // the listing before the steady state
    std::this_thread::sleep_for(200ms);
    const size_t from = LogSize();
    const int loginsBefore = Logins(a.user);
    std::vector<double> wall, cpu;
    for (int i = 0; i < rounds; ++i) {
        const Check c = RunCheck(a, folder);
        wall.push_back(c.wallMs);
        cpu.push_back(c.cpuMs);
    }
    const Sessions s = LoggedOut(protocol, a.user, from, expectSessions ? rounds : 0);
    std::printf("%-34s %6.2f ms wall %6.2f ms CPU  %5.1f logins  %7.1f B up  %7.1f B down per check\n", what,
                Median(wall), Median(cpu), double(Logins(a.user) - loginsBefore) / rounds, double(s.in) / rounds,
                double(s.out) / rounds);
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = 20;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--rounds") rounds = std::atoi(argv[i + 1]);
    const fs::path work = fs::temp_directory_path() / ("fw-imap-bench-" + std::to_string(getpid()));
    fs::create_directories(work);
    fs::permissions(work, fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
    g_state = work / "dovecot";
    if (std::system(("'" FW_DOVECOT_FIXTURE_PATH "' start '" + g_state.string() + "' >/dev/null").c_str()) != 0)
        return 1;
    for (std::istringstream in(ReadAll(g_state / "env")); in;) {
        std::string line;
        std::getline(in, line);
        if (auto eq = line.find('='); eq != std::string::npos) g_env[line.substr(0, eq)] = line.substr(eq + 1);
    }
    if (g_env["IMAPS_PORT"].empty()) {
        std::fprintf(stderr, "the fixture has no IMAP (install dovecot-imapd)\n");
        return 1;
    }
    const fs::path folder = work / "receive";
    fs::create_directories(folder / "INI");
    fs::copy_file(g_env["CA_FILE"], folder / "INI" / "cacert.pem");
    maillib::Initialise();
    maillib::internal::Limits limits;
    limits.total = 120s;
    maillib::internal::SetLimits(limits);

    auto imap = [](const std::string& user) {
        return Account{"imaps://127.0.0.1:" + g_env["IMAPS_PORT"], user, "pass" + user.substr(4)};
    };
    auto pop3 = [](const std::string& user) {
        return Account{"pop3s://127.0.0.1:" + g_env["POP3S_PORT"], user, "pass" + user.substr(4)};
    };

    std::printf("== a steady check (nothing new), 20 mails, median of %d ==\n", rounds);
    for (const char* user : {"user1", "user2", "user3"}) Fill(user, 20);
    Steady("POP3: STAT + UIDL n", pop3("user1"), "pop3", folder, rounds, true);
    Steady("IMAP without IDLE: STATUS", imap("user2"), "imap", folder, rounds, true);
    {
        const Account a = imap("user3");
        auto watch = maillib::MailboxWatch::Start(a.server, a.user, a.password, folder.string(), [] {});
        for (int i = 0; i < 500 && !watch->Healthy(); ++i) std::this_thread::sleep_for(10ms);
        const fs::path raw = fs::path(g_env["RAWLOG_DIR"]) / a.user;
        auto rawBytes = [&] {
            uintmax_t n = 0;
            for (const auto& e : fs::directory_iterator(raw)) n += e.file_size();
            return n;
        };
        RunCheck(a, folder); // the first listing
        std::this_thread::sleep_for(300ms);
        const uintmax_t before = rawBytes();
        Steady("IMAP with IDLE: the watcher's word", a, "imap", folder, rounds, false);
        std::printf("%-34s %llu bytes on the idling connection during those checks\n", "",
                    static_cast<unsigned long long>(rawBytes() - before));
    }

    std::printf("== 10,000 mails ==\n");
    for (const char* user : {"user4", "user5"}) Fill(user, 10000);
    for (const auto& [name, a] : {std::pair{"POP3", pop3("user4")}, std::pair{"IMAP", imap("user5")}}) {
        const Check first = RunCheck(a, folder);
        std::vector<double> wall, cpu;
        for (int i = 0; i < 5; ++i) {
            const Check c = RunCheck(a, folder);
            wall.push_back(c.wallMs);
            cpu.push_back(c.cpuMs);
        }
        maillib::internal::ForgetProcessState();
        const Check restart = RunCheck(a, folder);
        std::printf("%s: %zu mails; first check %.0f ms (%.0f ms CPU); steady %.1f ms (%.1f ms CPU); after a "
                    "restart %.0f ms (%.0f ms CPU)\n",
                    name, first.mails, first.wallMs, first.cpuMs, Median(wall), Median(cpu), restart.wallMs,
                    restart.cpuMs);
    }
    [[maybe_unused]] int stopped =
        std::system(("'" FW_DOVECOT_FIXTURE_PATH "' stop '" + g_state.string() + "' >/dev/null").c_str());
    fs::remove_all(work);
    return 0;
}
