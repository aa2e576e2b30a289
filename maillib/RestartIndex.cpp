#include "maillib/RestartIndex.h"

#include "maillib/Digest.h"
#include "maillib/MailStore.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fcntl.h>
#include <initializer_list>
#include <sys/stat.h>
#include <unistd.h>

namespace maillib {
namespace {

constexpr char kMagic[] = "fw-restart-index 1\n";
constexpr size_t kDigestLength = 64;
constexpr off_t kMaxIndexBytes = 64 << 20;               // far beyond any listing we keep
constexpr unsigned long long kLatestSecond = 1ULL << 32; // a time in nanoseconds fits in 64 bits

// Fields are length-prefixed ("<length>:<bytes>"): ids may hold any byte.
void Put(std::string& out, std::string_view field)
{
    out += std::to_string(field.size());
    out += ':';
    out += field;
}

void PutNumber(std::string& out, unsigned long long n) { Put(out, std::to_string(n)); }

bool Take(std::string_view& in, std::string_view& field)
{
    const size_t colon = in.find(':');
    size_t length = 0;
    if (colon == std::string_view::npos ||
        std::from_chars(in.data(), in.data() + colon, length).ptr != in.data() + colon ||
        length > in.size() - colon - 1)
        return false;
    field = in.substr(colon + 1, length);
    in.remove_prefix(colon + 1 + length);
    return true;
}

bool TakeNumber(std::string_view& in, unsigned long long& n)
{
    std::string_view field;
    return Take(in, field) && !field.empty() &&
           std::from_chars(field.data(), field.data() + field.size(), n).ptr == field.data() + field.size();
}

std::string IndexPath(const std::string& accountFolder) { return JoinPath(accountFolder, kRestartIndexName); }

// Written piece by piece: a listing of a huge mailbox is not copied once more to be written.
bool WriteFile(const std::string& path, std::initializer_list<std::string_view> pieces)
{
    ::unlink(path.c_str());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool written = true;
    for (std::string_view piece : pieces) written = written && WriteWhole(fd, piece);
    return (::close(fd) == 0) && written;
}

enum class Found { None, Unsound, Read };

// The index file's bytes, when it is a regular file of ours that no one else may read.
Found ReadOwnFile(const std::string& path, std::string& text)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? Found::None : Found::Unsound;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0 &&
              st.st_size <= kMaxIndexBytes;
    if (ok) {
        text.resize(static_cast<size_t>(st.st_size));
        ok = ReadWhole(fd, text);
    }
    ::close(fd);
    return ok ? Found::Read : Found::Unsound;
}

std::optional<IndexedListing> Parse(std::string_view text, const std::string& accountKey)
{
    const size_t head = sizeof kMagic - 1;
    if (text.substr(0, head) != kMagic || text.size() < head + kDigestLength + 1 || text[head + kDigestLength] != '\n')
        return std::nullopt;
    std::string_view body = text.substr(head + kDigestLength + 1);
    if (Sha256Hex(body) != text.substr(head, kDigestLength)) return std::nullopt;
    std::string_view field;
    if (!Take(body, field) || field != Sha256Hex(accountKey)) return std::nullopt;
    IndexedListing out;
    unsigned long long window = 0, known = 0, count = 0, listedAt = 0, entries = 0;
    std::string_view mark, note;
    if (!TakeNumber(body, window) || !TakeNumber(body, known) || !TakeNumber(body, count) || !Take(body, mark) ||
        !Take(body, note) || !TakeNumber(body, listedAt) || listedAt > kLatestSecond || !TakeNumber(body, entries) ||
        entries > body.size())
        return std::nullopt;
    out.window = static_cast<size_t>(window);
    out.state = {known != 0, static_cast<size_t>(count), std::string(mark), std::string(note)};
    out.listedAt = std::chrono::system_clock::time_point(std::chrono::seconds(static_cast<long long>(listedAt)));
    for (unsigned long long i = 0; i < entries; ++i) {
        unsigned long long number = 0;
        std::string_view id, size, tag;
        if (!TakeNumber(body, number) || !Take(body, id) || !Take(body, size) || !Take(body, tag)) return std::nullopt;
        out.newest.Add(static_cast<unsigned long>(number), id);
    }
    if (!body.empty()) return std::nullopt;
    out.newest.Finish();
    return out;
}

} // namespace

namespace {

// What the index says of one listed mail: its number and id, and for a mail with a copy the
// copy's size and content tag (empty otherwise).
struct IndexEntry {
    unsigned long number;
    std::string_view id;
    std::string size;
    std::string_view tag;
};

IndexEntry EntryOf(const AccountState& st, size_t i)
{
    IndexEntry e{st.lastListing.Number(i), st.lastListing.Id(i), {}, {}};
    const auto cached = st.mails.find(e.id);
    if (cached == st.mails.end() || cached->second.shadow.empty()) return e;
    e.size = std::to_string(cached->second.content.size());
    const std::string_view shadow = cached->second.shadow;
    const size_t dash = shadow.rfind('-');
    if (dash != std::string_view::npos) e.tag = shadow.substr(dash + 1);
    return e;
}

} // namespace

void SaveRestartIndex(const std::string& accountFolder, const std::string& accountKey, const AccountState& st,
                      std::chrono::system_clock::time_point listedAt)
{
    if (accountFolder.empty()) return;
    // Sized first: growing by doubling would hold two copies of a huge listing for a while.
    const auto fieldBytes = [](size_t n) { return std::to_string(n).size() + 1 + n; };
    size_t bytes = 512 + st.lastState.mark.size() + st.lastState.note.size();
    for (size_t i = 0; i < st.lastListing.size(); ++i) {
        const IndexEntry e = EntryOf(st, i);
        bytes += fieldBytes(std::to_string(e.number).size()) + fieldBytes(e.id.size()) + fieldBytes(e.size.size()) +
                 fieldBytes(e.tag.size());
    }
    std::string body;
    body.reserve(bytes);
    Put(body, Sha256Hex(accountKey));
    PutNumber(body, st.lastWindow);
    PutNumber(body, st.lastState.known ? 1 : 0);
    PutNumber(body, st.lastState.count);
    Put(body, st.lastState.mark);
    Put(body, st.lastState.note);
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(listedAt.time_since_epoch()).count();
    PutNumber(body, static_cast<unsigned long long>(std::max<long long>(0, seconds)));
    PutNumber(body, st.lastListing.size());
    for (size_t i = 0; i < st.lastListing.size(); ++i) {
        const IndexEntry e = EntryOf(st, i);
        PutNumber(body, e.number);
        Put(body, e.id);
        Put(body, e.size);
        Put(body, e.tag);
    }
    const std::string path = IndexPath(accountFolder), part = path + ".part";
    if (!WriteFile(part, {kMagic, Sha256Hex(body), "\n", body}) || ::rename(part.c_str(), path.c_str()) != 0) {
        ::unlink(part.c_str());
        ::unlink(path.c_str());
    }
}

std::optional<IndexedListing> LoadRestartIndex(const std::string& accountFolder, const std::string& accountKey)
{
    if (accountFolder.empty()) return std::nullopt;
    const std::string path = IndexPath(accountFolder);
    std::string text;
    const Found found = ReadOwnFile(path, text);
    if (found == Found::None) return std::nullopt;
    // Anything else by that name but a sound index of ours goes.
    auto listing = found == Found::Read ? Parse(text, accountKey) : std::nullopt;
    if (!listing && ::unlink(path.c_str()) != 0 && errno == EISDIR) ::rmdir(path.c_str());
    return listing;
}

} // namespace maillib
