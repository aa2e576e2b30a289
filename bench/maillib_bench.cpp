// Mail check cost against a loopback dovecot: 5 accounts x 20 mixed mails over
// POP3S. Prints a first check, the steady state (nothing new) and a bare loop
// of connect + login + UIDL + QUIT per account, with the bytes dovecot sent.
// Before that, against scripted servers: the peak memory of a check whose server
// lists 220,000 UIDLs, and how soon CancelChecks ends five checks on silent servers.
#include "tests/maillib/FakePop3Server.h"
#include "maillib/MailLib.h"
#include "maillib/MailLibInternal.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kAccounts = 5;
constexpr int kRounds = 10;

std::string g_state, g_fixture, g_logFile, g_caFile;
int g_pop3sPort = 0;

int Run(const std::string& cmd) { return std::system(cmd.c_str()); }

std::string ReadAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

struct LogCounters {
    int sessions = 0;
    long long out = 0;
};

LogCounters CountersSince(size_t offset)
{
    LogCounters c;
    std::string text = ReadAll(g_logFile);
    if (offset > text.size()) return c;
    static const std::regex re("Logged out in=\\d+ out=(\\d+)");
    std::string tail = text.substr(offset);
    for (std::sregex_iterator it(tail.begin(), tail.end(), re), end; it != end; ++it) {
        ++c.sessions;
        c.out += std::stoll((*it)[1].str());
    }
    return c;
}

LogCounters WaitCounters(size_t offset, int sessions)
{
    LogCounters c;
    for (int i = 0; i < 200; ++i) {
        c = CountersSince(offset);
        if (c.sessions >= sessions) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return c;
}

size_t LogSize()
{
    std::error_code ec;
    auto s = fs::file_size(g_logFile, ec);
    return ec ? 0 : static_cast<size_t>(s);
}

std::string Server() { return "pop3s://127.0.0.1:" + std::to_string(g_pop3sPort); }

size_t CheckAll(const std::string& folder)
{
    size_t mails = 0;
    for (int a = 1; a <= kAccounts; ++a) {
        std::string server = Server(), user = "user" + std::to_string(a), pw = "pass" + std::to_string(a),
                    mode = "SAVEALL", dir = folder;
        auto refs = maillib::RcvMail(server, user, pw, mode, dir);
        if (!refs) {
            std::fprintf(stderr, "bench: check of %s failed\n", user.c_str());
            std::exit(1);
        }
        mails += refs->size();
    }
    return mails;
}

void Purge(const std::string& folder)
{
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().extension() == ".txt") fs::remove(e.path());
}

size_t Discard(char*, size_t size, size_t n, void*) { return size * n; }

void BareLoop()
{
    for (int a = 1; a <= kAccounts; ++a) {
        CURL* h = curl_easy_init();
        std::string user = "user" + std::to_string(a), pw = "pass" + std::to_string(a);
        curl_easy_setopt(h, CURLOPT_URL, (Server() + "/").c_str());
        curl_easy_setopt(h, CURLOPT_USERNAME, user.c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, pw.c_str());
        curl_easy_setopt(h, CURLOPT_CAINFO, g_caFile.c_str());
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "UIDL");
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Discard);
        if (curl_easy_perform(h) != CURLE_OK) {
            std::fprintf(stderr, "bench: bare loop failed\n");
            std::exit(1);
        }
        curl_easy_cleanup(h);
    }
}

std::string BigMail(int account, int k)
{
    std::string s = "From: Big Sender <big@example.com>\r\nTo: user" + std::to_string(account) +
                    "@localhost\r\nSubject: Large attachment " + std::to_string(k) +
                    "\r\nDate: Tue, 5 Mar 2024 12:00:00 +0900\r\nMIME-Version: 1.0\r\n"
                    "Content-Type: multipart/mixed; boundary=\"BB\"\r\n\r\n--BB\r\n"
                    "Content-Type: text/plain; charset=utf-8\r\n\r\nThe data set is attached.\r\n--BB\r\n"
                    "Content-Type: application/octet-stream; name=\"data.bin\"\r\n"
                    "Content-Disposition: attachment; filename=\"data.bin\"\r\n"
                    "Content-Transfer-Encoding: base64\r\n\r\n";
    std::string line(76, 'Q');
    while (s.size() < 1024 * 1024) s += line + "\r\n";
    return s + "--BB--\r\n";
}

// What writing the saved mails costs on this disk, the library's way
// (temporary name, then rename), without any network.
double TimeFileWrites(const std::string& folder, const fs::path& scratch)
{
    std::vector<std::string> contents;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().extension() == ".txt") contents.push_back(ReadAll(e.path()));
    fs::create_directories(scratch);
    auto t0 = Clock::now();
    int i = 0;
    for (const auto& c : contents) {
        fs::path tmp = scratch / (".part" + std::to_string(i));
        std::ofstream(tmp, std::ios::binary) << c;
        fs::rename(tmp, scratch / ("m" + std::to_string(i++) + ".txt"));
    }
    double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    for (const auto& e : fs::directory_iterator(scratch)) fs::remove(e.path());
    return ms;
}

struct Figure {
    double ms = 0;
    double bytes = 0;
};

// Runs `work` in a child process; its peak RSS in KiB, or -1 when it failed.
long PeakRssOfChild(const std::function<bool()>& work)
{
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        const bool ok = work();
        std::fflush(nullptr);
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return usage.ru_maxrss;
}

// A scripted server in a child process of its own, so that its data is not counted.
struct ServerProcess {
    pid_t pid = -1;
    int port = 0;
    ~ServerProcess()
    {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

bool StartListingServer(ServerProcess& server, int uidlLines, int mails)
{
    int fds[2];
    if (::pipe(fds) != 0) return false;
    std::fflush(nullptr);
    server.pid = ::fork();
    if (server.pid == 0) {
        ::close(fds[0]);
        FakePop3Server s;
        std::vector<FakeMail> real;
        for (int i = 0; i < mails; ++i)
            real.push_back({"m" + std::to_string(i), "Subject: " + std::to_string(i) + "\r\n\r\nx\r\n"});
        s.setMails(real);
        // The first `mails` lines name real messages; the rest name messages LIST does not know.
        std::string listing = "+OK\r\n";
        for (int i = 0; i < uidlLines; ++i) {
            char line[96];
            std::snprintf(line, sizeof line, "%d %s%058d\r\n", i + 1, i < mails ? "m" : "x", i);
            listing += i < mails ? std::to_string(i + 1) + " m" + std::to_string(i) + "\r\n" : std::string(line);
        }
        listing += ".\r\n";
        s.hook = [&](const std::string& cmd, int) -> std::optional<FakeReply> {
            if (cmd == "UIDL") return FakeReply{listing};
            return std::nullopt;
        };
        if (!s.start()) ::_exit(1);
        int port = s.port();
        if (::write(fds[1], &port, sizeof port) != sizeof port) ::_exit(1);
        ::pause();
        ::_exit(0);
    }
    ::close(fds[1]);
    bool ok = server.pid > 0 && ::read(fds[0], &server.port, sizeof server.port) == sizeof server.port;
    ::close(fds[0]);
    return ok;
}

bool CheckOnce(int port, const std::string& folder, size_t expectedMails)
{
    maillib::SetLogSink([](const std::string&) {});
    std::string server = "insecure-pop3://127.0.0.1:" + std::to_string(port), user = "u", pw = "secret",
                mode = "SAVEALL", dir = folder;
    auto refs = maillib::RcvMail(server, user, pw, mode, dir);
    return refs && refs->size() == expectedMails;
}

void ListingMemory(const fs::path& work)
{
    constexpr int kLines = 220000, kMails = 20;
    ServerProcess small, big;
    if (!StartListingServer(small, kMails, kMails) || !StartListingServer(big, kLines, kMails)) {
        std::fprintf(stderr, "bench: the scripted servers did not start\n");
        std::exit(1);
    }
    fs::create_directories(work / "listing");
    const std::string folder = (work / "listing").string();
    const long baseline = PeakRssOfChild([&] { return CheckOnce(small.port, folder, kMails); });
    const long peak = PeakRssOfChild([&] { return CheckOnce(big.port, folder, kMails); });
    double listingBytes = 0;
    for (int i = kMails; i < kLines; ++i)
        listingBytes += static_cast<double>(std::to_string(i + 1).size() + 1 + 59 + 2);
    std::printf("maillib bench: a UIDL listing of %d lines (%.1f MB), %d of them real mails\n", kLines,
                listingBytes / 1e6, kMails);
    std::printf("  peak RSS of the check: %.1f MB (a %d-line listing: %.1f MB); target <= 60 MB: %s\n", peak / 1024.0,
                kMails, baseline / 1024.0, peak > 0 && peak <= 60 * 1024 ? "met" : "NOT met");
}

void CancelLatency()
{
    constexpr int kSilent = 5;
    const long ok = PeakRssOfChild([] {
        std::vector<std::unique_ptr<FakePop3Server>> servers;
        for (int i = 0; i < kSilent; ++i) {
            servers.push_back(std::make_unique<FakePop3Server>());
            servers.back()->silent = true;
            if (!servers.back()->start()) return false;
        }
        fs::path dir = fs::temp_directory_path() / ("fw-bench-cancel-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        std::vector<std::thread> checks;
        std::vector<Clock::time_point> returned(kSilent);
        for (int i = 0; i < kSilent; ++i)
            checks.emplace_back([&, i] {
                std::string server =
                                "insecure-pop3://127.0.0.1:" + std::to_string(servers[static_cast<size_t>(i)]->port()),
                            user = "u", pw = "p", mode = "SAVEALL", folder = dir.string();
                maillib::AccountStatus status;
                maillib::RcvMail(server, user, pw, mode, folder, status);
                returned[static_cast<size_t>(i)] = Clock::now();
            });
        for (auto& s : servers)
            while (s->connections() < 1) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // all waiting for a greeting
        const auto cancelledAt = Clock::now();
        maillib::CancelChecks();
        for (auto& t : checks) t.join();
        double worst = 0;
        for (const auto& t : returned)
            worst = std::max(worst, std::chrono::duration<double, std::milli>(t - cancelledAt).count());
        std::printf("  CancelChecks with %d checks waiting on silent servers: all returned after %.1f ms "
                    "(target <= 100 ms: %s)\n",
                    kSilent, worst, worst <= 100 ? "met" : "NOT met");
        std::error_code ec;
        fs::remove_all(dir, ec);
        return true;
    });
    if (ok < 0) std::printf("  CancelChecks: the measurement failed\n");
}

} // namespace

int main(int argc, char** argv)
{
    g_fixture = argc > 1 ? argv[1] : FW_DOVECOT_FIXTURE_PATH;
    std::string demo = argc > 2 ? argv[2] : FW_DEMO_MAILS_PATH;
    fs::path work = fs::temp_directory_path() / ("fw-bench-" + std::to_string(::getpid()));
    fs::create_directories(work / "recv" / "INI");
    ListingMemory(work);
    CancelLatency();
    std::fflush(stdout);
    g_state = (work / "dovecot").string();
    if (Run(g_fixture + " start " + g_state + " >/dev/null") != 0) {
        std::fprintf(stderr, "bench: the dovecot fixture did not start\n");
        return 1;
    }
    for (const auto& line : [&] {
             std::vector<std::string> v;
             std::istringstream in(ReadAll(fs::path(g_state) / "env"));
             for (std::string l; std::getline(in, l);) v.push_back(l);
             return v;
         }()) {
        auto eq = line.find('=');
        std::string k = line.substr(0, eq), v = line.substr(eq + 1);
        if (k == "POP3S_PORT") g_pop3sPort = std::stoi(v);
        else if (k == "LOG_FILE") g_logFile = v;
        else if (k == "CA_FILE") g_caFile = v;
    }
    std::string folder = (work / "recv").string();
    fs::copy_file(g_caFile, work / "recv" / "INI" / "cacert.pem");

    // 20 mixed mails per account: the demo mails cycled, and two of about 1 MB.
    std::vector<fs::path> demos;
    for (const auto& e : fs::directory_iterator(demo))
        if (e.path().extension() == ".eml") demos.push_back(e.path());
    std::sort(demos.begin(), demos.end());
    long long smallBytes = 0;
    for (int a = 1; a <= kAccounts; ++a) {
        std::string files;
        for (int k = 0; k < 18; ++k) {
            files += " " + demos[static_cast<size_t>(k) % demos.size()].string();
            smallBytes += static_cast<long long>(fs::file_size(demos[static_cast<size_t>(k) % demos.size()]));
        }
        for (int k = 0; k < 2; ++k) {
            fs::path big = work / ("big-" + std::to_string(a) + "-" + std::to_string(k) + ".eml");
            std::ofstream(big, std::ios::binary) << BigMail(a, k);
            files += " " + big.string();
        }
        Run(g_fixture + " deliver " + g_state + " user" + std::to_string(a) + files);
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);

    // Warm up dovecot's indexes so the first check measures our cost.
    BareLoop();
    WaitCounters(0, kAccounts);

    maillib::internal::ResetState();
    size_t off = LogSize();
    auto t0 = Clock::now();
    size_t mails = CheckAll(folder);
    Figure first{std::chrono::duration<double, std::milli>(Clock::now() - t0).count(),
                 static_cast<double>(WaitCounters(off, kAccounts).out)};
    Purge(folder);

    Figure steady, bare, files;
    for (int r = 0; r < kRounds; ++r) {
        off = LogSize();
        t0 = Clock::now();
        CheckAll(folder); // files written included
        steady.ms += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        steady.bytes += static_cast<double>(WaitCounters(off, kAccounts).out);
        files.ms += TimeFileWrites(folder, work / "scratch");
        Purge(folder);

        off = LogSize();
        t0 = Clock::now();
        BareLoop();
        bare.ms += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        bare.bytes += static_cast<double>(WaitCounters(off, kAccounts).out);
    }
    steady.ms /= kRounds;
    files.ms /= kRounds;
    steady.bytes /= kRounds;
    bare.ms /= kRounds;
    bare.bytes /= kRounds;

    const double cap = static_cast<double>(maillib::internal::GetLimits().sizeCap);
    std::printf("maillib bench: %d accounts x 20 mails (18 small, 2 of 1 MiB), POP3S on loopback, %zu mails\n",
                kAccounts, mails);
    std::printf("  %-34s %9s %14s\n", "", "time", "server bytes");
    std::printf("  %-34s %7.1f ms %14.0f\n", "first check", first.ms, first.bytes);
    std::printf("  %-34s %7.1f ms %14.0f\n", "steady-state check (nothing new)", steady.ms, steady.bytes);
    std::printf("  %-34s %7.1f ms %14.0f\n", "bare connect+login+UIDL+QUIT", bare.ms, bare.bytes);
    std::printf("  %-34s %7.1f ms\n", "  writing the 100 files afresh, alone", files.ms);
    std::printf("  steady / bare: time %.2fx, bytes %.2fx (target <= 1.10x)\n", steady.ms / bare.ms,
                steady.bytes / bare.bytes);
    double perBig = (first.bytes - static_cast<double>(smallBytes)) / (kAccounts * 2);
    std::printf("  first check: %.0f bytes for all (small mails %lld); about %.0f bytes per 1 MiB mail "
                "(cap %.0f)\n",
                first.bytes, smallBytes, perBig, cap);

    Run(g_fixture + " stop " + g_state + " >/dev/null");
    std::error_code ec;
    fs::remove_all(work, ec);
    bool ok = steady.ms <= 1.1 * bare.ms && steady.bytes <= 1.1 * bare.bytes && perBig <= cap;
    std::printf("  targets: %s\n", ok ? "met" : "NOT met");
    return 0;
}
