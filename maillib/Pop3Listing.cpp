#include "maillib/Pop3Listing.h"

#include "maillib/Digest.h"

#include <algorithm>

namespace maillib {
namespace {

std::string_view TrimBlanks(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

} // namespace

bool ParseListingLine(std::string_view line, unsigned long& number, std::string_view& rest)
{
    line = TrimBlanks(line);
    const size_t sp = line.find(' ');
    if (sp == std::string_view::npos) return false;
    std::string_view digits = line.substr(0, sp);
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    unsigned long n = 0;
    for (char c : digits) n = n * 10 + static_cast<unsigned long>(c - '0');
    if (n == 0) return false;
    rest = TrimBlanks(line.substr(sp + 1));
    if (rest.empty()) return false;
    number = n;
    return true;
}

bool ParseLeadingCount(std::string_view text, unsigned long& count)
{
    const size_t end = text.find_first_not_of("0123456789");
    const std::string_view digits = text.substr(0, end);
    if (digits.empty() || digits.size() > 9 || (end != std::string_view::npos && text[end] != ' ')) return false;
    count = 0;
    for (char c : digits) count = count * 10 + static_cast<unsigned long>(c - '0');
    return true;
}

void LineSplitter::Feed(std::string_view bytes)
{
    while (!bytes.empty()) {
        const size_t eol = bytes.find('\n');
        if (eol == std::string_view::npos) {
            pending_.append(bytes);
            return;
        }
        std::string_view piece = bytes.substr(0, eol);
        bytes.remove_prefix(eol + 1);
        if (pending_.empty()) {
            if (!piece.empty() && piece.back() == '\r') piece.remove_suffix(1);
            onLine_(piece);
        } else {
            pending_.append(piece);
            if (pending_.back() == '\r') pending_.pop_back();
            onLine_(pending_);
            pending_.clear();
        }
    }
}

void LineSplitter::Finish()
{
    if (!pending_.empty()) onLine_(pending_);
    pending_.clear();
}

void AddUidlLine(UidList& list, std::string_view line)
{
    unsigned long n = 0;
    std::string_view rest;
    if (!ParseListingLine(line, n, rest)) return;
    if (rest.size() > kMaxUidLength) list.Add(n, "L:" + Sha256Hex(rest));
    else list.Add(n, rest);
}

void SizeList::AddLine(std::string_view line)
{
    unsigned long n = 0;
    std::string_view rest;
    if (!ParseListingLine(line, n, rest)) return;
    std::string_view digits = rest.substr(0, rest.find(' '));
    unsigned long bytes = kUnknown;
    if (!digits.empty() && digits.size() <= 12 && digits.find_first_not_of("0123456789") == std::string_view::npos)
        bytes = std::stoul(std::string(digits));
    sizes_.emplace_back(n, bytes);
}

void SizeList::Finish()
{
    // The first line for a number counts.
    std::stable_sort(sizes_.begin(), sizes_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    sizes_.erase(
        std::unique(sizes_.begin(), sizes_.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
        sizes_.end());
}

bool SizeList::Listed(unsigned long number) const
{
    auto it = std::lower_bound(sizes_.begin(), sizes_.end(), std::make_pair(number, 0UL));
    return it != sizes_.end() && it->first == number;
}

unsigned long SizeList::SizeOf(unsigned long number) const
{
    auto it = std::lower_bound(sizes_.begin(), sizes_.end(), std::make_pair(number, 0UL));
    return it != sizes_.end() && it->first == number ? it->second : kUnknown;
}

} // namespace maillib
