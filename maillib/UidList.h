#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace maillib {

// The unique ids of a mailbox's mails, each with the number that says where it stands (a
// POP3 message number, an IMAP UID), in the order they were added (a server's: oldest first).
// A mailbox may list hundreds of thousands of mails, so ids are kept in large shared chunks
// rather than one string each.
class UidList {
public:
    void Add(unsigned long number, std::string_view id);
    // After the last Add: a message number listed again is dropped (the first stays), and
    // an id listed again gets a suffix ("\x1f2", "\x1f3", ...): no two mails share an id.
    void Finish();

    size_t size() const { return entries_.size(); }
    unsigned long Number(size_t i) const { return entries_[i].number; }
    std::string_view Id(size_t i) const;
    bool Contains(std::string_view id) const; // after Finish
    // The entries of the `window` highest message numbers, the highest first (after Finish).
    UidList Newest(size_t window) const&;
    // The same from a list no longer needed: a window that takes every entry reorders this
    // list's entries instead of copying a listing of maybe hundreds of thousands of ids.
    UidList Newest(size_t window) &&;

private:
    struct Entry {
        uint32_t number;
        uint32_t chunk;
        uint32_t offset;
        uint32_t length;
    };
    Entry Store(unsigned long number, std::string_view id);
    bool RenameRepeats(bool dropInstead); // one round; true when it renamed any

    std::vector<std::string> chunks_;
    std::vector<Entry> entries_;
    std::vector<std::pair<uint64_t, uint32_t>> byHash_; // (hash of id, entry), sorted
};

} // namespace maillib
