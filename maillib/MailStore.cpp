#include "maillib/MailStore.h"

#include "maillib/Cancellation.h"

#include <glib.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace maillib {
namespace {

// Writes to a temporary name in the folder, then renames: a reader never sees half a mail.
bool SaveFile(const std::string& folder, const std::string& name, const std::string& data, std::string& error)
{
    std::string finalPath = JoinPath(folder, name);
    std::string tmpl = JoinPath(folder, ".fw-part-XXXXXX");
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    int fd = ::mkstemp(buf.data());
    if (fd < 0) {
        error = std::string("cannot write in the receive folder: ") + std::strerror(errno);
        return false;
    }
    ::fchmod(fd, 0600);
    bool ok = WriteWhole(fd, data);
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(buf.data(), finalPath.c_str()) == 0) return true;
    const int code = errno;
    error = std::string("cannot save a mail file: ") + std::strerror(code);
    ::unlink(buf.data());
    errno = code; // for the caller to tell a full disk
    return false;
}

bool IsMailFileName(const char* name)
{
    const std::string n = name;
    return n.size() == 3 + 32 + 4 && n.rfind("fw-", 0) == 0 && n.compare(n.size() - 4, 4, ".txt") == 0 &&
           n.find_first_not_of("0123456789abcdef", 3) == n.size() - 4;
}

struct CacheFolders {
    std::mutex mutex;                     // held while a folder is prepared: no check saves into it meanwhile
    std::map<std::string, bool> prepared; // cache folders seen by this process: usable?
};

CacheFolders& Caches()
{
    static CacheFolders c;
    return c;
}

} // namespace

std::string CacheRoot(const std::string& folder)
{
    std::string cache = JoinPath(folder, ".fw-cache");
    std::lock_guard lock(Caches().mutex);
    auto [it, first] = Caches().prepared.emplace(cache, false);
    if (first) {
        // Half-written mails of a process that died while saving them. Every save of this
        // process into the folder comes after this, so none of ours is among them.
        if (GDir* dir = g_dir_open(folder.c_str(), 0, nullptr)) {
            while (const gchar* name = g_dir_read_name(dir))
                if (std::string(name).rfind(".fw-part-", 0) == 0) ::unlink(JoinPath(folder, name).c_str());
            g_dir_close(dir);
        }
        ::mkdir(cache.c_str(), 0700);
        struct stat st {};
        if (::lstat(cache.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()) {
            ::chmod(cache.c_str(), 0700);
            if (GDir* dir = g_dir_open(cache.c_str(), 0, nullptr)) {
                while (const gchar* name = g_dir_read_name(dir))
                    if (IsMailFileName(name)) ::unlink(JoinPath(cache, name).c_str()); // an older version's copies
                g_dir_close(dir);
            }
            it->second = true;
        }
    }
    return it->second ? cache : std::string();
}

namespace {

// A hard link at `to`, replacing what is there. The caller has usually removed the file
// since the last check, so the link is tried first and the name cleared only when taken.
bool LinkReplacing(const std::string& from, const std::string& to)
{
    if (::link(from.c_str(), to.c_str()) == 0) return true;
    if (errno != EEXIST) return false;
    ::unlink(to.c_str());
    return ::link(from.c_str(), to.c_str()) == 0;
}

// Puts the mail file in place: a link to the cached copy when there is one, else a new file.
// Unchanged mailboxes thus cost no writes of mail data.
bool PlaceFile(const std::string& folder, const std::string& name, Cached* cached, const std::string& content,
               std::string& error)
{
    if (cached && !cached->shadow.empty()) {
        if (LinkReplacing(cached->shadow, JoinPath(folder, name))) return true;
        // Kept when only the link failed (another file system, say): a restart still reads it.
        if (errno == ENOENT) cached->shadow.clear();
    }
    return SaveFile(folder, name, content, error);
}

} // namespace

bool WriteWhole(int fd, std::string_view data)
{
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool ReadWhole(int fd, std::string& into)
{
    size_t done = 0;
    while (done < into.size()) {
        const ssize_t n = ::read(fd, into.data() + done, into.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string CaFileFor(const std::string& folder)
{
    std::string path = JoinPath(folder, "INI/cacert.pem");
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return path;
    return {};
}

MailList WriteFiles(const std::string& folder, const std::string& accountKey, const UidList& order, AccountState& st,
                    const UncachedMails& uncached, std::string& error, int* errorNumber)
{
    if (errorNumber) *errorNumber = 0;
    CacheRoot(folder); // clears what a dead process left half-written before the first save
    std::vector<std::string> refs;
    refs.reserve(order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        const std::string_view id = order.Id(i);
        if (internal::Cancelled()) {
            RemoveFiles(refs);
            error = "cancelled";
            return std::nullopt;
        }
        Cached* cached = nullptr;
        const std::string* content = nullptr;
        if (auto it = st.mails.find(id); it != st.mails.end()) {
            cached = &it->second;
            content = &cached->content;
        } else if (auto u = uncached.find(id); u != uncached.end()) {
            content = &u->second;
        }
        if (!content) continue;
        std::string name;
        if (cached && !cached->fileName.empty()) {
            name = cached->fileName;
        } else {
            name = internal::MailFileName(accountKey, std::string(id));
            if (cached) cached->fileName = name;
        }
        if (!PlaceFile(folder, name, cached, *content, error)) {
            if (errorNumber) *errorNumber = errno;
            RemoveFiles(refs);
            return std::nullopt;
        }
        refs.push_back(JoinPath(folder, name));
    }
    return refs;
}

void RemoveFiles(const std::vector<std::string>& paths)
{
    for (const auto& p : paths)
        if (!p.empty()) ::unlink(p.c_str());
}

void ForgetCacheFolders()
{
    std::lock_guard lock(Caches().mutex);
    Caches().prepared.clear();
}

} // namespace maillib
