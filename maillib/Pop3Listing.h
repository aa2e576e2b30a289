// POP3 listings (UIDL, LIST) as they stream in. A mailbox may list hundreds of thousands
// of mails, so ids are kept in large shared chunks rather than one string each.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace maillib {

// "NUMBER REST" with NUMBER a message number (1..999999999) and REST not empty; blanks
// around both are ignored. False for anything else, which a listing skips.
bool ParseListingLine(std::string_view line, unsigned long& number, std::string_view& rest);

// The count that begins a STAT reply ("count size"): 0..999999999; false for anything else.
bool ParseLeadingCount(std::string_view text, unsigned long& count);

// UIDs longer than this are kept by a hash of themselves.
constexpr size_t kMaxUidLength = 512;

// Cuts a byte stream into lines (LF ends a line, a CR before it is dropped).
class LineSplitter {
public:
    explicit LineSplitter(std::function<void(std::string_view)> onLine) : onLine_(std::move(onLine)) {}
    void Feed(std::string_view bytes);
    void Finish(); // hands over a last line without LF

private:
    std::function<void(std::string_view)> onLine_;
    std::string pending_;
};

// The unique ids of a UIDL listing, in the order they were added (a server's: oldest first).
class UidList {
public:
    void AddLine(std::string_view line);
    void Add(unsigned long number, std::string_view id);
    // After the last Add: a message number listed again is dropped (the first stays), and
    // an id listed again gets a suffix ("\x1f2", "\x1f3", ...): no two mails share an id.
    void Finish();

    size_t size() const { return entries_.size(); }
    unsigned long Number(size_t i) const { return entries_[i].number; }
    std::string_view Id(size_t i) const;
    bool Contains(std::string_view id) const; // after Finish
    // The entries of the `window` highest message numbers, the highest first (after Finish).
    UidList Newest(size_t window) const;

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

// The sizes of a LIST listing.
class SizeList {
public:
    static constexpr unsigned long kUnknown = ~0UL;
    void AddLine(std::string_view line);
    void Finish();
    bool Listed(unsigned long number) const;
    unsigned long SizeOf(unsigned long number) const; // kUnknown when not given

private:
    std::vector<std::pair<unsigned long, unsigned long>> sizes_;
};

} // namespace maillib
