// Mail check cost against a loopback dovecot: 5 accounts x 20 mixed mails over
// POP3S. Prints a first check, the steady state (nothing new) and a bare loop
// of connect + login + UIDL + QUIT per account, with the bytes dovecot sent.
#include "MailLib.h"
#include "MailLibInternal.h"

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

int Run(const std::string& cmd)
{
    return std::system(cmd.c_str());
}

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
    if (offset > text.size())
        return c;
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
        if (c.sessions >= sessions)
            break;
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

std::string Server()
{
    return "pop3s://127.0.0.1:" + std::to_string(g_pop3sPort);
}

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
        if (e.path().extension() == ".txt")
            fs::remove(e.path());
}

size_t Discard(char*, size_t size, size_t n, void*)
{
    return size * n;
}

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
    while (s.size() < 1024 * 1024)
        s += line + "\r\n";
    return s + "--BB--\r\n";
}

// What writing the saved mails costs on this disk, the library's way
// (temporary name, then rename), without any network.
double TimeFileWrites(const std::string& folder, const fs::path& scratch)
{
    std::vector<std::string> contents;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().extension() == ".txt")
            contents.push_back(ReadAll(e.path()));
    fs::create_directories(scratch);
    auto t0 = Clock::now();
    int i = 0;
    for (const auto& c : contents) {
        fs::path tmp = scratch / (".part" + std::to_string(i));
        std::ofstream(tmp, std::ios::binary) << c;
        fs::rename(tmp, scratch / ("m" + std::to_string(i++) + ".txt"));
    }
    double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    for (const auto& e : fs::directory_iterator(scratch))
        fs::remove(e.path());
    return ms;
}

struct Figure {
    double ms = 0;
    double bytes = 0;
};

}  // namespace

int main(int argc, char** argv)
{
    g_fixture = argc > 1 ? argv[1] : FW_DOVECOT_FIXTURE_PATH;
    std::string demo = argc > 2 ? argv[2] : FW_DEMO_MAILS_PATH;
    fs::path work = fs::temp_directory_path() / ("fw-bench-" + std::to_string(::getpid()));
    fs::create_directories(work / "recv" / "INI");
    g_state = (work / "dovecot").string();
    if (Run(g_fixture + " start " + g_state + " >/dev/null") != 0) {
        std::fprintf(stderr, "bench: the dovecot fixture did not start\n");
        return 1;
    }
    for (const auto& line : [&] {
             std::vector<std::string> v;
             std::istringstream in(ReadAll(fs::path(g_state) / "env"));
             for (std::string l; std::getline(in, l);)
                 v.push_back(l);
             return v;
         }()) {
        auto eq = line.find('=');
        std::string k = line.substr(0, eq), v = line.substr(eq + 1);
        if (k == "POP3S_PORT")
            g_pop3sPort = std::stoi(v);
        else if (k == "LOG_FILE")
            g_logFile = v;
        else if (k == "CA_FILE")
            g_caFile = v;
    }
    std::string folder = (work / "recv").string();
    fs::copy_file(g_caFile, work / "recv" / "INI" / "cacert.pem");

    // 20 mixed mails per account: the demo mails cycled, and two of about 1 MB.
    std::vector<fs::path> demos;
    for (const auto& e : fs::directory_iterator(demo))
        if (e.path().extension() == ".eml")
            demos.push_back(e.path());
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
        CheckAll(folder);  // files written included
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
