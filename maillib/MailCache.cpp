#include "maillib/MailCache.h"

#include "maillib/Digest.h"
#include "maillib/MailLibInternal.h"
#include "maillib/MailStore.h"
#include "maillib/RestartIndex.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace maillib {
namespace {

constexpr size_t kHashLength = 32;
constexpr char kAccountPrefix[] = "acct-";

bool IsHex(std::string_view s) { return s.find_first_not_of("0123456789abcdef") == std::string_view::npos; }

// "<hash of account and id>-<hash of account, id and content>"
bool IsCopyName(std::string_view name)
{
    return name.size() == 2 * kHashLength + 1 && name[kHashLength] == '-' && IsHex(name.substr(0, kHashLength)) &&
           IsHex(name.substr(kHashLength + 1));
}

std::string ContentTag(const std::string& accountKey, std::string_view id, const std::string& content)
{
    std::string keyed = accountKey;
    keyed.push_back('\0');
    keyed.append(id);
    keyed.push_back('\0');
    keyed += content;
    return Sha256Hex(keyed).substr(0, kHashLength);
}

std::string AccountFolderName(const std::string& accountKey)
{
    return kAccountPrefix + Sha256Hex(accountKey).substr(0, kHashLength);
}

// A folder of ours, opened without following a link; -1 otherwise.
int OpenOwnFolder(int at, const char* path)
{
    const int fd = ::openat(at, path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::vector<std::string> NamesIn(int dirFd)
{
    std::vector<std::string> names;
    const int fd = ::dup(dirFd);
    if (fd < 0) return names;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    ::closedir(dir);
    return names;
}

// A regular file of ours no larger than `limit`, read whole; false for anything else.
bool ReadCopy(int dirFd, const std::string& name, size_t limit, std::string& content)
{
    const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
              static_cast<unsigned long long>(st.st_size) <= limit;
    if (ok) {
        content.resize(static_cast<size_t>(st.st_size));
        ok = ReadWhole(fd, content);
        // A file that grew since fstat is not the copy we wrote.
        char extra = 0;
        ok = ok && ::read(fd, &extra, 1) == 0;
    }
    ::close(fd);
    return ok;
}

void RemoveFolderContents(int dirFd)
{
    for (const std::string& name : NamesIn(dirFd))
        if (::unlinkat(dirFd, name.c_str(), 0) != 0) ::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR);
}

} // namespace

std::string AccountCacheFolder(const std::string& cacheRoot, const std::string& accountKey)
{
    if (cacheRoot.empty()) return {};
    const std::string folder = JoinPath(cacheRoot, AccountFolderName(accountKey));
    ::mkdir(folder.c_str(), 0700);
    const int fd = OpenOwnFolder(AT_FDCWD, folder.c_str());
    if (fd < 0) return {};
    ::fchmod(fd, 0700);
    ::close(fd);
    return folder;
}

std::string SaveCopy(const std::string& accountFolder, const std::string& accountKey, std::string_view id,
                     const std::string& content)
{
    if (accountFolder.empty()) return {};
    const std::string path = JoinPath(accountFolder, internal::MailIdHash(accountKey, std::string(id)) + "-" +
                                                         ContentTag(accountKey, id, content));
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(path.c_str(), flags, 0600);
    if (fd < 0 && errno == EEXIST && ::unlink(path.c_str()) == 0) fd = ::open(path.c_str(), flags, 0600);
    if (fd < 0) return {};
    const bool written = WriteWhole(fd, content);
    const bool ok = (::close(fd) == 0) && written;
    if (ok) return path;
    ::unlink(path.c_str());
    return {};
}

void LoadCopies(const std::string& accountFolder, const std::string& accountKey, const UidList& ids, AccountState& st,
                size_t budget)
{
    if (accountFolder.empty()) return;
    const int dirFd = OpenOwnFolder(AT_FDCWD, accountFolder.c_str());
    if (dirFd < 0) return;
    // A copy per listed id at most; everything else in the folder goes.
    std::unordered_map<std::string, std::string> byId;
    std::vector<std::string> unwanted;
    for (std::string& name : NamesIn(dirFd)) {
        if (name == kRestartIndexName) continue;
        if (!IsCopyName(name)) {
            unwanted.push_back(std::move(name));
            continue;
        }
        std::string idHash = name.substr(0, kHashLength);
        if (auto [it, fresh] = byId.try_emplace(std::move(idHash), name); !fresh) unwanted.push_back(std::move(name));
    }
    // A copy larger than one mail can be was not written by us.
    const size_t limit = internal::GetLimits().sizeCap + 64 * 1024;
    for (size_t i = 0; i < ids.size() && !byId.empty(); ++i) {
        const std::string_view id = ids.Id(i);
        std::string idHash = internal::MailIdHash(accountKey, std::string(id));
        const auto found = byId.find(idHash);
        if (found == byId.end()) continue;
        std::string name = std::move(found->second);
        byId.erase(found);
        const std::string path = JoinPath(accountFolder, name);
        if (const auto held = st.mails.find(id); held != st.mails.end()) {
            if (held->second.shadow != path) unwanted.push_back(std::move(name));
            continue;
        }
        std::string content;
        if (!ReadCopy(dirFd, name, limit, content) ||
            name.compare(kHashLength + 1, std::string::npos, ContentTag(accountKey, id, content)) != 0 ||
            st.cachedBytes + content.size() > budget) {
            unwanted.push_back(std::move(name));
            continue;
        }
        st.cachedBytes += content.size();
        st.mails.emplace(std::string(id), Cached{std::move(content), path, "fw-" + idHash + ".txt"});
    }
    for (auto& [idHash, name] : byId) unwanted.push_back(std::move(name));
    for (const std::string& name : unwanted)
        if (::unlinkat(dirFd, name.c_str(), 0) != 0 && errno == EISDIR) ::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR);
    ::close(dirFd);
}

void RemoveOtherAccounts(const std::string& cacheRoot, const std::vector<std::string>& keepKeys)
{
    if (cacheRoot.empty()) return;
    const int rootFd = OpenOwnFolder(AT_FDCWD, cacheRoot.c_str());
    if (rootFd < 0) return;
    std::set<std::string> keep;
    for (const std::string& key : keepKeys) keep.insert(AccountFolderName(key));
    for (const std::string& name : NamesIn(rootFd)) {
        if (name.rfind(kAccountPrefix, 0) != 0 || keep.count(name)) continue;
        if (const int fd = OpenOwnFolder(rootFd, name.c_str()); fd >= 0) {
            RemoveFolderContents(fd);
            ::close(fd);
            ::unlinkat(rootFd, name.c_str(), AT_REMOVEDIR);
        }
    }
    ::close(rootFd);
}

} // namespace maillib
