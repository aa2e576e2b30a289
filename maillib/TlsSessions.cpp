#include "maillib/TlsSessions.h"

#include "maillib/AccountCheck.h"
#include "maillib/MailClock.h"
#include "maillib/NetworkEvents.h"
#include "maillib/TrustStore.h"

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <set>

namespace maillib {
namespace {

constexpr size_t kMaxAccounts = 16; // five in the program; the rest is the connection test's
constexpr long long kNoEnd = std::numeric_limits<long long>::max();

long long WallSeconds() { return static_cast<long long>(std::chrono::system_clock::to_time_t(internal::WallNow())); }

// One account's sessions, with the trust they were verified under. A connection that uses them
// holds the share, and the entry lives until no connection does.
struct AccountTls {
    CURLSH* share = nullptr; // the TLS sessions, and the server's addresses as resolved
    StoreRef store;
    unsigned long generation = 0;
    std::uint64_t network = 0;                 // NetworkGeneration() when made: another network resolves anew
    std::atomic<long long> validUntil{kNoEnd}; // the earliest end of a certificate verified, in s
    unsigned long long lastUse = 0;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;
};

void Lock(CURL*, curl_lock_data data, curl_lock_access, void* user)
{
    static_cast<AccountTls*>(user)->locks[static_cast<size_t>(data)].lock();
}

void Unlock(CURL*, curl_lock_data data, void* user)
{
    static_cast<AccountTls*>(user)->locks[static_cast<size_t>(data)].unlock();
}

long long EndOf(const X509* cert)
{
    std::tm tm{};
    if (ASN1_TIME_to_tm(X509_get0_notAfter(cert), &tm) != 1) return std::numeric_limits<long long>::min();
    return static_cast<long long>(::timegm(&tm));
}

// OpenSSL's own verification, which also notes when the chain it accepted runs out: a session
// it made is not resumed past that.
int VerifyChain(X509_STORE_CTX* store, void* user)
{
    const int verified = X509_verify_cert(store);
    if (verified != 1) return verified;
    auto* kept = static_cast<AccountTls*>(user);
    const STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(store);
    for (int i = 0; i < sk_X509_num(chain); ++i) {
        const long long end = EndOf(sk_X509_value(chain, i));
        long long was = kept->validUntil.load();
        while (end < was && !kept->validUntil.compare_exchange_weak(was, end)) {}
    }
    return verified;
}

CURLcode PrepareContext(CURL*, void* sslContext, void* user)
{
    auto* kept = static_cast<AccountTls*>(user);
    auto* ctx = static_cast<SSL_CTX*>(sslContext);
    if (!kept->store) return CURLE_SSL_CACERT_BADFILE;
    SSL_CTX_set1_cert_store(ctx, kept->store.get());
    // Certificates are judged at the library's time (the real one outside tests).
    X509_VERIFY_PARAM_set_time(SSL_CTX_get0_param(ctx), static_cast<time_t>(WallSeconds()));
    SSL_CTX_set_cert_verify_callback(ctx, &VerifyChain, kept);
    return CURLE_OK;
}

struct Registry {
    std::mutex mutex; // also held while a handle takes a share, so that no sweep frees it meanwhile
    std::map<std::string, std::unique_ptr<AccountTls>> live;
    std::vector<std::unique_ptr<AccountTls>> retired; // dropped, but a connection may still hold them
    unsigned long long uses = 0;

    ~Registry()
    {
        for (auto& [key, kept] : live) retired.push_back(std::move(kept));
        Sweep();
    }

    void Retire(std::unique_ptr<AccountTls>& kept) { retired.push_back(std::move(kept)); }

    // Frees the dropped entries no connection holds any more.
    void Sweep()
    {
        for (auto it = retired.begin(); it != retired.end();) {
            AccountTls& kept = **it;
            if (kept.share && curl_share_cleanup(kept.share) != CURLSHE_OK) {
                ++it;
                continue;
            }
            kept.share = nullptr;
            it = retired.erase(it);
        }
    }

    std::unique_ptr<AccountTls> Make(TrustedCertificates trust)
    {
        auto kept = std::make_unique<AccountTls>();
        kept->store = std::move(trust.store);
        kept->generation = trust.generation;
        kept->network = NetworkGeneration();
        kept->share = curl_share_init();
        if (kept->share && (curl_share_setopt(kept->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) != CURLSHE_OK ||
                            curl_share_setopt(kept->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) != CURLSHE_OK ||
                            curl_share_setopt(kept->share, CURLSHOPT_LOCKFUNC, &Lock) != CURLSHE_OK ||
                            curl_share_setopt(kept->share, CURLSHOPT_UNLOCKFUNC, &Unlock) != CURLSHE_OK ||
                            curl_share_setopt(kept->share, CURLSHOPT_USERDATA, kept.get()) != CURLSHE_OK)) {
            curl_share_cleanup(kept->share);
            kept->share = nullptr;
        }
        return kept;
    }

    void KeepAtMost(size_t count, const AccountTls* inUse)
    {
        while (live.size() > count) {
            auto oldest = live.end();
            for (auto it = live.begin(); it != live.end(); ++it)
                if (it->second.get() != inUse &&
                    (oldest == live.end() || it->second->lastUse < oldest->second->lastUse))
                    oldest = it;
            if (oldest == live.end()) return;
            Retire(oldest->second);
            live.erase(oldest);
        }
    }
};

Registry& Sessions()
{
    static Registry r;
    return r;
}

} // namespace

bool KeepTlsAcrossChecks(CURL* curl, const SessionOptions& options)
{
    if (options.server.security == ServerAddress::Security::Plain) return true; // no TLS to keep
    TrustedCertificates trust = CurrentTrust(options.caFile);
    const long long now = WallSeconds();
    Registry& r = Sessions();
    std::lock_guard lock(r.mutex);
    r.Sweep();
    std::unique_ptr<AccountTls>& kept = r.live[AccountKey(options.server, options.user)];
    // Sessions verified under other trust, or with a certificate that has run out, go; after a
    // network change or a resume, so do the addresses resolved before it.
    if (kept && (kept->generation != trust.generation || kept->validUntil.load() <= now ||
                 kept->network != NetworkGeneration()))
        r.Retire(kept);
    if (!kept) kept = r.Make(std::move(trust));
    kept->lastUse = ++r.uses;
    AccountTls* const mine = kept.get();
    r.KeepAtMost(kMaxAccounts, mine);
    // The share is what keeps the entry alive while the handle uses it: none, nothing kept.
    if (!mine->share) return false;
    if (curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, &PrepareContext) != CURLE_OK) return false;
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, mine);
    // Nothing for curl to load: the store comes whole from PrepareContext.
    curl_easy_setopt(curl, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(curl, CURLOPT_CA_CACHE_TIMEOUT, 0L);
    curl_easy_setopt(curl, CURLOPT_SHARE, mine->share);
    return true;
}

void KeepTlsSessionsOnlyOf(const std::vector<std::string>& accountKeys)
{
    const std::set<std::string> keep(accountKeys.begin(), accountKeys.end());
    Registry& r = Sessions();
    std::lock_guard lock(r.mutex);
    for (auto it = r.live.begin(); it != r.live.end();) {
        if (keep.count(it->first)) {
            ++it;
            continue;
        }
        r.Retire(it->second);
        it = r.live.erase(it);
    }
    r.Sweep();
}

} // namespace maillib
