// POP3 listings (UIDL, LIST) as they stream in.
#pragma once

#include "maillib/UidList.h"

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

// Adds a UIDL listing line ("n id") to `list`; an id longer than kMaxUidLength goes in as
// a hash of itself. Other lines are skipped.
void AddUidlLine(UidList& list, std::string_view line);

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
