// The floor of a mail check: per account a fresh connection, TLS handshake, login, UIDL
// and QUIT, nothing else. Driven line by line on stdin so that a caller can interleave
// its rounds with other measurements:
//
//   concurrent USER PASS [USER PASS ...]   every account on its own thread at once
//   serial USER PASS [USER PASS ...]       one account after another
//   login USER PASS                        login, NOOP and QUIT only (what a login costs)
//
// With "-kept" after the mode (concurrent-kept, serial-kept), the resumption floor: each account
// keeps across rounds what a resident process can keep, its TLS sessions (a curl share each)
// and the CA store (curl's CA cache, which lives as long as the account's easy handle and works
// only without a CA folder). The connection is still closed with QUIT at the end of each round.
//
// Each line is answered with "wall_ms=W cpu_ms=C ok=N", CPU being this process's user +
// system time (getrusage) over the round.
//
// usage: fw_floor_bench POP3S_URL CA_FILE
#include <curl/curl.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::string g_url, g_caFile;

size_t Discard(char*, size_t size, size_t n, void*) { return size * n; }

// What one account keeps across rounds in the resumption floor.
struct Kept {
    CURL* handle = nullptr;
    CURLSH* share = nullptr;
    std::mutex locks[CURL_LOCK_DATA_LAST];
};

void Lock(CURL*, curl_lock_data data, curl_lock_access, void* kept) { static_cast<Kept*>(kept)->locks[data].lock(); }
void Unlock(CURL*, curl_lock_data data, void* kept) { static_cast<Kept*>(kept)->locks[data].unlock(); }

std::map<std::string, std::unique_ptr<Kept>> g_kept; // by user; made before a round's threads start

Kept& KeptFor(const std::string& user)
{
    std::unique_ptr<Kept>& k = g_kept[user];
    if (!k) {
        k = std::make_unique<Kept>();
        k->handle = curl_easy_init();
        k->share = curl_share_init();
        curl_share_setopt(k->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        curl_share_setopt(k->share, CURLSHOPT_LOCKFUNC, &Lock);
        curl_share_setopt(k->share, CURLSHOPT_UNLOCKFUNC, &Unlock);
        curl_share_setopt(k->share, CURLSHOPT_USERDATA, k.get());
    }
    return *k;
}

// One session; `listing` false sends NOOP instead of UIDL; `kept` keeps the account's handle
// (and with it curl's CA cache) and TLS sessions for the next round.
bool Session(const std::string& user, const std::string& password, bool listing, Kept* kept)
{
    CURL* h = kept ? kept->handle : curl_easy_init();
    if (!h) return false;
    curl_easy_setopt(h, CURLOPT_URL, (g_url + "/").c_str());
    curl_easy_setopt(h, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(h, CURLOPT_PASSWORD, password.c_str());
    curl_easy_setopt(h, CURLOPT_CAINFO, g_caFile.c_str());
    if (kept) {
        curl_easy_setopt(h, CURLOPT_CAPATH, nullptr); // curl caches a CA store only without one
        curl_easy_setopt(h, CURLOPT_SHARE, kept->share);
        curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L); // QUIT at the end, as without
    }
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, listing ? "UIDL" : "NOOP");
    // NOOP answers one line; without NOBODY curl would wait for a listing.
    if (!listing) curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Discard);
    const bool ok = curl_easy_perform(h) == CURLE_OK;
    if (!kept) curl_easy_cleanup(h);
    return ok;
}

double CpuMs()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
    };
    return ms(u.ru_utime) + ms(u.ru_stime);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s POP3S_URL CA_FILE   (rounds on stdin)\n", argv[0]);
        return 2;
    }
    g_url = argv[1];
    g_caFile = argv[2];
    curl_global_init(CURL_GLOBAL_DEFAULT);

    for (std::string line; std::getline(std::cin, line);) {
        std::istringstream in(line);
        std::string mode;
        in >> mode;
        const bool keep = mode.size() > 5 && mode.compare(mode.size() - 5, 5, "-kept") == 0;
        if (keep) mode.resize(mode.size() - 5);
        std::vector<std::pair<std::string, std::string>> accounts;
        for (std::string u, p; in >> u >> p;) accounts.emplace_back(u, p);
        if (accounts.empty() || (mode != "concurrent" && mode != "serial" && mode != "login")) {
            std::printf("error=bad-command\n");
            std::fflush(stdout);
            continue;
        }

        std::vector<Kept*> kept(accounts.size(), nullptr);
        for (size_t i = 0; keep && i < accounts.size(); ++i) kept[i] = &KeptFor(accounts[i].first);
        const double cpu0 = CpuMs();
        const auto t0 = Clock::now();
        int ok = 0;
        if (mode == "concurrent") {
            std::vector<char> done(accounts.size(), 0);
            std::vector<std::thread> threads;
            for (size_t i = 0; i < accounts.size(); ++i)
                threads.emplace_back(
                    [&, i] { done[i] = Session(accounts[i].first, accounts[i].second, true, kept[i]); });
            for (auto& t : threads) t.join();
            for (char d : done) ok += d;
        } else {
            for (size_t i = 0; i < accounts.size(); ++i)
                ok += Session(accounts[i].first, accounts[i].second, mode == "serial", kept[i]);
        }
        const double wall = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        std::printf("wall_ms=%.3f cpu_ms=%.3f ok=%d\n", wall, CpuMs() - cpu0, ok);
        std::fflush(stdout);
    }
    for (auto& [user, k] : g_kept) {
        curl_easy_cleanup(k->handle);
        curl_share_cleanup(k->share);
    }
    curl_global_cleanup();
    return 0;
}
