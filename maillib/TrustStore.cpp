#include "maillib/TrustStore.h"

#include "maillib/Pop3Session.h"

#include <curl/curl.h>
#include <openssl/err.h>

#include <array>
#include <map>
#include <mutex>
#include <sys/stat.h>

namespace maillib {
namespace {

// What tells that a file changed: a rewrite moves its times or size, a replacement its inode.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long modifiedNs = 0;
    long long changedNs = 0;
    bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const std::string& path)
{
    FileStamp stamp;
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return stamp;
    auto ns = [](const timespec& t) { return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec; };
    return {true, st.st_dev, st.st_ino, st.st_size, ns(st.st_mtim), ns(st.st_ctim)};
}

// Where this libcurl finds the system's CAs (Debian's: the bundle and the hashed folder).
struct SystemPlaces {
    std::string bundle;
    std::string folder;
};

const SystemPlaces& SystemCaPlaces()
{
    static const SystemPlaces places = [] {
        SystemPlaces p;
        InitCurlOnce();
        if (CURL* h = curl_easy_init()) {
            char* text = nullptr;
            if (curl_easy_getinfo(h, CURLINFO_CAINFO, &text) == CURLE_OK && text) p.bundle = text;
            text = nullptr;
            if (curl_easy_getinfo(h, CURLINFO_CAPATH, &text) == CURLE_OK && text) p.folder = text;
            curl_easy_cleanup(h);
        }
        return p;
    }();
    return places;
}

// The files a connection trusted before the store was kept: cacert.pem in place of the
// system's bundle, the system's hashed folder beside either.
struct Sources {
    std::string file;
    std::string folder;
};

Sources SourcesFor(const std::string& caFile)
{
    const SystemPlaces& system = SystemCaPlaces();
    if (caFile.empty()) return {system.bundle, system.folder};
    return {caFile, system.folder.empty() ? "/etc/ssl/certs" : system.folder};
}

StoreRef Build(const Sources& from)
{
    StoreRef store(X509_STORE_new());
    if (!store) return {};
    // A file that will not load trusts nothing, as libcurl fails such a connection too.
    if ((!from.file.empty() && X509_STORE_load_file(store.get(), from.file.c_str()) != 1) ||
        (!from.folder.empty() && X509_STORE_load_path(store.get(), from.folder.c_str()) != 1)) {
        ERR_clear_error();
        return {};
    }
    // The flags libcurl gives every store it verifies with. Set before the store is shared, so
    // that curl's setting them again on each connection changes nothing.
    X509_STORE_set_flags(store.get(), X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN);
    return store;
}

struct Kept {
    std::array<FileStamp, 2> stamps;
    StoreRef store;
    unsigned long generation = 0;
};

struct Stores {
    std::mutex mutex;
    std::map<std::string, Kept> byCaFile;
    unsigned long generations = 0;
};

Stores& Cache()
{
    static Stores s;
    return s;
}

} // namespace

TrustedCertificates CurrentTrust(const std::string& caFile)
{
    const Sources from = SourcesFor(caFile);
    // Stamped before reading: a change while the store is built is seen at the next connection.
    const std::array<FileStamp, 2> now{StampOf(from.file), StampOf(from.folder)};
    Stores& cache = Cache();
    std::lock_guard lock(cache.mutex);
    auto found = cache.byCaFile.find(caFile);
    if (found == cache.byCaFile.end() || found->second.stamps != now) {
        // One receive folder in the program; a few in tests and fwmail.
        if (found == cache.byCaFile.end() && cache.byCaFile.size() >= 4) cache.byCaFile.clear();
        Kept& kept = cache.byCaFile[caFile];
        kept.stamps = now;
        kept.store = Build(from);
        kept.generation = ++cache.generations;
        found = cache.byCaFile.find(caFile);
    }
    const Kept& kept = found->second;
    if (kept.store) X509_STORE_up_ref(kept.store.get());
    return {StoreRef(kept.store.get()), kept.generation};
}

} // namespace maillib
